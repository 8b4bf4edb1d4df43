#pragma once
// Regularised incomplete gamma functions and the chi-square upper tail.
// P(a, x) is the lower and Q(a, x) = 1 - P(a, x) the upper regularised incomplete gamma
// function. Series and continued fraction stop after 100 terms or at a relative change below
// 3e-7. Problems are shown as messages and the computation goes on with the values it has.

#include "common/platform.h"

namespace zelk {

class specialFunctionClass {
 public:
  static constexpr int maximumIterations = 100;
  static constexpr double tolerance = 3e-7;

  // `platform` receives the message boxes (nullptr: they are dropped).
  explicit specialFunctionClass(Platform* platform = nullptr) : platform_(platform) {}

  // P(a, x); series below x = a + 1, continued fraction from there on.
  double gammaP(double a, double x) const;
  // Q(a, x).
  double gammaQ(double a, double x) const;
  // P(a, x) by its series.
  double gser(double a, double x) const;
  // Q(a, x) by its continued fraction.
  double gcf(double a, double x) const;
  // ln Gamma(x) for x > 0 (Lanczos series, reflected below 1).
  double gammaln(double x) const;
  // Q(a, x).
  double gammaRegularized(double a, double x) const;
  // Probability that a gamma variate of shape a and scale 1 lies between x0 and x1.
  double gammaRegularized(double a, double x0, double x1) const;
  // Probability that a chi-square variate with df degrees of freedom exceeds x.
  double CDFchiSquareDistribution(double x, int df) const;

 private:
  void message(const char* text) const;

  Platform* platform_;
};

}  // namespace zelk
