// The fast generation against the one-by-one integrals, threads, progress, cancelling, and
// the run that writes the file.

#include "tablegen/table_generator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "support/platform_double.h"
#include "support/temp_dir.h"
#include "tablegen/options_folded_window.h"
#include "tablegen/tablegen_fixtures.h"

namespace {

using namespace zelk::tablegen;
using zelk::OptionValues;
using zelk::testing::RecordingPlatform;
using zelk::testing::TempDir;
using zelk::testing::windowSettings;
using Window = optionsFoldedWindow;

TablePlan planned(const OptionValues& values) {
  auto result = Window::plan(values);
  EXPECT_TRUE(result.plan) << result.message;
  return *result.plan;
}

class Counting : public GenerationProgress {
 public:
  void update(std::int64_t done, std::int64_t cells) override {
    last = done;
    total = cells;
    ++calls;
  }
  std::int64_t last = -1;
  std::int64_t total = -1;
  int calls = 0;
};

TEST(TableGenerator, TheFastPathGivesTheValuesOfTheOneByOneIntegrals) {
  struct Case {
    const char* name;
    OptionValues values;
  };
  const Case cases[] = {
      {"n = 7, all frequencies",
       windowSettings(
           {{Window::kSampleSize, "7"}, {Window::kBetaSteps, "6"}, {Window::kMeanSteps, "6"}})},
      {"n = 20, all frequencies, a finer grid", windowSettings({{Window::kSampleSize, "20"},
                                                                {Window::kBetaLower, "0.01"},
                                                                {Window::kBetaUpper, "0.8"},
                                                                {Window::kBetaSteps, "9"},
                                                                {Window::kMeanLower, "0.5"},
                                                                {Window::kMeanSteps, "9"}})},
      {"n = 30, wide and overlapping classes",
       windowSettings({{Window::kSampleSize, "30"},
                       {Window::kAllFrequencies, "no"},
                       {Window::kClassList, "1:3,4:10,11:29,15:15"},
                       {Window::kBetaSteps, "5"},
                       {Window::kMeanSteps, "5"}})},
  };
  for (const auto& c : cases) {
    TablePlan fast = planned(c.values);
    TablePlan plain = fast;
    std::vector<std::uint8_t> fastStages;
    std::vector<std::uint8_t> plainStages;
    RecordingPlatform platform;
    ASSERT_TRUE(generateTable(fast.table, fast.grid,
                              {.threads = 2, .accuracy = kTableAccuracy, .stopStages = &fastStages},
                              platform, nullptr));
    generateTableOneByOne(plain.table, plain.grid, kTableAccuracy, &plainStages);
    ASSERT_EQ(fastStages.size(), plainStages.size());

    // Values of the same stop stage agree to 1e-12 relative. Rounding may flip a stop
    // decision at the tolerance boundary; such values are rare and stay within the tolerance.
    std::vector<double> fastValues = fast.table.polymorphism;
    fastValues.insert(fastValues.end(), fast.table.heterozygosity.begin(),
                      fast.table.heterozygosity.end());
    std::vector<double> plainValues = plain.table.polymorphism;
    plainValues.insert(plainValues.end(), plain.table.heterozygosity.begin(),
                       plain.table.heterozygosity.end());
    int flips = 0;
    for (std::size_t i = 0; i < fastValues.size(); ++i) {
      const double scale = std::max(std::fabs(fastValues[i]), std::fabs(plainValues[i]));
      const double difference = std::fabs(fastValues[i] - plainValues[i]);
      if (fastStages[i] == plainStages[i]) {
        EXPECT_LE(difference, 1e-12 * scale) << c.name << ", value " << i;
      } else {
        ++flips;
        EXPECT_LE(difference, 1e-4 * scale) << c.name << ", value " << i;
      }
    }
    EXPECT_LE(flips * 100, static_cast<int>(fastValues.size())) << c.name;
    RecordProperty(std::string("stop flips, ") + c.name, flips);
    for (std::size_t i = 0; i < fast.table.divergence.size(); ++i) {
      const double a = fast.table.divergence[i];
      const double b = plain.table.divergence[i];
      EXPECT_TRUE(a == b || (std::isnan(a) && std::isnan(b))) << c.name;
    }
  }
}

TEST(TableGenerator, ThreadsChangeNothingAndProgressEndsAtEveryCell) {
  const auto values = windowSettings({{Window::kSampleSize, "12"},
                                      {Window::kBetaSteps, "4"},
                                      {Window::kMeanSteps, "7"},
                                      {Window::kMeanLower, "1"}});
  TablePlan one = planned(values);
  TablePlan three = one;
  RecordingPlatform platform;
  Counting progress;
  ASSERT_TRUE(generateTable(one.table, one.grid, {1, kTableAccuracy, nullptr}, platform, nullptr));
  ASSERT_TRUE(
      generateTable(three.table, three.grid, {3, kTableAccuracy, nullptr}, platform, &progress));
  EXPECT_EQ(one.table.polymorphism, three.table.polymorphism);
  EXPECT_EQ(one.table.heterozygosity, three.table.heterozygosity);
  EXPECT_EQ(progress.total, 5 * 8);
  EXPECT_EQ(progress.last, progress.total);
}

TEST(TableGenerator, ACancelStopsTheRunEarly) {
  // Large enough to take many seconds on one thread; the first poll cancels it.
  TablePlan plan =
      planned(windowSettings({{Window::kSampleSize, "60"}, {Window::kBetaSteps, "400"}}));
  RecordingPlatform platform;
  platform.cancelAfterEvents = 1;
  Counting progress;
  EXPECT_FALSE(
      generateTable(plan.table, plan.grid, {1, kTableAccuracy, nullptr}, platform, &progress));
  EXPECT_LT(progress.last, progress.total);
}

TEST(TableGeneratorRun, WritesTheTableOnlyWhenComplete) {
  TempDir dir;
  const auto target = dir.path() / "lookupTable.txt";
  const auto usable = windowSettings(
      {{Window::kSampleSize, "6"}, {Window::kBetaSteps, "3"}, {Window::kMeanSteps, "3"}});
  auto onlyFiles = [&] {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  };

  {  // Refused settings: a message, and no dialog is shown.
    RecordingPlatform platform;
    EXPECT_EQ(Window::run(windowSettings({{Window::kSampleSize, "1"}}), platform, 1, nullptr),
              Window::Outcome::Refused);
    EXPECT_TRUE(platform.saveRequests.empty());
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0],
              "The sample size must be a whole number of at least 2, not \"1\".");
  }
  {  // A cancelled dialog: nothing written, nothing said.
    RecordingPlatform platform;
    EXPECT_EQ(Window::run(usable, platform, 1, nullptr), Window::Outcome::Cancelled);
    EXPECT_EQ(platform.saveRequests, std::vector<std::string>{"lookupTable.txt|plain/text"});
    EXPECT_TRUE(platform.messages.empty());
    EXPECT_TRUE(onlyFiles().empty());
  }
  dir.write("lookupTable.txt", "an older table");
  {  // A cancelled computation keeps the older file and leaves no temporary file.
    RecordingPlatform platform;
    platform.saveAnswers.push_back(target);
    platform.cancelAfterEvents = 1;
    EXPECT_EQ(
        Window::run(windowSettings({{Window::kSampleSize, "60"}, {Window::kBetaSteps, "400"}}),
                    platform, 1, nullptr),
        Window::Outcome::Cancelled);
    EXPECT_EQ(dir.read("lookupTable.txt"), "an older table");
    EXPECT_EQ(onlyFiles(), std::vector<std::string>{"lookupTable.txt"});
  }
  {  // A completed run replaces it and says "Finished".
    RecordingPlatform platform;
    platform.saveAnswers.push_back(target);
    EXPECT_EQ(Window::run(usable, platform, 2, nullptr), Window::Outcome::Completed);
    EXPECT_EQ(platform.messages, std::vector<std::string>{"Finished"});
    EXPECT_EQ(dir.read("lookupTable.txt").rfind("Frequency classes : (1,1)(2,2)(3,3)\n", 0), 0u);
    EXPECT_EQ(onlyFiles(), std::vector<std::string>{"lookupTable.txt"});
  }
  {  // A folder that does not exist: refused before any work.
    RecordingPlatform platform;
    platform.saveAnswers.push_back(dir.path() / "no such folder" / "t.txt");
    EXPECT_EQ(Window::run(usable, platform, 1, nullptr), Window::Outcome::Refused);
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_NE(platform.messages[0].find("cannot create"), std::string::npos);
  }
}

}  // namespace
