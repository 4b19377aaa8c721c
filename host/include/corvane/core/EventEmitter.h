#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <corvane/core/CVAny.h>
#include <corvane/core/CorvaneExport.h>

namespace corvane {

/// Named events with any number of listeners.
///
/// Threading: every method may be called from any thread. emitEvent calls the
/// listeners on the emitting thread, outside the emitter's lock, so a listener
/// may add or remove listeners (itself included) or emit again. A listener
/// removed while an emit is under way is not called after removeListener
/// returns; when removeListener runs on another thread than a call already in
/// progress, it waits for that call to end.
class CORVANE_API EventEmitter {
public:
    using ListenerId = std::uint64_t;
    using Listener = std::function<void(const std::string& eventName, const CVAny& data)>;

    /// Listens to every event, whatever its name.
    static constexpr const char* kAnyEvent = "*";

    EventEmitter();
    virtual ~EventEmitter();

    EventEmitter(const EventEmitter&) = delete;
    EventEmitter& operator=(const EventEmitter&) = delete;

    /// eventName: the event to listen to, or kAnyEvent. Returns an id for
    /// removeListener; ids are never reused.
    ListenerId addListener(const std::string& eventName, Listener listener);
    /// False when no listener has this id (already removed, or never added).
    bool removeListener(ListenerId id);
    void removeAllListeners();
    std::size_t getNumberOfListeners() const;

    /// Calls every listener of this name and every kAnyEvent listener, in the
    /// order they were added. Exceptions from listeners are caught and logged,
    /// so one faulty listener cannot stop the others or the emitter.
    void emitEvent(const std::string& eventName, const CVAny& data);

private:
    struct State;
    std::shared_ptr<State> state;
};

} // namespace corvane
