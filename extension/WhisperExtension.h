#pragma once

#include <memory>
#include <string>

#include <corvane/extensions/Extension.h>

#define CORVANE_WHISPER_API __attribute__((visibility("default")))

namespace corvane::extensions::whisper {

/// The library's front door: registered with the host's ExtensionManager when
/// the library is loaded; hands out factories for the Whisper speech-to-text
/// node. Stateless, so the host may call it from any thread.
class CORVANE_WHISPER_API WhisperExtension : public Extension {
public:
    WhisperExtension();
    ~WhisperExtension() override;

    /// "Whisper".
    std::string getName() override;
    /// One sentence saying what the extension does.
    std::string getDescription() override;
    /// A new factory on every call; each registers the node type itself.
    std::shared_ptr<NodeFactory> getNodeFactory() override;

    /// Registers one new extension object with the host. Runs once on its own
    /// while the library is being loaded; every further call registers another.
    static void load();
};

} // namespace corvane::extensions::whisper

/// Does nothing. An application that refers to it keeps the library linked
/// and loaded, which is what makes the registration run.
extern "C" CORVANE_WHISPER_API void cv_extension_anchor_CorvaneWhisper();
