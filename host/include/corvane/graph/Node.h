#pragma once

#include <string>

#include <corvane/core/CorvaneObject.h>

namespace corvane {

/// A node of the audio graph. The host owns nodes and destroys them through
/// this base.
class CORVANE_API Node : public CorvaneObject {
public:
    Node();
    ~Node() override;

    /// Serves "displayName" besides the stored values.
    Result<CVAny> getValue(const std::string& key) override;
    /// Actions common to all nodes; falls back to CorvaneObject::callAction.
    Result<CVAny> callAction(const std::string& name, const CVAnyMap& params) override;
};

} // namespace corvane
