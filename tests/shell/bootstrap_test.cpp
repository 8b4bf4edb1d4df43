#include "shell/bootstrap.h"

#include <gtest/gtest.h>

#include <set>

#include "support/recording_platform.h"

namespace zelk {
namespace {

Matrix numbered(int genes, int columns) {
  Matrix m(genes, columns);
  for (int i = 1; i <= genes; ++i)
    for (int j = 1; j <= columns; ++j) m(i, j) = 100 * i + j;
  return m;
}

TEST(Bootstrap, EveryReplicateRowIsAWholeSourceRow) {
  const Matrix source = numbered(5, 3);
  Matrix target;
  Generator generator(1);
  for (int r = 0; r < 50; ++r) {
    bootstrap(source, target, 1, generator);
    ASSERT_EQ(target.rows(), 5);
    ASSERT_EQ(target.cols(), 3);
    for (int j = 0; j <= 3; ++j) EXPECT_EQ(target(0, j), 0);
    for (int i = 1; i <= 5; ++i) {
      EXPECT_EQ(target(i, 0), 0);
      const int gene = static_cast<int>(target(i, 1)) / 100;
      ASSERT_GE(gene, 1);
      ASSERT_LE(gene, 5);
      for (int j = 1; j <= 3; ++j) EXPECT_EQ(target(i, j), source(gene, j));
    }
  }
}

TEST(Bootstrap, OneGeneGivesTheSourceBack) {
  const Matrix source = numbered(1, 8);
  Matrix target;
  Generator generator(2);
  bootstrap(source, target, 1, generator);
  EXPECT_EQ(target, source);
}

TEST(Bootstrap, RowsAreDrawnUniformly) {
  const int genes = 4;
  const Matrix source = numbered(genes, 1);
  Matrix target;
  Generator generator(3);
  std::vector<int> drawn(genes + 1, 0);
  const int replicates = 20000;
  for (int r = 0; r < replicates; ++r) {
    bootstrap(source, target, 1, generator);
    for (int i = 1; i <= genes; ++i) ++drawn[static_cast<std::size_t>(target(i, 1)) / 100];
  }
  const double expected = replicates;  // genes draws per replicate, each row 1/genes of them
  for (int g = 1; g <= genes; ++g)
    EXPECT_NEAR(drawn[static_cast<std::size_t>(g)], expected, 0.03 * expected);
}

TEST(Bootstrap, OtherModesResampleColumns) {
  const Matrix source = numbered(3, 4);
  Matrix target;
  Generator generator(4);
  bootstrap(source, target, 2, generator);
  for (int i = 1; i <= 4; ++i) {
    const int column = static_cast<int>(target(1, i)) % 100;
    for (int j = 1; j <= 3; ++j) EXPECT_EQ(target(j, i), source(j, column));
  }
}

TEST(Bootstrap, ReplicatesAreReproducibleAndNeverRepeatWhenDrawnQuickly) {
  testing::RecordingPlatform platform;
  const Matrix source = numbered(50, 1);
  // A fingerprint of the sequence of drawn rows.
  auto replicateSum = [&](Generator& g) {
    Matrix target;
    bootstrap(source, target, 1, g);
    std::uint64_t hash = 0;
    for (int i = 1; i <= 50; ++i) hash = hash * 1000003u + static_cast<std::uint64_t>(target(i, 1));
    return static_cast<double>(hash >> 11);
  };
  Generator first(99);
  Generator second(99);
  // Small and large gene counts take the one-thread and the many-thread paths.
  const auto a = runReplicates(250, 1, first, platform, replicateSum);
  const auto b = runReplicates(250, 1'000'000, second, platform, replicateSum);
  EXPECT_EQ(a, b);
  EXPECT_EQ(std::set<double>(a.begin(), a.end()).size(), a.size());
  EXPECT_EQ(platform.eventCalls, 6);  // once after every block of 100
}

TEST(Bootstrap, ACancelledRunStopsAfterTheCurrentBlock) {
  testing::RecordingPlatform platform;
  platform.cancelAfterEvents = 2;
  Generator generator(5);
  int evaluated = 0;
  const auto values = runReplicates(1000, 1, generator, platform, [&](Generator&) {
    ++evaluated;
    return 1.0;
  });
  EXPECT_EQ(values.size(), 200u);
  EXPECT_EQ(evaluated, 200);
}

}  // namespace
}  // namespace zelk
