#pragma once
// The toolkit's own random numbers: a floating-point subtractive uniform generator (a lagged
// table of 55 entries, modulus 4,000,000) that seeds itself from a tick counter on first use,
// and non-uniform deviates built on it. Each user owns its instance; the instance keeps the
// generator's table and the caches of the deviates between calls.

#include <array>
#include <cstdint>
#include <functional>

#include "common/platform.h"

namespace zelk {

class randomNumberClass {
 public:
  // A signed 32-bit tick count; the seed is derived from it.
  using TickCounter = std::function<std::int32_t()>;

  // `platform` receives the message boxes (nullptr: they are dropped). `tickCounter` is read
  // when the generator is seeded; when empty, a millisecond tick of the steady clock is used.
  explicit randomNumberClass(Platform* platform = nullptr, TickCounter tickCounter = {});

  // Exponential deviate with mean 1; redraws a uniform 0 so the result is always finite.
  double exponential();
  // Uniform deviate in [0, 1), a multiple of 2.5e-7; may be exactly 0, never 1.
  double uniform();
  // Seeds the generator from the tick counter. Run by the first draw; may be called again.
  void initialise();
  // Standard normal deviate (polar Box-Muller; every second call returns the cached partner).
  double normal();
  // Poisson deviate with the given mean (mean >= 0).
  std::int32_t poisson(double mean);
  // ln Gamma(x) for x > 0 by a six-term Lanczos series, without reflection.
  double gammLn(double x) const;
  // Number of successes in n trials of probability pp.
  std::int32_t binomial(std::int32_t n, double pp);
  // Gamma deviate with the given shape and mean 1 (variance 1/shape). Shapes below 1 use
  // gammaAhrens, the others gammaCheng. A shape that is not a finite positive number shows
  // "Gamma random number generator called with illegal shape parameter" and gives a quiet NaN.
  double gamma(double shape);
  // The individual gamma generators, each with mean 1; callers keep to the stated shapes.
  double gammaCheng(double shape);    // shape >= 1
  double gammaAhrens(double shape);   // 0 < shape < 1
  double gammaFishman(double shape);  // shape >= 1
  double gammaMT(double shape);       // shape >= 1
  // Items of the first kind among k drawn without replacement from na of the first kind and
  // nb of the second; always within [max(0, k - nb), min(na, k)].
  std::int32_t hypergeometric(std::int32_t na, std::int32_t nb, std::int32_t k);
  // Ramanujan's approximation of ln n! (exactly 0 for n = 0).
  double logFactorial(std::int32_t n) const;

  // State. Readable so callers and tests can inspect the generator.
  double seed = 0.0;  // not used: seeding reads the tick counter
  std::int32_t gasdevIset = 0;
  double gasdevGset = 0.0;
  double poidevOldm;  // NaN until the first Poisson draw, so its constants get computed
  double poidevSq = 0.0;
  double poidevAlxm = 0.0;
  double poidevG = 0.0;
  std::int32_t bnldevNold = -1;  // no trial count cached yet
  double bnldevPold;             // NaN: no probability cached yet
  double bnldevOldg = 0.0;
  double bnldevEn = 0.0;
  double bnldevPc = 0.0;
  double bnldevPlog = 0.0;
  double bnldevPclog = 0.0;
  std::int32_t idum = 0;
  bool initialised = false;
  double mj = 0.0;
  double mk = 0.0;
  std::array<double, 56> ran3ma{};  // index 0 unused
  std::int32_t ran3next = 0;
  std::int32_t ran3nextp = 0;

 private:
  Platform* platform_;
  TickCounter tickCounter_;
};

}  // namespace zelk
