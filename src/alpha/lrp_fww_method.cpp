#include "alpha/lrp_fww_method.h"

#include <algorithm>

#include "alpha/eight_columns.h"
#include "shell/bootstrap.h"
#include "stats/results_class.h"

namespace zelk {
namespace {

// Positions in GeneTerms::v.
enum Term : std::size_t {
  tDn,
  tLnD,
  tPn,
  tLnP,
  tDs,
  tLsD,
  tPs,
  tLsP,
  tPnOverPs1,  // Pn / (Ps + 1)
  tRateDn,     // Dn / LnD
  tRatePn,     // Pn / LnP
  tRateDs,     // Ds / LsD
  tRatePs,     // Ps / LsP
  tIncluded,   // 1 for a gene that takes part
  kTermCount,
};

using Sums = std::array<double, kTermCount>;

void add(Sums& sums, const LRPFWWMethod::GeneTerms& terms) {
  for (std::size_t k = 0; k < kTermCount; ++k) sums[k] += terms.v[k];
}

double alphaFromSums(std::string_view code, const Sums& s) {
  constexpr double undefined = LRPFWWMethod::kUndefined;
  if (code == "LRP") {
    if (!(s[tDn] > 0 && s[tLsD] > 0 && s[tLnP] > 0)) return undefined;
    const double m = s[tPnOverPs1] / s[tIncluded];
    return 1 - m * (s[tLnD] * s[tDs]) / (s[tDn] * s[tLsD]) * s[tLsP] / s[tLnP];
  }
  if (code == "FWW") {
    if (!(s[tDn] > 0 && s[tPs] > 0 && s[tLsD] > 0 && s[tLnP] > 0)) return undefined;
    return 1 - (s[tLsP] * s[tLnD] * s[tDs] * s[tPn]) / (s[tLsD] * s[tDn] * s[tPs] * s[tLnP]);
  }
  if (code == "FWWuw") {
    if (!(s[tRateDn] > 0 && s[tRatePs] > 0)) return undefined;
    return 1 - (s[tRateDs] * s[tRatePn]) / (s[tRatePs] * s[tRateDn]);
  }
  return 0;
}

std::string_view titleOf(std::string_view code) {
  if (code == "LRP") return "Method of Larkwell and Rensley-Pike (2002) Nature";
  if (code == "FWW") return "Method of Fay, Wycoff and Wu (2001) Genetics";
  if (code == "FWWuw") return "Unweighted version of Fay, Wycoff and Wu (2001) Genetics";
  return {};
}

}  // namespace

LRPFWWMethod::GeneTerms LRPFWWMethod::termsOf(const Matrix& matrix, int gene) {
  GeneTerms terms;
  const double* r = matrix.row(gene);
  // A gene takes part only when all four of its site counts are positive.
  if (!(r[kLnD] > 0 && r[kLnP] > 0 && r[kLsD] > 0 && r[kLsP] > 0)) return terms;
  auto& v = terms.v;
  v[tDn] = r[kDn];
  v[tLnD] = r[kLnD];
  v[tPn] = r[kPn];
  v[tLnP] = r[kLnP];
  v[tDs] = r[kDs];
  v[tLsD] = r[kLsD];
  v[tPs] = r[kPs];
  v[tLsP] = r[kLsP];
  v[tPnOverPs1] = r[kPn] / (r[kPs] + 1);
  v[tRateDn] = r[kDn] / r[kLnD];
  v[tRatePn] = r[kPn] / r[kLnP];
  v[tRateDs] = r[kDs] / r[kLsD];
  v[tRatePs] = r[kPs] / r[kLsP];
  v[tIncluded] = 1;
  return terms;
}

double LRPFWWMethod::calculateAlpha(std::string_view code, const Matrix& matrix) {
  Sums sums{};
  for (int i = 1; i <= matrix.rows(); ++i) add(sums, termsOf(matrix, i));
  return alphaFromSums(code, sums);
}

double LRPFWWMethod::replicateAlpha(std::string_view code, const std::vector<GeneTerms>& terms,
                                    std::mt19937_64& generator) {
  const int genes = static_cast<int>(terms.size()) - 1;
  IndexDraw draw(genes);
  Sums sums{};
  for (int i = 1; i <= genes; ++i) add(sums, terms[static_cast<std::size_t>(draw(generator))]);
  return alphaFromSums(code, sums);
}

bool LRPFWWMethod::editData(Matrix& matrix, std::string_view code, RunContext& context) {
  if (matrix.cols() >= 8) return true;
  if (code == "FWWuw") {
    context.refuse("Error : can't do an unweighted analysis without the number of sites");
    return false;
  }
  return widenToEightColumns(matrix, context);
}

void LRPFWWMethod::run(std::string_view code, RunContext& context) {
  resultsWindow& out = context.results;
  Zelk& dataWindow = context.dataWindow;
  out.autoTabulate = false;
  dataWindow.startAnalysis = true;
  if (const auto title = titleOf(code); !title.empty()) out.writeLn(title);
  out.writeLn();

  std::string description;
  Matrix matrix;
  std::vector<GeneTerms> terms;
  while (dataWindow.getData(description, matrix)) {
    if (!editData(matrix, code, context)) continue;
    context.progress.start("Analysis running...", 0);
    out.write(description);
    const std::int32_t genes = matrix.rows();
    const double alpha = calculateAlpha(code, matrix);
    if (alpha == kUndefined) {
      out.writeLn("\t", "n = ", genes, "    No polymorphism data; alpha is undefined");
    } else {
      out.writeLn("\t", "n = ", genes, "   alpha= ", alpha);
      terms.assign(static_cast<std::size_t>(genes) + 1, GeneTerms{});
      for (int i = 1; i <= genes; ++i) terms[static_cast<std::size_t>(i)] = termsOf(matrix, i);
      const std::vector<double> replicates =
          runReplicates(kReplicates, genes, dataWindow.generator(), context.platform,
                        [&](std::mt19937_64& g) { return replicateAlpha(code, terms, g); });
      if (context.platform.cancelled()) {
        context.progress.finish();
        out.writeLn("  Cancelled before the bootstrap finished");
        return;
      }
      resultsClass summary;
      summary.initialise(kReplicates, 1);
      bool undefined = false;
      for (const double a : replicates) {
        if (a == kUndefined) {
          undefined = true;
        } else {
          summary.append(a);
        }
      }
      if (undefined) {
        out.writeLn("  SE and CIs = undefined");
      } else {
        out.writeLn("  SE = ", summary.standardDeviation(1), "\t", "CIs = ", summary.CI95Low(1),
                    " to ", summary.CI95High(1));
      }
    }
    context.progress.finish();
    out.writeLn();
  }
}

}  // namespace zelk
