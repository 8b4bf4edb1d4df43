#pragma once
// Resampling of a dataset matrix for the bootstrap.

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "common/platform.h"
#include "shell/generator.h"
#include "shell/matrix.h"

namespace zelk {

// Mode 1: target row i (1..G) is a copy of a source row drawn uniformly with replacement.
// Any other mode: target column i (1..K) is a copy of a source column drawn likewise.
// Row 0 and column 0 of the target are left at 0.
void bootstrap(const Matrix& source, Matrix& target, int mode, Generator& generator);

// Up to eight per-gene numbers an estimator sums over genes, on one cache line.
struct alignas(64) GeneTerms {
  std::array<double, 8> v{};
};

inline void addTerms(GeneTerms& sums, const GeneTerms& terms) {
  for (std::size_t k = 0; k < sums.v.size(); ++k) sums.v[k] += terms.v[k];
}

// The sums over the genes of one bootstrap replicate, in one pass and without copying any
// gene: terms[1..G] are the genes' terms (terms[0] is unused). The rows are drawn exactly as
// bootstrap draws them and summed in the order drawn, so the sums are bit for bit those of
// the copied replicate. Rows are drawn a batch ahead so that their terms can be fetched from
// memory while earlier ones are added.
GeneTerms resampledSums(const std::vector<GeneTerms>& terms, Generator& generator);

// Runs `count` bootstrap replicates and returns their values in order. Replicate r draws from
// a generator of its own, seeded with the r-th number of the run's generator, so a run gives
// the same values whatever the number of threads that evaluate the replicates. Replicates are
// evaluated in blocks of 100 (on several threads when `genesPerReplicate` makes that pay);
// after each block the platform processes events, and a cancelled run stops there, returning
// the values of the blocks finished so far.
std::vector<double> runReplicates(int count, int genesPerReplicate, Generator& runGenerator,
                                  Platform& platform,
                                  const std::function<double(Generator&)>& evaluate);

}  // namespace zelk
