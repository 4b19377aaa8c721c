#pragma once

// The RealtimeSanitizer runtime's C entry points. LLVM 19 starts the runtime
// with __rtsan_init; later releases renamed it __rtsan_ensure_initialized.
extern "C" {
void __rtsan_realtime_enter();
void __rtsan_realtime_exit();
__attribute__((weak)) void __rtsan_init();
__attribute__((weak)) void __rtsan_ensure_initialized();
}

namespace corvane::test {

/// Marks the calling thread as realtime while it exists, the way a host marks
/// its audio callback: any allocation, lock, sleep or blocking system call
/// made on this thread meanwhile ends the process with a report.
class RealtimeScope {
public:
    RealtimeScope()
    {
        start();
        __rtsan_realtime_enter();
    }
    ~RealtimeScope() { __rtsan_realtime_exit(); }

    RealtimeScope(const RealtimeScope&) = delete;
    RealtimeScope& operator=(const RealtimeScope&) = delete;

    /// Starts the runtime if its pre-init hook has not (idempotent).
    static void start()
    {
        if (__rtsan_ensure_initialized != nullptr)
            __rtsan_ensure_initialized();
        else if (__rtsan_init != nullptr)
            __rtsan_init();
    }
};

} // namespace corvane::test
