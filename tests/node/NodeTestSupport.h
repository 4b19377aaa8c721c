#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <corvane/audio/AudioBus.h>
#include <sndfile.h>

#include "TestModels.h"
#include "WhisperSTTNode.h"
#include "AudioIntake.h"
#include "ModelSlot.h"
#include "TranscriptionRequests.h"
#include "TranscriptionWorker.h"

namespace corvane::test {

using extensions::whisper::WhisperSTTNode;

/// A node on the weight-less test model, CPU only, plus `extra` keys.
inline CVAnyMap testModelConfig(CVAnyMap extra = {})
{
    CVAnyMap config{{"modelPath", weightlessTinyModel()}, {"useGPU", false}, {"numberOfThreads", 2}};
    for (const auto& [key, value] : extra)
        config.set(key, value);
    return config;
}

/// Feeds mono samples recorded at `rate` through consume() in blocks.
inline void feed(WhisperSTTNode& node, const std::vector<float>& samples, double rate, std::size_t blockFrames)
{
    for (std::size_t offset = 0; offset < samples.size(); offset += blockFrames) {
        AudioBus bus;
        bus.setBuffer(AudioBuffer<float>(const_cast<float*>(samples.data() + offset),
                                         static_cast<uint32_t>(std::min(blockFrames, samples.size() - offset)), rate));
        node.consume(bus);
    }
}

inline std::vector<float> sine(double frequency, double rate, double seconds, float amplitude = 0.3f)
{
    std::vector<float> samples(static_cast<std::size_t>(rate * seconds));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = amplitude * static_cast<float>(std::sin(2.0 * M_PI * frequency * static_cast<double>(i) / rate));
    return samples;
}

/// A stretch of signal over the case's background noise: nothing, or
/// syllables of a 220 Hz tone with a harmonic (voiced speech as far as energy
/// goes): 250 ms at the level, then 50 ms 20 dB lower, no pause.
struct Piece {
    double seconds, toneDbfs; ///< toneDbfs -200: no tone
};
inline constexpr double kNone = -200.0;

inline std::vector<float> render(const std::vector<Piece>& pieces, double noiseDbfs, double rate)
{
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0.0f, static_cast<float>(std::pow(10.0, noiseDbfs / 20.0)));
    std::vector<float> samples;
    for (const Piece& piece : pieces) {
        const double amplitude = std::pow(10.0, piece.toneDbfs / 20.0);
        for (long i = 0; i < std::lround(piece.seconds * rate); ++i) {
            const double t = static_cast<double>(samples.size()) / rate;
            const double syllable = std::fmod(static_cast<double>(i) / rate, 0.3) < 0.25 ? 1.0 : 0.1;
            const double tone = std::sin(2 * M_PI * 220 * t) + 0.5 * std::sin(2 * M_PI * 660 * t);
            samples.push_back(static_cast<float>(amplitude * syllable * tone) + noise(random));
        }
    }
    return samples;
}

/// A 16 kHz mono file's samples; raises for anything else.
inline std::vector<float> readMono16k(const std::string& path)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr || info.samplerate != 16000 || info.channels != 1)
        throw std::runtime_error(path + " is not 16 kHz mono");
    std::vector<float> samples(static_cast<std::size_t>(info.frames));
    sf_readf_float(file, samples.data(), info.frames);
    sf_close(file);
    return samples;
}

/// Collects an emitter's events (from any thread); the test waits for them.
class EventRecorder {
public:
    struct Event {
        std::string name;
        CVAny data;
    };

    explicit EventRecorder(EventEmitter& emitter) : emitter(emitter)
    {
        id = emitter.addListener(EventEmitter::kAnyEvent, [this](const std::string& name, const CVAny& data) {
            std::lock_guard<std::mutex> lock(mutex);
            events.push_back({name, data});
            changed.notify_all();
        });
    }
    ~EventRecorder() { emitter.removeListener(id); }

    void clear()
    {
        std::lock_guard<std::mutex> lock(mutex);
        events.clear();
    }

    std::vector<Event> all() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return events;
    }

    std::vector<Event> named(const std::string& name) const
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<Event> result;
        std::copy_if(events.begin(), events.end(), std::back_inserter(result), [&](const Event& e) { return e.name == name; });
        return result;
    }

    bool waitFor(const std::string& name, std::size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(120)) const
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, timeout, [&] {
            return std::count_if(events.begin(), events.end(), [&](const Event& e) { return e.name == name; }) >=
                   static_cast<std::ptrdiff_t>(n);
        });
    }

private:
    EventEmitter& emitter;
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::vector<Event> events;
    EventEmitter::ListenerId id = 0;
};

/// The text of a "transcribe" once `audio` (mono at `rate`) is fed; "(none)" when none comes in time.
inline std::string transcribeAll(WhisperSTTNode& node, const std::vector<float>& audio, double rate = 16000.0,
                                 std::chrono::minutes timeout = std::chrono::minutes(2))
{
    EventRecorder events(node);
    feed(node, audio, rate, static_cast<std::size_t>(rate / 100));
    if (!node.callAction("transcribe", {}).isOk() || !events.waitFor("transcribed", 1, timeout))
        return "(none)";
    return events.named("transcribed").at(0).data.asMap().at("text").asString();
}

/// Points the node's later loads at another Silero model file.
inline void useVadModel(WhisperSTTNode& node, const std::string& path)
{
    auto options = node.modelSlot().options();
    options.vadModelPath = path;
    node.modelSlot().keepOptions(options);
}

inline std::string writeNotAModel(const std::string& name) // a file that exists but is not a model
{
    std::ofstream(std::string(CORVANE_TEST_DATA_DIR) + "/" + name) << "this is not a ggml model\n";
    return std::string(CORVANE_TEST_DATA_DIR) + "/" + name;
}

} // namespace corvane::test
