#include "alpha/ni_methods.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/analysis_bench.h"
#include "shell/bootstrap.h"

namespace zelk {
namespace {

using testing::AnalysisBench;
using testing::genesOf;

//                Dn  LnD  Pn  LnP  Ds  LsD  Ps  LsP
const Matrix kGenes = genesOf({{10, 100, 5, 150, 20, 50, 10, 50},
                               {4, 200, 3, 200, 6, 40, 3, 40},
                               {2, 80, 6, 80, 0, 80, 0, 80}});  // no synonymous counts

NImethods method(const char* type) {
  NImethods m;
  m.analysisType = type;
  return m;
}

TEST(NImethods, IndexMatchesHandComputedValues) {
  // Tarone-Greenland leaves gene 3 out entirely: A = 20*5/30 + 6*3/9, B = 10*10/30 + 4*3/9,
  // site correction (300*90)/(350*90).
  EXPECT_NEAR(method("TG").calculateNI(kGenes), (16.0 / 3) / (14.0 / 3) * (6.0 / 7), 1e-14);
  // Mantel-Haenszel keeps it (its sites too): A = 100/45 + 18/16 + 0, B = 100/45 + 12/16 + 0,
  // site correction (380*170)/(430*170).
  EXPECT_NEAR(method("MH").calculateNI(kGenes),
              (100.0 / 45 + 18.0 / 16) / (100.0 / 45 + 12.0 / 16) * (380.0 / 430), 1e-14);
  EXPECT_EQ(method("XX").calculateNI(kGenes), NImethods::kUndefined);
  // B = 0 leaves the index undefined; A = 0 with B > 0 is an index of 0.
  EXPECT_EQ(method("TG").calculateNI(genesOf({{1, 1, 1, 1, 1, 1, 0, 1}})), NImethods::kUndefined);
  EXPECT_EQ(method("TG").calculateNI(genesOf({{1, 1, 0, 1, 1, 1, 1, 1}})), 0);
}

TEST(NImethods, MantelHaenszelIndexIsThePooledOddsRatio) {
  // Each gene is a 2x2 table: polymorphism (Pn, Ps) against divergence (Dn, Ds).
  struct Table {
    double pn, ps, dn, ds;
  };
  const Table tables[] = {{5, 10, 10, 20}, {3, 3, 4, 6}, {7, 2, 1, 9}, {0, 4, 6, 1}};
  double numerator = 0;
  double denominator = 0;
  Matrix genes(4, 8);
  int i = 1;
  for (const auto& t : tables) {
    const double n = t.pn + t.ps + t.dn + t.ds;
    numerator += t.pn * t.ds / n;
    denominator += t.ps * t.dn / n;
    const double row[] = {t.dn, 1000, t.pn, 1000, t.ds, 1000, t.ps, 1000};
    for (int j = 1; j <= 8; ++j) genes(i, j) = row[j - 1];
    ++i;
  }
  EXPECT_NEAR(method("MH").calculateNI(genes), numerator / denominator, 1e-14);
}

TEST(NImethods, HomogeneityTestIsWoolfsChiSquare) {
  testing::RecordingPlatform platform;
  const Matrix two = genesOf({{10, 1, 5, 1, 20, 1, 10, 1}, {4, 1, 3, 1, 6, 1, 30, 1}});
  // log odds ratios and weights with 0.5 added to every count
  const double y1 = std::log(10.5 * 10.5 / (5.5 * 20.5));
  const double y2 = std::log(4.5 * 30.5 / (3.5 * 6.5));
  const double w1 = 1 / (1 / 10.5 + 1 / 5.5 + 1 / 20.5 + 1 / 10.5);
  const double w2 = 1 / (1 / 4.5 + 1 / 3.5 + 1 / 6.5 + 1 / 30.5);
  const double mean = (w1 * y1 + w2 * y2) / (w1 + w2);
  const double x = w1 * (y1 - mean) * (y1 - mean) + w2 * (y2 - mean) * (y2 - mean);
  // One degree of freedom: the upper tail is erfc(sqrt(x/2)).
  EXPECT_NEAR(NImethods::homogeneityTest(two, &platform), std::erfc(std::sqrt(x / 2)), 1e-6);
  EXPECT_TRUE(platform.messages.empty());

  // One gene: no degrees of freedom; the chi-square function says so and gives 1.
  EXPECT_EQ(NImethods::homogeneityTest(genesOf({{1, 1, 2, 1, 3, 1, 4, 1}}), &platform), 1);
  EXPECT_EQ(platform.messages,
            std::vector<std::string>{"Gamma distribution called with invalid parameter values"});
}

TEST(NImethods, AFusedReplicateEqualsTheCopiedOne) {
  for (const char* type : {"TG", "MH"}) {
    const NImethods m = method(type);
    std::vector<GeneTerms> terms(4);
    for (int i = 1; i <= 3; ++i) terms[static_cast<std::size_t>(i)] = m.termsOf(kGenes, i);
    for (std::uint64_t seed = 1; seed <= 30; ++seed) {
      Generator copied(seed);
      Generator fused(seed);
      Matrix replicate;
      bootstrap(kGenes, replicate, 1, copied);
      EXPECT_EQ(NImethods::indexFromSums(resampledSums(terms, fused)), m.calculateNI(replicate));
    }
  }
}

const char* const kIdenticalAndUndefined =
    "same\tDn\tLnD\tPn\tLnP\tDs\tLsD\tPs\tLsP\n"
    "a\t10\t100\t4\t100\t10\t100\t5\t100\n"
    "b\t10\t100\t4\t100\t10\t100\t5\t100\n"
    "#\n"
    "nops\n"
    "a\t10\t100\t4\t100\t10\t100\t0\t100\n";

TEST(NImethods, ReportOfAMultiDatasetFile) {
  AnalysisBench bench(kIdenticalAndUndefined);
  NImethods().run(bench.context, OptionValues(NImethods::options()));
  EXPECT_EQ(
      bench.report(),
      "Method of Tarone and Greenland\n"
      "\n"
      "same\tDn\tLnD\tPn\tLnP\tDs\tLsD\tPs\tLsP\tn = 2   NI = 0.8  SE = 0.\tCIs = 0.8 to 0.8\n"
      "\tHomogeneity p-value : 1.\n"
      "\n"
      "nops\tn = 1   NI is undefined\n");
}

TEST(NImethods, OptionsChooseMethodReplicatesAndTest) {
  AnalysisBench bench(kIdenticalAndUndefined);
  OptionValues values(NImethods::options());
  values.set("analysisType", "MH");
  values.set("testHomogeneity", "no");
  values.set("bootstrapEditField", "0");
  NImethods().run(bench.context, values);
  // No replicates: the summary of an empty replicate table.
  EXPECT_EQ(bench.report(),
            "Method of Mantel and Haenszel\n"
            "\n"
            "same\tDn\tLnD\tPn\tLnP\tDs\tLsD\tPs\tLsP\tn = 2   NI = 0.8  SE = nan\tCIs = 0. to 0.\n"
            "\n"
            "nops\tn = 1   NI is undefined\n");
}

TEST(NImethods, ANegativeReplicateCountIsRefusedBeforeAnythingIsWritten) {
  for (const char* text : {"-5", "1e12"}) {
    AnalysisBench bench(kIdenticalAndUndefined);
    OptionValues values(NImethods::options());
    values.set("bootstrapEditField", text);
    NImethods().run(bench.context, values);
    EXPECT_EQ(bench.results.text(), "");
    ASSERT_EQ(bench.platform.messages.size(), 1u);
    EXPECT_EQ(bench.platform.messages[0],
              std::string("No. of bootstraps: \"") + text +
                  "\" is not a usable number of replicates; enter a whole number from 0 to "
                  "100000000");
    EXPECT_EQ(bench.context.refusals(), 1);
  }
}

}  // namespace
}  // namespace zelk
