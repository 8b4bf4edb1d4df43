#include "dfe/dfe_methods.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <numeric>

#include "dfe/adaptive_strength.h"
#include "dfe_fixtures.h"
#include "literal_dfe.h"
#include "support/analysis_bench.h"
#include "tablegen/options_folded_window.h"
#include "tablegen/tablegen_fixtures.h"

namespace zelk::dfe {
namespace {

using testing::AnalysisBench;
using testing::datasetText;
using testing::LiteralChain;
using testing::LiteralDfe;
using testing::SimulatedTruth;

// A table computed by the generator for all classes of sample size n, shapes 0 to 0.5 in
// 10 steps and means 10 to 100000 in 16 steps: small, but computed like any other.
const tablegen::LookupTable& generatedTable(std::int32_t n) {
  static std::map<std::int32_t, tablegen::LookupTable> tables;
  auto found = tables.find(n);
  if (found == tables.end()) {
    const std::string size = std::to_string(n);
    auto planned = tablegen::optionsFoldedWindow::plan(
        testing::windowSettings({{tablegen::optionsFoldedWindow::kSampleSize, size.c_str()},
                                 {tablegen::optionsFoldedWindow::kBetaSteps, "10"},
                                 {tablegen::optionsFoldedWindow::kMeanUpper, "100000"},
                                 {tablegen::optionsFoldedWindow::kMeanSteps, "16"}}));
    testing::RecordingPlatform platform;
    tablegen::generateTable(planned.plan->table, planned.plan->grid, {.threads = 2}, platform,
                            nullptr);
    found = tables.emplace(n, std::move(planned.plan->table)).first;
  }
  return found->second;
}

std::filesystem::path writeTable(const testing::TempDir& dir, const std::string& name,
                                 const tablegen::LookupTable& table) {
  std::ofstream out(dir.path() / name, std::ios::binary);
  tablegen::writeLookupTable(out, table);
  return dir.path() / name;
}

// Options of a model with some fields changed.
OptionValues settingsOf(const std::vector<OptionSpec>& record,
                        std::initializer_list<std::pair<const char*, const char*>> changes) {
  OptionValues values(record);
  for (const auto& [field, text] : changes) values.set(field, text);
  return values;
}

const std::initializer_list<std::pair<const char*, const char*>> kShortChain = {
    {DFEmethods::kBurnIn, "20"}, {DFEmethods::kReps, "100"}, {DFEmethods::kSampling, "10"}};

// A bench with a dataset and a table to answer the table dialog.
struct DfeBench : AnalysisBench {
  DfeBench(const std::string& dataset, const tablegen::LookupTable& table)
      : AnalysisBench(dataset, 2024) {
    tablePath = writeTable(dir, "table.txt", table);
  }
  std::filesystem::path tablePath;
};

TEST(DFEmethods, StartValuesLimitsAndStepsFollowTheDataAndTheOptions) {
  // Two genes, two classes, with divergence: Ps_1 sums to 10 over 200 + 300 synonymous sites
  // (the half site is dropped), Ds to 30 over 150 + 250 divergence sites.
  //               n  Ln  Pn1 Pn2 Ls     Ps1 Ps2 Lnd  Dn Lsd  Ds
  const Matrix genes = testing::genesOf(
      {{6, 600, 3, 2, 200.5, 4, 1, 610, 5, 150, 10}, {6, 900, 1, 0, 300, 6, 2, 890, 7, 250, 20}});
  AnalysisBench bench(datasetText(genes));
  DFEmethods rpm("RPM");
  ASSERT_FALSE(
      rpm.readSettings(settingsOf(DFEmethods::options("RPM"), {{DFEmethods::kEstimate, "omegaA"},
                                                               {DFEmethods::kPropWidth, "0.5"},
                                                               {DFEmethods::kMeanS, "500"}})));
  rpm.data = genes;
  ASSERT_TRUE(rpm.initialiseParameters(bench.context));
  EXPECT_EQ(rpm.noOfCats, 2);
  EXPECT_EQ(rpm.noOfParameters, 2 * 2 + 2 + 3);
  EXPECT_EQ(rpm.RoffSet, 3);
  EXPECT_EQ(rpm.PsOffSet, 5);
  EXPECT_EQ(rpm.divOffSet, 8);
  const double d = 10.0 / 500 / 10000;
  const double e = 30.0 / (400 * d);
  struct Expected {
    std::int32_t p;
    double start, lower, upper;
    bool shared;
  };
  for (const Expected& x : std::vector<Expected>{{1, 10000, 0, 1e8, false},
                                                 {4, d, d / 10, d * 10, false},
                                                 {5, 1, 0, 100, true},        // r_2
                                                 {6, 0.05, 0, 100, true},     // S-bar
                                                 {7, 0.25, 0, 100, true},     // shape
                                                 {8, 0.25, -100, 100, true},  // omegaA
                                                 {9, e, 0, 1e13, true}}) {
    const auto i = static_cast<std::size_t>(x.p);
    EXPECT_NEAR(rpm.parameters[i], x.start, 1e-12 * x.start) << x.p;
    EXPECT_NEAR(rpm.lowerLimits[i], x.lower, 1e-15 * x.upper) << x.p;
    EXPECT_NEAR(rpm.upperLimits[i], x.upper, 1e-12 * x.upper) << x.p;
    EXPECT_NEAR(rpm.steps[i], 0.5 * x.start, 1e-12 * x.start) << x.p;
    EXPECT_EQ(rpm.evaluateAll[i], x.shared) << x.p;
  }

  // The adaptive-strength model takes k from the sample size and starts Sa at strength / 10^4.
  //                             n  Ln Pn1 Pn2 Ls Ps1 Ps2 Lnd Dn Lsd Ds
  const Matrix three = testing::genesOf({{3, 600, 3, 2, 200, 4, 1, 610, 5, 150, 10}});
  AdaptiveStrength strength;
  ASSERT_FALSE(strength.readSettings(OptionValues(AdaptiveStrength::options())));
  strength.data = three;
  ASSERT_TRUE(strength.initialiseParameters(bench.context));
  EXPECT_EQ(strength.noOfCats, 2);
  EXPECT_EQ(strength.noOfParameters, 2 + 2 + 4);
  EXPECT_DOUBLE_EQ(strength.parameters[7], 0.01);   // Pa
  EXPECT_DOUBLE_EQ(strength.parameters[8], 0.001);  // Sa: Sa N starts at 10
  EXPECT_EQ(strength.lowerLimits[7], -1);
  EXPECT_EQ(strength.upperLimits[8], 1);
}

TEST(DFEmethods, StartValuesWithoutRoomToMoveAreRefusedNamingTheField) {
  struct Case {
    const char* type;  // "RPPQ", "RPM" or "AS"
    const char* field;
    const char* text;
    const char* named;  // empty: accepted
  };
  const Case cases[] = {
      {"RPPQ", DFEmethods::kShape, "0", "Shape"},
      {"RPPQ", DFEmethods::kShape, "100", "Shape"},
      {"RPPQ", DFEmethods::kShape, "abc", "Shape"},
      {"RPPQ", DFEmethods::kMeanS, "0", "Mean S (4Ns)"},
      {"RPPQ", DFEmethods::kMeanS, "1000000", "Mean S (4Ns)"},
      {"RPPQ", DFEmethods::kMeanS, "999999", ""},
      {"RPPQ", DFEmethods::kPropWidth, "-0.1", "Prop. width"},
      {"RPPQ", DFEmethods::kPropWidth, "0", ""},
      {"RPPQ", DFEmethods::kBurnIn, "-5", "Burn-in"},
      {"RPPQ", DFEmethods::kReps, "3000000000", "No. of reps"},
      {"RPPQ", DFEmethods::kAlpha, "5", ""},  // not an option of this type: ignored
      {"RPM", DFEmethods::kAlpha, "1", "Start Value"},
      {"RPM", DFEmethods::kAlpha, "-100", "Start Value"},
      {"RPM", DFEmethods::kAlpha, "0.99", ""},
      {"AS", DFEmethods::kProportion, "1", "Proportion"},
      {"AS", DFEmethods::kProportion, "-1", "Proportion"},
      {"AS", DFEmethods::kProportion, "-0.5", ""},
      {"AS", DFEmethods::kStrength, "0", "Strength"},
      {"AS", DFEmethods::kStrength, "10000", "Strength"},
      {"AS", DFEmethods::kStrength, "9999", ""},
  };
  for (const Case& c : cases) {
    const bool adaptiveClass = std::string(c.type) == "AS";
    std::unique_ptr<DFEmethods> method =
        adaptiveClass ? std::make_unique<AdaptiveStrength>() : std::make_unique<DFEmethods>(c.type);
    OptionValues values(adaptiveClass ? AdaptiveStrength::options() : DFEmethods::options(c.type));
    if (!(std::string(c.type) == "RPPQ" && std::string(c.field) == DFEmethods::kAlpha))
      values.set(c.field, c.text);
    const auto message = method->readSettings(values);
    if (*c.named == '\0') {
      EXPECT_FALSE(message) << c.type << " " << c.field << " " << c.text << ": " << *message;
    } else {
      ASSERT_TRUE(message) << c.type << " " << c.field << " " << c.text;
      EXPECT_EQ(message->rfind(c.named, 0), 0u) << *message;
    }
  }
  // With omegaA the adaptive start may reach 100.
  DFEmethods rpm("RPM");
  EXPECT_FALSE(
      rpm.readSettings(settingsOf(DFEmethods::options("RPM"), {{DFEmethods::kEstimate, "omegaA"},
                                                               {DFEmethods::kAlpha, "50"}})));
}

TEST(DFEmethods, ASeededRunWritesThisExactReportAndSampleTable) {
  SimulatedTruth truth;
  truth.beta = 0.3;
  const tablegen::LookupTable& table = generatedTable(8);
  const Matrix genes =
      testing::simulateGenes(fromCoreLayout(table), Model::RPM, 4, 4, 8, truth, 31);
  DfeBench bench(datasetText(genes), table);
  bench.platform.openAnswers.push_back(bench.tablePath);
  bench.platform.saveAnswers.push_back(bench.dir.path() / "samples.txt");
  DFEmethods("RPM").run(bench.context, settingsOf(DFEmethods::options("RPM"), kShortChain));
  EXPECT_EQ(bench.context.refusals(), 0) << bench.platform.messages.front();
  // The opening lines are written before the sink's tabulation is switched off, as every
  // analysis does.
  EXPECT_EQ(bench.report(),
            "\nRunning method of RP and Moffrey (2009) Mol. Biol. Evol.\t\n\n"
            "Dataset genes.tsv\t\n\n"
            "Shape parameter : 0.19675   ( 0. , 0.24142 )\n"
            "Mean selection (4Ns) : 9306.45005   ( 0. , 15118.85885 )\n"
            "Ns(0-1) : 0.15682   ( 0.04492 )\n"
            "Ns(1-10) : 0.08653   ( 0.00661 )\n"
            "Ns(10-100) : 0.13584   ( 0.01005 )\n"
            "Ns(>100) : 0.6208   ( 0.05043 )\n"
            "alpha : -0.14658   ( -0.90124 , 0.17319 )\n");
  EXPECT_EQ(bench.platform.saveRequests, std::vector<std::string>{"resultsFile.txt|TEXT"});
  const std::string samples = bench.dir.read("samples.txt");
  EXPECT_EQ(samples.substr(0, samples.find('\n')),
            "Step\tLogLike\tShape\tMean 4Nes\tNes(0-1)\tNes(1-10)\tNes(10-100)\tNes(>100)\tAlpha");
  // The header and ten samples (steps 30, 40, ..., 120) of nine columns each.
  EXPECT_EQ(std::count(samples.begin(), samples.end(), '\n'), 1 + 10);
  EXPECT_EQ(std::count(samples.begin(), samples.end(), '\t'), 8 * 11);
  EXPECT_NE(samples.find("\n30\t"), std::string::npos);
  EXPECT_NE(samples.find("\n120\t"), std::string::npos);

  // Progress: burn-in until step 20, then the samples from step 30 on.
  const auto& calls = bench.progressView.calls;
  ASSERT_GE(calls.size(), 4u);
  EXPECT_EQ(calls[0].what + "|" + calls[0].title, "show|Burn-in");
  EXPECT_EQ(calls[1].title, "Burnin 10");
  EXPECT_EQ(calls[2].what + "|" + calls[2].title, "show|Analysis running ");
  EXPECT_EQ(calls[3].title.rfind("Analysis running 10   alpha = ", 0), 0u) << calls[3].title;
}

// Datasets of a multi-dataset file, separated by lines holding "#", each headed by its name.
std::string multiDataset(const std::vector<Matrix>& datasets) {
  std::string text;
  for (std::size_t i = 0; i < datasets.size(); ++i) {
    if (i > 0) text += "#\n";
    std::string dataset = datasetText(datasets[i]);
    text += "dataset " + std::to_string(i + 1) + dataset.substr(dataset.find('\t'));
  }
  return text;
}

TEST(DFEmethods, AMultiDatasetFileGivesOneLinePerDatasetAndReusesTheTable) {
  const tablegen::LookupTable& table = generatedTable(8);
  const DfeTables tables = fromCoreLayout(table);
  std::vector<Matrix> datasets;
  for (std::uint64_t seed : {1, 2, 3})
    datasets.push_back(testing::simulateGenes(tables, Model::RPM, 3, 4, 8, {}, seed));
  DfeBench bench(multiDataset(datasets), table);
  bench.platform.openAnswers.push_back(bench.tablePath);
  DFEmethods("RPM").run(bench.context, settingsOf(DFEmethods::options("RPM"), kShortChain));
  EXPECT_EQ(bench.context.refusals(), 0);
  const std::string report = bench.report();
  EXPECT_NE(report.find("\nFile\t          Shape\t         SE\t            Mean 4Ns\t"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("alpha\t         SE\t"), std::string::npos);
  for (const char* dataset : {"\ndataset 1\t", "\ndataset 2\t", "\ndataset 3\t"})
    EXPECT_NE(report.find(dataset), std::string::npos) << dataset;
  EXPECT_EQ(report.find("Shape parameter"), std::string::npos);
  // One table dialog for the three datasets of one sample size, and no sample file.
  EXPECT_EQ(std::count(bench.platform.openTitles.begin(), bench.platform.openTitles.end(),
                       "Select a lookup table"),
            1);
  EXPECT_TRUE(bench.platform.saveRequests.empty());

  // A dataset of another sample size asks for its table; cancelled, the dataset is refused
  // and the next one, of the first sample size, goes on with the table already loaded.
  datasets[1] =
      testing::simulateGenes(fromCoreLayout(generatedTable(10)), Model::RPM, 3, 5, 10, {}, 4);
  DfeBench two(multiDataset(datasets), table);
  two.platform.openAnswers = {two.tablePath, std::nullopt};
  DFEmethods("RPM").run(two.context, settingsOf(DFEmethods::options("RPM"), kShortChain));
  EXPECT_EQ(std::count(two.platform.openTitles.begin(), two.platform.openTitles.end(),
                       "Select a lookup table"),
            2);
  EXPECT_EQ(two.context.refusals(), 1);
  EXPECT_NE(two.report().find("\ndataset 3\t"), std::string::npos);
}

TEST(DFEmethods, ARunWithoutSamplesSaysSo) {
  const tablegen::LookupTable& table = generatedTable(8);
  const Matrix genes = testing::simulateGenes(fromCoreLayout(table), Model::RPPQ, 3, 4, 8, {}, 5);
  struct Case {
    const char *burnIn, *reps, *sampling, *expected;
  };
  for (const Case& c :
       {Case{"50", "40", "100",
             "No samples were recorded: no step after the "
             "burn-in of 50 fell on a multiple of the sampling "
             "interval 100 within the 40 steps that follow it"},
        Case{"10", "40", "0", "No samples were recorded: the sampling interval is 0"}}) {
    DfeBench bench(datasetText(genes), table);
    bench.platform.openAnswers.push_back(bench.tablePath);
    DFEmethods("RPPQ").run(bench.context, settingsOf(DFEmethods::options("RPPQ"),
                                                     {{DFEmethods::kBurnIn, c.burnIn},
                                                      {DFEmethods::kReps, c.reps},
                                                      {DFEmethods::kSampling, c.sampling}}));
    EXPECT_NE(bench.report().find(std::string(c.expected) + "\n"), std::string::npos)
        << bench.report();
    EXPECT_EQ(bench.report().find("Shape parameter"), std::string::npos);
  }
  // A burn-in longer than the steps after it still samples whatever falls after it.
  DfeBench bench(datasetText(genes), table);
  bench.platform.openAnswers.push_back(bench.tablePath);
  DFEmethods rppq("RPPQ");
  rppq.run(bench.context, settingsOf(DFEmethods::options("RPPQ"), {{DFEmethods::kBurnIn, "50"},
                                                                   {DFEmethods::kReps, "40"},
                                                                   {DFEmethods::kSampling, "30"}}));
  EXPECT_EQ(rppq.recordedSamples, 2);  // steps 60 and 90
  EXPECT_NE(bench.report().find("Shape parameter"), std::string::npos);
}

TEST(DFEmethods, DatasetsThatCannotGiveAMeaningfulRunAreRefusedBeforeTheSampler) {
  const tablegen::LookupTable& table = generatedTable(8);
  const Matrix genes = testing::simulateGenes(fromCoreLayout(table), Model::RPM, 3, 4, 8, {}, 6);
  tablegen::LookupTable otherClasses = table;
  otherClasses.classes.pop_back();
  otherClasses.neutral.pop_back();
  otherClasses.polymorphism.resize(otherClasses.polymorphism.size() / 4 * 3);
  Matrix noSingletons = genes;
  Matrix noSites = genes;
  Matrix negative = genes;
  for (int g = 1; g <= 3; ++g) noSingletons(g, 4 + 3 + 1) = 0;
  noSites(2, 2) = 0;
  negative(3, 5) = -1;
  struct Case {
    const char* name;
    Matrix data;
    bool tableChosen;
    const tablegen::LookupTable* tableFile;
    std::initializer_list<std::pair<const char*, const char*>> options;
    const char* message;
  };
  const Case cases[] = {
      {"no table", genes, false, &table, {}, "no lookup table was chosen"},
      {"other classes", genes, true, &otherClasses, {}, "line 2 gives 3 frequency classes"},
      {"shape outside the grid",
       genes,
       true,
       &table,
       {{DFEmethods::kShape, "0.7"}},
       "Shape: the start value 0.7 lies outside the lookup table's shapes"},
      {"mean above the grid",
       genes,
       true,
       &table,
       {{DFEmethods::kMeanS, "500000"}},
       "Mean S (4Ns): the start value 500000 lies above"},
      {"no synonymous singletons",
       noSingletons,
       true,
       &table,
       {},
       "no gene has a synonymous singleton"},
      {"no sites", noSites, true, &table, {}, "has no non-synonymous sites"},
      {"a negative count", negative, true, &table, {}, "holds the negative count -1"},
  };
  for (const Case& c : cases) {
    DfeBench bench(datasetText(c.data), *c.tableFile);
    bench.platform.openAnswers.push_back(c.tableChosen ? std::optional(bench.tablePath)
                                                       : std::nullopt);
    OptionValues values = settingsOf(DFEmethods::options("RPM"), kShortChain);
    for (const auto& [field, text] : c.options) values.set(field, text);
    DFEmethods("RPM").run(bench.context, values);
    EXPECT_EQ(bench.context.refusals(), 1) << c.name;
    ASSERT_FALSE(bench.platform.messages.empty()) << c.name;
    EXPECT_NE(bench.platform.messages.back().find(c.message), std::string::npos)
        << c.name << ": " << bench.platform.messages.back();
    EXPECT_EQ(bench.report().find("Shape parameter"), std::string::npos) << c.name;
    EXPECT_TRUE(bench.platform.saveRequests.empty()) << c.name;
  }
}

// One model's sampler set up on a dataset, with the start state kept for the literal one.
struct Prepared {
  std::unique_ptr<DFEmethods> method;
  LiteralChain start;
};

Prepared prepare(AnalysisBench& bench, const ModelSettings& model, const Matrix& genes,
                 const DfeTables& tables,
                 std::initializer_list<std::pair<const char*, const char*>> chain) {
  Prepared prepared;
  const bool adaptiveClass = model.model == Model::AdaptiveStrength;
  const char* type = model.model == Model::RPM ? "RPM" : "RPPQ";
  prepared.method =
      adaptiveClass ? std::make_unique<AdaptiveStrength>() : std::make_unique<DFEmethods>(type);
  OptionValues values(adaptiveClass ? AdaptiveStrength::options() : DFEmethods::options(type));
  for (const auto& [field, text] : chain) values.set(field, text);
  values.set(DFEmethods::kIncludeSingletons, model.includeSingletons ? "yes" : "no");
  if (model.model != Model::RPPQ)
    values.set(DFEmethods::kIncludePolymorphism, model.includePolymorphism ? "yes" : "no");
  if (model.model == Model::RPM)
    values.set(DFEmethods::kEstimate, model.estimateAlpha ? "alpha" : "omegaA");
  DFEmethods& m = *prepared.method;
  EXPECT_FALSE(m.readSettings(values));
  m.data = genes;
  EXPECT_TRUE(m.initialiseParameters(bench.context));
  m.calculateConstants();
  m.tables = tables;
  m.currentLookUpTable = m.sampleSize;
  prepared.start = {m.parameters, m.lowerLimits, m.upperLimits, m.steps, m.evaluateAll};
  return prepared;
}

std::vector<std::vector<double>> rowsOf(const resultsClass& samples, std::int32_t count) {
  std::vector<std::vector<double>> rows;
  for (int r = 1; r <= count; ++r) {
    std::vector<double> row;
    for (int c = 1; c <= samples.startColumns(); ++c) row.push_back(samples.data(r, c));
    rows.push_back(std::move(row));
  }
  return rows;
}

TEST(DFEmethods, TheSamplerTakesTheSameStepsAsTheLiteralSampler) {
  // Same start, same uniform draws: the likelihoods agree to rounding, so every acceptance
  // goes the same way and the samples agree to rounding too.
  struct Case {
    const char* name;
    ModelSettings model;
  };
  const Case cases[] = {
      {"RPPQ without singletons", {Model::RPPQ, false, false, true}},
      {"RPM alpha", {Model::RPM, true, false, true}},
      {"RPM alpha with polymorphism", {Model::RPM, true, true, true}},
      {"RPM omegaA", {Model::RPM, true, false, false}},
      {"adaptive strength with polymorphism", {Model::AdaptiveStrength, true, true, true}},
  };
  for (const Case& c : cases) {
    const bool adaptiveClass = c.model.model == Model::AdaptiveStrength;
    const std::int32_t k = 4;
    const DfeTables tables = testing::madeUpTables(k, 8, 24, adaptiveClass ? 9 : 0);
    SimulatedTruth truth;
    truth.meanS = 100;
    const Matrix genes = testing::simulateGenes(tables, c.model.model, 6, k,
                                                adaptiveClass ? k + 1 : 2 * k, truth, 17);
    AnalysisBench bench(datasetText(genes), 99);
    Prepared prepared = prepare(bench, c.model, genes, tables,
                                {{DFEmethods::kBurnIn, "50"},
                                 {DFEmethods::kReps, "400"},
                                 {DFEmethods::kSampling, "10"},
                                 {DFEmethods::kMeanS, "800"}});
    ASSERT_TRUE(prepared.method->MCMC(bench.context)) << c.name;
    const auto fast = rowsOf(prepared.method->samples, prepared.method->recordedSamples);
    const LiteralDfe literal(c.model, genes, prepared.method->noOfCats, tables);
    const auto plain = testing::literalSamples(literal, prepared.start, 400, 50, 10, 99);
    ASSERT_EQ(fast.size(), 40u) << c.name;
    ASSERT_EQ(plain.size(), fast.size()) << c.name;
    double moved = 0;
    for (std::size_t r = 0; r < fast.size(); ++r) {
      ASSERT_EQ(plain[r].size(), fast[r].size()) << c.name;
      for (std::size_t j = 0; j < fast[r].size(); ++j)
        EXPECT_NEAR(fast[r][j], plain[r][j], 1e-8 * std::fmax(1.0, std::fabs(plain[r][j])))
            << c.name << ", sample " << r << ", column " << j + 1;
      moved += std::fabs(fast[r][2] - fast[0][2]);
    }
    EXPECT_GT(moved, 0) << c.name << ": the shape never moved";
  }
}

TEST(DFEmethods, PosteriorsAgreeWithTheLiteralSamplerWithinMonteCarloError) {
  // Independent chains of both samplers on a dataset simulated from a generated table: the
  // posterior means of each quantity agree within the spread between chains.
  const DfeTables tables = fromCoreLayout(generatedTable(10));
  SimulatedTruth truth;
  truth.beta = 0.2;
  truth.meanS = 1000;
  truth.alpha = 0.3;
  const ModelSettings model{Model::RPM, true, false, true};
  const Matrix genes = testing::simulateGenes(tables, Model::RPM, 8, 5, 10, truth, 23);
  constexpr int kChains = 4;
  constexpr std::int32_t kBurnIn = 2000, kReps = 8000, kSampling = 20;
  const std::vector<std::size_t> columns = {2, 3, 4, 7, 8};  // shape, mean, Ns(0-1), >100, alpha
  std::vector<std::vector<double>> fastMeans(columns.size()), plainMeans(columns.size());
  const auto posteriorMeans = [&](const std::vector<std::vector<double>>& rows,
                                  std::vector<std::vector<double>>& into) {
    for (std::size_t c = 0; c < columns.size(); ++c) {
      double sum = 0;
      for (const auto& row : rows) sum += columns[c] == 3 ? std::log(row[3]) : row[columns[c]];
      into[c].push_back(sum / static_cast<double>(rows.size()));
    }
  };
  for (int chain = 0; chain < kChains; ++chain) {
    AnalysisBench bench(datasetText(genes), static_cast<std::uint64_t>(chain + 1));
    Prepared prepared = prepare(bench, model, genes, tables,
                                {{DFEmethods::kBurnIn, "2000"},
                                 {DFEmethods::kReps, "8000"},
                                 {DFEmethods::kSampling, "20"}});
    ASSERT_TRUE(prepared.method->MCMC(bench.context));
    posteriorMeans(rowsOf(prepared.method->samples, prepared.method->recordedSamples), fastMeans);
    const LiteralDfe literal(model, genes, 5, tables);
    posteriorMeans(testing::literalSamples(literal, prepared.start, kReps, kBurnIn, kSampling,
                                           static_cast<std::uint64_t>(chain + 101)),
                   plainMeans);
  }
  const auto meanAndVariance = [](const std::vector<double>& values) {
    const double mean = std::accumulate(values.begin(), values.end(), 0.0) / kChains;
    double squares = 0;
    for (const double v : values) squares += (v - mean) * (v - mean);
    return std::pair{mean, squares / (kChains - 1)};
  };
  for (std::size_t c = 0; c < columns.size(); ++c) {
    const auto [fastMean, fastVariance] = meanAndVariance(fastMeans[c]);
    const auto [plainMean, plainVariance] = meanAndVariance(plainMeans[c]);
    const double error = std::sqrt((fastVariance + plainVariance) / kChains);
    EXPECT_LT(std::fabs(fastMean - plainMean), 4 * error + 1e-3 * std::fabs(plainMean))
        << "column " << columns[c] + 1 << ": " << fastMean << " against " << plainMean
        << " (Monte Carlo error " << error << ")";
  }
}

TEST(AdaptiveStrength, RunsOnAnExtendedTableAskingForItForEveryDataset) {
  const std::int32_t k = 4;
  const DfeTables tables = testing::madeUpTables(k, 8, 24, 9);
  std::vector<Matrix> datasets;
  for (std::uint64_t seed : {1, 2})
    datasets.push_back(
        testing::simulateGenes(tables, Model::AdaptiveStrength, 3, k, k + 1, {}, seed));
  AnalysisBench bench(multiDataset({datasets[0]}), 5);
  const auto table = bench.dir.write("extended.txt", testing::extendedTableText(k, 8, 24, 9));
  bench.platform.openAnswers.push_back(table);
  bench.platform.saveAnswers.push_back(bench.dir.path() / "samples.txt");
  AdaptiveStrength().run(bench.context, settingsOf(AdaptiveStrength::options(), kShortChain));
  EXPECT_EQ(bench.context.refusals(), 0);
  const std::string report = bench.report();
  EXPECT_EQ(report.rfind("\nRunning new method\t\n\nRunning method of RP and Moffrey", 0), 0u)
      << report;
  for (const char* line :
       {"\nShape parameter : ", "\nMean selection (4Ns) : ", "\n\nNs(0-1) : ", "\nNs(>100) : ",
        "\n\nProportion of adaptive mutations : ", "\nAdaptive selection strength : "})
    EXPECT_NE(report.find(line), std::string::npos) << line;
  const std::string samples = bench.dir.read("samples.txt");
  EXPECT_EQ(samples.substr(0, samples.find('\n')),
            "Step\tLogLike\tShape\tMean 4Nes\tNes(0-1)\tNes(1-10)\tNes(10-100)\tNes(>100)\tPa\tSa");

  AnalysisBench two(multiDataset(datasets), 5);
  two.platform.openAnswers = {
      two.dir.write("extended.txt", testing::extendedTableText(k, 8, 24, 9)), std::nullopt};
  AdaptiveStrength().run(two.context, settingsOf(AdaptiveStrength::options(), kShortChain));
  EXPECT_EQ(std::count(two.platform.openTitles.begin(), two.platform.openTitles.end(),
                       "Select a lookup table"),
            2);
  EXPECT_EQ(two.context.refusals(), 1);  // the second dialog was cancelled
  EXPECT_NE(two.report().find("\nFile\t          Shape\t         SE\t            Mean 4Ns\t"),
            std::string::npos);
}

}  // namespace
}  // namespace zelk::dfe
