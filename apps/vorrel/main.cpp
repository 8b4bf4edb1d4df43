// vorrel: the lookup-table generator's command line. Its flags are built from the options
// record of the generator's options window.

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>

#include "common/options.h"
#include "common/parallel.h"
#include "interrupt.h"
#include "option_flags.h"
#include "tablegen/options_folded_window.h"

namespace {

using namespace zelk;
using tablegen::optionsFoldedWindow;

constexpr int kCompleted = 0;
constexpr int kRefused = 1;
constexpr int kUsage = 2;

class VorrelPlatform final : public Platform {
 public:
  explicit VorrelPlatform(std::filesystem::path out) : out_(std::move(out)) {}
  std::optional<std::filesystem::path> chooseFileToOpen(std::string_view) override {
    return std::nullopt;
  }
  std::optional<std::filesystem::path> chooseFileToSave(std::string_view,
                                                        std::string_view) override {
    return out_;
  }
  void showMessage(std::string_view text) override {
    std::fprintf(stderr, "vorrel: %.*s\n", static_cast<int>(text.size()), text.data());
  }
  void processEvents() override {}
  bool cancelled() const override { return cli::interruptRequested(); }
  std::uint64_t seed() override { return 0; }

 private:
  std::filesystem::path out_;
};

std::string duration(double seconds) {
  if (!(seconds >= 0) || seconds > 1e7) return "?";
  const auto total = static_cast<long long>(seconds + 0.5);
  char text[32];
  if (total >= 3600) {
    std::snprintf(text, sizeof text, "%lldh%02lldm", total / 3600, total / 60 % 60);
  } else if (total >= 60) {
    std::snprintf(text, sizeof text, "%lldm%02llds", total / 60, total % 60);
  } else {
    std::snprintf(text, sizeof text, "%llds", total);
  }
  return text;
}

// The progress of a generation on standard error: a live bar on a terminal, a line per
// tenth of the grid in a log.
class CellProgress final : public tablegen::GenerationProgress {
 public:
  explicit CellProgress(bool quiet) : quiet_(quiet), terminal_(isatty(STDERR_FILENO) != 0) {}

  void update(std::int64_t done, std::int64_t cells) override {
    if (quiet_ || cells <= 0) return;
    const auto now = std::chrono::steady_clock::now();
    const double elapsed = std::chrono::duration<double>(now - started_).count();
    const double rate = elapsed > 0 ? static_cast<double>(done) / elapsed : 0.0;
    const double left = rate > 0 ? static_cast<double>(cells - done) / rate : -1.0;
    const double fraction = static_cast<double>(done) / static_cast<double>(cells);
    if (terminal_) {
      constexpr int kWidth = 30;
      std::string bar(kWidth, ' ');
      for (int i = 0; i < static_cast<int>(fraction * kWidth); ++i) bar[i] = '#';
      std::fprintf(stderr, "\r\033[KGenerating [%s] %lld/%lld cells  %.1f cells/s  %s left",
                   bar.c_str(), static_cast<long long>(done), static_cast<long long>(cells), rate,
                   done == cells ? "0s" : duration(left).c_str());
      if (done == cells) std::fputs("\r\033[K", stderr);
      std::fflush(stderr);
      return;
    }
    const int tenth = static_cast<int>(fraction * 10);
    if (tenth > lastTenth_ && done > 0) {
      lastTenth_ = tenth;
      std::fprintf(stderr, "Generating: %lld/%lld cells (%d%%), %.1f cells/s, %s left\n",
                   static_cast<long long>(done), static_cast<long long>(cells), tenth * 10, rate,
                   duration(left).c_str());
    }
  }

  void clear() {
    if (!quiet_ && terminal_) std::fputs("\r\033[K", stderr);
  }

 private:
  bool quiet_;
  bool terminal_;
  int lastTenth_ = 0;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "vorrel: writes the lookup table of expected polymorphism, divergence and heterozygosity "
      "over a grid of gamma distributions of selection strength, for the DFE analyses of "
      "zelk.\nProgress and messages go to standard error."};
  app.set_version_flag("--version", std::string("vorrel ") + "0.1.0");

  const auto& record = optionsFoldedWindow::options();
  std::map<std::string, std::string> texts;
  for (const auto& option : record) {
    if (option.flag.empty()) continue;
    std::string& text = texts[option.field];
    text = option.defaultText;
    std::string help = option.help;
    if (option.field == optionsFoldedWindow::kClassList) {
      text = "all";
    } else if (option.group != option.caption) {
      help = option.group + ", " + option.caption + ": " + help;
    }
    auto* flag =
        app.add_option("--" + option.flag, text, help)
            ->type_name(option.field == optionsFoldedWindow::kClassList ? "all|LIST" : "N");
    if (option.field == optionsFoldedWindow::kSampleSize) {
      flag->required();
    } else if (option.field != optionsFoldedWindow::kClassList) {
      flag->capture_default_str();
    }
    // Numbers are checked as numbers here; whether one is usable (a whole number, inside
    // its limits) is the generator's check, which names the field.
    if (option.kind == OptionKind::Integer || option.kind == OptionKind::Number) {
      OptionSpec asNumber = option;
      asNumber.kind = OptionKind::Number;
      flag->check(cli::validatorFor(asNumber));
    }
  }
  int threads = hardwareThreads();
  std::string out;
  bool quiet = false;
  app.add_option("--threads", threads, "threads to compute on (default: all cores)")
      ->check(CLI::Range(1, 4096));
  app.add_flag("--quiet", quiet, "draw no progress");
  app.add_option("--out", out, "the lookup table to write (replaced when complete)")
      ->type_name("FILE")
      ->required();

  if (const auto status = cli::parseCommandLine(app, argc, argv, kUsage)) return *status;

  OptionValues values(record);
  for (const auto& [field, text] : texts) values.set(field, text);
  const std::string& classes = texts[optionsFoldedWindow::kClassList];
  values.set(optionsFoldedWindow::kAllFrequencies, classes == "all" ? "yes" : "no");
  if (classes == "all") values.set(optionsFoldedWindow::kClassList, "");

  cli::installInterruptHandler();
  VorrelPlatform platform(out);
  CellProgress progress(quiet);
  const auto outcome = optionsFoldedWindow::run(values, platform, threads, &progress);
  progress.clear();
  switch (outcome) {
    case optionsFoldedWindow::Outcome::Completed:
      return kCompleted;
    case optionsFoldedWindow::Outcome::Cancelled:
      platform.showMessage("the run was cancelled; nothing was written to " + out);
      return kRefused;
    case optionsFoldedWindow::Outcome::Refused:
      break;
  }
  return kRefused;
}
