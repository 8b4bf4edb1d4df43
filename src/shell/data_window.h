#pragma once
// The data window's model: owns the current dataset table and the open file, and hands
// datasets to a running analysis one after another through getData.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/platform.h"
#include "shell/dataset_reader.h"
#include "shell/generator.h"
#include "shell/matrix.h"

namespace zelk {

// A view of the data window (a list view, or nothing on a terminal).
class DataDisplay {
 public:
  virtual ~DataDisplay() = default;
  virtual void setTitle(const std::string& title) = 0;
  virtual void display(const TextTable& table) = 0;
};

// The data window. Refused input (a file that is not a text table, a line with cells
// beyond the table's width, a number too large for a double) is shown as a message naming
// the file and line, and counted; reading then goes on with the next dataset.
class Zelk {
 public:
  explicit Zelk(Platform& platform, DataDisplay* view = nullptr);

  // Lets the user choose a file, opens it, loads and shows its first dataset.
  void openDataFile();
  // Reads the next dataset of the open file into the table; true on success.
  bool readDataFile();
  // Shows the table in the view.
  void display();
  // Hands the current or next dataset to an analysis; false when there is none left.
  bool getData(std::string& description, Matrix& matrix);
  // Resamples genes (mode 1) or columns (any other mode) with the run's generator.
  void bootstrap(const Matrix& source, Matrix& target, int mode);

  bool dataExists = false;
  std::string dataFilename;
  bool startAnalysis = false;
  bool multiDataFile = false;
  std::string description;

  const TextTable& data() const { return data_; }
  const std::string& title() const { return title_; }
  // The run's random generator: created once, seeded once from the platform.
  Generator& generator() { return generator_; }
  // Where the current dataset stands, for messages: the file and its first line.
  std::string datasetLocation() const;
  // The number of refusals shown so far, and the text of the last one.
  int refusalCount() const { return refusalCount_; }
  const std::string& lastRefusal() const { return lastRefusal_; }

 private:
  enum class Step { Loaded, Exhausted, Refused };
  Step readNext();
  bool toMatrix(Matrix& matrix);
  void refuse(const std::string& message);

  Platform& platform_;
  DataDisplay* view_;
  std::optional<DatasetFile> dataFile_;
  TextTable data_;
  std::string title_ = "Dataset";
  Generator generator_;
  int refusalCount_ = 0;
  std::string lastRefusal_;
};

}  // namespace zelk
