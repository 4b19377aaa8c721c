#include "WhisperSTTNodeTypeInfo.h"

namespace corvane::extensions::whisper {

namespace {

// Plain literals only: this may run before the library's other static data is
// initialised.

CVAnyMap parameter(const char* name, const char* type, const char* description, bool isOptional)
{
    return CVAnyMap{
        {"name", name},
        {"type", type},
        {"description", description},
        {"isOptional", isOptional},
    };
}

CVAnyMap dataField(const char* name, const char* type, const char* description)
{
    return CVAnyMap{
        {"name", name},
        {"type", type},
        {"description", description},
    };
}

CVAnyMap event(const char* name, const char* description, CVAnyMap data)
{
    return CVAnyMap{
        {"name", name},
        {"description", description},
        {"data", std::move(data)},
    };
}

CVAnyMap makeActions()
{
    CVAnyMap transcribe{
        {"description",
         "Triggers transcription of the current input buffer. When start/end are omitted, transcribes "
         "everything received since the previous transcribe call (capped to the 30 s window)."},
        {"parameters",
         CVAnyMap{
             {"start", parameter("start", "int",
                                 "Start sample index for transcription (16 kHz, absolute). Optional: omit "
                                 "together with 'end' to transcribe since the last transcribe call.",
                                 true)},
             {"end", parameter("end", "int",
                               "End sample index for transcription (16 kHz, absolute). Optional: omit "
                               "together with 'start'.",
                               true)},
         }},
    };

    CVAnyMap loadModel{
        {"description",
         "Loads a ggml Whisper model from an absolute file path. Emits modelLoaded or modelLoadFailed."},
        {"parameters",
         CVAnyMap{
             {"modelPath", parameter("modelPath", "string", "Absolute path to the .bin ggml model file.", false)},
             {"useGPU", parameter("useGPU", "boolean", "Enable GPU (Metal) acceleration.", true)},
         }},
    };

    // No "parameters" key at all: the action takes none.
    CVAnyMap resetTranscribeWindow{
        {"description",
         "Clears the input buffer and resets the since-last-transcribe window to 'now'. Call after routing "
         "audio to this node (e.g. after flipping a BusSwitch) so stale/silent audio is not transcribed."},
    };

    CVAnyMap endUtterance{
        {"description",
         "With autoTranscribe: ends the utterance under way as if the speaker had paused, so that it is "
         "transcribed. Call at the end of a stream."},
    };

    CVAnyMap getProgress{
        {"description",
         "Returns how far the node has got, in 16 kHz sample indices: receivedSamples, examinedSamples (looked at "
         "for utterances), neededFrom (the oldest sample still to be transcribed; a host feeding faster than real "
         "time keeps receivedSamples - neededFrom under the 30 s history) and pendingUtterances (ended, not yet "
         "delivered)."},
    };

    return CVAnyMap{
        {"transcribe", std::move(transcribe)},
        {"loadModel", std::move(loadModel)},
        {"resetTranscribeWindow", std::move(resetTranscribeWindow)},
        {"endUtterance", std::move(endUtterance)},
        {"getProgress", std::move(getProgress)},
    };
}

CVAnyMap makeEvents()
{
    return CVAnyMap{
        {"transcribed",
         event("transcribed", "Emitted when transcription is completed.",
               CVAnyMap{
                   {"text", dataField("text", "string", "The transcribed text.")},
                   {"processingTime",
                    dataField("processingTime", "int", "Time taken for transcription in milliseconds.")},
                   {"start", dataField("start", "int", "First sample of the window transcribed (16 kHz, absolute).")},
                   {"end", dataField("end", "int", "One past the last sample of the window (16 kHz, absolute).")},
                   {"segments",
                    dataField("segments", "map",
                              "The recognised segments, keyed by their zero-padded position (\"000\", \"001\", ...) "
                              "so that the map iterates in order. Each has text (cleaned as text is), start and end "
                              "(16 kHz sample indices, absolute; never in the silence that pads a short window), "
                              "probability (the mean probability of its text tokens), noSpeechProbability and, with "
                              "wordTimestamps, words, keyed the same way: text, start, end and probability of each "
                              "word.")},
                   {"language",
                    dataField("language", "string", "With language \"auto\": the language detected (ISO 639-1).")},
                   {"languageProbability",
                    dataField("languageProbability", "float",
                              "With language \"auto\": how sure the detection is, from 0 to 1.")},
               })},
        {"transcriptionFailed",
         event("transcriptionFailed",
               "Emitted instead of transcribed when a transcription request, or an utterance, could not be "
               "transcribed: every accepted request ends in one of the two.",
               CVAnyMap{
                   {"error", dataField("error", "string", "What failed, then the library's own text.")},
                   {"processingTime", dataField("processingTime", "int", "Time spent before it failed, in milliseconds.")},
                   {"start", dataField("start", "int", "First sample of the window asked for (16 kHz, absolute).")},
                   {"end", dataField("end", "int", "One past the last sample of the window asked for (16 kHz, absolute).")},
               })},
        {"partialTranscription",
         event("partialTranscription",
               "Emitted with autoTranscribe and partialResults while an utterance is under way: interim text that "
               "its transcribed event replaces.",
               CVAnyMap{
                   {"text", dataField("text", "string", "The interim text of the utterance so far, less its last word, which the audio may end inside.")},
                   {"stableText",
                    dataField("stableText", "string",
                              "The leading words that two interim results in a row agreed on; it only grows within "
                              "an utterance, and the utterance's final text is steered to begin with it.")},
                   {"processingTime",
                    dataField("processingTime", "int", "Time taken for the interim run in milliseconds.")},
                   {"start", dataField("start", "int", "First sample of the utterance (16 kHz, absolute).")},
                   {"end", dataField("end", "int", "One past the last sample heard so far (16 kHz, absolute).")},
               })},
        {"modelLoaded",
         event("modelLoaded", "Emitted when a model is loaded successfully.",
               CVAnyMap{
                   {"modelPath", dataField("modelPath", "string", "Path of the loaded model.")},
               })},
        {"modelLoadFailed",
         event("modelLoadFailed", "Emitted when loading a model fails.",
               CVAnyMap{
                   {"modelPath", dataField("modelPath", "string", "Path of the model that failed.")},
                   {"error", dataField("error", "string", "Failure reason.")},
               })},
    };
}

/// Configuration keys added after the node's first release, described so
/// that hosts can offer them.
CVAnyMap makeConfiguration()
{
    return CVAnyMap{
        {"flashAttention",
         parameter("flashAttention", "boolean",
                   "Use flash attention in whisper.cpp for every model load, including loadModel. On a CPU it "
                   "roughly halves the time of a run. Default: false.",
                   true)},
        {"language",
         parameter("language", "string",
                   "The spoken language as an ISO 639-1 code (\"de\", \"fr\", ...), or \"auto\" to detect it in "
                   "each run. A model that speaks English only transcribes English whatever is asked. Default: en.",
                   true)},
        {"translate",
         parameter("translate", "boolean",
                   "Translate the speech into English (multilingual models only). Default: false.", true)},
        {"wordTimestamps",
         parameter("wordTimestamps", "boolean",
                   "Give each segment of transcribed its words (whisper's tokens joined at leading spaces; "
                   "punctuation stays with its word), each with text, start, end and probability. Default: false.",
                   true)},
        {"autoTranscribe",
         parameter("autoTranscribe", "boolean",
                   "Find utterances in the audio and transcribe each once it ends (a pause of utterancePauseMs, or "
                   "maxUtteranceSeconds of speech), emitting transcribed with its start and end. transcribe "
                   "actions still work and come first. Default: false.",
                   true)},
        {"partialResults",
         parameter("partialResults", "boolean",
                   "With autoTranscribe: transcribe the utterance under way about every partialIntervalMs and emit "
                   "partialTranscription, never delaying a final transcribed. Default: true.",
                   true)},
        {"partialIntervalMs",
         parameter("partialIntervalMs", "int",
                   "With partialResults: milliseconds between interim runs of the same utterance (100 to 10000). "
                   "Default: 1000.",
                   true)},
        {"utterancePauseMs",
         parameter("utterancePauseMs", "int",
                   "With autoTranscribe: the pause, in milliseconds, that ends an utterance (50 to 5000). "
                   "Default: 300.",
                   true)},
        {"maxUtteranceSeconds",
         parameter("maxUtteranceSeconds", "float",
                   "With autoTranscribe: the longest utterance, in seconds (1 to 30, the history); longer speech is "
                   "cut at its quietest moment. Default: 20.",
                   true)},
    };
}

} // namespace

NodeTypeInfo makeWhisperSTTNodeTypeInfo()
{
    NodeTypeInfo info;
    info.type = "Whisper";
    info.subtype = "STT";
    info.displayName = "Whisper Speech-to-Text";
    info.description = "A speech-to-text node using the Whisper model.";
    info.categories = {"Voice", "AI"};
    info.configuration = makeConfiguration();
    info.properties = CVAnyMap{};
    info.actions = makeActions();
    info.events = makeEvents();
    return info;
}

} // namespace corvane::extensions::whisper
