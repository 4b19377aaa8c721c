#include <corvane/graph/AudioNode.h>

namespace corvane {

AudioNode::AudioNode() = default;
AudioNode::~AudioNode() = default;

std::string AudioNode::getDisplayName()
{
    const auto value = getValue("displayName");
    if (value.isOk() && value.getValue().isString())
        return value.getValue().asString();
    return {};
}

void AudioNode::onGraphStart() {}

void AudioNode::onGraphStop() {}

} // namespace corvane
