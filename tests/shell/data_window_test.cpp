#include "shell/data_window.h"

#include <gtest/gtest.h>

#include <random>

#include "support/recording_platform.h"
#include "support/temp_dir.h"

namespace zelk {
namespace {

// Opens a file through the data window, as File > Open does.
struct Loaded {
  testing::TempDir dir;
  testing::RecordingPlatform platform;
  testing::RecordingDataDisplay view;
  Zelk window{platform, &view};

  explicit Loaded(const std::string& content, const std::string& name = "genes.tsv") {
    platform.openAnswers.push_back(dir.write(name, content));
    window.openDataFile();
  }

  // Runs the loop an analysis runs and returns every dataset handed out.
  std::vector<std::pair<std::string, Matrix>> all() {
    std::vector<std::pair<std::string, Matrix>> datasets;
    window.startAnalysis = true;
    std::string description;
    Matrix matrix;
    while (window.getData(description, matrix)) datasets.emplace_back(description, matrix);
    return datasets;
  }
};

Matrix matrixOf(std::initializer_list<std::initializer_list<double>> genes) {
  const int columns = static_cast<int>(genes.begin()->size());
  Matrix m(static_cast<int>(genes.size()), columns);
  int i = 1;
  for (const auto& gene : genes) {
    int j = 1;
    for (const double value : gene) m(i, j++) = value;
    ++i;
  }
  return m;
}

TEST(DataWindow, SingleDatasetIsDescribedByTheFileName) {
  Loaded file("name\tx\ty\ng1\t1\t2.5\ng2\t3\tabc\n");
  ASSERT_TRUE(file.window.dataExists);
  EXPECT_FALSE(file.window.multiDataFile);
  EXPECT_EQ(file.window.title(), "genes.tsv");
  EXPECT_EQ(file.view.titles, std::vector<std::string>{"genes.tsv"});
  const auto datasets = file.all();
  ASSERT_EQ(datasets.size(), 1u);  // a second getData returns false
  EXPECT_EQ(datasets[0].first, "genes.tsv");
  // Row 0 and column 0 stay 0; a cell without a number becomes 0.
  EXPECT_EQ(datasets[0].second, matrixOf({{1, 2.5}, {3, 0}}));
  EXPECT_TRUE(file.platform.messages.empty());
}

TEST(DataWindow, HandsOutTheDatasetsOfAMultiDatasetFileInTurn) {
  Loaded file("A\tc\ng1\t1\n#\nB\tc\ng2\t2\ng3\t3\n");
  EXPECT_TRUE(file.window.multiDataFile);
  const auto datasets = file.all();
  ASSERT_EQ(datasets.size(), 2u);
  EXPECT_EQ(datasets[0].first, "A\tc");
  EXPECT_EQ(datasets[0].second, matrixOf({{1}}));
  EXPECT_EQ(datasets[1].first, "B\tc");
  EXPECT_EQ(datasets[1].second, matrixOf({{2}, {3}}));
  // Every dataset read is shown at once.
  ASSERT_EQ(file.view.shown.size(), 2u);
  EXPECT_EQ(file.view.shown[1].genes(), 2);
  // The stream is not rewound: a second analysis receives only the last dataset.
  const auto again = file.all();
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again[0].first, "B\tc");
}

TEST(DataWindow, ReadsEveryLineEndAndIgnoresBlankLinesAndAByteOrderMark) {
  const std::string expected = "h\tv\ng1\t1\ng2\t2\n";
  for (const std::string& content :
       {std::string("h\tv\r\ng1\t1\r\ng2\t2\r\n"), std::string("h\tv\rg1\t1\rg2\t2"),
        std::string("\xEF\xBB\xBFh\tv\n\n  \t\ng1\t1\n\r\ng2\t2\n\n")}) {
    Loaded file(content);
    const auto datasets = file.all();
    ASSERT_EQ(datasets.size(), 1u);
    EXPECT_EQ(datasets[0].second, matrixOf({{1}, {2}}));
    EXPECT_EQ(file.window.data().rows[0], (std::vector<std::string>{"h", "v"}));
  }
}

TEST(DataWindow, TheFirstGeneRowFixesTheWidth) {
  // A shorter row gets empty cells; empty extra fields (trailing tabs) are ignored.
  Loaded file("h\ta\tb\tc\tdropped\ng1\t1\t2\t3\ng2\t4\t\t\t\t\ng3\t5\n");
  const auto datasets = file.all();
  EXPECT_TRUE(datasets.empty()) << "the header's extra field holds text, so it is refused";
  ASSERT_EQ(file.platform.messages.size(), 1u);
  EXPECT_EQ(file.platform.messages[0],
            "genes.tsv: line 1 has 5 fields, but the first gene line (line 2) has 4; "
            "field 5 holds \"dropped\"");

  Loaded ragged("h\ta\tb\tc\ng1\t1\t2\t3\ng2\t4\t\t\t\t\ng3\t5\n");
  const auto read = ragged.all();
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(read[0].second, matrixOf({{1, 2, 3}, {4, 0, 0}, {5, 0, 0}}));
  EXPECT_TRUE(ragged.platform.messages.empty());

  // Trailing tabs on every line, the first gene line's included, add no column; a column the
  // header names stays even when the first gene leaves it empty.
  Loaded exported("h\ta\tb\t\ng1\t1\t2\t\t\ng2\t3\t4\t\n");
  EXPECT_EQ(exported.all().at(0).second, matrixOf({{1, 2}, {3, 4}}));
  Loaded named("h\ta\tb\tc\ng1\t1\t2\t\ng2\t3\t4\t5\n");
  EXPECT_EQ(named.all().at(0).second, matrixOf({{1, 2, 0}, {3, 4, 5}}));
}

TEST(DataWindow, ARefusedDatasetIsReportedAndTheNextOneIsRead) {
  Loaded file("A\tc\ng1\t1\n#\nB\tc\ng2\t2\ng2b\t2\t7\n#\nC\tc\ng3\t1e999\n#\nD\tc\ng4\t4\n");
  const auto datasets = file.all();
  ASSERT_EQ(datasets.size(), 2u);
  EXPECT_EQ(datasets[0].first, "A\tc");
  EXPECT_EQ(datasets[1].first, "D\tc");
  EXPECT_EQ(file.platform.messages,
            (std::vector<std::string>{
                "genes.tsv: line 6 has 3 fields, but the first gene line (line 5) has 2; field 3 "
                "holds \"7\"",
                "genes.tsv: line 9, field 2: the number 1e999 is too large to compute with"}));
  EXPECT_EQ(file.window.refusalCount(), 2);
}

TEST(DataWindow, FilesThatHoldNoDatasetAreRefusedWithAReason) {
  const struct {
    std::string content;
    std::string message;
  } cases[] = {
      {"", "genes.tsv: holds no dataset; the file is empty or has only blank lines"},
      {"\n \n\t\n", "genes.tsv: holds no dataset; the file is empty or has only blank lines"},
      {"header\ta\tb\n",
       "genes.tsv: the dataset starting on line 1 has a header line but no gene lines; a "
       "dataset needs a header line and at least one gene line"},
      {"#\n#\n#\n",
       "genes.tsv: line 1 contains \"#\", which ends a dataset, but no dataset stands before it"},
      {"\nx#y\th\ng\t1\n",
       "genes.tsv: line 2 contains \"#\", which ends a dataset, but no dataset stands before it"},
      {std::string("h\tv\ng\t1\0\n", 9),
       "genes.tsv: not a text file (a NUL byte on line 2); a dataset is a tab-separated text "
       "table"},
  };
  for (const auto& c : cases) {
    Loaded file(c.content);
    EXPECT_FALSE(file.window.dataExists);
    EXPECT_EQ(file.platform.messages, std::vector<std::string>{c.message});
  }
}

TEST(DataWindow, AGeneNameContainingTheSeparatorEndsTheDataset) {
  Loaded file("h\tv\ng1\t1\ng#2\t2\ng3\t3\ng4\t4\n");
  const auto datasets = file.all();
  ASSERT_EQ(datasets.size(), 2u);
  EXPECT_EQ(datasets[0].second, matrixOf({{1}}));
  EXPECT_EQ(datasets[1].first, "g3\t3");  // the next dataset's header
  EXPECT_EQ(datasets[1].second, matrixOf({{4}}));
}

TEST(DataWindow, DoubledAndTrailingSeparatorsHoldNoDataset) {
  Loaded file("A\tc\ng1\t1\n#\n\n#\nB\tc\ng2\t2\n#\n#\n");
  const auto datasets = file.all();
  ASSERT_EQ(datasets.size(), 2u);
  EXPECT_EQ(datasets[1].first, "B\tc");
  EXPECT_TRUE(file.platform.messages.empty());
}

TEST(DataWindow, MissingFileAndCancelledDialog) {
  testing::RecordingPlatform platform;
  Zelk window(platform);
  platform.openAnswers.push_back(std::nullopt);
  window.openDataFile();
  EXPECT_FALSE(window.dataExists);
  EXPECT_TRUE(platform.messages.empty());  // cancelling is not an error

  platform.openAnswers.push_back("/no/such/file.tsv");
  window.openDataFile();
  EXPECT_FALSE(window.dataExists);
  EXPECT_EQ(platform.messages,
            std::vector<std::string>{"cannot open /no/such/file.tsv: No such file or directory"});
}

TEST(DataWindow, AnAnalysisWithNoDatasetLoadedAsksForAFile) {
  testing::TempDir dir;
  testing::RecordingPlatform platform;
  Zelk window(platform);
  platform.openAnswers.push_back(dir.write("d.tsv", "h\tv\ng\t9\n"));
  window.startAnalysis = true;
  std::string description;
  Matrix matrix;
  ASSERT_TRUE(window.getData(description, matrix));
  EXPECT_EQ(platform.openTitles.size(), 1u);
  EXPECT_EQ(description, "d.tsv");
  EXPECT_EQ(matrix, matrixOf({{9}}));
  EXPECT_FALSE(window.getData(description, matrix));

  // With the dialog cancelled, the analysis gets nothing.
  Zelk empty(platform);
  EXPECT_FALSE(empty.getData(description, matrix));
}

// Random bytes, and random mixtures of the characters that matter to the reader, never crash
// or hang it, and whatever it hands out has the shape of the table it shows.
TEST(DataWindow, SurvivesArbitraryBytes) {
  std::mt19937_64 generator(2024);
  const std::string alphabet =
      "\t\n\r#0123456789.-e \xEF\xBB\xBF"
      "ab";
  for (int round = 0; round < 400; ++round) {
    std::uniform_int_distribution<int> length(0, 600);
    std::string content(static_cast<std::size_t>(length(generator)), '\0');
    const bool raw = round % 2 == 0;
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    for (char& c : content)
      c = raw ? static_cast<char>(byte(generator)) : alphabet[pick(generator)];
    Loaded file(content);
    file.window.startAnalysis = true;
    std::string description;
    Matrix matrix;
    while (file.window.getData(description, matrix)) {
      ASSERT_EQ(matrix.rows(), file.window.data().genes());
      ASSERT_EQ(matrix.cols(), file.window.data().columns());
      ASSERT_GE(matrix.rows(), 1);
    }
  }
}

}  // namespace
}  // namespace zelk
