#pragma once

#include <string>

#include <corvane/graph/Node.h>

namespace corvane {

/// A node that takes part in audio processing.
/// Threading: onGraphStart/onGraphStop come from the control thread that starts
/// and stops the graph, never concurrently with each other.
class CORVANE_API AudioNode : public Node {
public:
    AudioNode();
    ~AudioNode() override;

    /// The name shown to users; by default the "displayName" value, else "".
    virtual std::string getDisplayName();
    virtual void onGraphStart();
    virtual void onGraphStop();
};

} // namespace corvane
