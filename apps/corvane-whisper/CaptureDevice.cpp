#include "CaptureDevice.h"

#include <SDL.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

#include <corvane/core/Logger.h>

#include <corvane/audio/AudioBuffer.h>

#include "CommandError.h"

namespace corvane::cli {

namespace {

/// When the device's own rate cannot be told: the node's, which needs no
/// conversion.
constexpr int kFallbackRate = 16000;

/// ALSA's library writes its own complaints (no card, no such PCM) straight
/// to stderr while SDL probes it; the user gets our one line instead, and
/// sees ALSA's with --log-level debug.
class DriverChatterMuted {
public:
    DriverChatterMuted()
    {
        if (Logger::getLevel() == LogLevel::Debug)
            return;
        std::fflush(stderr);
        const int nowhere = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (nowhere < 0)
            return;
        saved = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
        if (saved >= 0)
            ::dup2(nowhere, STDERR_FILENO);
        ::close(nowhere);
    }
    ~DriverChatterMuted()
    {
        if (saved < 0)
            return;
        ::dup2(saved, STDERR_FILENO);
        ::close(saved);
    }

    DriverChatterMuted(const DriverChatterMuted&) = delete;
    DriverChatterMuted& operator=(const DriverChatterMuted&) = delete;

private:
    int saved = -1;
};

/// SDL's audio subsystem, started once for the process and left running.
void startSdlAudio()
{
    static const bool started = [] {
        // Ctrl-C is ours to handle.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        return SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
    }();
    if (!started)
        throw CommandError(std::string("cannot start SDL's audio: ") + SDL_GetError());
}

std::string describe(const std::string& name)
{
    return name.empty() ? "the default capture device" : "the capture device '" + name + "'";
}

/// The device's own rate, or 0 when SDL cannot tell.
int nativeRate(const std::string& name)
{
    SDL_AudioSpec format{};
    if (name.empty()) {
        char* defaultName = nullptr;
        if (SDL_GetDefaultAudioInfo(&defaultName, &format, 1) != 0)
            return 0;
        SDL_free(defaultName);
        return format.freq;
    }
    for (int index = 0; index < SDL_GetNumAudioDevices(1); ++index) {
        const char* candidate = SDL_GetAudioDeviceName(index, 1);
        if (candidate != nullptr && name == candidate && SDL_GetAudioDeviceSpec(index, 1, &format) == 0)
            return format.freq;
    }
    return 0;
}

/// About 20 ms of frames, as SDL wants it: a power of two.
Uint16 blockFrames(int rate)
{
    Uint16 frames = 256;
    while (frames < rate / 50)
        frames = static_cast<Uint16>(frames * 2);
    return frames;
}

} // namespace

std::vector<std::string> CaptureDevice::listNames()
{
    const DriverChatterMuted muted;
    startSdlAudio();
    std::vector<std::string> names;
    for (int index = 0; index < SDL_GetNumAudioDevices(1); ++index)
        if (const char* found = SDL_GetAudioDeviceName(index, 1))
            names.emplace_back(found);
    return names;
}

CaptureDevice::CaptureDevice(const std::string& deviceName) : name(deviceName)
{
    const DriverChatterMuted muted;
    startSdlAudio();
    if (!name.empty()) {
        const int known = SDL_GetNumAudioDevices(1);
        const std::vector<std::string> names = listNames();
        if (known >= 0 && std::find(names.begin(), names.end(), name) == names.end())
            throw CommandError("no capture device named '" + name +
                               "' (corvane-whisper listen --list-devices lists them)");
    }

    SDL_AudioSpec wanted{};
    const int rate = nativeRate(name);
    wanted.freq = rate > 0 ? rate : kFallbackRate;
    wanted.format = AUDIO_F32SYS;
    wanted.channels = 1;
    wanted.samples = blockFrames(wanted.freq);
    wanted.callback = &CaptureDevice::onAudio;
    wanted.userdata = this;
    SDL_AudioSpec obtained{};
    device = SDL_OpenAudioDevice(name.empty() ? nullptr : name.c_str(), 1, &wanted, &obtained,
                                 SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
    if (device == 0)
        throw CommandError("cannot open " + describe(name) + ": " + SDL_GetError());
    sampleRate = obtained.freq;
}

CaptureDevice::~CaptureDevice()
{
    close();
}

void CaptureDevice::start(AudioSinkNode& sink)
{
    SDL_LockAudioDevice(device);
    node = &sink;
    SDL_UnlockAudioDevice(device);
    SDL_PauseAudioDevice(device, 0);
}

bool CaptureDevice::hasFailed() const noexcept
{
    return device != 0 && SDL_GetAudioDeviceStatus(device) == SDL_AUDIO_STOPPED;
}

void CaptureDevice::close() noexcept
{
    if (device != 0)
        SDL_CloseAudioDevice(device); // waits for a callback under way
    device = 0;
}

void CaptureDevice::feedSilence(double seconds)
{
    std::vector<float> silence(static_cast<std::size_t>(std::lround(seconds * sampleRate)), 0.0f);
    deliver(silence.data(), static_cast<std::uint32_t>(silence.size()));
}

void CaptureDevice::onAudio(void* self, std::uint8_t* stream, int length) noexcept
{
    auto* capture = static_cast<CaptureDevice*>(self);
    capture->deliver(reinterpret_cast<float*>(stream), static_cast<std::uint32_t>(length) / sizeof(float));
}

void CaptureDevice::deliver(float* samples, std::uint32_t frames) noexcept
{
    if (node == nullptr || frames == 0)
        return;
    buses.getBus(0).setBuffer(AudioBuffer<float>(samples, frames, sampleRate));
    node->consume(buses);
    framesCaptured.fetch_add(frames, std::memory_order_release);
}

} // namespace corvane::cli
