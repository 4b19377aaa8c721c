// corvane-make-test-model --model tiny.en|base.en OUTPUT
//
// Writes a weight-less Whisper model for tests: whisper.cpp loads and runs it
// like the real model of that size, without the real model's download.
#include "TestModelShape.h"
#include "TestModelWriter.h"

#include <iostream>
#include <string_view>

namespace {

int usage()
{
    std::cerr << "usage: corvane-make-test-model --model " << corvane::testmodel::knownTestModelNames()
              << " OUTPUT\n";
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4 || std::string_view(argv[1]) != "--model")
        return usage();

    const auto shape = corvane::testmodel::findTestModelShape(argv[2]);
    if (!shape) {
        std::cerr << "corvane-make-test-model: unknown model \"" << argv[2] << "\"\n";
        return usage();
    }

    if (const auto error = corvane::testmodel::writeTestModelFile(*shape, argv[3]); !error.empty()) {
        std::cerr << "corvane-make-test-model: " << error << "\n";
        return 1;
    }
    return 0;
}
