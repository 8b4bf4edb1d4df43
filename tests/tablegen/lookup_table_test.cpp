// The table file: its layout, reading it back, refusing damaged files, and the values of a
// small table against an independent computation.

#include "tablegen/lookup_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>

#include "support/platform_double.h"
#include "support/temp_dir.h"
#include "tablegen/options_folded_window.h"
#include "tablegen/tablegen_fixtures.h"

namespace {

using namespace zelk::tablegen;
using zelk::OptionValues;
using zelk::testing::independentFixation;
using zelk::testing::TempDir;
using zelk::testing::windowSettings;
using Window = optionsFoldedWindow;

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// --- An independent computation of the expectations, written from their definitions:
// the midpoint rule summed directly on 3^(j-1) panels, the extrapolation to zero step by
// Lagrange's formula (the error estimate being the change from the last four points to all
// five), binomial coefficients by multiplication.

double extrapolateToZero(const double* h, const double* s, int count) {
  double value = 0.0;
  for (int i = 0; i < count; ++i) {
    double weight = 1.0;
    for (int j = 0; j < count; ++j)
      if (j != i) weight *= (0.0 - h[j]) / (h[i] - h[j]);
    value += weight * s[i];
  }
  return value;
}

double independentIntegral(const std::function<double(double)>& f) {
  double h[15];
  double s[15];
  for (int j = 1; j <= 14; ++j) {
    const double panels = std::pow(3.0, j - 1);
    double sum = 0.0;
    for (double i = 0; i < panels; ++i) sum += f((i + 0.5) / panels);
    h[j] = std::pow(1.0 / 9.0, j - 1);
    s[j] = sum / panels;
    if (j >= 5) {
      const double all = extrapolateToZero(&h[j - 4], &s[j - 4], 5);
      const double lastFour = extrapolateToZero(&h[j - 3], &s[j - 3], 4);
      if (std::fabs(all - lastFour) < 0.00001 * std::fabs(all)) return all;
    }
  }
  return 0.0;
}

double binomial(int n, int i) {
  double c = 1.0;
  for (int r = 1; r <= i; ++r) c = c * (n - i + r) / r;
  return c;
}

double hurwitz(double s, double q) {
  double sum = 0.0;
  for (int i = 0; i < 100; ++i) sum += std::pow(q + i, -s);
  return sum + 0.5 * std::pow(q + 100, -s) + std::pow(q + 100, 1 - s) / (s - 1);
}

struct Independent {
  double polymorphism;  // of the class lower..upper
  double heterozygosity;
  double divergence;
};

Independent independentValues(int n, int lower, int upper, double beta, double meanS) {
  const double a = beta / meanS;
  const double b = beta;
  auto folded = [&](double x) {
    double p = 0.0;
    for (int i = lower; i <= upper; ++i) {
      p += binomial(n, i) * std::pow(x, i) * std::pow(1 - x, n - i);
      if (2 * i != n) p += binomial(n, i) * std::pow(x, n - i) * std::pow(1 - x, i);
    }
    return p;
  };
  return {independentIntegral([&](double x) {
            return independentFixation(x, beta, meanS) * folded(x) / (x * (1 - x));
          }),
          independentIntegral([&](double x) {
            return 2 * std::pow(a, b) * (hurwitz(b, x + a) - hurwitz(b, a + 1));
          }),
          b * std::pow(a, b) * hurwitz(b + 1, a + 1)};
}

// The written table's text, for settings that are usable.
std::string generatedText(const OptionValues& values) {
  TempDir dir;
  zelk::testing::RecordingPlatform platform;
  platform.saveAnswers.push_back(dir.path() / "table.txt");
  EXPECT_EQ(Window::run(values, platform, 2, nullptr), Window::Outcome::Completed);
  return dir.read("table.txt");
}

double relativeDifference(double a, double b) {
  if (a == b) return 0.0;
  return std::fabs(a - b) / std::max(std::fabs(a), std::fabs(b));
}

TEST(LookupTableFile, ASmallTableMatchesAnIndependentComputation) {
  const std::string text = generatedText(windowSettings({{Window::kSampleSize, "7"},
                                                         {Window::kBetaSteps, "5"},
                                                         {Window::kMeanLower, "10"},
                                                         {Window::kMeanUpper, "100000"},
                                                         {Window::kMeanSteps, "4"}}));
  const auto lines = linesOf(text);
  // k = 3 classes, B = 6 shape rows (0 to 0.5 in steps of 0.1), M = 4 columns: the fifth
  // accumulated log-mean lies just above ln 100000.
  ASSERT_EQ(lines.size(), 5u + 3 * 7 + 2 * 6);
  EXPECT_EQ(lines[0], "Frequency classes : (1,1)(2,2)(3,3)");
  EXPECT_EQ(lines[1], "No of freq classes and sample size : \t3\t7");
  EXPECT_EQ(lines[3], "0\t6\t0.1\tBeta lower limit, no of values and step size");
  EXPECT_EQ(lines[4].substr(lines[4].find("\t4\t")),
            "\t4\t2.302585092994046\tLogMeanS lower limit, no of values and step size");

  TempDir dir;
  const auto read = readLookupTable(dir.write("t.txt", text));
  ASSERT_TRUE(read.table) << read.message;
  const LookupTable& table = *read.table;
  ASSERT_EQ(table.beta.count, 6);
  ASSERT_EQ(table.logMeanS.count, 4);
  const int M = 4;
  EXPECT_NEAR(table.neutral[0], 1 + 1.0 / 6, 1e-15);
  EXPECT_NEAR(table.neutral[1], 1.0 / 2 + 1.0 / 5, 1e-15);
  EXPECT_NEAR(table.neutral[2], 1.0 / 3 + 1.0 / 4, 1e-15);

  double beta = 0.0;
  for (int j = 0; j < 6; ++j, beta = beta + 0.1) {
    double logMean = std::log(10.0);
    for (int l = 0; l < M; ++l, logMean = logMean + std::log(10.0)) {
      const double meanS = std::exp(logMean);
      for (int f = 0; f < 3; ++f) {
        const auto expected = independentValues(7, f + 1, f + 1, beta, meanS);
        EXPECT_LT(relativeDifference(table.ePn(f, j, l), expected.polymorphism), 1e-9)
            << "class " << f + 1 << " beta " << beta << " meanS " << meanS;
        if (f == 0) {
          EXPECT_LT(relativeDifference(table.heterozygosity[j * M + l], expected.heterozygosity),
                    1e-9)
              << "beta " << beta << " meanS " << meanS;
          if (j > 0) {
            EXPECT_LT(relativeDifference(table.divergence[j * M + l], expected.divergence), 1e-12);
          }
        }
      }
      if (j == 0) {
        // Shape 0 is neutrality: E0 and 1 within the integration tolerance, divergence 0 * inf.
        for (int f = 0; f < 3; ++f)
          EXPECT_LT(relativeDifference(table.ePn(f, 0, l), table.neutral[f]), 1e-5);
        EXPECT_LT(relativeDifference(table.heterozygosity[l], 1.0), 1e-5);
        EXPECT_TRUE(std::isnan(table.divergence[l]));
      }
    }
  }
}

TEST(LookupTableFile, TheDefaultGridHas100ShapeRowsAnd101MeanColumns) {
  const auto planned = Window::plan(windowSettings({{Window::kSampleSize, "20"}}));
  ASSERT_TRUE(planned.plan) << planned.message;
  const LookupTable& table = planned.plan->table;
  // The 101st accumulated shape lies just above 0.5.
  EXPECT_EQ(table.beta.count, 100);
  EXPECT_EQ(table.logMeanS.count, 101);
  EXPECT_EQ(table.classCount(), 10);
  EXPECT_EQ(table.neutral[9], 1.0 / 10);

  // The layout at this size, with values of every kind, written and read back.
  LookupTable written = table;
  written.allocate();
  for (std::size_t i = 0; i < written.polymorphism.size(); ++i)
    written.polymorphism[i] = 1.0 / (static_cast<double>(i) + 3.0);
  written.divergence[0] = std::numeric_limits<double>::quiet_NaN();
  written.divergence[1] = std::numeric_limits<double>::infinity();
  written.heterozygosity[2] = -1.25e-300;
  std::ostringstream out;
  ASSERT_TRUE(writeLookupTable(out, written));
  const auto lines = linesOf(out.str());
  ASSERT_EQ(static_cast<std::int64_t>(lines.size()), tableLineCount(10, 100));
  EXPECT_EQ(lines.size(), 5u + 10 * 101 + 2 * 100);
  for (std::size_t i = 5; i < lines.size(); ++i) {
    if (lines[i].empty()) continue;  // the line opening a class block
    ASSERT_EQ(lines[i][0], '\t') << "line " << i + 1;
    EXPECT_EQ(std::count(lines[i].begin(), lines[i].end(), '\t'), 101) << "line " << i + 1;
  }
  EXPECT_EQ(lines[5], "");
  EXPECT_EQ(lines[5 + 101], "");

  TempDir dir;
  const auto read = readLookupTable(dir.write("t.txt", out.str()));
  ASSERT_TRUE(read.table) << read.message;
  EXPECT_EQ(read.table->polymorphism, written.polymorphism);
  EXPECT_TRUE(std::isnan(read.table->divergence[0]));
  EXPECT_EQ(read.table->divergence[1], std::numeric_limits<double>::infinity());
  EXPECT_EQ(read.table->heterozygosity[2], -1.25e-300);
  EXPECT_EQ(read.table->beta.step, table.beta.step);
  EXPECT_EQ(read.table->logMeanS.first, table.logMeanS.first);
  EXPECT_EQ(read.table->sampleSize, 20);
}

TEST(LookupTableFile, DamagedFilesAreRefusedNamingTheFileAndLine) {
  LookupTable table;
  table.sampleSize = 5;
  table.classes = {{1, 1, "1", "1"}, {2, 2, "2", "2"}};
  table.neutral = {1.25, 0.8333};
  table.beta = {0.0, 0.25, 2};
  table.logMeanS = {2.0, 1.5, 3};
  table.allocate();
  std::ostringstream out;
  writeLookupTable(out, table);
  const auto lines = linesOf(out.str());
  ASSERT_EQ(lines.size(), 5u + 2 * 3 + 2 * 2);

  auto joined = [](const std::vector<std::string>& parts) {
    std::string text;
    for (const auto& part : parts) text += part + "\n";
    return text;
  };
  struct Case {
    const char* name;
    std::function<void(std::vector<std::string>&)> damage;
    const char* expected;
  };
  const Case cases[] = {
      {"ends early", [](auto& l) { l.resize(12); }, "ends after line 12"},
      {"short row", [](auto& l) { l[7] = "\t1\t2"; }, "line 8 holds 2 values where 3 are needed"},
      {"short first line of values", [](auto& l) { l[2] = "\t1.25"; }, "line 3 holds 1 values"},
      {"no size line", [](auto& l) { l[1] = "hello"; }, "line 2 should hold"},
      {"classes disagree", [](auto& l) { l[1] = "No of freq classes and sample size : \t3\t5"; },
       "line 2 gives 3 classes but line 1 lists 2"},
      {"impossible grid count", [](auto& l) { l[3] = "0\t-4\t0.25\tBeta"; },
       "line 4 gives an impossible number of grid values: -4"},
      {"empty file", [](auto& l) { l.clear(); }, "is empty"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    auto damaged = lines;
    c.damage(damaged);
    const auto path = dir.write("damaged.txt", joined(damaged));
    const auto read = readLookupTable(path);
    EXPECT_FALSE(read.table) << c.name;
    EXPECT_NE(read.message.find(c.expected), std::string::npos) << c.name << ": " << read.message;
    EXPECT_NE(read.message.find(path.string()), std::string::npos) << c.name;
  }
  EXPECT_TRUE(readLookupTable(dir.write("whole.txt", joined(lines))).table);
  EXPECT_NE(readLookupTable(dir.path() / "missing.txt").message.find("cannot open"),
            std::string::npos);
}

TEST(LookupTablePlan, ClassesFollowTheModeAndTheListAsTyped) {
  struct Case {
    const char* name;
    const char* size;
    const char* mode;
    const char* list;
    const char* line1;
  };
  const Case cases[] = {
      {"all frequencies, odd n", "21", "yes", "",
       "(1,1)(2,2)(3,3)(4,4)(5,5)(6,6)(7,7)(8,8)(9,9)(10,10)"},
      {"all frequencies, even n", "8", "yes", "1:2", "(1,1)(2,2)(3,3)(4,4)"},
      {"list as typed", "20", "no", "1:1, 2:3", "(1,1)(2,3)"},
      {"list keeps the texts", "20", "no", "01:3,4:4", "(01,3)(4,4)"},
      {"an empty lower cell ends the list", "20", "no", "1:1,2:3,:4,5:5", "(1,1)(2,3)"},
  };
  for (const auto& c : cases) {
    const auto planned = Window::plan(windowSettings({{Window::kSampleSize, c.size},
                                                      {Window::kAllFrequencies, c.mode},
                                                      {Window::kClassList, c.list}}));
    ASSERT_TRUE(planned.plan) << c.name << ": " << planned.message;
    std::string line1;
    for (const auto& fc : planned.plan->table.classes)
      line1 += "(" + fc.lowerText + "," + fc.upperText + ")";
    EXPECT_EQ(line1, c.line1) << c.name;
  }
  const auto wide = Window::plan(windowSettings(
      {{Window::kSampleSize, "20"}, {Window::kAllFrequencies, "no"}, {Window::kClassList, "2:4"}}));
  ASSERT_TRUE(wide.plan);
  EXPECT_NEAR(wide.plan->table.neutral[0],
              (1.0 / 2 + 1.0 / 18) + (1.0 / 3 + 1.0 / 17) + (1.0 / 4 + 1.0 / 16), 1e-15);
}

}  // namespace
