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
// V = Sum_f r_f E0_f, C the gene's total count and c_f its count in class f. So:
//
// - The table's logarithms are taken once per dataset, and so is each gene's constant (its
//   log-factorials and site logarithms).
// - A gene keeps its grid point, W and Sum_f Pn_f ln e_f; they are recomputed when its
//   grid point changes.
// - The sampler only ever needs the change of the total log-likelihood. The weight term
//   Sum_f c_f ln r_f is therefore kept out of the genes' values (it cancels in every change
//   but a class weight's), and a class weight's change, or T's and A's with alpha and
//   without polymorphism, is computed from sums over the genes in O(1); the genes catch up
//   with the new values when next read.
// - A shared parameter re-evaluates only the genes whose values it moves (a shape that
//   stays on its grid row moves none, a mean only the genes whose column changes).
//
// Values agree with the term-by-term sum to rounding, and are not-a-number or minus
// infinity in the same cases (a zero or missing table entry).

#include <cmath>
#include <cstdint>
#include <limits>
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

// The Metropolis decision: a change of the log-likelihood is taken when it is positive or
// when ln v < change for the uniform draw v. Since 1 - 1/v <= ln v <= v - 1, the logarithm
// is taken only when these bounds (with a margin far above their rounding) do not settle
// it; the decision is the same either way.
inline bool metropolisTakes(double change, double v) {
  if (0 < change) return true;
  constexpr double kMargin = 1e-9;
  if (v - 1 + kMargin < change) return true;
  if (change < 1 - 1 / v - kMargin) return false;
  return std::log(v) < change;
}

// The sampler's step widths grow after an acceptance and shrink after a rejection.
inline void adaptStep(double& step, bool accepted) {
  if (accepted) {
    step /= 0.95;
  } else {
    step *= 0.95;
  }
}

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
  // propose() evaluates the vector with position p set to x and returns the change of the
  // total log-likelihood (of the gene that owns p, for a gene position): positive, zero or
  // negative as the candidate total is above, equal to or below the current one, minus
  // infinity or not a number as the difference of the two totals would be. accept() makes
  // the last candidate current; a proposal that is not accepted is dropped by the next one.
  void start(const std::vector<double>& parameters);
  double propose(std::int32_t p, double x);
  void accept();
  // What a sweep needs to propose and decide the gene positions of a step: the step's key
  // for the draws (StepDraws), and the limits and step widths by position (1-based).
  struct GeneMoves {
    std::uint64_t stepKey = 0;
    const std::vector<double>& lower;
    const std::vector<double>& upper;
    std::vector<double>& steps;
  };
  // The gene positions 1..2G in order, as propose and accept would take them, with the
  // genes spread over the team: each position's proposal (proposeValue) and the uniform
  // that decides it are its draws of the step, taken by the thread that decides it (a gene
  // position's proposal depends on nothing but its own value and step width). A position
  // whose limits are equal is skipped. Widths are adapted with adaptStep; each thread keeps
  // to its own genes' widths, so no two threads write next to each other.
  void sweepGenes(GeneMoves& moves);
  const std::vector<double>& parameters() const { return parameters_; }
  // A gene's current log-likelihood, and the sum over all genes in gene order.
  double geneValue(std::int32_t g) const;
  double total() const;
  // Shared proposals evaluate the genes on the team's threads (nullptr: on this thread).
  void setTeam(GeneTeam* team) { team_ = team; }

 private:
  struct Shared;
  struct Gene;
  struct GeneState;
  struct Change;
  struct Trial;

  void buildShared(const std::vector<double>& parameters, Shared& shared) const;
  GeneState geneState(std::int32_t g, const std::vector<double>& parameters) const;
  // Sets shared position p to x and says what the change touches.
  Change apply(std::int32_t p, double x, Shared& shared) const;
  // Re-evaluates gene g in place: `state` holds the gene's factors and its cached sums.
  void evaluate(std::int32_t g, const Shared& shared, const Change& change, GeneState& state) const;
  // W = Sum_f r_f e_f at a grid point (and adaptive column).
  double weighted(const Shared& shared, std::int32_t cell, std::int32_t a) const;
  // W at a grid point of the shape's row, from the row's values when they are kept (not
  // for the adaptive-class model).
  double weightedAt(const Shared& shared, std::int32_t cell, std::int32_t column) const;
  // Keeps W along the rows of the current shared parameters and of a candidate, before the
  // genes are evaluated on the team's threads (which only read them).
  void prepareRows(const Shared& current, const Shared* candidate);
  // The table's mean column of ln S, as DfeTables::columnOf gives it, by multiplying with
  // the step's inverse (the two differ only where a quotient lies within rounding of a
  // half).
  double columnOf(double logMeanS) const {
    const double m = roundToWhole((logMeanS - tables_.logMeanSMin) * inverseMeanStep_) + 1;
    return m < 1 ? 1 : m;
  }
  // W and the dot product with the log table at the gene's grid point.
  void sums(std::int32_t g, const Shared& shared, GeneState& state) const;
  // Sum_f Pn_f ln e_f of gene g at a grid point (not for the adaptive-class model).
  double dotAt(std::int32_t g, std::int32_t cell) const;
  // Brings gene k's cached values up to the current class weights and divergence factors.
  void refresh(std::size_t k) const;
  [[gnu::noinline]] void catchUp(std::size_t k) const;
  // The change of the total when no gene's value changes: 0, or not a number when some
  // gene's value is infinite or undefined (the totals are then equal infinities or
  // undefined).
  double unchanged() const {
    return nonFinite_ > 0 ? std::numeric_limits<double>::quiet_NaN() : 0.0;
  }
  // Sum_f c_f ln r_f.
  double weightTerm(std::int32_t g, const Shared& shared) const;
  // The parts of a gene's value, at a state (or anything with its factors, logarithms,
  // grid point and sums).
  template <class State>
  [[gnu::always_inline]] double polymorphismPart(const Gene& gene, const Shared& shared,
                                                 const State& state) const;
  // Evaluates position p of a gene at x into `candidate`; returns the change of the gene's
  // log-likelihood.
  double geneProposal(std::int32_t p, double x, GeneState& candidate) const;
  // Evaluates the candidates of a shared change gene by gene; returns their sum.
  double proposeShared(const Change& change);
  // V = Sum_f r_f E0_f.
  double weightedNeutral(const Shared& shared) const;
  // Sums over the genes inside the grid of what a shared change multiplies: per class the
  // polymorphism load Sum_g N u (Ln e_f + Ls E0_f) and the counts; with the divergence in
  // aggregate form, Sum Lnd u e_D, Sum Lsd u, Sum Dn and Sum Ds. ensureSums makes the
  // class sums (or the divergence sums) current, and with them everything blocks sum.
  void ensureSums(bool classes);
  // A block's class sums, count of infinite or undefined genes and divergence sums.
  void blockSums(std::size_t block) const;
  void combineBlocks();
  double mixture(const Shared& shared, std::int32_t cell, std::int32_t a, std::int32_t c) const;
  template <class State>
  [[gnu::always_inline]] double divergencePart(const Gene& gene, const Shared& shared,
                                               const State& state) const;
  // Decides gene position p's proposal x with the draw v the general way (geneProposal),
  // taking it or not and adapting its step width.
  void decideInGeneral(std::int32_t p, double x, double v, std::vector<double>& steps);
  // Decides gene k's two positions in a sweep.
  void sweepGene(std::size_t k, GeneMoves& moves);
  // Position p's proposal x and decision draw v; false for a position without room to move.
  bool drawMove(std::int32_t p, GeneMoves& moves, double& x, double& v) const;

  ModelSettings settings_;
  ParameterLayout layout_;
  const DfeTables& tables_;
  std::int32_t first_ = 1;  // the first class in the likelihood
  double inverseMeanStep_ = 0.0;
  bool divergenceAggregated_ = false;  // T and A change the total through four sums
  bool divergenceReadsSize_ = false;   // the divergence part reads the genes' size factors
  std::int32_t counted_ = 0;           // classes in the likelihood
  // The table by grid point, cell = (b - 1) M + m - 1: the entries of the classes from the
  // first in the likelihood, then the divergence and the heterozygosity; and apart, the
  // logarithms of the classes' entries and of the divergence.
  std::vector<double> value_, log_;
  std::size_t valueStride_ = 0, logStride_ = 0;
  const double* values(std::int32_t cell) const {
    return value_.data() + static_cast<std::size_t>(cell) * valueStride_;
  }
  const double* logs(std::int32_t cell) const {
    return log_.data() + static_cast<std::size_t>(cell) * logStride_;
  }
  std::vector<double> ePa_;      // (a - 1) * counted_ + c
  std::vector<double> ePaLast_;  // ePaLookUpTable(k, a) by a - 1
  std::vector<Gene> genes_;
  std::vector<double> pn_;     // gene g's Pn of class first_ + c at (g - 1) * counted_ + c
  std::vector<double> count_;  // Pn + Ps, likewise

  std::vector<double> parameters_;
  std::unique_ptr<Shared> shared_;
  std::unique_ptr<Shared> candidateShared_;
  mutable std::vector<GeneState> state_;  // refreshed on reading
  // Each gene's candidate for the last shared proposal, and whether it differs from the
  // gene's state (kept together, so that threads write nothing next to another's genes).
  struct Candidate;
  mutable std::vector<Candidate> candidates_;

  // The last shared proposal was accepted: genes whose candidate differs take it when read.
  bool adopt_ = false;
  std::unique_ptr<GeneState> geneCandidate_;
  std::vector<double> classLoad_, classCount_;
  // The class sums per block of blockSize_ genes (loads, in-grid counts, the neutral load),
  // added up block by block: the same sums whichever thread computes a block.
  std::size_t blockSize_ = 16;
  std::size_t blocks_ = 0;
  mutable std::vector<double> blockSums_;
  std::vector<double> blockCounts_;  // per block and class: the counts of all its genes
  // W along a row of the grid at some class weights: every gene sits on the shape's row,
  // so a row's W serves all of them, for the current parameters and a candidate's.
  struct RowWeights {
    double row = -1.0;          // never a row of the grid until filled
    std::uint64_t weights = 0;  // the class weights' version (each version is issued once)
    std::vector<double> w;      // by column
  };
  RowWeights rows_[2];
  mutable std::uint64_t weightsIssued_ = 0;
  // Each gene's last dot products, by grid point modulo the number of slots (1 KB a gene).
  struct DotSlot {
    std::int32_t cell = -1;
    double dot = 0.0;
  };
  static constexpr std::size_t kDotSlots = 64;
  static constexpr std::int32_t kMostDotGenes = 100000;
  mutable std::vector<DotSlot> dotSlots_;

  struct DivergenceSums {
    double nonSynonymous = 0.0, synonymous = 0.0, dn = 0.0, ds = 0.0;
  };
  void addDivergence(const Gene& gene, const GeneState& state, DivergenceSums& sums) const;
  // What a pass over a block of genes adds up, combined block by block in order, so the
  // totals are the same whichever threads computed the blocks.
  struct BlockTotals {
    double difference = 0.0;
    std::int64_t nonFinite = 0;
    DivergenceSums divergence;
    void add(const BlockTotals& other) {
      difference += other.difference;
      nonFinite += other.nonFinite;
      divergence.nonSynonymous += other.divergence.nonSynonymous;
      divergence.synonymous += other.divergence.synonymous;
      divergence.dn += other.divergence.dn;
      divergence.ds += other.divergence.ds;
    }
  };
  mutable std::vector<BlockTotals> blockTotals_;
  BlockTotals candidateTotals_;  // of the last shared proposal's candidates
  DivergenceSums divergenceSums_;
  bool classSumsValid_ = false;
  bool divergenceSumsValid_ = false;
  enum class Pending {
    Nothing,
    Gene,          // geneCandidate_ replaces the gene's state
    Shared,        // the changed candidates replace their genes' states
    SharedAlone,   // only the shared parameters change
    ClassInPlace,  // every gene's sums move by a class's share; the weight is set on accepting
    ValueAlone,    // nothing the likelihood reads
    Divergence,    // every gene's divergence part changes
  };
  Pending pending_ = Pending::Nothing;
  std::unique_ptr<Change> pendingChange_;
  std::int32_t proposed_ = 0;  // the position of the pending proposal
  double proposedValue_ = 0.0;
  double pendingLnWeight_ = 0.0;  // ln of a proposed class weight
  std::int64_t nonFinite_ = 0;    // genes whose current value is infinite or not a number
  GeneTeam* team_ = nullptr;
};

}  // namespace zelk::dfe
