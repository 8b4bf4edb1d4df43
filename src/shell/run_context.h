#pragma once
// Everything an analysis run talks to: the data window, the results sink, the progress
// window and the platform.

#include <string>
#include <string_view>

#include "common/options.h"
#include "common/platform.h"
#include "shell/data_window.h"
#include "shell/progress_window.h"
#include "shell/results_window.h"

namespace zelk {

class RunContext {
 public:
  RunContext(Zelk& data, resultsWindow& sink, progressWindow& bar, Platform& host)
      : dataWindow(data),
        results(sink),
        progress(bar),
        platform(host),
        dataRefusalsBefore_(data.refusalCount()) {}

  Zelk& dataWindow;
  resultsWindow& results;
  progressWindow& progress;
  Platform& platform;

  // Refuses a dataset or an option: shows the message and counts it, so that a front end
  // can tell a run that completed from one that refused its input.
  void refuse(std::string_view message) {
    ++refusals_;
    platform.showMessage(message);
  }
  // Refusals of this run, the data window's included.
  int refusals() const { return refusals_ + dataWindow.refusalCount() - dataRefusalsBefore_; }

 private:
  int refusals_ = 0;
  int dataRefusalsBefore_;
};

// A file dialog of an analysis that a front end may answer ahead, as a command line does
// with a flag.
struct FileFlag {
  std::string flag;    // the command-line flag, without its dashes, e.g. "table"
  std::string dialog;  // the open dialog's title, or the save dialog's suggested name
  bool save = false;   // a save dialog (answered every time it is shown) or an open dialog
  std::string help;    // one line for --help
};

// One analysis of the analysis program as the front ends see it.
struct AnalysisInfo {
  std::string command;   // the command-line name, e.g. "fww"
  std::string menuItem;  // the menu item's name, e.g. "AdaptiveFayWycoffandWu"
  std::string menu;      // the menu's caption, e.g. "Adaptive"
  std::string caption;   // the menu item's caption, e.g. "Fay, Wycoff and Wu"
  std::string dialog;    // the options dialog's title; empty when the item runs at once
  std::string summary;   // one line for listings and --help
  std::vector<OptionSpec> options;
  std::vector<FileFlag> files;  // dialogs besides the dataset's that the analysis shows
  std::function<void(RunContext&, const OptionValues&)> run;
};

}  // namespace zelk
