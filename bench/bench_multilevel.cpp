// SPDX-License-Identifier: MIT
// Multi-level rendering of one separation, 8-bit input, 16000-pixel lines,
// 2-bit drop codes from the sample three-drop process record: table-mode
// screening and diffusion, each beside a plain loop of comparable work.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "klv/halftone_diffusion.h"
#include "klv/halftone_ml.h"

namespace {

constexpr int kWidth = 16000;
constexpr int kScreen = 256;

std::vector<uint8_t> Line() {
  std::mt19937 rng(7);
  std::vector<uint8_t> v(kWidth);
  for (int x = 0; x < kWidth; ++x) v[x] = uint8_t(x * 255 / (kWidth - 1) + rng() % 16);
  return v;
}

struct Descr {
  image_info in{}, out{};
  Descr() {
    in.width = out.width = kWidth;
    in.height = out.height = 1 << 30;
    in.samples = out.samples = 1;
    in.bits_per_sample = 8;
    in.bytes_per_line = kWidth;
    out.bits_per_sample = 2;
  }
};

void Run(benchmark::State& state, CHTRip* rip) {
  auto line = Line();
  for (auto _ : state) {
    rip->ResetOutBuf();
    rip->StartProcessLine(line.data(), 1);
    benchmark::DoNotOptimize(rip->GetOutBuf()[0]);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kWidth);
}

void BM_MLScreen(benchmark::State& state) {
  Descr d;
  std::mt19937 rng(5);
  std::vector<uint8_t> data(kScreen * kScreen);
  for (auto& v : data) v = uint8_t(rng());
  std::vector<uint8_t*> rows;
  for (int r = 0; r < kScreen; ++r) rows.push_back(data.data() + r * kScreen);
  uint8_t** rp = rows.data();
  uint16_t h = kScreen, shift = 0;
  uint32_t w = kScreen, levels = 256;
  CHTPlaceScreen<unsigned char> place;
  place.SetScreens(1, &rp, &h, &shift, &w, &levels);
  MLPROCINFO rec;
  MLProcSample(rec, false);
  place.SetLinearization(0, nullptr, &rec);
  place.PreInitProcess(&d.in, &d.out);
  CHTRipMLScreen<unsigned char> rip;
  if (!rip.Init(&place, false, 0, 0, false, 0, nullptr, nullptr, 0, 1)) {
    state.SkipWithError("engine");
    return;
  }
  Run(state, &rip);
}

void BM_MLErrDif(benchmark::State& state) {
  Descr d;
  CHTPlaceErrDif place;
  MLPROCINFO rec;
  MLProcSample(rec, false);
  place.SetLinearization(0, nullptr, &rec);
  place.PreInitProcess(&d.in, &d.out);
  std::unique_ptr<CHTRip> rip(place.CreateRip(0, 0, false, 0, nullptr, nullptr, 0, 1));
  if (!rip) {
    state.SkipWithError("engine");
    return;
  }
  Run(state, rip.get());
}

// Yardstick for screening: a threshold compare into 2-bit codes, packed.
void BM_PlainScreen2Bit(benchmark::State& state) {
  auto line = Line();
  std::mt19937 rng(5);
  std::vector<uint8_t> thr(kScreen);
  for (auto& v : thr) v = uint8_t(rng());
  std::vector<uint8_t> out(kWidth / 4);
  for (auto _ : state) {
    for (int i = 0; i < kWidth / 4; ++i) {
      uint8_t b = 0;
      for (int j = 0; j < 4; ++j) {
        int x = 4 * i + j;
        int v = line[x];
        int t = thr[x & (kScreen - 1)];
        int code = v * 3 / 256 + (t < (v * 3) % 256);
        b = uint8_t(b << 2 | (code > 3 ? 3 : code));
      }
      out[i] = b;
    }
    benchmark::DoNotOptimize(out[0]);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kWidth);
}

}  // namespace

BENCHMARK(BM_PlainScreen2Bit);
BENCHMARK(BM_MLScreen);
BENCHMARK(BM_MLErrDif);
BENCHMARK_MAIN();
