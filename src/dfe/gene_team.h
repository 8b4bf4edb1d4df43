#pragma once
// A team of threads that stays up for a whole sampler run and evaluates the genes of one
// sweep or one proposal together. Handing work to threads created per proposal would cost
// more than the work itself, so the team's threads wait for the next piece of work by
// spinning (a piece comes every few microseconds during a run), and only after a long
// quiet spell go to sleep.
//
// Work is cut into a few chunks per thread, the same for every piece of the same size, and
// each thread first works through its own chunks (the caller the first ones), so a gene's
// data stay in one core's cache from piece to piece instead of moving between cores. A
// thread that is through with its own takes the others' left over, from their far end, so
// a thread that starts late or runs slow is helped out; and a thread that the system has
// not scheduled simply claims nothing: the caller never waits for a thread that has not
// started, only for a chunk already under way, so a busy machine slows the team down to
// one thread and not much further.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
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
  // Calls work(begin, end) on chunks covering [0, count) once each, and returns when every
  // chunk is done.
  void run(std::int32_t count, const std::function<void(std::int32_t, std::int32_t)>& work);

 private:
  // Pieces of work are numbered by round. Two pieces alternate, round r using piece r % 2,
  // and everything a round claims or reports carries its number, so nothing is reset
  // between rounds, and a thread that wakes late for a finished round finds every chunk of
  // it claimed and leaves the piece alone while the next round is set up in it.
  static constexpr int kChunksPerThread = 4;
  // A thread's chunks, each holding the round that last claimed it (by the owner or
  // another thread), and apart, so that the caller waiting on it does not take the claims'
  // cache line away, the round and the indices the thread finished in it, written once it
  // has claimed all it can.
  struct alignas(64) Lane {
    std::atomic<std::uint32_t> claimed[kChunksPerThread];
  };
  struct alignas(64) Done {
    std::atomic<std::uint64_t> roundAndCount{0};
  };
  struct Piece {
    const std::function<void(std::int32_t, std::int32_t)>* work = nullptr;
    std::int32_t count = 0;
    std::unique_ptr<Lane[]> lanes;
    std::unique_ptr<Done[]> done;
  };

  void serve(int self);
  // Runs thread `self`'s chunks of round `round` that no other thread has claimed, then the
  // other threads' unclaimed chunks.
  void claim(Piece& piece, std::uint32_t round, int self) const;
  // Runs chunk `chunk` of thread `owner` in round `round` if it is still unclaimed; returns
  // the indices run.
  std::int32_t take(Piece& piece, std::uint32_t round, int owner, int chunk) const;

  std::vector<std::jthread> workers_;
  std::atomic<std::uint32_t> round_{0};
  std::atomic<int> sleeping_{0};
  std::atomic<bool> stopping_{false};
  Piece pieces_[2];
};

}  // namespace zelk::dfe
