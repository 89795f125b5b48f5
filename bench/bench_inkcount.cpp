// SPDX-License-Identifier: MIT
// Throughput of the ink counter's per-byte tables (the file driver's
// DropCounter): one row of random halftoned samples counted by drop size, at
// 1, 2, 4 and 8 bits per sample.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "../plugins/drivers/file/file_output.h"

namespace {

void BM_DropCounter(benchmark::State& state) {
  const auto bits = static_cast<uint32_t>(state.range(0));
  const uint32_t width = 14400;  // 20 inches at 720 dpi
  klvdrv::DropCounter counter;
  if (!counter.SetShape(bits, width)) {
    state.SkipWithError("bits");
    return;
  }
  std::vector<uint8_t> row(counter.RowBytes());
  std::mt19937 random(7);
  for (auto& b : row) b = static_cast<uint8_t>(random());
  std::vector<uint64_t> counts(counter.Levels(), 0);
  for (auto _ : state) benchmark::DoNotOptimize(counter.Count(row.data(), counts.data()));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * width);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * row.size()));
}
BENCHMARK(BM_DropCounter)->Arg(1)->Arg(2)->Arg(4)->Arg(8);

}  // namespace

BENCHMARK_MAIN();
