#pragma once
// The command line's answers to what an analysis asks: dialogs are answered by flags,
// message boxes go to standard error, progress is drawn on standard error, results go to
// standard output with each carriage-return line end written as a newline.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "common/platform.h"
#include "shell/progress_window.h"
#include "shell/results_window.h"

namespace zelk::cli {

class CliPlatform final : public Platform {
 public:
  explicit CliPlatform(std::optional<std::uint64_t> fixedSeed);

  // The file that answers the open dialog with this title: once, or every time it is shown.
  void answerOpen(std::string title, std::filesystem::path path, bool everyTime = false);
  // The file that answers the save dialog offering this suggested name.
  void answerSave(std::string suggestedName, std::filesystem::path path);

  std::optional<std::filesystem::path> chooseFileToOpen(std::string_view title) override;
  std::optional<std::filesystem::path> chooseFileToSave(std::string_view suggestedName,
                                                        std::string_view fileType) override;
  void showMessage(std::string_view text) override;
  void processEvents() override {}
  bool cancelled() const override;
  std::uint64_t seed() override { return seed_; }

 private:
  struct OpenAnswer {
    std::filesystem::path path;
    bool everyTime = false;
  };
  std::map<std::string, OpenAnswer, std::less<>> openAnswers_;
  std::map<std::string, std::filesystem::path, std::less<>> saveAnswers_;
  std::uint64_t seed_;
};

class TerminalProgress final : public ProgressDisplay {
 public:
  explicit TerminalProgress(bool quiet);
  ~TerminalProgress() override;
  void show(std::string_view title, std::int32_t barMaximum) override;
  void setValue(std::string_view title, std::int32_t barValue) override;
  void hide() override;

 private:
  void draw(bool force);
  bool quiet_;
  bool terminal_;
  bool visible_ = false;
  std::string title_;
  std::string lastPrintedTitle_;
  std::int32_t maximum_ = 0;
  std::int32_t value_ = 0;
  std::chrono::steady_clock::time_point started_;
  std::chrono::steady_clock::time_point lastDraw_;
  int spinner_ = 0;
};

class StandardOutput final : public ResultsDisplay {
 public:
  void append(std::string_view text) override;
  void lineEnded() override;
};

}  // namespace zelk::cli
