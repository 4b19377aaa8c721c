#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace corvane::cli {

/// A whole audio file, mixed down to one channel.
struct MonoAudio {
    std::vector<float> samples;
    double sampleRate = 0.0;

    std::uint64_t getNumberOfFrames() const noexcept { return samples.size(); }
    double getDurationSeconds() const noexcept
    {
        return sampleRate > 0.0 ? static_cast<double>(samples.size()) / sampleRate : 0.0;
    }
};

/// Opens the file with libsndfile and closes it again, so that every file can
/// be checked before a model is loaded. Raises CommandError naming the file
/// and the reason (libsndfile's own message for files it cannot decode).
void checkAudioFile(const std::string& path);

/// Reads every frame and averages the channels. Raises CommandError as
/// checkAudioFile does, and for a file that holds no audio.
MonoAudio readMonoAudio(const std::string& path);

} // namespace corvane::cli
