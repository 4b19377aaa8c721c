// Where windows start and end: contiguous, covering the file, in the node's
// 16 kHz samples, never shorter than the node can be sure to hold, never
// longer than it keeps.

#include <optional>
#include <vector>

#include <gtest/gtest.h>

#include "WindowSchedule.h"

namespace corvane::cli {
namespace {

using Window = WindowSchedule::Window;

/// Every window of a run that ends a window at every step.
std::vector<Window> allWindows(WindowSchedule& schedule)
{
    std::vector<Window> windows;
    while (!schedule.isFinished()) {
        if (const auto window = schedule.endWindow())
            windows.push_back(*window);
    }
    return windows;
}

TEST(WindowSchedule, WindowsTileTheFileAndTheLastEndsAtItsDuration)
{
    // 11.3 s at 44.1 kHz in steps of 2 s.
    WindowSchedule schedule(44100.0, 498330, 2.0);
    EXPECT_EQ(schedule.getStepEnd(), 88200u);
    const std::vector<Window> windows = allWindows(schedule);
    ASSERT_EQ(windows.size(), 6u);
    EXPECT_EQ(windows.front().start, 0u);
    for (std::size_t i = 1; i < windows.size(); ++i) {
        EXPECT_EQ(windows[i].start, windows[i - 1].end);
        EXPECT_EQ(windows[i].end - windows[i].start, i + 1 < windows.size() ? 32000u : 20800u);
    }
    EXPECT_EQ(windows.back().end, 180800u);
    EXPECT_DOUBLE_EQ(windows.back().getEndSeconds(), 11.3);
}

TEST(WindowSchedule, FileFramesBecomeRoundedNodeSamples)
{
    const WindowSchedule schedule(22050.0, 111662, 5.0);
    EXPECT_EQ(schedule.toNodeSamples(111662), 81025u); // 81024.58...
    EXPECT_EQ(schedule.toNodeSamples(22050), 16000u);
    EXPECT_EQ(schedule.toNodeSamples(1), 1u);
}

TEST(WindowSchedule, AStepTooShortForTheNodeGrowsIntoTheNextOne)
{
    // 20 ms steps: the first window waits until it holds 60 ms.
    WindowSchedule schedule(16000.0, 16000, 0.02);
    EXPECT_EQ(schedule.endWindow(), std::nullopt);
    EXPECT_EQ(schedule.endWindow(), std::nullopt);
    EXPECT_EQ(schedule.endWindow(), (Window{0, 960}));
}

TEST(WindowSchedule, TheFinalWindowIsKeptHoweverShort)
{
    WindowSchedule schedule(16000.0, 32010, 2.0);
    EXPECT_EQ(schedule.endWindow(), (Window{0, 32000}));
    ASSERT_TRUE(schedule.isFinalStep());
    EXPECT_EQ(schedule.endWindow(), (Window{32000, 32010}));
    EXPECT_TRUE(schedule.isFinished());
    EXPECT_EQ(schedule.endWindow(), std::nullopt);
}

TEST(WindowSchedule, SkippedStepsMakeTheNextWindowReachBack)
{
    WindowSchedule schedule(16000.0, 160000, 1.0);
    schedule.skipStep();
    schedule.skipStep();
    EXPECT_EQ(schedule.endWindow(), (Window{0, 48000}));
    EXPECT_EQ(schedule.endWindow(), (Window{48000, 64000}));
}

TEST(WindowSchedule, AWindowLongerThanTheNodeKeepsStartsThirtySecondsBeforeItsEnd)
{
    WindowSchedule schedule(16000.0, 16000 * 100, 25.0);
    schedule.skipStep();
    EXPECT_EQ(schedule.endWindow(), (Window{16000 * 20, 16000 * 50}));
    EXPECT_EQ(schedule.endWindow(), (Window{16000 * 50, 16000 * 75}));
}

} // namespace
} // namespace corvane::cli
