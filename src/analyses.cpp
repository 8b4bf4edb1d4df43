#include "analyses.h"

#include "alpha/registry.h"
#include "dfe/registry.h"

namespace zelk {

const std::vector<AnalysisInfo>& allAnalyses() {
  // Each subsystem lists its own analyses; menu order is the order of these lists.
  static const std::vector<AnalysisInfo> analyses = [] {
    std::vector<AnalysisInfo> all = alphaAnalyses();
    for (auto& analysis : dfeAnalyses()) all.push_back(std::move(analysis));
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
