#include "tablegen/integrands.h"

#include <cmath>

namespace zelk::tablegen {

double Zeta(std::int32_t N, double s, double q) {
  double sum = 0.0;
  for (std::int32_t i = 0; i < N; ++i) sum += std::pow(1.0 / (q + i), s);
  const double tail = q + N;
  return sum + 1.0 / (2.0 * std::pow(tail, s)) + 1.0 / ((s - 1.0) * std::pow(tail, s - 1.0));
}

void ePnFunctionClass::initialise() {
  logfact.assign(static_cast<std::size_t>(n < 0 ? 0 : n) + 1, 0.0);
  for (std::int32_t i = 1; i <= n; ++i) logfact[i] = logfact[i - 1] + std::log(double(i));
}

double ePnFunctionClass::value(double x) {
  const double a = beta / meanS;
  const double A = std::pow(a, beta);
  const double G =
      1.0 / std::pow(x + a, beta) - 1.0 / std::pow(1.0 + a, beta) +
      (std::pow(a + 2.0, 1.0 - beta) - std::pow(x + a + 1.0, 1.0 - beta)) / (1.0 - beta) +
      (1.0 / std::pow(x + a + 1.0, beta) - 1.0 / std::pow(a + 2.0, beta)) / 2.0 +
      beta * (1.0 / std::pow(x + a + 1.0, beta + 1.0) - 1.0 / std::pow(a + 2.0, beta + 1.0)) / 12.0;
  const double F = A * G;
  double P = 0.0;
  for (std::int32_t i = lowerFreq; i <= upperFreq; ++i) {
    const double c = std::exp(logfact[n] - logfact[i] - logfact[n - i]);
    double bracket = std::pow(x, i) * std::pow(1.0 - x, n - i);
    if (i != n - i) bracket += std::pow(x, n - i) * std::pow(1.0 - x, i);
    P += c * bracket;
  }
  return F * P / (x * (1.0 - x));
}

double eHetFunctionClass::value(double x) {
  const double a = beta / meanS;
  return 2.0 * std::pow(a, beta) * (Zeta(100, beta, x + a) - Zeta(100, beta, a + 1.0));
}

double expectedDivergence(double beta, double meanS) {
  const double a = beta / meanS;
  return beta * std::pow(a, beta) * Zeta(100, beta + 1.0, a + 1.0);
}

double neutralExpectation(std::int32_t n, std::int32_t lower, std::int32_t upper) {
  double e0 = 0.0;
  for (std::int32_t i = lower; i <= upper; ++i) {
    e0 += 1.0 / i;
    if (i != n - i) e0 += 1.0 / (n - i);
  }
  return e0;
}

}  // namespace zelk::tablegen
