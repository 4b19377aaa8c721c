#pragma once

#include <memory>
#include <string>
#include <vector>

#include <corvane/core/CVAny.h>
#include <corvane/core/CorvaneExport.h>
#include <corvane/core/Result.h>
#include <corvane/extensions/Extension.h>
#include <corvane/graph/Node.h>
#include <corvane/graph/NodeTypeInfo.h>

namespace corvane {

/// The process-wide registry of extensions, and the way applications find and
/// create node types.
///
/// Threading: every method may be called from any thread, including from a
/// library's static initialisation while it is being loaded. The registry is
/// locked only while it is read or changed; extensions and factories are
/// called outside the lock.
class CORVANE_API ExtensionManager {
public:
    static ExtensionManager& getInstance();

    /// Raises std::invalid_argument for a null extension.
    void registerExtension(std::shared_ptr<Extension> extension);
    /// Registered extensions, in registration order.
    std::vector<std::shared_ptr<Extension>> getExtensions() const;
    /// The first extension with this name, or null.
    std::shared_ptr<Extension> findExtension(const std::string& name) const;

    /// The node types of all extensions (each asked for its factory).
    std::vector<NodeTypeInfo> getNodeTypes() const;
    /// Creates a node through the first extension whose factory knows the type
    /// (its `type` or "type/subtype"). Raises std::invalid_argument naming the
    /// type when no extension knows it; whatever the node's constructor raises
    /// reaches the caller unchanged.
    std::unique_ptr<Node> createNode(const std::string& typeName, const CVAnyMap& config) const;

    /// Loads an extension library the way the host does: dlopen by path, which
    /// runs the library's static registration. The library stays loaded for
    /// the life of the process. Returns an Error with the loader's message when
    /// the library cannot be loaded, or when loading it registered nothing.
    Result<void> loadLibrary(const std::string& path);

    /// Forgets every extension (for tests and orderly shutdown).
    void clear();

private:
    ExtensionManager();
    ~ExtensionManager();
    struct State;
    std::unique_ptr<State> state;
};

} // namespace corvane
