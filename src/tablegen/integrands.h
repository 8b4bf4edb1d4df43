#pragma once
// Expectations under a gamma distribution of scaled selection strengths S (shape beta, mean
// meanS, rate a = beta/meanS): the integrands of the expected polymorphism in a folded
// frequency class and of the expected heterozygosity, the expected divergence, and the
// Hurwitz zeta sum they rest on.

#include <cstdint>
#include <vector>

#include "tablegen/integration.h"

namespace zelk::tablegen {

// Hurwitz zeta(s, q) from N explicit terms, the half term and the integral of the tail.
double Zeta(std::int32_t N, double s, double q);

// The expected polymorphism integrand of the allele counts lowerFreq..upperFreq, folded,
// in a sample of n.
class ePnFunctionClass : public functionClass {
 public:
  double beta = 0.0;
  double meanS = 0.0;
  std::int32_t n = 0;
  std::int32_t lowerFreq = 0;
  std::int32_t upperFreq = 0;
  std::vector<double> logfact;  // ln i!, i = 0..n

  double value(double x) override;
  // Fills logfact for the current n; call after setting n and before value.
  void initialise();
};

// The expected heterozygosity integrand.
class eHetFunctionClass : public functionClass {
 public:
  double beta = 0.0;
  double meanS = 0.0;

  double value(double x) override;
  double Zeta(std::int32_t N, double s, double q) const { return tablegen::Zeta(N, s, q); }
};

// The expected divergence relative to neutral: beta * a^beta * Zeta(100, beta + 1, a + 1).
double expectedDivergence(double beta, double meanS);

// The neutral expectation of the folded class lower..upper in a sample of n: the sum over
// i of 1/i + 1/(n - i), a middle count i = n - i adding 1/i once.
double neutralExpectation(std::int32_t n, std::int32_t lower, std::int32_t upper);

}  // namespace zelk::tablegen
