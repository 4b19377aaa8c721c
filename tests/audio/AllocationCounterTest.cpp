#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include "AllocationCounter.h"

using corvane::test::AllocationCounter;

namespace {

// Where an allocation escapes to, so that no compiler may drop it.
void* volatile escaped = nullptr;

// Other real-time tests assert a count of zero; this makes sure a zero can
// only come from code that really did not allocate or lock.
TEST(AllocationCounter, CountsAllocationsAndLocksOfTheStartedThreadOnly)
{
    const bool mallocToo = AllocationCounter::countsMallocFamily(); // not under sanitizers
    const bool locksToo = AllocationCounter::countsMutexLocks();    // not under ThreadSanitizer
    std::mutex mutex;
    void* volatile a = nullptr;
    void* volatile b = nullptr;
    AllocationCounter counter;
    counter.start();
    auto owned = std::make_unique<int[]>(64);
    escaped = owned.get();
    if (mallocToo) {
        a = std::malloc(10);
        b = std::calloc(4, 4);
        b = std::realloc(b, 4096);
    }
    { std::lock_guard lock(mutex); }
    if (mutex.try_lock())
        mutex.unlock();
    counter.stop();
    std::free(a);
    std::free(b);
    EXPECT_EQ(counter.count(), mallocToo ? 4u : 1u);
    EXPECT_EQ(counter.lockCount(), locksToo ? 2u : 0u);

    // std::thread allocates its state on this thread; the worker's own
    // allocations, and any after stop(), must not be added to that.
    counter.start();
    std::thread worker([] { for (int i = 0; i < 100; ++i) escaped = std::make_unique<int>(i).get(); });
    counter.stop();
    const std::size_t justTheThread = counter.count();
    worker.join();
    escaped = std::make_unique<int>(2).get();
    EXPECT_GE(justTheThread, 1u);
    EXPECT_LT(justTheThread, 100u);
    EXPECT_EQ(counter.count(), justTheThread);
}

} // namespace
