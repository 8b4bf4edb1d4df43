#include "shell/bootstrap.h"

#include <algorithm>

#include "shell/parallel.h"

namespace zelk {

void bootstrap(const Matrix& source, Matrix& target, int mode, std::mt19937_64& generator) {
  const int genes = source.rows();
  const int columns = source.cols();
  if (target.rows() != genes || target.cols() != columns) target.resize(genes, columns);
  if (genes < 1 || columns < 1) return;
  if (mode == 1) {
    IndexDraw draw(genes);
    for (int i = 1; i <= genes; ++i) {
      const int t = draw(generator);
      std::copy(source.row(t) + 1, source.row(t) + columns + 1, target.row(i) + 1);
    }
  } else {
    IndexDraw draw(columns);
    for (int i = 1; i <= columns; ++i) {
      const int t = draw(generator);
      for (int j = 1; j <= genes; ++j) target(j, i) = source(j, t);
    }
  }
}

std::vector<double> runReplicates(int count, int genesPerReplicate, std::mt19937_64& runGenerator,
                                  Platform& platform,
                                  const std::function<double(std::mt19937_64&)>& evaluate) {
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
      std::mt19937_64 generator(seeds[static_cast<std::size_t>(r)]);
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
