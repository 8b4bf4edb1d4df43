#include "shell/parallel.h"

#include <algorithm>
#include <thread>
#include <vector>

namespace zelk {

int hardwareThreads() {
  return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

void parallelFor(int begin, int end, int threads, const std::function<void(int)>& body) {
  const int count = end - begin;
  if (count <= 0) return;
  threads = std::clamp(threads, 1, count);
  if (threads == 1) {
    for (int i = begin; i < end; ++i) body(i);
    return;
  }
  // Contiguous slices: index i goes to slice (i - begin) * threads / count.
  std::vector<std::jthread> workers;
  workers.reserve(static_cast<std::size_t>(threads - 1));
  auto slice = [&](int t) {
    const int from = begin + static_cast<int>(static_cast<long long>(count) * t / threads);
    const int to = begin + static_cast<int>(static_cast<long long>(count) * (t + 1) / threads);
    for (int i = from; i < to; ++i) body(i);
  };
  for (int t = 1; t < threads; ++t) workers.emplace_back(slice, t);
  slice(0);
}

}  // namespace zelk
