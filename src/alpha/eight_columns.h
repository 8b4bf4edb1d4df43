#pragma once
// The column layout shared by the alpha estimators and the neutrality index: per gene
// Dn, sites, Pn, sites, Ds, sites, Ps, sites in columns 1 to 8.

#include "shell/matrix.h"
#include "shell/run_context.h"

namespace zelk {

enum EightColumn : int {
  kDn = 1,
  kLnD = 2,
  kPn = 3,
  kLnP = 4,
  kDs = 5,
  kLsD = 6,
  kPs = 7,
  kLsP = 8,
};

// The site count given to every gene of a short table.
inline constexpr double kShortFormSites = 1000.0;

// Widens a short table (Dn, Pn, Ds, Ps in columns 1 to 4) to the eight-column layout with
// every site count 1000; a table of eight or more columns is left as it is. A table of fewer
// than four numeric columns cannot be read this way: it is refused (the message names the
// dataset) and the result is false.
bool widenToEightColumns(Matrix& matrix, RunContext& context);

}  // namespace zelk
