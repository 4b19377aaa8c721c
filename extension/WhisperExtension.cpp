#include "WhisperExtension.h"

#include <corvane/extensions/ExtensionManager.h>

#include "WhisperNodeFactory.h"

namespace corvane::extensions::whisper {

WhisperExtension::WhisperExtension() = default;
WhisperExtension::~WhisperExtension() = default;

std::string WhisperExtension::getName()
{
    return "Whisper";
}

std::string WhisperExtension::getDescription()
{
    return "Whisper integration for on-device speech-to-text transcription.";
}

std::shared_ptr<NodeFactory> WhisperExtension::getNodeFactory()
{
    return std::make_shared<WhisperNodeFactory>();
}

void WhisperExtension::load()
{
    auto& manager = ExtensionManager::getInstance();
    manager.registerExtension(std::make_shared<WhisperExtension>());
}

namespace {

// Registration happens while the loader initialises the library; nothing is
// undone at unload.
[[maybe_unused]] const bool registeredAtLoad = (WhisperExtension::load(), true);

} // namespace

} // namespace corvane::extensions::whisper

extern "C" void cv_extension_anchor_CorvaneWhisper() {}
