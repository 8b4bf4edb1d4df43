// The command line, driven through its real binary.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "support/temp_dir.h"

namespace {

using zelk::testing::TempDir;

const std::string kExamples = ZELK_EXAMPLES_DIR;

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

Outcome zelk(const TempDir& dir, const std::string& arguments) {
  const std::string command = std::string(ZELK_BINARY) + " " + arguments + " >" +
                              (dir.path() / "stdout").string() + " 2>" +
                              (dir.path() / "stderr").string() + " </dev/null";
  const int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, dir.read("stdout"), dir.read("stderr")};
}

TEST(ZelkCli, ListShowsEveryAnalysisWithItsOptionsAndDefaults) {
  TempDir dir;
  const Outcome run = zelk(dir, "list");
  EXPECT_EQ(run.status, 0);
  for (const char* expected :
       {"fww  (Adaptive > Fay, Wycoff and Wu)", "lrp  (Adaptive > Larkwell and RP)", "fwwuw",
        "neutrality-index  (Other > Neutrality index)", "--bootstraps N",
        "No. of bootstraps (default: 1000)", "--method tg|mh", "(default: tg)",
        "--homogeneity yes|no", "Test for Homogeneity (default: yes)"}) {
    EXPECT_NE(run.out.find(expected), std::string::npos) << expected;
  }
}

TEST(ZelkCli, HelpIsBuiltFromTheOptionsRecord) {
  TempDir dir;
  const Outcome run = zelk(dir, "neutrality-index --help");
  EXPECT_EQ(run.status, 0);
  for (const char* expected : {"--bootstraps", "No. of bootstraps", "--method", "tg|mh",
                               "--homogeneity", "--seed", "--mirror", "--quiet", "DATASET"}) {
    EXPECT_NE(run.out.find(expected), std::string::npos) << expected;
  }
}

TEST(ZelkCli, ASeededRunIsReproducibleAndTheMirrorHoldsTheSinksBytes) {
  TempDir dir;
  const std::string dataset = kExamples + "/multi_dataset.tsv";
  const Outcome first =
      zelk(dir, "fww --quiet --seed 7 --mirror " + (dir.path() / "m.txt").string() + " " + dataset);
  const std::string mirror = dir.read("m.txt");
  const Outcome second = zelk(dir, "fww --quiet --seed 7 " + dataset);
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.err, "");
  EXPECT_EQ(first.out, second.out);
  EXPECT_TRUE(first.out.starts_with("Method of Fay, Wycoff and Wu (2001) Genetics\n\n"));
  EXPECT_NE(first.out.find("Sample C: 8 genes simulated with alpha = 0.3\tn = 8   alpha= "),
            std::string::npos);
  // The mirror keeps the sink's carriage returns; standard output shows them as newlines.
  std::string translated = mirror;
  for (char& c : translated)
    if (c == '\r') c = '\n';
  EXPECT_EQ(translated, first.out);
  EXPECT_EQ(mirror.find('\n'), std::string::npos);

  const Outcome other = zelk(dir, "fww --quiet --seed 8 " + dataset);
  EXPECT_NE(other.out, first.out);
}

TEST(ZelkCli, NeutralityIndexTakesItsOptions) {
  TempDir dir;
  const Outcome run = zelk(dir,
                           "neutrality-index --quiet --seed 1 --method mh --homogeneity no "
                           "--bootstraps 50 " +
                               kExamples + "/four_column.tsv");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(
      run.out.starts_with("Method of Mantel and Haenszel\n\nfour_column.tsv\tn = 20   NI = "))
      << run.out;
  EXPECT_EQ(run.out.find("Homogeneity"), std::string::npos);
}

TEST(ZelkCli, ExitStatusTellsCompletedRefusedAndUsageErrorsApart) {
  TempDir dir;
  dir.write("binary.tsv", std::string("h\tx\n\0\1\2", 7));
  dir.write("narrow.tsv", "h\tx\ng\t1\n");
  const struct {
    std::string arguments;
    int status;
    std::string message;  // expected on standard error
  } cases[] = {
      {"fww --quiet " + kExamples + "/four_column.tsv", 0, ""},
      {"fww --quiet " + (dir.path() / "missing.tsv").string(), 1,
       "zelk: cannot open " + (dir.path() / "missing.tsv").string() +
           ": No such file or directory\n"},
      {"lrp --quiet " + (dir.path() / "binary.tsv").string(), 1,
       "zelk: binary.tsv: not a text file (a NUL byte on line 2); a dataset is a tab-separated "
       "text table\n"},
      {"fwwuw --quiet " + kExamples + "/four_column.tsv", 1,
       "zelk: Error : can't do an unweighted analysis without the number of sites\n"},
      {"fww --quiet " + (dir.path() / "narrow.tsv").string(), 1,
       "zelk: narrow.tsv: the dataset starting on line 1 has 1 numeric column; this analysis "
       "reads Dn, Pn, Ds, Ps from four columns, or the eight-column layout Dn, sites, Pn, sites, "
       "Ds, sites, Ps, sites\n"},
      {"neutrality-index --quiet --bootstraps=-3 " + kExamples + "/four_column.tsv", 1,
       "zelk: No. of bootstraps: \"-3\" is not a usable number of replicates; enter a whole "
       "number from 0 to 100000000\n"},
      {"neutrality-index --bootstraps 1.5 x.tsv", 2, ""},
      {"neutrality-index --method xx x.tsv", 2, ""},
      {"fww", 2, ""},
      {"fww --no-such-flag x.tsv", 2, ""},
      {"no-such-analysis x.tsv", 2, ""},
      {"", 2, ""},
  };
  for (const auto& c : cases) {
    const Outcome run = zelk(dir, c.arguments);
    EXPECT_EQ(run.status, c.status) << c.arguments << "\n" << run.err;
    if (!c.message.empty()) {
      EXPECT_EQ(run.err, c.message) << c.arguments;
    }
    if (c.status == 2) {
      EXPECT_FALSE(run.err.empty()) << c.arguments;
    }
  }
}

TEST(ZelkCli, AMirrorThatCannotBeCreatedIsRefusedBeforeTheRun) {
  TempDir dir;
  const Outcome run = zelk(dir, "fww --quiet --mirror " + (dir.path() / "no" / "m.txt").string() +
                                    " " + kExamples + "/four_column.tsv");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("cannot create the mirror file"), std::string::npos);
}

}  // namespace
