#pragma once

#include <corvane/core/CVAny.h>

#include "Transcription.h"

namespace corvane::extensions::whisper {

/// The data of the "transcribed" event: "text", "processingTime", "start",
/// "end" and "segments", and with a detected language "language" and
/// "languageProbability". CVAny has no list, so "segments" (and each
/// segment's "words") is a map keyed by the zero-padded position ("000",
/// "001", ...), which iterates in order; positions have more digits only
/// past 999 entries, all of them alike.
CVAnyMap makeTranscribedEventData(const Transcription& result);

} // namespace corvane::extensions::whisper
