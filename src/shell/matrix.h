#pragma once
// A dataset matrix: rows 0..rows() and columns 0..cols(), stored contiguously row by row.
// Analyses use rows 1..G (genes) and columns 1..K (values); row 0 and column 0 carry nothing.

#include <cstddef>
#include <vector>

namespace zelk {

class Matrix {
 public:
  Matrix() = default;
  // A matrix with upper row bound `rows` and upper column bound `cols`, filled with zeros.
  Matrix(int rows, int cols) { resize(rows, cols); }

  // Upper bounds, as the analyses count them (G and K).
  int rows() const { return rows_; }
  int cols() const { return cols_; }

  // Resizes to the given upper bounds; every cell becomes 0.
  void resize(int rows, int cols);
  // Resizes to the given upper bounds keeping the values of the cells both shapes share.
  void resizeKeeping(int rows, int cols);

  double& operator()(int row, int col) { return cells_[index(row, col)]; }
  double operator()(int row, int col) const { return cells_[index(row, col)]; }

  // The cells of one row, columns 0..cols().
  const double* row(int r) const { return cells_.data() + index(r, 0); }
  double* row(int r) { return cells_.data() + index(r, 0); }

  bool operator==(const Matrix&) const = default;

 private:
  std::size_t index(int row, int col) const {
    return static_cast<std::size_t>(row) * static_cast<std::size_t>(cols_ + 1) +
           static_cast<std::size_t>(col);
  }

  int rows_ = -1;
  int cols_ = -1;
  std::vector<double> cells_;
};

}  // namespace zelk
