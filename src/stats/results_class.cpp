#include "stats/results_class.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>

#include "common/numbers.h"

namespace zelk {

namespace {

constexpr double kUndefined = -1.0;

// Ascending order with not-a-number values last, so sorting never meets an invalid ordering.
bool lessNaNLast(double a, double b) {
  if (std::isnan(a)) return false;
  if (std::isnan(b)) return true;
  return a < b;
}

}  // namespace

void resultsClass::initialise(int rows, int columns, std::string_view titles) {
  initialise(rows, columns);
  // The pieces of "," + titles: index 0 is empty, index k is the k-th title.
  columnTitles_.assign(1, std::string());
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = titles.find(',', start);
    if (comma == std::string_view::npos) {
      columnTitles_.emplace_back(titles.substr(start));
      break;
    }
    columnTitles_.emplace_back(titles.substr(start, comma - start));
    start = comma + 1;
  }
}

void resultsClass::initialise(int rows, int columns) {
  startRows_ = std::max(rows, 0);
  startColumns_ = std::max(columns, 0);
  stride_ = static_cast<std::size_t>(startColumns_) + 1;
  rowBound_ = startRows_;
  cells_.clear();
  cells_.shrink_to_fit();
  ensureRows(rowBound_);
  currentRow_ = 1;
  currentColumn_ = 0;
  columnTitles_.clear();
}

void resultsClass::ensureRows(int lastRow) {
  // Row 1 is always addressable: before the first append it counts as the row being filled.
  const std::size_t needed = (static_cast<std::size_t>(std::max(lastRow, 1)) + 1) * stride_;
  if (needed <= cells_.size()) return;
  if (needed > cells_.capacity()) cells_.reserve(std::max(needed, 2 * cells_.capacity()));
  cells_.resize(needed, 0.0);
}

void resultsClass::append(double value) {
  if (startColumns_ < 1) return;  // no table, or a table without columns: nowhere to store
  if (currentColumn_ == startColumns_) {
    ++currentRow_;
    currentColumn_ = 0;
  }
  if (currentRow_ > rowBound_) {
    // Grow by the initial row count (at least one row); rows kept in place, new rows are 0.
    rowBound_ = currentRow_ - 1 + std::max(startRows_, 1);
    ensureRows(rowBound_);
  }
  ++currentColumn_;
  cells_[index(currentRow_, currentColumn_)] = value;
}

double resultsClass::data(int row, int column) const {
  if (row < 0 || row > rowBound_ || column < 0 || column > startColumns_) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  return cells_[index(row, column)];
}

double resultsClass::mean(int column) const {
  const int n = currentRow_;
  if (n <= 0 || !validColumn(column)) return kUndefined;
  double sum = 0.0;
  for (int r = 1; r <= n; ++r) sum += cells_[index(r, column)];
  return sum / static_cast<double>(n);
}

double resultsClass::variance(int column) const {
  const int n = currentRow_;
  if (n <= 0 || !validColumn(column)) return kUndefined;
  // Sums of deviations from the first value: the same variance as from the raw values, without
  // the cancellation that makes a column of equal values come out negative or nonzero.
  const double shift = cells_[index(1, column)];
  double sum = 0.0;
  double sumOfSquares = 0.0;
  for (int r = 1; r <= n; ++r) {
    const double d = cells_[index(r, column)] - shift;
    sum += d;
    sumOfSquares += d * d;
  }
  const double count = static_cast<double>(n);
  double numerator = sumOfSquares - sum * sum / count;
  if (numerator < 0.0) numerator = 0.0;
  return numerator / (count - 1.0);
}

double resultsClass::standardDeviation(int column) const {
  if (currentRow_ <= 0 || !validColumn(column)) return kUndefined;
  return std::sqrt(variance(column));
}

double resultsClass::standardError(int column) const {
  if (currentRow_ <= 0 || !validColumn(column)) return kUndefined;
  return std::sqrt(variance(column) / static_cast<double>(currentRow_));
}

double resultsClass::orderedValue(int column, bool upper) const {
  const int n = currentRow_;
  if (n < 1 || !validColumn(column)) return kUndefined;
  std::vector<double> ordered(static_cast<std::size_t>(n) + 1, 0.0);
  for (int r = 1; r <= n; ++r) ordered[r] = cells_[index(r, column)];
  const double product = static_cast<double>(n) * (upper ? 0.975 : 0.025);
  const auto position =
      static_cast<std::ptrdiff_t>(upper ? std::ceil(product) : std::floor(product));
  // Selecting the entry gives the value a full sort would put at that position.
  std::nth_element(ordered.begin(), ordered.begin() + position, ordered.end(), lessNaNLast);
  return ordered[position];
}

double resultsClass::CI95Low(int column) const {
  return orderedValue(column, false);
}

double resultsClass::CI95High(int column) const {
  return orderedValue(column, true);
}

bool resultsClass::saveToFile(Platform& platform) const {
  const auto path = platform.chooseFileToSave("resultsFile.txt", "TEXT");
  if (!path) return false;
  std::ofstream file(*path, std::ios::binary | std::ios::trunc);
  if (!file) return false;
  if (static_cast<int>(columnTitles_.size()) - 1 == startColumns_) {
    for (int c = 1; c <= startColumns_; ++c) {
      if (c > 1) file << '\t';
      file << columnTitles_[c];
    }
    file << '\n';
  }
  std::string line;
  for (int r = 1; r <= currentRow_; ++r) {
    line.clear();
    for (int c = 1; c <= startColumns_; ++c) {
      if (c > 1) line += '\t';
      line += shortestText(cells_[index(r, c)]);
    }
    line += '\n';
    file << line;
  }
  file.close();
  return !file.fail();
}

}  // namespace zelk
