#include "alpha/lrp_fww_method.h"

#include "alpha/eight_columns.h"
#include "alpha/gene_bootstrap.h"

namespace zelk {
namespace {

// Positions of the terms each estimator sums.
namespace fww {
enum : std::size_t { Dn, LnD, Pn, LnP, Ds, LsD, Ps, LsP };
}
namespace lrp {
enum : std::size_t { Dn, LnD, LnP, Ds, LsD, LsP, PnOverPs1, Included };
}
namespace fwwuw {
enum : std::size_t { RateDn, RatePn, RateDs, RatePs };
}

std::string_view titleOf(std::string_view code) {
  if (code == "LRP") return "Method of Larkwell and Rensley-Pike (2002) Nature";
  if (code == "FWW") return "Method of Fay, Wycoff and Wu (2001) Genetics";
  if (code == "FWWuw") return "Unweighted version of Fay, Wycoff and Wu (2001) Genetics";
  return {};
}

}  // namespace

GeneTerms LRPFWWMethod::termsOf(std::string_view code, const Matrix& matrix, int gene) {
  GeneTerms terms;
  const double* r = matrix.row(gene);
  // A gene takes part only when all four of its site counts are positive.
  if (!(r[kLnD] > 0 && r[kLnP] > 0 && r[kLsD] > 0 && r[kLsP] > 0)) return terms;
  auto& v = terms.v;
  if (code == "FWW") {
    v = {r[kDn], r[kLnD], r[kPn], r[kLnP], r[kDs], r[kLsD], r[kPs], r[kLsP]};
  } else if (code == "LRP") {
    v = {r[kDn], r[kLnD], r[kLnP], r[kDs], r[kLsD], r[kLsP], r[kPn] / (r[kPs] + 1), 1};
  } else if (code == "FWWuw") {
    v = {r[kDn] / r[kLnD], r[kPn] / r[kLnP], r[kDs] / r[kLsD], r[kPs] / r[kLsP], 0, 0, 0, 0};
  }
  return terms;
}

double LRPFWWMethod::alphaFromSums(std::string_view code, const GeneTerms& sums) {
  const auto& s = sums.v;
  if (code == "LRP") {
    using namespace lrp;
    if (!(s[Dn] > 0 && s[LsD] > 0 && s[LnP] > 0)) return kUndefined;
    const double m = s[PnOverPs1] / s[Included];
    return 1 - m * (s[LnD] * s[Ds]) / (s[Dn] * s[LsD]) * s[LsP] / s[LnP];
  }
  if (code == "FWW") {
    using namespace fww;
    if (!(s[Dn] > 0 && s[Ps] > 0 && s[LsD] > 0 && s[LnP] > 0)) return kUndefined;
    return 1 - (s[LsP] * s[LnD] * s[Ds] * s[Pn]) / (s[LsD] * s[Dn] * s[Ps] * s[LnP]);
  }
  if (code == "FWWuw") {
    using namespace fwwuw;
    if (!(s[RateDn] > 0 && s[RatePs] > 0)) return kUndefined;
    return 1 - (s[RateDs] * s[RatePn]) / (s[RatePs] * s[RateDn]);
  }
  return 0;
}

double LRPFWWMethod::calculateAlpha(std::string_view code, const Matrix& matrix) {
  GeneTerms sums;
  for (int i = 1; i <= matrix.rows(); ++i) addTerms(sums, termsOf(code, matrix, i));
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
      const BootstrapLine line{kReplicates, kUndefined, "  SE and CIs = undefined"};
      if (!bootstrapAndReport(
              context, matrix, line, [&](int gene) { return termsOf(code, matrix, gene); },
              [&](const GeneTerms& sums) { return alphaFromSums(code, sums); })) {
        return;
      }
    }
    context.progress.finish();
    out.writeLn();
  }
}

}  // namespace zelk
