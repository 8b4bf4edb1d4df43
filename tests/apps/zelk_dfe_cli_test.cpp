// The DFE analyses (rppq, rpm, adaptive-strength) through the real zelk binary, on tables
// written by the real vorrel over small grids and short chains: the report, the sample file,
// every refusal with its message, and the extended table layout.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "dfe/dfe_fixtures.h"
#include "support/temp_dir.h"

namespace {

using zelk::testing::TempDir;

const std::string kChain = "--burn-in 20 --reps 200 --sampling 10 --quiet --seed 1";

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

// Runs a program inside the folder, so relative names resolve there and anything the run
// writes without being asked to lands there too.
Outcome runIn(const TempDir& dir, const std::string& binary, const std::string& arguments) {
  const std::string command = "cd " + dir.path().string() + " && " + binary + " " + arguments +
                              " >stdout 2>stderr </dev/null";
  const int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, dir.read("stdout"), dir.read("stderr")};
}

Outcome zelk(const TempDir& dir, const std::string& arguments) {
  return runIn(dir, ZELK_BINARY, arguments);
}

// A core-layout table on a grid of 7 shapes (0 to 0.5) and 9 means (10 to 1e6), which holds
// the default start values shape 0.25 and mean 10000; a few milliseconds to compute.
void makeTable(const TempDir& dir, const std::string& name, int sampleSize) {
  const Outcome made = runIn(dir, VORREL_BINARY,
                             "--quiet --sample-size " + std::to_string(sampleSize) +
                                 " --mean-steps 8 --beta-steps 6 --out " + name);
  ASSERT_EQ(made.status, 0) << made.err;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

std::size_t fieldCount(const std::string& line) {
  std::size_t count = 1;
  for (const char c : line) count += c == '\t' ? 1 : 0;
  return count;
}

// The line without the padding and the tab that end an aligned report line.
std::string trimmed(std::string line) {
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.pop_back();
  return line;
}

std::string joinLines(const std::vector<std::string>& text, std::size_t count) {
  std::string out;
  for (std::size_t i = 0; i < count && i < text.size(); ++i) out += text[i] + "\n";
  return out;
}

// Four genes of a sample of `sampleSize` with three frequency classes: n, Ln, Pn1-3, Ls,
// Ps1-3, then Lnd, Dn, Lsd, Ds when `divergence` is set.
std::string dataset(int sampleSize, bool divergence) {
  const struct {
    const char* name;
    const char* polymorphism;
    const char* divergence;
  } genes[] = {{"g1", "900\t4\t1\t1\t300\t5\t2\t1", "900\t8\t300\t15"},
               {"g2", "1200\t6\t2\t0\t400\t7\t3\t2", "1200\t10\t400\t22"},
               {"g3", "600\t2\t0\t1\t200\t3\t2\t0", "600\t5\t200\t9"},
               {"g4", "1500\t7\t3\t1\t500\t9\t4\t2", "1500\t14\t500\t25"}};
  std::string text = "gene\tn\tLn\tPn1\tPn2\tPn3\tLs\tPs1\tPs2\tPs3";
  text += divergence ? "\tLnd\tDn\tLsd\tDs\n" : "\n";
  for (const auto& gene : genes) {
    text += std::string(gene.name) + "\t" + std::to_string(sampleSize) + "\t" + gene.polymorphism;
    text += divergence ? std::string("\t") + gene.divergence + "\n" : "\n";
  }
  return text;
}

// The dataset with numeric column `column` (counted from 1 after the gene name) set to
// `value` in gene line `gene` (counted from 1), or in every gene line when `gene` is 0.
std::string withCount(const std::string& text, int gene, int column, const std::string& value) {
  auto rows = lines(text);
  for (std::size_t g = 1; g < rows.size(); ++g) {
    if (gene != 0 && static_cast<std::size_t>(gene) != g) continue;
    std::size_t begin = 0;
    for (int i = 0; i < column; ++i) begin = rows[g].find('\t', begin) + 1;
    const std::size_t end = rows[g].find('\t', begin);
    rows[g].replace(begin, end == std::string::npos ? std::string::npos : end - begin, value);
  }
  return joinLines(rows, rows.size());
}

std::ptrdiff_t fileCount(const TempDir& dir) {
  return std::distance(std::filesystem::directory_iterator(dir.path()),
                       std::filesystem::directory_iterator());
}

// An extended-layout table for K classes (the made-up values of the DFE tests: 8 shapes
// from 0.05 in steps of 0.05, 16 means from 10 in quarter decades, 5 adaptive columns);
// `dropLast` leaves off that many lines at the end.
std::string extendedTable(int classes, int dropLast = 0) {
  const auto text = lines(zelk::testing::extendedTableText(classes - 1, 8, 16, 5));
  return joinLines(text, text.size() - static_cast<std::size_t>(dropLast));
}

TEST(ZelkDfeCli, RunsEndToEndAndSavesTheSamplesWhenAsked) {
  TempDir dir;
  makeTable(dir, "t6.txt", 6);
  dir.write("rppq.tsv", dataset(6, false));
  dir.write("rpm.tsv", dataset(6, true));
  dir.write("strength.tsv", dataset(4, true));  // three unfolded classes for n = 4
  dir.write("extended.txt", extendedTable(4));
  const struct {
    std::string arguments;
    std::vector<std::string> report;  // lines the report must hold
    std::string absent;               // text it must not hold
    std::size_t columns;              // of the sample file
  } cases[] = {
      {"rppq --table t6.txt rppq.tsv",
       {"Running method of RP, Penhalt and Quillon (2006) Genetics", "Shape parameter : ",
        "Mean selection (4Ns) : ", "Ns(0-1) : ", "Ns(1-10) : ", "Ns(10-100) : ", "Ns(>100) : "},
       "alpha : ",
       8},
      {"rpm --table t6.txt rpm.tsv",
       {"Running method of RP and Moffrey (2009) Mol. Biol. Evol.",
        "Shape parameter : ", "Ns(>100) : ", "alpha : "},
       "omegaA : ",
       9},
      {"rpm --estimate omegaA --include-polymorphism yes --table t6.txt rpm.tsv",
       {"Mean selection (4Ns) : ", "Ns(0-1) : ", "omegaA : "},
       "alpha : ",
       9},
      {"adaptive-strength --table extended.txt strength.tsv",
       {"Running new method", "Shape parameter : ", "Ns(10-100) : ",
        "Proportion of adaptive mutations : ", "Adaptive selection strength : "},
       "alpha : ",
       10},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(dir.path() / "samples.txt");
    const Outcome saved = zelk(dir, c.arguments + " " + kChain + " --samples samples.txt");
    ASSERT_EQ(saved.status, 0) << c.arguments << "\n" << saved.err;
    EXPECT_EQ(saved.err, "") << c.arguments;
    for (const auto& line : c.report)
      EXPECT_NE(saved.out.find("\n" + line), std::string::npos) << c.arguments << ": " << line;
    EXPECT_EQ(saved.out.find(c.absent), std::string::npos) << c.arguments;

    // 200 steps after the burn-in, one sample every 10: 20 rows under the header.
    const auto samples = lines(dir.read("samples.txt"));
    ASSERT_EQ(samples.size(), 21u) << c.arguments;
    EXPECT_TRUE(samples[0].starts_with(
        "Step\tLogLike\tShape\tMean 4Nes\tNes(0-1)\tNes(1-10)\tNes(10-100)\tNes(>100)"));
    for (const auto& row : samples) EXPECT_EQ(fieldCount(row), c.columns) << c.arguments << row;
    EXPECT_TRUE(samples[1].starts_with("30\t")) << samples[1];
    EXPECT_TRUE(samples[20].starts_with("220\t")) << samples[20];

    // The same seed gives the same report, and no file is written unless asked for.
    const auto before = fileCount(dir);
    std::filesystem::remove(dir.path() / "samples.txt");
    const Outcome again = zelk(dir, c.arguments + " " + kChain);
    EXPECT_EQ(again.status, 0) << c.arguments;
    EXPECT_EQ(again.out, saved.out) << c.arguments;
    EXPECT_EQ(fileCount(dir), before - 1) << c.arguments;
    const Outcome otherSeed = zelk(dir, c.arguments + " " + kChain + " --seed 2");
    EXPECT_NE(otherSeed.out, saved.out) << c.arguments;
  }
  const auto header = [&](const char* arguments) {
    zelk(dir, std::string(arguments) + " " + kChain + " --samples s.txt");
    return lines(dir.read("s.txt")).at(0);
  };
  EXPECT_TRUE(header("rpm --table t6.txt rpm.tsv").ends_with("\tNes(>100)\tAlpha"));
  EXPECT_TRUE(header("rpm --estimate omegaA --table t6.txt rpm.tsv").ends_with("\tomegaA"));
  EXPECT_TRUE(header("adaptive-strength --table extended.txt strength.tsv").ends_with("\tPa\tSa"));
}

TEST(ZelkDfeCli, EachRefusalSaysWhatAndWhere) {
  TempDir dir;
  makeTable(dir, "t6.txt", 6);
  makeTable(dir, "t8.txt", 8);
  const auto table = lines(dir.read("t6.txt"));
  dir.write("ends-early.txt", joinLines(table, 20));
  std::vector<std::string> shortRow = table;
  shortRow[8] = shortRow[8].substr(0, shortRow[8].rfind('\t'));  // line 9 loses its last value
  dir.write("short-row.txt", joinLines(shortRow, shortRow.size()));
  std::filesystem::create_directory(dir.path() / "folder.txt");
  dir.write("rppq.tsv", dataset(6, false));
  dir.write("rpm.tsv", dataset(6, true));
  dir.write("strength.tsv", dataset(4, true));
  dir.write("no-singletons.tsv", withCount(dataset(6, false), 0, 7, "0"));  // every Ps1 0

  const std::string folder = (dir.path() / "folder.txt").string();
  const struct {
    std::string arguments;
    std::vector<std::string> message;  // parts of the message on standard error
  } cases[] = {
      {"rppq rppq.tsv", {"zelk: rppq.tsv: ", "no lookup table was chosen"}},
      {"rpm rpm.tsv", {"zelk: rpm.tsv: ", "no lookup table was chosen"}},
      {"rppq --table missing.txt rppq.tsv", {"cannot open the lookup table missing.txt"}},
      {"rppq --table " + folder + " rppq.tsv", {folder + " is a folder, not a lookup table"}},
      {"rppq --table t8.txt rppq.tsv",
       {"t8.txt line 2 gives 4 frequency classes and sample size 8",
        "the dataset has 3 classes and sample size 6"}},
      {"rpm --table t8.txt rpm.tsv", {"t8.txt line 2"}},
      {"rppq --table ends-early.txt rppq.tsv", {"ends-early.txt ends after line 20"}},
      {"rppq --table short-row.txt rppq.tsv",
       {"short-row.txt line 9 holds 8 values where 9 are needed"}},
      {"rppq --table t6.txt --shape 0 rppq.tsv", {"zelk: Shape: the start value \"0\""}},
      {"rppq --table t6.txt --mean-s 0 rppq.tsv", {"zelk: Mean S (4Ns): the start value \"0\""}},
      {"rpm --table t6.txt --adaptive-start 1 rpm.tsv",
       {"zelk: Start Value: the start value \"1\"", "between -100 and 1"}},
      {"adaptive-strength --table t6.txt --proportion 1 strength.tsv",
       {"zelk: Proportion: the start value \"1\""}},
      {"adaptive-strength --table t6.txt --proportion -1 strength.tsv",
       {"zelk: Proportion: the start value \"-1\""}},
      {"adaptive-strength --table t6.txt --strength 0 strength.tsv",
       {"zelk: Strength: the start value \"0\""}},
      {"adaptive-strength --table t6.txt --strength 10000 strength.tsv",
       {"zelk: Strength: the start value \"10000\""}},
      {"rppq --table t6.txt --prop-width -0.1 rppq.tsv", {"zelk: Prop. width: \"-0.1\""}},
      {"rppq --table t6.txt --shape 0.9 rppq.tsv",
       {"zelk: rppq.tsv: ", "Shape: the start value 0.9 lies outside the lookup table's shapes"}},
      {"rppq --table t6.txt no-singletons.tsv",
       {"zelk: no-singletons.tsv: ", "no gene has a synonymous singleton (column 8 of the file)"}},
  };
  for (const auto& c : cases) {
    const Outcome run = zelk(dir, c.arguments + " " + kChain);
    EXPECT_EQ(run.status, 1) << c.arguments;
    for (const auto& part : c.message)
      EXPECT_NE(run.err.find(part), std::string::npos) << c.arguments << "\n" << run.err;
    EXPECT_EQ(run.out.find("Shape parameter"), std::string::npos) << c.arguments;
  }
  // With alpha an adaptive start of 1 is refused; omegaA may exceed 1.
  EXPECT_EQ(
      zelk(dir, "rpm --estimate omegaA --adaptive-start 1 --table t6.txt rpm.tsv " + kChain).status,
      0);
}

TEST(ZelkDfeCli, CountsAboveAMillionAreAnalysed) {
  TempDir dir;
  makeTable(dir, "t6.txt", 6);
  for (const bool divergence : {false, true}) {
    // Gene 1: Pn1 and Ps1 beyond the log-factorial table, and Dn too with divergence.
    std::string text =
        withCount(withCount(dataset(6, divergence), 1, 3, "2500000"), 1, 7, "3000000");
    if (divergence) text = withCount(text, 1, 11, "1200000");
    dir.write("huge.tsv", text);
    const Outcome run =
        zelk(dir, std::string(divergence ? "rpm" : "rppq") + " --table t6.txt huge.tsv " + kChain);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err.find("crash"), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("\nShape parameter : "), std::string::npos) << run.out;
  }
}

TEST(ZelkDfeCli, AChainWithoutSamplesSaysSo) {
  TempDir dir;
  makeTable(dir, "t6.txt", 6);
  dir.write("rppq.tsv", dataset(6, false));
  const struct {
    std::string chain;
    std::string message;
  } cases[] = {
      {"--burn-in 500 --reps 50 --sampling 100",
       "No samples were recorded: no step after the burn-in of 500 fell on a multiple of the "
       "sampling interval 100 within the 50 steps that follow it\n"},
      {"--burn-in 20 --reps 200 --sampling 0",
       "No samples were recorded: the sampling interval is 0\n"},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(dir.path() / "samples.txt");
    const Outcome run = zelk(
        dir, "rppq --quiet --seed 1 --table t6.txt --samples samples.txt " + c.chain + " rppq.tsv");
    EXPECT_EQ(run.status, 0) << c.chain << "\n" << run.err;
    EXPECT_TRUE(run.out.ends_with(c.message)) << c.chain << "\n" << run.out;
    EXPECT_EQ(run.out.find("Shape parameter"), std::string::npos) << c.chain;
    // The sample file, if one is written, holds no sample row.
    EXPECT_LE(lines(dir.read("samples.txt")).size(), 1u) << c.chain << "\n"
                                                         << dir.read("samples.txt");
  }
}

TEST(ZelkDfeCli, AMultiDatasetFileGivesOneLinePerDatasetAndNoSampleFile) {
  TempDir dir;
  makeTable(dir, "t6.txt", 6);
  for (const bool divergence : {true, false}) {
    const auto genes = lines(dataset(6, divergence));
    dir.write("multi.tsv", "First set\n" + joinLines({genes.begin() + 1, genes.end()}, 4) +
                               "#\nSecond set\n" + joinLines({genes.begin() + 1, genes.end()}, 3));
    const std::string command = divergence ? "rpm" : "rppq";
    const Outcome run =
        zelk(dir, command + " --table t6.txt --samples samples.txt " + kChain + " multi.tsv");
    ASSERT_EQ(run.status, 0) << command << "\n" << run.err;
    std::vector<std::string> table;
    for (const auto& line : lines(run.out))
      if (line.starts_with("File") || line.starts_with("First set") ||
          line.starts_with("Second set"))
        table.push_back(line);
    ASSERT_EQ(table.size(), 3u) << run.out;
    EXPECT_TRUE(table[0].starts_with("File\t")) << table[0];
    for (const char* title : {"Shape", "SE", "Mean 4Ns"})
      EXPECT_NE(table[0].find(title), std::string::npos) << command << ": " << title;
    if (divergence) {
      EXPECT_NE(table[0].find("Ns(>100)"), std::string::npos);
      EXPECT_NE(table[0].find("alpha"), std::string::npos);
    }
    EXPECT_TRUE(table[1].starts_with("First set\t"));
    EXPECT_TRUE(table[2].starts_with("Second set\t"));
    // The dataset, then the mean and spread of each quantity: shape, mean and the four
    // shares, and alpha with divergence. Without divergence the header names only the
    // first five columns.
    const std::size_t fields = 1 + 2 * (divergence ? 7u : 6u);
    EXPECT_EQ(fieldCount(trimmed(table[0])), divergence ? fields : 5u) << table[0];
    for (std::size_t i = 1; i < table.size(); ++i)
      EXPECT_EQ(fieldCount(trimmed(table[i])), fields) << command << ": " << table[i];
    EXPECT_EQ(run.out.find("Shape parameter : "), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "samples.txt")) << command;
  }
}

TEST(ZelkDfeCli, AnExtendedTableThatEndsEarlyIsRefused) {
  TempDir dir;
  dir.write("strength.tsv", dataset(4, true));
  const struct {
    int dropLast;
    std::string message;
  } cases[] = {
      // 5 + 4 x 9 + 8 = 49 lines of grid, then 1 + 1 + 4 + 1 + 1 of the adaptive part.
      {1, "cut.txt ends after line 56: the lookup table is incomplete"},
      {5, "cut.txt ends after line 52: the lookup table is incomplete"},
      {8, "cut.txt ends after line 49: the lookup table is incomplete"},
  };
  for (const auto& c : cases) {
    dir.write("cut.txt", extendedTable(4, c.dropLast));
    const Outcome run = zelk(dir, "adaptive-strength --table cut.txt " + kChain + " strength.tsv");
    EXPECT_EQ(run.status, 1) << c.dropLast;
    EXPECT_NE(run.err.find("zelk: strength.tsv: "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
  // A table of three classes where the sample of four needs four: line 3 is short.
  dir.write("three.txt", extendedTable(3));
  const Outcome fewer =
      zelk(dir, "adaptive-strength --table three.txt " + kChain + " strength.tsv");
  EXPECT_EQ(fewer.status, 1);
  EXPECT_NE(fewer.err.find("three.txt line 3 holds 3 values where 4 are needed"), std::string::npos)
      << fewer.err;
}

}  // namespace
