#include "dfe/adaptive_strength.h"

namespace zelk::dfe {

std::vector<OptionSpec> AdaptiveStrength::options() {
  std::vector<OptionSpec> record = DFEmethods::options("RPPQ");
  record.push_back({.field = kProportion,
                    .controlName = kProportion,
                    .caption = "Proportion",
                    .group = "Adaptive start values",
                    .kind = OptionKind::Number,
                    .defaultText = "0.01",
                    .choices = {},
                    .flag = "proportion",
                    .help = "start value of the proportion of advantageous mutations"});
  record.push_back({.field = kStrength,
                    .controlName = kStrength,
                    .caption = "Strength",
                    .group = "Adaptive start values",
                    .kind = OptionKind::Number,
                    .defaultText = "10",
                    .choices = {},
                    .flag = "strength",
                    .help = "start value of the adaptive selection strength"});
  for (const auto& option : DFEmethods::options("RPM")) {
    if (option.field == kIncludePolymorphism) record.push_back(option);
  }
  return record;
}

}  // namespace zelk::dfe
