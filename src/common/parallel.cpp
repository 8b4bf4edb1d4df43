#include "common/parallel.h"

#include <algorithm>
#include <atomic>
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
  std::atomic<int> next{begin};
  auto work = [&] {
    for (int i = next.fetch_add(1); i < end; i = next.fetch_add(1)) body(i);
  };
  std::vector<std::jthread> workers;
  workers.reserve(static_cast<std::size_t>(threads - 1));
  for (int t = 1; t < threads; ++t) workers.emplace_back(work);
  work();
}

}  // namespace zelk
