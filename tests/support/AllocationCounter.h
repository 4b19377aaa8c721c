#pragma once

#include <cstddef>

namespace corvane::test {

/// Counts the heap allocations and mutex locks (pthread_mutex_lock) that the calling thread makes between start()
/// and stop(), to prove that audio-thread code does neither. Link AllocationCounter.cpp into the test executable: it
/// replaces the process's allocation and lock functions. ThreadSanitizer owns the mutex functions; there locks go
/// uncounted. Threads: start() and stop() on the counted thread; the counts are read after stop(), on any thread.
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
