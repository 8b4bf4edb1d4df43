#pragma once
// Reading dataset files: tab-separated text, one or more datasets separated by lines that
// contain "#". This is the data window's reading logic without any view.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace zelk {

// One dataset as text. Row 0 is the header, rows 1..G are genes; every row has the same
// number of cells (K + 1), column 0 holding the name.
struct TextTable {
  std::vector<std::vector<std::string>> rows;
  // The file line each row was read from (1-based), for messages.
  std::vector<std::size_t> lines;

  int genes() const { return static_cast<int>(rows.size()) - 1; }
  int columns() const { return rows.empty() ? -1 : static_cast<int>(rows[0].size()) - 1; }
};

enum class ReadStatus {
  Loaded,     // a dataset was read
  Exhausted,  // nothing but blank lines was left
  Refused,    // the lines read do not form a usable dataset; `message` says why
};

struct DatasetRead {
  ReadStatus status = ReadStatus::Exhausted;
  TextTable table;
  std::string headerLine;  // stored line 0 as it stands, tabs included
  std::string message;
};

// A dataset file held in memory with a reading position, so that datasets can be read one
// after another as analyses ask for them. Line ends may be "\r\n", "\n" or "\r"; a UTF-8
// byte-order mark is ignored.
class DatasetFile {
 public:
  // Reads a file. On failure the result is a message saying what is wrong.
  static std::variant<DatasetFile, std::string> open(const std::filesystem::path& path);
  // A file given as text (tests, benchmarks). `name` is used in messages and descriptions.
  static std::variant<DatasetFile, std::string> fromText(std::string text, std::string name);

  const std::string& name() const { return name_; }
  // True when the text contains "#" anywhere: the file holds several datasets.
  bool multiDataset() const { return multiDataset_; }
  bool atEnd() const { return position_ >= text_.size(); }

  // Reads the next dataset from the current position: lines up to the end of the text or
  // up to a line containing "#" (consumed, not stored); blank lines are skipped.
  DatasetRead readDataset();

 private:
  DatasetFile(std::string text, std::string name);
  std::string_view nextLine();

  std::string text_;
  std::string name_;
  std::size_t position_ = 0;
  std::size_t lineNumber_ = 0;
  bool multiDataset_ = false;
  bool readBefore_ = false;
};

}  // namespace zelk
