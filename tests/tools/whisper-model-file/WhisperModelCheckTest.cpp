// The check a model file passes before whisper.cpp sees it.
#include "DamagedModelFiles.h"
#include "TestModels.h"
#include "WhisperModelCheck.h"

#include <gtest/gtest.h>

namespace {

using corvane::modelfile::checkWhisperModelFile;

TEST(WhisperModelCheck, EachDamageGivesItsReasonAndEachHarmlessOneItsWarning)
{
    const auto folder = std::filesystem::path(CORVANE_TEST_DATA_DIR) / "model-check";
    for (const auto& damage : corvane::test::modelDamages()) {
        const auto report = checkWhisperModelFile(damage.write(folder));
        std::string warnings;
        for (const auto& warning : report.warnings)
            warnings += warning + "\n";
        EXPECT_EQ(report.accepted(), damage.accepted) << damage.name << ": " << report.reason;
        EXPECT_NE((damage.accepted ? warnings : report.reason).find(damage.says), std::string::npos)
            << damage.name << ": " << report.reason << warnings;
        EXPECT_EQ(report.reason.find('\n'), std::string::npos) << damage.name;
        EXPECT_TRUE(*damage.says || report.warnings.empty()) << damage.name << ": " << warnings;
    }
}

TEST(WhisperModelCheckRealModel, AcceptsThePublishedTinyEnWithoutWarnings)
{
    const std::string path = corvane::test::realTinyModel();
    if (path.empty())
        GTEST_SKIP() << "needs ../shared/models/ggml-tiny.en.bin";
    const auto report = checkWhisperModelFile(path);
    EXPECT_TRUE(report.accepted()) << report.reason;
    EXPECT_TRUE(report.warnings.empty()) << report.warnings.front();
    EXPECT_EQ(report.tensorCount, 167);
}

} // namespace
