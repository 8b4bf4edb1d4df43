#pragma once
// Test doubles of the front-end interfaces. Each records every call it receives, in order,
// and answers dialogs from scripted replies.

#include <cstdint>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/platform_double.h"
#include "shell/data_window.h"
#include "shell/progress_window.h"
#include "shell/results_window.h"

namespace zelk::testing {

class RecordingProgressDisplay : public ProgressDisplay {
 public:
  struct Call {
    std::string what;  // "show", "setValue" or "hide"
    std::string title;
    std::int32_t value = 0;  // bar maximum for "show", bar value for "setValue"
    bool operator==(const Call&) const = default;
  };
  std::vector<Call> calls;

  void show(std::string_view title, std::int32_t barMaximum) override {
    calls.push_back({"show", std::string(title), barMaximum});
  }
  void setValue(std::string_view title, std::int32_t barValue) override {
    calls.push_back({"setValue", std::string(title), barValue});
  }
  void hide() override { calls.push_back({"hide", "", 0}); }
};

class RecordingResultsDisplay : public ResultsDisplay {
 public:
  std::vector<std::string> pieces;
  int lineEnds = 0;
  void append(std::string_view text) override { pieces.emplace_back(text); }
  void lineEnded() override { ++lineEnds; }
};

class RecordingDataDisplay : public DataDisplay {
 public:
  std::vector<std::string> titles;
  std::vector<TextTable> shown;
  void setTitle(const std::string& title) override { titles.push_back(title); }
  void display(const TextTable& table) override { shown.push_back(table); }
};

}  // namespace zelk::testing
