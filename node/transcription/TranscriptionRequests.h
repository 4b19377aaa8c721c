#pragma once

#include <atomic>
#include <cstdint>

namespace corvane::extensions::whisper {

/// The mailbox between the node's actions and its worker: one pending window
/// at a time (a newer request replaces an older one), and the commit point
/// from which the next default window starts.
///
/// Threads: post(), commitPoint() and moveCommitPoint() from the thread that
/// calls actions; take() and window() from the worker; drop() from a model
/// load. Lock-free throughout.
class TranscriptionRequests {
public:
    /// Low 32 bits of absolute 16 kHz sample indices, [start, end).
    struct Window {
        uint32_t start = 0;
        uint32_t end = 0;
    };

    /// Stores a window and the commit point it moves to; the pending flag goes
    /// last, so a worker that takes it reads this window or a later one.
    void post(Window window, uint64_t newCommitPoint) noexcept
    {
        start.store(window.start);
        end.store(window.end);
        committed.store(newCommitPoint);
        pending.store(true);
    }

    /// Worker: claims the pending request, if there is one. Its window is read
    /// afterwards with window(), so a request posted in between is served with
    /// its own values.
    bool take() noexcept
    {
        bool expected = true;
        return pending.compare_exchange_strong(expected, false);
    }
    Window window() const noexcept { return {start.load(), end.load()}; }

    /// Forgets a pending request (a model load replaces the model it was for).
    void drop() noexcept { pending.exchange(false); }
    bool isPending() const noexcept { return pending.load(); }

    /// Absolute index where the next default window starts.
    uint64_t commitPoint() const noexcept { return committed.load(); }
    void moveCommitPoint(uint64_t index) noexcept { committed.store(index); }

private:
    std::atomic<uint32_t> start{0};
    std::atomic<uint32_t> end{0};
    std::atomic<uint64_t> committed{0};
    std::atomic<bool> pending{false};
};

} // namespace corvane::extensions::whisper
