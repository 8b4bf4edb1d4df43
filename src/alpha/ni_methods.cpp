#include "alpha/ni_methods.h"

#include <cmath>
#include <string>

#include "alpha/eight_columns.h"
#include "alpha/gene_bootstrap.h"
#include "common/numbers.h"
#include "stats/special_function.h"

namespace zelk {
namespace {

enum Term : std::size_t { tA, tB, tLnD, tLnP, tLsD, tLsP };

}  // namespace

std::vector<OptionSpec> NImethods::options() {
  return {
      {.field = "bootstrapEditField",
       .controlName = "bootstrapEditField",
       .caption = "No. of bootstraps",
       .group = "No. of bootstraps",
       .kind = OptionKind::Integer,
       .defaultText = "1000",
       .choices = {},
       .flag = "bootstraps",
       .help = "number of bootstrap replicates over genes"},
      {.field = "analysisType",
       .controlName = "GroupBox2",
       .caption = "Calculation method",
       .group = "Calculation method",
       .kind = OptionKind::Choice,
       .defaultText = "TG",
       .choices = {{"TGRadioButton", "Tarone-Greenland", "TG", "tg"},
                   {"MHRadioButton", "Mantel-Haenszel", "MH", "mh"}},
       .flag = "method",
       .help = "how the per-gene terms are weighted"},
      {.field = "testHomogeneity",
       .controlName = "GroupBox3",
       .caption = "Test for Homogeneity",
       .group = "Test for Homogeneity",
       .kind = OptionKind::Choice,
       .defaultText = "yes",
       .choices = {{"yesHomogeneityButton", "Yes", "yes", "yes"},
                   {"noHomogeneityButton", "No", "no", "no"}},
       .flag = "homogeneity",
       .help = "test the homogeneity of the per-gene odds ratios"},
  };
}

GeneTerms NImethods::termsOf(const Matrix& matrix, int gene) const {
  GeneTerms terms;
  const double* r = matrix.row(gene);
  if (!(r[kLnD] > 0 && r[kLnP] > 0 && r[kLsD] > 0 && r[kLsP] > 0)) return terms;
  double n = 0;
  if (analysisType == "TG") {
    n = r[kDs] + r[kPs];
  } else if (analysisType == "MH") {
    n = r[kDn] + r[kPn] + r[kDs] + r[kPs];
  } else {
    return terms;
  }
  if (!(n > 0)) return terms;
  terms.v = {r[kDs] * r[kPn] / n, r[kDn] * r[kPs] / n, r[kLnD], r[kLnP], r[kLsD], r[kLsP], 0, 0};
  return terms;
}

double NImethods::indexFromSums(const GeneTerms& sums) {
  const auto& s = sums.v;
  if (!(s[tB] > 0)) return kUndefined;
  return s[tA] / s[tB] *
         std::exp(std::log(s[tLnD]) + std::log(s[tLsP]) - std::log(s[tLnP]) - std::log(s[tLsD]));
}

double NImethods::calculateNI(const Matrix& matrix) const {
  GeneTerms sums;
  for (int i = 1; i <= matrix.rows(); ++i) addTerms(sums, termsOf(matrix, i));
  return indexFromSums(sums);
}

bool NImethods::editData(Matrix& matrix, RunContext& context) {
  return widenToEightColumns(matrix, context);
}

double NImethods::homogeneityTest(const Matrix& matrix, Platform* platform) {
  const int genes = matrix.rows();
  std::vector<double> y(static_cast<std::size_t>(genes) + 1);
  std::vector<double> w(static_cast<std::size_t>(genes) + 1);
  double sumW = 0;
  double sumWY = 0;
  for (int i = 1; i <= genes; ++i) {
    const double* r = matrix.row(i);
    const double dn = r[kDn] + 0.5;
    const double pn = r[kPn] + 0.5;
    const double ds = r[kDs] + 0.5;
    const double ps = r[kPs] + 0.5;
    const auto k = static_cast<std::size_t>(i);
    y[k] = std::log((dn * ps) / (pn * ds));
    w[k] = 1 / (1 / dn + 1 / pn + 1 / ds + 1 / ps);
    sumW += w[k];
    sumWY += w[k] * y[k];
  }
  const double mean = sumWY / sumW;
  double x = 0;
  for (std::size_t k = 1; k < y.size(); ++k) x += w[k] * (y[k] - mean) * (y[k] - mean);
  return specialFunctionClass(platform).CDFchiSquareDistribution(x, genes - 1);
}

void NImethods::run(RunContext& context, const OptionValues& values) {
  const std::string& replicateText = values.text("bootstrapEditField");
  const double requested = std::trunc(leadingNumber(replicateText));
  if (requested < 0 || requested > kMostReplicates) {
    context.refuse("No. of bootstraps: \"" + replicateText +
                   "\" is not a usable number of replicates; enter a whole number from 0 to " +
                   std::to_string(kMostReplicates));
    return;
  }
  const auto replicateCount = static_cast<int>(requested);
  analysisType = values.text("analysisType");
  testHomogeneity = values.is("testHomogeneity", "yes");

  resultsWindow& out = context.results;
  Zelk& dataWindow = context.dataWindow;
  out.autoTabulate = false;
  dataWindow.startAnalysis = true;
  if (analysisType == "TG") out.writeLn("Method of Tarone and Greenland");
  if (analysisType == "MH") out.writeLn("Method of Mantel and Haenszel");
  out.writeLn();

  std::string description;
  Matrix matrix;
  while (dataWindow.getData(description, matrix)) {
    if (!editData(matrix, context)) continue;
    context.progress.start("Analysis running...", 0);
    out.write(description);
    const std::int32_t genes = matrix.rows();
    const double index = calculateNI(matrix);
    if (index == kUndefined) {
      out.write("\t", "n = ", genes, "   NI is undefined");
    } else {
      out.write("\t", "n = ", genes, "   NI = ", index);
      const BootstrapLine line{replicateCount, kUndefined, "  SE and CIs are undefined"};
      if (!bootstrapAndReport(
              context, matrix, line, [&](int gene) { return termsOf(matrix, gene); },
              indexFromSums)) {
        return;
      }
      if (testHomogeneity) {
        out.writeLn("\t", "Homogeneity p-value : ", homogeneityTest(matrix, &context.platform));
      }
    }
    context.progress.finish();
    out.writeLn();
  }
}

}  // namespace zelk
