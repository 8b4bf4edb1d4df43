#include "tablegen/table_generator.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "tablegen/integrands.h"
#include "tablegen/integration.h"

namespace zelk::tablegen {
namespace {

constexpr int kStages = openRhombergIntegrationClass::kMaxStages;
constexpr std::uint8_t kNoConvergence = kStages + 1;
// The class terms of the midpoint abscissae are kept while they fit in this many bytes.
constexpr std::size_t kClassTermCacheBytes = std::size_t{128} << 20;

std::int64_t powerOfThree(int exponent) {
  std::int64_t value = 1;
  for (int i = 0; i < exponent; ++i) value *= 3;
  return value;
}

// The abscissae of every midpoint stage on (0, 1), in the order and with the arithmetic of
// the midpoint rule, and for each the class terms P_f(x) / (x (1 - x)) of every class.
// Those depend on nothing but x, so all cells of the grid share them.
class StagePoints {
 public:
  explicit StagePoints(const LookupTable& table) : n_(table.sampleSize), k_(table.classCount()) {
    for (const auto& c : table.classes) {
      lowers_.push_back(c.lower);
      uppers_.push_back(c.upper);
    }
    logBinomial_.resize(static_cast<std::size_t>(std::max(n_, 0)) + 1);
    std::vector<double> logfact(logBinomial_.size(), 0.0);
    for (std::int32_t i = 1; i <= n_; ++i) logfact[i] = logfact[i - 1] + std::log(double(i));
    for (std::int32_t i = 0; i <= n_; ++i)
      logBinomial_[i] = logfact[n_] - logfact[i] - logfact[n_ - i];

    points_[1] = {0.5};
    std::size_t cached = 0;
    for (int stage = 2; stage <= kStages; ++stage) {
      const std::int64_t it = powerOfThree(stage - 2);
      const double del = 1.0 / (3.0 * static_cast<double>(it));
      const double ddel = 2.0 * del;
      double x = del / 2;
      auto& points = points_[stage];
      points.reserve(static_cast<std::size_t>(2 * it));
      for (std::int64_t i = 0; i < it; ++i) {
        points.push_back(x);
        x = x + ddel;
        points.push_back(x);
        x = x + del;
      }
    }
    for (int stage = 1; stage <= kStages; ++stage) {
      cached += points_[stage].size() * static_cast<std::size_t>(k_) * sizeof(double);
      if (cached <= kClassTermCacheBytes) cachedStages_ = stage;
    }
  }

  const std::vector<double>& points(int stage) const { return points_[stage]; }
  std::int32_t classCount() const { return k_; }

  // The class terms of a stage's points, point-major (point * k + class); nullptr when the
  // stage lies beyond the cache. Built on first use, once, whichever thread asks.
  const double* classTerms(int stage) {
    if (stage > cachedStages_) return nullptr;
    std::call_once(built_[stage], [&] {
      const auto& points = points_[stage];
      auto& terms = terms_[stage];
      try {
        terms.resize(points.size() * static_cast<std::size_t>(k_));
        std::vector<double> binomial(logBinomial_.size());
        for (std::size_t p = 0; p < points.size(); ++p)
          computeClassTerms(points[p], binomial.data(), terms.data() + p * k_);
      } catch (const std::bad_alloc&) {
        // Without room for the cache, the terms are computed at each abscissa instead.
        std::vector<double>().swap(terms);
      }
    });
    return terms_[stage].empty() ? nullptr : terms_[stage].data();
  }

  // P_f(x) / (x (1 - x)) for every class f, the binomial terms taken from logarithms;
  // `binomial` is scratch space for n + 1 values.
  void computeClassTerms(double x, double* binomial, double* out) const {
    const double logX = std::log(x);
    const double logY = std::log(1.0 - x);
    for (std::int32_t i = 0; i <= n_; ++i)
      binomial[i] = std::exp(logBinomial_[i] + i * logX + (n_ - i) * logY);
    const double scale = x * (1.0 - x);
    for (std::int32_t f = 0; f < k_; ++f) {
      double p = 0.0;
      for (std::int32_t i = lowers_[f]; i <= uppers_[f]; ++i) {
        p += binomial[i];
        if (i != n_ - i) p += binomial[n_ - i];
      }
      out[f] = p / scale;
    }
  }

 private:
  std::int32_t n_;
  std::int32_t k_;
  std::vector<std::int32_t> lowers_;
  std::vector<std::int32_t> uppers_;
  std::vector<double> logBinomial_;
  std::vector<double> points_[kStages + 1];
  std::vector<double> terms_[kStages + 1];
  std::once_flag built_[kStages + 1];
  int cachedStages_ = 0;
};

// Integrates all components of one grid cell together: the k class integrands and the
// heterozygosity integrand, at the shared abscissae, each with its own convergence test.
class CellIntegrator {
 public:
  CellIntegrator(StagePoints& points, double accuracy, std::int32_t sampleSize)
      : points_(points),
        accuracy_(accuracy),
        k_(points.classCount()),
        binomial_(static_cast<std::size_t>(std::max(sampleSize, 0)) + 1),
        classTerms_(static_cast<std::size_t>(k_)),
        sums_(static_cast<std::size_t>(k_) + 1),
        running_(static_cast<std::size_t>(k_) + 1),
        active_(static_cast<std::size_t>(k_)),
        romberg_(static_cast<std::size_t>(k_) + 1, RombergStages(accuracy)) {}

  // values: k class integrals then the heterozygosity integral; stages likewise. Returns
  // false when stopped before the cell was done.
  bool integrate(double beta, double meanS, double* values, std::uint8_t* stages,
                 const std::atomic<bool>& stop) {
    const double a = beta / meanS;
    const double A = std::pow(a, beta);
    // The parts of the class integrand that do not depend on x.
    const double c1 = 1.0 / std::pow(1.0 + a, beta);
    const double c2 = std::pow(a + 2.0, 1.0 - beta);
    const double c3 = 1.0 / std::pow(a + 2.0, beta);
    const double c4 = 1.0 / std::pow(a + 2.0, beta + 1.0);
    const double zetaAtOne = fastZeta100(beta, a + 1.0);

    const std::int32_t het = k_;
    std::fill(romberg_.begin(), romberg_.end(), RombergStages(accuracy_));
    std::int32_t activeCount = k_;
    for (std::int32_t f = 0; f < k_; ++f) active_[f] = f;
    bool hetActive = true;
    for (std::int32_t c = 0; c <= k_; ++c) {
      values[c] = 0.0;
      stages[c] = kNoConvergence;
    }

    for (int stage = 1; stage <= kStages && (activeCount > 0 || hetActive); ++stage) {
      if (stop.load(std::memory_order_relaxed)) return false;
      const auto& xs = points_.points(stage);
      const double* cachedTerms = activeCount > 0 ? points_.classTerms(stage) : nullptr;
      for (std::int32_t c = 0; c <= k_; ++c) sums_[c] = 0.0;
      double hetSum = 0.0;
      for (std::size_t p = 0; p < xs.size(); ++p) {
        const double x = xs[p];
        if (activeCount > 0) {
          const double G = 1.0 / std::pow(x + a, beta) - c1 +
                           (c2 - std::pow(x + a + 1.0, 1.0 - beta)) / (1.0 - beta) +
                           (1.0 / std::pow(x + a + 1.0, beta) - c3) / 2.0 +
                           beta * (1.0 / std::pow(x + a + 1.0, beta + 1.0) - c4) / 12.0;
          const double F = A * G;
          const double* terms = cachedTerms;
          if (terms != nullptr) {
            terms += p * static_cast<std::size_t>(k_);
          } else {
            points_.computeClassTerms(x, binomial_.data(), classTerms_.data());
            terms = classTerms_.data();
          }
          for (std::int32_t i = 0; i < activeCount; ++i) {
            const std::int32_t f = active_[i];
            sums_[f] = sums_[f] + F * terms[f];
          }
        }
        if (hetActive) hetSum = hetSum + 2.0 * A * (fastZeta100(beta, x + a) - zetaAtOne);
      }
      sums_[het] = hetSum;

      // One midpoint stage per component, then its own convergence test.
      // Stage 2 on adds 2 * 3^(stage - 2) points: `it` pairs of them.
      const double it = static_cast<double>(xs.size() / 2);
      auto advance = [&](std::int32_t c) {
        running_[c] = stage == 1 ? sums_[c] : (running_[c] + sums_[c] / it) / 3;
        // A value that is not finite never converges: every later stage carries it.
        if (!std::isfinite(running_[c])) return true;
        if (romberg_[c].addStage(running_[c])) {
          values[c] = romberg_[c].result();
          stages[c] = static_cast<std::uint8_t>(stage);
          return true;
        }
        return false;
      };
      std::int32_t kept = 0;
      for (std::int32_t i = 0; i < activeCount; ++i) {
        const std::int32_t f = active_[i];
        if (!advance(f)) active_[kept++] = f;
      }
      activeCount = kept;
      if (hetActive && advance(het)) hetActive = false;
    }
    return true;
  }

 private:
  StagePoints& points_;
  double accuracy_;
  std::int32_t k_;
  std::vector<double> binomial_;
  std::vector<double> classTerms_;
  std::vector<double> sums_;
  std::vector<double> running_;
  std::vector<std::int32_t> active_;
  std::vector<RombergStages> romberg_;
};

}  // namespace

double fastZeta100(double s, double q) {
  constexpr int kExplicit = 12;
  constexpr double kTerms = 100.0;
  double sum = 0.0;
  for (int i = 0; i < kExplicit; ++i) sum += std::pow(q + i, -s);
  // Zeta(100, s, q) = sum_{i<100} f(i) + f(100)/2 + (q+100)^(1-s)/(s-1), f(t) = (q+t)^-s.
  // The Euler-Maclaurin formula for sum_{i=12}^{99} f(i) cancels the last two terms and
  // leaves the integral's lower end, the half term at 12 and the derivative terms.
  const double lo = q + kExplicit;
  const double hi = q + kTerms;
  const double pLo = std::pow(lo, -s);
  const double pHi = std::pow(hi, -s);
  const double uLo = 1.0 / lo;
  const double uHi = 1.0 / hi;
  // B_2j / (2j)! for j = 1..5, and the derivative factors -s(s+1)...(s+2j-2).
  constexpr double kBernoulli[] = {1.0 / 12.0, -1.0 / 720.0, 1.0 / 30240.0, -1.0 / 1209600.0,
                                   1.0 / 47900160.0};
  double factor = -s;
  double powerLo = pLo * uLo;
  double powerHi = pHi * uHi;
  double corrections = 0.0;
  for (int j = 0; j < 5; ++j) {
    corrections += kBernoulli[j] * factor * (powerHi - powerLo);
    const double next = s + 2.0 * j + 1.0;
    factor *= next * (next + 1.0);
    powerLo *= uLo * uLo;
    powerHi *= uHi * uHi;
  }
  return sum + lo * pLo / (s - 1.0) + pLo / 2.0 + corrections;
}

bool generateTable(LookupTable& table, const TableGrid& grid, const GenerationSettings& settings,
                   Platform& platform, GenerationProgress* progress) {
  table.allocate();
  const std::int32_t k = table.classCount();
  const std::int32_t rows = table.beta.count;
  const std::int32_t columns = table.logMeanS.count;
  const std::int64_t cells = std::int64_t{rows} * columns;
  if (settings.stopStages != nullptr)
    settings.stopStages->assign(static_cast<std::size_t>(cells) * (k + 1), 0);

  StagePoints points(table);
  std::atomic<std::int64_t> nextCell{0};
  std::atomic<std::int64_t> cellsDone{0};
  std::atomic<bool> stop{false};
  std::mutex mutex;
  std::condition_variable allDone;
  int running =
      std::clamp<int>(settings.threads, 1, static_cast<int>(std::max<std::int64_t>(cells, 1)));

  auto work = [&] {
    CellIntegrator integrator(points, settings.accuracy, table.sampleSize);
    std::vector<double> values(static_cast<std::size_t>(k) + 1);
    std::vector<std::uint8_t> stages(static_cast<std::size_t>(k) + 1);
    for (std::int64_t cell = nextCell.fetch_add(1); cell < cells && !stop.load();
         cell = nextCell.fetch_add(1)) {
      const auto j = static_cast<std::int32_t>(cell / columns);
      const auto l = static_cast<std::int32_t>(cell % columns);
      const double beta = grid.betas[j];
      const double meanS = std::exp(grid.logMeans[l]);
      if (!integrator.integrate(beta, meanS, values.data(), stages.data(), stop)) break;
      for (std::int32_t f = 0; f < k; ++f) table.ePn(f, j, l) = values[f];
      table.heterozygosity[static_cast<std::size_t>(cell)] = values[k];
      table.divergence[static_cast<std::size_t>(cell)] = expectedDivergence(beta, meanS);
      if (settings.stopStages != nullptr) {
        auto& out = *settings.stopStages;
        for (std::int32_t f = 0; f < k; ++f)
          out[(static_cast<std::size_t>(f) * rows + j) * columns + l] = stages[f];
        out[static_cast<std::size_t>(k) * cells + cell] = stages[k];
      }
      cellsDone.fetch_add(1);
    }
    std::lock_guard lock(mutex);
    if (--running == 0) allDone.notify_all();
  };

  const int threads = running;
  std::vector<std::jthread> workers;
  workers.reserve(static_cast<std::size_t>(threads));
  for (int t = 0; t < threads; ++t) workers.emplace_back(work);

  // The calling thread keeps the interface alive, reports progress and watches for a cancel.
  while (true) {
    {
      std::unique_lock lock(mutex);
      if (allDone.wait_for(lock, std::chrono::milliseconds(100), [&] { return running == 0; }))
        break;
    }
    platform.processEvents();
    if (platform.cancelled()) stop.store(true);
    if (progress != nullptr) progress->update(cellsDone.load(), cells);
  }
  workers.clear();
  if (progress != nullptr) progress->update(cellsDone.load(), cells);
  return !stop.load() && cellsDone.load() == cells;
}

void generateTableOneByOne(LookupTable& table, const TableGrid& grid, double accuracy,
                           std::vector<std::uint8_t>* stopStages) {
  table.allocate();
  const std::int32_t k = table.classCount();
  const std::int32_t rows = table.beta.count;
  const std::int32_t columns = table.logMeanS.count;
  const std::size_t cells = table.cells();
  if (stopStages != nullptr) stopStages->assign(cells * (k + 1), 0);

  openRhombergIntegrationClass integrator;
  integrator.accuracy = accuracy;
  ePnFunctionClass polymorphism;
  polymorphism.n = table.sampleSize;
  polymorphism.initialise();
  for (std::int32_t f = 0; f < k; ++f) {
    polymorphism.lowerFreq = table.classes[f].lower;
    polymorphism.upperFreq = table.classes[f].upper;
    for (std::int32_t j = 0; j < rows; ++j) {
      polymorphism.beta = grid.betas[j];
      for (std::int32_t l = 0; l < columns; ++l) {
        polymorphism.meanS = std::exp(grid.logMeans[l]);
        table.ePn(f, j, l) = integrator.integrate(polymorphism, 0.0, 1.0);
        if (stopStages != nullptr)
          (*stopStages)[(static_cast<std::size_t>(f) * rows + j) * columns + l] =
              static_cast<std::uint8_t>(integrator.lastStage());
      }
    }
  }
  for (std::int32_t j = 0; j < rows; ++j) {
    for (std::int32_t l = 0; l < columns; ++l) {
      table.divergence[static_cast<std::size_t>(j) * columns + l] =
          expectedDivergence(grid.betas[j], std::exp(grid.logMeans[l]));
    }
  }
  eHetFunctionClass heterozygosity;
  for (std::int32_t j = 0; j < rows; ++j) {
    heterozygosity.beta = grid.betas[j];
    for (std::int32_t l = 0; l < columns; ++l) {
      heterozygosity.meanS = std::exp(grid.logMeans[l]);
      const std::size_t cell = static_cast<std::size_t>(j) * columns + l;
      table.heterozygosity[cell] = integrator.integrate(heterozygosity, 0.0, 1.0);
      if (stopStages != nullptr)
        (*stopStages)[static_cast<std::size_t>(k) * cells + cell] =
            static_cast<std::uint8_t>(integrator.lastStage());
    }
  }
}

}  // namespace zelk::tablegen
