// zelk: the analysis program's command line. Every analysis is a subcommand whose flags are
// built from the analysis's options record.

#include <CLI/CLI.hpp>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <map>
#include <optional>
#include <string>

#include "analyses.h"
#include "cli_platform.h"
#include "common/numbers.h"
#include "interrupt.h"
#include "option_flags.h"
#include "shell/data_window.h"
#include "shell/progress_window.h"
#include "shell/results_window.h"
#include "shell/run_context.h"

namespace {

using namespace zelk;
using cli::choiceTokens;
using cli::validatorFor;

constexpr int kCompleted = 0;
constexpr int kRefused = 1;
constexpr int kUsage = 2;

// The flags every analysis takes besides its own options.
struct RunFlags {
  std::string dataset;
  std::optional<std::uint64_t> seed;
  std::string mirror;
  bool quiet = false;
  std::map<std::string, std::string> files;  // answers to the analysis's file dialogs, by flag
};

void printCatalogue() {
  std::cout << "Analyses (zelk ANALYSIS [options] DATASET):\n";
  for (const auto& analysis : allAnalyses()) {
    std::cout << "\n  " << analysis.command << "  (" << analysis.menu << " > " << analysis.caption
              << ")\n      " << analysis.summary << "\n";
    for (const auto& option : analysis.options) {
      std::string flag = "--" + option.flag + " ";
      flag += option.kind == OptionKind::Choice ? choiceTokens(option) : "N";
      std::cout << "      " << flag << std::string(flag.size() < 26 ? 26 - flag.size() : 1, ' ')
                << option.caption << " (default: " << option.defaultToken() << ")\n";
    }
    for (const auto& file : analysis.files) {
      const std::string flag = "--" + file.flag + " FILE";
      std::cout << "      " << flag << std::string(flag.size() < 26 ? 26 - flag.size() : 1, ' ')
                << file.help << "\n";
    }
  }
  std::cout << "\nEvery analysis also takes --seed N, --mirror FILE and --quiet.\n";
}

int runAnalysis(const AnalysisInfo& analysis, OptionValues values, const RunFlags& flags) {
  cli::installInterruptHandler();
  cli::CliPlatform platform(flags.seed);
  cli::TerminalProgress progressDisplay(flags.quiet);
  cli::StandardOutput output;
  resultsWindow results(&output);
  progressWindow progress(progressDisplay, platform);
  Zelk dataWindow(platform);

  if (!flags.mirror.empty()) {
    platform.answerSave("results.txt", flags.mirror);
    if (!results.startMirrorToFile(platform)) {
      platform.showMessage("cannot create the mirror file " + flags.mirror);
      return kRefused;
    }
  }
  for (const auto& file : analysis.files) {
    const auto answer = flags.files.find(file.flag);
    if (answer == flags.files.end() || answer->second.empty()) continue;
    if (file.save) {
      platform.answerSave(file.dialog, answer->second);
    } else {
      platform.answerOpen(file.dialog, answer->second, true);
    }
  }
  platform.answerOpen("Select a dataset", flags.dataset);
  dataWindow.openDataFile();
  if (!dataWindow.dataExists) return kRefused;  // the data window has said why

  RunContext context(dataWindow, results, progress, platform);
  analysis.run(context, values);
  progressDisplay.hide();
  results.stopMirrorToFile();
  std::fflush(stdout);
  if (platform.cancelled()) {
    platform.showMessage("the run was cancelled");
    return kRefused;
  }
  return context.refusals() > 0 ? kRefused : kCompleted;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "zelk: estimates of adaptive substitution, neutrality and selection from per-gene "
      "counts.\nThe report goes to standard output, progress and messages to standard error."};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("zelk ") + "0.1.0");
  app.add_subcommand("list", "list the analyses and their options with defaults")
      ->callback(printCatalogue);

  struct Bound {
    const AnalysisInfo* analysis;
    CLI::App* command;
    std::map<std::string, std::string> texts;
    RunFlags flags;
  };
  std::vector<std::unique_ptr<Bound>> bound;
  for (const auto& analysis : allAnalyses()) {
    auto entry = std::make_unique<Bound>();
    entry->analysis = &analysis;
    CLI::App* command = app.add_subcommand(analysis.command, analysis.summary);
    entry->command = command;
    for (const auto& option : analysis.options) {
      std::string& text = entry->texts[option.field];
      text = option.defaultToken();
      command->add_option("--" + option.flag, text, option.caption + ": " + option.help)
          ->check(validatorFor(option))
          ->capture_default_str();
    }
    for (const auto& file : analysis.files)
      command->add_option("--" + file.flag, entry->flags.files[file.flag], file.help)
          ->type_name("FILE");
    command->add_option("--seed", entry->flags.seed,
                        "seed of the random generator: the same seed and input give the same "
                        "report (default: from the clock)");
    command->add_option("--mirror", entry->flags.mirror,
                        "also write the report, byte for byte as the results sink writes it, "
                        "to FILE");
    command->add_flag("--quiet", entry->flags.quiet, "draw no progress");
    command->add_option("DATASET", entry->flags.dataset, "tab-separated dataset file")->required();
    bound.push_back(std::move(entry));
  }

  if (const auto status = cli::parseCommandLine(app, argc, argv, kUsage)) return *status;

  for (const auto& entry : bound) {
    if (!entry->command->parsed()) continue;
    OptionValues values(entry->analysis->options);
    for (const auto& option : entry->analysis->options) {
      const std::string& text = entry->texts[option.field];
      if (option.kind == OptionKind::Choice) {
        values.set(option.field, option.choiceByToken(text)->value);
      } else {
        values.set(option.field, text);
      }
    }
    return runAnalysis(*entry->analysis, std::move(values), entry->flags);
  }
  return kCompleted;  // `list` ran
}
