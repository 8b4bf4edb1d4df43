#include "alpha/eight_columns.h"

#include <string>

namespace zelk {

bool widenToEightColumns(Matrix& matrix, RunContext& context) {
  const int columns = matrix.cols();
  if (columns >= 8) return true;
  if (columns < 4) {
    context.refuse(context.dataWindow.datasetLocation() + " has " + std::to_string(columns) +
                   (columns == 1 ? " numeric column" : " numeric columns") +
                   "; this analysis reads Dn, Pn, Ds, Ps from four columns, or the eight-column "
                   "layout Dn, sites, Pn, sites, Ds, sites, Ps, sites");
    return false;
  }
  const int genes = matrix.rows();
  Matrix wide(genes, 8);
  for (int i = 1; i <= genes; ++i) {
    wide(i, kDn) = matrix(i, 1);
    wide(i, kPn) = matrix(i, 2);
    wide(i, kDs) = matrix(i, 3);
    wide(i, kPs) = matrix(i, 4);
    wide(i, kLnD) = wide(i, kLnP) = wide(i, kLsD) = wide(i, kLsP) = kShortFormSites;
  }
  matrix = std::move(wide);
  return true;
}

}  // namespace zelk
