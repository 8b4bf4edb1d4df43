#pragma once
// The likelihood and the Metropolis sampler of the DFE analyses written plainly, term by
// term and step by step from their definitions, with fresh logarithms for every Poisson
// term and every gene re-evaluated for a shared parameter. Tests compare the program's
// fast evaluation with it, and the benchmark measures the program against it.

#include <cstdint>
#include <vector>

#include "dfe/dfe_likelihood.h"
#include "dfe/dfe_tables.h"
#include "shell/matrix.h"

namespace zelk::testing {

class LiteralDfe {
 public:
  LiteralDfe(const dfe::ModelSettings& settings, const Matrix& data, std::int32_t classes,
             const dfe::DfeTables& tables);

  double logPoisson(double x, double mean) const;
  // The log-likelihood of the gene owning position p (parameters indexed from 1).
  double logLikelihood(std::int32_t p, const std::vector<double>& parameters) const;

  std::int32_t genes() const { return data_.rows(); }
  const dfe::ModelSettings& settings() const { return settings_; }

 private:
  dfe::ModelSettings settings_;
  Matrix data_;
  std::int32_t k_;
  const dfe::DfeTables& tables_;
  std::vector<double> logFact_;
};

// Start values, limits, step widths and flags of every position, indexed from 1.
struct LiteralChain {
  std::vector<double> parameters;
  std::vector<double> lower;
  std::vector<double> upper;
  std::vector<double> steps;
  std::vector<bool> evaluateAll;
};

// Runs reps + burnIn steps from the chain's start and returns the recorded sample rows:
// step, total log-likelihood, shape, mean 4Ns, the four shares of the gamma distribution,
// then A (with divergence) or Pa and Sa N-bar (with the adaptive class). Uniform draws come
// from the program's generator seeded with `seed`, in the program's order.
std::vector<std::vector<double>> literalSamples(const LiteralDfe& model, LiteralChain chain,
                                                std::int32_t reps, std::int32_t burnIn,
                                                std::int32_t sampling, std::uint64_t seed);

}  // namespace zelk::testing
