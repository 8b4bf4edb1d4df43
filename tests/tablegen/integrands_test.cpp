// The integrands, the Hurwitz zeta sum, the divergence and the neutral expectations.

#include "tablegen/integrands.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "tablegen/table_generator.h"
#include "tablegen/tablegen_fixtures.h"

namespace {

using namespace zelk::tablegen;
using zelk::testing::independentFixation;

ePnFunctionClass polymorphismIntegrand(double beta, double meanS, int n, int lower, int upper) {
  ePnFunctionClass integrand;
  integrand.beta = beta;
  integrand.meanS = meanS;
  integrand.n = n;
  integrand.initialise();
  integrand.lowerFreq = lower;
  integrand.upperFreq = upper;
  return integrand;
}

eHetFunctionClass heterozygosityIntegrand(double beta, double meanS) {
  eHetFunctionClass integrand;
  integrand.beta = beta;
  integrand.meanS = meanS;
  return integrand;
}

TEST(Zeta, IsTheHundredTermSumWithItsHalfTermAndTail) {
  double direct = 0.0;
  for (int i = 1; i <= 100; ++i) direct += 1.0 / (double(i) * i);
  direct += 1.0 / (2.0 * 101 * 101) + 1.0 / 101;
  EXPECT_NEAR(Zeta(100, 2.0, 1.0), direct, 1e-14);
  EXPECT_NEAR(Zeta(100, 2.0, 1.0), std::numbers::pi * std::numbers::pi / 6, 1e-6);
  EXPECT_TRUE(std::isinf(Zeta(100, 1.0, 1.0)));  // s = 1 is excluded
}

TEST(Zeta, TheEulerMaclaurinFormMatchesThePlainSum) {
  for (const double s : {0.0, 0.004, 0.25, 0.5, 0.9, 1.5, 3.0, 7.0}) {
    for (const double q : {1e-9, 1e-4, 0.3, 1.0, 1.7, 40.0}) {
      // The plain sum itself carries the rounding of its hundred terms and its tail.
      double magnitude = 100.0 + q;
      for (int i = 0; i < 100; ++i) magnitude += std::pow(q + i, -s);
      EXPECT_NEAR(fastZeta100(s, q), Zeta(100, s, q), 4e-15 * magnitude) << "s " << s << " q " << q;
    }
  }
}

TEST(Integrands, ShapeZeroIsNeutrality) {
  // With beta = 0 the gamma average of the fixation term is 1 - x.
  auto polymorphism = polymorphismIntegrand(0.0, 100.0, 7, 2, 2);
  auto heterozygosity = heterozygosityIntegrand(0.0, 100.0);
  for (const double x : {0.01, 0.3, 0.77}) {
    const double folded = 21.0 * (x * x * std::pow(1 - x, 5) + std::pow(x, 5) * (1 - x) * (1 - x));
    EXPECT_NEAR(polymorphism.value(x), folded / x, 1e-13) << x;
    EXPECT_NEAR(heterozygosity.value(x), 2.0 * (1.0 - x), 1e-12) << x;
  }
  openRhombergIntegrationClass integrator;
  integrator.accuracy = kTableAccuracy;
  EXPECT_NEAR(integrator.integrate(polymorphism, 0, 1), neutralExpectation(7, 2, 2), 1e-5);
  EXPECT_NEAR(integrator.integrate(heterozygosity, 0, 1), 1.0, 1e-5);
  // 0 times infinity.
  EXPECT_TRUE(std::isnan(expectedDivergence(0.0, 100.0)));
}

TEST(Integrands, TheMiddleCountOfAnEvenSampleEntersOnce) {
  // Class (1,1) at n = 2: only x(1 - x) enters, with C(2, 1) = 2.
  auto polymorphism = polymorphismIntegrand(0.3, 50.0, 2, 1, 1);
  for (const double x : {0.05, 0.4, 0.9}) {
    // P = 2 x (1 - x), which the division by x (1 - x) cancels.
    EXPECT_NEAR(polymorphism.value(x), independentFixation(x, 0.3, 50.0) * 2.0, 1e-13) << x;
  }
}

TEST(Integrands, ShapeOneGivesNotANumber) {
  // 0/0 in the class integrand, infinity minus infinity in the heterozygosity; the
  // integrator turns such integrands into 0.
  EXPECT_TRUE(std::isnan(polymorphismIntegrand(1.0, 10.0, 4, 1, 1).value(0.5)));
  EXPECT_TRUE(std::isnan(heterozygosityIntegrand(1.0, 10.0).value(0.5)));
}

TEST(NeutralExpectation, SumsBothFoldsAndCountsAMiddleClassOnce) {
  struct Case {
    int n, lower, upper;
    double expected;
  };
  const Case cases[] = {
      {7, 1, 1, 1.0 + 1.0 / 6},
      {7, 2, 2, 1.0 / 2 + 1.0 / 5},
      {7, 3, 3, 1.0 / 3 + 1.0 / 4},
      {8, 4, 4, 1.0 / 4},
      {20, 10, 10, 1.0 / 10},
      {20, 2, 4, (1.0 / 2 + 1.0 / 18) + (1.0 / 3 + 1.0 / 17) + (1.0 / 4 + 1.0 / 16)},
  };
  for (const auto& c : cases) {
    EXPECT_NEAR(neutralExpectation(c.n, c.lower, c.upper), c.expected, 1e-15)
        << c.n << " (" << c.lower << "," << c.upper << ")";
  }
}

}  // namespace
