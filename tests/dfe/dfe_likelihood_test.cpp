#include "dfe/dfe_likelihood.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "dfe/dfe_methods.h"
#include "dfe/gene_team.h"
#include "dfe/step_draws.h"
#include "dfe_fixtures.h"
#include "literal_dfe.h"

namespace zelk::dfe {
namespace {

using testing::LiteralDfe;
using testing::madeUpTables;

constexpr std::int32_t kClasses = 4;

// Values equal to rounding, or both not a number, or the same infinity.
void expectSameValue(double actual, double expected, const std::string& where) {
  if (std::isnan(expected)) {
    EXPECT_TRUE(std::isnan(actual)) << where << ": " << actual;
  } else if (std::isinf(expected)) {
    EXPECT_EQ(actual, expected) << where;
  } else {
    EXPECT_NEAR(actual, expected, 1e-10 * std::fmax(1.0, std::fabs(expected))) << where;
  }
}

// Six genes of four classes with divergence columns; gene 3 has no polymorphism at all.
Matrix sixGenes(std::int32_t k, bool divergence) {
  testing::SimulatedTruth truth;
  truth.theta = 0.004;
  Matrix genes = testing::simulateGenes(
      madeUpTables(k, 8, 12), divergence ? Model::RPM : Model::RPPQ, 6, k, 2 * k + 1, truth, 99);
  for (std::int32_t f = 1; f <= k; ++f) genes(3, 2 + f) = genes(3, k + 3 + f) = 0;
  genes(5, 2) = 1234.5;  // sites need not be whole
  return genes;
}

// A parameter vector for the layout: genes at different sizes and rates, one gene pushed
// above the mean grid and one far below it (clamped to the first column).
std::vector<double> someParameters(const ParameterLayout& layout, Generator& random) {
  std::vector<double> p(static_cast<std::size_t>(layout.count) + 1, 0.0);
  for (std::int32_t g = 1; g <= layout.genes; ++g) {
    p[static_cast<std::size_t>(2 * g - 1)] = 3000 + 14000 * random.uniform();
    p[static_cast<std::size_t>(2 * g)] = 1e-7 * (0.5 + random.uniform());
  }
  p[1] = 1e9;   // gene 1: S far above the last column
  p[3] = 1e-6;  // gene 2: S far below the first column
  for (std::int32_t f = 2; f <= layout.classes; ++f)
    p[static_cast<std::size_t>(layout.rOffset + f)] = 0.5 + random.uniform();
  p[static_cast<std::size_t>(layout.meanS)] = 0.02 + 0.05 * random.uniform();
  p[static_cast<std::size_t>(layout.shape)] = 0.06 + 0.3 * random.uniform();
  if (layout.adaptive != 0) p[static_cast<std::size_t>(layout.adaptive)] = -0.5 + random.uniform();
  if (layout.divergence != 0)
    p[static_cast<std::size_t>(layout.divergence)] = 3 + 4 * random.uniform();
  if (layout.proportion != 0) {
    p[static_cast<std::size_t>(layout.proportion)] = 0.2 * random.uniform();
    p[static_cast<std::size_t>(layout.strength)] = 0.0005 + 0.01 * random.uniform();
  }
  return p;
}

struct Variant {
  const char* name;
  ModelSettings settings;
};

const Variant kVariants[] = {
    {"RPPQ", {Model::RPPQ, true, false, true}},
    {"RPPQ without singletons", {Model::RPPQ, false, false, true}},
    {"RPM alpha", {Model::RPM, true, false, true}},
    {"RPM omegaA", {Model::RPM, true, false, false}},
    {"RPM alpha with polymorphism", {Model::RPM, true, true, true}},
    {"RPM omegaA with polymorphism, without singletons", {Model::RPM, false, true, false}},
    {"adaptive strength", {Model::AdaptiveStrength, true, false, true}},
    {"adaptive strength with polymorphism", {Model::AdaptiveStrength, true, true, true}},
    {"adaptive strength with polymorphism, without singletons",
     {Model::AdaptiveStrength, false, true, true}},
};

// A variant's made-up tables (with the adaptive grid for the adaptive-class model), the
// six genes and the log-factorials.
struct VariantData {
  explicit VariantData(const Variant& variant)
      : tables(madeUpTables(kClasses, 8, 12,
                            variant.settings.model == Model::AdaptiveStrength ? 9 : 0)),
        genes(sixGenes(kClasses, variant.settings.model != Model::RPPQ)) {
    logFact.build(1e6);
  }
  DfeTables tables;
  Matrix genes;
  LogFactorials logFact;
};

TEST(DfeLikelihood, EveryGeneMatchesTheTermByTermSumForEveryModelVariant) {
  for (const Variant& variant : kVariants) {
    const VariantData data(variant);
    const Matrix& genes = data.genes;
    const DfeLikelihood fast(variant.settings, genes, kClasses, data.tables, data.logFact);
    const LiteralDfe literal(variant.settings, genes, kClasses, data.tables);
    Generator random(7);
    for (int trial = 0; trial < 20; ++trial) {
      const auto parameters = someParameters(fast.layout(), random);
      for (std::int32_t p = 1; p <= 2 * genes.rows(); ++p) {
        expectSameValue(fast.geneLogLikelihood(p, parameters), literal.logLikelihood(p, parameters),
                        std::string(variant.name) + ", position " + std::to_string(p));
      }
    }
  }
}

TEST(DfeLikelihood, ZeroAndMissingTableEntriesGiveTheSameNonFiniteValues) {
  // A zero class entry with a zero count gives 0 * ln 0, not a number; with a positive count
  // minus infinity. The divergence of the first shape row is not a number, as a generated
  // table has it at shape 0.
  DfeTables tables = madeUpTables(kClasses, 8, 12);
  for (std::int32_t m = 1; m <= 12; ++m) {
    tables.ePnLookUpTable(2, 3, m) = 0;
    tables.eDnLookUpTable(1, m) = std::numeric_limits<double>::quiet_NaN();
  }
  Matrix genes = sixGenes(kClasses, true);
  genes(4, 2 + 2) = 3;
  genes(6, 2 + 2) = 0;
  LogFactorials logFact;
  logFact.build(1e6);
  for (const Variant& variant : kVariants) {
    if (variant.settings.model != Model::RPM) continue;
    const DfeLikelihood fast(variant.settings, genes, kClasses, tables, logFact);
    const LiteralDfe literal(variant.settings, genes, kClasses, tables);
    Generator random(11);
    auto parameters = someParameters(fast.layout(), random);
    for (const double shape : {0.05, 0.15}) {  // rows 1 and 3
      parameters[static_cast<std::size_t>(fast.layout().shape)] = shape;
      for (std::int32_t g = 3; g <= 6; ++g) {
        const double expected = literal.logLikelihood(2 * g, parameters);
        if (shape == 0.05) {
          EXPECT_TRUE(std::isnan(expected));
        }
        expectSameValue(fast.geneLogLikelihood(2 * g, parameters), expected,
                        std::string(variant.name) + ", gene " + std::to_string(g));
      }
    }
  }
}

TEST(DfeLikelihood, GridMappingClampingAndTheOutOfGridValue) {
  DfeTables tables;
  tables.betaMin = 0;
  tables.betaStep = 0.1;
  tables.maxBetaIndex = 10;
  tables.logMeanSMin = std::log(10.0);
  tables.logMeanSStep = 0.5;
  tables.maxMeanSIndex = 20;
  EXPECT_EQ(tables.rowOf(0.34), 4);
  EXPECT_EQ(tables.rowOf(0.97), 11);
  EXPECT_EQ(tables.rowOf(-0.2), -1);
  for (const double outside : {0.97, -0.2, std::numeric_limits<double>::quiet_NaN()})
    EXPECT_FALSE(tables.inGrid(tables.rowOf(outside), 1)) << outside;
  EXPECT_EQ(tables.columnOf(std::log(1e-30)), 1);  // far below the grid: the first column
  EXPECT_EQ(tables.columnOf(-std::numeric_limits<double>::infinity()), 1);
  EXPECT_FALSE(tables.inGrid(5, tables.columnOf(std::log(10.0) + 0.5 * 20)));
  EXPECT_TRUE(tables.inGrid(5, tables.columnOf(std::log(10.0) + 0.5 * 19)));
  EXPECT_FALSE(tables.inGrid(5, tables.columnOf(std::numeric_limits<double>::quiet_NaN())));

  // Adaptive column a stands for logSaMin + a step, with no +1; clamped to 1..L.
  tables.logSaMin = 0;
  tables.logSaStepSize = 0.5;
  tables.logSaSteps = 6.7;
  EXPECT_EQ(tables.adaptiveColumnOf(0.74), 1);
  EXPECT_EQ(tables.adaptiveColumnOf(-5), 1);
  EXPECT_EQ(tables.adaptiveColumnOf(1.6), 3);
  EXPECT_EQ(tables.adaptiveColumnOf(100), 6);
  EXPECT_EQ(tables.adaptiveColumnOf(std::numeric_limits<double>::quiet_NaN()), 1);

  // A gene whose shape lies outside the grid takes the out-of-grid value, whatever else.
  const DfeTables small = madeUpTables(kClasses, 8, 12);
  const Matrix genes = sixGenes(kClasses, false);
  LogFactorials logFact;
  logFact.build(1e6);
  const DfeLikelihood fast({Model::RPPQ, true, false, true}, genes, kClasses, small, logFact);
  Generator random(3);
  auto parameters = someParameters(fast.layout(), random);
  parameters[static_cast<std::size_t>(fast.layout().shape)] = 0.05 + 8 * 0.05;
  EXPECT_EQ(fast.geneLogLikelihood(6, parameters), kOutOfGrid);
  EXPECT_EQ(fast.geneLogLikelihood(1, parameters), kOutOfGrid);  // S above the last column
}

TEST(DfeLikelihood, PoissonTermsAndLogFactorialsBeyondTheTable) {
  DFEmethods method("RPPQ");
  method.logFact.build(10);
  EXPECT_DOUBLE_EQ(method.logPoisson(0, 2.5), -2.5);
  EXPECT_NEAR(method.logPoisson(3, 2), -2 + 3 * std::log(2.0) - std::log(6.0), 1e-15);

  LogFactorials logFact;
  logFact.build(2.5e6);
  EXPECT_EQ(logFact.tabled(), 1000001u);
  EXPECT_NEAR(logFact(3), std::log(6.0), 1e-15);
  EXPECT_NEAR(logFact(7.9), logFact(7), 0);  // the whole part of a count
  EXPECT_NEAR(logFact(2e6), std::lgamma(2e6 + 1), 1e-9 * std::lgamma(2e6 + 1));
  EXPECT_NEAR(logFact(1e6), std::lgamma(1e6 + 1), 1e-9 * std::lgamma(1e6 + 1));

  DfeTables tables = madeUpTables(kClasses, 8, 12);
  Matrix genes = sixGenes(kClasses, false);
  genes(2, 3) = 2500000;  // above a million: the log-gamma function takes over
  logFact.build(2500000);
  const DfeLikelihood fast({Model::RPPQ, true, false, true}, genes, kClasses, tables, logFact);
  Generator random(5);
  const auto parameters = someParameters(fast.layout(), random);
  EXPECT_TRUE(std::isfinite(fast.geneLogLikelihood(4, parameters)));
}

// A random walk of proposals, accepted by a coin, with gene and shared positions mixed.
void walk(DfeLikelihood& likelihood, Generator& random, int proposals) {
  const ParameterLayout& layout = likelihood.layout();
  for (int i = 0; i < proposals; ++i) {
    const auto p = static_cast<std::int32_t>(random.between1And(layout.count));
    const double current = likelihood.parameters()[static_cast<std::size_t>(p)];
    double x = current * (0.8 + 0.4 * random.uniform());
    if (p == layout.adaptive || p == layout.proportion)
      x = current + 0.05 * (random.uniform() - 0.5);
    likelihood.propose(p, x);
    if (random.uniform() < 0.6) likelihood.accept();
  }
}

TEST(DfeLikelihood, CachedValuesStayEqualToAFreshEvaluationAlongAChain) {
  for (const Variant& variant : kVariants) {
    const VariantData data(variant);
    const Matrix& genes = data.genes;
    DfeLikelihood fast(variant.settings, genes, kClasses, data.tables, data.logFact);
    Generator random(21);
    auto start = someParameters(fast.layout(), random);
    start[1] = 9000;  // every gene inside the grid at the start
    fast.start(start);
    walk(fast, random, 20000);
    double total = 0;
    for (std::int32_t g = 1; g <= genes.rows(); ++g) {
      const double fresh = fast.geneLogLikelihood(2 * g, fast.parameters());
      expectSameValue(fast.geneValue(g), fresh,
                      std::string(variant.name) + ", gene " + std::to_string(g));
      total += fresh;
    }
    expectSameValue(fast.total(), total, variant.name);
  }
}

TEST(DfeLikelihood, MetropolisDecisionsEqualTheLogarithmRule) {
  const auto rule = [](double change, double v) { return 0 < change || std::log(v) < change; };
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  Generator random(3);
  std::vector<double> draws = {0.0, 1e-300, 1e-10, 0.5, 1 - 1e-10, std::nextafter(1.0, 0.0)};
  for (int i = 0; i < 20000; ++i) draws.push_back(random.uniform());
  for (const double v : draws) {
    const double lnV = std::log(v);
    // Changes around ln v (ties to the last bit), far from it, and not finite.
    std::vector<double> changes = {0.0, -0.0, -1e10, 1e10, -inf, inf, nan, -1e-12, 1e-300};
    double near = lnV;
    for (int k = 0; k < 3; ++k) near = std::nextafter(near, -inf);
    for (int k = 0; k < 7; ++k, near = std::nextafter(near, inf)) changes.push_back(near);
    changes.push_back(-20 * random.uniform());
    for (const double change : changes)
      EXPECT_EQ(metropolisTakes(change, v), rule(change, v)) << "change " << change << " v " << v;
  }
}

TEST(DfeLikelihood, ATeamOfThreadsGivesTheSameValuesAsOneThread) {
  const DfeTables tables = madeUpTables(kClasses, 8, 12);
  testing::SimulatedTruth truth;
  truth.theta = 0.004;
  const Matrix genes = testing::simulateGenes(tables, Model::RPM, 1000, kClasses, 9, truth, 5);
  LogFactorials logFact;
  logFact.build(1e6);
  const ModelSettings settings{Model::RPM, true, true, false};
  DfeLikelihood alone(settings, genes, kClasses, tables, logFact);
  DfeLikelihood together(settings, genes, kClasses, tables, logFact);
  GeneTeam team(3);
  together.setTeam(&team);
  Generator random(8);
  auto start = someParameters(alone.layout(), random);
  start[1] = 9000;
  start[3] = 9000;
  alone.start(start);
  together.start(start);
  Generator walkAlone(4);
  Generator walkTogether(4);
  walk(alone, walkAlone, 3000);
  walk(together, walkTogether, 3000);
  // Sweeps over the gene positions, decided gene by gene on the team's threads.
  const auto positions = static_cast<std::size_t>(2 * genes.rows());
  // Wide limits and widths of a fifth of each value, with a few positions held fixed.
  std::vector<double> lower(positions + 1, 0.0), upper(positions + 1, 1e7);
  for (std::size_t i = 7; i <= positions; i += 97) lower[i] = upper[i] = alone.parameters()[i];
  std::vector<double> stepsAlone(positions + 1), stepsTogether(positions + 1);
  for (std::size_t i = 1; i <= positions; ++i)
    stepsAlone[i] = stepsTogether[i] = 0.2 * alone.parameters()[i];
  const StepDraws draws(8);
  for (int sweep = 1; sweep <= 20; ++sweep) {
    DfeLikelihood::GeneMoves movesAlone{draws.stepKey(sweep), lower, upper, stepsAlone};
    DfeLikelihood::GeneMoves movesTogether{draws.stepKey(sweep), lower, upper, stepsTogether};
    alone.sweepGenes(movesAlone);
    together.sweepGenes(movesTogether);
    EXPECT_EQ(stepsAlone, stepsTogether);
  }
  EXPECT_EQ(alone.parameters(), together.parameters());
  EXPECT_EQ(alone.total(), together.total());
  EXPECT_EQ(alone.propose(alone.layout().rOffset + 2, 1.3),
            together.propose(together.layout().rOffset + 2, 1.3));
}

}  // namespace
}  // namespace zelk::dfe
