#pragma once
// The neutrality index by the method of Tarone and Greenland ("TG") or of Mantel and
// Haenszel ("MH"), corrected by the site totals, with a gene bootstrap and Woolf's test of
// the homogeneity of the per-gene odds ratios.

#include <string>
#include <vector>

#include "common/platform.h"
#include "shell/bootstrap.h"
#include "shell/matrix.h"
#include "common/options.h"
#include "shell/run_context.h"

namespace zelk {

class NImethods {
 public:
  // The index of an undefined NI; no real index is negative.
  static constexpr double kUndefined = -1.0;
  // More replicates than this are refused: their table would not fit in memory.
  static constexpr int kMostReplicates = 100'000'000;

  std::string analysisType = "TG";
  bool testHomogeneity = true;

  // The options record of the "Neutrality index" dialog.
  static std::vector<OptionSpec> options();

  // Runs over every dataset the data window hands out, with the dialog's settings.
  void run(RunContext& context, const OptionValues& values);

  double calculateNI(const Matrix& matrix) const;
  // Widens a short table; false (after a message) when the dataset cannot be read.
  static bool editData(Matrix& matrix, RunContext& context);
  // The p-value of the homogeneity test over every gene of the matrix.
  static double homogeneityTest(const Matrix& matrix, Platform* platform);

  // Per-gene terms of the index: Ds·Pn/n, Dn·Ps/n and the four site counts, all zero for a
  // gene that does not take part.
  GeneTerms termsOf(const Matrix& matrix, int gene) const;
  // The index from the sums of the genes' terms.
  static double indexFromSums(const GeneTerms& sums);
};

}  // namespace zelk
