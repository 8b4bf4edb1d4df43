// Lookup-table generation, side by side in one run: the fast path on all cores and on one,
// against the one-by-one integrals on one core, with a check that the values agree.

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "common/parallel.h"
#include "tablegen/options_folded_window.h"

namespace {

using namespace zelk;
using namespace zelk::tablegen;

class QuietPlatform final : public Platform {
 public:
  std::optional<std::filesystem::path> chooseFileToOpen(std::string_view) override { return {}; }
  std::optional<std::filesystem::path> chooseFileToSave(std::string_view,
                                                        std::string_view) override {
    return {};
  }
  void showMessage(std::string_view text) override {
    std::printf("message: %.*s\n", static_cast<int>(text.size()), text.data());
  }
  void processEvents() override {}
  bool cancelled() const override { return false; }
  std::uint64_t seed() override { return 0; }
};

template <typename F>
double seconds(F&& f) {
  const auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void compare(const char* sampleSize) {
  OptionValues values(optionsFoldedWindow::options());
  values.set(optionsFoldedWindow::kSampleSize, sampleSize);
  const auto planned = optionsFoldedWindow::plan(values);
  if (!planned.plan) {
    std::printf("%s\n", planned.message.c_str());
    return;
  }
  QuietPlatform platform;
  const int cores = hardwareThreads();
  TablePlan fast = *planned.plan;
  TablePlan fastOne = *planned.plan;
  TablePlan plain = *planned.plan;
  std::vector<std::uint8_t> fastStages;
  std::vector<std::uint8_t> plainStages;
  const double fastSeconds = seconds([&] {
    generateTable(fast.table, fast.grid, {cores, kTableAccuracy, &fastStages}, platform, nullptr);
  });
  const double fastOneSeconds = seconds([&] {
    generateTable(fastOne.table, fastOne.grid, {1, kTableAccuracy, nullptr}, platform, nullptr);
  });
  const double plainSeconds = seconds(
      [&] { generateTableOneByOne(plain.table, plain.grid, kTableAccuracy, &plainStages); });

  std::vector<double> a = fast.table.polymorphism;
  a.insert(a.end(), fast.table.heterozygosity.begin(), fast.table.heterozygosity.end());
  std::vector<double> b = plain.table.polymorphism;
  b.insert(b.end(), plain.table.heterozygosity.begin(), plain.table.heterozygosity.end());
  double worstSame = 0.0;
  double worstFlip = 0.0;
  long flips = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const double scale = std::max(std::fabs(a[i]), std::fabs(b[i]));
    const double relative = a[i] == b[i] ? 0.0 : std::fabs(a[i] - b[i]) / scale;
    if (fastStages[i] == plainStages[i]) {
      worstSame = std::max(worstSame, relative);
    } else {
      ++flips;
      worstFlip = std::max(worstFlip, relative);
    }
  }
  const auto& t = fast.table;
  std::printf("n = %s, all frequencies, default grid: %d classes, %d x %d cells, %zu integrals\n",
              sampleSize, t.classCount(), t.beta.count, t.logMeanS.count, a.size());
  std::printf("  fast path, %d cores      %8.3f s\n", cores, fastSeconds);
  std::printf("  fast path, 1 core       %8.3f s\n", fastOneSeconds);
  std::printf("  one by one, 1 core      %8.3f s\n", plainSeconds);
  std::printf("  ratio (one by one / fast on all cores): %.1fx; on one core: %.1fx\n",
              plainSeconds / fastSeconds, plainSeconds / fastOneSeconds);
  std::printf("  largest relative difference at the same stop stage: %.2g; stop flips: %ld",
              worstSame, flips);
  if (flips > 0) std::printf(" (largest difference %.2g)", worstFlip);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) {
    for (int i = 1; i < argc; ++i) compare(argv[i]);
  } else {
    compare("20");
    compare("100");
  }
}
