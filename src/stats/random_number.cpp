#include "stats/random_number.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

namespace zelk {

namespace {

constexpr double kModulus = 4000000.0;
constexpr double kScale = 2.5e-7;  // 1 / kModulus
constexpr std::int32_t kSeedConstant = 1618033;
constexpr std::int32_t kTableSize = 55;
constexpr std::int32_t kLag = 31;
constexpr double kPi = 3.141592654;
constexpr double kE = 2.718281828;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::int32_t steadyMillisecondTick() {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now().time_since_epoch())
                      .count();
  // Keep the low 32 bits, read as a signed count (wraps like a platform tick counter).
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(ms));
}

// Tangent of pi * u, written as sine over cosine of the angle.
double tanOfPiTimes(double u) {
  const double angle = kPi * u;
  return std::sin(angle) / std::cos(angle);
}

}  // namespace

randomNumberClass::randomNumberClass(Platform* platform, TickCounter tickCounter)
    : poidevOldm(kNaN),
      bnldevPold(kNaN),
      platform_(platform),
      tickCounter_(tickCounter ? std::move(tickCounter) : TickCounter(steadyMillisecondTick)) {}

void randomNumberClass::initialise() {
  initialised = true;
  const std::int32_t tick = tickCounter_();
  // 1,618,033 - tick in wrapping 32-bit integer arithmetic.
  const auto difference = static_cast<std::int32_t>(static_cast<std::uint32_t>(kSeedConstant) -
                                                    static_cast<std::uint32_t>(tick));
  mj = static_cast<double>(difference);
  if (mj >= 0.0) {
    mj = mj - std::floor(mj / kModulus) * kModulus;
  } else {
    const double m = std::fabs(mj);
    mj = (kModulus - m) + std::floor(m / kModulus) * kModulus;
  }
  ran3ma[kTableSize] = mj;
  mk = 1.0;
  for (std::int32_t i = 1; i <= kTableSize - 1; ++i) {
    const std::int32_t ii = (21 * i) % kTableSize;
    ran3ma[ii] = mk;
    mk = mj - mk;
    if (mk < 0.0) mk += kModulus;
    mj = ran3ma[ii];
  }
  for (int round = 0; round < 4; ++round) {
    for (std::int32_t i = 1; i <= kTableSize; ++i) {
      ran3ma[i] -= ran3ma[1 + ((i + 30) % kTableSize)];
      if (ran3ma[i] < 0.0) ran3ma[i] += kModulus;
    }
  }
  ran3next = 0;
  ran3nextp = kLag;
  idum = 1;
}

double randomNumberClass::uniform() {
  if (!initialised) initialise();
  if (++ran3next == kTableSize + 1) ran3next = 1;
  if (++ran3nextp == kTableSize + 1) ran3nextp = 1;
  mj = ran3ma[ran3next] - ran3ma[ran3nextp];
  if (mj < 0.0) mj += kModulus;
  ran3ma[ran3next] = mj;
  return mj * kScale;
}

double randomNumberClass::exponential() {
  double u = 0.0;
  do {
    u = uniform();
  } while (u == 0.0);
  return -std::log(u);
}

double randomNumberClass::normal() {
  if (gasdevIset != 0) {
    gasdevIset = 0;
    return gasdevGset;
  }
  double x1 = 0.0;
  double x2 = 0.0;
  double r = 0.0;
  do {
    x1 = 2.0 * uniform() - 1.0;
    x2 = 2.0 * uniform() - 1.0;
    r = x1 * x1 + x2 * x2;
  } while (r >= 1.0 || r == 0.0);
  const double f = std::sqrt(-2.0 * std::log(r) / r);
  gasdevGset = x1 * f;
  gasdevIset = 1;
  return x2 * f;
}

std::int32_t randomNumberClass::poisson(double mean) {
  if (mean < 12.0) {
    if (mean != poidevOldm) {
      poidevOldm = mean;
      poidevG = std::exp(-mean);
    }
    std::int32_t k = -1;
    double t = 1.0;
    do {
      t *= uniform();
      ++k;
    } while (t > poidevG);
    return k;
  }
  if (mean != poidevOldm) {
    poidevOldm = mean;
    poidevSq = std::sqrt(2.0 * mean);
    poidevAlxm = std::log(mean);
    poidevG = mean * poidevAlxm - gammLn(mean + 1.0);
  }
  double e = 0.0;
  double t = 0.0;
  do {
    double y = 0.0;
    do {
      y = tanOfPiTimes(uniform());
      e = poidevSq * y + mean;
    } while (e < 0.0);
    e = std::floor(e);
    t = 0.9 * (1.0 + y * y) * std::exp(e * poidevAlxm - gammLn(e + 1.0) - poidevG);
  } while (uniform() > t);
  return static_cast<std::int32_t>(e);
}

double randomNumberClass::gammLn(double x) const {
  static constexpr std::array<double, 6> kCoefficients = {
      76.18009173, -86.50532033, 24.01409822, -1.231739516, 0.00120858003, -0.0000536382};
  const double y = x - 1.0;
  const double t = y + 5.5;
  double s = 1.0;
  for (std::size_t i = 0; i < kCoefficients.size(); ++i) {
    s += kCoefficients[i] / (y + static_cast<double>(i + 1));
  }
  return (y + 0.5) * std::log(t) - t + std::log(2.50662827465 * s);
}

std::int32_t randomNumberClass::binomial(std::int32_t n, double pp) {
  const double p = pp <= 0.5 ? pp : 1.0 - pp;
  const double trials = static_cast<double>(n);
  std::int32_t count = 0;
  if (n < 25) {
    for (std::int32_t j = 1; j <= n; ++j) {
      if (uniform() < p) ++count;
    }
  } else {
    const double a = trials * p;
    if (a < 1.0) {
      const double g = std::exp(-a);
      double t = 1.0;
      std::int32_t j = -1;
      do {
        t *= uniform();
        ++j;
      } while (!(t < g || j == n));
      count = j;
    } else {
      if (n != bnldevNold) {
        bnldevEn = trials;
        bnldevOldg = gammLn(trials + 1.0);
        bnldevNold = n;
      }
      if (p != bnldevPold) {
        bnldevPc = 1.0 - p;
        bnldevPlog = std::log(p);
        bnldevPclog = std::log(bnldevPc);
        bnldevPold = p;
      }
      const double sq = std::sqrt(2.0 * a * bnldevPc);
      double e = 0.0;
      double t = 0.0;
      do {
        double y = 0.0;
        do {
          y = tanOfPiTimes(uniform());
          e = sq * y + a;
        } while (e < 0.0 || e >= bnldevEn + 1.0);
        e = std::floor(e);
        t = 1.2 * sq * (1.0 + y * y) *
            std::exp(bnldevOldg - gammLn(e + 1.0) - gammLn(bnldevEn - e + 1.0) + e * bnldevPlog +
                     (bnldevEn - e) * bnldevPclog);
      } while (uniform() > t);
      count = static_cast<std::int32_t>(e);
    }
  }
  return p != pp ? n - count : count;
}

double randomNumberClass::gamma(double shape) {
  // Zero, negative, infinite and NaN shapes have no gamma distribution; the generators
  // would return nonsense or never stop.
  if (!(shape > 0.0) || std::isinf(shape)) {
    if (platform_ != nullptr) {
      platform_->showMessage("Gamma random number generator called with illegal shape parameter");
    }
    return kNaN;
  }
  return shape < 1.0 ? gammaAhrens(shape) : gammaCheng(shape);
}

double randomNumberClass::gammaCheng(double shape) {
  const double a = 1.0 / std::sqrt(2.0 * shape - 1.0);
  const double b = shape - std::log(4.0);
  const double q = shape + 1.0 / a;
  double x = 0.0;
  while (true) {
    const double u1 = uniform();
    const double u2 = uniform();
    const double v = a * std::log(u1 / (1.0 - u1));
    x = shape * std::exp(v);
    if (b + q * v - x >= std::log(u1 * u1 * u2)) break;
  }
  return x / shape;
}

double randomNumberClass::gammaAhrens(double shape) {
  while (true) {
    const double u = uniform();
    const double bigE = exponential();
    const double b = (shape + kE) / kE;
    const double p = b * u;
    if (p > 1.0) {
      const double x = -std::log((b - p) / shape);
      if (bigE >= (1.0 - shape) * std::log(x)) return x / shape;
    } else {
      const double x = std::pow(p, 1.0 / shape);
      if (bigE >= x) return x / shape;
    }
  }
}

double randomNumberClass::gammaFishman(double shape) {
  double y1 = 0.0;
  double y2 = 0.0;
  do {
    y1 = exponential();
    y2 = exponential();
  } while (y2 < (shape - 1.0) * (y1 - std::log(y1) - 1.0));
  return y1;
}

double randomNumberClass::gammaMT(double shape) {
  const double d = shape - 0.3333333333333333;
  const double w = 1.0 / std::sqrt(9.0 * d);
  while (true) {
    double x = 0.0;
    double v = 0.0;
    do {
      x = normal();
      v = 1.0 + w * x;
      v = v * v * v;
    } while (v <= 0.0);
    const double u = uniform();
    const double candidate = d * v / shape;
    const double x2 = x * x;
    if (u < 1.0 - 0.0331 * x2 * x2) return candidate;
    if (std::log(u) < 0.5 * x2 + d * (1.0 - v + std::log(v))) return candidate;
  }
}

std::int32_t randomNumberClass::hypergeometric(std::int32_t na, std::int32_t nb, std::int32_t k) {
  const std::int32_t lo = nb < k ? k - nb : 0;
  const std::int32_t hi = std::min(na, k);
  // Cumulative probabilities over 0..hi; entries below lo stay 0. Empty when hi < 0.
  std::vector<double> cumulative(static_cast<std::size_t>(std::max(hi + 1, 0)), 0.0);
  for (std::int32_t j = lo; j <= hi; ++j) {
    const double logP = logFactorial(nb) + logFactorial(na) + logFactorial(k) +
                        logFactorial(na + nb - k) - logFactorial(j) - logFactorial(na - j) -
                        logFactorial(nb + j - k) - logFactorial(k - j) - logFactorial(na + nb);
    const double previous = j == 0 ? 0.0 : cumulative[j - 1];
    cumulative[j] = previous + std::exp(logP);
  }
  const double u = uniform();
  for (std::int32_t j = lo; j <= hi; ++j) {
    if (cumulative[j] >= u) return j;
  }
  return hi;
}

double randomNumberClass::logFactorial(std::int32_t n) const {
  if (n == 0) return 0.0;
  const double x = static_cast<double>(n);
  return x * std::log(x) - x + std::log(x * (1.0 + 4.0 * x * (1.0 + 2.0 * x))) / 6.0 +
         std::log(3.14159) / 2.0;
}

}  // namespace zelk
