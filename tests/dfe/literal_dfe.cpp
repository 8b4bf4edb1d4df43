#include "literal_dfe.h"

#include <cmath>

#include "dfe/step_draws.h"
#include "stats/special_function.h"

namespace zelk::testing {

LiteralDfe::LiteralDfe(const dfe::ModelSettings& settings, const Matrix& data, std::int32_t classes,
                       const dfe::DfeTables& tables)
    : settings_(settings), data_(data), k_(classes), tables_(tables) {
  double largest = 0;
  for (int i = 1; i <= data.rows(); ++i)
    for (int j = 2; j <= data.cols(); ++j) largest = std::fmax(largest, data(i, j));
  logFact_.assign(static_cast<std::size_t>(largest) + 1, 0.0);
  for (std::size_t i = 1; i < logFact_.size(); ++i)
    logFact_[i] = logFact_[i - 1] + std::log(static_cast<double>(i));
}

double LiteralDfe::logPoisson(double x, double mean) const {
  return -mean + x * std::log(mean) - logFact_[static_cast<std::size_t>(x)];
}

double LiteralDfe::logLikelihood(std::int32_t p, const std::vector<double>& par) const {
  const auto at = [&](std::int32_t i) { return par[static_cast<std::size_t>(i)]; };
  const std::int32_t g = (p - 1) / 2 + 1;
  const std::int32_t q = (g - 1) * 2;
  const double N = at(q + 1);
  const double u = at(q + 2);
  const auto P = static_cast<std::int32_t>(par.size()) - 1;
  const std::int32_t G = data_.rows();
  const std::int32_t U = data_.cols();
  const std::int32_t roffset = 2 * G - 1;
  double meanS = 0, beta = 0, A = 0, T = 0, Pa = 0, Sa = 0;
  switch (settings_.model) {
    case dfe::Model::RPPQ:
      meanS = at(P - 1);
      beta = at(P);
      break;
    case dfe::Model::RPM:
      meanS = at(P - 3);
      beta = at(P - 2);
      A = at(P - 1);
      T = at(P);
      break;
    case dfe::Model::AdaptiveStrength:
      meanS = at(P - 4);
      beta = at(P - 3);
      T = at(P - 2);
      Pa = at(P - 1);
      Sa = at(P);
      break;
  }
  const double S = meanS * N;
  const double b = std::round((beta - tables_.betaMin) / tables_.betaStep) + 1;
  double m = std::round((std::log(S) - tables_.logMeanSMin) / tables_.logMeanSStep) + 1;
  if (m < 1) m = 1;
  if (!(b <= tables_.maxBetaIndex) || !(b >= 1) || !(m <= tables_.maxMeanSIndex)) return -1e10;
  const auto bi = static_cast<std::int32_t>(b);
  const auto mi = static_cast<std::int32_t>(m);
  std::int32_t a = 0;
  if (settings_.model == dfe::Model::AdaptiveStrength) {
    double ad = std::round((std::log(Sa * N) - tables_.logSaMin) / tables_.logSaStepSize);
    if (!(ad >= 1)) {
      ad = 1;
    } else if (ad > tables_.logSaSteps) {
      ad = std::trunc(tables_.logSaSteps);
    }
    a = static_cast<std::int32_t>(ad);
  }

  double LL = 0;
  const std::int32_t f0 = settings_.includeSingletons ? 1 : 2;
  const double Ln = data_(g, 2);
  const double Ls = data_(g, k_ + 3);
  for (std::int32_t f = f0; f <= k_; ++f) {
    const double r = f == f0 ? 1 : at(roffset + f);
    const double Es = r * N * u * Ls * tables_.ePsLookUpTable[static_cast<std::size_t>(f)];
    double table = tables_.ePnLookUpTable(f, bi, mi);
    if (settings_.model == dfe::Model::AdaptiveStrength)
      table = (1 - Pa) * table + Pa * tables_.ePaLookUpTable(f, a);
    const double En = r * N * u * Ln * table;
    LL = LL + logPoisson(data_(g, 2 + f), En) + logPoisson(data_(g, k_ + 3 + f), Es);
  }
  if (settings_.model == dfe::Model::RPPQ) return LL;

  const double Lnd = std::trunc(data_(g, U - 3));
  const double Dn = data_(g, U - 2);
  const double Lsd = std::trunc(data_(g, U - 1));
  const double Ds = data_(g, U);
  double EDs = Lsd * T * u;
  double EDn = 0;
  if (settings_.model == dfe::Model::RPM) {
    EDn = Lnd * T * u * tables_.eDnLookUpTable(bi, mi);
    if (settings_.estimateAlpha) {
      EDn = EDn / (1 - A);
    } else {
      EDn = EDn + A * T * u * Lnd;
    }
    if (settings_.includePolymorphism) {
      EDn = EDn + N * u * tables_.eHnLookUpTable(bi, mi) * Lnd;
      EDs = EDs + N * u * Lsd;
    }
  } else {
    const double SaN = Sa * N;
    EDn =
        Lnd * T * u * ((1 - Pa) * tables_.eDnLookUpTable(bi, mi) + Pa * SaN / (1 - std::exp(-SaN)));
    if (settings_.includePolymorphism)
      EDn = EDn + N * u * at(roffset + k_) * tables_.ePaLookUpTable(k_, a);
  }
  return LL + logPoisson(Dn, EDn) + logPoisson(Ds, EDs);
}

std::vector<std::vector<double>> literalSamples(const LiteralDfe& model, LiteralChain chain,
                                                std::int32_t reps, std::int32_t burnIn,
                                                std::int32_t sampling, std::uint64_t seed) {
  auto& par = chain.parameters;
  const auto P = static_cast<std::int32_t>(par.size()) - 1;
  const std::int32_t G = model.genes();
  const dfe::StepDraws draws(seed);
  std::vector<double> logL(static_cast<std::size_t>(G) + 1);
  std::vector<double> candidates(static_cast<std::size_t>(G) + 1);
  for (std::int32_t g = 1; g <= G; ++g)
    logL[static_cast<std::size_t>(g)] = model.logLikelihood(2 * g, par);
  const specialFunctionClass functions;
  std::vector<std::vector<double>> rows;

  for (std::int32_t t = 1; t <= reps + burnIn; ++t) {
    const std::uint64_t stepKey = draws.stepKey(t);
    for (std::int32_t p = 1; p <= P; ++p) {
      const auto i = static_cast<std::size_t>(p);
      if (chain.lower[i] == chain.upper[i]) continue;
      const double old = par[i];
      // Position p's draws of step t, in turn: the proposal's tries, then the decision.
      std::uint32_t drawn = 0;
      int tries = 0;
      double x = 0;
      do {
        x = par[i] + chain.steps[i] * (dfe::StepDraws::uniform(stepKey, p, drawn++) - 0.5);
        ++tries;
        if (tries > 20) chain.steps[i] *= 0.95;
      } while (!(chain.lower[i] < x && x < chain.upper[i]));
      par[i] = x;
      double Lold = 0;
      double Lnew = 0;
      const std::int32_t gene = (p - 1) / 2 + 1;
      if (chain.evaluateAll[i]) {
        for (std::int32_t g = 1; g <= G; ++g) {
          Lold += logL[static_cast<std::size_t>(g)];
          candidates[static_cast<std::size_t>(g)] = model.logLikelihood(2 * g, par);
          Lnew += candidates[static_cast<std::size_t>(g)];
        }
      } else {
        Lold = logL[static_cast<std::size_t>(gene)];
        Lnew = model.logLikelihood(p, par);
      }
      const double v = dfe::StepDraws::uniform(stepKey, p, drawn++);
      if (Lold < Lnew || std::log(v) < Lnew - Lold) {
        chain.steps[i] /= 0.95;
        if (chain.evaluateAll[i]) {
          logL = candidates;
        } else {
          logL[static_cast<std::size_t>(gene)] = Lnew;
        }
      } else {
        par[i] = old;
        chain.steps[i] *= 0.95;
      }
    }
    if (sampling > 0 && t > burnIn && t % sampling == 0) {
      double L = 0;
      double sizes = 0;
      for (std::int32_t g = 1; g <= G; ++g) {
        L += logL[static_cast<std::size_t>(g)];
        sizes += par[static_cast<std::size_t>(2 * g - 1)];
      }
      const double meanN = sizes / G;
      const bool adaptiveClass = model.settings().model == dfe::Model::AdaptiveStrength;
      const std::int32_t shared = adaptiveClass                               ? P - 4
                                  : model.settings().model == dfe::Model::RPM ? P - 3
                                                                              : P - 1;
      const double meanS = par[static_cast<std::size_t>(shared)];
      const double beta = par[static_cast<std::size_t>(shared + 1)];
      const double mean = meanS * meanN;
      const double rate = beta / mean;
      std::vector<double> row = {static_cast<double>(t), L, beta, mean};
      const double bounds[] = {0, 2, 20, 200, 20000000};
      for (int k = 0; k < 4; ++k)
        row.push_back(functions.gammaRegularized(beta, bounds[k] * rate, bounds[k + 1] * rate));
      if (model.settings().model == dfe::Model::RPM)
        row.push_back(par[static_cast<std::size_t>(P - 1)]);
      if (adaptiveClass) {
        row.push_back(par[static_cast<std::size_t>(P - 1)]);
        row.push_back(par[static_cast<std::size_t>(P)] * meanN);
      }
      rows.push_back(std::move(row));
    }
  }
  return rows;
}

}  // namespace zelk::testing
