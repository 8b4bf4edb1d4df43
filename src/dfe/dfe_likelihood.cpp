#include "dfe/dfe_likelihood.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "dfe/gene_team.h"

namespace zelk::dfe {

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
  // Everything a gene reads at one grid point, together: class c's entry and its
  // logarithm at 2c and 2c + 1, then the divergence, its logarithm and the heterozygosity.
  stride_ = 2 * width + 3;
  cell_.assign(cells * stride_, 0.0);
  for (std::int32_t b = 1; b <= rows; ++b) {
    for (std::int32_t m = 1; m <= columns; ++m) {
      const auto cell = static_cast<std::size_t>(b - 1) * columns + static_cast<std::size_t>(m - 1);
      double* at = cell_.data() + cell * stride_;
      for (std::int32_t c = 0; c < counted_; ++c) {
        const double e = tables.ePnLookUpTable(first_ + c, b, m);
        at[2 * c] = e;
        at[2 * c + 1] = std::log(e);
      }
      if (divergence) {
        at[2 * width] = tables.eDnLookUpTable(b, m);
        at[2 * width + 1] = std::log(at[2 * width]);
      }
      if (settings.model == Model::RPM) at[2 * width + 2] = tables.eHnLookUpTable(b, m);
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
  blocks_ = (static_cast<std::size_t>(genes) + kSumBlock - 1) / kSumBlock;
  blockSums_.assign(blocks_ * (2 * width + 1), 0.0);
  state_.resize(static_cast<std::size_t>(genes));
  candidates_.resize(static_cast<std::size_t>(genes));
  changed_.assign(static_cast<std::size_t>(genes), 0);
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
  const double e =
      cell_[static_cast<std::size_t>(cell) * stride_ + 2 * static_cast<std::size_t>(c)];
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
  const double* at = cell_.data() + static_cast<std::size_t>(cell) * stride_;
  const auto width = static_cast<std::size_t>(counted_);
  double w[2] = {0.0, 0.0};
  std::size_t c = 0;
  for (; c + 2 <= width; c += 2) {
    w[0] += r[c] * at[2 * c];
    w[1] += r[c + 1] * at[2 * c + 2];
  }
  if (c < width) w[0] += r[c] * at[2 * c];
  return w[0] + w[1];
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
  // A gene wanders over a few grid points around its place, so it keeps the dot products
  // of the last points it met, one per slot of a small table indexed by the point.
  DotSlot* slot = nullptr;
  if (!dotSlots_.empty()) {
    slot = &dotSlots_[static_cast<std::size_t>(g - 1) * kDotSlots +
                      static_cast<std::size_t>(state.cell) % kDotSlots];
    if (slot->cell == state.cell) {
      state.dot = slot->dot;
      state.wn = weighted(shared, state.cell, state.a);
      return;
    }
  }
  // W and the dot product in one pass over the grid point's entries, each in two running
  // sums so that the additions need not wait for each other.
  const double* at = cell_.data() + static_cast<std::size_t>(state.cell) * stride_;
  const double* r = shared.r.data();
  double w[2] = {0.0, 0.0};
  double d[2] = {0.0, 0.0};
  std::size_t c = 0;
  for (; c + 2 <= width; c += 2) {
    w[0] += r[c] * at[2 * c];
    d[0] += pn[c] * at[2 * c + 1];
    w[1] += r[c + 1] * at[2 * c + 2];
    d[1] += pn[c + 1] * at[2 * c + 3];
  }
  if (c < width) {
    w[0] += r[c] * at[2 * c];
    d[0] += pn[c] * at[2 * c + 1];
  }
  state.wn = w[0] + w[1];
  state.dot = d[0] + d[1];
  if (slot != nullptr) *slot = {state.cell, state.dot};
}

double DfeLikelihood::weightTerm(std::int32_t g, const Shared& shared) const {
  const auto width = static_cast<std::size_t>(counted_);
  const double* count = count_.data() + static_cast<std::size_t>(g - 1) * width;
  double rl = 0.0;
  for (std::int32_t c = 0; c < counted_; ++c)
    rl += count[c] * shared.lnr[static_cast<std::size_t>(c)];
  return rl;
}

inline double DfeLikelihood::divergencePart(const Gene& gene, const Shared& shared,
                                            const GeneState& state) const {
  const double* at = cell_.data() + static_cast<std::size_t>(state.cell) * stride_ +
                     2 * static_cast<std::size_t>(counted_);
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
      edn = edn + nu * at[2] * gene.lnd;
      eds = eds + nu * gene.lsd;
      lnEdn = std::log(edn);
      lnEds = std::log(eds);
    } else if (settings_.estimateAlpha) {
      lnEdn = gene.lnLnd + shared.lnT + state.lnU + at[1] - shared.lnOneMinusA;
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

inline double DfeLikelihood::polymorphismPart(const Gene& gene, const Shared& shared,
                                              const GeneState& state) const {
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

void DfeLikelihood::refresh(std::size_t k) const {
  GeneState& state = state_[k];
  const Shared& shared = *shared_;
  if (state.cell < 0) return;  // re-entering the grid recomputes everything
  const bool weights = state.weights != shared.weights;
  const bool divergence = state.divergence != shared.divergence;
  if (!weights && !divergence) return;
  const Gene& gene = genes_[k];
  if (weights) {
    state.wn = weighted(shared, state.cell, state.a);
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
  nonFinite_ = 0;
  for (std::int32_t g = 1; g <= layout_.genes; ++g) {
    GeneState& state = state_[static_cast<std::size_t>(g - 1)];
    state = geneState(g, parameters_);
    evaluate(g, *shared_, Change{Change::Full}, state);
    if (!std::isfinite(state.ll)) ++nonFinite_;
  }
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
  ++shared.weights;
  const auto i = static_cast<std::size_t>(c);
  Change change{Change::Class, c, x - shared.r[i], 0.0, lastClassInDivergence};
  const double lnX = std::log(x);
  change.dlnr = lnX - shared.lnr[i];
  shared.r[i] = x;
  shared.lnr[i] = lnX;
  shared.ws = 0.0;
  for (std::int32_t k = 0; k < counted_; ++k)
    shared.ws += shared.r[static_cast<std::size_t>(k)] *
                 tables_.ePsLookUpTable[static_cast<std::size_t>(first_ + k)];
  return change;
}

void DfeLikelihood::blockSums(std::size_t block) const {
  // Sum_g N u (Ln e_f + Ls E0_f) = Sum_g (N u Ln) e_f + E0_f Sum_g N u Ls.
  const auto width = static_cast<std::size_t>(counted_);
  double* load = blockSums_.data() + block * (2 * width + 1);
  double* count = load + width;
  std::fill(load, load + 2 * width + 1, 0.0);
  const Shared& shared = *shared_;
  const bool adaptiveClass = settings_.model == Model::AdaptiveStrength;
  double neutralLoad = 0.0;
  const std::size_t end = std::min(state_.size(), (block + 1) * kSumBlock);
  for (std::size_t k = block * kSumBlock; k < end; ++k) {
    const GeneState& state = state_[k];
    if (state.cell < 0) continue;
    const Gene& gene = genes_[k];
    const double nu = state.n * state.u;
    const double geneLoad = nu * gene.ln;
    neutralLoad += nu * gene.ls;
    const double* geneCount = count_.data() + k * width;
    if (adaptiveClass) {
      for (std::int32_t c = 0; c < counted_; ++c)
        load[c] += geneLoad * mixture(shared, state.cell, state.a, c);
    } else {
      const double* at = cell_.data() + static_cast<std::size_t>(state.cell) * stride_;
      for (std::size_t c = 0; c < width; ++c) load[c] += geneLoad * at[2 * c];
    }
    for (std::size_t c = 0; c < width; ++c) count[c] += geneCount[c];
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
}

void DfeLikelihood::ensureClassSums() {
  if (classSumsValid_) return;
  for (std::size_t block = 0; block < blocks_; ++block) blockSums(block);
  combineBlocks();
}

void DfeLikelihood::ensureDivergenceSums() {
  if (divergenceSumsValid_) return;
  DivergenceSums sums;
  for (std::size_t k = 0; k < state_.size(); ++k) {
    const GeneState& state = state_[k];
    if (state.cell < 0) continue;
    const Gene& gene = genes_[k];
    sums.nonSynonymous += gene.lnd * state.u *
                          cell_[static_cast<std::size_t>(state.cell) * stride_ +
                                2 * static_cast<std::size_t>(counted_)];
    sums.synonymous += gene.lsd * state.u;
    sums.dn += gene.dn;
    sums.ds += gene.ds;
  }
  divergenceSums_ = sums;
  divergenceSumsValid_ = true;
}

double DfeLikelihood::proposeShared(const Change& change) {
  const Shared& shared = *candidateShared_;
  auto work = [&](std::int32_t begin, std::int32_t end) {
    for (std::int32_t i = begin; i < end; ++i) {
      const auto k = static_cast<std::size_t>(i);
      refresh(k);
      const GeneState& state = state_[k];
      char changed = 1;
      switch (change.kind) {
        case Change::MeanS:
          // A gene whose grid column stays the same keeps its value.
          if (state.cell >= 0 &&
              static_cast<std::int32_t>(columnOf(shared.lnMeanS + state.lnN)) == state.column)
            changed = 0;
          break;
        case Change::Divergence:
          if (state.cell < 0) {
            changed = 0;
          } else {
            GeneState& candidate = candidates_[k];
            candidate = state;
            candidate.div = divergencePart(genes_[k], shared, candidate);
            candidate.divergence = shared.divergence;
            candidate.ll = candidate.poly + candidate.div;
            changed_[k] = 1;
            continue;
          }
          break;
        default:
          break;
      }
      changed_[k] = changed;
      if (changed != 0) {
        GeneState& candidate = candidates_[k];
        candidate = state;
        evaluate(i + 1, shared, change, candidate);
      }
    }
  };
  if (team_ != nullptr) {
    team_->run(layout_.genes, work);
  } else {
    work(0, layout_.genes);
  }
  // A gene that keeps its value adds x - x: nothing when it is finite, and not a number
  // when it is infinite or undefined, as the difference of the two totals would be.
  double difference = 0.0;
  for (std::size_t k = 0; k < state_.size(); ++k) {
    const double current = state_[k].ll;
    difference += (changed_[k] != 0 ? candidates_[k].ll : current) - current;
  }
  return difference;
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

void DfeLikelihood::sweepGenes(const std::vector<double>& x, const std::vector<double>& v,
                               std::vector<std::uint8_t>& accepted) {
  pending_ = Pending::Nothing;
  // Blocks of genes, each decided and then summed for the class weights by one thread.
  auto work = [&](std::int32_t firstBlock, std::int32_t endBlock) {
    GeneState candidate;
    for (auto block = static_cast<std::size_t>(firstBlock);
         block < static_cast<std::size_t>(endBlock); ++block) {
      const std::size_t end = std::min(state_.size(), (block + 1) * kSumBlock);
      for (std::size_t i = block * kSumBlock; i < end; ++i) {
        const auto g = static_cast<std::int32_t>(i);
        for (const std::int32_t p : {2 * g + 1, 2 * g + 2}) {
          const auto at = static_cast<std::size_t>(p - 1);
          accepted[at] = 0;
          if (std::isnan(x[at])) continue;  // a position without room to move
          const double change = geneProposal(p, x[at], candidate);
          if (0 < change || std::log(v[at]) < change) {
            state_[i] = candidate;
            parameters_[static_cast<std::size_t>(p)] = x[at];
            accepted[at] = 1;
          }
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
  combineBlocks();
  nonFinite_ = 0;
  for (const auto& state : state_) nonFinite_ += std::isfinite(state.ll) ? 0 : 1;
  divergenceSumsValid_ = false;
}

double DfeLikelihood::propose(std::int32_t p, double x) {
  proposed_ = p;
  proposedValue_ = x;
  if (layout_.isGenePosition(p)) {
    pending_ = Pending::Gene;
    return geneProposal(p, x, *geneCandidate_);
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
  if (change.kind == Change::Class && !change.divergenceToo) {
    // Every gene inside the grid moves by -dr N u (Ln e_f + Ls E0_f) + dln(r) c_f.
    ensureClassSums();
    pending_ = Pending::Class;
    const auto i = static_cast<std::size_t>(change.c);
    return unchanged() + (-change.dr * classLoad_[i] + change.dlnr * classCount_[i]);
  }
  if (change.kind == Change::Divergence && divergenceAggregated_) {
    // With alpha and without polymorphism, the divergence parts of the genes inside the grid
    // sum to -T/(1-A) Sum Lnd u e + ln(T/(1-A)) Sum Dn - T Sum Lsd u + ln T Sum Ds + terms
    // that T and A do not change.
    ensureDivergenceSums();
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
    ensureClassSums();
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
      std::swap(shared_, candidateShared_);
      for (std::size_t k = 0; k < state_.size(); ++k)
        if (changed_[k] != 0) replace(state_[k], candidates_[k]);
      classSumsValid_ = false;
      divergenceSumsValid_ = false;
      break;
    case Pending::SharedAlone:
    case Pending::Class:
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
