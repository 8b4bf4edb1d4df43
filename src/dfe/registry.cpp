#include "dfe/registry.h"

#include "dfe/adaptive_strength.h"
#include "dfe/dfe_methods.h"

namespace zelk {
namespace {

// The lookup table answers every table dialog of a run; the sample table answers the
// dialog that saves the samples of a single-dataset file.
constexpr const char* kCoreTable =
    "the lookup table (written by vorrel) for the dataset's sample size and classes";
constexpr const char* kExtendedTable =
    "the lookup table in the extended layout, with the adaptive grid, for the dataset's "
    "sample size";

std::vector<FileFlag> tableFlags(const char* table) {
  return {{.flag = "table", .dialog = "Select a lookup table", .save = false, .help = table},
          {.flag = "samples",
           .dialog = "resultsFile.txt",
           .save = true,
           .help = "save the MCMC samples of a single-dataset file to FILE, tab-separated "
                   "with a header (default: not saved)"}};
}

}  // namespace

std::vector<AnalysisInfo> dfeAnalyses() {
  return {
      {.command = "rpm",
       .menuItem = "AdaptiveMoffreyandRP",
       .menu = "Adaptive",
       .caption = "RP and Moffrey",
       .dialog = "DFE methods",
       .summary = "the distribution of fitness effects with alpha or omegaA from divergence, "
                  "by MCMC over a lookup table",
       .options = dfe::DFEmethods::options("RPM"),
       .files = tableFlags(kCoreTable),
       .run = [](RunContext& context,
                 const OptionValues& values) { dfe::DFEmethods("RPM").run(context, values); }},
      {.command = "adaptive-strength",
       .menuItem = "AdaptiveAdaptivestrength",
       .menu = "Adaptive",
       .caption = "Adaptive strength",
       .dialog = "DFE methods",
       .summary = "the distribution of fitness effects with a class of advantageous mutations, "
                  "by MCMC over an extended lookup table",
       .options = dfe::AdaptiveStrength::options(),
       .files = tableFlags(kExtendedTable),
       .run = [](RunContext& context,
                 const OptionValues& values) { dfe::AdaptiveStrength().run(context, values); }},
      {.command = "rppq",
       .menuItem = "DeleteriousRPPenhaltandQuillon",
       .menu = "Deleterious",
       .caption = "RP, Penhalt, Quillon",
       .dialog = "DFE methods",
       .summary = "the distribution of fitness effects from polymorphism, by MCMC over a "
                  "lookup table",
       .options = dfe::DFEmethods::options("RPPQ"),
       .files = tableFlags(kCoreTable),
       .run = [](RunContext& context,
                 const OptionValues& values) { dfe::DFEmethods("RPPQ").run(context, values); }},
  };
}

}  // namespace zelk
