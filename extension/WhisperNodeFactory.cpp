#include "WhisperNodeFactory.h"

#include "WhisperSTTNode.h"
#include "WhisperSTTNodeTypeInfo.h"

namespace corvane::extensions::whisper {

WhisperNodeFactory::WhisperNodeFactory()
{
    // The creator lets the node's constructor raise straight to the host: a
    // node that cannot be built is not handed out half-made.
    NodeCreator creator = [](const CVAnyMap& config) -> Node* { return new WhisperSTTNode(config); };
    registerNode(makeWhisperSTTNodeTypeInfo(), std::move(creator));
}

WhisperNodeFactory::~WhisperNodeFactory() = default;

std::string WhisperNodeFactory::getName()
{
    return "Whisper";
}

} // namespace corvane::extensions::whisper
