// minimal-host: the smallest application that transcribes with the Whisper
// node of an installed CorvaneSDK. It loads the extension, creates the node,
// plays a WAV file into it from an audio thread of its own, asks for one
// transcription and prints each "transcribed" event.
//
//   minimal-host speech.wav [model.bin]
//
// Without a model path the node loads its default model, if it finds one.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <sndfile.h>

#include <corvane/Corvane.h>

using namespace corvane;

namespace {

struct MonoAudio {
    std::vector<float> samples;
    double sampleRate = 0.0;
};

/// The whole file, its channels averaged: the node takes mono audio.
MonoAudio readMono(const std::string& path)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr)
        throw std::runtime_error("cannot read " + path + ": " + sf_strerror(nullptr));
    std::vector<float> interleaved(static_cast<std::size_t>(info.frames) * info.channels);
    const sf_count_t frames = sf_readf_float(file, interleaved.data(), info.frames);
    sf_close(file);

    MonoAudio audio{std::vector<float>(static_cast<std::size_t>(frames)), static_cast<double>(info.samplerate)};
    for (sf_count_t frame = 0; frame < frames; ++frame) {
        float sum = 0.0f;
        for (int channel = 0; channel < info.channels; ++channel)
            sum += interleaved[static_cast<std::size_t>(frame * info.channels + channel)];
        audio.samples[static_cast<std::size_t>(frame)] = sum / static_cast<float>(info.channels);
    }
    return audio;
}

/// What an audio graph does on its audio thread: hand the node one 10 ms
/// block per processing cycle, then a little silence so the node's resampler
/// lets go of the last samples.
void playInto(AudioSinkNode& node, MonoAudio& audio)
{
    const auto blockFrames = static_cast<std::size_t>(audio.sampleRate / 100.0);
    audio.samples.resize(audio.samples.size() + 10 * blockFrames, 0.0f);
    AudioBusArray<1> buses;
    for (std::size_t start = 0; start < audio.samples.size(); start += blockFrames) {
        const std::size_t frames = std::min(blockFrames, audio.samples.size() - start);
        buses.getBus(0).setBuffer(
            AudioBuffer<float>(audio.samples.data() + start, static_cast<std::uint32_t>(frames), audio.sampleRate));
        node.consume(buses);
    }
}

} // namespace

int main(int argc, char** argv)
try {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s speech.wav [model.bin]\n", argv[0]);
        return 2;
    }
    MonoAudio audio = readMono(argv[1]);

    ExtensionManager& host = ExtensionManager::getInstance();
    if (const Result<void> loaded = host.loadLibrary(WHISPER_EXTENSION); loaded.hasError())
        throw std::runtime_error(loaded.getError().getMessage());

    // Events arrive on the node's worker thread; the node goes first.
    std::mutex mutex;
    std::condition_variable arrived;
    int events = 0;

    CVAnyMap config{{"useGPU", false}};
    if (argc == 3)
        config.set("modelPath", std::string(argv[2]));
    std::unique_ptr<Node> node = host.createNode("Whisper", config);
    auto& sink = dynamic_cast<AudioSinkNode&>(*node);
    node->addListener("transcribed", [&](const std::string&, const CVAny& data) {
        const CVAnyMap& result = data.asMap();
        std::printf("transcribed: \"%s\" (%lld ms)\n", result.at("text").asString().c_str(),
                    result.at("processingTime").asInteger());
        std::fflush(stdout);
        const std::lock_guard lock(mutex);
        ++events;
        arrived.notify_all();
    });

    AudioBusFormatList formats{AudioBusFormat{1, audio.sampleRate}};
    if (!sink.setBusFormats(formats))
        throw std::runtime_error("the node refused mono audio at this rate");
    std::thread audioThread([&] { playInto(sink, audio); });
    audioThread.join();

    // Everything since the node was created (at most the newest 30 s).
    if (const Result<CVAny> requested = node->callAction("transcribe", {}); requested.hasError())
        throw std::runtime_error(requested.getError().getMessage());

    std::unique_lock lock(mutex);
    if (!arrived.wait_for(lock, std::chrono::minutes(2), [&] { return events > 0; }))
        throw std::runtime_error("no transcription within two minutes");
    return 0;
} catch (const std::exception& error) {
    std::fprintf(stderr, "minimal-host: %s\n", error.what());
    return 1;
}
