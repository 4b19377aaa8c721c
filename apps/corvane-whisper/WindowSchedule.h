#pragma once

#include <cstdint>
#include <optional>

#include "WhisperNodeFacts.h"

namespace corvane::cli {

/// Cuts one file into the windows the node is asked to transcribe: a window
/// ends every `step` seconds of audio and at the end of the file, and starts
/// where the previous one ended. Steps are counted in frames of the file;
/// windows are given as the node counts audio, in 16 kHz samples from the
/// start of the file.
class WindowSchedule {
public:
    /// The node's resampler holds a few milliseconds back, so a shorter window
    /// might be empty on the node's side; it grows into the next step instead.
    static constexpr std::uint64_t kShortestWindowSamples = 800;

    struct Window {
        std::uint64_t start = 0; ///< 16 kHz samples from the start of the file.
        std::uint64_t end = 0;
        double getStartSeconds() const noexcept { return static_cast<double>(start) / kNodeSampleRate; }
        double getEndSeconds() const noexcept { return static_cast<double>(end) / kNodeSampleRate; }
        bool operator==(const Window&) const = default;
    };

    /// stepSeconds > 0; a step shorter than one frame counts as one frame.
    WindowSchedule(double sampleRate, std::uint64_t fileFrames, double stepSeconds);

    /// The file frame at which the current step ends: a multiple of the step,
    /// or the end of the file for the final step.
    std::uint64_t getStepEnd() const noexcept { return stepEnd; }
    bool isFinalStep() const noexcept { return stepEnd >= fileFrames; }
    /// True once the final step has been ended or skipped.
    bool isFinished() const noexcept { return finished; }

    /// Moves on to the next step; the current window grows into it.
    void skipStep() noexcept;
    /// Ends the current window at the current step end and moves on to the
    /// next step. Returns nothing when the window is shorter than
    /// kShortestWindowSamples, or at the final step when it is empty; the
    /// audio then belongs to the next window. A window longer than the node
    /// keeps starts kNodeHistorySamples before its end, as the node's does.
    std::optional<Window> endWindow() noexcept;

    /// Frames of the file → 16 kHz samples, rounded to the nearest.
    std::uint64_t toNodeSamples(std::uint64_t frames) const noexcept;

private:
    double sampleRate;
    std::uint64_t fileFrames;
    std::uint64_t stepFrames;
    std::uint64_t stepEnd = 0;
    std::uint64_t windowStart = 0;
    bool finished = false;
};

} // namespace corvane::cli
