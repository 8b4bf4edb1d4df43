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
  for (auto& piece : pieces_) {
    piece.lanes = std::make_unique<Lane[]>(static_cast<std::size_t>(std::max(threads, 1)));
    piece.done = std::make_unique<Done[]>(static_cast<std::size_t>(std::max(threads, 1)));
  }
  for (int i = 1; i < threads; ++i) workers_.emplace_back([this, i] { serve(i); });
}

GeneTeam::~GeneTeam() {
  stopping_.store(true);
  round_.fetch_add(1);
  round_.notify_all();
  workers_.clear();
}

std::int32_t GeneTeam::take(Piece& piece, int owner, int chunk) const {
  std::atomic<std::uint8_t>& taken = piece.lanes[static_cast<std::size_t>(owner)].taken[chunk];
  // Looking before claiming leaves the line with its owner when the chunk is gone already.
  if (taken.load(std::memory_order_relaxed) != 0 ||
      taken.exchange(1, std::memory_order_acq_rel) != 0)
    return 0;
  const std::int64_t chunks = static_cast<std::int64_t>(size()) * kChunksPerThread;
  const std::int64_t c = static_cast<std::int64_t>(owner) * kChunksPerThread + chunk;
  const auto begin = static_cast<std::int32_t>(piece.count * c / chunks);
  const auto end = static_cast<std::int32_t>(piece.count * (c + 1) / chunks);
  if (begin < end) (*piece.work)(begin, end);
  return end - begin;
}

void GeneTeam::claim(Piece& piece, int self) const {
  std::int32_t done = 0;
  for (int chunk = 0; chunk < kChunksPerThread; ++chunk) done += take(piece, self, chunk);
  for (int j = 1; j < size(); ++j) {
    const int owner = (self + j) % size();
    for (int chunk = kChunksPerThread - 1; chunk >= 0; --chunk) done += take(piece, owner, chunk);
  }
  piece.done[static_cast<std::size_t>(self)].done.store(done, std::memory_order_release);
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
    Piece& piece = pieces_[seen % 2];
    piece.active.fetch_add(1, std::memory_order_acq_rel);
    // A piece that has moved on while this thread woke is left alone.
    if (round_.load(std::memory_order_acquire) == seen) claim(piece, self);
    piece.active.fetch_sub(1, std::memory_order_acq_rel);
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
  // A thread that woke late for this piece's previous use must have left it.
  while (piece.active.load(std::memory_order_acquire) != 0) relax();
  piece.work = &work;
  piece.count = count;
  for (int t = 0; t < size(); ++t) {
    for (auto& taken : piece.lanes[static_cast<std::size_t>(t)].taken)
      taken.store(0, std::memory_order_relaxed);
    piece.done[static_cast<std::size_t>(t)].done.store(0, std::memory_order_relaxed);
  }
  round_.store(round, std::memory_order_release);
  if (sleeping_.load() > 0) round_.notify_all();
  claim(piece, 0);
  const auto finished = [&] {
    std::int32_t done = 0;
    for (int t = 0; t < size(); ++t)
      done += piece.done[static_cast<std::size_t>(t)].done.load(std::memory_order_acquire);
    return done;
  };
  while (finished() < count) relax();
}

}  // namespace zelk::dfe
