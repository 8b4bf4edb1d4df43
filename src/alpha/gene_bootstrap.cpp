#include "alpha/gene_bootstrap.h"

#include "stats/results_class.h"

namespace zelk {

bool bootstrapAndReport(RunContext& context, const std::vector<GeneTerms>& terms,
                        const BootstrapLine& line,
                        const std::function<double(const GeneTerms&)>& estimate) {
  const int genes = static_cast<int>(terms.size()) - 1;
  const std::vector<double> replicates =
      runReplicates(line.replicates, genes, context.dataWindow.generator(), context.platform,
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
