#pragma once
// Closed-form estimators of alpha, the proportion of non-synonymous substitutions fixed by
// positive selection, with gene-bootstrap standard errors and 95% limits:
//   "FWW"   pooled counts and sites,
//   "LRP"   divergence ratio times the mean over genes of Pn/(Ps + 1),
//   "FWWuw" per-site rates summed gene by gene.

#include <string_view>
#include <vector>

#include "shell/bootstrap.h"
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

  // What the estimator named by `code` sums over genes, for one gene: zero for a gene that
  // does not take part (a site count that is not positive).
  static GeneTerms termsOf(std::string_view code, const Matrix& matrix, int gene);
  // The estimate from the sums of the genes' terms.
  static double alphaFromSums(std::string_view code, const GeneTerms& sums);
};

}  // namespace zelk
