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

// Other real-time tests assert a count of zero; these make sure a zero can
// only come from code that really did not allocate or lock.
TEST(AllocationCounter, CountsNewOnTheStartedThreadOnly)
{
    AllocationCounter counter;
    counter.start();
    auto owned = std::make_unique<int[]>(64);
    escaped = owned.get();
    std::thread([] { auto elsewhere = std::make_unique<int>(1); }).join();
    counter.stop();
    // std::thread allocates its state on this thread; the worker's own
    // allocation must not be added to that.
    const std::size_t withThread = counter.count();
    EXPECT_GE(withThread, 2u);

    counter.start();
    auto elsewhere = std::thread([] { for (int i = 0; i < 100; ++i) auto p = std::make_unique<int>(i); });
    counter.stop();
    const std::size_t justTheThread = counter.count();
    elsewhere.join();
    EXPECT_EQ(counter.count(), justTheThread);
    EXPECT_LT(justTheThread, 100u);

    auto afterStop = std::make_unique<int>(2);
    EXPECT_EQ(counter.count(), justTheThread);
}

TEST(AllocationCounter, CountsMallocWhereTheBuildAllowsIt)
{
    if (!AllocationCounter::countsMallocFamily())
        GTEST_SKIP() << "sanitizer build: only operator new is counted";
    AllocationCounter counter;
    // volatile: the compiler may otherwise drop an unused malloc/free pair.
    void* volatile a = nullptr;
    void* volatile b = nullptr;
    counter.start();
    a = std::malloc(10);
    b = std::calloc(4, 4);
    b = std::realloc(b, 4096);
    counter.stop();
    std::free(a);
    std::free(b);
    EXPECT_EQ(counter.count(), 3u);
}

TEST(AllocationCounter, CountsMutexLocksWhereTheBuildAllowsIt)
{
    if (!AllocationCounter::countsMutexLocks())
        GTEST_SKIP() << "ThreadSanitizer build: mutex calls belong to the sanitizer";
    std::mutex mutex;
    AllocationCounter counter;
    counter.start();
    { std::lock_guard lock(mutex); }
    if (mutex.try_lock())
        mutex.unlock();
    counter.stop();
    EXPECT_EQ(counter.lockCount(), 2u);
    EXPECT_EQ(counter.count(), 0u);
}

} // namespace
