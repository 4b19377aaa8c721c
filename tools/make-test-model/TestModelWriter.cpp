#include "TestModelWriter.h"

#include "AtomicFileWrite.h"
#include "TestVocabulary.h"
#include "WhisperFileHeader.h"

namespace corvane::testmodel {

void writeTestModel(const TestModelShape& shape, std::ostream& out)
{
    auto tokens = makeTestVocabulary();
    if (shape.tokenCount > 0 && shape.tokenCount < tokens.size())
        tokens.resize(shape.tokenCount);
    modelfile::writeWhisperHeader(out, shape, tokens);
    // The file ends here: whisper.cpp stops reading tensors at end of file
    // and, having read none, keeps the model as it is.
}

std::string writeTestModelFile(const TestModelShape& shape, const std::filesystem::path& path)
{
    return modelfile::writeFileAtomically(path, [&shape](std::ostream& out) { writeTestModel(shape, out); });
}

} // namespace corvane::testmodel
