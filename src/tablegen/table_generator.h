#pragma once
// Computing every expectation of a lookup table's grid.
//
// generateTable is the fast path: each grid cell evaluates all its classes and the
// heterozygosity integrand together at the shared abscissae of the midpoint stages, each
// component keeping its own convergence test, so each value is the one a separate open
// Romberg integral gives (up to rounding). Cells are spread over threads.
//
// generateTableOneByOne is the plain path: one integral after another, in file order, with
// the integrator and the integrand objects. It defines the values; tests and benchmarks
// compare the fast path with it.

#include <atomic>
#include <cstdint>
#include <vector>

#include "common/platform.h"
#include "tablegen/lookup_table.h"

namespace zelk::tablegen {

// The relative tolerance of every integral of a table.
inline constexpr double kTableAccuracy = 0.00001;

// Told how many grid cells are done, from the thread that called generateTable.
class GenerationProgress {
 public:
  virtual ~GenerationProgress() = default;
  virtual void update(std::int64_t cellsDone, std::int64_t cells) = 0;
};

// The grid values of a table, formed by repeated addition from the lower limits.
struct TableGrid {
  std::vector<double> betas;
  std::vector<double> logMeans;
};

struct GenerationSettings {
  int threads = 1;
  double accuracy = kTableAccuracy;
  // When given, receives the stage at which each integral stopped (15: no convergence, 0:
  // not integrated), laid out as the table's polymorphism values followed by its
  // heterozygosity values.
  std::vector<std::uint8_t>* stopStages = nullptr;
};

// Fills the value arrays of a table whose classes, sample size and grid axes are set.
// Polls the platform (events, cancellation) about ten times a second; returns false when
// the run was cancelled, leaving the values incomplete.
bool generateTable(LookupTable& table, const TableGrid& grid, const GenerationSettings& settings,
                   Platform& platform, GenerationProgress* progress);

// The plain path, on the calling thread.
void generateTableOneByOne(LookupTable& table, const TableGrid& grid, double accuracy,
                           std::vector<std::uint8_t>* stopStages = nullptr);

// Zeta(100, s, q) with the terms from the twelfth on summed by the Euler-Maclaurin formula
// (through the fifth Bernoulli term) instead of one by one: equal to the plain sum to a few
// units in the last place for the shapes of a table, at a seventh of the cost.
double fastZeta100(double s, double q);

}  // namespace zelk::tablegen
