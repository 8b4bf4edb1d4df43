#pragma once
// Inference of the distribution of fitness effects (DFE) of new non-synonymous mutations
// from per-gene site frequency spectra, by a Metropolis sampler over lookup tables:
// "RPPQ" from polymorphism alone, "RPM" with divergence and the proportion of adaptive
// substitutions (alpha) or their rate relative to neutral (omegaA).
//
// For each dataset: initialiseParameters (start values, limits and step widths from the
// options and the data), calculateConstants (log-factorials), loadLookUpTable (asks for a
// table unless one for this sample size is loaded), then MCMC (the sampler and the
// report). Input that cannot give a meaningful run (no table, a table for other classes,
// start values on or outside their limits, genes without sites) is refused with a message
// before the sampler starts.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/options.h"
#include "dfe/dfe_likelihood.h"
#include "dfe/dfe_tables.h"
#include "shell/matrix.h"
#include "shell/run_context.h"
#include "stats/results_class.h"

namespace zelk::dfe {

// The settings of the dialog, read once per run and checked before any dataset.
struct DfeSettings {
  double meanS = 10000;  // start mean selection strength 4Ns
  double shape = 0.25;
  double propWidth = 0.1;
  std::int32_t burnIn = 100000;
  std::int32_t sampling = 1000;
  std::int32_t reps = 1000000;
  double adaptiveStart = 0.25;  // alpha or omegaA
  double proportion = 0.01;     // Pa
  double strength = 10;         // the adaptive selection strength Sa N
  bool includeSingletons = true;
  bool includePolymorphism = false;
  bool estimateAlpha = true;
};

class DFEmethods {
 public:
  // Option fields.
  static constexpr const char* kIncludeSingletons = "includeSingletons";
  static constexpr const char* kMeanS = "meanSEditField";
  static constexpr const char* kShape = "shapeEditField";
  static constexpr const char* kPropWidth = "propWidthEditField";
  static constexpr const char* kBurnIn = "burnInEditField";
  static constexpr const char* kSampling = "samplingEditField";
  static constexpr const char* kReps = "noOfRepsEditField";
  static constexpr const char* kAlpha = "alphaEditField";
  static constexpr const char* kIncludePolymorphism = "includePolymorphism";
  static constexpr const char* kEstimate = "estimateAlpha";
  static constexpr const char* kProportion = "proportionEditField";
  static constexpr const char* kStrength = "strengthEditField";
  // From this many genes on, the genes of a sweep over the gene positions and of a shared
  // parameter are evaluated on all cores.
  static constexpr std::int32_t kParallelGenes = 32;

  // "RPPQ" or "RPM"; the adaptive-strength model is the class AdaptiveStrength.
  explicit DFEmethods(const std::string& type);
  virtual ~DFEmethods();

  // The options record of the "DFE methods" dialog for "RPPQ" or "RPM".
  static std::vector<OptionSpec> options(std::string_view type);
  // Reads the settings of a record, or says why they cannot start a run.
  std::optional<std::string> readSettings(const OptionValues& values);

  // Runs every dataset the data window hands out.
  void run(RunContext& context, const OptionValues& values);

  // The steps of one dataset. A false return has refused the dataset with a message.
  bool initialiseParameters(RunContext& context);
  void calculateConstants();
  bool loadLookUpTable(RunContext& context);
  double logPoisson(double x, double mean) const;
  // The log-likelihood of the gene owning position p at the current parameters.
  double logLikelihoodLookUp(std::int32_t p) const;
  double logLikelihood(std::int32_t p) const { return logLikelihoodLookUp(p); }
  // The sampler and the report. False when the run was cancelled.
  bool MCMC(RunContext& context);

  Model model() const { return model_; }

  // The analysis state, as the steps leave it. Arrays are indexed from 1.
  std::string analysisType;  // "RPPQ", "RPM", or empty for the adaptive-strength model
  bool includeSingletons = true;
  bool includePolymorphism = false;
  bool estimateAlpha = true;
  DfeSettings settings;

  Matrix data;
  std::string description;
  std::int32_t noOfGenes = 0;
  std::int32_t noOfCats = 0;
  std::int32_t sampleSize = 0;
  std::int32_t noOfParameters = 0;
  std::int32_t parametersPerGene = 2;
  std::int32_t PnOffSet = 2;
  std::int32_t PsOffSet = 0;
  std::int32_t RoffSet = 0;
  std::int32_t divOffSet = 0;
  std::vector<double> parameters;
  std::vector<double> lowerLimits;
  std::vector<double> upperLimits;
  std::vector<double> steps;
  std::vector<bool> evaluateAll;
  std::vector<double> logLikelihoods;
  LogFactorials logFact;

  DfeTables tables;
  std::int32_t currentLookUpTable = 0;  // the sample size of the loaded tables; 0: none

  resultsClass samples;  // the sample rows of the last dataset
  std::int32_t recordedSamples = 0;

 protected:
  explicit DFEmethods(Model model);

 private:
  ParameterLayout layout() const;
  bool refuseDataset(RunContext& context, const std::string& why);
  bool checkDataset(RunContext& context);
  void setPosition(std::int32_t p, double start, double lower, double upper, bool shared);
  bool checkStartInGrid(RunContext& context);
  void writeOpening(RunContext& context) const;
  std::string sampleTitles() const;
  std::int32_t sampleColumns() const;
  void recordSample(std::int32_t t, double meanN);
  std::string sampleProgress(std::int32_t afterBurnIn, double meanN) const;
  void report(RunContext& context) const;
  DfeLikelihood& engine() const;

  Model model_;
  mutable std::unique_ptr<DfeLikelihood> engine_;
  mutable ModelSettings engineSettings_;
};

}  // namespace zelk::dfe
