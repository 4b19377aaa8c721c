#include <corvane/core/EventEmitter.h>

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <corvane/core/Logger.h>

namespace corvane {

namespace {

struct ListenerEntry {
    ListenerEntry(EventEmitter::ListenerId listenerId, std::string event, EventEmitter::Listener function)
        : id(listenerId), eventName(std::move(event)), listener(std::move(function)) {}

    const EventEmitter::ListenerId id;
    const std::string eventName;
    // Only moved out (to be destroyed) once removed and no call is running.
    EventEmitter::Listener listener;
    bool removed = false;
    // One element per call in progress: the thread making it. A thread that
    // removes a listener from inside that listener must not wait for itself.
    std::vector<std::thread::id> callers;

    bool isCalledByOtherThan(std::thread::id self) const
    {
        return std::any_of(callers.begin(), callers.end(), [self](std::thread::id t) { return t != self; });
    }
};

using EntryPtr = std::shared_ptr<ListenerEntry>;

} // namespace

// Any thread may add, remove or emit. One mutex guards the list and every
// entry's flags; listeners themselves are called with it released.
struct EventEmitter::State {
    std::mutex mutex;
    std::condition_variable callEnded;
    std::vector<EntryPtr> entries; // in order of addition
    ListenerId nextId = 1;

    // Caller holds `lock`. Marks the entry removed and waits until no other
    // thread is inside it. Returns the listener when it can be destroyed now
    // (the caller does so after unlocking: its captures may do anything).
    Listener retire(std::unique_lock<std::mutex>& lock, ListenerEntry& entry)
    {
        entry.removed = true;
        const auto self = std::this_thread::get_id();
        callEnded.wait(lock, [&] { return !entry.isCalledByOtherThan(self); });
        if (entry.callers.empty())
            return std::move(entry.listener);
        return {}; // still running on this thread; the emit releases it afterwards
    }
};

EventEmitter::EventEmitter() : state(std::make_shared<State>()) {}

EventEmitter::~EventEmitter()
{
    removeAllListeners();
}

EventEmitter::ListenerId EventEmitter::addListener(const std::string& eventName, Listener listener)
{
    std::lock_guard lock(state->mutex);
    const ListenerId id = state->nextId++;
    state->entries.push_back(std::make_shared<ListenerEntry>(id, eventName, std::move(listener)));
    return id;
}

bool EventEmitter::removeListener(ListenerId id)
{
    Listener released;
    std::unique_lock lock(state->mutex);
    auto& entries = state->entries;
    const auto found = std::find_if(entries.begin(), entries.end(), [id](const EntryPtr& e) { return e->id == id; });
    if (found == entries.end())
        return false;
    const EntryPtr entry = *found;
    entries.erase(found);
    released = state->retire(lock, *entry);
    lock.unlock();
    return true;
}

void EventEmitter::removeAllListeners()
{
    std::vector<Listener> released;
    std::unique_lock lock(state->mutex);
    const std::vector<EntryPtr> removed = std::exchange(state->entries, {});
    for (const EntryPtr& entry : removed)
        released.push_back(state->retire(lock, *entry));
    lock.unlock();
}

std::size_t EventEmitter::getNumberOfListeners() const
{
    std::lock_guard lock(state->mutex);
    return state->entries.size();
}

void EventEmitter::emitEvent(const std::string& eventName, const CVAny& data)
{
    // A listener may destroy this emitter; the state must outlive this call.
    const std::shared_ptr<State> s = state;

    std::vector<EntryPtr> snapshot;
    {
        std::lock_guard lock(s->mutex);
        for (const EntryPtr& entry : s->entries) {
            if (entry->eventName == eventName || entry->eventName == kAnyEvent)
                snapshot.push_back(entry);
        }
    }

    const auto self = std::this_thread::get_id();
    for (const EntryPtr& entry : snapshot) {
        {
            std::lock_guard lock(s->mutex);
            if (entry->removed)
                continue;
            entry->callers.push_back(self);
        }

        try {
            entry->listener(eventName, data);
        } catch (const std::exception& e) {
            Logger::error("[EventEmitter] listener for '" + eventName + "' threw: " + e.what());
        } catch (...) {
            Logger::error("[EventEmitter] listener for '" + eventName + "' threw: unknown exception");
        }

        Listener released;
        {
            std::lock_guard lock(s->mutex);
            entry->callers.erase(std::find(entry->callers.begin(), entry->callers.end(), self));
            if (entry->removed && entry->callers.empty())
                released = std::move(entry->listener);
        }
        s->callEnded.notify_all();
    }
}

} // namespace corvane
