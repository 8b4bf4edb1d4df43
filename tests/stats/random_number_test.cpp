#include "stats/random_number.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include "support/recording_platform.h"

namespace zelk {
namespace {

constexpr std::int32_t kTick = 987654;

randomNumberClass seededAt(std::int32_t tick, Platform* platform = nullptr) {
  return randomNumberClass(platform, [tick] { return tick; });
}

std::vector<double> uniforms(randomNumberClass& generator, int count) {
  std::vector<double> values;
  for (int i = 0; i < count; ++i) values.push_back(generator.uniform());
  return values;
}

struct Moments {
  double mean = 0.0;
  double variance = 0.0;
};

Moments momentsOf(const std::vector<double>& values) {
  const auto n = static_cast<double>(values.size());
  Moments m;
  for (const double v : values) m.mean += v;
  m.mean /= n;
  for (const double v : values) m.variance += (v - m.mean) * (v - m.mean);
  m.variance /= n - 1.0;
  return m;
}

// --- Seeding and the uniform generator ---

TEST(RandomNumberSeeding, FreshInstanceSeedsOnFirstDrawAndCombinesEntries1And32) {
  int ticksRead = 0;
  randomNumberClass generator(nullptr, [&ticksRead] {
    ++ticksRead;
    return kTick;
  });
  EXPECT_FALSE(generator.initialised);
  EXPECT_EQ(generator.gasdevIset, 0);

  generator.initialise();
  EXPECT_TRUE(generator.initialised);
  EXPECT_EQ(generator.idum, 1);
  EXPECT_EQ(generator.ran3next, 0);
  EXPECT_EQ(generator.ran3nextp, 31);
  for (int i = 1; i <= 55; ++i) {
    const double entry = generator.ran3ma[i];
    EXPECT_TRUE(entry >= 0.0 && entry < 4000000.0 && entry == std::floor(entry)) << i;
  }

  const auto table = generator.ran3ma;
  double expectedRaw = table[1] - table[32];
  if (expectedRaw < 0.0) expectedRaw += 4000000.0;
  EXPECT_EQ(generator.uniform(), expectedRaw * 2.5e-7);
  EXPECT_EQ(generator.ran3ma[1], expectedRaw);
  EXPECT_EQ(generator.ran3next, 1);
  EXPECT_EQ(generator.ran3nextp, 32);

  uniforms(generator, 200);  // wraps both indices past 55
  EXPECT_EQ(ticksRead, 1);
}

TEST(RandomNumberSeeding, SequenceDependsOnlyOnTheTickModuloTheModulus) {
  // 1,618,033 - tick is -1, 3,999,999, -4,000,001 and 403,999,999: all congruent to 3,999,999.
  const std::vector<std::int32_t> congruentTicks = {1618034, 1618033 - 3999999, 1618033 + 4000001,
                                                    1618033 - 403999999};
  randomNumberClass reference = seededAt(congruentTicks[0]);
  const std::vector<double> expected = uniforms(reference, 500);
  for (const std::int32_t tick : congruentTicks) {
    randomNumberClass generator = seededAt(tick);
    EXPECT_EQ(uniforms(generator, 500), expected) << tick;
  }
  randomNumberClass neighbour = seededAt(1618035);
  EXPECT_NE(uniforms(neighbour, 500), expected);
}

TEST(RandomNumberSeeding, ReseedingRestartsTheSequenceButKeepsTheNormalCache) {
  randomNumberClass generator = seededAt(kTick);
  const std::vector<double> first = uniforms(generator, 100);
  generator.normal();
  ASSERT_EQ(generator.gasdevIset, 1);
  const double cached = generator.gasdevGset;

  generator.initialise();
  EXPECT_EQ(generator.gasdevIset, 1);
  EXPECT_EQ(generator.normal(), cached);
  EXPECT_EQ(uniforms(generator, 100), first);
}

TEST(RandomNumberUniform, ValuesAreMultiplesOfTheStepInZeroToOneWithUniformMoments) {
  for (const std::int32_t tick : {kTick, std::numeric_limits<std::int32_t>::min(),
                                  std::numeric_limits<std::int32_t>::max(), 0, -1}) {
    randomNumberClass generator = seededAt(tick);
    std::vector<double> values;
    for (int i = 0; i < 400000; ++i) {
      const double u = generator.uniform();
      // The raw draw is a whole number below the modulus, scaled by its reciprocal.
      ASSERT_TRUE(generator.mj >= 0.0 && generator.mj < 4000000.0 &&
                  generator.mj == std::floor(generator.mj))
          << generator.mj;
      ASSERT_EQ(u, generator.mj * 2.5e-7);
      ASSERT_TRUE(u >= 0.0 && u < 1.0) << u;
      values.push_back(u);
    }
    const Moments m = momentsOf(values);
    EXPECT_NEAR(m.mean, 0.5, 0.003) << tick;
    EXPECT_NEAR(m.variance, 1.0 / 12.0, 0.001) << tick;
  }
  randomNumberClass clockSeeded;  // the default tick counter
  for (const double u : uniforms(clockSeeded, 1000)) ASSERT_TRUE(u >= 0.0 && u < 1.0);
}

TEST(RandomNumberUniform, ZeroDrawIsReturnedByUniformAndRedrawnByExponential) {
  // A table whose next two combined entries are equal yields a raw draw of exactly 0.
  auto primedForZero = [] {
    randomNumberClass generator = seededAt(kTick);
    generator.initialise();
    generator.ran3ma[32] = generator.ran3ma[1];
    return generator;
  };
  randomNumberClass direct = primedForZero();
  EXPECT_EQ(direct.uniform(), 0.0);

  randomNumberClass throughExponential = primedForZero();
  const double e = throughExponential.exponential();
  EXPECT_TRUE(std::isfinite(e));
  EXPECT_GT(e, 0.0);
  EXPECT_EQ(throughExponential.ran3next, 2);  // the zero was drawn and discarded
}

// --- Deviates ---

struct DeviateCase {
  std::string name;
  std::function<double(randomNumberClass&)> draw;
  double mean;
  double variance;
  double relativeVarianceTolerance;
};

class DeviateMoments : public ::testing::TestWithParam<DeviateCase> {};

TEST_P(DeviateMoments, LongRunMeanAndVarianceMatchTheDistribution) {
  const DeviateCase& c = GetParam();
  constexpr int kDraws = 200000;
  randomNumberClass generator = seededAt(kTick);
  std::vector<double> values;
  values.reserve(kDraws);
  for (int i = 0; i < kDraws; ++i) {
    const double v = c.draw(generator);
    ASSERT_TRUE(std::isfinite(v)) << c.name;
    values.push_back(v);
  }
  const Moments m = momentsOf(values);
  // Five standard errors of the mean.
  EXPECT_NEAR(m.mean, c.mean, 5.0 * std::sqrt(c.variance / kDraws) + 1e-12) << c.name;
  EXPECT_NEAR(m.variance, c.variance, c.relativeVarianceTolerance * c.variance + 1e-12) << c.name;
}

double gammaShape(randomNumberClass& g, double shape) {
  return g.gamma(shape);
}

INSTANTIATE_TEST_SUITE_P(
    AllDeviates, DeviateMoments,
    ::testing::Values(
        DeviateCase{"exponential", [](auto& g) { return g.exponential(); }, 1.0, 1.0, 0.03},
        DeviateCase{"normal", [](auto& g) { return g.normal(); }, 0.0, 1.0, 0.02},
        DeviateCase{"gamma 0.1", [](auto& g) { return gammaShape(g, 0.1); }, 1.0, 10.0, 0.08},
        DeviateCase{"gamma 0.5", [](auto& g) { return gammaShape(g, 0.5); }, 1.0, 2.0, 0.04},
        DeviateCase{"gamma 1", [](auto& g) { return gammaShape(g, 1.0); }, 1.0, 1.0, 0.03},
        DeviateCase{"gamma 7.5", [](auto& g) { return gammaShape(g, 7.5); }, 1.0, 1.0 / 7.5, 0.02},
        DeviateCase{"Ahrens 0.3", [](auto& g) { return g.gammaAhrens(0.3); }, 1.0, 1.0 / 0.3, 0.05},
        DeviateCase{"Cheng 2", [](auto& g) { return g.gammaCheng(2.0); }, 1.0, 0.5, 0.02},
        DeviateCase{"Fishman 1", [](auto& g) { return g.gammaFishman(1.0); }, 1.0, 1.0, 0.03},
        DeviateCase{"Fishman 3", [](auto& g) { return g.gammaFishman(3.0); }, 1.0, 1.0 / 3.0, 0.02},
        DeviateCase{"MT 1", [](auto& g) { return g.gammaMT(1.0); }, 1.0, 1.0, 0.03},
        DeviateCase{"MT 20", [](auto& g) { return g.gammaMT(20.0); }, 1.0, 0.05, 0.02},
        DeviateCase{"poisson 0.5", [](auto& g) { return double(g.poisson(0.5)); }, 0.5, 0.5, 0.02},
        DeviateCase{"poisson 11.9", [](auto& g) { return double(g.poisson(11.9)); }, 11.9, 11.9,
                    0.02},
        DeviateCase{"poisson 12", [](auto& g) { return double(g.poisson(12.0)); }, 12.0, 12.0,
                    0.02},
        DeviateCase{"poisson 1000", [](auto& g) { return double(g.poisson(1000.0)); }, 1000.0,
                    1000.0, 0.02},
        DeviateCase{"binomial 10 0.3", [](auto& g) { return double(g.binomial(10, 0.3)); }, 3.0,
                    2.1, 0.02},
        DeviateCase{"binomial 30 0.02", [](auto& g) { return double(g.binomial(30, 0.02)); }, 0.6,
                    0.588, 0.02},
        DeviateCase{"binomial 60 0.99", [](auto& g) { return double(g.binomial(60, 0.99)); }, 59.4,
                    0.594, 0.02},
        DeviateCase{"binomial 100 0.3", [](auto& g) { return double(g.binomial(100, 0.3)); }, 30.0,
                    21.0, 0.02},
        DeviateCase{"binomial 100 0.7", [](auto& g) { return double(g.binomial(100, 0.7)); }, 70.0,
                    21.0, 0.02},
        DeviateCase{"hypergeometric 50 50 50",
                    [](auto& g) { return double(g.hypergeometric(50, 50, 50)); }, 25.0,
                    50.0 * 0.25 * 50.0 / 99.0, 0.02},
        DeviateCase{"hypergeometric 10 2 8",
                    [](auto& g) { return double(g.hypergeometric(10, 2, 8)); }, 80.0 / 12.0,
                    8.0 * (10.0 / 12.0) * (2.0 / 12.0) * 4.0 / 11.0, 0.02}),
    [](const ::testing::TestParamInfo<DeviateCase>& param) {
      std::string name = param.param.name;
      for (char& ch : name) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      }
      return name;
    });

TEST(RandomNumberDeviates, NormalReturnsTheCachedPartnerDespiteDrawsInBetween) {
  randomNumberClass generator = seededAt(kTick);
  for (int pair = 0; pair < 5; ++pair) {
    generator.normal();
    ASSERT_EQ(generator.gasdevIset, 1);
    const double partner = generator.gasdevGset;
    generator.uniform();
    generator.exponential();
    generator.poisson(3.0);
    EXPECT_EQ(generator.normal(), partner);
    EXPECT_EQ(generator.gasdevIset, 0);
  }
}

TEST(RandomNumberDeviates, DegenerateParametersGiveTheirOnlyPossibleValue) {
  randomNumberClass generator = seededAt(kTick);
  // A fresh instance must compute its Poisson constants even for a mean of 0.
  for (int i = 0; i < 100; ++i) ASSERT_EQ(generator.poisson(0.0), 0);
  EXPECT_EQ(generator.poidevG, 1.0);
  for (const std::int32_t n : {0, 1, 24, 25, 100, 5000}) {
    for (int i = 0; i < 20; ++i) {
      ASSERT_EQ(generator.binomial(n, 0.0), 0) << n;
      ASSERT_EQ(generator.binomial(n, 1.0), n) << n;
    }
  }
  struct Hyper {
    std::int32_t na, nb, k, only;
  };
  for (const Hyper h :
       {Hyper{0, 5, 3, 0}, Hyper{5, 0, 3, 3}, Hyper{4, 4, 8, 4}, Hyper{7, 9, 0, 0}}) {
    for (int i = 0; i < 20; ++i) {
      ASSERT_EQ(generator.hypergeometric(h.na, h.nb, h.k), h.only) << h.na << " " << h.nb;
    }
  }
}

TEST(RandomNumberDeviates, CachedConstantsFollowChangingParameters) {
  randomNumberClass generator = seededAt(kTick);
  constexpr int kDraws = 50000;
  double poissonLarge = 0, poissonSmall = 0, binomialSmallN = 0, binomialLargeN = 0;
  for (int i = 0; i < kDraws; ++i) {
    poissonLarge += generator.poisson(40.0);
    poissonSmall += generator.poisson(15.0);
    binomialSmallN += generator.binomial(100, 0.4);
    binomialLargeN += generator.binomial(400, 0.2);
  }
  EXPECT_NEAR(poissonLarge / kDraws, 40.0, 0.15);
  EXPECT_NEAR(poissonSmall / kDraws, 15.0, 0.1);
  EXPECT_NEAR(binomialSmallN / kDraws, 40.0, 0.1);
  EXPECT_NEAR(binomialLargeN / kDraws, 80.0, 0.2);
}

TEST(RandomNumberDeviates, HypergeometricStaysWithinItsSupportAndReachesBothEnds) {
  struct Case {
    std::int32_t na, nb, k;
  };
  randomNumberClass generator = seededAt(kTick);
  for (const Case c :
       {Case{5, 5, 3}, Case{10, 2, 8}, Case{3, 20, 10}, Case{2, 3, 5}, Case{30, 1, 2}}) {
    const std::int32_t lo = std::max(0, c.k - c.nb);
    const std::int32_t hi = std::min(c.na, c.k);
    std::int32_t seenLow = hi, seenHigh = lo;
    for (int i = 0; i < 20000; ++i) {
      const std::int32_t v = generator.hypergeometric(c.na, c.nb, c.k);
      ASSERT_TRUE(v >= lo && v <= hi) << v << " for " << c.na << "," << c.nb << "," << c.k;
      seenLow = std::min(seenLow, v);
      seenHigh = std::max(seenHigh, v);
    }
    EXPECT_EQ(seenLow, lo);
    EXPECT_EQ(seenHigh, hi);
  }
}

TEST(RandomNumberGamma, ShapesBelowOneUseAhrensAndTheOthersCheng) {
  struct Case {
    double shape;
    double (randomNumberClass::*generatorUsed)(double);
  };
  for (const Case c :
       {Case{0.05, &randomNumberClass::gammaAhrens}, Case{0.5, &randomNumberClass::gammaAhrens},
        Case{0.999, &randomNumberClass::gammaAhrens}, Case{1.0, &randomNumberClass::gammaCheng},
        Case{3.7, &randomNumberClass::gammaCheng}}) {
    randomNumberClass viaDispatch = seededAt(kTick);
    randomNumberClass direct = seededAt(kTick);
    for (int i = 0; i < 200; ++i) {
      ASSERT_EQ(viaDispatch.gamma(c.shape), (direct.*c.generatorUsed)(c.shape)) << c.shape;
    }
  }
}

TEST(RandomNumberGamma, IllegalShapeShowsTheMessageAndGivesNaN) {
  testing::RecordingPlatform platform;
  randomNumberClass generator = seededAt(kTick, &platform);
  EXPECT_TRUE(std::isfinite(generator.gamma(2.0)));
  EXPECT_TRUE(platform.messages.empty());

  const double inf = std::numeric_limits<double>::infinity();
  for (const double shape :
       {-1.0, -1e-300, 0.0, -0.0, -inf, inf, std::numeric_limits<double>::quiet_NaN()}) {
    platform.messages.clear();
    EXPECT_TRUE(std::isnan(generator.gamma(shape))) << shape;
    EXPECT_EQ(platform.messages,
              std::vector<std::string>{
                  "Gamma random number generator called with illegal shape parameter"})
        << shape;
  }
  randomNumberClass silent = seededAt(kTick);  // no platform: the message is dropped
  EXPECT_TRUE(std::isnan(silent.gamma(-2.0)));
}

// --- Log-gamma and log-factorial ---

TEST(RandomNumberLogFunctions, GammLnMatchesTheLogGammaFunction) {
  // The six-term series is good to about 1.5e-6 in ln Gamma (relative for large x).
  const randomNumberClass generator = seededAt(kTick);
  for (const double x : {0.5, 1.0, 1.5, 2.0, 3.7, 10.0, 171.5, 1e4, 1e7}) {
    EXPECT_NEAR(generator.gammLn(x), std::lgamma(x),
                1.5e-6 * std::max(1.0, std::fabs(std::lgamma(x))))
        << x;
  }
  EXPECT_NEAR(generator.gammLn(0.5), std::log(std::sqrt(std::numbers::pi)), 1e-6);
}

TEST(RandomNumberLogFunctions, LogFactorialApproximatesLnFactorial) {
  const randomNumberClass generator = seededAt(kTick);
  EXPECT_EQ(generator.logFactorial(0), 0.0);
  const double one = generator.logFactorial(1);
  EXPECT_LT(one, 0.0);
  EXPECT_GT(one, -1e-3);
  for (const std::int32_t n : {2, 5, 10, 100, 1000, 1000000}) {
    const double exact = std::lgamma(static_cast<double>(n) + 1.0);
    EXPECT_NEAR(generator.logFactorial(n), exact, 1e-4 * std::max(1.0, exact)) << n;
  }
}

}  // namespace
}  // namespace zelk
