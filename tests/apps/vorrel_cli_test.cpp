// The lookup-table generator's command line, driven through its real binary: the file a run
// writes, the settings it refuses, its usage errors, and a run cancelled by a signal. Every
// run that does not complete must leave nothing behind: no file under the target name (or
// the old one untouched) and no temporary ".partial-" file beside it.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"
#include "tablegen/lookup_table.h"

namespace {

using zelk::tablegen::readLookupTable;
using zelk::tablegen::tableLineCount;
using zelk::testing::TempDir;

struct Outcome {
  int status;
  std::string err;
};

// Runs vorrel with the arguments; standard error is kept in the folder's "stderr" file.
Outcome vorrel(const TempDir& dir, const std::string& arguments) {
  const std::string command = std::string(VORREL_BINARY) + " " + arguments + " >/dev/null 2>" +
                              (dir.path() / "stderr").string() + " </dev/null";
  const int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, dir.read("stderr")};
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
  return parts;
}

// The temporary files a run left in the folder.
std::vector<std::string> partialFiles(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.find(".partial-") != std::string::npos) names.push_back(name);
  }
  return names;
}

// A grid small enough to compute in a few milliseconds.
const std::string kTinyGrid = "--beta-steps 2 --mean-steps 2";

TEST(VorrelCliTable, AllFrequenciesRunWritesTheWholeTableAndItReadsBack) {
  TempDir dir;
  const auto target = dir.path() / "table.txt";
  const Outcome run = vorrel(dir,
                             "--sample-size 7 --beta-steps 5 --mean-lower 10 --mean-upper 100000 "
                             "--mean-steps 4 --out " +
                                 target.string());
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("vorrel: Finished"), std::string::npos) << run.err;
  EXPECT_TRUE(partialFiles(dir.path()).empty());

  const std::string text = dir.read("table.txt");
  ASSERT_TRUE(text.ends_with('\n'));
  const auto lines = split(text, '\n');
  // k = 3 classes (1..n/2), B = 6 shape rows (0 to 0.5 by 0.1).
  ASSERT_EQ(static_cast<std::int64_t>(lines.size()), tableLineCount(3, 6));
  EXPECT_EQ(lines[0], "Frequency classes : (1,1)(2,2)(3,3)");
  EXPECT_EQ(lines[1], "No of freq classes and sample size : \t3\t7");
  EXPECT_TRUE(lines[2].starts_with('\t')) << lines[2];
  EXPECT_EQ(split(lines[2], '\t').size(), 1u + 3u);  // E0 per class
  EXPECT_TRUE(lines[3].starts_with("0\t6\t0.1\t")) << lines[3];
  const auto meanAxis = split(lines[4], '\t');
  ASSERT_EQ(meanAxis.size(), 4u) << lines[4];
  EXPECT_DOUBLE_EQ(std::stod(meanAxis[0]), std::log(10.0));
  // The fifth accumulated log-mean lies just above ln 100000, so the grid has 4 columns.
  const std::size_t columns = std::stoul(meanAxis[1]);
  ASSERT_EQ(columns, 4u);

  // Each class opens with an empty line; every data row starts with a tab and holds one
  // value per mean column.
  for (std::size_t i = 5; i < lines.size(); ++i) {
    if (i < 5 + 3 * 7 && (i - 5) % 7 == 0) {
      EXPECT_EQ(lines[i], "") << "line " << i + 1;
    } else {
      EXPECT_TRUE(lines[i].starts_with('\t')) << "line " << i + 1 << ": " << lines[i];
      EXPECT_EQ(split(lines[i], '\t').size(), columns + 1) << "line " << i + 1;
    }
  }

  const auto read = readLookupTable(target);
  ASSERT_TRUE(read.table) << read.message;
  EXPECT_EQ(read.table->sampleSize, 7);
  EXPECT_EQ(read.table->classCount(), 3);
  EXPECT_EQ(read.table->beta.count, 6);
  EXPECT_EQ(read.table->logMeanS.count, static_cast<std::int32_t>(columns));
  EXPECT_EQ(read.table->polymorphism.size(), 3 * 6 * columns);
}

TEST(VorrelCliTable, ListModeKeepsTheClassTextsAsTypedAndUsesTheirCounts) {
  TempDir dir;
  const auto target = dir.path() / "list.txt";
  const Outcome run = vorrel(
      dir, "--quiet --sample-size 7 --classes 1:1,02:3 " + kTinyGrid + " --out " + target.string());
  ASSERT_EQ(run.status, 0) << run.err;
  const auto lines = split(dir.read("list.txt"), '\n');
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "Frequency classes : (1,1)(02,3)");
  EXPECT_EQ(lines[1], "No of freq classes and sample size : \t2\t7");

  const auto read = readLookupTable(target);
  ASSERT_TRUE(read.table) << read.message;
  EXPECT_EQ(static_cast<std::int64_t>(lines.size()), tableLineCount(2, read.table->beta.count));
  ASSERT_EQ(read.table->classCount(), 2);
  EXPECT_EQ(read.table->classes[1].lower, 2);
  EXPECT_EQ(read.table->classes[1].upper, 3);
  // The folded class of counts 2..3 of a sample of 7 holds counts 2, 3, 4 and 5: its neutral
  // expectation is 1/2 + 1/3 + 1/4 + 1/5.
  ASSERT_EQ(read.table->neutral.size(), 2u);
  EXPECT_NEAR(read.table->neutral[0], 1.0 + 1.0 / 6, 1e-12);
  EXPECT_NEAR(read.table->neutral[1], 77.0 / 60, 1e-12);
}

TEST(VorrelCliTable, TheThreadCountDoesNotChangeTheFile) {
  TempDir dir;
  const std::string settings = "--quiet --sample-size 10 --beta-steps 3 --mean-steps 3";
  const Outcome one =
      vorrel(dir, settings + " --threads 1 --out " + (dir.path() / "one.txt").string());
  const Outcome three =
      vorrel(dir, settings + " --threads 3 --out " + (dir.path() / "three.txt").string());
  ASSERT_EQ(one.status, 0) << one.err;
  ASSERT_EQ(three.status, 0) << three.err;
  EXPECT_FALSE(dir.read("one.txt").empty());
  EXPECT_EQ(dir.read("one.txt"), dir.read("three.txt"));
}

TEST(VorrelCliRefusal, UnusableSettingsAreRefusedNamingTheFieldAndWriteNothing) {
  const struct {
    std::string arguments;
    std::string message;  // how the message on standard error begins
  } cases[] = {
      {"--sample-size 1 " + kTinyGrid,
       "The sample size must be a whole number of at least 2, not \"1\"."},
      {"--sample-size 0 " + kTinyGrid,
       "The sample size must be a whole number of at least 2, not \"0\"."},
      {"--sample-size 7.5 " + kTinyGrid,
       "The sample size must be a whole number of at least 2, not \"7.5\"."},
      {"--sample-size 7 --beta-steps 2 --mean-steps 0",
       "The number of meanS steps must be a positive whole number, not \"0\"."},
      {"--sample-size 7 --beta-steps 2.5 --mean-steps 2",
       "The number of beta steps must be a positive whole number, not \"2.5\"."},
      {"--sample-size 7 --beta-steps -3 --mean-steps 2",
       "The number of beta steps must be a positive whole number, not \"-3\"."},
      {"--sample-size 7 --mean-lower 10 --mean-upper 10 " + kTinyGrid,
       "The meanS lower and upper limits are equal (\"10\" and \"10\")"},
      {"--sample-size 7 --beta-lower 0.3 --beta-upper 0.3 " + kTinyGrid,
       "The beta lower and upper limits are equal (\"0.3\" and \"0.3\")"},
      {"--sample-size 7 --mean-lower 0 " + kTinyGrid,
       "The meanS lower limit must be positive, not \"0\"."},
      {"--sample-size 7 --mean-lower -5 " + kTinyGrid,
       "The meanS lower limit must be positive, not \"-5\"."},
      {"--sample-size 7 --mean-upper 0 " + kTinyGrid,
       "The meanS upper limit must be positive, not \"0\"."},
      {"--sample-size 7 --beta-lower 0.6 --beta-upper 0.5 " + kTinyGrid,
       "The beta lower limit \"0.6\" is above its upper limit \"0.5\"."},
      {"--sample-size 7 --mean-lower 1000 --mean-upper 10 " + kTinyGrid,
       "The meanS lower limit \"1000\" is above its upper limit \"10\"."},
      {"--sample-size 7 --classes 0:1 " + kTinyGrid,
       "Class 1 of the list, (0,1), must have whole-number bounds from 1 to 6 for a sample of 7."},
      {"--sample-size 7 --classes 1:7 " + kTinyGrid,
       "Class 1 of the list, (1,7), must have whole-number bounds from 1 to 6"},
      // The row number counts from the start of the list.
      {"--sample-size 7 --classes 1:1,4:9 " + kTinyGrid,
       "Class 2 of the list, (4,9), must have whole-number bounds from 1 to 6"},
      {"--sample-size 7 --classes 3:2 " + kTinyGrid,
       "Class 1 of the list, (3,2), has its lower bound above its upper bound."},
      // An empty lower bound ends the list, so a first row without one leaves it empty.
      {"--sample-size 7 --classes :3 " + kTinyGrid, "The class list is empty"},
      {"--sample-size 7 --classes 2 " + kTinyGrid,
       "Class 1 of the list, (2,), has no upper bound: write each class as LOWER:UPPER."},
      // Steps too small to move the value in double precision: the stepping would not end.
      {"--sample-size 7 --beta-lower 1 --beta-upper 1.0000000000000002 " + kTinyGrid,
       "The beta limits \"1\" and \"1.0000000000000002\" are too close together to be divided "
       "into 2 steps."},
      // Different limits whose logarithms are equal.
      {"--sample-size 7 --mean-lower 10 --mean-upper 10.000000000000002 " + kTinyGrid,
       "The meanS limits \"10\" and \"10.000000000000002\" are too close together"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    TempDir dir;
    const auto target = dir.path() / "table.txt";
    const Outcome run = vorrel(dir, "--quiet " + c.arguments + " --out " + target.string());
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("vorrel: " + c.message), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(target));
    EXPECT_TRUE(partialFiles(dir.path()).empty());
  }
}

TEST(VorrelCliTable, ClassesAfterAnEmptyLowerBoundAreIgnoredWithANote) {
  TempDir dir;
  const auto target = dir.path() / "t.txt";
  const Outcome run = vorrel(
      dir, "--quiet --sample-size 7 --classes 1:1,,9:9 " + kTinyGrid + " --out " + target.string());
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("vorrel: The class list ends at row 2, whose lower bound is empty; the "
                         "classes after it were ignored."),
            std::string::npos)
      << run.err;
  EXPECT_TRUE(dir.read("t.txt").starts_with("Frequency classes : (1,1)\n"));
}

TEST(VorrelCliRefusal, AnExistingFileIsKeptWhenARunIsRefused) {
  TempDir dir;
  const std::string old = "an older table\n";
  const auto target = dir.write("table.txt", old);
  const Outcome run = vorrel(
      dir, "--quiet --sample-size 7 --mean-lower 0 " + kTinyGrid + " --out " + target.string());
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(dir.read("table.txt"), old);
  EXPECT_TRUE(partialFiles(dir.path()).empty());
}

TEST(VorrelCliRefusal, ATargetThatCannotBeWrittenIsRefusedWithoutLeftovers) {
  TempDir dir;
  std::filesystem::create_directory(dir.path() / "folder");
  const struct {
    std::string target;
    std::string message;
  } cases[] = {
      {(dir.path() / "missing" / "table.txt").string(), "cannot create a file beside "},
      // The table is computed, but a folder under the target name cannot be replaced by it.
      {(dir.path() / "folder").string(), "cannot write the lookup table to "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target);
    const Outcome run = vorrel(dir, "--quiet --sample-size 7 " + kTinyGrid + " --out " + c.target);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("vorrel: " + c.message + c.target), std::string::npos) << run.err;
    EXPECT_TRUE(partialFiles(dir.path()).empty());
  }
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "missing"));
  EXPECT_TRUE(std::filesystem::is_empty(dir.path() / "folder"));
}

TEST(VorrelCliUsage, MalformedCommandLinesExitWithStatusTwo) {
  const struct {
    std::string arguments;
    std::string flag;  // the flag the message names
  } cases[] = {
      {"--sample-size 7 --mean-lower abc " + kTinyGrid + " --out OUT", "--mean-lower"},
      {"--sample-size 7 " + kTinyGrid, "--out"},
      {kTinyGrid + " --out OUT", "--sample-size"},
      {"--sample-size 7 --threads 0 " + kTinyGrid + " --out OUT", "--threads"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    TempDir dir;
    const auto target = dir.path() / "table.txt";
    std::string arguments = c.arguments;
    if (const auto at = arguments.find("OUT"); at != std::string::npos)
      arguments.replace(at, 3, target.string());
    const Outcome run = vorrel(dir, arguments);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(c.flag), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(target));
    EXPECT_TRUE(partialFiles(dir.path()).empty());
  }
}

// Starts vorrel in the background with its standard error in the folder's "stderr" file.
pid_t startVorrel(const TempDir& dir, const std::vector<std::string>& arguments) {
  std::vector<std::string> words = {VORREL_BINARY};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const std::string err = (dir.path() / "stderr").string();
  const pid_t pid = fork();
  if (pid == 0) {
    const int errFile = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int null = open("/dev/null", O_RDWR);
    if (errFile < 0 || null < 0) _exit(126);
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    dup2(errFile, STDERR_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

TEST(VorrelCliInterrupt, ASignalCancelsTheRunAndLeavesTheFolderAsItWas) {
  const struct {
    int signal;
    bool targetExists;  // a table from an earlier run is under the target name
  } cases[] = {{SIGINT, false}, {SIGTERM, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.signal == SIGINT ? "SIGINT" : "SIGTERM");
    TempDir dir;
    const auto target = dir.path() / "table.txt";
    const std::string old = "an older table\n";
    if (c.targetExists) dir.write("table.txt", old);
    // A grid that takes seconds on one thread; it is cancelled long before it completes.
    const pid_t pid =
        startVorrel(dir, {"--sample-size", "100", "--beta-steps", "400", "--mean-steps", "400",
                          "--threads", "1", "--out", target.string()});
    ASSERT_GT(pid, 0);

    // The temporary file appears once the settings are checked and the computing starts.
    bool started = false;
    bool ended = false;
    int status = 0;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!started && !ended && std::chrono::steady_clock::now() < giveUp) {
      started = !partialFiles(dir.path()).empty();
      if (!started) {
        ended = waitpid(pid, &status, WNOHANG) == pid;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
    if (!started) {
      if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
      }
      FAIL() << "no temporary file appeared; standard error: " << dir.read("stderr");
    }

    ASSERT_EQ(kill(pid, c.signal), 0);
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    const std::string err = dir.read("stderr");
    EXPECT_NE(err.find("vorrel: the run was cancelled; nothing was written to " + target.string()),
              std::string::npos)
        << err;
    EXPECT_TRUE(partialFiles(dir.path()).empty());
    if (c.targetExists) {
      EXPECT_EQ(dir.read("table.txt"), old);
    } else {
      EXPECT_FALSE(std::filesystem::exists(target));
    }
  }
}

}  // namespace
