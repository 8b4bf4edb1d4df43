#pragma once
// Closed-form estimators of alpha, the proportion of non-synonymous substitutions fixed by
// positive selection, with gene-bootstrap standard errors and 95% limits:
//   "FWW"   pooled counts and sites,
//   "LRP"   divergence ratio times the mean over genes of Pn/(Ps + 1),
//   "FWWuw" per-site rates summed gene by gene.

#include <array>
#include <random>
#include <string_view>
#include <vector>

#include "shell/matrix.h"
#include "shell/run_context.h"

namespace zelk {

class LRPFWWMethod {
 public:
  // The estimate of an undefined alpha (a zero denominator). No estimate can equal it.
  static constexpr double kUndefined = 2.0;
  static constexpr int kReplicates = 1000;

  // Runs the estimator named by `code` over every dataset the data window hands out.
  void run(std::string_view code, RunContext& context);

  // Brings the matrix to the eight-column layout; false (after a message) when the dataset
  // cannot be used.
  static bool editData(Matrix& matrix, std::string_view code, RunContext& context);

  // The estimate, or kUndefined.
  static double calculateAlpha(std::string_view code, const Matrix& matrix);

  // The per-gene terms the estimators sum: the eight columns, Pn/(Ps + 1), the four per-site
  // rates, and 1 for a gene that takes part (all zero for a gene that does not).
  struct GeneTerms {
    alignas(64) std::array<double, 16> v{};
  };
  static GeneTerms termsOf(const Matrix& matrix, int gene);

  // The estimate of one bootstrap replicate, drawn and summed in one pass over the genes
  // without copying them: the very value calculateAlpha gives for the replicate that
  // bootstrap would copy with the same generator.
  static double replicateAlpha(std::string_view code, const std::vector<GeneTerms>& terms,
                               std::mt19937_64& generator);
};

}  // namespace zelk
