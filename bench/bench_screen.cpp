// SPDX-License-Identifier: MIT
// Threshold screening of one separation: 16000-pixel lines against a 256x256
// screen, the engines beside a plain per-pixel loop of the same work; and the
// engine on one separation of pixel-interleaved CMYK lines.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "klv/halftone_screen.h"

namespace {

constexpr int kWidth = 16000;
constexpr int kScreen = 256;

template <class T>
struct Fixture {
  std::vector<T> data;
  std::vector<T*> rows;
  T** row_ptr;
  uint16_t h = kScreen, shift = 0;
  uint32_t w = kScreen, levels;
  image_info in{}, out{};
  CHTPlaceScreen<T> place;
  std::unique_ptr<CHTRip> rip;
  std::vector<uint8_t> line;

  explicit Fixture(int in_bits, int samples = 1) {
    std::mt19937 rng(5);
    levels = sizeof(T) == 1 ? 256 : 4096;
    data.resize(size_t(kScreen) * kScreen);
    for (T& v : data) v = T(rng() % levels);
    for (int r = 0; r < kScreen; ++r) rows.push_back(data.data() + r * kScreen);
    row_ptr = rows.data();
    place.SetScreens(1, &row_ptr, &h, &shift, &w, &levels);
    in.width = out.width = kWidth;
    in.height = out.height = 1;
    in.samples = out.samples = uint32_t(samples);
    in.bits_per_sample = uint32_t(in_bits);
    in.bytes_per_line = uint32_t(kWidth * samples * in_bits / 8);
    out.bits_per_sample = 1;
    place.PreInitProcess(&in, &out);
    rip.reset(place.CreateRip(0, 0, false, 0, nullptr, nullptr, 0, 1));
    line.resize(in.bytes_per_line);
    for (auto& b : line) b = uint8_t(rng());
  }
};

template <class T, int InBits, int Samples = 1>
void BM_Engine(benchmark::State& state) {
  Fixture<T> f(InBits, Samples);
  for (auto _ : state) {
    f.rip->ResetOutBuf();
    f.rip->StartProcessLine(f.line.data(), 1);
    benchmark::DoNotOptimize(f.rip->GetOutBuf()[0]);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kWidth);
}

// The plain loop: curve lookup, compare, bit set, threshold wrapped by compare.
template <class T, int InBits>
void BM_PlainLoop(benchmark::State& state) {
  Fixture<T> f(InBits);
  auto* klv = dynamic_cast<CHTRipKlv*>(f.rip.get());
  const uint16_t* curve = klv->GetCurve();
  std::vector<uint8_t> out((kWidth + 7) / 8);
  int row = 0;
  for (auto _ : state) {
    std::fill(out.begin(), out.end(), 0);
    const T* th = f.rows[row];
    const T* end = th + kScreen;
    const T* p = th;
    for (int x = 0; x < kWidth; ++x) {
      uint32_t s;
      if constexpr (InBits == 8)
        s = f.line[x];
      else
        s = reinterpret_cast<const uint16_t*>(f.line.data())[x] >> 4;
      out[x >> 3] |= uint8_t((curve[s] > *p) << (7 - (x & 7)));
      if (++p == end) p = th;
    }
    if (++row == kScreen) row = 0;
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kWidth);
}

BENCHMARK(BM_Engine<unsigned char, 8>)->Name("screen/in8_th8/engine");
BENCHMARK(BM_PlainLoop<unsigned char, 8>)->Name("screen/in8_th8/plain");
BENCHMARK(BM_Engine<unsigned short, 8>)->Name("screen/in8_th16/engine");
BENCHMARK(BM_PlainLoop<unsigned short, 8>)->Name("screen/in8_th16/plain");
BENCHMARK(BM_Engine<unsigned short, 8, 4>)->Name("screen/in8_th16_cmyk/engine");
BENCHMARK(BM_Engine<unsigned char, 16>)->Name("screen/in16_th8/engine");
BENCHMARK(BM_PlainLoop<unsigned char, 16>)->Name("screen/in16_th8/plain");
BENCHMARK(BM_Engine<unsigned short, 16>)->Name("screen/in16_th16/engine");
BENCHMARK(BM_PlainLoop<unsigned short, 16>)->Name("screen/in16_th16/plain");

}  // namespace

BENCHMARK_MAIN();
