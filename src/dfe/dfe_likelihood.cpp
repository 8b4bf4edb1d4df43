#include "dfe/dfe_likelihood.h"

#include <algorithm>
#include <cmath>
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
  double pa = 0.0, sa = 0.0, lnSa = 0.0;
  double rLast = 0.0;            // the value at the last class's weight position
  std::uint64_t mixVersion = 0;  // changes with Pa, which changes every table mixture
};

// A gene's factors, its grid point and the sums cached for that point.
struct DfeLikelihood::GeneState {
  double n = 0.0, u = 0.0, lnN = 0.0, lnU = 0.0;
  std::int32_t cell = -1;  // (b - 1) M + m - 1; -1 outside the grid
  std::int32_t a = 0;
  std::uint64_t mixVersion = 0;
  double wn = 0.0;   // Sum_f r_f e_f
  double dot = 0.0;  // Sum_f Pn_f ln e_f
  double rl = 0.0;   // Sum_f c_f ln r_f
  double div = 0.0;  // the divergence part
  double ll = 0.0;
};

struct DfeLikelihood::Change {
  enum Kind {
    None,        // nothing the likelihood reads
    Full,        // evaluate from nothing
    Gene,        // a gene's own factor
    Class,       // one class weight
    Grid,        // what places genes on the grid or mixes the tables
    Divergence,  // the divergence part alone
  };
  Kind kind = None;
  std::int32_t c = 0;  // the class, counted from the first class in the likelihood
  double dr = 0.0, dlnr = 0.0;
  bool divergenceToo = false;
};

DfeLikelihood::DfeLikelihood(const ModelSettings& settings, const Matrix& data,
                             std::int32_t classes, const DfeTables& tables,
                             const LogFactorials& logFact)
    : settings_(settings),
      layout_(ParameterLayout::of(settings.model, data.rows(), classes)),
      tables_(tables),
      first_(settings.includeSingletons ? 1 : 2),
      counted_(std::max(classes - (settings.includeSingletons ? 1 : 2) + 1, 0)),
      shared_(std::make_unique<Shared>()),
      candidateShared_(std::make_unique<Shared>()),
      geneCandidate_(std::make_unique<GeneState>()) {
  const bool divergence = settings.model != Model::RPPQ;
  const bool adaptiveClass = settings.model == Model::AdaptiveStrength;
  const std::int32_t rows = tables.maxBetaIndex;
  const std::int32_t columns = tables.maxMeanSIndex;
  const auto cells = static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns);
  const auto width = static_cast<std::size_t>(counted_);
  ePn_.resize(cells * width);
  lnEPn_.resize(cells * width);
  if (divergence) {
    eDn_.resize(cells);
    lnEDn_.resize(cells);
  }
  if (settings.model == Model::RPM) eHn_.resize(cells);
  for (std::int32_t b = 1; b <= rows; ++b) {
    for (std::int32_t m = 1; m <= columns; ++m) {
      const auto cell = static_cast<std::size_t>(b - 1) * columns + static_cast<std::size_t>(m - 1);
      for (std::int32_t c = 0; c < counted_; ++c) {
        const double e = tables.ePnLookUpTable(first_ + c, b, m);
        ePn_[cell * width + static_cast<std::size_t>(c)] = e;
        lnEPn_[cell * width + static_cast<std::size_t>(c)] = std::log(e);
      }
      if (divergence) {
        eDn_[cell] = tables.eDnLookUpTable(b, m);
        lnEDn_[cell] = std::log(eDn_[cell]);
      }
      if (settings.model == Model::RPM) eHn_[cell] = tables.eHnLookUpTable(b, m);
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
  const double e = ePn_[static_cast<std::size_t>(cell) * static_cast<std::size_t>(counted_) +
                        static_cast<std::size_t>(c)];
  if (settings_.model != Model::AdaptiveStrength) return e;
  return (1 - shared.pa) * e +
         shared.pa * ePa_[static_cast<std::size_t>(a - 1) * static_cast<std::size_t>(counted_) +
                          static_cast<std::size_t>(c)];
}

void DfeLikelihood::sums(std::int32_t g, const Shared& shared, GeneState& state) const {
  const auto width = static_cast<std::size_t>(counted_);
  const double* pn = pn_.data() + static_cast<std::size_t>(g - 1) * width;
  const double* count = count_.data() + static_cast<std::size_t>(g - 1) * width;
  double wn = 0.0;
  double dot = 0.0;
  double rl = 0.0;
  if (settings_.model == Model::AdaptiveStrength) {
    for (std::int32_t c = 0; c < counted_; ++c) {
      const double mix = mixture(shared, state.cell, state.a, c);
      wn += shared.r[static_cast<std::size_t>(c)] * mix;
      dot += pn[c] * std::log(mix);
      rl += count[c] * shared.lnr[static_cast<std::size_t>(c)];
    }
  } else {
    const double* e = ePn_.data() + static_cast<std::size_t>(state.cell) * width;
    const double* lnE = lnEPn_.data() + static_cast<std::size_t>(state.cell) * width;
    for (std::int32_t c = 0; c < counted_; ++c) {
      wn += shared.r[static_cast<std::size_t>(c)] * e[c];
      dot += pn[c] * lnE[c];
      rl += count[c] * shared.lnr[static_cast<std::size_t>(c)];
    }
  }
  state.wn = wn;
  state.dot = dot;
  state.rl = rl;
}

double DfeLikelihood::divergencePart(const Gene& gene, const Shared& shared,
                                     const GeneState& state) const {
  const auto cell = static_cast<std::size_t>(state.cell);
  const double tu = shared.T * state.u;
  double edn = 0.0;
  double lnEdn = 0.0;
  double eds = gene.lsd * tu;
  double lnEds = gene.lnLsd + shared.lnT + state.lnU;
  if (settings_.model == Model::RPM) {
    edn = gene.lnd * tu * eDn_[cell];
    if (settings_.estimateAlpha) {
      edn = edn / (1 - shared.A);
    } else {
      edn = edn + shared.A * tu * gene.lnd;
    }
    if (settings_.includePolymorphism) {
      const double nu = state.n * state.u;
      edn = edn + nu * eHn_[cell] * gene.lnd;
      eds = eds + nu * gene.lsd;
      lnEdn = std::log(edn);
      lnEds = std::log(eds);
    } else if (settings_.estimateAlpha) {
      lnEdn = gene.lnLnd + shared.lnT + state.lnU + lnEDn_[cell] - shared.lnOneMinusA;
    } else {
      lnEdn = std::log(edn);
    }
  } else {
    // A mutation of strength SaN fixes at SaN / (1 - e^-SaN) times the neutral rate.
    const double saN = shared.sa * state.n;
    const double fixation = saN / (1 - std::exp(-saN));
    edn = gene.lnd * tu * ((1 - shared.pa) * eDn_[cell] + shared.pa * fixation);
    if (settings_.includePolymorphism)
      edn =
          edn + state.n * state.u * shared.rLast * ePaLast_[static_cast<std::size_t>(state.a - 1)];
    lnEdn = std::log(edn);
  }
  return -edn + gene.dn * lnEdn - eds + gene.ds * lnEds;
}

void DfeLikelihood::evaluate(std::int32_t g, const Shared& shared, const Change& change,
                             GeneState& state) const {
  const double column = tables_.columnOf(shared.lnMeanS + state.lnN);
  if (!tables_.inGrid(shared.row, column)) {
    state.cell = -1;
    state.ll = kOutOfGrid;
    return;
  }
  const std::int32_t cell = (static_cast<std::int32_t>(shared.row) - 1) * tables_.maxMeanSIndex +
                            static_cast<std::int32_t>(column) - 1;
  const std::int32_t a = settings_.model == Model::AdaptiveStrength
                             ? tables_.adaptiveColumnOf(shared.lnSa + state.lnN)
                             : 0;
  const bool fresh = change.kind == Change::Full || state.cell != cell || state.a != a ||
                     state.mixVersion != shared.mixVersion;
  if (fresh) {
    state.cell = cell;
    state.a = a;
    state.mixVersion = shared.mixVersion;
    sums(g, shared, state);
  } else if (change.kind == Change::Class) {
    // Only this class's share of the sums moves.
    state.wn += change.dr * mixture(shared, cell, a, change.c);
    state.rl += count_[static_cast<std::size_t>(g - 1) * static_cast<std::size_t>(counted_) +
                       static_cast<std::size_t>(change.c)] *
                change.dlnr;
  }
  const Gene& gene = genes_[static_cast<std::size_t>(g - 1)];
  if (settings_.model != Model::RPPQ &&
      (fresh || change.kind != Change::Class || change.divergenceToo)) {
    state.div = divergencePart(gene, shared, state);
  }
  const double polymorphism = -state.n * state.u * (gene.ln * state.wn + gene.ls * shared.ws) +
                              (state.lnN + state.lnU) * gene.countSum + state.rl + state.dot +
                              gene.constant;
  state.ll = polymorphism + state.div;
}

double DfeLikelihood::geneLogLikelihood(std::int32_t p,
                                        const std::vector<double>& parameters) const {
  Shared shared;
  buildShared(parameters, shared);
  const std::int32_t g = ParameterLayout::geneOf(p);
  GeneState state = geneState(g, parameters);
  evaluate(g, shared, Change{Change::Full}, state);
  return state.ll;
}

void DfeLikelihood::start(const std::vector<double>& parameters) {
  parameters_ = parameters;
  buildShared(parameters_, *shared_);
  for (std::int32_t g = 1; g <= layout_.genes; ++g) {
    GeneState& state = state_[static_cast<std::size_t>(g - 1)];
    state = geneState(g, parameters_);
    evaluate(g, *shared_, Change{Change::Full}, state);
  }
  totalValid_ = false;
  proposed_ = 0;
}

double DfeLikelihood::geneValue(std::int32_t g) const {
  return state_[static_cast<std::size_t>(g - 1)].ll;
}

double DfeLikelihood::total() const {
  if (!totalValid_) {
    double sum = 0.0;
    for (const auto& state : state_) sum += state.ll;
    total_ = sum;
    totalValid_ = true;
  }
  return total_;
}

DfeLikelihood::Change DfeLikelihood::apply(std::int32_t p, double x, Shared& shared) const {
  if (p == layout_.meanS) {
    shared.meanS = x;
    shared.lnMeanS = std::log(x);
    return {Change::Grid};
  }
  if (p == layout_.shape) {
    shared.beta = x;
    shared.row = tables_.rowOf(x);
    return {Change::Grid};
  }
  if (p == layout_.adaptive) {
    shared.A = x;
    shared.lnOneMinusA = std::log(1 - x);
    return {Change::Divergence};
  }
  if (p == layout_.divergence) {
    shared.T = x;
    shared.lnT = std::log(x);
    return {Change::Divergence};
  }
  if (p == layout_.proportion) {
    shared.pa = x;
    ++shared.mixVersion;
    return {Change::Grid};
  }
  if (p == layout_.strength) {
    shared.sa = x;
    shared.lnSa = std::log(x);
    return {Change::Grid};
  }
  // A class weight.
  const std::int32_t f = p - layout_.rOffset;
  const bool lastClassInDivergence = settings_.model == Model::AdaptiveStrength &&
                                     settings_.includePolymorphism && f == layout_.classes;
  if (lastClassInDivergence) shared.rLast = x;
  const std::int32_t c = f - first_;
  if (c < 1) return {lastClassInDivergence ? Change::Divergence : Change::None};
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

double DfeLikelihood::propose(std::int32_t p, double x) {
  proposed_ = p;
  proposedValue_ = x;
  if (layout_.isGenePosition(p)) {
    sharedPending_ = false;
    const std::int32_t g = ParameterLayout::geneOf(p);
    GeneState& candidate = *geneCandidate_;
    candidate = state_[static_cast<std::size_t>(g - 1)];
    const double lnX = std::log(x);
    if (p % 2 == 1) {
      candidate.n = x;
      candidate.lnN = lnX;
    } else {
      candidate.u = x;
      candidate.lnU = lnX;
    }
    evaluate(g, *shared_, Change{Change::Gene}, candidate);
    return candidate.ll;
  }
  sharedPending_ = true;
  *candidateShared_ = *shared_;
  const Change change = apply(p, x, *candidateShared_);
  pendingChangesGenes_ = change.kind != Change::None;
  if (!pendingChangesGenes_) return total();
  const Shared& shared = *candidateShared_;
  auto work = [&](std::int32_t begin, std::int32_t end) {
    for (std::int32_t i = begin; i < end; ++i) {
      GeneState& candidate = candidates_[static_cast<std::size_t>(i)];
      candidate = state_[static_cast<std::size_t>(i)];
      evaluate(i + 1, shared, change, candidate);
    }
  };
  if (team_ != nullptr) {
    team_->run(layout_.genes, work);
  } else {
    work(0, layout_.genes);
  }
  double sum = 0.0;
  for (const auto& candidate : candidates_) sum += candidate.ll;
  return sum;
}

void DfeLikelihood::accept() {
  if (proposed_ == 0) return;
  parameters_[static_cast<std::size_t>(proposed_)] = proposedValue_;
  if (sharedPending_) {
    std::swap(shared_, candidateShared_);
    if (pendingChangesGenes_) {
      std::swap(state_, candidates_);
      totalValid_ = false;
    }
  } else {
    state_[static_cast<std::size_t>(ParameterLayout::geneOf(proposed_) - 1)] = *geneCandidate_;
    totalValid_ = false;
  }
  proposed_ = 0;
}

}  // namespace zelk::dfe
