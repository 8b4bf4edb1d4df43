#pragma once
// A test double of the platform interface: records every call it receives, in order, and
// answers dialogs from scripted replies. It needs nothing but the shared library, so the
// generator's tests use it too.

#include <cstdint>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/platform.h"

namespace zelk::testing {

class RecordingPlatform : public Platform {
 public:
  explicit RecordingPlatform(std::uint64_t seedToGive = 12345) : fixedSeed(seedToGive) {}

  // Scripted answers, consumed in order; an empty queue answers "cancelled".
  std::deque<std::optional<std::filesystem::path>> openAnswers;
  std::deque<std::optional<std::filesystem::path>> saveAnswers;
  std::uint64_t fixedSeed;
  // processEvents calls after which cancelled() turns true (-1: never).
  int cancelAfterEvents = -1;

  // Everything received, in order.
  std::vector<std::string> openTitles;
  std::vector<std::string> saveRequests;  // "suggested name|file type"
  std::vector<std::string> messages;
  int eventCalls = 0;
  int seedCalls = 0;

  std::optional<std::filesystem::path> chooseFileToOpen(std::string_view title) override {
    openTitles.emplace_back(title);
    return next(openAnswers);
  }
  std::optional<std::filesystem::path> chooseFileToSave(std::string_view suggestedName,
                                                        std::string_view fileType) override {
    saveRequests.push_back(std::string(suggestedName) + "|" + std::string(fileType));
    return next(saveAnswers);
  }
  void showMessage(std::string_view text) override { messages.emplace_back(text); }
  void processEvents() override { ++eventCalls; }
  bool cancelled() const override {
    return cancelAfterEvents >= 0 && eventCalls >= cancelAfterEvents;
  }
  std::uint64_t seed() override {
    ++seedCalls;
    return fixedSeed;
  }

 private:
  static std::optional<std::filesystem::path> next(
      std::deque<std::optional<std::filesystem::path>>& answers) {
    if (answers.empty()) return std::nullopt;
    auto answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

}  // namespace zelk::testing
