#include "shell/bootstrap.h"

#include <algorithm>

#include "common/parallel.h"

namespace zelk {

void bootstrap(const Matrix& source, Matrix& target, int mode, Generator& generator) {
  const int genes = source.rows();
  const int columns = source.cols();
  if (target.rows() != genes || target.cols() != columns) target.resize(genes, columns);
  if (genes < 1 || columns < 1) return;
  if (mode == 1) {
    for (int i = 1; i <= genes; ++i) {
      const int t = generator.between1And(genes);
      std::copy(source.row(t) + 1, source.row(t) + columns + 1, target.row(i) + 1);
    }
  } else {
    for (int i = 1; i <= columns; ++i) {
      const int t = generator.between1And(columns);
      for (int j = 1; j <= genes; ++j) target(j, i) = source(j, t);
    }
  }
}

GeneTerms resampledSums(const std::vector<GeneTerms>& terms, Generator& generator) {
  constexpr int kBatch = 32;
  const int genes = static_cast<int>(terms.size()) - 1;
  GeneTerms sums;
  int drawn[kBatch];
  for (int first = 1; first <= genes; first += kBatch) {
    const int n = std::min(kBatch, genes - first + 1);
    for (int j = 0; j < n; ++j) {
      drawn[j] = generator.between1And(genes);
      __builtin_prefetch(&terms[static_cast<std::size_t>(drawn[j])]);
    }
    for (int j = 0; j < n; ++j) addTerms(sums, terms[static_cast<std::size_t>(drawn[j])]);
  }
  return sums;
}

std::vector<double> runReplicates(int count, int genesPerReplicate, Generator& runGenerator,
                                  Platform& platform,
                                  const std::function<double(Generator&)>& evaluate) {
  constexpr int kBlock = 100;
  // Below this many genes a replicate is too cheap to be worth handing to another thread.
  constexpr int kGenesWorthThreads = 2000;
  std::vector<double> values;
  if (count <= 0) return values;
  std::vector<std::uint64_t> seeds(static_cast<std::size_t>(count));
  for (auto& seed : seeds) seed = runGenerator();
  values.assign(seeds.size(), 0.0);
  const int threads = genesPerReplicate >= kGenesWorthThreads ? hardwareThreads() : 1;
  for (int first = 0; first < count; first += kBlock) {
    const int last = std::min(count, first + kBlock);
    parallelFor(first, last, threads, [&](int r) {
      Generator generator(seeds[static_cast<std::size_t>(r)]);
      values[static_cast<std::size_t>(r)] = evaluate(generator);
    });
    platform.processEvents();
    if (platform.cancelled()) {
      values.resize(static_cast<std::size_t>(last));
      break;
    }
  }
  return values;
}

}  // namespace zelk
