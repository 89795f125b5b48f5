// SPDX-License-Identifier: MIT
// Throughput of the 32-bit checksum (binary blocks and zero-terminated text),
// of CRC-32C (the volumes' chunk checksum, by each of its implementations) and
// of the enciphering layer, the per-byte loops of the kernel helpers.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "kernel/crc32c.h"
#include "klv/kernel_layers.h"
#include "klv/kernel_stream.h"
#include "klv/kernel_util.h"

namespace {

void BM_Ocalccrc(benchmark::State& state) {
  std::vector<unsigned char> data(static_cast<size_t>(state.range(0)));
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 31 + 7);
  for (auto _ : state)
    benchmark::DoNotOptimize(Ocalccrc(data.data(), static_cast<int32_t>(data.size())));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_Ocalccrc)->Arg(64)->Arg(1 << 20);

void BM_OcalccrcText(benchmark::State& state) {
  std::string text(static_cast<size_t>(state.range(0)), 'k');
  for (auto _ : state) benchmark::DoNotOptimize(Ocalccrc(text.c_str(), 0));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_OcalccrcText)->Arg(80);

// Ocrc32c takes the instruction when the processor has it.
void BM_Ocrc32c(benchmark::State& state) {
  std::vector<unsigned char> data(static_cast<size_t>(state.range(0)));
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 31 + 7);
  for (auto _ : state) benchmark::DoNotOptimize(Ocrc32c(0, data.data(), data.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_Ocrc32c)->Arg(64)->Arg(1 << 20);

// The three implementations one by one (a path the processor lacks is skipped).
void BM_Crc32cPath(benchmark::State& state) {
  using Fn = uint32_t (*)(uint32_t, const void*, size_t);
  const Fn paths[] = {klv::kernel::crc32c_table, klv::kernel::crc32c_hardware,
                      klv::kernel::crc32c_folding};
  const bool have[] = {true, klv::kernel::crc32c_hardware_available(),
                       klv::kernel::crc32c_folding_available()};
  const auto which = static_cast<size_t>(state.range(0));
  if (!have[which]) {
    state.SkipWithError("not on this processor");
    return;
  }
  std::vector<unsigned char> data(1 << 20);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 31 + 7);
  for (auto _ : state) benchmark::DoNotOptimize(paths[which](0, data.data(), data.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
  state.SetLabel(which == 0 ? "table" : which == 1 ? "instruction" : "folding");
}
BENCHMARK(BM_Crc32cPath)->DenseRange(0, 2);

void BM_EncipherWrite(benchmark::State& state) {
  std::vector<unsigned char> data(1 << 20, 0x5A);
  for (auto _ : state) {
    SFilemux* layer = fencrypt_attach(Omemcreate(), "bench");
    Owrite(layer, data.data(), data.size());
    Oclose(layer);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_EncipherWrite);

}  // namespace

BENCHMARK_MAIN();
