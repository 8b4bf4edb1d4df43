#include "dfe/gene_team.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

namespace zelk::dfe {
namespace {

// Runs a piece of `count` indices and says whether each was run exactly once.
bool coversOnce(GeneTeam& team, std::int32_t count) {
  std::vector<std::atomic<int>> runs(static_cast<std::size_t>(count));
  team.run(count, [&](std::int32_t begin, std::int32_t end) {
    for (std::int32_t i = begin; i < end; ++i)
      runs[static_cast<std::size_t>(i)].fetch_add(1, std::memory_order_relaxed);
  });
  for (const auto& r : runs)
    if (r.load() != 1) return false;
  return true;
}

TEST(GeneTeam, EveryIndexRunsOnceInEveryPieceWhateverTheSizes) {
  for (const int threads : {1, 2, 3, 5}) {
    GeneTeam team(threads);
    // Sizes below, at and above the number of chunks, over many pieces, so both of the
    // alternating pieces are used again and again.
    const std::int32_t sizes[] = {0, 1, 2, 3, 7, 8, 9, 34, 100, 1000};
    for (int piece = 0; piece < 3000; ++piece) {
      const std::int32_t count = sizes[piece % 10];
      ASSERT_TRUE(coversOnce(team, count)) << threads << " threads, piece " << piece;
    }
  }
}

TEST(GeneTeam, PiecesAfterTheThreadsHaveGoneToSleepAndUnevenChunksComplete) {
  GeneTeam team(3);
  EXPECT_TRUE(coversOnce(team, 50));
  // Longer than the threads spin and yield before they sleep.
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  EXPECT_TRUE(coversOnce(team, 50));
  // One chunk far slower than the rest: the others are taken over, and the piece ends only
  // when the slow one is done.
  std::atomic<int> total{0};
  team.run(24, [&](std::int32_t begin, std::int32_t end) {
    if (begin == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    total.fetch_add(end - begin);
  });
  EXPECT_EQ(total.load(), 24);
}

}  // namespace
}  // namespace zelk::dfe
