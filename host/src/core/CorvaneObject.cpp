#include <corvane/core/CorvaneObject.h>

#include <algorithm>
#include <map>
#include <mutex>

namespace corvane {

namespace {

struct ActionEntry {
    std::string name;
    CVAnyMap description;
    // Shared so a call can run the handler without holding the lock or
    // copying its captures.
    std::shared_ptr<const CorvaneObject::ActionHandler> handler;
};

struct EventEntry {
    std::string name;
    CVAnyMap description;
};

template <typename Entries>
auto findByName(Entries& entries, const std::string& name)
{
    return std::find_if(entries.begin(), entries.end(), [&name](const auto& e) { return e.name == name; });
}

} // namespace

// Any thread may read or call; handlers run with the mutex released so they
// may use the object themselves.
struct CorvaneObject::Registry {
    mutable std::mutex mutex;
    std::map<std::string, CVAny> values;
    std::vector<ActionEntry> actions; // in registration order
    std::vector<EventEntry> events;   // in registration order
};

CorvaneObject::CorvaneObject() : registry(std::make_unique<Registry>()) {}

CorvaneObject::~CorvaneObject() = default;

Result<void> CorvaneObject::setValue(const std::string& key, const CVAny& value)
{
    std::lock_guard lock(registry->mutex);
    registry->values.insert_or_assign(key, value);
    return {};
}

Result<CVAny> CorvaneObject::getValue(const std::string& key)
{
    std::lock_guard lock(registry->mutex);
    const auto found = registry->values.find(key);
    if (found == registry->values.end())
        return Error("Unknown value: " + key);
    return found->second;
}

Result<CVAny> CorvaneObject::callAction(const std::string& name, const CVAnyMap& params)
{
    std::shared_ptr<const ActionHandler> handler;
    {
        std::lock_guard lock(registry->mutex);
        const auto found = findByName(registry->actions, name);
        if (found == registry->actions.end())
            return Error("Unknown action: " + name);
        handler = found->handler;
    }
    if (!handler)
        return Error("Action '" + name + "' has no handler");
    return (*handler)(params);
}

void CorvaneObject::registerAction(const std::string& name, const CVAnyMap& description, ActionHandler handler)
{
    std::shared_ptr<const ActionHandler> shared;
    if (handler)
        shared = std::make_shared<const ActionHandler>(std::move(handler));

    std::lock_guard lock(registry->mutex);
    auto& actions = registry->actions;
    const auto found = findByName(actions, name);
    if (found != actions.end()) {
        found->description = description;
        std::swap(found->handler, shared); // the old handler dies after the lock
    } else {
        actions.push_back({name, description, std::move(shared)});
    }
}

void CorvaneObject::registerEvent(const std::string& name, const CVAnyMap& description)
{
    std::lock_guard lock(registry->mutex);
    auto& events = registry->events;
    const auto found = findByName(events, name);
    if (found != events.end())
        found->description = description;
    else
        events.push_back({name, description});
}

bool CorvaneObject::hasAction(const std::string& name) const
{
    std::lock_guard lock(registry->mutex);
    return findByName(registry->actions, name) != registry->actions.end();
}

bool CorvaneObject::hasEvent(const std::string& name) const
{
    std::lock_guard lock(registry->mutex);
    return findByName(registry->events, name) != registry->events.end();
}

std::vector<std::string> CorvaneObject::getActionNames() const
{
    std::lock_guard lock(registry->mutex);
    std::vector<std::string> names;
    names.reserve(registry->actions.size());
    for (const auto& action : registry->actions)
        names.push_back(action.name);
    return names;
}

std::vector<std::string> CorvaneObject::getEventNames() const
{
    std::lock_guard lock(registry->mutex);
    std::vector<std::string> names;
    names.reserve(registry->events.size());
    for (const auto& event : registry->events)
        names.push_back(event.name);
    return names;
}

CVAnyMap CorvaneObject::getActionDescription(const std::string& name) const
{
    std::lock_guard lock(registry->mutex);
    const auto found = findByName(registry->actions, name);
    return found != registry->actions.end() ? found->description : CVAnyMap{};
}

CVAnyMap CorvaneObject::getEventDescription(const std::string& name) const
{
    std::lock_guard lock(registry->mutex);
    const auto found = findByName(registry->events, name);
    return found != registry->events.end() ? found->description : CVAnyMap{};
}

} // namespace corvane
