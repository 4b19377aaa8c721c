// A WhisperSTTNode built, without a model, from any configuration map: keys from the node's own and random text,
// values of any kind. Construction raises, and only a std::exception, exactly when one of the node's keys holds a
// value that does not convert to that key's type; a node that was built is usable and will not transcribe.

#include <map>

#include <corvane/core/Logger.h>

#include "CVAnyDecoder.h"
#include "FuzzCheck.h"
#include "ModelSlot.h"
#include "WhisperSTTNode.h"

using namespace corvane;

namespace {

using Conversion = void (*)(const CVAny&);
const Conversion toBool = [](const CVAny& v) { (void)CVAny::convert<bool>(v); };
const Conversion toInt = [](const CVAny& v) { (void)CVAny::convert<int>(v); };
const Conversion toFloat = [](const CVAny& v) { (void)CVAny::convert<float>(v); };
const Conversion toText = [](const CVAny& v) { (void)CVAny::convert<std::string>(v); };
const std::map<std::string, Conversion> kNodeKeys{
    {"initializeModel", toBool}, {"useGPU", toBool}, {"vad", toBool}, {"singleSegment", toBool},
    {"suppressNonSpeechTokens", toBool}, {"suppressNonSpeechAnnotations", toBool}, {"modelPath", toText},
    {"grammar", toText}, {"numberOfThreads", toInt}, {"reservedCoresForAudio", toInt}, {"maxTokens", toInt},
    {"noSpeechThreshold", toFloat}, {"logProbThreshold", toFloat}};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Logger::setSink([](LogLevel, const std::string&) {}); // unknown keys and odd values are logged: noise here
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    FuzzedDataProvider data(bytes, size);
    std::vector<std::string> keys;
    for (const auto& [key, conversion] : kNodeKeys)
        keys.push_back(key);
    CVAnyMap config = fuzz::CVAnyDecoder{data}.map(0, keys);
    config.set("initializeModel", false); // loading a model is not what this is about, and it is slow
    bool shouldRaise = false;
    for (const auto& [key, value] : config) {
        try {
            kNodeKeys.contains(key) ? kNodeKeys.at(key)(value) : void();
        } catch (const std::exception&) {
            shouldRaise = true;
        }
    }
    std::unique_ptr<extensions::whisper::WhisperSTTNode> node;
    try {
        node = std::make_unique<extensions::whisper::WhisperSTTNode>(config);
    } catch (const std::exception&) {
        return FUZZ_CHECK(shouldRaise), 0;
    }
    const whisper_full_params& params = node->modelSlot().decodingParameters();
    FUZZ_CHECK(!shouldRaise && !node->modelSlot().isReady() && params.n_threads >= 1);
    const std::string grammar = config.hasKey("grammar") ? CVAny::convert<std::string>(config.at("grammar")) : "";
    FUZZ_CHECK(params.n_grammar_rules == (extensions::whisper::parsePhraseList(grammar).empty() ? 0u : 2u));
    FUZZ_CHECK(node->callAction("transcribe", {}).hasError() && node->callAction("resetTranscribeWindow", {}).isOk());
    return 0;
}
