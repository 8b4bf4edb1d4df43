#include "dfe/gene_team.h"

namespace zelk::dfe {
namespace {

// Spins this many times before a waiting thread goes to sleep: a proposal comes every few
// microseconds during a run, so most waits end while spinning.
constexpr int kSpins = 20000;

}  // namespace

GeneTeam::GeneTeam(int threads) {
  for (int i = 1; i < threads; ++i) workers_.emplace_back([this, i] { serve(i); });
}

GeneTeam::~GeneTeam() {
  stopping_.store(true);
  round_.fetch_add(1);
  round_.notify_all();
  workers_.clear();
}

void GeneTeam::part(int index, std::int32_t& begin, std::int32_t& end) const {
  const auto threads = static_cast<std::int64_t>(size());
  begin = static_cast<std::int32_t>(count_ * static_cast<std::int64_t>(index) / threads);
  end = static_cast<std::int32_t>(count_ * static_cast<std::int64_t>(index + 1) / threads);
}

void GeneTeam::serve(int index) {
  std::uint64_t seen = 0;
  while (true) {
    std::uint64_t now = round_.load(std::memory_order_acquire);
    for (int spin = 0; now == seen && spin < kSpins; ++spin) {
      std::this_thread::yield();
      now = round_.load(std::memory_order_acquire);
    }
    if (now == seen) {
      round_.wait(seen, std::memory_order_acquire);
      continue;
    }
    seen = now;
    if (stopping_.load()) return;
    std::int32_t begin = 0;
    std::int32_t end = 0;
    part(index, begin, end);
    if (begin < end) (*work_)(begin, end);
    pending_.fetch_sub(1, std::memory_order_acq_rel);
  }
}

void GeneTeam::run(std::int32_t count,
                   const std::function<void(std::int32_t, std::int32_t)>& work) {
  if (workers_.empty()) {
    work(0, count);
    return;
  }
  work_ = &work;
  count_ = count;
  pending_.store(static_cast<int>(workers_.size()), std::memory_order_relaxed);
  round_.fetch_add(1, std::memory_order_release);
  round_.notify_all();
  std::int32_t begin = 0;
  std::int32_t end = 0;
  part(0, begin, end);
  if (begin < end) work(begin, end);
  while (pending_.load(std::memory_order_acquire) != 0) {
  }
}

}  // namespace zelk::dfe
