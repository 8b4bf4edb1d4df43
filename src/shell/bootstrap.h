#pragma once
// Resampling of a dataset matrix for the bootstrap.

#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "common/platform.h"
#include "shell/matrix.h"

namespace zelk {

// Draws row (or column) numbers uniformly from 1..count. Every resampling path draws
// through this one object, so a fused replicate sees the very numbers a copied one would.
class IndexDraw {
 public:
  explicit IndexDraw(int count) : distribution_(1, count) {}
  int operator()(std::mt19937_64& generator) { return distribution_(generator); }

 private:
  std::uniform_int_distribution<int> distribution_;
};

// Mode 1: target row i (1..G) is a copy of a source row drawn uniformly with replacement.
// Any other mode: target column i (1..K) is a copy of a source column drawn likewise.
// Row 0 and column 0 of the target are left at 0.
void bootstrap(const Matrix& source, Matrix& target, int mode, std::mt19937_64& generator);

// Runs `count` bootstrap replicates and returns their values in order. Replicate r draws from
// a generator of its own, seeded with the r-th number of the run's generator, so a run gives
// the same values whatever the number of threads that evaluate the replicates. Replicates are
// evaluated in blocks of 100 (on several threads when `genesPerReplicate` makes that pay);
// after each block the platform processes events, and a cancelled run stops there, returning
// the values of the blocks finished so far.
std::vector<double> runReplicates(int count, int genesPerReplicate, std::mt19937_64& runGenerator,
                                  Platform& platform,
                                  const std::function<double(std::mt19937_64&)>& evaluate);

}  // namespace zelk
