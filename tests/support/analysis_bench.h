#pragma once
// A way to run an analysis on a small dataset through the real data window, and small
// datasets written inline.

#include <string>

#include "shell/data_window.h"
#include "shell/progress_window.h"
#include "shell/results_window.h"
#include "shell/run_context.h"
#include "support/recording_platform.h"
#include "support/temp_dir.h"

namespace zelk::testing {

// A data window with a file loaded, a results sink and a progress window, wired together.
struct AnalysisBench {
  TempDir dir;
  RecordingPlatform platform;
  RecordingProgressDisplay progressView;
  resultsWindow results;
  progressWindow progress{progressView, platform};
  Zelk dataWindow{platform};
  RunContext context{dataWindow, results, progress, platform};

  explicit AnalysisBench(const std::string& content, std::uint64_t seed = 12345) : platform(seed) {
    platform.openAnswers.push_back(dir.write("genes.tsv", content));
    dataWindow.openDataFile();
  }
  // The report with each carriage return shown as a newline, for readable failures.
  std::string report() const {
    std::string text = results.text();
    for (char& c : text)
      if (c == '\r') c = '\n';
    return text;
  }
};

inline Matrix genesOf(std::initializer_list<std::initializer_list<double>> genes) {
  Matrix m(static_cast<int>(genes.size()), static_cast<int>(genes.begin()->size()));
  int i = 1;
  for (const auto& gene : genes) {
    int j = 1;
    for (const double v : gene) m(i, j++) = v;
    ++i;
  }
  return m;
}

}  // namespace zelk::testing
