#include "tablegen/options_folded_window.h"

#include <cmath>
#include <fstream>
#include <new>
#include <random>
#include <system_error>

#include "common/numbers.h"
#include "tablegen/integrands.h"

namespace zelk::tablegen {
namespace {

// The most values a table may hold: about 4 GB of doubles while it is computed.
constexpr double kMostValues = 5e8;

std::string trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return std::string(text.substr(first, last - first + 1));
}

std::string quoted(const std::string& text) {
  return "\"" + text + "\"";
}

bool isWhole(double value) {
  return std::isfinite(value) && value == std::floor(value);
}

// A grid axis read from its three fields; empty message when usable.
struct AxisSettings {
  double lower = 0.0;
  double upper = 0.0;
  double steps = 0.0;
};

std::string checkAxis(const OptionValues& values, const char* lowerField, const char* upperField,
                      const char* stepsField, const std::string& name, bool logarithmic,
                      AxisSettings& axis) {
  const std::string& lowerText = values.text(lowerField);
  const std::string& upperText = values.text(upperField);
  const std::string& stepsText = values.text(stepsField);
  axis.lower = leadingNumber(lowerText);
  axis.upper = leadingNumber(upperText);
  axis.steps = leadingNumber(stepsText);
  if (!isWhole(axis.steps) || axis.steps < 1)
    return "The number of " + name + " steps must be a positive whole number, not " +
           quoted(stepsText) + ".";
  if (!std::isfinite(axis.lower))
    return "The " + name + " lower limit must be a finite number, not " + quoted(lowerText) + ".";
  if (!std::isfinite(axis.upper))
    return "The " + name + " upper limit must be a finite number, not " + quoted(upperText) + ".";
  if (logarithmic && !(axis.lower > 0))
    return "The " + name + " lower limit must be positive, not " + quoted(lowerText) + ".";
  if (logarithmic && !(axis.upper > 0))
    return "The " + name + " upper limit must be positive, not " + quoted(upperText) + ".";
  if (axis.lower == axis.upper)
    return "The " + name + " lower and upper limits are equal (" + quoted(lowerText) + " and " +
           quoted(upperText) + "): there is no range to step over.";
  if (axis.lower > axis.upper)
    return "The " + name + " lower limit " + quoted(lowerText) + " is above its upper limit " +
           quoted(upperText) + ".";
  return {};
}

}  // namespace

const std::vector<OptionSpec>& optionsFoldedWindow::options() {
  static const std::vector<OptionSpec> record = {
      {.field = kSampleSize,
       .controlName = kSampleSize,
       .caption = "Sample size",
       .group = "Sample size",
       .kind = OptionKind::Integer,
       .defaultText = "",
       .choices = {},
       .flag = "sample-size",
       .help = "the number of sequences sampled, n (at least 2)"},
      {.field = kAllFrequencies,
       .controlName = "Generate all frequencies",
       .caption = "Generate all frequencies",
       .group = "Frequency classes",
       .kind = OptionKind::Choice,
       .defaultText = "yes",
       .choices = {{.controlName = "yesButton", .caption = "Yes", .value = "yes", .token = "all"},
                   {.controlName = "noButton", .caption = "No", .value = "no", .token = "list"}},
       .flag = "",
       .help = "one class per allele count 1..n/2, or the classes of the list"},
      {.field = kClassList,
       .controlName = kClassList,
       .caption = "Lower, Upper",
       .group = "Frequency classes",
       .kind = OptionKind::Text,
       .defaultText = "",
       .choices = {},
       .flag = "classes",
       .help = "\"all\", or the folded classes as LOWER:UPPER,LOWER:UPPER,... (allele counts)"},
      {.field = kMeanLower,
       .controlName = kMeanLower,
       .caption = "Lower",
       .group = "meanS - limits and no of steps",
       .kind = OptionKind::Number,
       .defaultText = "10",
       .choices = {},
       .flag = "mean-lower",
       .help = "lower limit of the mean selection strength (positive)"},
      {.field = kMeanUpper,
       .controlName = kMeanUpper,
       .caption = "Upper",
       .group = "meanS - limits and no of steps",
       .kind = OptionKind::Number,
       .defaultText = "1000000",
       .choices = {},
       .flag = "mean-upper",
       .help = "upper limit of the mean selection strength"},
      {.field = kMeanSteps,
       .controlName = kMeanSteps,
       .caption = "Steps",
       .group = "meanS - limits and no of steps",
       .kind = OptionKind::Integer,
       .defaultText = "100",
       .choices = {},
       .flag = "mean-steps",
       .help = "number of steps between the limits, on the log scale"},
      {.field = kBetaLower,
       .controlName = kBetaLower,
       .caption = "Lower",
       .group = "Beta - limits and no of steps",
       .kind = OptionKind::Number,
       .defaultText = "0",
       .choices = {},
       .flag = "beta-lower",
       .help = "lower limit of the gamma shape"},
      {.field = kBetaUpper,
       .controlName = kBetaUpper,
       .caption = "Upper",
       .group = "Beta - limits and no of steps",
       .kind = OptionKind::Number,
       .defaultText = "0.50",
       .choices = {},
       .flag = "beta-upper",
       .help = "upper limit of the gamma shape"},
      {.field = kBetaSteps,
       .controlName = kBetaSteps,
       .caption = "Steps",
       .group = "Beta - limits and no of steps",
       .kind = OptionKind::Integer,
       .defaultText = "100",
       .choices = {},
       .flag = "beta-steps",
       .help = "number of steps between the limits"},
  };
  return record;
}

std::vector<ClassRow> optionsFoldedWindow::classRows(const std::string& listText) {
  std::vector<ClassRow> rows;
  if (trimmed(listText).empty()) return rows;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = listText.find(',', start);
    const std::string item = trimmed(std::string_view(listText).substr(
        start, comma == std::string::npos ? std::string::npos : comma - start));
    const std::size_t colon = item.find(':');
    if (colon == std::string::npos) {
      rows.push_back({item, ""});
    } else {
      rows.push_back({trimmed(item.substr(0, colon)), trimmed(item.substr(colon + 1))});
    }
    if (comma == std::string::npos) return rows;
    start = comma + 1;
  }
}

PlanResult optionsFoldedWindow::plan(const OptionValues& values) {
  PlanResult result;
  const std::string& sizeText = values.text(kSampleSize);
  const double size = leadingNumber(sizeText);
  if (!isWhole(size) || size < 2 || size > 1e7 || !isWholeNumberText(sizeText)) {
    result.message =
        "The sample size must be a whole number of at least 2, not " + quoted(sizeText) + ".";
    return result;
  }
  const auto n = static_cast<std::int32_t>(size);

  TablePlan plan;
  LookupTable& table = plan.table;
  table.sampleSize = n;
  if (values.is(kAllFrequencies, "yes")) {
    for (std::int32_t f = 1; f <= n / 2; ++f) {
      const std::string text = std::to_string(f);
      table.classes.push_back({f, f, text, text});
    }
  } else {
    const auto rows = classRows(values.text(kClassList));
    for (std::size_t r = 0; r < rows.size(); ++r) {
      const ClassRow& row = rows[r];
      if (row.lower.empty()) {  // an empty "Lower" cell ends the list
        bool more = false;
        for (std::size_t later = r + 1; later < rows.size(); ++later)
          more = more || !rows[later].lower.empty() || !rows[later].upper.empty();
        if (more) {
          result.note = "The class list ends at row " + std::to_string(r + 1) +
                        ", whose lower bound is empty; the classes after it were ignored.";
        }
        break;
      }
      const std::string name =
          "Class " + std::to_string(r + 1) + " of the list, (" + row.lower + "," + row.upper + "),";
      if (row.upper.empty()) {
        result.message = name + " has no upper bound: write each class as LOWER:UPPER.";
        return result;
      }
      const double lower = leadingNumber(row.lower);
      const double upper = leadingNumber(row.upper);
      if (!isWholeNumberText(row.lower) || !isWholeNumberText(row.upper) || !isWhole(lower) ||
          !isWhole(upper) || lower < 1 || upper < 1 || lower > n - 1 || upper > n - 1) {
        result.message = name + " must have whole-number bounds from 1 to " +
                         std::to_string(n - 1) + " for a sample of " + std::to_string(n) + ".";
        return result;
      }
      if (lower > upper) {
        result.message = name + " has its lower bound above its upper bound.";
        return result;
      }
      table.classes.push_back({static_cast<std::int32_t>(lower), static_cast<std::int32_t>(upper),
                               row.lower, row.upper});
    }
    if (table.classes.empty()) {
      result.message =
          "The class list is empty: give at least one class as LOWER:UPPER, or generate all "
          "frequencies.";
      return result;
    }
  }

  AxisSettings mean;
  AxisSettings beta;
  if (auto message = checkAxis(values, kMeanLower, kMeanUpper, kMeanSteps, "meanS", true, mean);
      !message.empty()) {
    result.message = message;
    return result;
  }
  if (auto message = checkAxis(values, kBetaLower, kBetaUpper, kBetaSteps, "beta", false, beta);
      !message.empty()) {
    result.message = message;
    return result;
  }
  // The stepping gives about steps + 1 values per axis; check the size before stepping.
  const double estimated = (mean.steps + 2) * (beta.steps + 2) * (table.classCount() + 2);
  if (estimated > kMostValues) {
    result.message = "The table would hold about " + formatReportNumber(std::round(estimated)) +
                     " values, more than the 500000000 that fit in memory: use fewer steps or "
                     "fewer classes.";
    return result;
  }

  for (const auto& c : table.classes)
    table.neutral.push_back(neutralExpectation(n, c.lower, c.upper));
  // Repeated addition gives steps + 1 values, or steps when rounding carries the last sum
  // past the upper limit. More means the step is too small to move the value in double
  // precision (the limits are too close together for the number of steps).
  auto step = [&](const char* name, const char* lowerField, const char* upperField, double first,
                  double upper, double steps, GridAxis& axis, std::vector<double>& grid) {
    axis.first = first;
    axis.step = (upper - first) / steps;
    const auto most = static_cast<std::size_t>(steps) + 2;
    grid = gridValues(first, axis.step, upper, most);
    if (!(axis.step > 0) || grid.size() >= most) {
      result.message = std::string("The ") + name + " limits " + quoted(values.text(lowerField)) +
                       " and " + quoted(values.text(upperField)) +
                       " are too close together to be divided into " +
                       std::to_string(static_cast<long long>(steps)) + " steps.";
      return false;
    }
    axis.count = static_cast<std::int32_t>(grid.size());
    return true;
  };
  if (!step("beta", kBetaLower, kBetaUpper, beta.lower, beta.upper, beta.steps, table.beta,
            plan.grid.betas) ||
      !step("meanS", kMeanLower, kMeanUpper, std::log(mean.lower), std::log(mean.upper), mean.steps,
            table.logMeanS, plan.grid.logMeans)) {
    return result;
  }
  result.plan = std::move(plan);
  return result;
}

optionsFoldedWindow::Outcome optionsFoldedWindow::run(const OptionValues& values,
                                                      Platform& platform, int threads,
                                                      GenerationProgress* progress) {
  PlanResult planned = plan(values);
  if (!planned.plan) {
    platform.showMessage(planned.message);
    return Outcome::Refused;
  }
  if (!planned.note.empty()) platform.showMessage(planned.note);
  const auto target = platform.chooseFileToSave("lookupTable.txt", "plain/text");
  if (!target) return Outcome::Cancelled;

  if (std::filesystem::is_directory(*target)) {
    platform.showMessage("cannot write the lookup table to " + target->string() +
                         ": it is a folder");
    return Outcome::Refused;
  }
  // The table goes to a temporary file beside the target, renamed into place once complete.
  std::random_device device;
  char suffix[17];
  std::snprintf(suffix, sizeof suffix, "%08x%08x", device(), device());
  const std::filesystem::path temporary =
      target->parent_path() / ("." + target->filename().string() + ".partial-" + suffix);
  std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
  if (!out) {
    platform.showMessage("cannot create a file beside " + target->string() +
                         ": is the folder there and writable?");
    return Outcome::Refused;
  }
  auto discard = [&] {
    out.close();
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
  };

  TablePlan& work = *planned.plan;
  GenerationSettings settings{
      .threads = threads, .accuracy = kTableAccuracy, .stopStages = nullptr};
  bool completed = false;
  try {
    completed = generateTable(work.table, work.grid, settings, platform, progress);
  } catch (const std::bad_alloc&) {
    discard();
    platform.showMessage("There is not enough memory for a table of " +
                         std::to_string(work.table.cells()) + " grid cells and " +
                         std::to_string(work.table.classCount()) +
                         " classes: use fewer steps or fewer classes.");
    return Outcome::Refused;
  }
  if (!completed) {
    discard();
    return Outcome::Cancelled;
  }
  if (!writeLookupTable(out, work.table)) {
    discard();
    platform.showMessage("cannot write the lookup table to " + target->string() +
                         ": the disk may be full");
    return Outcome::Refused;
  }
  out.close();
  std::error_code error;
  std::filesystem::rename(temporary, *target, error);
  if (error) {
    discard();
    platform.showMessage("cannot write the lookup table to " + target->string() + ": " +
                         error.message());
    return Outcome::Refused;
  }
  platform.showMessage("Finished");
  return Outcome::Completed;
}

}  // namespace zelk::tablegen
