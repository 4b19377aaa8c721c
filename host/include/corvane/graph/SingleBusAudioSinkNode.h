#pragma once

#include <corvane/graph/AudioSinkNode.h>

namespace corvane {

/// A sink with exactly one input bus: the list forms forward that bus to the
/// single-bus forms, which derived nodes implement.
class CORVANE_API SingleBusAudioSinkNode : public AudioSinkNode {
public:
    SingleBusAudioSinkNode();
    ~SingleBusAudioSinkNode() override;

    /// Refuses any list that does not hold exactly one format.
    bool setBusFormats(AudioBusFormatList& formats) override;
    /// Audio thread. Returns false without calling consume(AudioBus&) when the
    /// list holds no bus; never throws.
    bool consume(AudioBusList& buses) override;

    virtual bool setBusFormat(AudioBusFormat& format) = 0;
    /// Audio thread.
    virtual bool consume(AudioBus& bus) = 0;
};

} // namespace corvane
