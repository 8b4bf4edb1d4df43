#include "common/numbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace zelk {
namespace {

TEST(LeadingNumber, TakesTheLongestLeadingNumberElseZero) {
  const struct {
    const char* text;
    double value;
  } cases[] = {
      {"12", 12},  {"  -3.5", -3.5}, {"+4", 4},    {"1e3", 1000},    {"2.5E-2x", 0.025},
      {"7abc", 7}, {"abc", 0},       {"", 0},      {"-", 0},         {".5", 0.5},
      {"5.", 5},   {"1e", 1},        {"1e+", 1},   {"3 4", 3},       {"inf", 0},
      {"nan", 0},  {"0x10", 0},      {"\t8\t", 8}, {"-.25e1", -2.5}, {"1,5", 1},
  };
  for (const auto& c : cases) EXPECT_EQ(leadingNumber(c.text), c.value) << '"' << c.text << '"';
  EXPECT_TRUE(std::isinf(leadingNumber("1e999")));
}

TEST(LeadingNumber, WholeNumberTextAllowsOnlyBlanksAround) {
  EXPECT_TRUE(isWholeNumberText(" 12 "));
  EXPECT_TRUE(isWholeNumberText("-1.5e3"));
  EXPECT_FALSE(isWholeNumberText("12x"));
  EXPECT_FALSE(isWholeNumberText(""));
  EXPECT_FALSE(isWholeNumberText("x12"));
}

TEST(FormatReportNumber, RoundsToFiveDecimalsWithoutTrailingZeros) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {1.000004, "1."},
      {3, "3."},
      {0, "0."},
      {-1.5, "-1.5"},
      {0.123456789, "0.12346"},
      {2.25, "2.25"},
      {-0.000001, "0."},
      {-0.25, "-0.25"},
      {123456789.5, "123456789.5"},
      {1e20, "100000000000000000000."},
      {0.000005, "0.00001"},
  };
  for (const auto& c : cases) EXPECT_EQ(formatReportNumber(c.value), c.text) << c.value;
  EXPECT_EQ(formatReportNumber(std::numeric_limits<double>::quiet_NaN()), "nan");
  EXPECT_EQ(formatReportNumber(-std::numeric_limits<double>::infinity()), "-inf");
  // Never an exponent, even for the largest double.
  EXPECT_EQ(formatReportNumber(std::numeric_limits<double>::max()).find('e'), std::string::npos);
}

TEST(ShortestText, ReadsBackToTheSameDouble) {
  std::mt19937_64 generator(3);
  std::uniform_real_distribution<double> exponent(-300, 300);
  for (int i = 0; i < 1000; ++i) {
    const double value = std::pow(10.0, exponent(generator)) * (i % 2 ? -1 : 1);
    EXPECT_EQ(std::strtod(shortestText(value).c_str(), nullptr), value);
  }
  EXPECT_EQ(shortestText(0.1), "0.1");
  EXPECT_EQ(shortestText(std::numeric_limits<double>::quiet_NaN()), "nan");
}

}  // namespace
}  // namespace zelk
