#include "shell/dataset_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "common/fields.h"

namespace zelk {
namespace {

bool isBlankLine(std::string_view line) {
  return line.find_first_not_of(" \t") == std::string_view::npos;
}

// The fields of a line as strings of their own, for a table that outlives the line.
std::vector<std::string> ownedFields(std::string_view line) {
  const auto views = splitAtTabs(line);
  return {views.begin(), views.end()};
}

std::string quotedField(std::string_view text) {
  constexpr std::size_t kShown = 40;
  std::string q = "\"";
  q += text.substr(0, kShown);
  if (text.size() > kShown) q += "...";
  q += "\"";
  return q;
}

}  // namespace

DatasetFile::DatasetFile(std::string text, std::string name)
    : text_(std::move(text)), name_(std::move(name)) {
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  if (std::string_view(text_).starts_with(kByteOrderMark)) position_ = kByteOrderMark.size();
  multiDataset_ = text_.find('#') != std::string::npos;
}

std::variant<DatasetFile, std::string> DatasetFile::fromText(std::string text, std::string name) {
  const std::size_t nul = text.find('\0');
  if (nul != std::string::npos) {
    const auto line = 1 + std::count(text.begin(), text.begin() + static_cast<long>(nul), '\n');
    return name + ": not a text file (a NUL byte on line " + std::to_string(line) +
           "); a dataset is a tab-separated text table";
  }
  return DatasetFile(std::move(text), std::move(name));
}

std::variant<DatasetFile, std::string> DatasetFile::open(const std::filesystem::path& path) {
  const std::string name = path.filename().string();
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return path.string() + ": is a folder, not a file";
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return "cannot open " + path.string() + ": " + std::strerror(errno);
  }
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) return "cannot read " + path.string();
  return fromText(std::move(content).str(), name);
}

std::string_view DatasetFile::nextLine() {
  const std::size_t start = position_;
  std::size_t end = start;
  while (end < text_.size() && text_[end] != '\n' && text_[end] != '\r') ++end;
  position_ = end;
  if (position_ < text_.size()) {
    // "\r\n" is one line end; a lone "\r" or "\n" is one too.
    if (text_[position_] == '\r' && position_ + 1 < text_.size() && text_[position_ + 1] == '\n') {
      position_ += 2;
    } else {
      position_ += 1;
    }
  }
  ++lineNumber_;
  return std::string_view(text_).substr(start, end - start);
}

DatasetRead DatasetFile::readDataset() {
  DatasetRead result;
  std::vector<std::string_view> stored;
  std::vector<std::size_t> storedLines;
  std::size_t separatorLine = 0;
  bool endedBySeparator = false;
  while (!atEnd()) {
    const std::string_view line = nextLine();
    if (line.find('#') != std::string_view::npos) {
      separatorLine = lineNumber_;
      // Separators with nothing between them after the first dataset (a doubled separator,
      // a trailing one) hold no dataset; read on instead of ending the file there.
      if (stored.empty() && readBefore_) continue;
      endedBySeparator = true;
      break;
    }
    if (isBlankLine(line)) continue;
    stored.push_back(line);
    storedLines.push_back(lineNumber_);
  }
  readBefore_ = true;
  if (stored.empty() && !endedBySeparator) return result;  // nothing but blank lines was left

  if (stored.size() < 2) {
    result.status = ReadStatus::Refused;
    if (stored.empty()) {
      result.message = name_ + ": line " + std::to_string(separatorLine) +
                       " contains \"#\", which ends a dataset, but no dataset stands before it";
    } else {
      result.message = name_ + ": the dataset starting on line " + std::to_string(storedLines[0]) +
                       " has a header line but no gene lines; a dataset needs a header line "
                       "and at least one gene line";
    }
    return result;
  }

  // The first gene row fixes the width of the table. Empty fields at its end (the trailing
  // tabs of a spreadsheet export) do not widen it, unless the header names their column.
  TextTable& table = result.table;
  const std::vector<std::string> firstGene = ownedFields(stored[1]);
  const std::vector<std::string> header = ownedFields(stored[0]);
  std::size_t width = firstGene.size();
  while (width > 1 && firstGene[width - 1].empty() &&
         (header.size() < width || header[width - 1].empty())) {
    --width;
  }
  table.rows.reserve(stored.size());
  table.lines = storedLines;
  for (std::size_t i = 0; i < stored.size(); ++i) {
    std::vector<std::string> fields = ownedFields(stored[i]);
    if (fields.size() > width) {
      // Empty extra fields (a trailing tab, say) carry nothing; anything else has no column.
      for (std::size_t j = width; j < fields.size(); ++j) {
        if (!fields[j].empty()) {
          result.status = ReadStatus::Refused;
          result.message = name_ + ": line " + std::to_string(storedLines[i]) + " has " +
                           std::to_string(fields.size()) +
                           " fields, but the first gene line (line " +
                           std::to_string(storedLines[1]) + ") has " + std::to_string(width) +
                           "; field " + std::to_string(j + 1) + " holds " + quotedField(fields[j]);
          result.table = {};
          return result;
        }
      }
    }
    fields.resize(width);
    table.rows.push_back(std::move(fields));
  }
  result.headerLine = std::string(stored[0]);
  result.status = ReadStatus::Loaded;
  return result;
}

}  // namespace zelk
