#pragma once

#include <memory>
#include <string>

#include <corvane/core/CorvaneObject.h>
#include <corvane/graph/NodeFactory.h>

namespace corvane {

/// A unit of functionality loaded into the host: a name, a description and a
/// factory for its node types.
class CORVANE_API Extension : public CorvaneObject {
public:
    Extension();
    ~Extension() override;

    /// Default: remembers that the extension is initialised; always succeeds.
    virtual Result<void> initialize(const CVAnyMap& config);
    virtual Result<void> deinitialize();

    virtual std::string getName() = 0;
    virtual std::string getDescription() = 0;
    virtual std::shared_ptr<NodeFactory> getNodeFactory() = 0;

    bool isInitialized() const noexcept;

private:
    bool initialized = false;
};

} // namespace corvane
