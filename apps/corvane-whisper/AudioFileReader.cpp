#include "AudioFileReader.h"

#include <filesystem>
#include <memory>
#include <system_error>

#include <sndfile.h>

#include "CommandError.h"

namespace corvane::cli {

namespace {

struct SndfileCloser {
    void operator()(SNDFILE* file) const noexcept { sf_close(file); }
};
using SndfileHandle = std::unique_ptr<SNDFILE, SndfileCloser>;

/// libsndfile says "System error : ..." for an existing file it may not read,
/// but nothing at all useful for a name that is missing or a folder.
void checkPath(const std::string& path)
{
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (!std::filesystem::exists(status))
        throw CommandError("no such file: " + path);
    if (std::filesystem::is_directory(status))
        throw CommandError("not a file but a folder: " + path);
}

SndfileHandle open(const std::string& path, SF_INFO& info)
{
    checkPath(path);
    info = SF_INFO{};
    SndfileHandle file(sf_open(path.c_str(), SFM_READ, &info));
    if (!file)
        throw CommandError("cannot read audio from " + path + ": " + sf_strerror(nullptr));
    if (info.channels < 1 || info.samplerate < 1)
        throw CommandError("cannot read audio from " + path + ": it declares " + std::to_string(info.channels) +
                           " channels at " + std::to_string(info.samplerate) + " Hz");
    return file;
}

} // namespace

void checkAudioFile(const std::string& path)
{
    SF_INFO info;
    open(path, info);
}

MonoAudio readMonoAudio(const std::string& path)
{
    SF_INFO info;
    const SndfileHandle file = open(path, info);

    MonoAudio audio;
    audio.sampleRate = info.samplerate;
    const auto channels = static_cast<std::size_t>(info.channels);
    // Some decoders (MP3) only estimate the length, so it is a hint only.
    if (info.frames > 0 && info.frames < (sf_count_t{1} << 32))
        audio.samples.reserve(static_cast<std::size_t>(info.frames));

    // Read in chunks so a many-channel file never needs its interleaved form
    // in memory all at once.
    constexpr std::size_t kChunkFrames = 8192;
    std::vector<float> interleaved(kChunkFrames * channels);
    const float scale = 1.0f / static_cast<float>(channels);
    for (;;) {
        const sf_count_t read = sf_readf_float(file.get(), interleaved.data(), static_cast<sf_count_t>(kChunkFrames));
        if (read <= 0)
            break;
        for (sf_count_t frame = 0; frame < read; ++frame) {
            const float* samples = interleaved.data() + static_cast<std::size_t>(frame) * channels;
            float sum = 0.0f;
            for (std::size_t channel = 0; channel < channels; ++channel)
                sum += samples[channel];
            audio.samples.push_back(sum * scale);
        }
    }
    if (sf_error(file.get()) != SF_ERR_NO_ERROR)
        throw CommandError("cannot read audio from " + path + ": " + sf_strerror(file.get()));
    if (audio.samples.empty())
        throw CommandError("no audio in " + path);
    return audio;
}

} // namespace corvane::cli
