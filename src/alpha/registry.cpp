#include "alpha/registry.h"

#include <string>

#include "alpha/lrp_fww_method.h"
#include "alpha/ni_methods.h"

namespace zelk {
namespace {

AnalysisInfo simpleEstimator(std::string command, std::string menuItem, std::string caption,
                             std::string code, std::string summary) {
  return {.command = std::move(command),
          .menuItem = std::move(menuItem),
          .menu = "Adaptive",
          .caption = std::move(caption),
          .dialog = "",
          .summary = std::move(summary),
          .options = {},
          .files = {},
          .run = [code = std::move(code)](RunContext& context, const OptionValues&) {
            LRPFWWMethod().run(code, context);
          }};
}

}  // namespace

std::vector<AnalysisInfo> alphaAnalyses() {
  return {
      simpleEstimator("fww", "AdaptiveFayWycoffandWu", "Fay, Wycoff and Wu", "FWW",
                      "alpha from pooled counts and sites, with a gene bootstrap"),
      simpleEstimator("lrp", "AdaptiveLarkwellandRP", "Larkwell and RP", "LRP",
                      "alpha from divergence and the mean of Pn/(Ps + 1), with a gene bootstrap"),
      simpleEstimator("fwwuw", "AdaptiveFayWycoffandWuunweighted",
                      "Fay, Wycoff and Wu (unweighted)", "FWWuw",
                      "alpha from per-site rates summed over genes, with a gene bootstrap"),
      {.command = "neutrality-index",
       .menuItem = "OtherNeutralityindex",
       .menu = "Other",
       .caption = "Neutrality index",
       .dialog = "Neutrality index",
       .summary = "the neutrality index with a gene bootstrap and a homogeneity test",
       .options = NImethods::options(),
       .files = {},
       .run = [](RunContext& context,
                 const OptionValues& values) { NImethods().run(context, values); }},
  };
}

}  // namespace zelk
