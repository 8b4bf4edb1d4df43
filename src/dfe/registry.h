#pragma once
// The analyses of the distribution of fitness effects, as the front ends list them.

#include <vector>

#include "shell/run_context.h"

namespace zelk {

std::vector<AnalysisInfo> dfeAnalyses();

}  // namespace zelk
