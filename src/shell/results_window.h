#pragma once
// The results sink: an append-only text buffer that converts values to text by fixed rules,
// pads them into columns, and mirrors them into a file. Every line ends with a carriage
// return; front ends translate that for their medium.

#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>
#include <variant>

#include "common/platform.h"

namespace zelk {

// A view of the sink (a text area, a terminal). It is told about every piece of text.
class ResultsDisplay {
 public:
  virtual ~ResultsDisplay() = default;
  virtual void append(std::string_view text) = 0;
  // A line end was written: scroll and redraw.
  virtual void lineEnded() = 0;
};

// A value handed to the sink. std::monostate stands for a value of any other kind, which
// is written as empty text.
using ResultValue = std::variant<std::monostate, std::int32_t, double, std::string_view>;

class resultsWindow {
 public:
  resultsWindow() = default;
  explicit resultsWindow(ResultsDisplay* display) : display_(display) {}
  resultsWindow(const resultsWindow&) = delete;
  resultsWindow& operator=(const resultsWindow&) = delete;

  // Settings, as analyses set them before they write.
  std::string formatString = "-#.#####";
  bool autoTabulate = true;
  std::int32_t tabLength = 10;
  bool displayResults = true;

  // Converts, pads, mirrors and displays one value.
  void writer(const ResultValue& value);

  template <class... Values>
  void write(const Values&... values) {
    (writer(ResultValue(values)), ...);
  }
  template <class... Values>
  void writeLn(const Values&... values) {
    (writer(ResultValue(values)), ...);
    writer(ResultValue(std::string_view("\r")));
  }

  // Asks for a file (suggested name "results.txt") and mirrors everything written from now
  // on into it. Returns false, with mirroring off, when the dialog was cancelled or the
  // file cannot be created.
  bool startMirrorToFile(Platform& platform);
  void stopMirrorToFile();
  bool mirrorToFile() const { return mirrorToFile_; }

  // Everything written so far, when displayResults is on.
  const std::string& text() const { return buffer_; }

  // The text a value is written as, padding included, under the current settings.
  std::string convert(const ResultValue& value) const;

 private:
  ResultsDisplay* display_ = nullptr;
  std::string buffer_;
  bool mirrorToFile_ = false;
  std::ofstream resultsFile_;
};

}  // namespace zelk
