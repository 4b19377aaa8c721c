#pragma once

#include <corvane/audio/AudioBus.h>
#include <corvane/audio/AudioBusFormat.h>
#include <corvane/graph/AudioNode.h>

namespace corvane {

/// A node that only receives audio.
class CORVANE_API AudioSinkNode : public AudioNode {
public:
    AudioSinkNode();
    ~AudioSinkNode() override;

    /// Control thread, while the graph negotiates formats: one format per input
    /// bus. Returns false to refuse them.
    virtual bool setBusFormats(AudioBusFormatList& formats) = 0;
    /// Audio thread, once per processing cycle: one bus per input.
    virtual bool consume(AudioBusList& buses) = 0;
};

} // namespace corvane
