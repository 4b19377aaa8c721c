#pragma once

#include <vector>

#include <whisper.h>

#include "SpeechTimeline.h"
#include "TokenTiming.h"
#include "Transcription.h"

namespace corvane::extensions::whisper {

/// The segments of the context's last run: text, times, the mean probability
/// of their text tokens and whisper.cpp's no-speech probability; with
/// `withWords`, each segment's words as well. A segment runs from its first
/// text token's start to its last one's end (`timing`, for the same run),
/// which follow the speech more closely than whisper.cpp's segment times.
/// Times are offsets from the window's first sample, told through
/// `timeline`, so they never fall in audio the window does not have
/// (padding, the silence between joined speech).
void readSegments(whisper_context* context, const TokenTiming& timing, const SpeechTimeline& timeline,
                  bool withWords, std::vector<TranscribedSegment>& segments);

} // namespace corvane::extensions::whisper
