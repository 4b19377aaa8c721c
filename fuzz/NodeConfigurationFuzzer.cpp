// A WhisperSTTNode built from any configuration map, without a model: keys
// drawn from the node's own and from random text, values of any kind.
// Construction raises exactly when one of the node's keys holds a value that
// does not convert to that key's type, and only a std::exception; a node that
// was built has a usable state and refuses to transcribe without a model.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <corvane/core/Logger.h>

#include "CVAnyDecoder.h"
#include "FuzzCheck.h"
#include "WhisperSTTNode.h"
#include "WhisperSTTNodeImpl.h"

using namespace corvane;
using corvane::extensions::whisper::WhisperSTTNode;

namespace {

enum class KeyType { Bool, Int, Float, String };

const std::map<std::string, KeyType>& nodeKeys()
{
    static const std::map<std::string, KeyType> keys{
        {"initializeModel", KeyType::Bool},
        {"useGPU", KeyType::Bool},
        {"vad", KeyType::Bool},
        {"modelPath", KeyType::String},
        {"numberOfThreads", KeyType::Int},
        {"reservedCoresForAudio", KeyType::Int},
        {"singleSegment", KeyType::Bool},
        {"suppressNonSpeechTokens", KeyType::Bool},
        {"suppressNonSpeechAnnotations", KeyType::Bool},
        {"maxTokens", KeyType::Int},
        {"noSpeechThreshold", KeyType::Float},
        {"logProbThreshold", KeyType::Float},
        {"grammar", KeyType::String},
    };
    return keys;
}

bool converts(const CVAny& value, KeyType type)
{
    try {
        switch (type) {
        case KeyType::Bool: (void)CVAny::convert<bool>(value); break;
        case KeyType::Int: (void)CVAny::convert<int>(value); break;
        case KeyType::Float: (void)CVAny::convert<float>(value); break;
        case KeyType::String: (void)CVAny::convert<std::string>(value); break;
        }
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Unknown keys and odd values are logged; at this rate that is noise.
    Logger::setSink([](LogLevel, const std::string&) {});
    whisper_log_set([](ggml_log_level, const char*, void*) {}, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    FuzzedDataProvider data(bytes, size);
    fuzz::CVAnyDecoder decoder(data);
    std::vector<std::string> keys;
    for (const auto& [key, type] : nodeKeys())
        keys.push_back(key);

    CVAnyMap config = decoder.map(0, keys);
    // Never a model: loading one is not what this is about, and it is slow.
    config.set("initializeModel", false);

    bool shouldRaise = false;
    for (const auto& [key, value] : config) {
        const auto known = nodeKeys().find(key);
        if (known != nodeKeys().end() && !converts(value, known->second))
            shouldRaise = true;
    }

    std::unique_ptr<WhisperSTTNode> node;
    try {
        node = std::make_unique<WhisperSTTNode>(config);
    } catch (const std::exception&) {
        FUZZ_CHECK(shouldRaise);
        return 0;
    }
    FUZZ_CHECK(!shouldRaise);

    WhisperSTTNode::Impl& state = node->getImpl();
    FUZZ_CHECK(!state.modelReady.load());
    FUZZ_CHECK(state.params.n_threads >= 1);
    if (config.hasKey("grammar")) {
        const bool phrases = !extensions::whisper::parsePhraseList(CVAny::convert<std::string>(config.at("grammar"))).empty();
        FUZZ_CHECK(state.params.n_grammar_rules == (phrases ? 2u : 0u));
    }
    FUZZ_CHECK(node->callAction("transcribe", {}).hasError());
    FUZZ_CHECK(node->callAction("resetTranscribeWindow", {}).isOk());
    return 0;
}
