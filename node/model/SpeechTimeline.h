#pragma once

#include <cstdint>
#include <vector>

namespace corvane::extensions::whisper {

/// Where the audio a run hands to whisper.cpp came from in its window, so
/// that the times whisper.cpp reports can be told on the window's own
/// timeline: one piece for a plain run, one per joined stretch of speech with
/// voice-activity detection. Whatever lies outside the pieces (the silence
/// between joined stretches, the padding after the last) belongs to no
/// sample of the window.
class SpeechTimeline {
public:
    /// `length` samples of the run's audio from `runStart` are the window's
    /// samples from `windowStart`.
    struct Piece {
        int64_t runStart = 0;
        int64_t windowStart = 0;
        int64_t length = 0;
    };

    /// Which side of the silence between pieces a time falls to.
    enum class Edge {
        Start, ///< a start in silence moves forward to the next piece's first sample
        End,   ///< an end in silence moves back to the end of the piece before
    };

    void clear() noexcept { pieces.clear(); }
    /// Pieces are added in the order of the run's audio.
    void add(const Piece& piece) { pieces.push_back(piece); }
    /// The run's audio is the window itself, its first `sampleCount` samples.
    void setWhole(int64_t sampleCount)
    {
        pieces.clear();
        pieces.push_back({0, 0, sampleCount});
    }

    /// The window offset of `runOffset`, an offset into the run's audio; a
    /// time past the last piece is that piece's end, one before the first
    /// piece that piece's start, and 0 without pieces.
    int64_t toWindow(int64_t runOffset, Edge edge) const noexcept
    {
        const Piece* before = nullptr;
        for (const Piece& piece : pieces) {
            if (runOffset < piece.runStart)
                return edge == Edge::End && before != nullptr ? before->windowStart + before->length
                                                               : piece.windowStart;
            if (runOffset <= piece.runStart + piece.length)
                return piece.windowStart + (runOffset - piece.runStart);
            before = &piece;
        }
        return before != nullptr ? before->windowStart + before->length : 0;
    }

    const std::vector<Piece>& getPieces() const noexcept { return pieces; }

private:
    std::vector<Piece> pieces;
};

} // namespace corvane::extensions::whisper
