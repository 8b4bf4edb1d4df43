// The DFE sampler, side by side in one run: the program's RPM run (DFEmethods::MCMC on its
// cached likelihood, with the data window, the table dialog and the report as a user runs
// it) against the literal sampler, which evaluates every Poisson term afresh and every gene
// for a shared parameter. The table is the default grid for n = 20, all ten frequency
// classes, computed by the generator; the datasets are simulated from it.
//
// The program is timed over the whole default run (100,000 burn-in and 1,000,000 steps, a
// sample every 1000) where that takes under two minutes, or over about fifteen seconds of
// it otherwise, three times from the start values, and the fastest kept. Then both samplers
// go on from where that run ended, with the same step widths and the same seed, so they
// take the same steps; each is timed over a few seconds (the program over at least the
// literal's steps), alternately three times, and the fastest kept. The speed-up is the
// ratio of those two rates, and the samples both record are compared. From
// DFEmethods::kParallelGenes genes on, the program spreads the genes over all cores.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "common/parallel.h"
#include "dfe/dfe_fixtures.h"
#include "dfe/dfe_methods.h"
#include "dfe/literal_dfe.h"
#include "support/temp_dir.h"
#include "tablegen/options_folded_window.h"
#include "tablegen/table_generator.h"

namespace {

using namespace zelk;
using dfe::DFEmethods;

constexpr std::int32_t kSampleSize = 20;
constexpr std::int32_t kClasses = 10;
constexpr std::int32_t kBurnIn = 100000;
constexpr std::int32_t kReps = 1000000;
constexpr std::int32_t kDefaultSteps = kBurnIn + kReps;
constexpr std::uint64_t kSeed = 20240611;
// The program runs the whole default run when it is projected to take at most this long.
constexpr double kMostFullRunSeconds = 120;
// Otherwise the program is timed over about this long.
constexpr double kFastSeconds = 15;
// The literal sampler is timed over about this long.
constexpr double kLiteralSeconds = 2;
// The short runs are timed this many times and the fastest taken, as other work on the
// machine only ever slows a run down.
constexpr int kRepeats = 3;

// Answers the dataset and table dialogs in turn, saves nothing, never cancels.
class BenchPlatform final : public Platform {
 public:
  std::deque<std::filesystem::path> openAnswers;

  std::optional<std::filesystem::path> chooseFileToOpen(std::string_view) override {
    if (openAnswers.empty()) return std::nullopt;
    auto answer = openAnswers.front();
    openAnswers.pop_front();
    return answer;
  }
  std::optional<std::filesystem::path> chooseFileToSave(std::string_view,
                                                        std::string_view) override {
    return std::nullopt;
  }
  void showMessage(std::string_view text) override {
    std::printf("message: %.*s\n", static_cast<int>(text.size()), text.data());
  }
  void processEvents() override {}
  bool cancelled() const override { return false; }
  std::uint64_t seed() override { return kSeed; }
};

template <typename F>
double seconds(F&& f) {
  const auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The default vorrel table for n = 20, written where the table dialog will find it.
std::optional<std::filesystem::path> writeTable(const testing::TempDir& dir) {
  OptionValues values(tablegen::optionsFoldedWindow::options());
  values.set(tablegen::optionsFoldedWindow::kSampleSize, std::to_string(kSampleSize));
  auto planned = tablegen::optionsFoldedWindow::plan(values);
  if (!planned.plan) {
    std::printf("%s\n", planned.message.c_str());
    return std::nullopt;
  }
  BenchPlatform platform;
  tablegen::TablePlan& plan = *planned.plan;
  const double took = seconds([&] {
    tablegen::generateTable(plan.table, plan.grid,
                            {hardwareThreads(), tablegen::kTableAccuracy, nullptr}, platform,
                            nullptr);
  });
  const auto path = dir.path() / "lookupTable20.txt";
  std::ofstream out(path, std::ios::binary);
  if (!tablegen::writeLookupTable(out, plan.table) || !out.flush()) {
    std::printf("cannot write %s\n", path.string().c_str());
    return std::nullopt;
  }
  std::printf(
      "Table: n = %d, %d classes, %d shapes x %d means (default grid), generated in %.2f s\n",
      kSampleSize, plan.table.classCount(), plan.table.beta.count, plan.table.logMeanS.count, took);
  return path;
}

// One dataset loaded into the real data window, with an RPM analysis that has read it and
// its lookup table.
class RpmRun {
 public:
  RpmRun(const std::filesystem::path& dataset, const std::filesystem::path& table) {
    platform_.openAnswers = {dataset, table};
    dataWindow_.openDataFile();
    dataWindow_.startAnalysis = true;
    std::string description;
    loaded_ = dataWindow_.getData(description, methods_.data) && prepare(0, 1, 1);
  }
  bool loaded() const { return loaded_; }
  DFEmethods& methods() { return methods_; }

  // Sets the analysis up for a run of burnIn + reps steps from the dataset's start values.
  bool prepare(std::int32_t burnIn, std::int32_t reps, std::int32_t sampling) {
    OptionValues values(DFEmethods::options("RPM"));
    values.set(DFEmethods::kBurnIn, std::to_string(burnIn));
    values.set(DFEmethods::kReps, std::to_string(reps));
    values.set(DFEmethods::kSampling, std::to_string(sampling));
    if (auto message = methods_.readSettings(values)) {
      std::printf("settings refused: %s\n", message->c_str());
      return false;
    }
    if (!methods_.initialiseParameters(context_)) return false;
    methods_.calculateConstants();
    return methods_.loadLookUpTable(context_);
  }
  // Sets the analysis up to go on for burnIn + reps steps from where its last run ended.
  bool resume(std::int32_t reps, std::int32_t sampling) {
    OptionValues values(DFEmethods::options("RPM"));
    values.set(DFEmethods::kBurnIn, "0");
    values.set(DFEmethods::kReps, std::to_string(reps));
    values.set(DFEmethods::kSampling, std::to_string(sampling));
    return !methods_.readSettings(values);
  }
  // The sampler and its report, timed.
  double sample() {
    return seconds([&] { methods_.MCMC(context_); });
  }

 private:
  BenchPlatform platform_;
  NoProgressDisplay progressView_;
  resultsWindow results_;
  progressWindow progress_{progressView_, platform_};
  Zelk dataWindow_{platform_};
  RunContext context_{dataWindow_, results_, progress_, platform_};
  DFEmethods methods_{"RPM"};
  bool loaded_ = false;
};

// Steps, rounded down to a multiple of `unit` and at least one unit.
std::int32_t roundSteps(double steps, std::int32_t unit) {
  const double units = std::max(1.0, std::floor(steps / unit));
  return static_cast<std::int32_t>(std::min(units * unit, static_cast<double>(kDefaultSteps)));
}

struct Row {
  std::int32_t genes = 0;
  double fastRate = 0;
  std::int32_t fastSteps = 0;
  bool fullRun = false;
  int threads = 1;
  double literalRate = 0;
  std::int32_t literalSteps = 0;
  double sameStepsRate = 0;  // the program over the literal's steps, timed right after it
  double largestDifference = 0;
};

std::optional<Row> measure(std::int32_t genes, const testing::TempDir& dir,
                           const std::filesystem::path& tablePath, const dfe::DfeTables& tables) {
  testing::SimulatedTruth truth;  // shape 0.2, mean 4Ns 1000, alpha 0.3
  const Matrix data = testing::simulateGenes(tables, dfe::Model::RPM, genes, kClasses, kSampleSize,
                                             truth, 1000 + static_cast<std::uint64_t>(genes));
  const auto datasetPath =
      dir.write("genes" + std::to_string(genes) + ".tsv", testing::datasetText(data));
  RpmRun run(datasetPath, tablePath);
  if (!run.loaded()) return std::nullopt;
  DFEmethods& methods = run.methods();
  const dfe::ModelSettings settings{dfe::Model::RPM, methods.includeSingletons,
                                    methods.includePolymorphism, methods.estimateAlpha};
  const testing::LiteralDfe literal(settings, methods.data, methods.noOfCats, methods.tables);
  Row row;
  row.genes = genes;
  row.threads = genes >= DFEmethods::kParallelGenes ? hardwareThreads() : 1;

  // The program over the default run, or as much of it as fits, from the dataset's start.
  if (!run.prepare(0, 2000, 1000)) return std::nullopt;
  const double pilotProgram = run.sample() / 2000;  // seconds per step
  const double projected = kDefaultSteps * pilotProgram;
  row.fullRun = projected <= kMostFullRunSeconds;
  std::int32_t burnIn = kBurnIn;
  std::int32_t reps = kReps;
  if (!row.fullRun) {
    // A share of the default run in its proportions: a burn-in a tenth of the steps after it.
    const std::int32_t steps = roundSteps(kFastSeconds / pilotProgram, 11000);
    burnIn = steps / 11;
    reps = steps - burnIn;
  }
  row.fastSteps = burnIn + reps;
  double fastest = 0;
  for (int repeat = 0; repeat < kRepeats; ++repeat) {
    if (!run.prepare(burnIn, reps, 1000)) return std::nullopt;
    const double took = run.sample();
    fastest = repeat == 0 ? took : std::min(fastest, took);
  }
  row.fastRate = row.fastSteps / fastest;

  // Both samplers side by side, from where that run ended: the chain has settled, as it
  // has for all but the first steps of a run, and both take the same steps from the same
  // state with the same seed. The program goes on for as long as the literal sampler takes
  // (at least its steps), so that both are timed over seconds rather than the program over
  // a fraction of one. Each is timed a few times, alternately, and the fastest kept.
  const testing::LiteralChain settled{methods.parameters, methods.lowerLimits, methods.upperLimits,
                                      methods.steps, methods.evaluateAll};
  const double pilot =
      seconds([&] { testing::literalSamples(literal, settled, 100, 0, 0, kSeed); });
  row.literalSteps = roundSteps(kLiteralSeconds * 100 / pilot, 100);
  const std::int32_t sampling = row.literalSteps / 4;
  const std::int32_t programSteps = std::max(
      row.literalSteps,
      static_cast<std::int32_t>(std::ceil(kLiteralSeconds * row.fastRate / sampling)) * sampling);
  std::vector<std::vector<double>> literalRows;
  double literalSeconds = 0;
  double sameStepsSeconds = 0;
  for (int repeat = 0; repeat < kRepeats; ++repeat) {
    const double literalTook = seconds([&] {
      literalRows = testing::literalSamples(literal, settled, row.literalSteps, 0, sampling, kSeed);
    });
    methods.parameters = settled.parameters;
    methods.steps = settled.steps;
    if (!run.resume(programSteps, sampling)) return std::nullopt;
    const double programTook = run.sample();
    literalSeconds = repeat == 0 ? literalTook : std::min(literalSeconds, literalTook);
    sameStepsSeconds = repeat == 0 ? programTook : std::min(sameStepsSeconds, programTook);
  }
  row.literalRate = row.literalSteps / literalSeconds;
  row.sameStepsRate = programSteps / sameStepsSeconds;
  const resultsClass& samples = methods.samples;
  if (methods.recordedSamples < static_cast<std::int32_t>(literalRows.size())) {
    std::printf("%d genes: the program recorded %d samples, the literal sampler %zu\n", genes,
                methods.recordedSamples, literalRows.size());
    return std::nullopt;
  }
  for (std::size_t r = 0; r < literalRows.size(); ++r) {
    for (std::size_t c = 0; c < literalRows[r].size(); ++c) {
      const double a = samples.data(static_cast<int>(r) + 1, static_cast<int>(c) + 1);
      const double b = literalRows[r][c];
      const double scale = std::max({std::fabs(a), std::fabs(b), 1e-300});
      row.largestDifference = std::max(row.largestDifference, std::fabs(a - b) / scale);
    }
  }
  return row;
}

std::string rate(double stepsPerSecond) {
  char text[32];
  if (stepsPerSecond >= 1000) {
    std::snprintf(text, sizeof text, "%.0f", stepsPerSecond);
  } else {
    std::snprintf(text, sizeof text, "%.1f", stepsPerSecond);
  }
  return text;
}

std::string duration(double s) {
  char text[32];
  if (s < 100) {
    std::snprintf(text, sizeof text, "%.1f s", s);
  } else if (s < 2 * 3600) {
    std::snprintf(text, sizeof text, "%.1f min", s / 60);
  } else {
    std::snprintf(text, sizeof text, "%.1f h", s / 3600);
  }
  return text;
}

// The load average over the last minute: the figures mean little when other work shares
// the cores.
std::string loadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string first;
  in >> first;
  return first.empty() ? "unknown" : first;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::int32_t> sizes = {1, 20, 100, 1000};
  if (argc > 1) {
    sizes.clear();
    for (int i = 1; i < argc; ++i) sizes.push_back(static_cast<std::int32_t>(std::atoi(argv[i])));
  }
  const testing::TempDir dir;
  const auto tablePath = writeTable(dir);
  if (!tablePath) return 1;
  const auto read = tablegen::readLookupTable(*tablePath);
  if (!read.table) {
    std::printf("%s\n", read.message.c_str());
    return 1;
  }
  const dfe::DfeTables tables = dfe::fromCoreLayout(*read.table);

  const std::string loadBefore = loadAverage();
  std::printf("RPM (alpha), n = %d, default settings: %d burn-in + %d steps, a sample every 1000\n",
              kSampleSize, kBurnIn, kReps);
  std::printf("%6s %8s %14s %14s %9s %12s %14s %14s %11s\n", "genes", "threads", "program step/s",
              "literal step/s", "speed-up", "(default run)", "program run", "literal run",
              "same chain");
  int status = 0;
  for (const std::int32_t genes : sizes) {
    const auto row = measure(genes, dir, *tablePath, tables);
    if (!row) {
      status = 1;
      continue;
    }
    const std::string fastRun =
        duration(kDefaultSteps / row->fastRate) + (row->fullRun ? "" : " *");
    char difference[32];
    std::snprintf(difference, sizeof difference, "%.1g", row->largestDifference);
    std::printf("%6d %8d %14s %14s %8.1fx %11.1fx %14s %14s %11s\n", row->genes, row->threads,
                rate(row->fastRate).c_str(), rate(row->literalRate).c_str(),
                row->sameStepsRate / row->literalRate, row->fastRate / row->literalRate,
                fastRun.c_str(), duration(kDefaultSteps / row->literalRate).c_str(), difference);
    std::printf("%6s program timed over %d steps, literal over %d steps\n", "", row->fastSteps,
                row->literalSteps);
    std::fflush(stdout);
  }
  std::printf(
      "speed-up: the program's steps per second against the literal's, both going on from the "
      "end of the program's run\nover the same steps.\n(default run): the program's steps per "
      "second over its default run (or the part timed) against\nthe literal's.\nprogram run: "
      "the default run of %d steps, measured whole or (*) projected; literal run: projected.\n"
      "same chain: the largest relative difference between the samples both record over the "
      "same steps.\n",
      kDefaultSteps);
  std::printf("Load average over a minute: %s before, %s after\n", loadBefore.c_str(),
              loadAverage().c_str());
  return status;
}
