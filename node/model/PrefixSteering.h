#pragma once

#include <string>
#include <vector>

#include <whisper.h>

namespace corvane::extensions::whisper {

/// Steers whisper.cpp's decoder through a known start of the text: words a
/// display has already shown as settled, which a later run of the same audio
/// should not take back. While the tokens decoded so far are the start of the
/// known ones, the next known token is lifted above every other text token;
/// timestamps keep their own rules, so segments and times come out as usual.
/// Where the model's own rules rule the token out, or the decode has left
/// the known text, decoding goes on unsteered.
///
/// Threads: one run at a time, under the model's lock (the worker thread).
class PrefixSteering {
public:
    /// Tokenizes `text` with `context`'s vocabulary; empty text steers
    /// nothing. Returns whether there is anything to steer through.
    bool steerThrough(whisper_context* context, const std::string& text);
    /// Steers nothing until the next steerThrough().
    void clear() noexcept { known.clear(); }
    const std::vector<whisper_token>& tokens() const noexcept { return known; }

    /// whisper.cpp's logits filter; `self` is the PrefixSteering.
    static void filter(whisper_context* context, whisper_state* state, const whisper_token_data* tokens, int count,
                       float* logits, void* self);

private:
    std::vector<whisper_token> known;
};

} // namespace corvane::extensions::whisper
