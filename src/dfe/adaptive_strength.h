#pragma once
// The model of the distribution of fitness effects with a class of advantageous mutations:
// a proportion Pa of new non-synonymous mutations is advantageous, all of one strength Sa,
// the rest gamma-distributed. Polymorphism and divergence are always fitted together, the
// number of frequency classes is the sample size less one, and the table is read in the
// extended layout, once for every dataset.

#include <string_view>
#include <vector>

#include "dfe/dfe_methods.h"

namespace zelk::dfe {

class AdaptiveStrength : public DFEmethods {
 public:
  AdaptiveStrength() : DFEmethods(Model::AdaptiveStrength) {}

  // The "DFE methods" dialog of this model: the adaptive start values replace alpha.
  static std::vector<OptionSpec> options();
};

}  // namespace zelk::dfe
