// The check a model file passes before whisper.cpp sees it.
#include "DamagedModelFiles.h"
#include "TestModels.h"
#include "WhisperModelCheck.h"

#include <gtest/gtest.h>

namespace {

TEST(WhisperModelCheck, EachDamageGivesItsReasonAndEachHarmlessOneItsWarning)
{
    const auto folder = std::filesystem::path(CORVANE_TEST_DATA_DIR) / "model-check";
    for (const auto& damage : corvane::test::modelDamages()) {
        const auto report = corvane::modelfile::checkWhisperModelFile(damage.write(folder));
        const std::string said = report.accepted() ? (report.warnings.empty() ? "" : report.warnings.front()) : report.reason;
        EXPECT_EQ(report.accepted(), damage.accepted) << damage.name << ": " << said;
        EXPECT_TRUE(said.find(damage.says) != said.npos && said.empty() == !*damage.says && said.find('\n') == said.npos)
            << damage.name << ": " << said << " (" << report.warnings.size() << " warnings)";
    }
}

TEST(WhisperModelCheckRealModel, AcceptsThePublishedTinyEnWithoutWarnings)
{
    if (corvane::test::realTinyModel().empty())
        GTEST_SKIP() << "needs ../shared/models/ggml-tiny.en.bin";
    const auto report = corvane::modelfile::checkWhisperModelFile(corvane::test::realTinyModel());
    EXPECT_TRUE(report.accepted() && report.warnings.empty() && report.tensorCount == 167) << report.reason;
}

} // namespace
