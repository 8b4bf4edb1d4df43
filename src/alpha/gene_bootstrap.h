#pragma once
// The gene bootstrap of an estimator and its report line.

#include <functional>
#include <string_view>

#include "shell/bootstrap.h"
#include "shell/matrix.h"
#include "shell/run_context.h"

namespace zelk {

struct BootstrapLine {
  int replicates;                  // how many replicates to draw
  double undefined;                // the estimator's marker of an undefined value
  std::string_view undefinedText;  // written when any replicate is undefined
};

// Draws the replicates of the matrix's genes (whose terms termsOf gives), estimates each from
// the sums of its genes' terms, and writes "  SE = ", the standard deviation, a tab, "CIs = ", the
// lower and upper 95% limits; or the undefined text when any replicate is undefined. Returns false,
// after saying so, when the run was cancelled before the bootstrap finished.
bool bootstrapAndReport(RunContext& context, const Matrix& genes, const BootstrapLine& line,
                        const std::function<GeneTerms(int gene)>& termsOf,
                        const std::function<double(const GeneTerms&)>& estimate);

}  // namespace zelk
