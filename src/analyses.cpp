#include "analyses.h"

#include "alpha/registry.h"

namespace zelk {

const std::vector<AnalysisInfo>& allAnalyses() {
  static const std::vector<AnalysisInfo> analyses = [] {
    std::vector<AnalysisInfo> all = alphaAnalyses();
    return all;
  }();
  return analyses;
}

const AnalysisInfo* findAnalysis(std::string_view command) {
  for (const auto& analysis : allAnalyses()) {
    if (analysis.command == command) return &analysis;
  }
  return nullptr;
}

}  // namespace zelk
