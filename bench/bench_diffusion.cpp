// SPDX-License-Identifier: MIT
// Error diffusion of one separation, 8-bit input, 16000-pixel lines: the plain
// and variable-coefficient engines beside a plain serpentine Floyd-Steinberg
// loop on 16-bit errors doing comparable work.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "klv/halftone_diffusion.h"

namespace {

constexpr int kWidth = 16000;

std::vector<uint8_t> Line() {
  std::mt19937 rng(7);
  std::vector<uint8_t> v(kWidth);
  for (int x = 0; x < kWidth; ++x) v[x] = uint8_t(x * 255 / (kWidth - 1) + rng() % 16);
  return v;
}

template <class Place>
void BM_Engine(benchmark::State& state) {
  image_info in{}, out{};
  in.width = out.width = kWidth;
  in.height = out.height = 1 << 30;
  in.samples = out.samples = 1;
  in.bits_per_sample = 8;
  in.bytes_per_line = kWidth;
  out.bits_per_sample = 1;
  Place place;
  if (!place.PreInitProcess(&in, &out)) {
    state.SkipWithError("placement");
    return;
  }
  std::unique_ptr<CHTRip> rip(place.CreateRip(0, 0, false, 0, nullptr, nullptr, 0, 1));
  if (!rip) {
    state.SkipWithError("engine");
    return;
  }
  auto line = Line();
  for (auto _ : state) {
    rip->ResetOutBuf();
    rip->StartProcessLine(line.data(), 1);
    benchmark::DoNotOptimize(rip->GetOutBuf()[0]);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kWidth);
}

// The yardstick: serpentine Floyd-Steinberg on 16-bit errors, one bit a pixel.
void BM_PlainFloydSteinberg(benchmark::State& state) {
  auto line = Line();
  std::vector<int16_t> cur(kWidth + 2, 0), next(kWidth + 2, 0);
  std::vector<uint8_t> out((kWidth + 7) / 8);
  bool rtl = false;
  for (auto _ : state) {
    std::fill(out.begin(), out.end(), 0);
    const int d = rtl ? -1 : 1;
    int x = rtl ? kWidth - 1 : 0;
    for (int k = 0; k < kWidth; ++k, x += d) {
      int v = line[x] * 8 + cur[x + 1];
      bool dot = v > 1020;
      int e = dot ? v - 2040 : v;
      cur[x + 1 + d] = int16_t(cur[x + 1 + d] + ((e * 7) >> 4));
      next[x + 1 - d] = int16_t(next[x + 1 - d] + ((e * 3) >> 4));
      next[x + 1] = int16_t(next[x + 1] + ((e * 5) >> 4));
      next[x + 1 + d] = int16_t(e >> 4);
      if (dot) out[x >> 3] |= uint8_t(0x80 >> (x & 7));
    }
    cur.swap(next);
    rtl = !rtl;
    benchmark::DoNotOptimize(out[0]);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kWidth);
}

}  // namespace

BENCHMARK(BM_PlainFloydSteinberg);
BENCHMARK_TEMPLATE(BM_Engine, CHTPlaceErrDif)->Name("BM_ErrDif");
BENCHMARK_TEMPLATE(BM_Engine, CHTPlaceErrDifVarCoef)->Name("BM_ErrDifVarCoef");
BENCHMARK_TEMPLATE(BM_Engine, CHTPlaceErrDifScreen)->Name("BM_ErrDifScreen");
BENCHMARK_MAIN();
