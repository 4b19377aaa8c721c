#pragma once

#include <cstddef>

namespace corvane::test {

/// Counts heap allocations (and mutex locks) made by the calling thread while
/// started, so a test can prove that audio-thread code allocates nothing and
/// takes no lock in steady state.
///
/// Use: add ${CMAKE_SOURCE_DIR}/tests/support/AllocationCounter.cpp to the
/// test executable's SOURCES (it must be linked into the executable itself,
/// not a shared library, because it replaces the global allocation functions
/// for the whole process), then
///
///     corvane::test::AllocationCounter counter;
///     counter.start();
///     codeUnderTest();
///     counter.stop();
///     EXPECT_EQ(counter.count(), 0u);
///     EXPECT_EQ(counter.lockCount(), 0u);
///
/// Only the thread that called start() is counted; other threads (a worker,
/// the test framework) run unaffected. Counting needs no set-up beyond this.
///
/// What is counted depends on the build:
///  - always: every form of global operator new / new[];
///  - plain builds: also malloc, calloc, realloc, aligned_alloc, memalign and
///    posix_memalign, so allocations from C code (speex, libc) are seen too;
///  - plain and AddressSanitizer builds: pthread_mutex_lock and
///    pthread_mutex_trylock calls.
/// Sanitizers intercept malloc (and ThreadSanitizer the mutex functions)
/// themselves; replacing those would hide memory or locks from them, so in
/// sanitizer builds the counter falls back as listed. countsMallocFamily() and
/// countsMutexLocks() say which applies.
class AllocationCounter {
public:
    AllocationCounter() = default;
    ~AllocationCounter();

    AllocationCounter(const AllocationCounter&) = delete;
    AllocationCounter& operator=(const AllocationCounter&) = delete;

    /// Resets the counts and starts counting on the calling thread.
    void start() noexcept;
    /// Stops counting; the counts stay readable. Call on the thread that
    /// called start().
    void stop() noexcept;

    /// Allocations between start() and stop() (so far, while still running,
    /// when read on the counting thread).
    std::size_t count() const noexcept;
    /// Mutex lock attempts between start() and stop(); always 0 when
    /// countsMutexLocks() is false.
    std::size_t lockCount() const noexcept;

    static bool countsMallocFamily() noexcept;
    static bool countsMutexLocks() noexcept;

private:
    bool running = false;
    std::size_t allocations = 0;
    std::size_t locks = 0;
};

} // namespace corvane::test
