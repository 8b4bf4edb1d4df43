#include "dfe/dfe_tables.h"

#include <cmath>

namespace zelk::dfe {
namespace {

void copyGrid(const tablegen::LookupTable& table, DfeTables& out) {
  const std::int32_t k = table.classCount();
  const std::int32_t rows = table.beta.count;
  const std::int32_t columns = table.logMeanS.count;
  out.ePsLookUpTable.assign(static_cast<std::size_t>(k) + 1, 0.0);
  for (std::int32_t f = 1; f <= k; ++f)
    out.ePsLookUpTable[static_cast<std::size_t>(f)] =
        table.neutral[static_cast<std::size_t>(f - 1)];
  out.betaMin = table.beta.first;
  out.betaStep = table.beta.step;
  out.maxBetaIndex = rows;
  out.logMeanSMin = table.logMeanS.first;
  out.logMeanSStep = table.logMeanS.step;
  out.maxMeanSIndex = columns;
  out.ePnLookUpTable.resize(k, rows, columns);
  out.eDnLookUpTable.resize(rows, columns);
  for (std::int32_t b = 1; b <= rows; ++b) {
    for (std::int32_t m = 1; m <= columns; ++m) {
      for (std::int32_t f = 1; f <= k; ++f)
        out.ePnLookUpTable(f, b, m) = table.ePn(f - 1, b - 1, m - 1);
      out.eDnLookUpTable(b, m) = table.divergence[static_cast<std::size_t>(b - 1) * columns +
                                                  static_cast<std::size_t>(m - 1)];
    }
  }
}

}  // namespace

std::int32_t DfeTables::adaptiveColumnOf(double logSaN) const {
  const double a = roundToWhole((logSaN - logSaMin) / logSaStepSize);
  if (!(a >= 1)) return 1;  // below the first column, or not a number
  if (a > logSaSteps) return static_cast<std::int32_t>(logSaSteps);
  return static_cast<std::int32_t>(a);
}

DfeTables fromCoreLayout(const tablegen::LookupTable& table) {
  DfeTables out;
  copyGrid(table, out);
  const std::int32_t rows = table.beta.count;
  const std::int32_t columns = table.logMeanS.count;
  out.eHnLookUpTable.resize(rows, columns);
  for (std::int32_t b = 1; b <= rows; ++b)
    for (std::int32_t m = 1; m <= columns; ++m)
      out.eHnLookUpTable(b, m) = table.heterozygosity[static_cast<std::size_t>(b - 1) * columns +
                                                      static_cast<std::size_t>(m - 1)];
  return out;
}

DfeTables fromExtendedLayout(const tablegen::ExtendedTable& extended) {
  DfeTables out;
  copyGrid(extended.table, out);
  const tablegen::AdaptiveGrid& adaptive = extended.adaptive;
  out.logSaMin = adaptive.logSaMin;
  out.logSaMax = adaptive.logSaMax;
  out.logSaStepSize = adaptive.logSaStepSize;
  out.logSaSteps = adaptive.logSaSteps;
  const std::int32_t k = extended.table.classCount();
  const std::int32_t columns = adaptive.columns;
  out.ePaLookUpTable.resize(k, columns);
  for (std::int32_t f = 1; f <= k; ++f)
    for (std::int32_t a = 1; a <= columns; ++a)
      out.ePaLookUpTable(f, a) = adaptive.polymorphism[static_cast<std::size_t>(f - 1) * columns +
                                                       static_cast<std::size_t>(a - 1)];
  out.eDaLookUptable.assign(static_cast<std::size_t>(columns) + 1, 0.0);
  for (std::int32_t a = 1; a <= columns; ++a)
    out.eDaLookUptable[static_cast<std::size_t>(a)] =
        adaptive.divergence[static_cast<std::size_t>(a - 1)];
  return out;
}

}  // namespace zelk::dfe
