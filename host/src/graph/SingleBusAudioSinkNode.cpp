#include <corvane/graph/SingleBusAudioSinkNode.h>

namespace corvane {

SingleBusAudioSinkNode::SingleBusAudioSinkNode() = default;
SingleBusAudioSinkNode::~SingleBusAudioSinkNode() = default;

bool SingleBusAudioSinkNode::setBusFormats(AudioBusFormatList& formats)
{
    if (formats.size() != 1)
        return false;
    return setBusFormat(formats.front());
}

bool SingleBusAudioSinkNode::consume(AudioBusList& buses)
{
    // Audio thread: an exception here would unwind into the host's audio
    // callback, so a failing block is reported as not consumed instead.
    try {
        if (buses.getNumberOfBuses() == 0)
            return false;
        return consume(buses.getBus(0));
    } catch (...) {
        return false;
    }
}

} // namespace corvane
