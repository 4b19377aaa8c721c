#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <corvane/core/CVAny.h>
#include <corvane/core/CorvaneExport.h>
#include <corvane/core/EventEmitter.h>
#include <corvane/core/Result.h>

namespace corvane {

/// Base of every host object: named values, actions and declared events.
///
/// Threading: registration happens while the object is built; the other
/// methods may be called from any thread (the registries are locked, handlers
/// run outside the lock).
class CORVANE_API CorvaneObject : public EventEmitter {
public:
    using ActionHandler = std::function<Result<CVAny>(const CVAnyMap& params)>;

    CorvaneObject();
    ~CorvaneObject() override;

    /// Stores a named value (default behaviour: a plain property store).
    virtual Result<void> setValue(const std::string& key, const CVAny& value);
    /// The stored value, or an Error naming the unknown key.
    virtual Result<CVAny> getValue(const std::string& key);
    /// Runs the handler registered for the action. An unknown action, or one
    /// registered without a handler (objects that override callAction), gives
    /// an Error naming the action.
    virtual Result<CVAny> callAction(const std::string& name, const CVAnyMap& params);

    /// description: the action's description map (as in NodeTypeInfo).
    /// Registering a name again replaces the earlier entry.
    void registerAction(const std::string& name, const CVAnyMap& description, ActionHandler handler);
    void registerEvent(const std::string& name, const CVAnyMap& description);

    bool hasAction(const std::string& name) const;
    bool hasEvent(const std::string& name) const;
    /// Names in registration order.
    std::vector<std::string> getActionNames() const;
    std::vector<std::string> getEventNames() const;
    /// The registered description; an empty map for an unknown name.
    CVAnyMap getActionDescription(const std::string& name) const;
    CVAnyMap getEventDescription(const std::string& name) const;

private:
    struct Registry;
    std::unique_ptr<Registry> registry;
};

} // namespace corvane
