#pragma once
// The likelihood of the models of the distribution of fitness effects (DFE) and its fast
// evaluation inside the Metropolis sampler.
//
// Each gene's log-likelihood is a sum of Poisson log-probabilities of its polymorphism
// counts per frequency class (and, for the models with divergence, of its substitution
// counts), whose means are read from the lookup table at the grid point nearest to the
// shared shape and the gene's mean selection strength. With ln of a mean split into the
// logarithms of its factors, a gene's polymorphism part becomes
//
//   -N u (Ln W + Ls V) + ln(N u) C + Sum_f c_f ln r_f + Sum_f Pn_f ln e_f + const,
//
// where e_f is the table entry of class f at the gene's grid point, W = Sum_f r_f e_f,
// V = Sum_f r_f E0_f, C the gene's total count and c_f its count in class f. The table's
// logarithms are taken once per dataset, the gene's constant (its log-factorials and site
// logarithms) once per dataset, W and the dot products once per change of grid point, and
// a change of one class weight moves W and the weight term by that class's share alone.
// Values agree with the term-by-term sum to rounding, and are not-a-number or minus
// infinity in the same cases (a zero or missing table entry).

#include <cstdint>
#include <memory>
#include <vector>

#include "dfe/dfe_tables.h"
#include "shell/matrix.h"

namespace zelk::dfe {

class GeneTeam;

enum class Model {
  RPPQ,              // polymorphism only
  RPM,               // polymorphism and divergence, with alpha or omegaA
  AdaptiveStrength,  // a class of advantageous mutations of one strength
};

struct ModelSettings {
  Model model = Model::RPPQ;
  bool includeSingletons = true;
  bool includePolymorphism = false;
  bool estimateAlpha = true;
};

// Positions of the parameter vector, counted from 1, for G genes and k classes: gene g's
// size factor N_g at 2g - 1 and rate factor u_g at 2g; class f's weight at rOffset + f
// (f = 2..k); then the shared parameters. Absent parameters are at position 0.
struct ParameterLayout {
  std::int32_t genes = 0;
  std::int32_t classes = 0;
  std::int32_t count = 0;       // noOfParameters
  std::int32_t rOffset = 0;     // 2G - 1
  std::int32_t meanS = 0;       // S-bar
  std::int32_t shape = 0;       // beta
  std::int32_t adaptive = 0;    // A: alpha or omegaA
  std::int32_t divergence = 0;  // T
  std::int32_t proportion = 0;  // Pa
  std::int32_t strength = 0;    // Sa

  static ParameterLayout of(Model model, std::int32_t genes, std::int32_t classes);
  bool isGenePosition(std::int32_t p) const { return p <= 2 * genes; }
  static std::int32_t geneOf(std::int32_t p) { return (p - 1) / 2 + 1; }
};

// ln(i!) for the whole part i of a count: from a table built by summing logarithms, up to
// the largest count of the dataset or a million, and from the log-gamma function beyond.
class LogFactorials {
 public:
  static constexpr double kMostTabled = 1000000;
  void build(double largestCount);
  double operator()(double count) const;
  std::size_t tabled() const { return table_.size(); }

 private:
  std::vector<double> table_;
};

// The columns of the dataset matrix (1-based) for k classes and U columns.
struct DatasetColumns {
  std::int32_t classes = 0;  // k
  std::int32_t width = 0;    // U
  static constexpr std::int32_t kLn = 2;
  std::int32_t pn(std::int32_t f) const { return 2 + f; }
  std::int32_t ls() const { return classes + 3; }
  std::int32_t ps(std::int32_t f) const { return classes + 3 + f; }
  std::int32_t lnd() const { return width - 3; }
  std::int32_t dn() const { return width - 2; }
  std::int32_t lsd() const { return width - 1; }
  std::int32_t ds() const { return width; }
};

class DfeLikelihood {
 public:
  // The tables and log-factorials must outlive the object; the dataset is copied in.
  DfeLikelihood(const ModelSettings& settings, const Matrix& data, std::int32_t classes,
                const DfeTables& tables, const LogFactorials& logFact);
  ~DfeLikelihood();
  DfeLikelihood(const DfeLikelihood&) = delete;
  DfeLikelihood& operator=(const DfeLikelihood&) = delete;

  const ParameterLayout& layout() const { return layout_; }

  // The log-likelihood of the gene that owns position p, at the given parameters (1-based).
  double geneLogLikelihood(std::int32_t p, const std::vector<double>& parameters) const;

  // The sampler's interface. start() takes the parameter vector and evaluates every gene;
  // propose() evaluates the vector with position p set to x and returns the candidate
  // log-likelihood of the gene that owns p (a gene position) or the sum over all genes (a
  // shared position); accept() makes the last candidate current. A proposal that is not
  // accepted is dropped by the next one.
  void start(const std::vector<double>& parameters);
  double propose(std::int32_t p, double x);
  void accept();
  const std::vector<double>& parameters() const { return parameters_; }
  double geneValue(std::int32_t g) const;
  // The sum of the genes' current log-likelihoods, in gene order.
  double total() const;
  // Shared proposals evaluate the genes on the team's threads (nullptr: on this thread).
  void setTeam(GeneTeam* team) { team_ = team; }

 private:
  struct Shared;
  struct Gene;
  struct GeneState;
  struct Change;

  void buildShared(const std::vector<double>& parameters, Shared& shared) const;
  GeneState geneState(std::int32_t g, const std::vector<double>& parameters) const;
  // Sets shared position p to x and says what the change touches.
  Change apply(std::int32_t p, double x, Shared& shared) const;
  // Re-evaluates gene g in place: `state` holds the gene's factors and its cached sums.
  void evaluate(std::int32_t g, const Shared& shared, const Change& change, GeneState& state) const;
  void sums(std::int32_t g, const Shared& shared, GeneState& state) const;
  double mixture(const Shared& shared, std::int32_t cell, std::int32_t a, std::int32_t c) const;
  double divergencePart(const Gene& gene, const Shared& shared, const GeneState& state) const;

  ModelSettings settings_;
  ParameterLayout layout_;
  const DfeTables& tables_;
  std::int32_t first_ = 1;    // the first class in the likelihood
  std::int32_t counted_ = 0;  // classes in the likelihood
  // The table by grid point, classes adjacent: (cell * counted_ + c), cell = (b-1) M + m-1.
  std::vector<double> ePn_;
  std::vector<double> lnEPn_;
  std::vector<double> eDn_, lnEDn_, eHn_;
  std::vector<double> ePa_;      // (a - 1) * counted_ + c
  std::vector<double> ePaLast_;  // ePaLookUpTable(k, a) by a - 1
  std::vector<Gene> genes_;
  std::vector<double> pn_;     // gene g's Pn of class first_ + c at (g - 1) * counted_ + c
  std::vector<double> count_;  // Pn + Ps, likewise

  std::vector<double> parameters_;
  std::unique_ptr<Shared> shared_;
  std::unique_ptr<Shared> candidateShared_;
  std::vector<GeneState> state_;
  std::vector<GeneState> candidates_;
  std::unique_ptr<GeneState> geneCandidate_;
  std::int32_t proposed_ = 0;  // the position of the pending proposal (0: none)
  double proposedValue_ = 0.0;
  bool sharedPending_ = false;  // the pending proposal is of a shared position
  bool pendingChangesGenes_ = false;
  mutable double total_ = 0.0;
  mutable bool totalValid_ = false;
  GeneTeam* team_ = nullptr;
};

}  // namespace zelk::dfe
