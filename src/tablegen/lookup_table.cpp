#include "tablegen/lookup_table.h"

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

TableReadResult readLookupTable(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {std::nullopt, "cannot open the lookup table " + path.string()};
  LineReader reader(in, path);
  std::string line;
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
  const auto k = table.classCount();

  auto readValues = [&](double* values, std::int32_t count) -> std::optional<std::string> {
    if (!reader.next(line)) return reader.endMessage();
    const auto fields = splitAtTabs(line);
    if (fields.size() < static_cast<std::size_t>(count) + 1) {
      return reader.where() + " holds " + std::to_string(fields.size() - 1) + " values where " +
             std::to_string(count) + " are needed";
    }
    for (std::int32_t i = 0; i < count; ++i) values[i] = tableNumber(fields[i + 1]);
    return std::nullopt;
  };
  auto readAxis = [&](GridAxis& axis) -> std::optional<std::string> {
    if (!reader.next(line)) return reader.endMessage();
    const auto fields = splitAtTabs(line);
    if (fields.size() < 3) return reader.where() + " should hold the lower limit, count and step";
    axis.first = tableNumber(fields[0]);
    const double count = tableNumber(fields[1]);
    axis.step = tableNumber(fields[2]);
    if (!(count >= 0 && count <= 1e8 && count == std::floor(count)))
      return reader.where() +
             " gives an impossible number of grid values: " + std::string(fields[1]);
    axis.count = static_cast<std::int32_t>(count);
    return std::nullopt;
  };

  table.neutral.resize(static_cast<std::size_t>(k));
  if (auto message = readValues(table.neutral.data(), k)) return {std::nullopt, *message};
  if (auto message = readAxis(table.beta)) return {std::nullopt, *message};
  if (auto message = readAxis(table.logMeanS)) return {std::nullopt, *message};
  if (static_cast<double>(table.cells()) * (k + 2) > kMostValues)
    return {std::nullopt, path.string() + " declares a grid too large to be a lookup table"};
  table.allocate();
  const std::int32_t rows = table.beta.count;
  const std::int32_t columns = table.logMeanS.count;
  for (std::int32_t f = 0; f < k; ++f) {
    if (!reader.next(line)) return {std::nullopt, reader.endMessage()};
    for (std::int32_t j = 0; j < rows; ++j)
      if (auto message = readValues(&table.ePn(f, j, 0), columns)) return {std::nullopt, *message};
  }
  for (auto* block : {&table.divergence, &table.heterozygosity}) {
    for (std::int32_t j = 0; j < rows; ++j) {
      if (auto message = readValues(block->data() + static_cast<std::size_t>(j) * columns, columns))
        return {std::nullopt, *message};
    }
  }
  return {std::move(table), {}};
}

}  // namespace zelk::tablegen
