#include "stats/results_class.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/recording_platform.h"

namespace zelk {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A single-column table holding the values in a fixed shuffled order.
resultsClass columnOf(std::vector<double> values) {
  std::shuffle(values.begin(), values.end(), std::mt19937(42));
  resultsClass table;
  table.initialise(static_cast<int>(values.size()), 1);
  for (const double v : values) table.append(v);
  return table;
}

std::vector<double> range(int from, int to) {
  std::vector<double> values;
  for (int i = from; i <= to; ++i) values.push_back(i);
  return values;
}

// --- Filling and growth ---

TEST(ResultsTable, GrowsByTheInitialRowCountOnlyWhenFullAndKeepsValues) {
  resultsClass table;
  table.initialise(1000, 1);
  for (int i = 1; i <= 1000; ++i) table.append(i);
  EXPECT_EQ(table.currentRow(), 1000);
  EXPECT_EQ(table.rowBound(), 1000);

  table.append(1001);
  EXPECT_EQ(table.currentRow(), 1001);
  EXPECT_EQ(table.currentColumn(), 1);
  EXPECT_EQ(table.rowBound(), 2000);
  for (int i = 1; i <= 1001; ++i) ASSERT_EQ(table.data(i, 1), i);
  EXPECT_EQ(table.data(2000, 1), 0.0);
  EXPECT_TRUE(std::isnan(table.data(2001, 1)));
  EXPECT_TRUE(std::isnan(table.data(1, 2)));
}

TEST(ResultsTable, SmallGrowthStepsKeepEveryRecordInPlace) {
  // Row counts of 1 and 0 grow one row at a time; 0 must not leave the new record unstored.
  for (const int startRows : {1, 0}) {
    resultsClass table;
    table.initialise(startRows, 3);
    for (int r = 1; r <= 20000; ++r) {
      for (int c = 1; c <= 3; ++c) table.append(r * 10 + c);
    }
    EXPECT_EQ(table.currentRow(), 20000);
    EXPECT_EQ(table.rowBound(), 20000);
    for (int r = 1; r <= 20000; ++r) {
      for (int c = 1; c <= 3; ++c) ASSERT_EQ(table.data(r, c), r * 10 + c) << r << "," << c;
    }
    EXPECT_EQ(table.mean(2), (20001 * 10 / 2.0) + 2);
  }
}

TEST(ResultsTable, ReinitialisingStartsAnEmptyTable) {
  resultsClass table;
  table.initialise(4, 2, "x,y");
  for (int i = 1; i <= 11; ++i) table.append(i);
  table.initialise(3, 2);
  EXPECT_EQ(table.currentRow(), 1);
  EXPECT_EQ(table.currentColumn(), 0);
  EXPECT_EQ(table.rowBound(), 3);
  EXPECT_TRUE(table.columnTitles().empty());
  EXPECT_EQ(table.mean(1), 0.0);
  table.append(5);
  EXPECT_EQ(table.data(1, 1), 5.0);
  EXPECT_EQ(table.data(1, 2), 0.0);
}

TEST(ResultsTable, TitlesAreTheCommaSeparatedPiecesAfterAnEmptyIndexZero) {
  struct Case {
    std::string titles;
    std::vector<std::string> expected;
  };
  for (const Case& c : {Case{"a,b", {"", "a", "b"}}, Case{"alpha,,beta", {"", "alpha", "", "beta"}},
                        Case{"", {"", ""}}, Case{"a,", {"", "a", ""}}}) {
    resultsClass table;
    table.initialise(5, 3, c.titles);
    EXPECT_EQ(table.columnTitles(), c.expected) << c.titles;
    EXPECT_EQ(table.startColumns(), 3);
    EXPECT_EQ(table.startRows(), 5);
  }
}

// --- Statistics ---

TEST(ResultsStatistics, KnownValuesIncludingALargeOffsetAndAConstantColumn) {
  const std::vector<double> sample = {2, 4, 4, 4, 5, 5, 7, 9};
  const double variance = 32.0 / 7.0;
  for (const double offset : {0.0, -3.5, 1e9}) {
    std::vector<double> shifted;
    for (const double v : sample) shifted.push_back(v + offset);
    const resultsClass table = columnOf(shifted);
    EXPECT_NEAR(table.mean(1), 5.0 + offset, 1e-12 * std::max(1.0, offset)) << offset;
    EXPECT_NEAR(table.variance(1), variance, 1e-9) << offset;
    EXPECT_NEAR(table.standardDeviation(1), std::sqrt(variance), 1e-9) << offset;
    EXPECT_EQ(table.SD(1), table.standardDeviation(1));
    EXPECT_NEAR(table.standardError(1), std::sqrt(variance / 8.0), 1e-9) << offset;
    EXPECT_EQ(table.SE(1), table.standardError(1));
  }
  // Equal replicates have no spread: exactly 0, never a negative variance or NaN.
  for (const double value : {0.1, 0.7, 1.0 / 3.0, 123456.789}) {
    const resultsClass table = columnOf(std::vector<double>(1000, value));
    EXPECT_EQ(table.variance(1), 0.0) << value;
    EXPECT_EQ(table.SD(1), 0.0) << value;
    EXPECT_EQ(table.SE(1), 0.0) << value;
  }
}

TEST(ResultsStatistics, RowBeingFilledCountsAsAFullRowOfZeros) {
  resultsClass table;
  table.initialise(10, 3);
  for (int i = 1; i <= 4; ++i) table.append(i);  // row 1: 1 2 3, row 2: 4 (0 0)
  EXPECT_EQ(table.currentRow(), 2);
  EXPECT_EQ(table.currentColumn(), 1);
  EXPECT_EQ(table.mean(1), 2.5);
  EXPECT_EQ(table.mean(2), 1.0);
  EXPECT_EQ(table.mean(3), 1.5);
  EXPECT_EQ(table.variance(2), 2.0);
  EXPECT_EQ(table.CI95High(3), 3.0);
}

TEST(ResultsStatistics, TablesWithAtMostOneRecord) {
  struct Case {
    const char* name;
    std::vector<double> values;  // appended after initialise(5, 1) when initialised
    bool initialised;
    double mean, ciLow, ciHigh;
    bool spreadIsNaN;  // variance, SD and SE are 0/0; otherwise all three are -1
  };
  for (const Case& c : {Case{"no append: n = 1 with value 0", {}, true, 0.0, 0.0, 0.0, true},
                        Case{"one record", {7.5}, true, 7.5, 0.0, 7.5, true},
                        Case{"never initialised", {}, false, -1.0, -1.0, -1.0, false}}) {
    resultsClass table;
    if (c.initialised) table.initialise(5, 1);
    for (const double v : c.values) table.append(v);
    EXPECT_EQ(table.mean(1), c.mean) << c.name;
    EXPECT_EQ(table.CI95Low(1), c.ciLow) << c.name;
    EXPECT_EQ(table.CI95High(1), c.ciHigh) << c.name;
    for (const double spread : {table.variance(1), table.SD(1), table.SE(1)}) {
      if (c.spreadIsNaN) {
        EXPECT_TRUE(std::isnan(spread)) << c.name;
      } else {
        EXPECT_EQ(spread, -1.0) << c.name;
      }
    }
  }
  resultsClass never;
  never.append(3.0);  // nowhere to store: ignored
  EXPECT_EQ(never.currentRow(), 0);
}

TEST(ResultsStatistics, ColumnsOutsideTheTableAreUndefined) {
  resultsClass table;
  table.initialise(5, 2);
  table.append(1);
  table.append(2);
  for (const int column : {0, 3, -1}) {
    EXPECT_EQ(table.mean(column), -1.0) << column;
    EXPECT_EQ(table.variance(column), -1.0) << column;
    EXPECT_EQ(table.SE(column), -1.0) << column;
    EXPECT_EQ(table.CI95Low(column), -1.0) << column;
    EXPECT_EQ(table.CI95High(column), -1.0) << column;
  }
}

TEST(ResultsStatistics, ConfidenceLimitsAreReadFromTheValuesPlusAnAddedZero) {
  struct Case {
    const char* name;
    std::vector<double> values;
    double low, high;
  };
  std::vector<double> symmetric1000 = range(-500, -1);
  for (const double v : range(1, 500)) symmetric1000.push_back(v);
  std::vector<double> symmetric40 = range(-20, -1);
  for (const double v : range(1, 20)) symmetric40.push_back(v);
  std::vector<double> withNaN = range(1, 997);
  withNaN.insert(withNaN.end(), {kNaN, kNaN, kNaN});

  for (const Case& c : {
           Case{"1000 positive: 25th and 975th smallest", range(1, 1000), 25.0, 975.0},
           Case{"39 positive: low is the added 0", range(1, 39), 0.0, 39.0},
           Case{"40 positive: low is the smallest value", range(1, 40), 1.0, 39.0},
           Case{"negatives around the added 0 (40)", symmetric40, -19.0, 19.0},
           Case{"negatives around the added 0 (1000)", symmetric1000, -475.0, 475.0},
           Case{"NaN values sort last", withNaN, 25.0, 975.0},
       }) {
    const resultsClass table = columnOf(c.values);
    EXPECT_EQ(table.CI95Low(1), c.low) << c.name;
    EXPECT_EQ(table.CI95High(1), c.high) << c.name;
  }
}

// --- Saving ---

class ResultsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    directory = std::filesystem::temp_directory_path() /
                ("results_class_test_" + std::to_string(std::random_device{}()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(directory);
  }
  void TearDown() override { std::filesystem::remove_all(directory); }

  // Saves to a fresh file in the test's directory and returns its bytes (nullopt: not saved).
  std::optional<std::string> save(const resultsClass& table) {
    const auto path = directory / ("table" + std::to_string(++saves) + ".txt");
    platform.saveAnswers.push_back(path);
    if (!table.saveToFile(platform)) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
  }

  std::filesystem::path directory;
  testing::RecordingPlatform platform;
  int saves = 0;
};

TEST_F(ResultsFile, WritesTabSeparatedRowsInShortestRoundTripForm) {
  resultsClass table;
  table.initialise(1, 3);
  for (const double v :
       {0.1, -2.5, 1e-300, kNaN, std::numeric_limits<double>::infinity(), 3.0, 1.0 / 3.0}) {
    table.append(v);
  }
  EXPECT_EQ(save(table),
            "0.1\t-2.5\t1e-300\n"
            "nan\tinf\t3\n"
            "0.3333333333333333\t0\t0\n");
  EXPECT_EQ(platform.saveRequests, std::vector<std::string>{"resultsFile.txt|TEXT"});
}

TEST_F(ResultsFile, HeaderOnlyWhenThereIsOneTitlePerColumn) {
  struct Case {
    std::optional<std::string> titles;
    std::string header;
  };
  for (const Case& c :
       {Case{"a,b,c", "a\tb\tc\n"}, Case{"a,b", ""}, Case{"a,b,c,d", ""}, Case{std::nullopt, ""}}) {
    resultsClass table;
    if (c.titles) {
      table.initialise(2, 3, *c.titles);
    } else {
      table.initialise(2, 3);
    }
    for (int i = 1; i <= 3; ++i) table.append(i);
    EXPECT_EQ(save(table), c.header + "1\t2\t3\n") << c.titles.value_or("(none)");
  }
}

TEST_F(ResultsFile, CancelledDialogOrUnwritablePathWritesNothing) {
  resultsClass table;
  table.initialise(2, 1);
  table.append(1.0);
  EXPECT_FALSE(table.saveToFile(platform));  // no scripted answer: cancelled
  EXPECT_EQ(platform.saveRequests, std::vector<std::string>{"resultsFile.txt|TEXT"});
  EXPECT_TRUE(std::filesystem::is_empty(directory));

  platform.saveAnswers.push_back(directory / "missing" / "table.txt");
  EXPECT_FALSE(table.saveToFile(platform));
  EXPECT_TRUE(std::filesystem::is_empty(directory));
}

}  // namespace
}  // namespace zelk
