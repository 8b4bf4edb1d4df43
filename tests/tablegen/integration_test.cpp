// Open Romberg integration: stage counts, the stop test, the ends never touched, messages.

#include "tablegen/integration.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "support/platform_double.h"

namespace {

using zelk::tablegen::functionClass;
using zelk::tablegen::openRhombergIntegrationClass;

// An integrand given by a function, counting its evaluations and the range of x it saw.
class Counted : public functionClass {
 public:
  explicit Counted(std::function<double(double)> f) : f_(std::move(f)) {}
  double value(double x) override {
    ++calls;
    lowest = std::min(lowest, x);
    highest = std::max(highest, x);
    return f_(x);
  }
  long calls = 0;
  double lowest = std::numeric_limits<double>::infinity();
  double highest = -std::numeric_limits<double>::infinity();

 private:
  std::function<double(double)> f_;
};

TEST(OpenRomberg, ExactIntegrandsStopAtStageFiveAfter81Evaluations) {
  struct Case {
    const char* name;
    std::function<double(double)> f;
    double a, b, expected;
  };
  const Case cases[] = {
      {"constant", [](double) { return 3.0; }, 0.0, 1.0, 3.0},
      {"linear", [](double x) { return 2.0 * x + 1.0; }, 0.0, 1.0, 2.0},
      {"linear on (2, 5)", [](double x) { return x; }, 2.0, 5.0, 10.5},
  };
  for (const auto& c : cases) {
    Counted fn(c.f);
    openRhombergIntegrationClass integrator;
    integrator.accuracy = 0.00001;
    EXPECT_NEAR(integrator.integrate(fn, c.a, c.b), c.expected, 1e-12) << c.name;
    EXPECT_EQ(fn.calls, 81) << c.name;
    EXPECT_EQ(integrator.lastStage(), 5) << c.name;
    // Open: the ends are never evaluated.
    EXPECT_GT(fn.lowest, c.a) << c.name;
    EXPECT_LT(fn.highest, c.b) << c.name;
  }
}

TEST(OpenRomberg, IntegrandsThatNeverPassTheTestRunAllStagesAndGiveZero) {
  struct Case {
    const char* name;
    std::function<double(double)> f;
  };
  const Case cases[] = {
      {"zero: 0 < 0 fails", [](double) { return 0.0; }},
      {"not a number", [](double) { return std::numeric_limits<double>::quiet_NaN(); }},
      {"infinite", [](double) { return std::numeric_limits<double>::infinity(); }},
  };
  for (const auto& c : cases) {
    Counted fn(c.f);
    openRhombergIntegrationClass integrator;
    EXPECT_EQ(integrator.integrate(fn, 0.0, 1.0), 0.0) << c.name;
    EXPECT_EQ(fn.calls, 1594323) << c.name;  // 3^13
  }
  functionClass base;
  openRhombergIntegrationClass integrator;
  EXPECT_EQ(integrator.integrate(base, 0.0, 1.0), 0.0);
  EXPECT_EQ(integrator.lastStage(), 15);
}

TEST(OpenRomberg, MidpointStageNIsTheMidpointRuleOnPowersOfThreePanels) {
  Counted fn([](double x) { return std::exp(x) / (1.0 + x * x); });
  openRhombergIntegrationClass integrator;
  for (int n = 1; n <= 6; ++n) {
    const double stage = integrator.midPoint(fn, 0.0, 2.0, n);
    const int panels = static_cast<int>(std::pow(3, n - 1));
    const double width = 2.0 / panels;
    double direct = 0.0;
    for (int i = 0; i < panels; ++i) {
      const double x = (i + 0.5) * width;
      direct += std::exp(x) / (1.0 + x * x);
    }
    EXPECT_NEAR(stage, direct * width, 1e-13) << "stage " << n;
    EXPECT_EQ(integrator.integrand, stage);
  }
  // Each stage adds only the new points: 1 + 2 + 6 + 18 + 54 + 162.
  EXPECT_EQ(fn.calls, 243);
}

TEST(OpenRomberg, ToleranceOfZeroOrBelowMeansOneInAMillion) {
  auto stagesFor = [](double accuracy) {
    Counted fn([](double x) { return 1.0 / (x + 0.02); });
    openRhombergIntegrationClass integrator;
    integrator.accuracy = accuracy;
    const double value = integrator.integrate(fn, 0.0, 1.0);
    return std::pair{integrator.lastStage(), value};
  };
  const auto standard = stagesFor(1e-6);
  EXPECT_EQ(stagesFor(0.0), standard);
  EXPECT_EQ(stagesFor(-3.0), standard);
  EXPECT_NEAR(standard.second, std::log(51.0), 1e-4 * std::log(51.0));
  EXPECT_LT(stagesFor(1e-2).first, standard.first);
}

TEST(OpenRomberg, PolynomialInterpolationIsExactForAPolynomialOfItsDegree) {
  openRhombergIntegrationClass integrator;
  // Element 0 is unused; five points of 2 - x + 3x^4.
  const std::vector<double> xa = {99.0, 1.0, 1.0 / 9, 1.0 / 81, 1.0 / 729, 1.0 / 6561};
  std::vector<double> ya(xa.size(), 99.0);
  for (std::size_t i = 1; i < xa.size(); ++i) ya[i] = 2.0 - xa[i] + 3.0 * std::pow(xa[i], 4);
  double y = 0.0;
  double dy = 0.0;
  integrator.polynomialInterpolation(xa, ya, 0.0, y, dy);
  EXPECT_NEAR(y, 2.0, 1e-12);
  // The last correction is the step from the four points nearest 0 to all five.
  EXPECT_NEAR(std::fabs(dy), 0.0, 1e-9);
  integrator.polynomialInterpolation(xa, ya, 0.5, y, dy);
  EXPECT_NEAR(y, 2.0 - 0.5 + 3.0 * std::pow(0.5, 4), 1e-9);

  // Any number of points: twenty points of a line.
  std::vector<double> manyX(21, 0.0);
  std::vector<double> manyY(21, 0.0);
  for (int i = 1; i <= 20; ++i) {
    manyX[i] = 1.0 + i * 0.5;
    manyY[i] = 4.0 - 2.0 * manyX[i];
  }
  integrator.polynomialInterpolation(manyX, manyY, 0.0, y, dy);
  EXPECT_NEAR(y, 4.0, 1e-6);
}

TEST(OpenRomberg, EqualAbscissaeShowTheMessageAndGoOn) {
  zelk::testing::RecordingPlatform platform;
  openRhombergIntegrationClass integrator(&platform);
  const std::vector<double> xa = {0.0, 1.0, 0.5, 0.5};
  const std::vector<double> ya = {0.0, 1.0, 2.0, 3.0};
  double y = 0.0;
  double dy = 0.0;
  integrator.polynomialInterpolation(xa, ya, 0.0, y, dy);
  ASSERT_EQ(platform.messages.size(), 1u);
  EXPECT_EQ(platform.messages[0], "Houston we have a problem with polyInterpolation");
}

}  // namespace
