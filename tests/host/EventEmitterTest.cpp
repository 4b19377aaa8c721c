#include <corvane/core/EventEmitter.h>
#include <corvane/core/Logger.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

using corvane::CVAny;
using corvane::EventEmitter;
using corvane::LogLevel;
using corvane::Logger;

namespace {

// Records calls as "<listener>:<event>".
struct CallLog {
    std::mutex mutex;
    std::vector<std::string> calls;

    EventEmitter::Listener listener(const std::string& name)
    {
        return [this, name](const std::string& event, const CVAny&) {
            std::lock_guard lock(mutex);
            calls.push_back(name + ":" + event);
        };
    }
};

// Listener failures are logged, never thrown; any error line a test did not
// cause on purpose means a listener was called in a state it should not be.
class EventEmitterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Logger::setSink([this](LogLevel level, const std::string& line) {
            if (level == LogLevel::Error)
                errors.push_back(line); // the logger serialises sink calls
        });
    }

    void TearDown() override
    {
        Logger::setSink({});
        EXPECT_EQ(errors, std::vector<std::string>{});
    }

    std::vector<std::string> errors;
};

} // namespace

TEST_F(EventEmitterTest, CallsMatchingListenersInOrderOfAddition)
{
    EventEmitter emitter;
    CallLog log;
    emitter.addListener("a", log.listener("first"));
    emitter.addListener(EventEmitter::kAnyEvent, log.listener("any"));
    emitter.addListener("b", log.listener("other"));
    emitter.addListener("a", log.listener("last"));

    CVAny received;
    emitter.addListener("a", [&](const std::string&, const CVAny& data) { received = data; });
    emitter.emitEvent("a", CVAny(7));
    emitter.emitEvent("c", CVAny());

    EXPECT_EQ(log.calls, (std::vector<std::string>{"first:a", "any:a", "last:a", "any:c"}));
    EXPECT_EQ(received, CVAny(7));
    EXPECT_EQ(emitter.getNumberOfListeners(), 5u);
}

TEST_F(EventEmitterTest, RemovalReleasesTheListenerAndIdsAreNotReused)
{
    EventEmitter emitter;
    auto captured = std::make_shared<int>(0);
    const auto first = emitter.addListener("e", [captured](const std::string&, const CVAny&) { ++*captured; });
    EXPECT_EQ(captured.use_count(), 2);

    EXPECT_TRUE(emitter.removeListener(first));
    EXPECT_EQ(captured.use_count(), 1);
    EXPECT_FALSE(emitter.removeListener(first));
    EXPECT_FALSE(emitter.removeListener(first + 1000));

    const auto second = emitter.addListener("e", [](const std::string&, const CVAny&) {});
    EXPECT_NE(second, first);
    emitter.emitEvent("e", CVAny());
    EXPECT_EQ(*captured, 0);

    emitter.removeAllListeners();
    EXPECT_EQ(emitter.getNumberOfListeners(), 0u);
    EXPECT_FALSE(emitter.removeListener(second));
}

TEST_F(EventEmitterTest, ListenerCanRemoveItselfAndOthersDuringAnEmit)
{
    EventEmitter emitter;
    CallLog log;
    EventEmitter::ListenerId self = 0;
    EventEmitter::ListenerId victim = 0;
    int selfCalls = 0;
    self = emitter.addListener("e", [&](const std::string&, const CVAny&) {
        ++selfCalls;
        EXPECT_TRUE(emitter.removeListener(self)); // must not wait for itself
        EXPECT_TRUE(emitter.removeListener(victim));
    });
    victim = emitter.addListener("e", log.listener("victim"));
    emitter.addListener("e", log.listener("bystander"));

    emitter.emitEvent("e", CVAny());
    emitter.emitEvent("e", CVAny());

    EXPECT_EQ(selfCalls, 1);
    EXPECT_EQ(log.calls, (std::vector<std::string>{"bystander:e", "bystander:e"}));
}

TEST_F(EventEmitterTest, ListenerCanEmitAndAddListeners)
{
    EventEmitter emitter;
    CallLog log;
    emitter.addListener("outer", [&](const std::string&, const CVAny&) {
        emitter.addListener("outer", log.listener("added")); // joins from the next emit
        emitter.emitEvent("inner", CVAny());
    });
    emitter.addListener("inner", log.listener("inner"));

    emitter.emitEvent("outer", CVAny());
    EXPECT_EQ(log.calls, (std::vector<std::string>{"inner:inner"}));
}

TEST_F(EventEmitterTest, ThrowingListenerIsLoggedAndOthersStillRun)
{
    EventEmitter emitter;
    CallLog log;
    emitter.addListener("boom", [](const std::string&, const CVAny&) { throw std::runtime_error("bad data"); });
    emitter.addListener("boom", [](const std::string&, const CVAny&) { throw 42; });
    emitter.addListener("boom", log.listener("after"));
    EXPECT_NO_THROW(emitter.emitEvent("boom", CVAny()));

    EXPECT_EQ(log.calls, (std::vector<std::string>{"after:boom"}));
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0], "[EventEmitter] listener for 'boom' threw: bad data");
    EXPECT_EQ(errors[1].rfind("[EventEmitter] listener for 'boom' threw", 0), 0u);
    errors.clear();
}

TEST_F(EventEmitterTest, RemoveOnAnotherThreadWaitsForTheCallInProgress)
{
    EventEmitter emitter;
    std::atomic<bool> inside{false};
    std::atomic<bool> removerStarted{false};
    std::atomic<bool> removeReturned{false};
    bool removeReturnedDuringCall = true;

    const auto id = emitter.addListener("e", [&](const std::string&, const CVAny&) {
        inside = true;
        while (!removerStarted)
            std::this_thread::yield();
        // Give a removeListener that does not wait every chance to return.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        removeReturnedDuringCall = removeReturned;
    });

    std::thread emitter1([&] { emitter.emitEvent("e", CVAny()); });
    while (!inside)
        std::this_thread::yield();
    std::thread remover([&] {
        removerStarted = true;
        EXPECT_TRUE(emitter.removeListener(id));
        removeReturned = true;
    });
    remover.join();
    emitter1.join();
    EXPECT_FALSE(removeReturnedDuringCall);
}

TEST_F(EventEmitterTest, ConcurrentEmitsAddsAndRemoves)
{
    EventEmitter emitter;
    std::atomic<int> callsAfterRemoval{0};
    std::atomic<long> calls{0};
    std::atomic<bool> stop{false};

    std::vector<std::thread> threads;
    for (int e = 0; e < 3; ++e) {
        threads.emplace_back([&] {
            while (!stop)
                emitter.emitEvent("tick", CVAny(1));
        });
    }
    for (int c = 0; c < 2; ++c) {
        threads.emplace_back([&] {
            for (int i = 0; i < 300; ++i) {
                auto removed = std::make_shared<std::atomic<bool>>(false);
                const auto id = emitter.addListener(i % 2 ? "tick" : EventEmitter::kAnyEvent,
                                                    [&, removed](const std::string&, const CVAny&) {
                                                        if (*removed)
                                                            ++callsAfterRemoval;
                                                        ++calls;
                                                    });
                std::this_thread::yield();
                EXPECT_TRUE(emitter.removeListener(id));
                *removed = true;
            }
        });
    }
    for (std::size_t t = 3; t < threads.size(); ++t)
        threads[t].join();
    stop = true;
    for (std::size_t t = 0; t < 3; ++t)
        threads[t].join();

    EXPECT_EQ(callsAfterRemoval, 0);
    EXPECT_EQ(emitter.getNumberOfListeners(), 0u);
}
