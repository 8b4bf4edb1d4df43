#include "shell/data_window.h"

#include <cmath>

#include "common/numbers.h"
#include "shell/bootstrap.h"

namespace zelk {

Zelk::Zelk(Platform& platform, DataDisplay* view)
    : platform_(platform), view_(view), generator_(platform.seed()) {}

void Zelk::refuse(const std::string& message) {
  ++refusalCount_;
  lastRefusal_ = message;
  platform_.showMessage(message);
}

void Zelk::openDataFile() {
  const auto chosen = platform_.chooseFileToOpen("Select a dataset");
  if (!chosen) {
    dataExists = false;
    return;
  }
  title_ = chosen->filename().string();
  if (view_ != nullptr) view_->setTitle(title_);
  auto opened = DatasetFile::open(*chosen);
  if (auto* message = std::get_if<std::string>(&opened)) {
    dataExists = false;
    dataFile_.reset();
    refuse(*message);
    return;
  }
  dataFile_.emplace(std::move(std::get<DatasetFile>(opened)));
  multiDataFile = dataFile_->multiDataset();
  const Step first = readNext();
  if (first == Step::Exhausted) {
    refuse(dataFile_->name() + ": holds no dataset; the file is empty or has only blank lines");
  }
  if (first == Step::Loaded) {
    dataFilename = title_;
    dataExists = true;
  } else {
    dataExists = false;
  }
}

Zelk::Step Zelk::readNext() {
  if (!dataFile_) return Step::Exhausted;
  DatasetRead read = dataFile_->readDataset();
  switch (read.status) {
    case ReadStatus::Exhausted:
      return Step::Exhausted;
    case ReadStatus::Refused:
      refuse(read.message);
      return Step::Refused;
    case ReadStatus::Loaded:
      break;
  }
  description = multiDataFile ? read.headerLine : dataFile_->name();
  dataExists = true;
  data_ = std::move(read.table);
  display();
  return Step::Loaded;
}

bool Zelk::readDataFile() {
  // A refused dataset was reported; the next one may still be read.
  while (true) {
    const Step step = readNext();
    if (step == Step::Loaded) return true;
    if (step == Step::Exhausted) return false;
  }
}

std::string Zelk::datasetLocation() const {
  std::string where = dataFile_ ? dataFile_->name() : title_;
  if (!data_.lines.empty())
    where += ": the dataset starting on line " + std::to_string(data_.lines[0]);
  return where;
}

void Zelk::display() {
  if (view_ != nullptr) view_->display(data_);
}

bool Zelk::toMatrix(Matrix& matrix) {
  const int genes = data_.genes();
  const int columns = data_.columns();
  matrix.resize(genes, columns);
  for (int i = 1; i <= genes; ++i) {
    const auto& row = data_.rows[static_cast<std::size_t>(i)];
    double* cells = matrix.row(i);
    for (int j = 1; j <= columns; ++j) {
      const std::string& cell = row[static_cast<std::size_t>(j)];
      const double value = leadingNumber(cell);
      if (!std::isfinite(value)) {
        refuse(dataFile_->name() + ": line " +
               std::to_string(data_.lines[static_cast<std::size_t>(i)]) + ", field " +
               std::to_string(j + 1) + ": the number " + cell + " is too large to compute with");
        return false;
      }
      cells[j] = value;
    }
  }
  return true;
}

bool Zelk::getData(std::string& descriptionOut, Matrix& matrix) {
  if (!dataExists) {
    openDataFile();
    if (!dataExists) return false;
  } else if (!startAnalysis) {
    if (!readDataFile()) return false;
  }
  startAnalysis = false;
  // A dataset whose numbers cannot be used is refused; the next one is handed out instead.
  while (!toMatrix(matrix)) {
    if (!readDataFile()) return false;
  }
  descriptionOut = description;
  return true;
}

void Zelk::bootstrap(const Matrix& source, Matrix& target, int mode) {
  zelk::bootstrap(source, target, mode, generator_);
}

}  // namespace zelk
