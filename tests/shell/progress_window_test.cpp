#include "shell/progress_window.h"

#include <gtest/gtest.h>

#include "support/recording_platform.h"

namespace zelk {
namespace {

using Call = testing::RecordingProgressDisplay::Call;

TEST(ProgressWindow, ScalesCallerUnitsToTheFixedBar) {
  testing::RecordingPlatform platform;
  testing::RecordingProgressDisplay view;
  progressWindow progress(view, platform);
  progress.start("Burn in", 1000);
  progress.upDate("Burn in", 500);
  progress.upDate("Sampling", 1);
  progress.finish();
  EXPECT_EQ(view.calls, (std::vector<Call>{{"show", "Burn in", 65000},
                                           {"setValue", "Burn in", 32500},
                                           {"setValue", "Sampling", 65},
                                           {"hide", "", 0}}));
  EXPECT_EQ(platform.eventCalls, 3);  // after start and after each update
}

TEST(ProgressWindow, NoMaximumLeavesTheBarAtZero) {
  testing::RecordingPlatform platform;
  testing::RecordingProgressDisplay view;
  progressWindow progress(view, platform);
  progress.start("Analysis running...", 0);
  progress.upDate("Analysis running...", 123456);
  EXPECT_EQ(view.calls, (std::vector<Call>{{"show", "Analysis running...", 0},
                                           {"setValue", "Analysis running...", 0}}));
  EXPECT_EQ(progress.maxScale(), 0.0);
}

}  // namespace
}  // namespace zelk
