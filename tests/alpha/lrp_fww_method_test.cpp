#include "alpha/lrp_fww_method.h"

#include <gtest/gtest.h>

#include "support/analysis_bench.h"
#include "shell/bootstrap.h"

namespace zelk {
namespace {

using testing::AnalysisBench;
using testing::genesOf;

//                Dn  LnD  Pn  LnP  Ds  LsD  Ps  LsP
const Matrix kThreeGenes = genesOf({{10, 100, 5, 100, 20, 50, 10, 50},
                                    {4, 200, 3, 200, 6, 40, 3, 40},
                                    {7, 0, 9, 80, 9, 80, 9, 80}});  // a site count of 0: left out

TEST(LRPFWWMethod, EstimatesMatchHandComputedValues) {
  // Included genes 1 and 2: sums Dn 14, LnD 300, Pn 8, LnP 300, Ds 26, LsD 90, Ps 13, LsP 90.
  const double fww = 1 - (90.0 * 300 * 26 * 8) / (90.0 * 14 * 13 * 300);
  const double meanPnOverPs1 = (5.0 / 11 + 3.0 / 4) / 2;
  const double lrp = 1 - meanPnOverPs1 * (300.0 * 26) / (14.0 * 90) * 90 / 300;
  const double fwwuw = 1 - ((20.0 / 50 + 6.0 / 40) * (5.0 / 100 + 3.0 / 200)) /
                               ((10.0 / 50 + 3.0 / 40) * (10.0 / 100 + 4.0 / 200));
  EXPECT_NEAR(LRPFWWMethod::calculateAlpha("FWW", kThreeGenes), fww, 1e-15);
  EXPECT_NEAR(fww, -1.0 / 7, 1e-15);
  EXPECT_NEAR(LRPFWWMethod::calculateAlpha("LRP", kThreeGenes), lrp, 1e-15);
  EXPECT_NEAR(LRPFWWMethod::calculateAlpha("FWWuw", kThreeGenes), fwwuw, 1e-15);
  EXPECT_EQ(LRPFWWMethod::calculateAlpha("other", kThreeGenes), 0);
}

TEST(LRPFWWMethod, ZeroDenominatorsAreUndefined) {
  const Matrix noPs = genesOf({{10, 100, 5, 100, 20, 50, 0, 50}, {4, 200, 3, 200, 6, 40, 0, 40}});
  EXPECT_EQ(LRPFWWMethod::calculateAlpha("FWW", noPs), LRPFWWMethod::kUndefined);
  // LRP adds 1 to Ps, so it still has an estimate.
  EXPECT_NEAR(LRPFWWMethod::calculateAlpha("LRP", noPs),
              1 - (5.0 + 3.0) / 2 * (300.0 * 26) / (14.0 * 90) * 90 / 300, 1e-15);
  const Matrix noDn = genesOf({{0, 100, 5, 100, 20, 50, 10, 50}});
  for (const char* code : {"FWW", "LRP", "FWWuw"})
    EXPECT_EQ(LRPFWWMethod::calculateAlpha(code, noDn), LRPFWWMethod::kUndefined) << code;
}

TEST(LRPFWWMethod, AFourColumnTableIsReadWithEqualSiteCounts) {
  AnalysisBench bench("g\tDn\tPn\tDs\tPs\na\t10\t5\t20\t10\nb\t4\t3\t6\t3\n");
  std::string description;
  Matrix matrix;
  bench.dataWindow.startAnalysis = true;
  ASSERT_TRUE(bench.dataWindow.getData(description, matrix));
  ASSERT_TRUE(LRPFWWMethod::editData(matrix, "FWW", bench.context));
  EXPECT_EQ(matrix, genesOf({{10, 1000, 5, 1000, 20, 1000, 10, 1000},
                             {4, 1000, 3, 1000, 6, 1000, 3, 1000}}));
  // Equal site totals cancel: the estimate is the one of the counts alone.
  EXPECT_NEAR(LRPFWWMethod::calculateAlpha("FWW", matrix), 1 - (26.0 * 8) / (14.0 * 13), 1e-15);
}

TEST(LRPFWWMethod, AFusedReplicateEqualsTheCopiedOne) {
  Generator data(8);
  Matrix genes(40, 8);
  for (int i = 1; i <= 40; ++i)
    for (int j = 1; j <= 8; ++j)
      genes(i, j) = j % 2 == 0 ? (i % 9 == 0 ? 0 : 100 + i) : data.between1And(12) - 1;
  for (const char* code : {"FWW", "LRP", "FWWuw"}) {
    std::vector<GeneTerms> terms(41);
    for (int i = 1; i <= 40; ++i)
      terms[static_cast<std::size_t>(i)] = LRPFWWMethod::termsOf(code, genes, i);
    for (std::uint64_t seed = 1; seed <= 20; ++seed) {
      Generator copied(seed);
      Generator fused(seed);
      Matrix replicate;
      bootstrap(genes, replicate, 1, copied);
      EXPECT_EQ(LRPFWWMethod::alphaFromSums(code, resampledSums(terms, fused)),
                LRPFWWMethod::calculateAlpha(code, replicate));
    }
  }
}

TEST(LRPFWWMethod, ReportOfAMultiDatasetFile) {
  // Identical genes make every replicate equal the estimate; one gene holding all the
  // divergence makes some replicate undefined; no synonymous polymorphism leaves alpha undefined.
  AnalysisBench bench(
      "same\tDn\tLnD\tPn\tLnP\tDs\tLsD\tPs\tLsP\n"
      "a\t10\t100\t4\t100\t10\t100\t5\t100\n"
      "b\t10\t100\t4\t100\t10\t100\t5\t100\n"
      "#\n"
      "lopsided\n"
      "a\t10\t100\t4\t100\t10\t100\t5\t100\n"
      "b\t0\t100\t4\t100\t10\t100\t5\t100\n"
      "#\n"
      "nops\n"
      "a\t10\t100\t4\t100\t10\t100\t0\t100\n");
  LRPFWWMethod().run("FWW", bench.context);
  EXPECT_EQ(bench.report(),
            "Method of Fay, Wycoff and Wu (2001) Genetics\n"
            "\n"
            "same\tDn\tLnD\tPn\tLnP\tDs\tLsD\tPs\tLsP\tn = 2   alpha= 0.2\n"
            "  SE = 0.\tCIs = 0.2 to 0.2\n"
            "\n"
            "lopsided\tn = 2   alpha= -0.6\n"
            "  SE and CIs = undefined\n"
            "\n"
            "nops\tn = 1    No polymorphism data; alpha is undefined\n"
            "\n");
  EXPECT_EQ(bench.context.refusals(), 0);
  // A bar without measured progress per dataset; events after every 100 replicates.
  using Call = testing::RecordingProgressDisplay::Call;
  const Call show{"show", "Analysis running...", 0};
  const Call hide{"hide", "", 0};
  EXPECT_EQ(bench.progressView.calls, (std::vector<Call>{show, hide, show, hide, show, hide}));
  EXPECT_EQ(bench.platform.eventCalls, 3 + 2 * 10);
}

TEST(LRPFWWMethod, ReportWithAFixedSeedIsReproducible) {
  const std::string genes =
      "h\tDn\tLnD\tPn\tLnP\tDs\tLsD\tPs\tLsP\n"
      "g1\t12\t300\t5\t300\t20\t100\t9\t100\n"
      "g2\t3\t250\t2\t250\t9\t80\t4\t80\n"
      "g3\t8\t410\t7\t410\t15\t130\t11\t130\n"
      "g4\t5\t120\t1\t120\t6\t40\t5\t40\n";
  // alpha = 1 - mean(5/10, 2/5, 7/12, 1/6) * 50/28 = 0.263393
  AnalysisBench first(genes, 77);
  AnalysisBench second(genes, 77);
  LRPFWWMethod().run("LRP", first.context);
  LRPFWWMethod().run("LRP", second.context);
  EXPECT_EQ(first.results.text(), second.results.text());
  EXPECT_EQ(first.report(),
            "Method of Larkwell and Rensley-Pike (2002) Nature\n"
            "\n"
            "genes.tsv\tn = 4   alpha= 0.26339\n"
            "  SE = 0.1909\tCIs = -0.09375 to 0.64815\n"
            "\n");
}

TEST(LRPFWWMethod, UnusableTablesAreRefusedAndSkipped) {
  AnalysisBench bench("short\ta\tb\tc\td\ng\t1\t2\t3\t4\n#\nnarrow\tx\ng\t1\t2\t3\n");
  LRPFWWMethod().run("FWWuw", bench.context);
  EXPECT_EQ(bench.report(), "Unweighted version of Fay, Wycoff and Wu (2001) Genetics\n\n");
  EXPECT_EQ(bench.platform.messages,
            (std::vector<std::string>{
                "Error : can't do an unweighted analysis without the number of sites",
                "Error : can't do an unweighted analysis without the number of sites"}));

  AnalysisBench narrow("narrow\tx\ng\t1\t2\t3\n");
  LRPFWWMethod().run("FWW", narrow.context);
  EXPECT_EQ(narrow.platform.messages,
            std::vector<std::string>{
                "genes.tsv: the dataset starting on line 1 has 3 numeric columns; this analysis "
                "reads Dn, Pn, Ds, Ps from four columns, or the eight-column layout Dn, sites, "
                "Pn, sites, Ds, sites, Ps, sites"});
  EXPECT_EQ(narrow.context.refusals(), 1);
}

}  // namespace
}  // namespace zelk
