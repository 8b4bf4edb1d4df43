#include "shell/results_window.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/recording_platform.h"
#include "support/temp_dir.h"

namespace zelk {
namespace {

TEST(ResultsWindow, PadsEachValueIntoAColumn) {
  resultsWindow sink;  // autoTabulate on, tabLength 10
  sink.writeLn("a", 12);
  EXPECT_EQ(sink.text(), "a\t" + std::string(8, ' ') + "12\t" + std::string(7, ' ') + "\r");
}

TEST(ResultsWindow, PaddingRules) {
  const struct {
    bool autoTabulate;
    int tabLength;
    ResultValue value;
    std::string text;
  } cases[] = {
      {true, 10, std::string_view("\r"), "\r"},  // a line end is never padded
      {true, 10, std::string_view("\n"), "\n"},
      {true, 4, std::string_view("a\r"), "a\r\t "},              // other text is
      {true, 10, std::string_view("123456789"), "123456789\t"},  // no room left: tab only
      {true, 5, std::string_view("1234567"), "1234567\t"},
      {true, 60, std::string_view("x"), "x\t" + std::string(40, ' ')},  // at most 40 spaces
      {true, 10, std::monostate{}, "\t" + std::string(9, ' ')},         // other kinds: empty text
      {false, 10, std::int32_t{-25}, "-25"},
      {false, 10, 1.000004, "1."},
      {false, 10, std::monostate{}, ""},
  };
  for (const auto& c : cases) {
    resultsWindow sink;
    sink.autoTabulate = c.autoTabulate;
    sink.tabLength = c.tabLength;
    sink.writer(c.value);
    EXPECT_EQ(sink.text(), c.text);
  }
}

TEST(ResultsWindow, LineStyleWritesValuesBackToBack) {
  resultsWindow sink;
  sink.autoTabulate = false;
  sink.write("n = ", 25);
  EXPECT_EQ(sink.text(), "n = 25");
  sink.writeLn();
  EXPECT_EQ(sink.text(), "n = 25\r");
}

TEST(ResultsWindow, TellsTheViewAboutTextAndLineEnds) {
  testing::RecordingResultsDisplay view;
  resultsWindow sink(&view);
  sink.autoTabulate = false;
  sink.writeLn("x", 1);
  sink.writeLn();
  EXPECT_EQ(view.pieces, (std::vector<std::string>{"x", "1", "\r", "\r"}));
  EXPECT_EQ(view.lineEnds, 2);
  sink.displayResults = false;
  sink.writeLn("hidden");
  EXPECT_EQ(view.pieces.size(), 4u);
  EXPECT_EQ(view.lineEnds, 2);
}

TEST(ResultsWindow, MirrorHoldsExactlyWhatWasWrittenAfterItStarted) {
  testing::TempDir dir;
  testing::RecordingPlatform platform;
  platform.saveAnswers.push_back(dir.path() / "results.txt");
  resultsWindow sink;
  sink.autoTabulate = false;
  sink.writeLn("before");
  ASSERT_TRUE(sink.startMirrorToFile(platform));
  EXPECT_EQ(platform.saveRequests, std::vector<std::string>{"results.txt|text"});
  sink.autoTabulate = true;
  sink.writeLn("after", 2.5);
  sink.stopMirrorToFile();
  sink.writeLn("later");
  EXPECT_EQ(dir.read("results.txt"),
            "after\t" + std::string(4, ' ') + "2.5\t" + std::string(6, ' ') + "\r");
  EXPECT_FALSE(sink.mirrorToFile());
}

TEST(ResultsWindow, MirrorStaysOffWhenCancelledOrUncreatable) {
  testing::TempDir dir;
  testing::RecordingPlatform platform;
  platform.saveAnswers.push_back(std::nullopt);
  platform.saveAnswers.push_back(dir.path() / "no-such-folder" / "results.txt");
  resultsWindow sink;
  EXPECT_FALSE(sink.startMirrorToFile(platform));
  EXPECT_FALSE(sink.startMirrorToFile(platform));
  EXPECT_FALSE(sink.mirrorToFile());
  sink.writeLn("still shown");
  EXPECT_NE(sink.text().find("still shown"), std::string::npos);
}

}  // namespace
}  // namespace zelk
