#include "dfe/dfe_methods.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "common/numbers.h"
#include "common/parallel.h"
#include "dfe/gene_team.h"
#include "dfe/step_draws.h"
#include "stats/special_function.h"

namespace zelk::dfe {
namespace {

constexpr double kStartSize = 10000;      // every gene's size factor N_g at the start
constexpr double kMostSize = 100000000;   // upper limit of N_g
constexpr double kMostDivergence = 1e13;  // upper limit of T
constexpr double kMostMeanOrShape = 100;  // upper limit of S-bar and of beta
constexpr double kMostWeight = 100;       // upper limit of a class weight
constexpr double kRateRange = 10;         // u_g lies within D / 10 .. D * 10
constexpr double kMostSampleSize = 1000000;

// The shares of the gamma distribution reported per sample, on the scale of 4Ns.
constexpr double kShareBounds[5] = {0, 2, 20, 200, 20000000};

// A choice of "Yes" and "No" radio buttons.
OptionSpec yesNo(const char* field, const char* group, const char* yesControl,
                 const char* noControl, const char* defaultValue, const char* flag,
                 const char* help) {
  return {.field = field,
          .controlName = std::string(field) + "Group",
          .caption = group,
          .group = group,
          .kind = OptionKind::Choice,
          .defaultText = defaultValue,
          .choices = {{yesControl, "Yes", "yes", "yes"}, {noControl, "No", "no", "no"}},
          .flag = flag,
          .help = help};
}

OptionSpec textField(const char* field, const char* caption, const char* group, OptionKind kind,
                     const char* defaultText, const char* flag, const char* help) {
  return {.field = field,
          .controlName = field,
          .caption = caption,
          .group = group,
          .kind = kind,
          .defaultText = defaultText,
          .choices = {},
          .flag = flag,
          .help = help};
}

std::string integerText(std::int64_t value) {
  return std::to_string(value);
}

// A number in a progress text or a message: up to seven significant digits.
std::string messageNumber(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.7g", value);
  return buffer;
}

}  // namespace

DFEmethods::DFEmethods(const std::string& type)
    : DFEmethods(type == "RPM" ? Model::RPM : Model::RPPQ) {}

DFEmethods::DFEmethods(Model model) : model_(model) {
  if (model == Model::RPPQ) analysisType = "RPPQ";
  if (model == Model::RPM) analysisType = "RPM";
}

DFEmethods::~DFEmethods() = default;

std::vector<OptionSpec> DFEmethods::options(std::string_view type) {
  std::vector<OptionSpec> record = {
      yesNo(kIncludeSingletons, "Include singletons", "includeSingletonsYes", "includeSingletonsNo",
            "yes", "include-singletons", "fit frequency class 1 (the singletons)"),
      textField(kMeanS, "Mean S (4Ns)", "DFE start values", OptionKind::Number, "10000", "mean-s",
                "start value of the mean selection strength 4Ns"),
      textField(kShape, "Shape", "DFE start values", OptionKind::Number, "0.25", "shape",
                "start value of the gamma shape"),
      textField(kPropWidth, "Prop. width", "MCMC control", OptionKind::Number, "0.1", "prop-width",
                "proposal width as a fraction of each start value"),
      textField(kBurnIn, "Burn-in", "MCMC control", OptionKind::Integer, "100000", "burn-in",
                "steps before samples are recorded"),
      textField(kSampling, "Sampling", "MCMC control", OptionKind::Integer, "1000", "sampling",
                "record a sample every this many steps"),
      textField(kReps, "No. of reps", "MCMC control", OptionKind::Integer, "1000000", "reps",
                "steps after the burn-in"),
  };
  if (type == "RPM") {
    record.push_back(textField(kAlpha, "Start Value", "Adaptive evolution", OptionKind::Number,
                               "0.25", "adaptive-start", "start value of alpha or omegaA"));
    record.push_back(yesNo(kIncludePolymorphism, "Include polymorphism",
                           "yesIncludePolymorphismButton", "noIncludePolymrorphismButton", "no",
                           "include-polymorphism",
                           "take the divergence counts to include the polymorphisms"));
    record.push_back({.field = kEstimate,
                      .controlName = "alphaOrOmegaAGroup",
                      .caption = "Alpha or OmegaA",
                      .group = "Alpha or OmegaA",
                      .kind = OptionKind::Choice,
                      .defaultText = "alpha",
                      .choices = {{"alphaButton", "alpha", "alpha", "alpha"},
                                  {"aButton", "omegaA", "omegaA", "omegaA"}},
                      .flag = "estimate",
                      .help = "estimate the proportion of adaptive substitutions (alpha) or "
                              "their rate relative to neutral (omegaA)"});
  }
  return record;
}

std::optional<std::string> DFEmethods::readSettings(const OptionValues& values) {
  const auto number = [&](const char* field) { return leadingNumber(values.text(field)); };
  const auto outside = [&](const char* caption, const char* field, double value, double lower,
                           double upper) -> std::optional<std::string> {
    if (value > lower && value < upper) return std::nullopt;
    return std::string(caption) + ": the start value \"" + values.text(field) +
           "\" must lie strictly between " + messageNumber(lower) + " and " + messageNumber(upper) +
           ", or the sampler could never propose a value inside its limits";
  };
  const auto count = [&](const char* caption, const char* field,
                         std::int32_t& out) -> std::optional<std::string> {
    const double value = std::trunc(number(field));
    if (!(value >= 0 && value <= std::numeric_limits<std::int32_t>::max())) {
      return std::string(caption) + ": \"" + values.text(field) +
             "\" is not a usable number of steps; enter a whole number from 0 to " +
             integerText(std::numeric_limits<std::int32_t>::max());
    }
    out = static_cast<std::int32_t>(value);
    return std::nullopt;
  };

  DfeSettings read;
  read.includeSingletons = values.is(kIncludeSingletons, "yes");
  read.meanS = number(kMeanS);
  read.shape = number(kShape);
  read.propWidth = number(kPropWidth);
  // The limit is on the mean per unit of gene size, S-bar; it is stated on the scale typed.
  if (auto message = outside("Mean S (4Ns)", kMeanS, read.meanS, 0, kMostMeanOrShape * kStartSize))
    return message;
  if (auto message = outside("Shape", kShape, read.shape, 0, kMostMeanOrShape)) return message;
  if (!(read.propWidth >= 0 && std::isfinite(read.propWidth))) {
    return "Prop. width: \"" + values.text(kPropWidth) +
           "\" must be 0 or more; a negative proposal width has no meaning";
  }
  if (auto message = count("Burn-in", kBurnIn, read.burnIn)) return message;
  if (auto message = count("Sampling", kSampling, read.sampling)) return message;
  if (auto message = count("No. of reps", kReps, read.reps)) return message;
  if (std::int64_t{read.burnIn} + read.reps > std::numeric_limits<std::int32_t>::max()) {
    return "Burn-in and No. of reps: together they must not exceed " +
           integerText(std::numeric_limits<std::int32_t>::max()) + " steps";
  }
  if (model_ == Model::RPM) {
    read.estimateAlpha = values.is(kEstimate, "alpha");
    read.includePolymorphism = values.is(kIncludePolymorphism, "yes");
    read.adaptiveStart = number(kAlpha);
    if (auto message =
            outside("Start Value", kAlpha, read.adaptiveStart, -100, read.estimateAlpha ? 1 : 100))
      return message;
  }
  if (model_ == Model::AdaptiveStrength) {
    read.includePolymorphism = values.is(kIncludePolymorphism, "yes");
    read.proportion = number(kProportion);
    read.strength = number(kStrength);
    if (auto message = outside("Proportion", kProportion, read.proportion, -1, 1)) return message;
    if (auto message = outside("Strength", kStrength, read.strength, 0, kStartSize)) return message;
  }
  settings = read;
  includeSingletons = read.includeSingletons;
  includePolymorphism = read.includePolymorphism;
  estimateAlpha = read.estimateAlpha;
  return std::nullopt;
}

ParameterLayout DFEmethods::layout() const {
  return ParameterLayout::of(model_, noOfGenes, noOfCats);
}

bool DFEmethods::refuseDataset(RunContext& context, const std::string& why) {
  context.refuse(context.dataWindow.datasetLocation() + ": " + why);
  return false;
}

bool DFEmethods::checkDataset(RunContext& context) {
  const std::int32_t width = data.cols();
  if (model_ == Model::AdaptiveStrength) {
    if (noOfCats < 2) {
      return refuseDataset(context, "the sample size in column 1 is " + integerText(sampleSize) +
                                        "; this analysis needs a sample size of at least 3");
    }
    if (width < 2 * noOfCats + 7) {
      return refuseDataset(context, "a sample size of " + integerText(sampleSize) + " needs " +
                                        integerText(2 * noOfCats + 7) +
                                        " numeric columns (two site counts, " +
                                        integerText(noOfCats) +
                                        " classes of each kind and four divergence columns), "
                                        "but the dataset has " +
                                        integerText(width));
    }
  } else if (noOfCats < 1) {
    return refuseDataset(context, "the dataset has " + integerText(width) +
                                      " numeric columns, too few for one " +
                                      "frequency class (at least " +
                                      integerText(model_ == Model::RPM ? 9 : 5) + " are needed)");
  }
  const bool withDivergence = model_ != Model::RPPQ;
  const DatasetColumns at{noOfCats, width};
  const auto& table = context.dataWindow.data();
  const auto geneName = [&](std::int32_t g) {
    const auto row = static_cast<std::size_t>(g);
    std::string where = "gene \"" + table.rows[row][0] + "\"";
    if (row < table.lines.size())
      where += " (line " + integerText(static_cast<std::int64_t>(table.lines[row])) + ")";
    return where;
  };
  for (std::int32_t g = 1; g <= noOfGenes; ++g) {
    for (std::int32_t j = 2; j <= width; ++j) {
      if (data(g, j) < 0) {
        return refuseDataset(context, geneName(g) + " holds the negative count " +
                                          messageNumber(data(g, j)) + " in column " +
                                          integerText(j + 1) + " of the file");
      }
    }
    const auto noSites = [&](std::int32_t column, const char* what) {
      return refuseDataset(context, geneName(g) + " has no " + what + " (column " +
                                        integerText(column + 1) +
                                        " of the file is 0), so its likelihood is not defined");
    };
    if (!(data(g, DatasetColumns::kLn) > 0))
      return noSites(DatasetColumns::kLn, "non-synonymous sites");
    if (!(data(g, at.ls()) > 0)) return noSites(at.ls(), "synonymous sites");
    if (withDivergence) {
      if (!(std::trunc(data(g, at.lnd())) > 0))
        return noSites(at.lnd(), "non-synonymous sites for divergence");
      if (!(std::trunc(data(g, at.lsd())) > 0))
        return noSites(at.lsd(), "synonymous sites for divergence");
    }
  }
  return true;
}

void DFEmethods::setPosition(std::int32_t p, double start, double lower, double upper,
                             bool shared) {
  const auto i = static_cast<std::size_t>(p);
  parameters[i] = start;
  lowerLimits[i] = lower;
  upperLimits[i] = upper;
  evaluateAll[i] = shared;
  steps[i] = settings.propWidth * start;
}

bool DFEmethods::initialiseParameters(RunContext& context) {
  engine_.reset();
  noOfGenes = data.rows();
  const double typedSize = noOfGenes >= 1 ? std::trunc(data(1, 1)) : 0;
  if (!(typedSize >= 1 && typedSize <= kMostSampleSize)) {
    return refuseDataset(context,
                         "column 1 of the first gene should hold the sample size, a "
                         "whole number from 1 to " +
                             messageNumber(kMostSampleSize));
  }
  sampleSize = static_cast<std::int32_t>(typedSize);
  parametersPerGene = 2;
  const std::int32_t width = data.cols();
  switch (model_) {
    case Model::RPPQ:
      noOfCats = (width - 3) / 2;
      break;
    case Model::RPM:
      noOfCats = (width - 7) / 2;
      break;
    case Model::AdaptiveStrength:
      noOfCats = sampleSize - 1;
      break;
  }
  if (!checkDataset(context)) return false;
  const ParameterLayout positions = layout();
  noOfParameters = positions.count;
  RoffSet = positions.rOffset;
  PnOffSet = 2;
  PsOffSet = noOfCats + 3;
  divOffSet = width - 3;

  // The start of the rate factors: synonymous singletons per synonymous site.
  const DatasetColumns at{noOfCats, width};
  double singletons = 0;
  double sites = 0;
  for (std::int32_t g = 1; g <= noOfGenes; ++g) {
    singletons += data(g, at.ps(1));
    sites += std::trunc(data(g, at.ls()));
  }
  const double d = singletons / sites / kStartSize;
  if (!(d > 0 && std::isfinite(d))) {
    return refuseDataset(context,
                         "no gene has a synonymous singleton (column " + integerText(at.ps(1) + 1) +
                             " of the file), so the genes' rate factors would start at 0 and "
                             "never move, and every likelihood would be undefined");
  }
  double divergenceStart = 0;
  if (model_ != Model::RPPQ) {
    double substitutions = 0;
    double divergenceSites = 0;
    for (std::int32_t g = 1; g <= noOfGenes; ++g) {
      substitutions += data(g, at.ds());
      divergenceSites += std::trunc(data(g, at.lsd()));
    }
    divergenceStart = (substitutions == 0 ? 1 : substitutions) / (divergenceSites * d);
  }

  const auto size = static_cast<std::size_t>(noOfParameters) + 1;
  parameters.assign(size, 0.0);
  lowerLimits.assign(size, 0.0);
  upperLimits.assign(size, 0.0);
  steps.assign(size, 0.0);
  evaluateAll.assign(size, false);
  logLikelihoods.assign(static_cast<std::size_t>(noOfGenes) + 1, 0.0);
  for (std::int32_t g = 1; g <= noOfGenes; ++g) {
    setPosition(2 * g - 1, kStartSize, 0, kMostSize, false);
    setPosition(2 * g, d, d / kRateRange, d * kRateRange, false);
  }
  for (std::int32_t f = 2; f <= noOfCats; ++f) setPosition(RoffSet + f, 1, 0, kMostWeight, true);
  setPosition(positions.meanS, settings.meanS / kStartSize, 0, kMostMeanOrShape, true);
  setPosition(positions.shape, settings.shape, 0, kMostMeanOrShape, true);
  if (positions.adaptive != 0)
    setPosition(positions.adaptive, settings.adaptiveStart, -100, estimateAlpha ? 1 : 100, true);
  if (positions.divergence != 0) {
    if (!(divergenceStart > 0 && divergenceStart < kMostDivergence)) {
      return refuseDataset(
          context, "the divergence factor would start at " + messageNumber(divergenceStart) +
                       ", outside its limits 0 and 1e13 (too few synonymous sites for "
                       "divergence against synonymous singletons)");
    }
    setPosition(positions.divergence, divergenceStart, 0, kMostDivergence, true);
  }
  if (positions.proportion != 0) {
    setPosition(positions.proportion, settings.proportion, -1, 1, true);
    setPosition(positions.strength, settings.strength / kStartSize, 0, 1, true);
  }
  return true;
}

void DFEmethods::calculateConstants() {
  engine_.reset();
  const std::int32_t width = data.cols();
  double largest = 0;
  for (std::int32_t i = 1; i <= noOfGenes; ++i) {
    for (std::int32_t j = 3; j <= width; ++j) {
      if (j == noOfCats + 3) continue;
      if (model_ == Model::RPM && (j == width - 1 || j == width - 3)) continue;
      if (largest < data(i, j)) largest = std::trunc(data(i, j));
    }
  }
  // Counts beyond the table take ln k! from the log-gamma function.
  logFact.build(largest);
}

bool DFEmethods::loadLookUpTable(RunContext& context) {
  const bool extended = model_ == Model::AdaptiveStrength;
  if (!extended && currentLookUpTable == sampleSize && sampleSize != 0) return true;
  engine_.reset();
  const auto chosen = context.platform.chooseFileToOpen("Select a lookup table");
  if (!chosen) {
    return refuseDataset(context, "no lookup table was chosen, so the dataset is not analysed");
  }
  if (extended) {
    auto read = tablegen::readExtendedLookupTable(*chosen, noOfCats + 1);
    if (!read.table) return refuseDataset(context, read.message);
    tables = fromExtendedLayout(*read.table);
  } else {
    auto read = tablegen::readLookupTable(*chosen);
    if (!read.table) return refuseDataset(context, read.message);
    const tablegen::LookupTable& table = *read.table;
    if (table.classCount() != noOfCats || table.sampleSize != sampleSize) {
      currentLookUpTable = 0;
      return refuseDataset(context, "the lookup table does not fit it: " + chosen->string() +
                                        " line 2 gives " + integerText(table.classCount()) +
                                        " frequency classes and sample size " +
                                        integerText(table.sampleSize) + ", but the dataset has " +
                                        integerText(noOfCats) + " classes and sample size " +
                                        integerText(sampleSize));
    }
    tables = fromCoreLayout(table);
  }
  currentLookUpTable = sampleSize;
  return true;
}

double DFEmethods::logPoisson(double x, double mean) const {
  return -mean + x * std::log(mean) - logFact(x);
}

DfeLikelihood& DFEmethods::engine() const {
  const ModelSettings wanted{model_, includeSingletons, includePolymorphism, estimateAlpha};
  if (!engine_ || engineSettings_.includeSingletons != wanted.includeSingletons ||
      engineSettings_.includePolymorphism != wanted.includePolymorphism ||
      engineSettings_.estimateAlpha != wanted.estimateAlpha) {
    engine_ = std::make_unique<DfeLikelihood>(wanted, data, noOfCats, tables, logFact);
    engineSettings_ = wanted;
  }
  return *engine_;
}

double DFEmethods::logLikelihoodLookUp(std::int32_t p) const {
  return engine().geneLogLikelihood(p, parameters);
}

bool DFEmethods::checkStartInGrid(RunContext& context) {
  const ParameterLayout positions = layout();
  const double beta = parameters[static_cast<std::size_t>(positions.shape)];
  if (!(tables.rowOf(beta) >= 1 && tables.rowOf(beta) <= tables.maxBetaIndex)) {
    const double last = tables.betaMin + (tables.maxBetaIndex - 1) * tables.betaStep;
    return refuseDataset(context, "Shape: the start value " + messageNumber(beta) +
                                      " lies outside the lookup table's shapes (" +
                                      messageNumber(tables.betaMin) + " to " + messageNumber(last) +
                                      "), where every likelihood is " + "the out-of-grid value");
  }
  const double meanS = parameters[static_cast<std::size_t>(positions.meanS)] * kStartSize;
  if (!(tables.columnOf(std::log(meanS)) <= tables.maxMeanSIndex)) {
    const double last =
        std::exp(tables.logMeanSMin + (tables.maxMeanSIndex - 1) * tables.logMeanSStep);
    return refuseDataset(context, "Mean S (4Ns): the start value " + messageNumber(meanS) +
                                      " lies above the lookup table's largest mean (" +
                                      messageNumber(last) + "), where every likelihood is " +
                                      "the out-of-grid value");
  }
  return true;
}

void DFEmethods::writeOpening(RunContext& context) const {
  resultsWindow& out = context.results;
  out.writeLn();
  if (model_ == Model::AdaptiveStrength) {
    out.writeLn("Running new method");
    out.writeLn();
  }
  if (model_ == Model::RPPQ) {
    out.writeLn("Running method of RP, Penhalt and Quillon (2006) Genetics");
  } else {
    out.writeLn("Running method of RP and Moffrey (2009) Mol. Biol. Evol.");
  }
  out.writeLn();
  out.writeLn("Dataset " + context.dataWindow.title());
  out.writeLn();
  if (context.dataWindow.multiDataFile) {
    out.autoTabulate = true;
    out.tabLength = 15;
    if (model_ == Model::RPM) {
      out.writeLn("File", "Shape", "SE", "Mean 4Ns", "SE", "Ns(0-1)", "SE", "Ns(1-10)", "SE",
                  "Ns(10-100)", "SE", "Ns(>100)", "SE", estimateAlpha ? "alpha" : "omegaA", "SE");
    } else {
      out.writeLn("File", "Shape", "SE", "Mean 4Ns", "SE");
    }
  } else {
    out.autoTabulate = false;
  }
}

std::string DFEmethods::sampleTitles() const {
  std::string titles = "Step,LogLike,Shape,Mean 4Nes,Nes(0-1),Nes(1-10),Nes(10-100),Nes(>100)";
  if (model_ == Model::RPM) titles += estimateAlpha ? ",Alpha" : ",omegaA";
  if (model_ == Model::AdaptiveStrength) titles += ",Pa,Sa";
  return titles;
}

std::int32_t DFEmethods::sampleColumns() const {
  switch (model_) {
    case Model::RPPQ:
      return 8;
    case Model::RPM:
      return 9;
    case Model::AdaptiveStrength:
      return 10;
  }
  return 8;
}

void DFEmethods::recordSample(std::int32_t t, double meanN) {
  const DfeLikelihood& current = engine();
  const ParameterLayout positions = layout();
  const auto& values = current.parameters();
  const auto at = [&](std::int32_t p) { return values[static_cast<std::size_t>(p)]; };
  const double beta = at(positions.shape);
  const double mean = at(positions.meanS) * meanN;
  const double rate = beta / mean;
  samples.append(t);
  samples.append(current.total());
  samples.append(beta);
  samples.append(mean);
  const specialFunctionClass functions;
  for (int i = 0; i < 4; ++i)
    samples.append(
        functions.gammaRegularized(beta, kShareBounds[i] * rate, kShareBounds[i + 1] * rate));
  if (model_ == Model::RPM) samples.append(at(positions.adaptive));
  if (model_ == Model::AdaptiveStrength) {
    samples.append(at(positions.proportion));
    samples.append(at(positions.strength) * meanN);
  }
  ++recordedSamples;
}

std::string DFEmethods::sampleProgress(std::int32_t afterBurnIn, double meanN) const {
  const ParameterLayout positions = layout();
  const auto& values = engine().parameters();
  const auto at = [&](std::int32_t p) { return values[static_cast<std::size_t>(p)]; };
  const std::string count = integerText(afterBurnIn);
  switch (model_) {
    case Model::RPPQ:
      return "Analysis running " + count + "   shape= " + messageNumber(at(positions.shape));
    case Model::RPM:
      return "Analysis running " + count + (estimateAlpha ? "   alpha = " : "   omegaA = ") +
             messageNumber(at(positions.adaptive));
    case Model::AdaptiveStrength:
      return count + "   Pa = " + messageNumber(at(positions.proportion)) +
             "    Sa = " + messageNumber(at(positions.strength) * meanN);
  }
  return count;
}

void DFEmethods::report(RunContext& context) const {
  resultsWindow& out = context.results;
  const resultsClass& r = samples;
  const std::int32_t columns = sampleColumns();
  if (context.dataWindow.multiDataFile) {
    out.autoTabulate = true;
    if (recordedSamples == 0) {
      out.writeLn(description, "no samples were recorded");
      return;
    }
    out.write(description);
    for (std::int32_t i = 3; i <= columns; ++i) out.write(r.mean(i), r.SD(i));
    out.writeLn();
    return;
  }
  if (recordedSamples == 0) {
    if (settings.sampling == 0) {
      out.writeLn("No samples were recorded: the sampling interval is 0");
    } else {
      out.writeLn("No samples were recorded: no step after the burn-in of " +
                  integerText(settings.burnIn) + " fell on a multiple of the sampling interval " +
                  integerText(settings.sampling) + " within the " + integerText(settings.reps) +
                  " steps that follow it");
    }
    return;
  }
  const auto interval = [&](const char* label, std::int32_t i) {
    out.writeLn(label, r.mean(i), "   ( ", r.CI95Low(i), " , ", r.CI95High(i), " )");
  };
  const auto spread = [&](const char* label, std::int32_t i) {
    out.writeLn(label, r.mean(i), "   ( ", r.SD(i), " )");
  };
  const bool adaptiveClass = model_ == Model::AdaptiveStrength;
  interval("Shape parameter : ", 3);
  interval("Mean selection (4Ns) : ", 4);
  if (adaptiveClass) out.writeLn("");
  spread("Ns(0-1) : ", 5);
  spread("Ns(1-10) : ", 6);
  spread("Ns(10-100) : ", 7);
  spread("Ns(>100) : ", 8);
  if (model_ == Model::RPM) interval(estimateAlpha ? "alpha : " : "omegaA : ", 9);
  if (adaptiveClass) {
    out.writeLn("");
    interval("Proportion of adaptive mutations : ", 9);
    interval("Adaptive selection strength : ", 10);
    out.writeLn("");
  }
}

bool DFEmethods::MCMC(RunContext& context) {
  const std::int32_t reps = settings.reps;
  const std::int32_t burnIn = settings.burnIn;
  const std::int32_t sampling = settings.sampling;
  if (!checkStartInGrid(context)) return true;
  DfeLikelihood& chain = engine();
  std::unique_ptr<GeneTeam> team;
  if (noOfGenes >= kParallelGenes && hardwareThreads() > 1) {
    team = std::make_unique<GeneTeam>(hardwareThreads());
    chain.setTeam(team.get());
  }
  chain.start(parameters);
  const StepDraws draws(context.platform.seed());
  samples.initialise(sampling > 0 ? (reps - burnIn) / sampling : 0, sampleColumns(),
                     sampleTitles());
  recordedSamples = 0;

  const std::int32_t genePositions = 2 * noOfGenes;

  progressWindow& progress = context.progress;
  progress.start("Burn-in", burnIn);
  const std::int32_t last = reps + burnIn;
  bool cancelled = false;
  for (std::int32_t t = 1; t <= last && !cancelled; ++t) {
    // The gene positions first, decided side by side; then the shared positions, one after
    // another. Each position's proposal and decision come from its own draws of the step.
    DfeLikelihood::GeneMoves moves{draws.stepKey(t), lowerLimits, upperLimits, steps};
    chain.sweepGenes(moves);
    for (std::int32_t p = genePositions + 1; p <= noOfParameters; ++p) {
      const auto i = static_cast<std::size_t>(p);
      if (lowerLimits[i] == upperLimits[i]) continue;
      PositionDraws positionDraws(moves.stepKey, p);
      const double x = proposeValue(chain.parameters()[i], steps[i], lowerLimits[i], upperLimits[i],
                                    positionDraws);
      // The change of the log-likelihood of all genes.
      const double change = chain.propose(p, x);
      const bool taken = metropolisTakes(change, positionDraws.next());
      if (taken) chain.accept();
      adaptStep(steps[i], taken);
    }
    if (sampling > 0 && t < burnIn && t % sampling == 0)
      progress.upDate("Burnin " + integerText(t), t);
    if (t == burnIn) progress.start("Analysis running ", reps);
    if (sampling > 0 && t > burnIn && t % sampling == 0) {
      double sizes = 0;
      for (std::int32_t g = 1; g <= noOfGenes; ++g)
        sizes += chain.parameters()[static_cast<std::size_t>(2 * g - 1)];
      const double meanN = sizes / noOfGenes;
      recordSample(t, meanN);
      progress.upDate(sampleProgress(t - burnIn, meanN), t - burnIn);
    }
    cancelled = context.platform.cancelled();
  }
  parameters = chain.parameters();
  for (std::int32_t g = 1; g <= noOfGenes; ++g)
    logLikelihoods[static_cast<std::size_t>(g)] = chain.geneValue(g);
  chain.setTeam(nullptr);
  if (cancelled) {
    progress.finish();
    return false;
  }
  report(context);
  // A table without samples would be saved as one row of zeros; the report has said why
  // there is nothing to save.
  if (!context.dataWindow.multiDataFile && recordedSamples > 0)
    samples.saveToFile(context.platform);
  progress.finish();
  return true;
}

void DFEmethods::run(RunContext& context, const OptionValues& values) {
  if (auto message = readSettings(values)) {
    context.refuse(*message);
    return;
  }
  writeOpening(context);
  Zelk& dataWindow = context.dataWindow;
  dataWindow.startAnalysis = true;
  while (dataWindow.getData(description, data)) {
    if (!initialiseParameters(context)) continue;
    calculateConstants();
    if (!loadLookUpTable(context)) continue;
    if (!MCMC(context)) return;
  }
}

}  // namespace zelk::dfe
