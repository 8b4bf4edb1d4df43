#include "dfe/dfe_likelihood.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "dfe/gene_team.h"
#include "dfe/step_draws.h"

namespace zelk::dfe {
namespace {

// Sum_c a_c b_c in two running sums, so that the additions need not wait for each other.
[[gnu::always_inline]] inline double dotProduct(const double* a, const double* b, std::size_t n) {
  double sum[2] = {0.0, 0.0};
  std::size_t c = 0;
  for (; c + 2 <= n; c += 2) {
    sum[0] += a[c] * b[c];
    sum[1] += a[c + 1] * b[c + 1];
  }
  if (c < n) sum[0] += a[c] * b[c];
  return sum[0] + sum[1];
}

}  // namespace

ParameterLayout ParameterLayout::of(Model model, std::int32_t genes, std::int32_t classes) {
  ParameterLayout layout;
  layout.genes = genes;
  layout.classes = classes;
  layout.rOffset = 2 * genes - 1;
  layout.meanS = 2 * genes + classes;
  layout.shape = layout.meanS + 1;
  switch (model) {
    case Model::RPPQ:
      layout.count = layout.shape;
      break;
    case Model::RPM:
      layout.adaptive = layout.shape + 1;
      layout.divergence = layout.shape + 2;
      layout.count = layout.divergence;
      break;
    case Model::AdaptiveStrength:
      layout.divergence = layout.shape + 1;
      layout.proportion = layout.shape + 2;
      layout.strength = layout.shape + 3;
      layout.count = layout.strength;
      break;
  }
  return layout;
}

void LogFactorials::build(double largestCount) {
  const double top = std::fmin(std::trunc(std::fmax(largestCount, 0.0)), kMostTabled);
  const auto size = static_cast<std::size_t>(top) + 1;
  table_.assign(size, 0.0);
  for (std::size_t i = 1; i < size; ++i)
    table_[i] = table_[i - 1] + std::log(static_cast<double>(i));
}

double LogFactorials::operator()(double count) const {
  const double whole = std::trunc(count);
  if (whole >= 0 && whole < static_cast<double>(table_.size()))
    return table_[static_cast<std::size_t>(whole)];
  return std::lgamma(whole + 1);
}

// A gene's data and the parts of its log-likelihood that no parameter changes.
struct DfeLikelihood::Gene {
  double ln = 0.0;  // non-synonymous sites surveyed for polymorphism
  double ls = 0.0;  // synonymous sites
  double countSum = 0.0;
  double constant = 0.0;
  double lnd = 0.0, lsd = 0.0, lnLnd = 0.0, lnLsd = 0.0;  // divergence sites (whole numbers)
  double dn = 0.0, ds = 0.0;                              // substitutions
};

// The shared parameters with what is derived from them.
struct DfeLikelihood::Shared {
  double meanS = 0.0, lnMeanS = 0.0;
  double beta = 0.0, row = 0.0;  // the shape and its grid row
  std::vector<double> r, lnr;    // class weights from the first class in the likelihood
  double ws = 0.0;               // Sum_f r_f E0_f
  double T = 0.0, lnT = 0.0;
  double A = 0.0, lnOneMinusA = 0.0;
  double alphaFactor = 0.0;  // T / (1 - A)
  double pa = 0.0, sa = 0.0, lnSa = 0.0;
  double rLast = 0.0;            // the value at the last class's weight position
  std::uint64_t mixVersion = 0;  // changes with Pa, which changes every table mixture
  // Change with the class weights and with T and A: a gene computed at other versions is
  // brought up to date when it is next read.
  std::uint64_t weights = 0;
  std::uint64_t divergence = 0;
};

// A gene's factors, its grid point and the sums cached for that point.
struct DfeLikelihood::GeneState {
  double n = 0.0, u = 0.0, lnN = 0.0, lnU = 0.0;
  std::int32_t cell = -1;   // (b - 1) M + m - 1; -1 outside the grid
  std::int32_t column = 0;  // m
  std::int32_t a = 0;
  std::uint64_t mixVersion = 0;
  double wn = 0.0;               // Sum_f r_f e_f
  double dot = 0.0;              // Sum_f Pn_f ln e_f
  double poly = 0.0;             // the polymorphism part, without the weight term
  double div = 0.0;              // the divergence part
  double ll = 0.0;               // the log-likelihood without the weight term Sum_f c_f ln r_f
  std::uint64_t weights = 0;     // the class weights' version of wn and poly
  std::uint64_t divergence = 0;  // the version of T and A of div
};

struct DfeLikelihood::Candidate {
  GeneState state;
  bool changed = false;
};

struct DfeLikelihood::Change {
  enum Kind {
    None,        // nothing the likelihood reads
    Full,        // evaluate from nothing
    Size,        // a gene's size factor N
    Class,       // one class weight
    Shape,       // the shape: only a change of grid row matters
    MeanS,       // the mean: only genes whose grid column changes
    Divergence,  // the divergence part alone
    Mixture,     // Pa or Sa: the adaptive class's share or column, and the divergence
  };
  Kind kind = None;
  std::int32_t c = 0;  // the class, counted from the first class in the likelihood
  double dr = 0.0, dlnr = 0.0;
  bool divergenceToo = false;  // a class weight the divergence part reads
};

DfeLikelihood::DfeLikelihood(const ModelSettings& settings, const Matrix& data,
                             std::int32_t classes, const DfeTables& tables,
                             const LogFactorials& logFact)
    : settings_(settings),
      layout_(ParameterLayout::of(settings.model, data.rows(), classes)),
      tables_(tables),
      first_(settings.includeSingletons ? 1 : 2),
      divergenceAggregated_(settings.model == Model::RPM && settings.estimateAlpha &&
                            !settings.includePolymorphism),
      divergenceReadsSize_(settings.model == Model::AdaptiveStrength ||
                           (settings.model == Model::RPM && settings.includePolymorphism)),
      counted_(std::max(classes - (settings.includeSingletons ? 1 : 2) + 1, 0)),
      shared_(std::make_unique<Shared>()),
      candidateShared_(std::make_unique<Shared>()),
      geneCandidate_(std::make_unique<GeneState>()),
      pendingChange_(std::make_unique<Change>()) {
  const bool divergence = settings.model != Model::RPPQ;
  const bool adaptiveClass = settings.model == Model::AdaptiveStrength;
  const std::int32_t rows = tables.maxBetaIndex;
  const std::int32_t columns = tables.maxMeanSIndex;
  inverseMeanStep_ = 1 / tables.logMeanSStep;
  const auto cells = static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns);
  const auto width = static_cast<std::size_t>(counted_);
  // What a gene reads at one grid point, together: the entries in one array, their
  // logarithms (needed far less often) in another.
  valueStride_ = width + 2;
  logStride_ = width + 1;
  value_.assign(cells * valueStride_, 0.0);
  log_.assign(cells * logStride_, 0.0);
  for (std::int32_t b = 1; b <= rows; ++b) {
    for (std::int32_t m = 1; m <= columns; ++m) {
      const auto cell = static_cast<std::size_t>(b - 1) * columns + static_cast<std::size_t>(m - 1);
      double* value = value_.data() + cell * valueStride_;
      double* log = log_.data() + cell * logStride_;
      for (std::int32_t c = 0; c < counted_; ++c) {
        const double e = tables.ePnLookUpTable(first_ + c, b, m);
        value[c] = e;
        log[c] = std::log(e);
      }
      if (divergence) {
        value[width] = tables.eDnLookUpTable(b, m);
        log[width] = std::log(value[width]);
      }
      if (settings.model == Model::RPM) value[width + 1] = tables.eHnLookUpTable(b, m);
    }
  }
  if (adaptiveClass) {
    const std::int32_t adaptiveColumns = tables.ePaLookUpTable.columns();
    ePa_.resize(static_cast<std::size_t>(adaptiveColumns) * width);
    ePaLast_.resize(static_cast<std::size_t>(adaptiveColumns));
    for (std::int32_t a = 1; a <= adaptiveColumns; ++a) {
      for (std::int32_t c = 0; c < counted_; ++c)
        ePa_[static_cast<std::size_t>(a - 1) * width + static_cast<std::size_t>(c)] =
            tables.ePaLookUpTable(first_ + c, a);
      ePaLast_[static_cast<std::size_t>(a - 1)] = tables.ePaLookUpTable(classes, a);
    }
  }

  const DatasetColumns at{classes, data.cols()};
  const std::int32_t genes = data.rows();
  genes_.resize(static_cast<std::size_t>(genes));
  pn_.resize(static_cast<std::size_t>(genes) * width);
  count_.resize(static_cast<std::size_t>(genes) * width);
  for (std::int32_t g = 1; g <= genes; ++g) {
    Gene& gene = genes_[static_cast<std::size_t>(g - 1)];
    gene.ln = data(g, DatasetColumns::kLn);
    gene.ls = data(g, at.ls());
    const double lnLn = std::log(gene.ln);
    for (std::int32_t c = 0; c < counted_; ++c) {
      const std::int32_t f = first_ + c;
      const double pn = data(g, at.pn(f));
      const double ps = data(g, at.ps(f));
      const auto i = static_cast<std::size_t>(g - 1) * width + static_cast<std::size_t>(c);
      pn_[i] = pn;
      count_[i] = pn + ps;
      gene.countSum += pn + ps;
      gene.constant += pn * lnLn +
                       ps * std::log(gene.ls * tables.ePsLookUpTable[static_cast<std::size_t>(f)]) -
                       logFact(pn) - logFact(ps);
    }
    if (divergence) {
      gene.lnd = std::trunc(data(g, at.lnd()));
      gene.lsd = std::trunc(data(g, at.lsd()));
      gene.lnLnd = std::log(gene.lnd);
      gene.lnLsd = std::log(gene.lsd);
      gene.dn = data(g, at.dn());
      gene.ds = data(g, at.ds());
      gene.constant -= logFact(gene.dn) + logFact(gene.ds);
    }
  }
  if (settings.model != Model::AdaptiveStrength && genes <= kMostDotGenes)
    dotSlots_.assign(static_cast<std::size_t>(genes) * kDotSlots, DotSlot{});
  // Blocks small enough that the threads' chunks come out even, large enough that adding
  // up the blocks costs little.
  blockSize_ = static_cast<std::size_t>(std::clamp(genes / 32, 1, 16));
  blocks_ = (static_cast<std::size_t>(genes) + blockSize_ - 1) / blockSize_;
  blockSums_.assign(blocks_ * (2 * width + 1), 0.0);
  blockTotals_.assign(blocks_, BlockTotals{});
  blockCounts_.assign(blocks_ * width, 0.0);
  for (std::size_t k = 0; k < genes_.size(); ++k)
    for (std::size_t c = 0; c < width; ++c)
      blockCounts_[k / blockSize_ * width + c] += count_[k * width + c];
  state_.resize(static_cast<std::size_t>(genes));
  candidates_.resize(static_cast<std::size_t>(genes));
}

DfeLikelihood::~DfeLikelihood() = default;

void DfeLikelihood::buildShared(const std::vector<double>& parameters, Shared& shared) const {
  const auto at = [&](std::int32_t p) { return parameters[static_cast<std::size_t>(p)]; };
  shared.meanS = at(layout_.meanS);
  shared.lnMeanS = std::log(shared.meanS);
  shared.beta = at(layout_.shape);
  shared.row = tables_.rowOf(shared.beta);
  shared.r.assign(static_cast<std::size_t>(counted_), 1.0);
  shared.lnr.assign(static_cast<std::size_t>(counted_), 0.0);
  shared.ws = 0.0;
  for (std::int32_t c = 0; c < counted_; ++c) {
    const auto i = static_cast<std::size_t>(c);
    if (c > 0) {
      shared.r[i] = at(layout_.rOffset + first_ + c);
      shared.lnr[i] = std::log(shared.r[i]);
    }
    shared.ws += shared.r[i] * tables_.ePsLookUpTable[static_cast<std::size_t>(first_ + c)];
  }
  if (layout_.divergence != 0) {
    shared.T = at(layout_.divergence);
    shared.lnT = std::log(shared.T);
  }
  if (layout_.adaptive != 0) {
    shared.A = at(layout_.adaptive);
    shared.lnOneMinusA = std::log(1 - shared.A);
  }
  shared.alphaFactor = shared.T / (1 - shared.A);
  if (layout_.proportion != 0) {
    shared.pa = at(layout_.proportion);
    shared.sa = at(layout_.strength);
    shared.lnSa = std::log(shared.sa);
    shared.rLast = at(layout_.rOffset + layout_.classes);
  }
}

DfeLikelihood::GeneState DfeLikelihood::geneState(std::int32_t g,
                                                  const std::vector<double>& parameters) const {
  GeneState state;
  state.n = parameters[static_cast<std::size_t>(2 * g - 1)];
  state.u = parameters[static_cast<std::size_t>(2 * g)];
  state.lnN = std::log(state.n);
  state.lnU = std::log(state.u);
  return state;
}

double DfeLikelihood::mixture(const Shared& shared, std::int32_t cell, std::int32_t a,
                              std::int32_t c) const {
  const double e = values(cell)[c];
  if (settings_.model != Model::AdaptiveStrength) return e;
  return (1 - shared.pa) * e +
         shared.pa * ePa_[static_cast<std::size_t>(a - 1) * static_cast<std::size_t>(counted_) +
                          static_cast<std::size_t>(c)];
}

double DfeLikelihood::weighted(const Shared& shared, std::int32_t cell, std::int32_t a) const {
  const double* r = shared.r.data();
  if (settings_.model == Model::AdaptiveStrength) {
    double w = 0.0;
    for (std::int32_t c = 0; c < counted_; ++c) w += r[c] * mixture(shared, cell, a, c);
    return w;
  }
  return dotProduct(r, values(cell), static_cast<std::size_t>(counted_));
}

void DfeLikelihood::sums(std::int32_t g, const Shared& shared, GeneState& state) const {
  const auto width = static_cast<std::size_t>(counted_);
  const double* pn = pn_.data() + static_cast<std::size_t>(g - 1) * width;
  if (settings_.model == Model::AdaptiveStrength) {
    double dot = 0.0;
    for (std::int32_t c = 0; c < counted_; ++c)
      dot += pn[c] * std::log(mixture(shared, state.cell, state.a, c));
    state.wn = weighted(shared, state.cell, state.a);
    state.dot = dot;
    return;
  }
  state.dot = dotAt(g, state.cell);
  state.wn = weightedAt(shared, state.cell, state.column);
}

double DfeLikelihood::weightedAt(const Shared& shared, std::int32_t cell,
                                 std::int32_t column) const {
  for (const RowWeights& row : rows_)
    if (row.weights == shared.weights && row.row == shared.row)
      return row.w[static_cast<std::size_t>(column - 1)];
  return weighted(shared, cell, 0);
}

void DfeLikelihood::prepareRows(const Shared& current, const Shared* candidate) {
  // A row costs as much as W at every column; a pass reads W a few times per gene, so the
  // row pays only with about as many genes as half the columns.
  if (settings_.model == Model::AdaptiveStrength || 2 * layout_.genes < tables_.maxMeanSIndex)
    return;
  const auto find = [&](const Shared& shared) -> RowWeights* {
    for (RowWeights& row : rows_)
      if (row.weights == shared.weights && row.row == shared.row) return &row;
    return nullptr;
  };
  const Shared* wanted[2] = {&current, candidate};
  RowWeights* kept = nullptr;
  for (const Shared* shared : wanted) {
    if (shared == nullptr || !tables_.inGrid(shared->row, 1)) continue;
    if (RowWeights* found = find(*shared)) {
      kept = found;
      continue;
    }
    RowWeights& row = &rows_[0] == kept ? rows_[1] : rows_[0];
    row.row = shared->row;
    row.weights = shared->weights;
    const std::int32_t columns = tables_.maxMeanSIndex;
    row.w.resize(static_cast<std::size_t>(columns));
    const std::int32_t first = (static_cast<std::int32_t>(shared->row) - 1) * columns;
    const double* r = shared->r.data();
    const auto width = static_cast<std::size_t>(counted_);
    // Four grid points at a time, each summed as dotProduct sums it, so that the four
    // points' additions overlap.
    std::int32_t m = 0;
    for (; m + 4 <= columns; m += 4) {
      const double* e[4] = {values(first + m), values(first + m + 1), values(first + m + 2),
                            values(first + m + 3)};
      double even[4] = {0.0, 0.0, 0.0, 0.0};
      double odd[4] = {0.0, 0.0, 0.0, 0.0};
      std::size_t c = 0;
      for (; c + 2 <= width; c += 2) {
        for (int j = 0; j < 4; ++j) {
          even[j] += r[c] * e[j][c];
          odd[j] += r[c + 1] * e[j][c + 1];
        }
      }
      for (int j = 0; j < 4; ++j) {
        if (c < width) even[j] += r[c] * e[j][c];
        row.w[static_cast<std::size_t>(m + j)] = even[j] + odd[j];
      }
    }
    for (; m < columns; ++m)
      row.w[static_cast<std::size_t>(m)] = dotProduct(r, values(first + m), width);
    kept = &row;
  }
}

double DfeLikelihood::dotAt(std::int32_t g, std::int32_t cell) const {
  // A gene wanders over a few grid points around its place, so it keeps the dot products
  // of the last points it met, one per slot of a small table indexed by the point.
  DotSlot* slot = nullptr;
  if (!dotSlots_.empty()) {
    slot = &dotSlots_[static_cast<std::size_t>(g - 1) * kDotSlots +
                      static_cast<std::size_t>(cell) % kDotSlots];
    if (slot->cell == cell) return slot->dot;
  }
  const auto width = static_cast<std::size_t>(counted_);
  const double* pn = pn_.data() + static_cast<std::size_t>(g - 1) * width;
  const double dot = dotProduct(pn, logs(cell), width);
  if (slot != nullptr) *slot = {cell, dot};
  return dot;
}

double DfeLikelihood::weightTerm(std::int32_t g, const Shared& shared) const {
  const auto width = static_cast<std::size_t>(counted_);
  const double* count = count_.data() + static_cast<std::size_t>(g - 1) * width;
  double rl = 0.0;
  for (std::int32_t c = 0; c < counted_; ++c)
    rl += count[c] * shared.lnr[static_cast<std::size_t>(c)];
  return rl;
}

template <class State>
inline double DfeLikelihood::divergencePart(const Gene& gene, const Shared& shared,
                                            const State& state) const {
  const double* at = values(state.cell) + counted_;  // the divergence, the heterozygosity
  const double eDn = at[0];
  const double tu = shared.T * state.u;
  double edn = 0.0;
  double lnEdn = 0.0;
  double eds = gene.lsd * tu;
  double lnEds = gene.lnLsd + shared.lnT + state.lnU;
  if (settings_.model == Model::RPM) {
    if (settings_.estimateAlpha) {
      edn = gene.lnd * state.u * eDn * shared.alphaFactor;
    } else {
      edn = gene.lnd * tu * eDn;
      edn = edn + shared.A * tu * gene.lnd;
    }
    if (settings_.includePolymorphism) {
      const double nu = state.n * state.u;
      edn = edn + nu * at[1] * gene.lnd;
      eds = eds + nu * gene.lsd;
      lnEdn = std::log(edn);
      lnEds = std::log(eds);
    } else if (settings_.estimateAlpha) {
      lnEdn = gene.lnLnd + shared.lnT + state.lnU + logs(state.cell)[counted_] - shared.lnOneMinusA;
    } else {
      lnEdn = std::log(edn);
    }
  } else {
    // A mutation of strength SaN fixes at SaN / (1 - e^-SaN) times the neutral rate.
    const double saN = shared.sa * state.n;
    const double fixation = saN / (1 - std::exp(-saN));
    edn = gene.lnd * tu * ((1 - shared.pa) * eDn + shared.pa * fixation);
    if (settings_.includePolymorphism)
      edn =
          edn + state.n * state.u * shared.rLast * ePaLast_[static_cast<std::size_t>(state.a - 1)];
    lnEdn = std::log(edn);
  }
  return -edn + gene.dn * lnEdn - eds + gene.ds * lnEds;
}

template <class State>
inline double DfeLikelihood::polymorphismPart(const Gene& gene, const Shared& shared,
                                              const State& state) const {
  return -state.n * state.u * (gene.ln * state.wn + gene.ls * shared.ws) +
         (state.lnN + state.lnU) * gene.countSum + state.dot + gene.constant;
}

void DfeLikelihood::evaluate(std::int32_t g, const Shared& shared, const Change& change,
                             GeneState& state) const {
  const double column = columnOf(shared.lnMeanS + state.lnN);
  if (!tables_.inGrid(shared.row, column)) {
    state.cell = -1;
    state.ll = kOutOfGrid;
    return;
  }
  const auto m = static_cast<std::int32_t>(column);
  const std::int32_t cell =
      (static_cast<std::int32_t>(shared.row) - 1) * tables_.maxMeanSIndex + m - 1;
  const std::int32_t a = settings_.model == Model::AdaptiveStrength
                             ? tables_.adaptiveColumnOf(shared.lnSa + state.lnN)
                             : 0;
  const bool fresh = change.kind == Change::Full || state.cell != cell || state.a != a ||
                     state.mixVersion != shared.mixVersion;
  if (fresh) {
    state.cell = cell;
    state.column = m;
    state.a = a;
    state.mixVersion = shared.mixVersion;
    sums(g, shared, state);
  } else if (change.kind == Change::Class) {
    // Only this class's share of W moves.
    state.wn += change.dr * mixture(shared, cell, a, change.c);
  }
  const Gene& gene = genes_[static_cast<std::size_t>(g - 1)];
  state.poly = polymorphismPart(gene, shared, state);
  // A new size factor on the same grid point leaves a divergence part that does not read it.
  const bool divergenceKept = !fresh && change.kind == Change::Size && !divergenceReadsSize_;
  if (settings_.model != Model::RPPQ && !divergenceKept)
    state.div = divergencePart(gene, shared, state);
  state.ll = state.poly + state.div;
  state.weights = shared.weights;
  state.divergence = shared.divergence;
}

inline void DfeLikelihood::refresh(std::size_t k) const {
  // Most reads find the gene up to date; only the rest pay for a call.
  const GeneState& state = state_[k];
  const Shared& shared = *shared_;
  if ((adopt_ && candidates_[k].changed) ||
      (state.cell >= 0 &&
       (state.weights != shared.weights || state.divergence != shared.divergence)))
    catchUp(k);
}

void DfeLikelihood::catchUp(std::size_t k) const {
  GeneState& state = state_[k];
  Candidate& candidate = candidates_[k];
  if (adopt_ && candidate.changed) {
    // An accepted shared proposal left this gene's new state among the candidates.
    state = candidate.state;
    candidate.changed = false;
  }
  const Shared& shared = *shared_;
  if (state.cell < 0) return;  // re-entering the grid recomputes everything
  const bool weights = state.weights != shared.weights;
  const bool divergence = state.divergence != shared.divergence;
  if (!weights && !divergence) return;
  const Gene& gene = genes_[k];
  if (weights) {
    state.wn = settings_.model == Model::AdaptiveStrength
                   ? weighted(shared, state.cell, state.a)
                   : weightedAt(shared, state.cell, state.column);
    state.poly = polymorphismPart(gene, shared, state);
    state.weights = shared.weights;
  }
  if (divergence) {
    state.div = divergencePart(gene, shared, state);
    state.divergence = shared.divergence;
  }
  state.ll = state.poly + state.div;
}

double DfeLikelihood::total() const {
  const Shared& shared = *shared_;
  double sum = 0.0;
  for (std::size_t k = 0; k < state_.size(); ++k) {
    refresh(k);
    const GeneState& state = state_[k];
    sum += state.ll;
    if (state.cell >= 0) sum += weightTerm(static_cast<std::int32_t>(k) + 1, shared);
  }
  return sum;
}

double DfeLikelihood::geneLogLikelihood(std::int32_t p,
                                        const std::vector<double>& parameters) const {
  Shared shared;
  buildShared(parameters, shared);
  const std::int32_t g = ParameterLayout::geneOf(p);
  GeneState state = geneState(g, parameters);
  evaluate(g, shared, Change{Change::Full}, state);
  return state.cell < 0 ? state.ll : state.ll + weightTerm(g, shared);
}

void DfeLikelihood::start(const std::vector<double>& parameters) {
  parameters_ = parameters;
  buildShared(parameters_, *shared_);
  shared_->weights = ++weightsIssued_;
  nonFinite_ = 0;
  for (std::int32_t g = 1; g <= layout_.genes; ++g) {
    GeneState& state = state_[static_cast<std::size_t>(g - 1)];
    state = geneState(g, parameters_);
    evaluate(g, *shared_, Change{Change::Full}, state);
    if (!std::isfinite(state.ll)) ++nonFinite_;
  }
  for (auto& candidate : candidates_) candidate.changed = false;
  adopt_ = false;
  classSumsValid_ = false;
  divergenceSumsValid_ = false;
  pending_ = Pending::Nothing;
}

double DfeLikelihood::geneValue(std::int32_t g) const {
  refresh(static_cast<std::size_t>(g - 1));
  const GeneState& state = state_[static_cast<std::size_t>(g - 1)];
  return state.cell < 0 ? state.ll : state.ll + weightTerm(g, *shared_);
}

DfeLikelihood::Change DfeLikelihood::apply(std::int32_t p, double x, Shared& shared) const {
  if (p == layout_.meanS) {
    shared.meanS = x;
    shared.lnMeanS = std::log(x);
    return {Change::MeanS};
  }
  if (p == layout_.shape) {
    shared.beta = x;
    shared.row = tables_.rowOf(x);
    return {Change::Shape};
  }
  if (p == layout_.adaptive) {
    shared.A = x;
    shared.lnOneMinusA = std::log(1 - x);
    shared.alphaFactor = shared.T / (1 - x);
    ++shared.divergence;
    return {Change::Divergence};
  }
  if (p == layout_.divergence) {
    shared.T = x;
    shared.lnT = std::log(x);
    shared.alphaFactor = x / (1 - shared.A);
    ++shared.divergence;
    return {Change::Divergence};
  }
  if (p == layout_.proportion) {
    shared.pa = x;
    ++shared.mixVersion;
    return {Change::Mixture};
  }
  if (p == layout_.strength) {
    shared.sa = x;
    shared.lnSa = std::log(x);
    return {Change::Mixture};
  }
  // A class weight.
  const std::int32_t f = p - layout_.rOffset;
  const bool lastClassInDivergence = settings_.model == Model::AdaptiveStrength &&
                                     settings_.includePolymorphism && f == layout_.classes;
  if (lastClassInDivergence) {
    shared.rLast = x;
    ++shared.divergence;
  }
  const std::int32_t c = f - first_;
  if (c < 1) return {lastClassInDivergence ? Change::Divergence : Change::None};
  shared.weights = ++weightsIssued_;
  const auto i = static_cast<std::size_t>(c);
  Change change{Change::Class, c, x - shared.r[i], 0.0, lastClassInDivergence};
  const double lnX = std::log(x);
  change.dlnr = lnX - shared.lnr[i];
  shared.r[i] = x;
  shared.lnr[i] = lnX;
  shared.ws = weightedNeutral(shared);
  return change;
}

double DfeLikelihood::weightedNeutral(const Shared& shared) const {
  double ws = 0.0;
  for (std::int32_t k = 0; k < counted_; ++k)
    ws += shared.r[static_cast<std::size_t>(k)] *
          tables_.ePsLookUpTable[static_cast<std::size_t>(first_ + k)];
  return ws;
}

void DfeLikelihood::blockSums(std::size_t block) const {
  // Sum_g N u (Ln e_f + Ls E0_f) = Sum_g (N u Ln) e_f + E0_f Sum_g N u Ls.
  const auto width = static_cast<std::size_t>(counted_);
  double* load = blockSums_.data() + block * (2 * width + 1);
  double* count = load + width;
  std::fill(load, load + width, 0.0);
  // The counts of all the block's genes, less those of genes outside the grid.
  const double* allCounts = blockCounts_.data() + block * width;
  std::copy(allCounts, allCounts + width, count);
  const Shared& shared = *shared_;
  const bool adaptiveClass = settings_.model == Model::AdaptiveStrength;
  double neutralLoad = 0.0;
  BlockTotals& totals = blockTotals_[block];
  totals = BlockTotals{};
  const std::size_t end = std::min(state_.size(), (block + 1) * blockSize_);
  for (std::size_t k = block * blockSize_; k < end; ++k) {
    refresh(k);
    const GeneState& state = state_[k];
    if (!std::isfinite(state.ll)) ++totals.nonFinite;
    const double* geneCount = count_.data() + k * width;
    if (state.cell < 0) {
      for (std::size_t c = 0; c < width; ++c) count[c] -= geneCount[c];
      continue;
    }
    const Gene& gene = genes_[k];
    if (divergenceAggregated_) addDivergence(gene, state, totals.divergence);
    const double nu = state.n * state.u;
    const double geneLoad = nu * gene.ln;
    neutralLoad += nu * gene.ls;
    if (adaptiveClass) {
      for (std::int32_t c = 0; c < counted_; ++c)
        load[c] += geneLoad * mixture(shared, state.cell, state.a, c);
    } else {
      const double* e = values(state.cell);
      for (std::size_t c = 0; c < width; ++c) load[c] += geneLoad * e[c];
    }
  }
  load[2 * width] = neutralLoad;
}

void DfeLikelihood::combineBlocks() {
  const auto width = static_cast<std::size_t>(counted_);
  classLoad_.assign(width, 0.0);
  classCount_.assign(width, 0.0);
  double neutralLoad = 0.0;
  for (std::size_t block = 0; block < blocks_; ++block) {
    const double* load = blockSums_.data() + block * (2 * width + 1);
    for (std::size_t c = 0; c < width; ++c) {
      classLoad_[c] += load[c];
      classCount_[c] += load[width + c];
    }
    neutralLoad += load[2 * width];
  }
  const double* neutral = tables_.ePsLookUpTable.data() + first_;
  for (std::size_t c = 0; c < width; ++c) classLoad_[c] += neutral[c] * neutralLoad;
  classSumsValid_ = true;
  BlockTotals sum;
  for (std::size_t block = 0; block < blocks_; ++block) sum.add(blockTotals_[block]);
  nonFinite_ = sum.nonFinite;
  divergenceSums_ = sum.divergence;
  divergenceSumsValid_ = true;
}

void DfeLikelihood::addDivergence(const Gene& gene, const GeneState& state,
                                  DivergenceSums& sums) const {
  sums.nonSynonymous += gene.lnd * state.u * values(state.cell)[counted_];
  sums.synonymous += gene.lsd * state.u;
  sums.dn += gene.dn;
  sums.ds += gene.ds;
}

void DfeLikelihood::ensureSums(bool classes) {
  if (classes ? classSumsValid_ : divergenceSumsValid_) return;
  for (std::size_t block = 0; block < blocks_; ++block) blockSums(block);
  combineBlocks();
}

double DfeLikelihood::proposeShared(const Change& change) {
  const Shared& shared = *candidateShared_;
  prepareRows(*shared_, &shared);
  // Each gene's candidate, and per block the change of the block's genes, how many more of
  // them are infinite or undefined, and the candidates' divergence sums.
  auto work = [&](std::int32_t firstBlock, std::int32_t endBlock) {
    for (auto block = static_cast<std::size_t>(firstBlock);
         block < static_cast<std::size_t>(endBlock); ++block) {
      BlockTotals totals;
      const std::size_t end = std::min(state_.size(), (block + 1) * blockSize_);
      for (std::size_t k = block * blockSize_; k < end; ++k) {
        refresh(k);
        const GeneState& state = state_[k];
        GeneState& candidate = candidates_[k].state;
        bool changed = true;
        switch (change.kind) {
          case Change::MeanS:
            // A gene whose grid column stays the same keeps its value.
            if (state.cell >= 0 &&
                static_cast<std::int32_t>(columnOf(shared.lnMeanS + state.lnN)) == state.column)
              changed = false;
            break;
          case Change::Divergence:
            if (state.cell < 0) changed = false;
            break;
          default:
            break;
        }
        if (changed) {
          candidate = state;
          if (change.kind == Change::Divergence) {
            candidate.div = divergencePart(genes_[k], shared, candidate);
            candidate.divergence = shared.divergence;
            candidate.ll = candidate.poly + candidate.div;
          } else {
            evaluate(static_cast<std::int32_t>(k) + 1, shared, change, candidate);
          }
        }
        candidates_[k].changed = changed;
        // A gene that keeps its value adds x - x: nothing when it is finite, and not a
        // number when it is infinite or undefined, as the difference of the two totals
        // would be.
        const GeneState& next = changed ? candidate : state;
        totals.difference += next.ll - state.ll;
        totals.nonFinite += (std::isfinite(next.ll) ? 0 : 1) - (std::isfinite(state.ll) ? 0 : 1);
        if (divergenceAggregated_ && next.cell >= 0)
          addDivergence(genes_[k], next, totals.divergence);
      }
      blockTotals_[block] = totals;
    }
  };
  if (team_ != nullptr) {
    team_->run(static_cast<std::int32_t>(blocks_), work);
  } else {
    work(0, static_cast<std::int32_t>(blocks_));
  }
  adopt_ = false;  // every gene has caught up
  BlockTotals sum;
  for (std::size_t block = 0; block < blocks_; ++block) sum.add(blockTotals_[block]);
  candidateTotals_ = sum;
  return sum.difference;
}

double DfeLikelihood::geneProposal(std::int32_t p, double x, GeneState& candidate) const {
  const std::int32_t g = ParameterLayout::geneOf(p);
  const auto k = static_cast<std::size_t>(g - 1);
  refresh(k);
  candidate = state_[k];
  const double lnX = std::log(x);
  if (p % 2 == 1) {
    candidate.n = x;
    candidate.lnN = lnX;
    evaluate(g, *shared_, Change{Change::Size}, candidate);
    return candidate.ll - state_[k].ll;
  }
  // A rate factor moves no gene on the grid.
  candidate.u = x;
  candidate.lnU = lnX;
  if (candidate.cell < 0) return candidate.ll - candidate.ll;
  const Gene& gene = genes_[k];
  candidate.poly = polymorphismPart(gene, *shared_, candidate);
  if (settings_.model != Model::RPPQ) candidate.div = divergencePart(gene, *shared_, candidate);
  candidate.ll = candidate.poly + candidate.div;
  return candidate.ll - state_[k].ll;
}

// What a gene's value reads, for a trial value of one of its factors.
struct DfeLikelihood::Trial {
  double n = 0.0, u = 0.0, lnN = 0.0, lnU = 0.0;
  std::int32_t cell = -1, a = 0;
  double wn = 0.0, dot = 0.0;
};

bool DfeLikelihood::drawMove(std::int32_t p, GeneMoves& moves, double& x, double& v) const {
  const auto i = static_cast<std::size_t>(p);
  if (moves.lower[i] == moves.upper[i]) return false;  // a position without room to move
  PositionDraws draws(moves.stepKey, p);
  x = proposeValue(parameters_[i], moves.steps[i], moves.lower[i], moves.upper[i], draws);
  v = draws.next();
  return true;
}

void DfeLikelihood::decideInGeneral(std::int32_t p, double x, double v,
                                    std::vector<double>& steps) {
  GeneState candidate;
  const double change = geneProposal(p, x, candidate);
  const bool taken = metropolisTakes(change, v);
  if (taken) {
    state_[static_cast<std::size_t>(ParameterLayout::geneOf(p) - 1)] = candidate;
    parameters_[static_cast<std::size_t>(p)] = x;
  }
  adaptStep(steps[static_cast<std::size_t>(p)], taken);
}

void DfeLikelihood::sweepGene(std::size_t k, GeneMoves& moves) {
  // The same values as geneProposal and evaluate give, without copying the gene's state, for
  // a gene inside the grid (not of the adaptive-class model) whose size factor keeps it
  // there; anything else goes the general way.
  GeneState& state = state_[k];
  const Gene& gene = genes_[k];
  const Shared& shared = *shared_;
  const auto g = static_cast<std::int32_t>(k) + 1;
  std::vector<double>& steps = moves.steps;
  const auto atN = static_cast<std::size_t>(2 * g - 1);
  const auto atU = atN + 1;
  double x = 0.0;
  double v = 0.0;
  if (drawMove(2 * g - 1, moves, x, v)) {
    Trial trial{x, state.u, std::log(x), state.lnU, state.cell, 0, state.wn, state.dot};
    const double column = columnOf(shared.lnMeanS + trial.lnN);
    if (tables_.inGrid(shared.row, column)) {
      const auto m = static_cast<std::int32_t>(column);
      trial.cell = (static_cast<std::int32_t>(shared.row) - 1) * tables_.maxMeanSIndex + m - 1;
      const bool moved = trial.cell != state.cell;
      if (moved) {
        trial.dot = dotAt(g, trial.cell);
        trial.wn = weightedAt(shared, trial.cell, m);
      }
      const double poly = polymorphismPart(gene, shared, trial);
      double div = state.div;
      if (settings_.model != Model::RPPQ && (moved || divergenceReadsSize_))
        div = divergencePart(gene, shared, trial);
      const double ll = poly + div;
      const double change = ll - state.ll;
      const bool taken = metropolisTakes(change, v);
      if (taken) {
        state.n = trial.n;
        state.lnN = trial.lnN;
        state.cell = trial.cell;
        state.column = m;
        state.wn = trial.wn;
        state.dot = trial.dot;
        state.poly = poly;
        state.div = div;
        state.ll = ll;
        parameters_[atN] = trial.n;
      }
      adaptStep(steps[atN], taken);
    } else {
      decideInGeneral(2 * g - 1, x, v, steps);
    }
  }
  if (drawMove(2 * g, moves, x, v)) {
    // A rate factor moves no gene on the grid.
    if (state.cell < 0) {
      decideInGeneral(2 * g, x, v, steps);
      return;
    }
    const Trial trial{state.n, x, state.lnN, std::log(x), state.cell, 0, state.wn, state.dot};
    const double poly = polymorphismPart(gene, shared, trial);
    const double div =
        settings_.model != Model::RPPQ ? divergencePart(gene, shared, trial) : state.div;
    const double ll = poly + div;
    const double change = ll - state.ll;
    const bool taken = metropolisTakes(change, v);
    if (taken) {
      state.u = trial.u;
      state.lnU = trial.lnU;
      state.poly = poly;
      state.div = div;
      state.ll = ll;
      parameters_[atU] = trial.u;
    }
    adaptStep(steps[atU], taken);
  }
}

void DfeLikelihood::sweepGenes(GeneMoves& moves) {
  pending_ = Pending::Nothing;
  // Blocks of genes, each decided and then summed for the class weights by one thread.
  prepareRows(*shared_, nullptr);
  auto work = [&](std::int32_t firstBlock, std::int32_t endBlock) {
    for (auto block = static_cast<std::size_t>(firstBlock);
         block < static_cast<std::size_t>(endBlock); ++block) {
      const std::size_t end = std::min(state_.size(), (block + 1) * blockSize_);
      for (std::size_t i = block * blockSize_; i < end; ++i) {
        refresh(i);
        if (settings_.model != Model::AdaptiveStrength && state_[i].cell >= 0) {
          sweepGene(i, moves);
          continue;
        }
        const auto g = static_cast<std::int32_t>(i);
        for (const std::int32_t p : {2 * g + 1, 2 * g + 2}) {
          double x = 0.0;
          double v = 0.0;
          if (drawMove(p, moves, x, v)) decideInGeneral(p, x, v, moves.steps);
        }
      }
      blockSums(block);
    }
  };
  if (team_ != nullptr) {
    team_->run(static_cast<std::int32_t>(blocks_), work);
  } else {
    work(0, static_cast<std::int32_t>(blocks_));
  }
  adopt_ = false;
  combineBlocks();
}

double DfeLikelihood::propose(std::int32_t p, double x) {
  proposed_ = p;
  proposedValue_ = x;
  if (layout_.isGenePosition(p)) {
    pending_ = Pending::Gene;
    return geneProposal(p, x, *geneCandidate_);
  }
  const std::int32_t f = p - layout_.rOffset;
  const bool lastClassInDivergence = settings_.model == Model::AdaptiveStrength &&
                                     settings_.includePolymorphism && f == layout_.classes;
  if (f >= 2 && f <= layout_.classes && !lastClassInDivergence) {
    // A class weight, worked out from the current shared parameters without copying them.
    const std::int32_t c = f - first_;
    if (c < 1) {
      // The weight of a class left out of the likelihood.
      pending_ = Pending::ValueAlone;
      return unchanged();
    }
    // Every gene inside the grid moves by -dr N u (Ln e_f + Ls E0_f) + dln(r) c_f.
    ensureSums(true);
    pending_ = Pending::ClassInPlace;
    const auto i = static_cast<std::size_t>(c);
    pendingLnWeight_ = std::log(x);
    return unchanged() + (-(x - shared_->r[i]) * classLoad_[i] +
                          (pendingLnWeight_ - shared_->lnr[i]) * classCount_[i]);
  }
  *candidateShared_ = *shared_;
  Change& change = *pendingChange_;
  change = apply(p, x, *candidateShared_);
  if (change.kind == Change::None ||
      (change.kind == Change::Shape && candidateShared_->row == shared_->row) ||
      (change.kind == Change::Shape && !tables_.inGrid(candidateShared_->row, 1) &&
       !tables_.inGrid(shared_->row, 1))) {
    // Nothing any gene's value reads has changed.
    pending_ = Pending::SharedAlone;
    return unchanged();
  }
  if (change.kind == Change::Divergence && divergenceAggregated_) {
    // With alpha and without polymorphism, the divergence parts of the genes inside the grid
    // sum to -T/(1-A) Sum Lnd u e + ln(T/(1-A)) Sum Dn - T Sum Lsd u + ln T Sum Ds + terms
    // that T and A do not change.
    ensureSums(false);
    pending_ = Pending::Divergence;
    const Shared& was = *shared_;
    const Shared& now = *candidateShared_;
    const DivergenceSums& sums = divergenceSums_;
    return unchanged() + (-(now.alphaFactor - was.alphaFactor) * sums.nonSynonymous -
                          (now.T - was.T) * sums.synonymous +
                          ((now.lnT - now.lnOneMinusA) - (was.lnT - was.lnOneMinusA)) * sums.dn +
                          (now.lnT - was.lnT) * sums.ds);
  }
  pending_ = Pending::Shared;
  if (change.kind == Change::Class) {
    // The last class's weight, which the divergence part reads: the genes' values change,
    // and so does the weight term kept out of them.
    ensureSums(true);
    return proposeShared(change) + change.dlnr * classCount_[static_cast<std::size_t>(change.c)];
  }
  return proposeShared(change);
}

void DfeLikelihood::accept() {
  if (pending_ == Pending::Nothing) return;
  parameters_[static_cast<std::size_t>(proposed_)] = proposedValue_;
  const auto replace = [&](GeneState& state, const GeneState& candidate) {
    nonFinite_ += (std::isfinite(candidate.ll) ? 0 : 1) - (std::isfinite(state.ll) ? 0 : 1);
    state = candidate;
  };
  switch (pending_) {
    case Pending::Gene:
      replace(state_[static_cast<std::size_t>(ParameterLayout::geneOf(proposed_) - 1)],
              *geneCandidate_);
      classSumsValid_ = false;
      divergenceSumsValid_ = false;
      break;
    case Pending::Shared:
      // The genes take their candidates when next read.
      std::swap(shared_, candidateShared_);
      adopt_ = true;
      nonFinite_ += candidateTotals_.nonFinite;
      classSumsValid_ = false;
      divergenceSumsValid_ = divergenceAggregated_;
      divergenceSums_ = candidateTotals_.divergence;
      break;
    case Pending::ClassInPlace: {
      Shared& shared = *shared_;
      const auto i = static_cast<std::size_t>(proposed_ - layout_.rOffset - first_);
      shared.r[i] = proposedValue_;
      shared.lnr[i] = pendingLnWeight_;
      shared.ws = weightedNeutral(shared);
      shared.weights = ++weightsIssued_;
      break;
    }
    case Pending::ValueAlone:
      break;
    case Pending::SharedAlone:
    case Pending::Divergence:
      // The genes catch up with new weights or divergence factors when next read.
      std::swap(shared_, candidateShared_);
      break;
    case Pending::Nothing:
      break;
  }
  pending_ = Pending::Nothing;
}

}  // namespace zelk::dfe
