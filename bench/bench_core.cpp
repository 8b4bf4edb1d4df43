// Micro-benchmarks of the analysis program's hot paths, each fast path side by side with the
// plain version it replaces.

#include <benchmark/benchmark.h>

#include <string>

#include "alpha/lrp_fww_method.h"
#include "alpha/ni_methods.h"
#include "shell/bootstrap.h"
#include "shell/dataset_reader.h"
#include "shell/matrix.h"

namespace {

using namespace zelk;

Matrix syntheticGenes(int genes) {
  Generator generator(42);
  Matrix m(genes, 8);
  for (int i = 1; i <= genes; ++i) {
    for (int j = 1; j <= 8; j += 2) {
      m(i, j) = generator.between1And(16) - 1;
      m(i, j + 1) = 300 + (i % 7) * 50;
    }
  }
  return m;
}

// One replicate as written plainly: copy the resampled genes, then estimate.
void BM_ReplicateCopyThenEstimate(benchmark::State& state) {
  const Matrix genes = syntheticGenes(static_cast<int>(state.range(0)));
  Matrix replicate;
  Generator generator(7);
  for (auto _ : state) {
    bootstrap(genes, replicate, 1, generator);
    benchmark::DoNotOptimize(LRPFWWMethod::calculateAlpha("FWW", replicate));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ReplicateCopyThenEstimate)->Arg(1000)->Arg(100000);

// One replicate drawn and summed in a single pass over precomputed gene terms.
void BM_ReplicateFused(benchmark::State& state) {
  const Matrix genes = syntheticGenes(static_cast<int>(state.range(0)));
  std::vector<GeneTerms> terms(static_cast<std::size_t>(genes.rows()) + 1);
  for (int i = 1; i <= genes.rows(); ++i)
    terms[static_cast<std::size_t>(i)] = LRPFWWMethod::termsOf("FWW", genes, i);
  Generator generator(7);
  for (auto _ : state) {
    benchmark::DoNotOptimize(LRPFWWMethod::alphaFromSums("FWW", resampledSums(terms, generator)));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ReplicateFused)->Arg(1000)->Arg(100000);

void BM_ReadDataset(benchmark::State& state) {
  const Matrix genes = syntheticGenes(static_cast<int>(state.range(0)));
  std::string text = "gene\tDn\tLnD\tPn\tLnP\tDs\tLsD\tPs\tLsP\n";
  for (int i = 1; i <= genes.rows(); ++i) {
    text += "g" + std::to_string(i);
    for (int j = 1; j <= 8; ++j) text += "\t" + std::to_string(static_cast<int>(genes(i, j)));
    text += "\n";
  }
  for (auto _ : state) {
    auto file = DatasetFile::fromText(text, "bench.tsv");
    benchmark::DoNotOptimize(std::get<DatasetFile>(file).readDataset());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_ReadDataset)->Arg(100000);

}  // namespace

BENCHMARK_MAIN();
