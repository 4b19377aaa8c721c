// Definitions in the executable take precedence over the C runtime's for every library in the process (libstdc++'s
// operator new, CorvaneSDK and speex included), so these see every allocation and lock before forwarding it.
#include "AllocationCounter.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>

#include <dlfcn.h>
#include <pthread.h>

namespace {

// Constant-initialised and initial-exec, so touching it from inside malloc never enters the TLS machinery (which may
// allocate).
__attribute__((tls_model("initial-exec"))) thread_local struct {
    bool on;
    std::size_t allocations, locks;
} counts{false, 0, 0};

void noteAllocation() noexcept { counts.allocations += counts.on ? 1 : 0; }

} // namespace

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizers own malloc and operator new, and run this hook on every allocation.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, std::size_t),
                                                         void (*)(const volatile void*));
[[maybe_unused]] static const int mallocHookInstalled = __sanitizer_install_malloc_and_free_hooks(
    [](const volatile void*, std::size_t) { noteAllocation(); }, [](const volatile void*) {});
#else
// Forwarded to glibc's own entry points, which need no dlsym (that may allocate while resolving).
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void* malloc(std::size_t size) noexcept { return noteAllocation(), __libc_malloc(size); }
void* calloc(std::size_t count, std::size_t size) noexcept { return noteAllocation(), __libc_calloc(count, size); }
void* realloc(void* pointer, std::size_t size) noexcept { return noteAllocation(), __libc_realloc(pointer, size); }
void* memalign(std::size_t alignment, std::size_t size) noexcept { return noteAllocation(), __libc_memalign(alignment, size); }
void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept { return memalign(alignment, size); }
int posix_memalign(void** result, std::size_t alignment, std::size_t size) noexcept
{
    return (*result = memalign(alignment, size)) != nullptr ? 0 : ENOMEM;
}
}
#endif

#if !defined(__SANITIZE_THREAD__) // ThreadSanitizer owns the mutex functions
// glibc's, resolved on first use (a race resolves the same address twice).
static std::atomic<int (*)(pthread_mutex_t*)> realLock;
extern "C" int pthread_mutex_lock(pthread_mutex_t* mutex) noexcept
{
    counts.locks += counts.on ? 1 : 0;
    if (realLock.load() == nullptr)
        realLock = reinterpret_cast<int (*)(pthread_mutex_t*)>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
    return realLock.load()(mutex);
}
#endif

namespace corvane::test {

void AllocationCounter::start() noexcept { counts = {true, 0, 0}; }
void AllocationCounter::stop() noexcept { counts.on = false, allocations = counts.allocations, locks = counts.locks; }

bool AllocationCounter::countsMutexLocks() noexcept
{
#if defined(__SANITIZE_THREAD__)
    return false;
#else
    return true;
#endif
}

} // namespace corvane::test
