#pragma once
// The generator's options window as a model: its options record, the checks that refuse
// unusable settings before any work, and the run that computes a table and writes it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/options.h"
#include "common/platform.h"
#include "tablegen/lookup_table.h"
#include "tablegen/table_generator.h"

namespace zelk::tablegen {

// One row of the class list: the "Lower" and "Upper" cells as typed.
struct ClassRow {
  std::string lower;
  std::string upper;
};

// Everything a run needs, checked.
struct TablePlan {
  LookupTable table;  // sample size, classes, neutral expectations, grid axes; no values yet
  TableGrid grid;
};

struct PlanResult {
  std::optional<TablePlan> plan;
  std::string message;  // why the settings were refused
  std::string note;     // something the user should know about usable settings
};

class optionsFoldedWindow {
 public:
  static constexpr int kListRows = 50;

  // Field names of the options record.
  static constexpr const char* kSampleSize = "sampleSizeEditField";
  static constexpr const char* kAllFrequencies = "generateAllFrequencies";
  static constexpr const char* kClassList = "frequencyListBox";
  static constexpr const char* kMeanLower = "meanSLowerEditField";
  static constexpr const char* kMeanUpper = "meanSUpperEditField";
  static constexpr const char* kMeanSteps = "meanSNoStepEditField";
  static constexpr const char* kBetaLower = "betaLowerEditField";
  static constexpr const char* kBetaUpper = "betaUpperEditField";
  static constexpr const char* kBetaSteps = "noOfBetasEditField";

  // The window's controls, groups, captions and defaults. The class list is held as text,
  // one "LOWER:UPPER" item per row, items separated by commas.
  static const std::vector<OptionSpec>& options();

  // The class list text as rows.
  static std::vector<ClassRow> classRows(const std::string& listText);

  // Reads and checks the settings. Refused (with a message naming the field and its
  // value): a sample size below 2, a step count that is not a positive whole number,
  // equal limits, a mean limit that is not positive, a lower limit above its upper limit,
  // a class outside 1..n-1 or with its lower bound above its upper bound, an empty class
  // list, limits too close together to be stepped in double precision, a table too large
  // to hold. An empty "Lower" cell ends the class list; classes after it are ignored, and
  // the note says so.
  static PlanResult plan(const OptionValues& values);

  enum class Outcome { Completed, Refused, Cancelled };

  // Checks the settings, asks for the file to write (save dialog "lookupTable.txt",
  // "plain/text"), computes the table and writes it through a temporary file beside the
  // target, renamed into place only when complete: a refused, cancelled or failed run
  // leaves no file under the chosen name. Shows "Finished" when done.
  static Outcome run(const OptionValues& values, Platform& platform, int threads,
                     GenerationProgress* progress);
};

}  // namespace zelk::tablegen
