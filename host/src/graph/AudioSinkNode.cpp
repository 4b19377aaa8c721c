#include <corvane/graph/AudioSinkNode.h>

namespace corvane {

AudioSinkNode::AudioSinkNode() = default;
AudioSinkNode::~AudioSinkNode() = default;

} // namespace corvane
