#include <corvane/graph/NodeFactory.h>

#include <algorithm>
#include <mutex>
#include <utility>

namespace corvane {

namespace {
struct Registration {
    NodeTypeInfo info;
    std::shared_ptr<const NodeFactory::NodeCreator> creator;
};
} // namespace

// Any thread may register, list or create; creators run unlocked because a
// node's constructor may take long or use the factory itself.
struct NodeFactory::Registry {
    std::mutex mutex;
    std::vector<Registration> registrations; // in registration order
};

NodeFactory::NodeFactory() : registry(std::make_unique<Registry>()) {}

NodeFactory::~NodeFactory() = default;

std::string NodeFactory::getName()
{
    return {};
}

std::vector<NodeTypeInfo> NodeFactory::getNodeTypes()
{
    std::lock_guard lock(registry->mutex);
    std::vector<NodeTypeInfo> types;
    types.reserve(registry->registrations.size());
    for (const auto& registration : registry->registrations)
        types.push_back(registration.info);
    return types;
}

Node* NodeFactory::createNode(const std::string& typeName, const CVAnyMap& config)
{
    std::shared_ptr<const NodeCreator> creator;
    {
        std::lock_guard lock(registry->mutex);
        for (const auto& registration : registry->registrations) {
            if (registration.info.type == typeName || registration.info.getQualifiedName() == typeName) {
                creator = registration.creator;
                break;
            }
        }
    }
    if (!creator)
        return nullptr;
    return (*creator)(config);
}

void NodeFactory::registerNode(const NodeTypeInfo& info, NodeCreator creator)
{
    auto shared = std::make_shared<const NodeCreator>(std::move(creator));
    const std::string qualifiedName = info.getQualifiedName();

    std::lock_guard lock(registry->mutex);
    auto& registrations = registry->registrations;
    const auto found = std::find_if(registrations.begin(), registrations.end(), [&](const Registration& r) {
        return r.info.getQualifiedName() == qualifiedName;
    });
    if (found != registrations.end()) {
        found->info = info;
        std::swap(found->creator, shared); // the old creator dies after the lock
    } else {
        registrations.push_back({info, std::move(shared)});
    }
}

} // namespace corvane
