#pragma once
// Tables and datasets for the DFE tests: small tables with smooth made-up values (the
// likelihood does not care where they came from), and datasets simulated from a table at
// known parameters with a fixed seed.

#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "dfe/dfe_likelihood.h"
#include "dfe/dfe_tables.h"
#include "shell/generator.h"
#include "shell/matrix.h"
#include "tablegen/lookup_table.h"

namespace zelk::testing {

// A core-layout table of k classes for sample size n over B shapes from 0.05 in steps of
// 0.05 and M means from ln 10 in steps of ln 10 / 4, with smooth made-up values.
inline tablegen::LookupTable madeUpLookupTable(std::int32_t k, std::int32_t n, std::int32_t B,
                                               std::int32_t M) {
  tablegen::LookupTable table;
  table.sampleSize = n;
  for (std::int32_t f = 1; f <= k; ++f)
    table.classes.push_back({f, f, std::to_string(f), std::to_string(f)});
  table.beta = {0.05, 0.05, B};
  table.logMeanS = {std::log(10.0), std::log(10.0) / 4, M};
  table.allocate();
  for (std::int32_t f = 0; f < k; ++f) {
    table.neutral[static_cast<std::size_t>(f)] = 1.0 / (f + 1) + 0.1;
    for (std::int32_t j = 0; j < B; ++j)
      for (std::int32_t l = 0; l < M; ++l)
        table.ePn(f, j, l) =
            (1.0 / (f + 1) + 0.1) * std::exp(-0.3 * (l + 1) / (j + 2.0)) + 0.01 * (f + 1);
  }
  for (std::int32_t j = 0; j < B; ++j) {
    for (std::int32_t l = 0; l < M; ++l) {
      const auto cell =
          static_cast<std::size_t>(j) * static_cast<std::size_t>(M) + static_cast<std::size_t>(l);
      table.divergence[cell] = 0.05 + 0.9 / (1 + 0.2 * (l + 1) * (j + 1));
      table.heterozygosity[cell] = 0.1 + 0.8 / (1 + 0.1 * (l + 1) + 0.05 * (j + 1));
    }
  }
  return table;
}

// The same values in memory, with `adaptive` columns of the extended layout when nonzero
// (the file of that layout holds one class more than the likelihood uses).
inline dfe::DfeTables madeUpTables(std::int32_t k, std::int32_t B, std::int32_t M,
                                   std::int32_t adaptive = 0) {
  const std::int32_t K = adaptive > 0 ? k + 1 : k;
  dfe::DfeTables t = dfe::fromCoreLayout(madeUpLookupTable(K, 2 * k + 1, B, M));
  if (adaptive > 0) {
    t.logSaMin = 0.0;
    t.logSaMax = std::log(1000.0);
    t.logSaStepSize = std::log(1000.0) / adaptive;
    t.logSaSteps = adaptive + 0.5;  // used as a number: columns are its whole part
    t.ePaLookUpTable.resize(K, adaptive);
    for (std::int32_t f = 1; f <= K; ++f)
      for (std::int32_t a = 1; a <= adaptive; ++a) t.ePaLookUpTable(f, a) = 0.5 / f + 0.02 * a;
    t.eDaLookUptable.assign(static_cast<std::size_t>(adaptive) + 1, 1.0);
  }
  return t;
}

// The text of a table in the extended layout with the values of madeUpTables.
inline std::string extendedTableText(std::int32_t k, std::int32_t B, std::int32_t M,
                                     std::int32_t adaptive) {
  const dfe::DfeTables t = madeUpTables(k, B, M, adaptive);
  const std::int32_t K = k + 1;
  std::ostringstream out;
  out.precision(17);
  out << "extended table\nmade up for tests\n";
  for (std::int32_t f = 1; f <= K; ++f)
    out << '\t' << t.ePsLookUpTable[static_cast<std::size_t>(f)];
  out << '\n' << t.betaMin << '\t' << B << '\t' << t.betaStep << "\tBeta\n";
  out << t.logMeanSMin << '\t' << M << '\t' << t.logMeanSStep << "\tLogMeanS\n";
  for (std::int32_t f = 1; f <= K; ++f) {
    out << '\n';
    for (std::int32_t b = 1; b <= B; ++b) {
      for (std::int32_t m = 1; m <= M; ++m) out << '\t' << t.ePnLookUpTable(f, b, m);
      out << '\n';
    }
  }
  for (std::int32_t b = 1; b <= B; ++b) {
    for (std::int32_t m = 1; m <= M; ++m) out << '\t' << t.eDnLookUpTable(b, m);
    out << '\n';
  }
  out << "adaptive grid\n";
  out << t.logSaMin << '\t' << t.logSaMax << '\t' << t.logSaStepSize << '\t' << t.logSaSteps
      << '\n';
  for (std::int32_t f = 1; f <= K; ++f) {
    for (std::int32_t a = 1; a <= adaptive; ++a) out << '\t' << t.ePaLookUpTable(f, a);
    out << '\n';
  }
  out << "adaptive divergence\n";
  for (std::int32_t a = 1; a <= adaptive; ++a)
    out << '\t' << t.eDaLookUptable[static_cast<std::size_t>(a)];
  out << '\n';
  return out.str();
}

// A Poisson draw: by multiplying uniforms for small means, by a rounded normal for large
// ones (ample for test data).
inline double poissonDraw(Generator& random, double mean) {
  if (mean < 40) {
    const double limit = std::exp(-mean);
    double product = random.uniform();
    double count = 0;
    while (product > limit) {
      product *= random.uniform();
      ++count;
    }
    return count;
  }
  const double z = std::sqrt(-2 * std::log(1 - random.uniform())) *
                   std::cos(6.283185307179586 * random.uniform());
  return std::fmax(0.0, std::round(mean + std::sqrt(mean) * z));
}

// The truth a dataset is simulated from: every gene at the table's grid point nearest to
// beta and the mean, with neutral diversity theta per site.
struct SimulatedTruth {
  double beta = 0.2;
  double meanS = 1000;
  double theta = 0.01;    // N u per site
  double alpha = 0.3;     // with divergence
  double divergence = 5;  // T / N: substitutions per site per unit of theta
  double proportion = 0;  // Pa, with the adaptive class
  double strength = 10;   // Sa N, with the adaptive class
};

// A dataset of G genes for k classes (sample size n), with divergence columns when the
// model has them. Site counts vary between genes.
inline Matrix simulateGenes(const dfe::DfeTables& tables, dfe::Model model, std::int32_t G,
                            std::int32_t k, std::int32_t n, const SimulatedTruth& truth,
                            std::uint64_t seed, double sitesScale = 1) {
  Generator random(seed);
  const bool divergence = model != dfe::Model::RPPQ;
  const std::int32_t U = 2 * k + 3 + (divergence ? 4 : 0);
  Matrix genes(G, U);
  const auto b =
      static_cast<std::int32_t>(std::round((truth.beta - tables.betaMin) / tables.betaStep)) + 1;
  const auto m = static_cast<std::int32_t>(std::round((std::log(truth.meanS) - tables.logMeanSMin) /
                                                      tables.logMeanSStep)) +
                 1;
  for (std::int32_t g = 1; g <= G; ++g) {
    const double ln = std::round((500 + 2500 * random.uniform()) * sitesScale);
    const double ls = std::round(ln / 3);
    genes(g, 1) = n;
    genes(g, 2) = ln;
    genes(g, k + 3) = ls;
    for (std::int32_t f = 1; f <= k; ++f) {
      genes(g, 2 + f) = poissonDraw(random, truth.theta * ln * tables.ePnLookUpTable(f, b, m));
      genes(g, k + 3 + f) = poissonDraw(
          random, truth.theta * ls * tables.ePsLookUpTable[static_cast<std::size_t>(f)]);
    }
    if (divergence) {
      const double rate = truth.divergence * truth.theta;
      genes(g, U - 3) = ln;
      genes(g, U - 2) =
          poissonDraw(random, ln * rate * tables.eDnLookUpTable(b, m) / (1 - truth.alpha));
      genes(g, U - 1) = ls;
      genes(g, U) = poissonDraw(random, ls * rate);
    }
  }
  return genes;
}

// The genes as a dataset file: a header line, then one named row per gene.
inline std::string datasetText(const Matrix& genes) {
  std::ostringstream out;
  out << "gene";
  for (int j = 1; j <= genes.cols(); ++j) out << "\tc" << j;
  out << '\n';
  for (int i = 1; i <= genes.rows(); ++i) {
    out << 'g' << i;
    for (int j = 1; j <= genes.cols(); ++j) out << '\t' << genes(i, j);
    out << '\n';
  }
  return out.str();
}

}  // namespace zelk::testing
