#pragma once
// A growing table of replicate or sample records (bootstrap replicates, MCMC samples) with
// per-column summaries: mean, variance, standard deviation, standard error and 95% limits
// read from the ordered values. Records are filled value by value in column order.
//
// Rows 1.. hold records and columns 1..startColumns() the quantities; row 0 and column 0 are
// not used. The row being filled counts as a full row in every statistic (its missing values
// are 0), so n = currentRow(); before the first append n is 1. Statistics of a table without
// rows (never initialised) and of columns outside 1..startColumns() are -1.

#include <string>
#include <string_view>
#include <vector>

#include "common/platform.h"

namespace zelk {

class resultsClass {
 public:
  resultsClass() = default;

  // Prepares an empty table of `rows` rows (also the growth step) and `columns` columns.
  // `titles` is a comma-separated list; title k ends up at columnTitles()[k].
  void initialise(int rows, int columns, std::string_view titles);
  // The same without column titles.
  void initialise(int rows, int columns);

  // Stores the next value: the next column of the current record, or the first column of a
  // new record when the current one is full. The table grows by startRows() rows as needed.
  void append(double value);

  double mean(int column) const;
  // Sample variance (n - 1 in the denominator); not a number for a single record.
  double variance(int column) const;
  double standardDeviation(int column) const;
  double SD(int column) const { return standardDeviation(column); }
  // Standard error of the mean: square root of variance / n.
  double standardError(int column) const;
  double SE(int column) const { return standardError(column); }
  // 95% limits: the n values and an added 0 are sorted; the limits are the entries at
  // positions floor(0.025 n) and ceil(0.975 n) (counted from 0). Not-a-number values sort last.
  double CI95Low(int column) const;
  double CI95High(int column) const;

  // Asks for a file (suggested "resultsFile.txt", type "TEXT") and writes the records as
  // tab-separated lines, preceded by a header of the column titles when there is one title per
  // column. Returns true when the file was written; false when cancelled or on a file error.
  bool saveToFile(Platform& platform) const;

  // The table, for reading.
  int currentRow() const { return currentRow_; }
  int currentColumn() const { return currentColumn_; }
  int startRows() const { return startRows_; }
  int startColumns() const { return startColumns_; }
  // Upper row index of the table: startRows() after initialisation, grown in steps of
  // startRows() rows.
  int rowBound() const { return rowBound_; }
  // Index 0 holds an empty text; empty when no titles were given.
  const std::vector<std::string>& columnTitles() const { return columnTitles_; }
  // Cell (row, column) for 0 <= row <= rowBound() and 0 <= column <= startColumns() (cells
  // not yet filled are 0); not a number outside the table.
  double data(int row, int column) const;

 private:
  std::size_t index(int row, int column) const {
    return static_cast<std::size_t>(row) * stride_ + static_cast<std::size_t>(column);
  }
  bool validColumn(int column) const { return column >= 1 && column <= startColumns_; }
  // Makes rows 0..lastRow addressable, zero-filled; capacity grows geometrically.
  void ensureRows(int lastRow);
  // The lower (floor(0.025 n)) or upper (ceil(0.975 n)) entry of rows 1..n plus an added 0.
  double orderedValue(int column, bool upper) const;

  std::vector<double> cells_;  // rows 0.. of stride_ cells each
  std::size_t stride_ = 1;     // startColumns_ + 1
  int rowBound_ = -1;
  int currentRow_ = 0;
  int currentColumn_ = 0;
  int startRows_ = 0;
  int startColumns_ = 0;
  std::vector<std::string> columnTitles_;
};

}  // namespace zelk
