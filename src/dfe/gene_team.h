#pragma once
// A team of threads that stays up for a whole sampler run and evaluates the genes of one
// proposal together. Handing work to threads created per proposal would cost more than
// the work itself; the team's threads wait for the next proposal by spinning briefly and
// then sleeping, so a run with few genes, which never calls them, costs nothing.

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

namespace zelk::dfe {

class GeneTeam {
 public:
  // A team of `threads` threads, the calling thread included.
  explicit GeneTeam(int threads);
  ~GeneTeam();
  GeneTeam(const GeneTeam&) = delete;
  GeneTeam& operator=(const GeneTeam&) = delete;

  int size() const { return static_cast<int>(workers_.size()) + 1; }
  // Calls work(begin, end) on contiguous parts of [0, count), one per thread, and returns
  // when every part is done.
  void run(std::int32_t count, const std::function<void(std::int32_t, std::int32_t)>& work);

 private:
  void serve(int index);
  void part(int index, std::int32_t& begin, std::int32_t& end) const;

  std::vector<std::jthread> workers_;
  std::atomic<std::uint64_t> round_{0};
  std::atomic<int> pending_{0};
  std::atomic<bool> stopping_{false};
  const std::function<void(std::int32_t, std::int32_t)>* work_ = nullptr;
  std::int32_t count_ = 0;
};

}  // namespace zelk::dfe
