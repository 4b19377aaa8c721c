#include <corvane/core/EventEmitter.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "LogCapture.h"

using corvane::CVAny;
using corvane::EventEmitter;
using corvane::LogLevel;

namespace {

// Listener failures are logged, never thrown; any error line a test did not
// cause on purpose means a listener was called in a state it should not be.
class EventEmitterTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (const auto& line : log.lines())
            EXPECT_NE(line.level, LogLevel::Error) << line.text;
    }

    // Records calls as "<listener>:<event>".
    EventEmitter::Listener record(const std::string& name)
    {
        return [this, name](const std::string& event, const CVAny&) {
            std::lock_guard lock(mutex);
            calls.push_back(name + ":" + event);
        };
    }

    corvane::test::LogCapture log;
    EventEmitter emitter;
    std::mutex mutex;
    std::vector<std::string> calls;
};

} // namespace

TEST_F(EventEmitterTest, CallsMatchingListenersInOrderAndNeverAfterRemoval)
{
    emitter.addListener("a", record("first"));
    emitter.addListener(EventEmitter::kAnyEvent, record("any"));
    emitter.addListener("b", record("other"));
    emitter.addListener("a", record("last"));
    CVAny received;
    emitter.addListener("a", [&](const std::string&, const CVAny& data) { received = data; });
    emitter.emitEvent("a", CVAny(7));
    emitter.emitEvent("c", CVAny());
    EXPECT_EQ(calls, (std::vector<std::string>{"first:a", "any:a", "last:a", "any:c"}));
    EXPECT_EQ(received, CVAny(7));
    emitter.removeAllListeners();
    EXPECT_EQ(emitter.getNumberOfListeners(), 0u);

    // Removal releases what the listener holds; ids are not reused.
    auto captured = std::make_shared<int>(0);
    const auto first = emitter.addListener("e", [captured](const std::string&, const CVAny&) { ++*captured; });
    EXPECT_TRUE(emitter.removeListener(first));
    EXPECT_EQ(captured.use_count(), 1);
    EXPECT_FALSE(emitter.removeListener(first));
    EXPECT_NE(emitter.addListener("e", [](const std::string&, const CVAny&) {}), first);
    emitter.emitEvent("e", CVAny());
    EXPECT_EQ(*captured, 0);
}

TEST_F(EventEmitterTest, ListenerMayRemoveAddAndEmitDuringAnEmit)
{
    EventEmitter::ListenerId self = 0, victim = 0;
    int selfCalls = 0;
    self = emitter.addListener("e", [&](const std::string&, const CVAny&) {
        ++selfCalls;
        EXPECT_TRUE(emitter.removeListener(self)); // must not wait for itself
        EXPECT_TRUE(emitter.removeListener(victim));
        emitter.addListener("e", record("added")); // joins from the next emit
        emitter.emitEvent("inner", CVAny());
    });
    victim = emitter.addListener("e", record("victim"));
    emitter.addListener("e", record("bystander"));
    emitter.addListener("inner", record("inner"));

    emitter.emitEvent("e", CVAny());
    emitter.emitEvent("e", CVAny());
    EXPECT_EQ(selfCalls, 1);
    EXPECT_EQ(calls, (std::vector<std::string>{"inner:inner", "bystander:e", "bystander:e", "added:e"}));
}

TEST_F(EventEmitterTest, ThrowingListenerIsLoggedAndOthersStillRun)
{
    emitter.addListener("boom", [](const std::string&, const CVAny&) { throw std::runtime_error("bad data"); });
    emitter.addListener("boom", [](const std::string&, const CVAny&) { throw 42; });
    emitter.addListener("boom", record("after"));
    EXPECT_NO_THROW(emitter.emitEvent("boom", CVAny()));

    EXPECT_EQ(calls, (std::vector<std::string>{"after:boom"}));
    const auto errors = log.texts("[EventEmitter]");
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0], "[EventEmitter] listener for 'boom' threw: bad data");
    EXPECT_EQ(errors[1].rfind("[EventEmitter] listener for 'boom' threw", 0), 0u);
    log.clear();
}

TEST_F(EventEmitterTest, RemoveOnAnotherThreadWaitsForTheCallInProgress)
{
    std::atomic<bool> inside{false}, removerStarted{false}, removeReturned{false};
    bool removeReturnedDuringCall = true;

    const auto id = emitter.addListener("e", [&](const std::string&, const CVAny&) {
        inside = true;
        while (!removerStarted)
            std::this_thread::yield();
        // Give a removeListener that does not wait every chance to return.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        removeReturnedDuringCall = removeReturned;
    });

    std::thread emitting([&] { emitter.emitEvent("e", CVAny()); });
    while (!inside)
        std::this_thread::yield();
    std::thread remover([&] {
        removerStarted = true;
        EXPECT_TRUE(emitter.removeListener(id));
        removeReturned = true;
    });
    remover.join();
    emitting.join();
    EXPECT_FALSE(removeReturnedDuringCall);
}

TEST_F(EventEmitterTest, ConcurrentEmitsAddsAndRemoves)
{
    std::atomic<int> callsAfterRemoval{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> emitters, changers;
    for (int e = 0; e < 3; ++e)
        emitters.emplace_back([&] {
            while (!stop)
                emitter.emitEvent("tick", CVAny(1));
        });
    for (int c = 0; c < 2; ++c)
        changers.emplace_back([&] {
            for (int i = 0; i < 300; ++i) {
                auto removed = std::make_shared<std::atomic<bool>>(false);
                auto listener = [&, removed](const std::string&, const CVAny&) { callsAfterRemoval += *removed; };
                const auto id = emitter.addListener(i % 2 ? "tick" : EventEmitter::kAnyEvent, listener);
                std::this_thread::yield();
                EXPECT_TRUE(emitter.removeListener(id));
                *removed = true;
            }
        });
    for (auto& thread : changers)
        thread.join();
    stop = true;
    for (auto& thread : emitters)
        thread.join();
    EXPECT_EQ(callsAfterRemoval, 0);
    EXPECT_EQ(emitter.getNumberOfListeners(), 0u);
}
