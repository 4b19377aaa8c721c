#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include <corvane/core/Logger.h>

#include "CaptureDevice.h"
#include "CommandError.h"
#include "Commands.h"
#include "TranscriptPrinter.h"
#include "TranscriptionQueue.h"
#include "NodeUtterances.h"
#include "WhisperNodeSetup.h"

namespace corvane::cli {

namespace {

using Clock = std::chrono::steady_clock;

/// How long the control thread waits for a transcript before it looks at the
/// device and the signals again.
constexpr std::chrono::milliseconds kPollInterval{10};
/// A device that has delivered nothing by then is not going to.
constexpr std::chrono::seconds kFirstAudioWithin{5};
/// Silence fed after the device closes, so the node's converter gives up what
/// it still holds.
constexpr double kFlushSeconds = 0.1;

std::atomic<int> stopSignal{0};
std::atomic<long long> firstSignalAt{0}; // CLOCK_MONOTONIC, ms
static_assert(std::atomic<long long>::is_always_lock_free, "the signal handler needs lock-free atomics");

long long monotonicMilliseconds() noexcept
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now); // async-signal-safe
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

/// The first SIGINT or SIGTERM ends listening. One that comes a second or
/// more later ends the process at once, in case the last transcription
/// hangs; sooner, it is the same signal again (a shell or `timeout` may send
/// it to the process and to its group).
extern "C" void onStopSignal(int signal)
{
    const long long now = monotonicMilliseconds();
    long long expected = 0;
    if (firstSignalAt.compare_exchange_strong(expected, now)) {
        stopSignal.store(signal);
        return;
    }
    if (now - expected >= 1000)
        std::_Exit(128 + signal);
}

void catchStopSignals()
{
    struct sigaction action {};
    action.sa_handler = &onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int listDevices()
{
    const std::vector<std::string> names = CaptureDevice::listNames();
    for (const std::string& name : names)
        std::printf("%s\n", name.c_str());
    if (names.empty())
        std::fprintf(stderr, "corvane-whisper: no capture devices found\n");
    return kExitSuccess;
}

} // namespace

int runListen(const CommandLineOptions& options)
{
    if (options.listDevices)
        return listDevices();

    // The device first: without one there is no point loading a model.
    CaptureDevice capture(options.device);
    const std::string source = options.device.empty() ? "default capture device" : options.device;

    TranscriptionQueue queue;
    const WhisperNode whisper = createWhisperNode(options);
    whisper.node->addListener("transcribed", [&queue](const std::string&, const CVAny& data) { queue.push(data); });
    whisper.node->addListener("partialTranscription",
                              [&queue](const std::string&, const CVAny& data) { queue.push(data, false); });
    negotiateMonoInput(*whisper.sink, capture.getSampleRate(), source);

    TranscriptPrinter printer(stdout, options.json, options.partials);
    StatusReporter status(true);
    NodeUtterances::Settings settings;
    settings.timeout = std::chrono::milliseconds(static_cast<long long>(options.timeoutSeconds * 1000.0));
    settings.reportLatency = true;
    NodeUtterances utterances(*whisper.node, queue, printer, status, settings);
    utterances.beginSource(source);

    catchStopSignals();
    if (!options.quiet)
        std::fprintf(stderr, "corvane-whisper: listening to the %s at %g Hz; Ctrl-C ends\n", source.c_str(),
                     capture.getSampleRate());
    capture.start(*whisper.sink);
    const Clock::time_point started = Clock::now();

    try {
        while (stopSignal.load() == 0) {
            if (capture.hasFailed())
                throw CommandError("the " + source + " stopped delivering audio");
            if (capture.getFramesCaptured() == 0 && Clock::now() - started > kFirstAudioWithin)
                throw CommandError("the " + source + " delivered no audio within " +
                                   std::to_string(kFirstAudioWithin.count()) + " s");
            utterances.pump(kPollInterval);
        }
        Logger::info("Stopped by signal " + std::to_string(stopSignal.load()) + "; transcribing what was heard");

        capture.close();
        capture.feedSilence(kFlushSeconds);
        utterances.drain();
    } catch (const TranscriptionTimeout& timeout) {
        leaveAfterTimeout(status, timeout);
    }
    return kExitSuccess;
}

} // namespace corvane::cli
