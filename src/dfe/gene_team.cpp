#include "dfe/gene_team.h"

#include <algorithm>
#include <chrono>

namespace zelk::dfe {
namespace {

// How long a waiting thread spins, then yields, before it sleeps until woken.
constexpr auto kSpinFor = std::chrono::microseconds(200);
constexpr auto kYieldFor = std::chrono::milliseconds(20);

void relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

}  // namespace

GeneTeam::GeneTeam(int threads) {
  const auto lanes = static_cast<std::size_t>(std::max(threads, 1));
  for (std::uint32_t slot = 0; slot < 2; ++slot) {
    Piece& piece = pieces_[slot];
    piece.lanes = std::make_unique<Lane[]>(lanes);
    piece.done = std::make_unique<Done[]>(lanes);
    // As claimed by the round two before the first that uses the piece (rounds start at 1,
    // which uses piece 1).
    const std::uint32_t first = slot == 0 ? 2 : 1;
    for (std::size_t t = 0; t < lanes; ++t)
      for (auto& claimed : piece.lanes[t].claimed) claimed.store(first - 2);
  }
  for (int i = 1; i < threads; ++i) workers_.emplace_back([this, i] { serve(i); });
}

GeneTeam::~GeneTeam() {
  stopping_.store(true);
  round_.fetch_add(1);
  round_.notify_all();
  workers_.clear();
}

std::int32_t GeneTeam::take(Piece& piece, std::uint32_t round, int owner, int chunk) const {
  std::atomic<std::uint32_t>& claimed = piece.lanes[static_cast<std::size_t>(owner)].claimed[chunk];
  // A chunk still free holds the round two before (the piece's last use). Looking before
  // claiming leaves the line with its owner when the chunk is gone already.
  std::uint32_t free = round - 2;
  if (claimed.load(std::memory_order_relaxed) != free ||
      !claimed.compare_exchange_strong(free, round, std::memory_order_acq_rel))
    return 0;
  const std::int64_t chunks = static_cast<std::int64_t>(size()) * kChunksPerThread;
  const std::int64_t c = static_cast<std::int64_t>(owner) * kChunksPerThread + chunk;
  const auto begin = static_cast<std::int32_t>(piece.count * c / chunks);
  const auto end = static_cast<std::int32_t>(piece.count * (c + 1) / chunks);
  if (begin < end) (*piece.work)(begin, end);
  return end - begin;
}

void GeneTeam::claim(Piece& piece, std::uint32_t round, int self) const {
  std::int32_t done = 0;
  for (int chunk = 0; chunk < kChunksPerThread; ++chunk) done += take(piece, round, self, chunk);
  for (int j = 1; j < size(); ++j) {
    const int owner = (self + j) % size();
    for (int chunk = kChunksPerThread - 1; chunk >= 0; --chunk)
      done += take(piece, round, owner, chunk);
  }
  piece.done[static_cast<std::size_t>(self)].roundAndCount.store(
      (static_cast<std::uint64_t>(round) << 32) | static_cast<std::uint32_t>(done),
      std::memory_order_release);
}

void GeneTeam::serve(int self) {
  std::uint32_t seen = 0;
  while (true) {
    std::uint32_t now = round_.load(std::memory_order_acquire);
    const auto started = std::chrono::steady_clock::now();
    for (int spin = 1; now == seen; ++spin) {
      relax();
      now = round_.load(std::memory_order_acquire);
      if (now != seen || spin % 256 != 0) continue;
      const auto waited = std::chrono::steady_clock::now() - started;
      if (waited > kYieldFor) {
        sleeping_.fetch_add(1);
        round_.wait(seen, std::memory_order_acquire);
        sleeping_.fetch_sub(1);
      } else if (waited > kSpinFor) {
        std::this_thread::yield();
      }
      now = round_.load(std::memory_order_acquire);
    }
    seen = now;
    if (stopping_.load()) return;
    claim(pieces_[seen % 2], seen, self);
  }
}

void GeneTeam::run(std::int32_t count,
                   const std::function<void(std::int32_t, std::int32_t)>& work) {
  if (workers_.empty() || count <= 1) {
    work(0, count);
    return;
  }
  const std::uint32_t round = round_.load(std::memory_order_relaxed) + 1;
  Piece& piece = pieces_[round % 2];
  // Every chunk of the piece's last round was claimed and finished before that round
  // ended, so no thread reads these while they change.
  piece.work = &work;
  piece.count = count;
  round_.store(round, std::memory_order_release);
  if (sleeping_.load() > 0) round_.notify_all();
  claim(piece, round, 0);
  // What the threads report for this round adds up to the count once every chunk is done.
  const auto finished = [&] {
    std::int64_t done = 0;
    for (int t = 0; t < size(); ++t) {
      const std::uint64_t report =
          piece.done[static_cast<std::size_t>(t)].roundAndCount.load(std::memory_order_acquire);
      if (static_cast<std::uint32_t>(report >> 32) == round)
        done += static_cast<std::uint32_t>(report);
    }
    return done;
  };
  while (finished() < count) relax();
}

}  // namespace zelk::dfe
