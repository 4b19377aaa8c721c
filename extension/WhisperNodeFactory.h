#pragma once

#include <string>

#include <corvane/graph/NodeFactory.h>

namespace corvane::extensions::whisper {

/// Registers the Whisper speech-to-text node type with itself on construction.
/// Holds no state afterwards; the host may create nodes from any thread.
class WhisperNodeFactory : public NodeFactory {
public:
    WhisperNodeFactory();
    ~WhisperNodeFactory() override;

    /// "Whisper".
    std::string getName() override;
};

} // namespace corvane::extensions::whisper
