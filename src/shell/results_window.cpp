#include "shell/results_window.h"

#include <algorithm>
#include <string>

#include "common/numbers.h"

namespace zelk {
namespace {

bool isLineEnd(std::string_view text) {
  return text == "\r" || text == "\n";
}

struct ToText {
  std::string operator()(std::monostate) const { return {}; }
  std::string operator()(std::int32_t v) const { return std::to_string(v); }
  std::string operator()(double v) const { return formatReportNumber(v); }
  std::string operator()(std::string_view v) const { return std::string(v); }
};

}  // namespace

std::string resultsWindow::convert(const ResultValue& value) const {
  std::string s = std::visit(ToText{}, value);
  if (autoTabulate && !isLineEnd(s)) {
    s += '\t';
    const auto spaces = std::min<std::int64_t>(
        static_cast<std::int64_t>(tabLength) - static_cast<std::int64_t>(s.size()), 40);
    if (spaces > 0) s.append(static_cast<std::size_t>(spaces), ' ');
  }
  return s;
}

void resultsWindow::writer(const ResultValue& value) {
  const std::string s = convert(value);
  if (mirrorToFile_) {
    resultsFile_.write(s.data(), static_cast<std::streamsize>(s.size()));
    // Whole lines reach the file as they are written, so a long run can be followed.
    if (isLineEnd(s)) resultsFile_.flush();
  }
  if (displayResults) {
    buffer_ += s;
    if (display_ != nullptr) {
      display_->append(s);
      if (isLineEnd(s)) display_->lineEnded();
    }
  }
}

bool resultsWindow::startMirrorToFile(Platform& platform) {
  const auto chosen = platform.chooseFileToSave("results.txt", "text");
  if (!chosen) return false;
  std::ofstream file(*chosen, std::ios::binary | std::ios::trunc);
  if (!file) return false;
  resultsFile_ = std::move(file);
  mirrorToFile_ = true;
  return true;
}

void resultsWindow::stopMirrorToFile() {
  mirrorToFile_ = false;
  if (resultsFile_.is_open()) resultsFile_.close();
}

}  // namespace zelk
