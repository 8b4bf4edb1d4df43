#include "stats/special_function.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include "support/recording_platform.h"

namespace zelk {
namespace {

const std::string kInvalidArguments = "Warning - gamma distribution called with invalid arguments";
const std::string kInvalidParameters = "Gamma distribution called with invalid parameter values";
const std::string kNoConvergence = "Gamma distribution failed to converge";

using Messages = std::vector<std::string>;

// P(a, x) in closed form: a finite sum for whole a, the error function for half-whole a.
double closedFormP(double a, double x) {
  if (a == std::floor(a)) {
    double term = 1.0;
    double sum = 0.0;
    for (int k = 0; k < static_cast<int>(a); ++k) {
      sum += term;
      term *= x / (k + 1);
    }
    return 1.0 - std::exp(-x) * sum;
  }
  // P(a + 1, x) = P(a, x) - x^a e^-x / Gamma(a + 1), starting from P(1/2, x) = erf(sqrt x).
  double p = std::erf(std::sqrt(x));
  for (double s = 0.5; s < a; s += 1.0) {
    p -= std::exp(s * std::log(x) - x - std::lgamma(s + 1.0));
  }
  return p;
}

class SpecialFunctions : public ::testing::Test {
 protected:
  testing::RecordingPlatform platform;
  specialFunctionClass functions{&platform};
};

TEST_F(SpecialFunctions, IncompleteGammaMatchesClosedForms) {
  struct Case {
    double a, x;
  };
  for (const Case c : {Case{1, 0.5}, Case{1, 3}, Case{3, 2}, Case{3, 4.5}, Case{10, 3},
                       Case{10, 15}, Case{0.5, 0.2}, Case{0.5, 2.25}, Case{1.5, 1}, Case{1.5, 6},
                       Case{5, 5.999999}, Case{5, 6}, Case{2.5, 30}, Case{30, 20}}) {
    const double expected = closedFormP(c.a, c.x);
    EXPECT_NEAR(functions.gammaP(c.a, c.x), expected, 1e-6) << c.a << " " << c.x;
    EXPECT_NEAR(functions.gammaQ(c.a, c.x), 1.0 - expected, 1e-6) << c.a << " " << c.x;
    EXPECT_EQ(functions.gammaRegularized(c.a, c.x), functions.gammaQ(c.a, c.x));
  }
  EXPECT_EQ(platform.messages, Messages{});
}

TEST_F(SpecialFunctions, SeriesAndContinuedFractionAgreeAtTheSwitch) {
  for (const double a : {0.5, 3.0, 20.0, 150.0}) {
    const double justBelow = std::nextafter(a + 1.0, 0.0);
    EXPECT_NEAR(functions.gser(a, justBelow), 1.0 - functions.gcf(a, a + 1.0), 1e-6) << a;
    EXPECT_NEAR(functions.gammaP(a, justBelow), functions.gammaP(a, a + 1.0), 1e-6) << a;
    EXPECT_NEAR(functions.gammaQ(a, justBelow), functions.gammaQ(a, a + 1.0), 1e-6) << a;
  }
  EXPECT_EQ(platform.messages, Messages{});
}

TEST_F(SpecialFunctions, ChiSquareUpperTail) {
  struct Case {
    double x;
    int df;
    double tail;
  };
  for (const Case c : {Case{3.841458820694124, 1, 0.05}, Case{11.07049769, 5, 0.05},
                       Case{10, 5, 0.0752352}, Case{1, 2, std::exp(-0.5)},
                       Case{6.634896601021214, 1, 0.01}, Case{0.5, 1, 0.4795001221869535},
                       Case{0, 1, 1}, Case{0, 5, 1}, Case{5.991464547107979, 2, 0.05}}) {
    EXPECT_NEAR(functions.CDFchiSquareDistribution(c.x, c.df), c.tail, 1e-6)
        << c.x << " df " << c.df;
  }
  EXPECT_EQ(platform.messages, Messages{});

  // No degrees of freedom: a shape of 0 is reported, the tail at 0 is still 1.
  EXPECT_EQ(functions.CDFchiSquareDistribution(0, 0), 1.0);
  EXPECT_EQ(platform.messages, Messages{kInvalidParameters});
}

TEST_F(SpecialFunctions, ZeroArgumentGivesExactBoundsWithoutMessages) {
  for (const double a : {0.1, 1.0, 7.0, 1000.0}) {
    EXPECT_EQ(functions.gammaP(a, 0.0), 0.0) << a;
    EXPECT_EQ(functions.gammaQ(a, 0.0), 1.0) << a;
  }
  EXPECT_EQ(platform.messages, Messages{});
}

TEST_F(SpecialFunctions, InvalidArgumentsAreReportedAndTheComputationGoesOn) {
  EXPECT_EQ(functions.gammaP(2.0, -1.0), 0.0);
  EXPECT_EQ(platform.messages, (Messages{kInvalidArguments, kInvalidParameters}));

  platform.messages.clear();
  EXPECT_EQ(functions.gammaQ(2.0, -1.0), 1.0);
  EXPECT_EQ(platform.messages, (Messages{kInvalidParameters, kInvalidParameters}));

  // A shape of zero or below: the first message names the calling function.
  for (const double a : {0.0, -1.5}) {
    platform.messages.clear();
    functions.gammaP(a, 0.5);
    ASSERT_FALSE(platform.messages.empty());
    EXPECT_EQ(platform.messages.front(), kInvalidArguments) << a;
    platform.messages.clear();
    functions.gammaQ(a, 0.5);
    ASSERT_FALSE(platform.messages.empty());
    EXPECT_EQ(platform.messages.front(), kInvalidParameters) << a;
  }

  const specialFunctionClass silent;  // no platform: messages are dropped
  EXPECT_EQ(silent.gammaP(2.0, -1.0), 0.0);
  EXPECT_EQ(silent.gammaQ(2.0, -1.0), 1.0);
}

TEST_F(SpecialFunctions, SlowConvergenceIsReportedWithThePartialValue) {
  // Far from x = a both expansions settle quickly.
  const double farBelow = functions.gammaP(1000.0, 10.0);
  EXPECT_GE(farBelow, 0.0);
  EXPECT_LT(farBelow, 1e-300);
  EXPECT_NEAR(functions.gammaQ(5.0, 200.0), 0.0, 1e-70);
  EXPECT_EQ(platform.messages, Messages{});

  // Near x = a with a large shape neither does within 100 terms.
  struct Case {
    double x;
    bool lower;
  };
  for (const Case c :
       {Case{9999.0, true}, Case{9999.0, false}, Case{10001.0, true}, Case{10001.0, false}}) {
    platform.messages.clear();
    const double value = c.lower ? functions.gammaP(10000.0, c.x) : functions.gammaQ(10000.0, c.x);
    EXPECT_TRUE(std::isfinite(value)) << c.x;
    EXPECT_EQ(platform.messages, Messages{kNoConvergence}) << c.x << " " << c.lower;
  }
}

TEST_F(SpecialFunctions, LogGammaWithReflectionBelowOne) {
  // The six-term series is good to about 1.5e-6 in ln Gamma (relative for large x).
  EXPECT_NEAR(functions.gammaln(1.0), 0.0, 1e-6);
  EXPECT_NEAR(functions.gammaln(2.0), 0.0, 1e-6);
  EXPECT_NEAR(functions.gammaln(0.5), std::log(std::sqrt(std::numbers::pi)), 1e-6);
  for (const double x : {0.01, 0.1, 0.3, 0.75, 0.999, 1.001, 2.5, 7.0, 50.0, 1e5}) {
    EXPECT_NEAR(functions.gammaln(x), std::lgamma(x), 1.5e-6 * std::max(1.0, std::lgamma(x))) << x;
  }
  // Both sides of 1 join within the series' accuracy (the reflected error changes sign),
  // including at the last double below 1, where 2 - x rounds to 1.
  for (const double step : {1e-9, 1e-15, 0.0}) {
    const double below = functions.gammaln(step == 0.0 ? std::nextafter(1.0, 0.0) : 1.0 - step);
    const double above = functions.gammaln(1.0 + step);
    EXPECT_NEAR(below, above, 1e-6) << step;
  }
}

TEST_F(SpecialFunctions, GammaMassBetweenTwoPoints) {
  struct Case {
    double a, x0, x1;
  };
  for (const Case c :
       {Case{2, 1, 3}, Case{2, 1, 5}, Case{0.5, 0.1, 4}, Case{3, 0, 2.5}, Case{10, 12, 30}}) {
    EXPECT_NEAR(functions.gammaRegularized(c.a, c.x0, c.x1),
                closedFormP(c.a, c.x1) - closedFormP(c.a, c.x0), 1e-6)
        << c.a << " " << c.x0 << " " << c.x1;
  }
  for (const double x : {0.5, 2.0, 9.0}) {
    EXPECT_NEAR(functions.gammaRegularized(4.0, 0.0, x), functions.gammaP(4.0, x), 1e-15);
    EXPECT_NEAR(functions.gammaRegularized(4.0, x, x), 0.0, 1e-15);
  }
  EXPECT_EQ(platform.messages, Messages{});
}

}  // namespace
}  // namespace zelk
