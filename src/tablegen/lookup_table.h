#pragma once
// The lookup-table file: for one sample size and one list of folded frequency classes, the
// expected polymorphism of each class, the expected divergence and the expected
// heterozygosity over a grid of the gamma shape beta and the natural logarithm of the mean
// selection strength.
//
// Layout (fields separated by tabs, every data row beginning with a tab):
//   1  "Frequency classes : " then "(lo,up)" for each class, with no separator
//   2  "No of freq classes and sample size : " TAB k TAB n
//   3  TAB E0_1 ... TAB E0_k (neutral expectations)
//   4  beta_1 TAB B TAB step TAB "Beta lower limit, no of values and step size"
//   5  m_1 TAB M TAB step TAB "LogMeanS lower limit, no of values and step size"
//   for each class: an empty line, then B rows of M values (expected polymorphism)
//   B rows of M values (expected divergence), then B rows of M values (heterozygosity)
// 5 + k(B + 1) + 2B lines in all. Real values are written as the shortest decimal text that
// reads back to the same double; a value that is not a number is written "nan" (and
// infinities "inf", "-inf"), and the reader reads these texts back as such values. Every
// other field is read with the lenient rule: its leading number, 0 when there is none.

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace zelk::tablegen {

// One folded frequency class: the allele counts lower..upper, with the texts that name its
// bounds on line 1 (in list mode, exactly as typed).
struct FrequencyClass {
  std::int32_t lower = 0;
  std::int32_t upper = 0;
  std::string lowerText;
  std::string upperText;
};

// A grid axis: values first, first + step, ... by repeated addition, up to the last value
// that does not pass the upper limit (with a negative step: that is not below it).
struct GridAxis {
  double first = 0.0;
  double step = 0.0;
  std::int32_t count = 0;
};

// The values of the stepping from first towards upper, formed by repeated addition, at most
// `most` of them (the stepping stops there, also when an addition no longer moves the value).
std::vector<double> gridValues(double first, double step, double upper, std::size_t most);

struct LookupTable {
  std::int32_t sampleSize = 0;
  std::vector<FrequencyClass> classes;
  std::vector<double> neutral;  // E0 per class
  GridAxis beta;                // the shape grid, B rows
  GridAxis logMeanS;            // the log-mean grid, M columns
  // ePn(class, row, column), row-major per class: index (f * B + j) * M + l, all 0-based.
  std::vector<double> polymorphism;
  std::vector<double> divergence;      // (j * M + l)
  std::vector<double> heterozygosity;  // (j * M + l)

  std::int32_t classCount() const { return static_cast<std::int32_t>(classes.size()); }
  std::size_t cells() const {
    return static_cast<std::size_t>(beta.count) * static_cast<std::size_t>(logMeanS.count);
  }
  // Sizes the value arrays for the classes and the grid counts.
  void allocate();
  double& ePn(std::int32_t f, std::int32_t j, std::int32_t l) {
    return polymorphism[(static_cast<std::size_t>(f) * beta.count + j) * logMeanS.count + l];
  }
  const double& ePn(std::int32_t f, std::int32_t j, std::int32_t l) const {
    return polymorphism[(static_cast<std::size_t>(f) * beta.count + j) * logMeanS.count + l];
  }
};

// The number of lines of the file of a table of k classes and B shape rows.
std::int64_t tableLineCount(std::int32_t classCount, std::int32_t betaCount);

// Writes the table; returns false when the stream failed.
bool writeLookupTable(std::ostream& out, const LookupTable& table);

// Reads a table written in this layout, taking the class count from line 2 and the grid
// sizes from lines 4 and 5. A file that cannot be read, ends early or holds a short row is
// refused with a message naming the file and the line.
struct TableReadResult {
  std::optional<LookupTable> table;
  std::string message;  // why the file was refused
};
TableReadResult readLookupTable(const std::filesystem::path& path);

// The extended layout, read for the model with a class of advantageous mutations: lines 1
// and 2 hold any text; line 3 the neutral expectations of K classes; lines 4 and 5 the grid
// headers; K class blocks and the divergence rows as above, with no heterozygosity rows;
// then a line of any text, a line "logSaMin TAB logSaMax TAB step TAB count" (no leading
// tab), K rows of L values (expected polymorphism of an advantageous mutation per class,
// L the whole part of the count), a line of any text and one row of L values (its
// divergence). The class count K comes from the caller's data, not from the file.
struct AdaptiveGrid {
  double logSaMin = 0.0;
  double logSaMax = 0.0;  // read, not used by any computation
  double logSaStepSize = 0.0;
  double logSaSteps = 0.0;  // as written; its whole part is the number of columns
  std::int32_t columns = 0;
  std::vector<double> polymorphism;  // (f * columns + a), both 0-based
  std::vector<double> divergence;    // (a)
};
struct ExtendedTable {
  LookupTable table;  // classes hold K placeholders; no heterozygosity values
  AdaptiveGrid adaptive;
};
struct ExtendedTableReadResult {
  std::optional<ExtendedTable> table;
  std::string message;
};
ExtendedTableReadResult readExtendedLookupTable(const std::filesystem::path& path,
                                                std::int32_t classCount);

// A table field: "nan", "inf" and "-inf" (as written for such values) are read back as
// such; anything else by its leading number, 0 when there is none.
double tableNumber(std::string_view text);

}  // namespace zelk::tablegen
