#pragma once
// The uniform draws of a DFE sampler run, and the proposal rule that consumes them.
//
// Draws come from a counter rather than from one sequence: the j-th draw for parameter
// position p in step t is a fixed function of the run's seed and (t, p, j). A step's
// positions can so be drawn in any order and on any thread and give the same numbers, and
// the threads that decide the genes' positions draw their own instead of waiting for one
// thread to draw them all (which, with thousands of genes on many cores, would take longer
// than deciding them). The function is the SplitMix64 finaliser of a step key plus the
// counter, a well-tested mixer whose outputs for distinct counters behave as independent
// uniforms; a run is reproduced exactly by its seed on every machine and with any number
// of threads.

#include <cstdint>

namespace zelk::dfe {

class StepDraws {
 public:
  explicit StepDraws(std::uint64_t seed) : key_(mix(seed + kStepGamma)) {}

  // The key of step t, from which its positions' draws come.
  std::uint64_t stepKey(std::int64_t t) const {
    return mix(key_ + static_cast<std::uint64_t>(t) * kStepGamma);
  }
  // Draw number `draw` (0, 1, ...) of position p under a step's key: a double in [0, 1).
  static double uniform(std::uint64_t stepKey, std::int32_t p, std::uint32_t draw) {
    const std::uint64_t counter = (static_cast<std::uint64_t>(p) << 24) + draw;
    // The top 53 bits, converted as a signed number (they fit), which is one instruction.
    const auto bits = static_cast<std::int64_t>(mix(stepKey + counter * kDrawGamma) >> 11);
    return static_cast<double>(bits) * 0x1.0p-53;
  }

 private:
  static constexpr std::uint64_t kStepGamma = 0x9e3779b97f4a7c15ULL;
  static constexpr std::uint64_t kDrawGamma = 0xd1b54a32d192ed03ULL;
  static std::uint64_t mix(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  std::uint64_t key_;
};

// The draws of one position in one step, in turn.
class PositionDraws {
 public:
  PositionDraws(std::uint64_t stepKey, std::int32_t p) : stepKey_(stepKey), p_(p) {}
  double next() { return StepDraws::uniform(stepKey_, p_, drawn_++); }

 private:
  std::uint64_t stepKey_;
  std::int32_t p_;
  std::uint32_t drawn_ = 0;
};

// A proposal: the current value moved by up to half the step width either way, drawn again
// until it lies strictly inside the limits; after 20 tries the width shrinks by 5% a try
// (a current value strictly inside the limits is so always reached).
inline double proposeValue(double current, double& step, double lower, double upper,
                           PositionDraws& draws) {
  double x = 0;
  int tries = 0;
  do {
    x = current + step * (draws.next() - 0.5);
    ++tries;
    if (tries > 20) step *= 0.95;
  } while (!(lower < x && x < upper));
  return x;
}

}  // namespace zelk::dfe
