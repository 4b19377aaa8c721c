#pragma once

#include <cstdint>
#include <vector>

namespace corvane {

/// What a bus carries, agreed when the graph negotiates formats.
struct AudioBusFormat {
    std::uint32_t numberOfChannels = 1;
    double sampleRate = 48000.0;

    bool operator==(const AudioBusFormat&) const = default;
};

/// One format per bus, in bus order.
using AudioBusFormatList = std::vector<AudioBusFormat>;

} // namespace corvane
