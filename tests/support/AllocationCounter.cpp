// Replaces the process-wide allocation functions (and, where safe, the mutex
// lock) with versions that tick a per-thread counter before forwarding to the
// real ones. Must be linked into the test executable: symbols defined there
// take precedence over the C and C++ runtimes for every library in the
// process, CorvaneSDK and speex included.
#include "AllocationCounter.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <new>

#include <dlfcn.h>
#include <pthread.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(__SANITIZE_HWADDRESS__)
#define CORVANE_TEST_SANITIZED 1
#if defined(__SANITIZE_THREAD__)
#define CORVANE_TEST_LOCKS_INTERCEPTED 1
#endif
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer) \
    || __has_feature(hwaddress_sanitizer)
#define CORVANE_TEST_SANITIZED 1
#endif
#if __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define CORVANE_TEST_LOCKS_INTERCEPTED 1
#endif
#endif

#if !defined(CORVANE_TEST_SANITIZED) && defined(__GLIBC__)
#define CORVANE_TEST_COUNT_MALLOC 1
#endif
#if !defined(CORVANE_TEST_LOCKS_INTERCEPTED) && defined(__GLIBC__)
#define CORVANE_TEST_COUNT_LOCKS 1
#endif

namespace {

struct ThreadCounts {
    bool active;
    std::size_t allocations;
    std::size_t locks;
};

// Constant-initialised and initial-exec, so reading it from inside malloc
// never calls into the TLS machinery (which could itself allocate).
__attribute__((tls_model("initial-exec"))) thread_local ThreadCounts counts{false, 0, 0};

inline void noteAllocation() noexcept
{
    if (counts.active)
        ++counts.allocations;
}

} // namespace

#if defined(CORVANE_TEST_COUNT_MALLOC)

// glibc's own entry points, so the replacements below can forward without
// dlsym (which may allocate while resolving).
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* pointer);
}

namespace {
void* rawAllocate(std::size_t size) noexcept { return __libc_malloc(size); }
void* rawAllocateAligned(std::size_t alignment, std::size_t size) noexcept
{
    return __libc_memalign(alignment, size);
}
void rawFree(void* pointer) noexcept { __libc_free(pointer); }
} // namespace

extern "C" {

void* malloc(std::size_t size) noexcept
{
    noteAllocation();
    return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size) noexcept
{
    noteAllocation();
    return __libc_calloc(count, size);
}

void* realloc(void* pointer, std::size_t size) noexcept
{
    if (size != 0)
        noteAllocation();
    return __libc_realloc(pointer, size);
}

void free(void* pointer) noexcept { __libc_free(pointer); }

void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept
{
    noteAllocation();
    return __libc_memalign(alignment, size);
}

void* memalign(std::size_t alignment, std::size_t size) noexcept
{
    noteAllocation();
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** result, std::size_t alignment, std::size_t size) noexcept
{
    if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0)
        return EINVAL;
    noteAllocation();
    void* pointer = __libc_memalign(alignment, size);
    if (pointer == nullptr)
        return ENOMEM;
    *result = pointer;
    return 0;
}

} // extern "C"

#else

namespace {
void* rawAllocate(std::size_t size) noexcept { return std::malloc(size); }
void* rawAllocateAligned(std::size_t alignment, std::size_t size) noexcept
{
    if (alignment < sizeof(void*))
        alignment = sizeof(void*);
    void* pointer = nullptr;
    return posix_memalign(&pointer, alignment, size) == 0 ? pointer : nullptr;
}
void rawFree(void* pointer) noexcept { std::free(pointer); }
} // namespace

#endif

#if defined(CORVANE_TEST_COUNT_LOCKS)

namespace {

using MutexFunction = int (*)(pthread_mutex_t*);

// Resolved on first use; a race between threads resolves the same address.
MutexFunction realMutexFunction(std::atomic<MutexFunction>& slot, const char* name) noexcept
{
    MutexFunction function = slot.load(std::memory_order_acquire);
    if (function == nullptr) {
        function = reinterpret_cast<MutexFunction>(dlsym(RTLD_NEXT, name));
        slot.store(function, std::memory_order_release);
    }
    return function;
}

std::atomic<MutexFunction> realLock{nullptr};
std::atomic<MutexFunction> realTryLock{nullptr};

} // namespace

extern "C" {

int pthread_mutex_lock(pthread_mutex_t* mutex) noexcept
{
    if (counts.active)
        ++counts.locks;
    return realMutexFunction(realLock, "pthread_mutex_lock")(mutex);
}

int pthread_mutex_trylock(pthread_mutex_t* mutex) noexcept
{
    if (counts.active)
        ++counts.locks;
    return realMutexFunction(realTryLock, "pthread_mutex_trylock")(mutex);
}

} // extern "C"

#endif

namespace {

void* allocateOrThrow(std::size_t size)
{
    noteAllocation();
    if (size == 0)
        size = 1;
    for (;;) {
        if (void* pointer = rawAllocate(size))
            return pointer;
        std::new_handler handler = std::get_new_handler();
        if (handler == nullptr)
            throw std::bad_alloc();
        handler();
    }
}

void* allocateAlignedOrThrow(std::size_t size, std::align_val_t alignment)
{
    noteAllocation();
    if (size == 0)
        size = 1;
    for (;;) {
        if (void* pointer = rawAllocateAligned(static_cast<std::size_t>(alignment), size))
            return pointer;
        std::new_handler handler = std::get_new_handler();
        if (handler == nullptr)
            throw std::bad_alloc();
        handler();
    }
}

template <typename Allocate, typename... Args>
void* allocateOrNull(Allocate allocate, Args... args) noexcept
{
    try {
        return allocate(args...);
    } catch (...) {
        return nullptr;
    }
}

} // namespace

void* operator new(std::size_t size) { return allocateOrThrow(size); }
void* operator new[](std::size_t size) { return allocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocateOrNull(allocateOrThrow, size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return allocateOrNull(allocateOrThrow, size);
}
void* operator new(std::size_t size, std::align_val_t alignment) { return allocateAlignedOrThrow(size, alignment); }
void* operator new[](std::size_t size, std::align_val_t alignment) { return allocateAlignedOrThrow(size, alignment); }
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    return allocateOrNull(allocateAlignedOrThrow, size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    return allocateOrNull(allocateAlignedOrThrow, size, alignment);
}

void operator delete(void* pointer) noexcept { rawFree(pointer); }
void operator delete[](void* pointer) noexcept { rawFree(pointer); }
void operator delete(void* pointer, std::size_t) noexcept { rawFree(pointer); }
void operator delete[](void* pointer, std::size_t) noexcept { rawFree(pointer); }
void operator delete(void* pointer, const std::nothrow_t&) noexcept { rawFree(pointer); }
void operator delete[](void* pointer, const std::nothrow_t&) noexcept { rawFree(pointer); }
void operator delete(void* pointer, std::align_val_t) noexcept { rawFree(pointer); }
void operator delete[](void* pointer, std::align_val_t) noexcept { rawFree(pointer); }
void operator delete(void* pointer, std::size_t, std::align_val_t) noexcept { rawFree(pointer); }
void operator delete[](void* pointer, std::size_t, std::align_val_t) noexcept { rawFree(pointer); }
void operator delete(void* pointer, std::align_val_t, const std::nothrow_t&) noexcept { rawFree(pointer); }
void operator delete[](void* pointer, std::align_val_t, const std::nothrow_t&) noexcept { rawFree(pointer); }

namespace corvane::test {

AllocationCounter::~AllocationCounter()
{
    if (running)
        stop();
}

void AllocationCounter::start() noexcept
{
    counts.allocations = 0;
    counts.locks = 0;
    allocations = 0;
    locks = 0;
    running = true;
    counts.active = true;
}

void AllocationCounter::stop() noexcept
{
    counts.active = false;
    allocations = counts.allocations;
    locks = counts.locks;
    running = false;
}

std::size_t AllocationCounter::count() const noexcept
{
    return running ? counts.allocations : allocations;
}

std::size_t AllocationCounter::lockCount() const noexcept
{
    return running ? counts.locks : locks;
}

bool AllocationCounter::countsMallocFamily() noexcept
{
#if defined(CORVANE_TEST_COUNT_MALLOC)
    return true;
#else
    return false;
#endif
}

bool AllocationCounter::countsMutexLocks() noexcept
{
#if defined(CORVANE_TEST_COUNT_LOCKS)
    return true;
#else
    return false;
#endif
}

} // namespace corvane::test
