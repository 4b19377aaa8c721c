#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include <corvane/graph/AudioSinkNode.h>

#include "AudioFileReader.h"
#include "CommandError.h"
#include "Commands.h"
#include "FileTranscription.h"
#include "StatusReporter.h"
#include "TranscriptPrinter.h"
#include "TranscriptionQueue.h"
#include "UtteranceFileTranscription.h"
#include "WhisperNodeSetup.h"

#ifndef CORVANE_WHISPER_DEFAULT_SAMPLE
#error "CORVANE_WHISPER_DEFAULT_SAMPLE must name the speech sample transcribed when no file is given"
#endif

namespace corvane::cli {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::vector<std::string> filesToTranscribe(const CommandLineOptions& options)
{
    if (!options.files.empty())
        return options.files;
    const std::string sample = CORVANE_WHISPER_DEFAULT_SAMPLE;
    if (!std::filesystem::exists(sample))
        throw CommandError("no audio file given, and the default speech sample " + sample +
                           " is missing: run scripts/fetch-whisper to get it, or name audio files");
    return {sample};
}

} // namespace

int runTranscribe(const CommandLineOptions& options)
{
    // Everything that can be checked cheaply is, before a model is loaded.
    const std::vector<std::string> files = filesToTranscribe(options);
    for (const std::string& file : files)
        checkAudioFile(file);

    // Declared before the node: the node's listener refers to it.
    TranscriptionQueue queue;
    const WhisperNode whisper = createWhisperNode(options);
    whisper.node->addListener("transcribed", [&queue](const std::string&, const CVAny& data) { queue.push(data); });
    whisper.node->addListener("partialTranscription",
                              [&queue](const std::string&, const CVAny& data) { queue.push(data, false); });

    TranscriptPrinter printer(stdout, options.json, options.partials);
    StatusReporter status(options.quiet);
    TranscriptionSettings settings;
    settings.stepSeconds = options.stepSeconds;
    settings.maxWindowSeconds = options.maxWindowSeconds;
    settings.realtime = options.realtime;
    settings.timeout = std::chrono::milliseconds(static_cast<long long>(options.timeoutSeconds * 1000.0));
    std::unique_ptr<FileTranscriber> transcription;
    if (settings.stepSeconds > 0.0)
        transcription = std::make_unique<FileTranscription>(*whisper.sink, queue, printer, status, settings);
    else
        transcription = std::make_unique<UtteranceFileTranscription>(*whisper.sink, queue, printer, status, settings);

    const Clock::time_point started = Clock::now();
    double audioSeconds = 0.0;
    try {
        for (const std::string& file : files) {
            MonoAudio audio = readMonoAudio(file);
            audioSeconds += audio.getDurationSeconds();
            transcription->run(file, audio);
        }
    } catch (const TranscriptionTimeout& timeout) {
        leaveAfterTimeout(status, timeout);
    }

    status.printSummary(audioSeconds, secondsSince(started), whisper.loadSeconds);
    return kExitSuccess;
}

} // namespace corvane::cli
