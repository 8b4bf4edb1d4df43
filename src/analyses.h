#pragma once
// Every analysis of the analysis program, in menu order, for the front ends.

#include <vector>

#include "shell/run_context.h"

namespace zelk {

const std::vector<AnalysisInfo>& allAnalyses();
const AnalysisInfo* findAnalysis(std::string_view command);

}  // namespace zelk
