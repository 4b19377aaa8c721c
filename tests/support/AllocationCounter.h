#pragma once

#include <cstddef>

namespace corvane::test {

/// Counts the heap allocations and mutex locks that the calling thread makes between start() and stop(), to prove
/// that audio-thread code does neither. Link AllocationCounter.cpp into the test executable itself: it replaces the
/// process's allocation and lock functions (sanitizer builds count allocations through the sanitizer's malloc hook;
/// under ThreadSanitizer, which owns the mutex functions, locks go uncounted).
/// Threads: start() and stop() on the counted thread; the counts are read after stop(), on any thread.
class AllocationCounter {
public:
    void start() noexcept;
    void stop() noexcept;
    std::size_t count() const noexcept { return allocations; }
    std::size_t lockCount() const noexcept { return locks; }
    static bool countsMutexLocks() noexcept;

private:
    std::size_t allocations = 0, locks = 0;
};

} // namespace corvane::test
