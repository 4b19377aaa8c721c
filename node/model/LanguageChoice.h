#pragma once

#include <string>

#include <whisper.h>

namespace corvane::extensions::whisper {

/// The language a run asks whisper.cpp for: the configured one ("language",
/// "translate"), or with "auto" the one detected in each run; English
/// without translation on a model that speaks English only.
///
/// Threads: configure() while the node is being built; useModel() by a model
/// load and detect() by a run, both under the model slot's lock.
class LanguageChoice {
public:
    /// A code whisper.cpp knows ("de", "auto", ...) and whether to translate
    /// into English. An unknown code is logged and the choice stays English.
    void configure(const std::string& code, bool translate);

    /// For a newly loaded model: points params at the language to use, and
    /// says so once when an English-only model cannot do what was asked.
    void useModel(whisper_context* context, whisper_full_params& params);

    /// Whether each run detects its language.
    bool detects() const noexcept { return detecting; }
    /// Detects the language of `samples` (with "auto" on a multilingual
    /// model) and points params at it for this run; restore() undoes that.
    /// False when whisper.cpp cannot tell.
    bool detect(whisper_context* context, whisper_full_params& params, const float* samples, int count);
    void restore(whisper_full_params& params) const noexcept;

    const std::string& detectedLanguage() const noexcept { return detected; }
    float detectedProbability() const noexcept { return probability; }

private:
    std::string code = "en";
    bool translate = false;
    bool detecting = false;
    std::string detected;
    float probability = 0.0f;
};

} // namespace corvane::extensions::whisper
