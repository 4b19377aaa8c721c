#include "TestModelWriter.h"

#include "AtomicFileWrite.h"
#include "TestVocabulary.h"
#include "WhisperFileHeader.h"

namespace corvane::testmodel {

void writeTestModel(const TestModelShape& shape, std::ostream& out)
{
    modelfile::writeWhisperHeader(out, shape, makeTestVocabulary());
    // The file ends here: whisper.cpp stops reading tensors at end of file
    // and, having read none, keeps the model as it is.
}

std::string writeTestModelFile(const TestModelShape& shape, const std::filesystem::path& path)
{
    return modelfile::writeFileAtomically(path, [&shape](std::ostream& out) { writeTestModel(shape, out); });
}

} // namespace corvane::testmodel
