#include "WhisperNodeSetup.h"

#include <cstdio>

#include "CommandError.h"

namespace corvane::cli {

void negotiateMonoInput(AudioSinkNode& node, double sampleRate, const std::string& source)
{
    AudioBusFormatList formats{AudioBusFormat{1, sampleRate}};
    if (!node.setBusFormats(formats)) {
        char rate[32];
        std::snprintf(rate, sizeof rate, "%g Hz", sampleRate);
        throw CommandError(std::string("the node refused mono audio at ") + rate + " (" + source + ")");
    }
    // Whatever the node still holds from an earlier source is not this one's.
    const Result<CVAny> reset = node.callAction("resetTranscribeWindow", CVAnyMap{});
    if (reset.hasError())
        throw CommandError(reset.getError().getMessage());
}

} // namespace corvane::cli
