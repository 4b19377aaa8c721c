#include "PrefixSteering.h"

#include <algorithm>
#include <cmath>

namespace corvane::extensions::whisper {

namespace {

/// How far the other text tokens fall behind the known one. They stay finite,
/// so that a rule applied after this filter that rules the known token out
/// leaves the decoder a choice.
constexpr float kDrop = 30.0f;
/// The known token's lead over the best of them.
constexpr float kLead = 0.01f;

} // namespace

bool PrefixSteering::steerThrough(whisper_context* context, const std::string& text)
{
    known.clear();
    if (context == nullptr || text.empty())
        return false;
    // whisper.cpp writes a space before each word, the first one included.
    const std::string spaced = text.front() == ' ' ? text : " " + text;
    known.resize(spaced.size() + 1);
    const int count = whisper_tokenize(context, spaced.c_str(), known.data(), static_cast<int>(known.size()));
    known.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
    return !known.empty();
}

void PrefixSteering::filter(whisper_context* context, whisper_state* state, const whisper_token_data* tokens,
                            int count, float* logits, void* self)
{
    const std::vector<whisper_token>& known = static_cast<PrefixSteering*>(self)->known;
    // The known text starts the window: once whisper.cpp has finished a
    // segment and goes on past it, the text that follows is not the start.
    if (known.empty() || whisper_full_n_segments_from_state(state) > 0)
        return;
    // Text tokens come before the end-of-text token; timestamps and the
    // other control tokens after it do not count.
    const whisper_token endOfText = whisper_token_eot(context);
    std::size_t matched = 0;
    for (int i = 0; i < count; ++i) {
        if (tokens[i].id >= endOfText)
            continue;
        if (matched == known.size() || tokens[i].id != known[matched])
            return;
        ++matched;
    }
    if (matched == known.size())
        return;
    const whisper_token next = known[matched];
    if (next < 0 || next >= endOfText || std::isinf(logits[next]))
        return;
    // The known token takes the place of the model's best text choice (or
    // its end of text), so that whether a timestamp comes first is still the
    // model's choice.
    float best = -INFINITY;
    for (whisper_token token = 0; token <= endOfText; ++token)
        best = std::max(best, logits[token]);
    for (whisper_token token = 0; token <= endOfText; ++token)
        if (token != next)
            logits[token] -= kDrop;
    logits[next] = best + kLead;
}

} // namespace corvane::extensions::whisper
