#include "alpha/gene_bootstrap.h"

#include <vector>

#include "stats/results_class.h"

namespace zelk {

bool bootstrapAndReport(RunContext& context, const Matrix& genes, const BootstrapLine& line,
                        const std::function<GeneTerms(int gene)>& termsOf,
                        const std::function<double(const GeneTerms&)>& estimate) {
  std::vector<GeneTerms> terms(static_cast<std::size_t>(genes.rows()) + 1);
  for (int i = 1; i <= genes.rows(); ++i) terms[static_cast<std::size_t>(i)] = termsOf(i);
  const std::vector<double> replicates =
      runReplicates(line.replicates, genes.rows(), context.dataWindow.generator(), context.platform,
                    [&](Generator& g) { return estimate(resampledSums(terms, g)); });
  resultsWindow& out = context.results;
  if (context.platform.cancelled()) {
    context.progress.finish();
    out.writeLn("  Cancelled before the bootstrap finished");
    return false;
  }
  resultsClass summary;
  summary.initialise(line.replicates, 1);
  bool undefined = false;
  for (const double value : replicates) {
    if (value == line.undefined) {
      undefined = true;
    } else {
      summary.append(value);
    }
  }
  if (undefined) {
    out.writeLn(line.undefinedText);
  } else {
    out.writeLn("  SE = ", summary.standardDeviation(1), "\t", "CIs = ", summary.CI95Low(1), " to ",
                summary.CI95High(1));
  }
  return true;
}

}  // namespace zelk
