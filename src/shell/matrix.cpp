#include "shell/matrix.h"

#include <algorithm>

namespace zelk {

void Matrix::resize(int rows, int cols) {
  rows_ = rows;
  cols_ = cols;
  cells_.assign(static_cast<std::size_t>(std::max(rows + 1, 0)) *
                    static_cast<std::size_t>(std::max(cols + 1, 0)),
                0.0);
}

void Matrix::resizeKeeping(int rows, int cols) {
  Matrix widened(rows, cols);
  for (int r = 0; r <= std::min(rows, rows_); ++r) {
    for (int c = 0; c <= std::min(cols, cols_); ++c) widened(r, c) = (*this)(r, c);
  }
  *this = std::move(widened);
}

}  // namespace zelk
