// Where windows start and end: contiguous, covering the file, in the node's
// 16 kHz samples, never shorter than the node can be sure to hold, never
// longer than it keeps.

#include <optional>
#include <ostream>
#include <vector>

#include <gtest/gtest.h>

#include "WindowSchedule.h"

namespace corvane::cli {

// Outside the anonymous namespace, where GoogleTest looks for it.
void PrintTo(const WindowSchedule::Window& window, std::ostream* out)
{
    *out << window.start << ".." << window.end;
}

namespace {

using Window = WindowSchedule::Window;

TEST(WindowSchedule, WindowsOfEachScheduleInTurn)
{
    struct Schedule {
        const char* what;
        double sampleRate;
        std::uint64_t fileFrames;
        double stepSeconds;
        int stepsSkippedFirst;
        std::vector<std::optional<Window>> windows; ///< endWindow(), call after call; a last nullopt: finished.
    };
    const Schedule schedules[]{
        {"11.3 s at 44.1 kHz in 2 s steps", 44100.0, 498330, 2.0, 0,
         {Window{0, 32000}, Window{32000, 64000}, Window{64000, 96000}, Window{96000, 128000},
          Window{128000, 160000}, Window{160000, 180800}, std::nullopt}},
        {"file frames round to the nearest node sample (81024.58)", 22050.0, 111662, 30.0, 0, {Window{0, 81025}}},
        {"a step too short for the node grows into the next ones", 16000.0, 16000, 0.02, 0,
         {std::nullopt, std::nullopt, Window{0, 960}}},
        {"the final window is kept however short", 16000.0, 32010, 2.0, 0,
         {Window{0, 32000}, Window{32000, 32010}, std::nullopt}},
        {"skipped steps make the next window reach back", 16000.0, 160000, 1.0, 2,
         {Window{0, 48000}, Window{48000, 64000}}},
        {"a window longer than the node keeps starts 30 s before its end", 16000.0, 1600000, 25.0, 1,
         {Window{320000, 800000}, Window{800000, 1200000}}},
    };
    for (const Schedule& expected : schedules) {
        SCOPED_TRACE(expected.what);
        WindowSchedule schedule(expected.sampleRate, expected.fileFrames, expected.stepSeconds);
        for (int i = 0; i < expected.stepsSkippedFirst; ++i)
            schedule.skipStep();
        for (std::size_t i = 0; i < expected.windows.size(); ++i)
            EXPECT_EQ(schedule.endWindow(), expected.windows[i]) << "call " << i;
        EXPECT_TRUE(expected.windows.back() || schedule.isFinished());
    }
}

} // namespace
} // namespace corvane::cli
