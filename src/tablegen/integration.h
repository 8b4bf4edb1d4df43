#pragma once
// Open Romberg integration over an interval whose ends are never evaluated: the extended
// midpoint rule, tripling the panels at each stage, extrapolated to zero step by Neville's
// algorithm through the last five stage results.

#include <cstdint>
#include <vector>

#include "common/platform.h"

namespace zelk::tablegen {

// The base of every integrand. The base integrand is identically 0.
class functionClass {
 public:
  virtual ~functionClass() = default;
  virtual double value(double x);
};

// Neville's algorithm: the value at x of the polynomial through (xa[i], ya[i]), i = 1..m with
// m = xa.size() - 1 (element 0 is unused), and the last correction added (the error
// estimate). Returns false when two abscissae are equal; the division by zero then goes on
// and the value is meaningless.
bool nevilleInterpolation(const double* xa, const double* ya, int m, double x, double& y,
                          double& dy);

class openRhombergIntegrationClass {
 public:
  static constexpr int kMaxStages = 14;
  static constexpr int kExtrapolationPoints = 5;
  static constexpr double kDefaultAccuracy = 1e-6;

  // Messages (two equal abscissae) go to the platform when one is given.
  explicit openRhombergIntegrationClass(Platform* platform = nullptr) : platform_(platform) {}

  // The running value of the extended midpoint rule.
  double integrand = 0.0;
  // Relative tolerance; a value <= 0 stands for 1e-6.
  double accuracy = 0.0;

  // The integral of fn over (a, b), or 0 when 14 stages do not converge.
  double integrate(functionClass& fn, double a, double b);
  // Stage n of the extended midpoint rule (n = 1, 2, 3, ... in order, on one interval).
  double midPoint(functionClass& fn, double a, double b, std::int32_t n);
  // Neville's algorithm on xa(1..m), ya(1..m), m the upper bound of xa. Two equal abscissae
  // show "Houston we have a problem with polyInterpolation" and the computation goes on.
  void polynomialInterpolation(const std::vector<double>& xa, const std::vector<double>& ya,
                               double x, double& y, double& dy);

  // The stage at which the last integral stopped (15 when it did not converge).
  int lastStage() const { return lastStage_; }

 private:
  Platform* platform_;
  int lastStage_ = 0;
};

// The convergence bookkeeping of one open Romberg integral, stage by stage: the caller
// supplies each stage's midpoint value; after the fifth stage, the extrapolation through
// the last five decides whether the integral has converged. openRhombergIntegrationClass
// and the generator's shared-abscissae integration both use it, so both stop on the same
// test.
class RombergStages {
 public:
  explicit RombergStages(double accuracy)
      : eps_(accuracy > 0.0 ? accuracy : openRhombergIntegrationClass::kDefaultAccuracy) {}

  // Records the midpoint value of the next stage. Returns true when the integral has
  // converged; result() is then the extrapolated value.
  bool addStage(double midpointValue);
  int stage() const { return stage_; }
  double result() const { return result_; }

 private:
  double eps_;
  int stage_ = 0;
  double h_[openRhombergIntegrationClass::kMaxStages + 2] = {};
  double s_[openRhombergIntegrationClass::kMaxStages + 2] = {};
  double result_ = 0.0;
};

}  // namespace zelk::tablegen
