#include <corvane/extensions/ExtensionManager.h>

#include <mutex>
#include <stdexcept>

#include <dlfcn.h>

namespace corvane {

// Any thread may use the manager, including a library's static initialisation
// running inside loadLibrary's dlopen: `mutex` is therefore never held while
// extensions, factories or the loader run.
struct ExtensionManager::State {
    mutable std::mutex mutex;
    std::vector<std::shared_ptr<Extension>> extensions; // in registration order

    // Serialises loadLibrary, so two threads loading the same library cannot
    // both see the second dlopen register nothing. Recursive in case a
    // library's initialisation loads another one.
    std::recursive_mutex loading;

    std::vector<std::shared_ptr<Extension>> snapshot() const
    {
        std::lock_guard lock(mutex);
        return extensions;
    }

    std::size_t count() const
    {
        std::lock_guard lock(mutex);
        return extensions.size();
    }
};

ExtensionManager& ExtensionManager::getInstance()
{
    // Never destroyed: extensions live in libraries whose own statics are torn
    // down at exit before a static manager would be, so destroying the
    // extensions then could run into freed state. clear() is the orderly way.
    static ExtensionManager* const instance = new ExtensionManager();
    return *instance;
}

ExtensionManager::ExtensionManager() : state(std::make_unique<State>()) {}

ExtensionManager::~ExtensionManager() = default;

void ExtensionManager::registerExtension(std::shared_ptr<Extension> extension)
{
    if (!extension)
        throw std::invalid_argument("ExtensionManager: cannot register a null extension");
    std::lock_guard lock(state->mutex);
    state->extensions.push_back(std::move(extension));
}

std::vector<std::shared_ptr<Extension>> ExtensionManager::getExtensions() const
{
    return state->snapshot();
}

std::shared_ptr<Extension> ExtensionManager::findExtension(const std::string& name) const
{
    for (auto& extension : state->snapshot()) {
        if (extension->getName() == name)
            return extension;
    }
    return nullptr;
}

std::vector<NodeTypeInfo> ExtensionManager::getNodeTypes() const
{
    std::vector<NodeTypeInfo> types;
    for (const auto& extension : state->snapshot()) {
        const auto factory = extension->getNodeFactory();
        if (!factory)
            continue;
        auto more = factory->getNodeTypes();
        types.insert(types.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
    }
    return types;
}

std::unique_ptr<Node> ExtensionManager::createNode(const std::string& typeName, const CVAnyMap& config) const
{
    for (const auto& extension : state->snapshot()) {
        const auto factory = extension->getNodeFactory();
        if (!factory)
            continue;
        if (Node* node = factory->createNode(typeName, config))
            return std::unique_ptr<Node>(node);
    }
    throw std::invalid_argument("Unknown node type: " + typeName);
}

Result<void> ExtensionManager::loadLibrary(const std::string& path)
{
    std::lock_guard loadingLock(state->loading);

    // A library already in the process ran its registration when it was first
    // loaded; opening it again would register nothing new, and that is fine.
    if (void* loaded = ::dlopen(path.c_str(), RTLD_NOLOAD | RTLD_NOW)) {
        ::dlclose(loaded); // drops only the reference RTLD_NOLOAD just took
        return {};
    }

    const std::size_t before = state->count();
    ::dlerror(); // clear any stale message
    if (::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL) == nullptr) {
        const char* why = ::dlerror();
        return Error("Cannot load extension library '" + path + "': " + (why ? why : "unknown error"));
    }
    // The handle is deliberately never closed: the library's code backs the
    // extensions and nodes it registered for the rest of the process.
    if (state->count() <= before)
        return Error("Extension library '" + path + "' registered no extension");
    return {};
}

void ExtensionManager::clear()
{
    std::vector<std::shared_ptr<Extension>> forgotten;
    {
        std::lock_guard lock(state->mutex);
        forgotten.swap(state->extensions);
    }
    // Extensions are destroyed here, outside the lock.
}

} // namespace corvane
