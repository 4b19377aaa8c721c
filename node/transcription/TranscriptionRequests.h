#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

namespace corvane::extensions::whisper {

/// The mailbox between the node's actions and its worker: one pending window
/// at a time (a newer request replaces an older one), the commit point from
/// which the next default window starts, and the two signals for the
/// utterances the node finds itself: start again from here, and end the one
/// under way.
///
/// Threads: post(), commitPoint(), moveCommitPoint(), restartUtterancesAt()
/// and endUtteranceAt() from the thread that calls actions; take(), window()
/// and the take...() of the signals from the worker; drop() from a model
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

    /// Utterances before `index` are to be forgotten.
    void restartUtterancesAt(uint64_t index) noexcept { restartAt.store(index + 1); }
    std::optional<uint64_t> takeUtteranceRestart() noexcept { return takeSignal(restartAt); }
    bool utteranceRestartPending() const noexcept { return restartAt.load() != 0; }
    /// The utterance under way is to end at `index` at the latest.
    void endUtteranceAt(uint64_t index) noexcept { endAt.store(index + 1); }
    /// Worker: the end asked for, left in place until settled() so that it
    /// counts as pending meanwhile.
    std::optional<uint64_t> utteranceEnd() const noexcept
    {
        const uint64_t signal = endAt.load();
        return signal == 0 ? std::nullopt : std::optional<uint64_t>(signal - 1);
    }
    /// Worker: that end is settled, unless a newer one came meanwhile.
    void settleUtteranceEnd(uint64_t index) noexcept
    {
        uint64_t expected = index + 1;
        endAt.compare_exchange_strong(expected, 0);
    }

private:
    /// Signals hold index + 1, so that 0 means none.
    static std::optional<uint64_t> takeSignal(std::atomic<uint64_t>& signal) noexcept
    {
        const uint64_t value = signal.exchange(0);
        return value == 0 ? std::nullopt : std::optional<uint64_t>(value - 1);
    }

    std::atomic<uint64_t> restartAt{0};
    std::atomic<uint64_t> endAt{0};
    std::atomic<uint32_t> start{0};
    std::atomic<uint32_t> end{0};
    std::atomic<uint64_t> committed{0};
    std::atomic<bool> pending{false};
};

} // namespace corvane::extensions::whisper
