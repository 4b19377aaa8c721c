#include "LanguageChoice.h"

#include <vector>

#include <corvane/core/Logger.h>

namespace corvane::extensions::whisper {

void LanguageChoice::configure(const std::string& requested, bool translateIntoEnglish)
{
    translate = translateIntoEnglish;
    if (requested != "auto" && (requested.empty() || whisper_lang_id(requested.c_str()) < 0)) {
        Logger::error("[WhisperSTTNode] Unknown language: '" + requested + "'; transcribing as en.");
        return;
    }
    code = requested;
}

void LanguageChoice::useModel(whisper_context* context, whisper_full_params& params)
{
    const bool englishOnly = whisper_is_multilingual(context) == 0;
    if (englishOnly && (code != "en" || translate))
        Logger::warning("[WhisperSTTNode] The model speaks English only; transcribing as en" +
                        std::string(code != "en" ? " instead of '" + code + "'" : "") +
                        (translate ? " without translation." : "."));
    const std::string used = englishOnly ? std::string("en") : code;
    // whisper.cpp's own table outlives the parameters that point into it.
    params.language = used == "auto" ? "auto" : whisper_lang_str(whisper_lang_id(used.c_str()));
    params.translate = translate && !englishOnly;
    params.detect_language = false;
    detecting = used == "auto";
}

bool LanguageChoice::detect(whisper_context* context, whisper_full_params& params, const float* samples, int count)
{
    detected.clear();
    probability = 0.0f;
    std::vector<float> probabilities(static_cast<std::size_t>(whisper_lang_max_id()) + 1, 0.0f);
    if (whisper_pcm_to_mel(context, samples, count, params.n_threads) != 0)
        return false;
    const int id = whisper_lang_auto_detect(context, 0, params.n_threads, probabilities.data());
    if (id < 0)
        return false;
    params.language = whisper_lang_str(id);
    detected = params.language;
    probability = probabilities[static_cast<std::size_t>(id)];
    return true;
}

void LanguageChoice::restore(whisper_full_params& params) const noexcept
{
    if (detecting)
        params.language = "auto";
}

} // namespace corvane::extensions::whisper
