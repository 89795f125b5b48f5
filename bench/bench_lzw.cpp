// SPDX-License-Identifier: MIT
// Throughput of the compression layer over memory streams, on raster-like
// data (8-bit lines with ramps, flat areas and some noise) at two levels.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "klv/kernel_layers.h"
#include "klv/kernel_stream.h"

namespace {

constexpr size_t kLine = 8192;
constexpr size_t kLines = 512;  // 4 MiB a run

std::vector<unsigned char> raster() {
  std::vector<unsigned char> out(kLine * kLines);
  std::mt19937 rng(42);
  for (size_t y = 0; y < kLines; ++y)
    for (size_t x = 0; x < kLine; ++x) {
      unsigned char v = (x < kLine / 3) ? 255 : static_cast<unsigned char>((x + y) / 40);
      if ((rng() & 31) == 0) v = static_cast<unsigned char>(rng());
      out[y * kLine + x] = v;
    }
  return out;
}

std::vector<unsigned char> compressed(const std::vector<unsigned char>& data, int level) {
  SFilemux* mem = Omemcreate();
  SLZW* lzw = LZWAttach(mem, 'w', level);
  for (size_t y = 0; y < kLines; ++y) LZWWrite(lzw, data.data() + y * kLine, kLine);
  LZWDetach(lzw);
  size_t size = 0;
  const auto* p = static_cast<const unsigned char*>(Omemdata(mem, &size));
  std::vector<unsigned char> out(p, p + size);
  Oclose(mem);
  return out;
}

void BM_Compress(benchmark::State& state) {
  const auto data = raster();
  const int level = static_cast<int>(state.range(0));
  size_t packed = 0;
  for (auto _ : state) {
    SFilemux* mem = Omemcreate();
    SLZW* lzw = LZWAttach(mem, 'w', level);
    for (size_t y = 0; y < kLines; ++y) LZWWrite(lzw, data.data() + y * kLine, kLine);
    LZWDetach(lzw);
    packed = static_cast<size_t>(Ofileleni64(mem));
    Oclose(mem);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
  state.counters["ratio"] = static_cast<double>(data.size()) / static_cast<double>(packed);
}
BENCHMARK(BM_Compress)->Arg(1)->Arg(6);

void BM_Decompress(benchmark::State& state) {
  const auto data = raster();
  const auto packed = compressed(data, static_cast<int>(state.range(0)));
  std::vector<unsigned char> line(kLine);
  for (auto _ : state) {
    SFilemux* mem = Omemopen(packed.data(), packed.size());
    SLZW* lzw = LZWAttach(mem, 'r', 0);
    for (size_t y = 0; y < kLines; ++y) LZWRead(lzw, line.data(), kLine);
    benchmark::DoNotOptimize(line.data());
    LZWDetach(lzw);
    Oclose(mem);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_Decompress)->Arg(1)->Arg(6);

}  // namespace

BENCHMARK_MAIN();
