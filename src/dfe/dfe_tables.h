#pragma once
// The lookup tables of the analyses of the distribution of fitness effects, as the
// likelihood reads them: indexed from 1 (class f, shape row b, mean column m, adaptive
// column a), with the grid that maps parameters to rows and columns.

#include <cmath>
#include <cstdint>
#include <vector>

#include "tablegen/lookup_table.h"

namespace zelk::dfe {

// A table of doubles indexed (i, j) from 1.
class Table2 {
 public:
  void resize(std::int32_t rows, std::int32_t columns) {
    rows_ = rows;
    columns_ = columns;
    values_.assign(static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns), 0.0);
  }
  double operator()(std::int32_t i, std::int32_t j) const { return values_[index(i, j)]; }
  double& operator()(std::int32_t i, std::int32_t j) { return values_[index(i, j)]; }
  std::int32_t rows() const { return rows_; }
  std::int32_t columns() const { return columns_; }

 private:
  std::size_t index(std::int32_t i, std::int32_t j) const {
    return static_cast<std::size_t>(i - 1) * static_cast<std::size_t>(columns_) +
           static_cast<std::size_t>(j - 1);
  }
  std::int32_t rows_ = 0;
  std::int32_t columns_ = 0;
  std::vector<double> values_;
};

// A table of doubles indexed (f, b, m) from 1.
class Table3 {
 public:
  void resize(std::int32_t classes, std::int32_t rows, std::int32_t columns) {
    classes_ = classes;
    rows_ = rows;
    columns_ = columns;
    values_.assign(static_cast<std::size_t>(classes) * static_cast<std::size_t>(rows) *
                       static_cast<std::size_t>(columns),
                   0.0);
  }
  double operator()(std::int32_t f, std::int32_t b, std::int32_t m) const {
    return values_[index(f, b, m)];
  }
  double& operator()(std::int32_t f, std::int32_t b, std::int32_t m) {
    return values_[index(f, b, m)];
  }
  std::int32_t classes() const { return classes_; }

 private:
  std::size_t index(std::int32_t f, std::int32_t b, std::int32_t m) const {
    return (static_cast<std::size_t>(f - 1) * static_cast<std::size_t>(rows_) +
            static_cast<std::size_t>(b - 1)) *
               static_cast<std::size_t>(columns_) +
           static_cast<std::size_t>(m - 1);
  }
  std::int32_t classes_ = 0;
  std::int32_t rows_ = 0;
  std::int32_t columns_ = 0;
  std::vector<double> values_;
};

// x rounded to the nearest whole number, halfway cases away from zero, as std::round does,
// without a library call: the grid mapping runs for every gene at every proposal. Values
// too large to hold a fraction (and infinities, and not-a-number) come back unchanged.
inline double roundToWhole(double x) {
  if (!(std::fabs(x) < 4503599627370496.0)) return x;  // 2^52
  const double whole = static_cast<double>(static_cast<std::int64_t>(x));
  const double fraction = x - whole;  // exact below 2^52
  if (fraction >= 0.5) return whole + 1;
  if (fraction <= -0.5) return whole - 1;
  return whole;
}

// The value of a gene's log-likelihood when its parameters lie outside the grid.
inline constexpr double kOutOfGrid = -1e10;

struct DfeTables {
  std::vector<double> ePsLookUpTable;  // 1..K; index 0 unused
  Table3 ePnLookUpTable;               // (f, b, m)
  Table2 eDnLookUpTable;               // (b, m)
  Table2 eHnLookUpTable;               // (b, m); empty for the extended layout
  double betaMin = 0.0;
  double betaStep = 0.0;
  std::int32_t maxBetaIndex = 0;
  double logMeanSMin = 0.0;
  double logMeanSStep = 0.0;
  std::int32_t maxMeanSIndex = 0;
  // The adaptive grid of the extended layout.
  double logSaMin = 0.0;
  double logSaMax = 0.0;
  double logSaStepSize = 0.0;
  double logSaSteps = 0.0;
  Table2 ePaLookUpTable;               // (f, a)
  std::vector<double> eDaLookUptable;  // 1..L; index 0 unused

  std::int32_t classes() const { return ePnLookUpTable.classes(); }

  // The shape row of beta, 1-based; any value outside 1..maxBetaIndex (a value that is not
  // a number included) means outside the grid.
  double rowOf(double beta) const { return roundToWhole((beta - betaMin) / betaStep) + 1; }
  // The mean column of ln S, clamped below at column 1; above maxMeanSIndex (or not a
  // number) means outside the grid.
  double columnOf(double logMeanS) const {
    const double m = roundToWhole((logMeanS - logMeanSMin) / logMeanSStep) + 1;
    return m < 1 ? 1 : m;
  }
  // The adaptive column of ln(Sa N), clamped to 1..L; never outside the grid.
  std::int32_t adaptiveColumnOf(double logSaN) const;
  bool inGrid(double row, double column) const {
    return row >= 1 && row <= maxBetaIndex && column <= maxMeanSIndex;
  }
};

// The tables of a file in the core layout, and of one in the extended layout.
DfeTables fromCoreLayout(const tablegen::LookupTable& table);
DfeTables fromExtendedLayout(const tablegen::ExtendedTable& extended);

}  // namespace zelk::dfe
