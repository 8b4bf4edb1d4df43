#include "stats/special_function.h"

#include <cmath>

namespace zelk {

namespace {

constexpr const char* kInvalidArguments =
    "Warning - gamma distribution called with invalid arguments";
constexpr const char* kInvalidParameters =
    "Gamma distribution called with invalid parameter values";
constexpr const char* kNoConvergence = "Gamma distribution failed to converge";

}  // namespace

void specialFunctionClass::message(const char* text) const {
  if (platform_ != nullptr) platform_->showMessage(text);
}

double specialFunctionClass::gammaP(double a, double x) const {
  if (x < 0.0 || a <= 0.0) message(kInvalidArguments);
  if (x < a + 1.0) return gser(a, x);
  return 1.0 - gcf(a, x);
}

double specialFunctionClass::gammaQ(double a, double x) const {
  if (x < 0.0 || a <= 0.0) message(kInvalidParameters);
  if (x < a + 1.0) return 1.0 - gser(a, x);
  return gcf(a, x);
}

double specialFunctionClass::gser(double a, double x) const {
  const double gln = gammaln(a);
  if (x < 0.0) {
    message(kInvalidParameters);
    return 0.0;
  }
  if (x == 0.0) return 0.0;
  double ap = a;
  double term = 1.0 / a;
  double sum = term;
  bool converged = false;
  for (int n = 1; n <= maximumIterations; ++n) {
    ap += 1.0;
    term = term * x / ap;
    sum += term;
    // The last term is added without a test: reaching it means the series did not settle.
    if (n < maximumIterations && std::fabs(term) < std::fabs(sum) * tolerance) {
      converged = true;
      break;
    }
  }
  if (!converged) message(kNoConvergence);
  return sum * std::exp(-x + a * std::log(x) - gln);
}

double specialFunctionClass::gcf(double a, double x) const {
  const double gln = gammaln(a);
  double a0 = 1.0;
  double a1 = x;
  double b0 = 0.0;
  double b1 = 1.0;
  double fac = 1.0;
  double gold = 0.0;
  bool converged = false;
  for (int n = 1; n <= maximumIterations; ++n) {
    const double an = static_cast<double>(n);
    const double ana = an - a;
    a0 = (a1 + a0 * ana) * fac;
    b0 = (b1 + b0 * ana) * fac;
    const double anf = an * fac;
    a1 = x * a0 + anf * a1;
    b1 = x * b0 + anf * b1;
    if (a1 != 0.0) {
      fac = 1.0 / a1;
      const double g = b1 * fac;
      converged = std::fabs((g - gold) / g) < tolerance;
      gold = g;
      if (converged) break;
    }
  }
  if (!converged) message(kNoConvergence);
  return std::exp(-x + a * std::log(x) - gln) * gold;
}

double specialFunctionClass::gammaln(double x) const {
  const double z = x < 1.0 ? 2.0 - x : x;
  const double y = z - 1.0;
  const double t = y + 5.5;
  const double s = 1.0 + 76.18009173 / (y + 1.0) - 86.50532033 / (y + 2.0) +
                   24.01409822 / (y + 3.0) - 1.231739516 / (y + 4.0) + 0.00120858003 / (y + 5.0) -
                   0.0000536382 / (y + 6.0);
  const double r = (y + 0.5) * std::log(t) - t + std::log(2.50662827465 * s);
  if (x >= 1.0) return r;
  // Reflection for 0 < x < 1: Gamma(x) = w / (Gamma(2 - x) sin w) with w = pi (x - 1).
  const double w = 3.141592654 * (1.0 - z);
  // Just below 1, 2 - x rounds to 1 and w / sin w would be 0 / 0; its limit is 1.
  if (w == 0.0) return -r;
  return std::log(w / (std::exp(r) * std::sin(w)));
}

double specialFunctionClass::gammaRegularized(double a, double x) const {
  return gammaQ(a, x);
}

double specialFunctionClass::gammaRegularized(double a, double x0, double x1) const {
  return (1.0 - gammaP(a, x0)) - gammaQ(a, x1);
}

double specialFunctionClass::CDFchiSquareDistribution(double x, int df) const {
  return gammaQ(static_cast<double>(df) / 2.0, x / 2.0);
}

}  // namespace zelk
