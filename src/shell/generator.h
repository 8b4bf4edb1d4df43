#pragma once
// The random generator of a run: xoshiro256** seeded through splitmix64. It is fast enough for
// a bootstrap that draws a hundred million row numbers, and it gives the same numbers with
// every compiler and library, so a seeded run's report is the same everywhere.

#include <cstdint>
#include <limits>

namespace zelk {

// GCC and Clang's 128-bit integer, for the high word of a 64-by-64-bit product.
__extension__ using UInt128 = unsigned __int128;

class Generator {
 public:
  using result_type = std::uint64_t;

  explicit Generator(std::uint64_t seed) {
    for (auto& word : state_) {
      seed += 0x9e3779b97f4a7c15ULL;
      std::uint64_t z = seed;
      z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
      z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
      word = z ^ (z >> 31);
    }
  }

  static constexpr result_type min() { return 0; }
  static constexpr result_type max() { return std::numeric_limits<result_type>::max(); }

  result_type operator()() {
    const std::uint64_t result = rotate(state_[1] * 5, 7) * 9;
    const std::uint64_t t = state_[1] << 17;
    state_[2] ^= state_[0];
    state_[3] ^= state_[1];
    state_[1] ^= state_[2];
    state_[0] ^= state_[3];
    state_[2] ^= t;
    state_[3] = rotate(state_[3], 45);
    return result;
  }

  // A whole number drawn uniformly from 1..count (count >= 1), without bias: the high word of
  // a 64-by-64-bit product, redrawn in the rare case that would favour some numbers.
  int between1And(int count) {
    const auto range = static_cast<std::uint64_t>(count);
    UInt128 product = static_cast<UInt128>((*this)()) * range;
    auto low = static_cast<std::uint64_t>(product);
    if (low < range) {
      const std::uint64_t threshold = (0 - range) % range;
      while (low < threshold) {
        product = static_cast<UInt128>((*this)()) * range;
        low = static_cast<std::uint64_t>(product);
      }
    }
    return static_cast<int>(product >> 64) + 1;
  }

  // A double drawn uniformly from [0, 1).
  double uniform() { return static_cast<double>((*this)() >> 11) * 0x1.0p-53; }

 private:
  static std::uint64_t rotate(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  std::uint64_t state_[4];
};

}  // namespace zelk
