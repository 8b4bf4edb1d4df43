#pragma once
// The analyses of adaptive substitution and neutrality, as the front ends list them.

#include <vector>

#include "shell/run_context.h"

namespace zelk {

std::vector<AnalysisInfo> alphaAnalyses();

}  // namespace zelk
