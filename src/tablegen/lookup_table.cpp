#include "tablegen/lookup_table.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <ostream>
#include <string_view>

#include "common/fields.h"
#include "common/numbers.h"

namespace zelk::tablegen {
namespace {

constexpr std::string_view kClassesLabel = "Frequency classes : ";
constexpr std::string_view kSizeLabel = "No of freq classes and sample size : ";
constexpr std::string_view kBetaLabel = "Beta lower limit, no of values and step size";
constexpr std::string_view kMeanLabel = "LogMeanS lower limit, no of values and step size";

// Tables larger than this many values are refused by the reader: a header that asks for
// more is damaged, not a grid anyone computed.
constexpr double kMostValues = 2e9;

void writeRow(std::ostream& out, const double* values, std::int32_t count) {
  std::string row;
  row.reserve(static_cast<std::size_t>(count) * 24);
  for (std::int32_t l = 0; l < count; ++l) {
    row += '\t';
    row += shortestText(values[l]);
  }
  row += '\n';
  out << row;
}

// Reads lines one at a time, counting them for messages.
class LineReader {
 public:
  LineReader(std::istream& in, std::filesystem::path path) : in_(in), path_(std::move(path)) {}

  bool next(std::string& line) {
    if (!std::getline(in_, line)) return false;
    ++number_;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
  }
  std::string where() const { return path_.string() + " line " + std::to_string(number_); }
  std::string endMessage() const {
    return path_.string() + " ends after line " + std::to_string(number_) +
           ": the lookup table is incomplete";
  }

 private:
  std::istream& in_;
  std::filesystem::path path_;
  std::int64_t number_ = 0;
};

// Parses "(lo,up)(lo,up)..." after the label of line 1.
std::vector<FrequencyClass> parseClasses(std::string_view text) {
  std::vector<FrequencyClass> classes;
  if (text.substr(0, kClassesLabel.size()) == kClassesLabel)
    text.remove_prefix(kClassesLabel.size());
  while (true) {
    const std::size_t open = text.find('(');
    if (open == std::string_view::npos) return classes;
    const std::size_t comma = text.find(',', open);
    const std::size_t close = text.find(')', open);
    if (comma == std::string_view::npos || close == std::string_view::npos || comma > close)
      return classes;
    FrequencyClass c;
    c.lowerText = std::string(text.substr(open + 1, comma - open - 1));
    c.upperText = std::string(text.substr(comma + 1, close - comma - 1));
    c.lower = static_cast<std::int32_t>(leadingNumber(c.lowerText));
    c.upper = static_cast<std::int32_t>(leadingNumber(c.upperText));
    classes.push_back(std::move(c));
    text.remove_prefix(close + 1);
  }
}

}  // namespace

std::vector<double> gridValues(double first, double step, double upper, std::size_t most) {
  std::vector<double> values;
  if (step > 0.0) {
    for (double v = first; v <= upper && values.size() < most; v = v + step) values.push_back(v);
  } else if (step < 0.0) {
    for (double v = first; v >= upper && values.size() < most; v = v + step) values.push_back(v);
  }
  return values;
}

void LookupTable::allocate() {
  const std::size_t grid = cells();
  neutral.resize(classes.size());
  polymorphism.assign(classes.size() * grid, 0.0);
  divergence.assign(grid, 0.0);
  heterozygosity.assign(grid, 0.0);
}

std::int64_t tableLineCount(std::int32_t classCount, std::int32_t betaCount) {
  return 5 + std::int64_t{classCount} * (betaCount + 1) + 2 * std::int64_t{betaCount};
}

double tableNumber(std::string_view text) {
  std::size_t start = 0;
  while (start < text.size() && (text[start] == ' ' || text[start] == '\t')) ++start;
  text.remove_prefix(start);
  bool negative = false;
  std::string_view word = text;
  if (!word.empty() && (word[0] == '-' || word[0] == '+')) {
    negative = word[0] == '-';
    word.remove_prefix(1);
  }
  auto startsWith = [&](std::string_view prefix) {
    if (word.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
      if ((word[i] | 0x20) != prefix[i]) return false;
    return true;
  };
  if (startsWith("nan")) return std::numeric_limits<double>::quiet_NaN();
  if (startsWith("inf")) {
    const double infinity = std::numeric_limits<double>::infinity();
    return negative ? -infinity : infinity;
  }
  return leadingNumber(text);
}

bool writeLookupTable(std::ostream& out, const LookupTable& table) {
  const std::int32_t k = table.classCount();
  const std::int32_t rows = table.beta.count;
  const std::int32_t columns = table.logMeanS.count;
  out << kClassesLabel;
  for (const auto& c : table.classes) out << '(' << c.lowerText << ',' << c.upperText << ')';
  out << '\n';
  out << kSizeLabel << '\t' << k << '\t' << table.sampleSize << '\n';
  writeRow(out, table.neutral.data(), k);
  out << shortestText(table.beta.first) << '\t' << rows << '\t' << shortestText(table.beta.step)
      << '\t' << kBetaLabel << '\n';
  out << shortestText(table.logMeanS.first) << '\t' << columns << '\t'
      << shortestText(table.logMeanS.step) << '\t' << kMeanLabel << '\n';
  for (std::int32_t f = 0; f < k; ++f) {
    out << '\n';
    for (std::int32_t j = 0; j < rows; ++j) writeRow(out, &table.ePn(f, j, 0), columns);
  }
  for (std::int32_t j = 0; j < rows; ++j)
    writeRow(out, &table.divergence[static_cast<std::size_t>(j) * columns], columns);
  for (std::int32_t j = 0; j < rows; ++j)
    writeRow(out, &table.heterozygosity[static_cast<std::size_t>(j) * columns], columns);
  out.flush();
  return static_cast<bool>(out);
}

namespace {

// Reads the parts both layouts share, refusing a row that is short or a file that ends early
// with a message naming the file and the line.
class TableParser {
 public:
  TableParser(std::istream& in, const std::filesystem::path& path) : reader_(in, path) {}

  std::optional<std::string> skipLine() {
    if (!reader_.next(line_)) return reader_.endMessage();
    return std::nullopt;
  }
  // Fields 1..count of the next line (field 0 comes before the row's first tab).
  std::optional<std::string> values(double* out, std::int32_t count) {
    if (!reader_.next(line_)) return reader_.endMessage();
    const auto fields = splitAtTabs(line_);
    if (fields.size() < static_cast<std::size_t>(count) + 1) {
      return reader_.where() + " holds " + std::to_string(fields.size() - 1) + " values where " +
             std::to_string(count) + " are needed";
    }
    for (std::int32_t i = 0; i < count; ++i) out[i] = tableNumber(fields[i + 1]);
    return std::nullopt;
  }
  // A grid header: lower limit, number of values and step.
  std::optional<std::string> axis(GridAxis& axis) {
    if (!reader_.next(line_)) return reader_.endMessage();
    const auto fields = splitAtTabs(line_);
    if (fields.size() < 3) return reader_.where() + " should hold the lower limit, count and step";
    axis.first = tableNumber(fields[0]);
    const double count = tableNumber(fields[1]);
    axis.step = tableNumber(fields[2]);
    if (!(count >= 0 && count <= 1e8 && count == std::floor(count)))
      return reader_.where() +
             " gives an impossible number of grid values: " + std::string(fields[1]);
    axis.count = static_cast<std::int32_t>(count);
    return std::nullopt;
  }
  // The grid headers, then the class blocks and the divergence rows, into a table whose
  // classes are set; the value arrays are sized here.
  std::optional<std::string> grid(LookupTable& table, const std::filesystem::path& path) {
    if (auto message = axis(table.beta)) return message;
    if (auto message = axis(table.logMeanS)) return message;
    if (static_cast<double>(table.cells()) * (table.classCount() + 2) > kMostValues)
      return path.string() + " declares a grid too large to be a lookup table";
    std::vector<double> neutral = std::move(table.neutral);
    table.allocate();
    table.neutral = std::move(neutral);
    const std::int32_t rows = table.beta.count;
    const std::int32_t columns = table.logMeanS.count;
    for (std::int32_t f = 0; f < table.classCount(); ++f) {
      if (auto message = skipLine()) return message;
      for (std::int32_t j = 0; j < rows; ++j)
        if (auto message = values(&table.ePn(f, j, 0), columns)) return message;
    }
    for (std::int32_t j = 0; j < rows; ++j) {
      if (auto message =
              values(table.divergence.data() + static_cast<std::size_t>(j) * columns, columns))
        return message;
    }
    return std::nullopt;
  }

  LineReader& reader() { return reader_; }
  std::string& line() { return line_; }

 private:
  LineReader reader_;
  std::string line_;
};

// Why a path cannot be opened as a table file, or nothing when it can.
std::optional<std::string> unopenable(const std::filesystem::path& path, std::ifstream& in) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error))
    return path.string() + " is a folder, not a lookup table";
  if (!in) return "cannot open the lookup table " + path.string();
  return std::nullopt;
}

}  // namespace

TableReadResult readLookupTable(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (auto message = unopenable(path, in)) return {std::nullopt, *message};
  TableParser parser(in, path);
  LineReader& reader = parser.reader();
  std::string& line = parser.line();
  LookupTable table;

  if (!reader.next(line)) return {std::nullopt, path.string() + " is empty, not a lookup table"};
  table.classes = parseClasses(line);
  if (!reader.next(line)) return {std::nullopt, reader.endMessage()};
  {
    const auto fields = splitAtTabs(line);
    if (fields.size() < 3 || fields[0] != kSizeLabel) {
      return {std::nullopt, reader.where() + " should hold \"" + std::string(kSizeLabel) +
                                "\", the class count and the sample size"};
    }
    const double k = tableNumber(fields[1]);
    const double n = tableNumber(fields[2]);
    if (!(k >= 0 && k <= 1e6 && k == std::floor(k)) || !(n >= 0 && n <= 2e9 && n == std::floor(n)))
      return {std::nullopt, reader.where() + " holds an impossible class count or sample size"};
    table.sampleSize = static_cast<std::int32_t>(n);
    if (table.classes.size() != static_cast<std::size_t>(k)) {
      return {std::nullopt, reader.where() + " gives " + std::string(fields[1]) +
                                " classes but line 1 lists " +
                                std::to_string(table.classes.size())};
    }
  }
  table.neutral.resize(table.classes.size());
  if (auto message = parser.values(table.neutral.data(), table.classCount()))
    return {std::nullopt, *message};
  if (auto message = parser.grid(table, path)) return {std::nullopt, *message};
  const std::int32_t columns = table.logMeanS.count;
  for (std::int32_t j = 0; j < table.beta.count; ++j) {
    if (auto message = parser.values(
            table.heterozygosity.data() + static_cast<std::size_t>(j) * columns, columns))
      return {std::nullopt, *message};
  }
  return {std::move(table), {}};
}

ExtendedTableReadResult readExtendedLookupTable(const std::filesystem::path& path,
                                                std::int32_t classCount) {
  std::ifstream in(path, std::ios::binary);
  if (auto message = unopenable(path, in)) return {std::nullopt, *message};
  TableParser parser(in, path);
  LineReader& reader = parser.reader();
  std::string& line = parser.line();
  ExtendedTable extended;
  LookupTable& table = extended.table;
  table.classes.resize(static_cast<std::size_t>(std::max(classCount, 0)));

  if (!reader.next(line)) return {std::nullopt, path.string() + " is empty, not a lookup table"};
  if (auto message = parser.skipLine()) return {std::nullopt, *message};
  table.neutral.resize(table.classes.size());
  if (auto message = parser.values(table.neutral.data(), table.classCount()))
    return {std::nullopt, *message};
  if (auto message = parser.grid(table, path)) return {std::nullopt, *message};

  AdaptiveGrid& adaptive = extended.adaptive;
  if (auto message = parser.skipLine()) return {std::nullopt, *message};
  if (!reader.next(line)) return {std::nullopt, reader.endMessage()};
  {
    const auto fields = splitAtTabs(line);
    if (fields.size() < 4)
      return {std::nullopt, reader.where() +
                                " should hold the adaptive grid's lower and upper limit, step "
                                "and number of values"};
    adaptive.logSaMin = tableNumber(fields[0]);
    adaptive.logSaMax = tableNumber(fields[1]);
    adaptive.logSaStepSize = tableNumber(fields[2]);
    adaptive.logSaSteps = tableNumber(fields[3]);
    if (!(adaptive.logSaSteps >= 1 && adaptive.logSaSteps <= 1e8))
      return {std::nullopt, reader.where() + " gives an impossible number of adaptive values: " +
                                std::string(fields[3])};
    adaptive.columns = static_cast<std::int32_t>(adaptive.logSaSteps);
  }
  const std::int32_t columns = adaptive.columns;
  adaptive.polymorphism.assign(table.classes.size() * static_cast<std::size_t>(columns), 0.0);
  for (std::int32_t f = 0; f < table.classCount(); ++f) {
    if (auto message = parser.values(
            adaptive.polymorphism.data() + static_cast<std::size_t>(f) * columns, columns))
      return {std::nullopt, *message};
  }
  if (auto message = parser.skipLine()) return {std::nullopt, *message};
  adaptive.divergence.assign(static_cast<std::size_t>(columns), 0.0);
  if (auto message = parser.values(adaptive.divergence.data(), columns))
    return {std::nullopt, *message};
  return {std::move(extended), {}};
}

}  // namespace zelk::tablegen
