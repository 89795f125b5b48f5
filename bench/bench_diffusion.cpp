// SPDX-License-Identifier: MIT
// Error diffusion of one separation, 8-bit input, 16000-pixel lines: the plain
// and variable-coefficient engines beside a plain serpentine Floyd-Steinberg
// loop on 16-bit errors doing comparable work. BM_FilterThreads: 2, 4 or 8
// separations of diffusion through the halftone filter into a null image,
// every separation on an engine thread of its own (or, as /0, all on the
// caller's thread); the rate counts the pixels of every separation, so with
// more threads than cores it shows whether anything serialises. The last
// iteration waits until every line is screened and written, so that lines
// still in the filter's ring are not counted as done.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "klv/halftone_diffusion.h"
#include "klv/htplace.h"
#include "klv/imgmux.h"
#include "klv/streams.h"

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

// range(0): separations; range(1): 1 to give each its own engine thread.
void BM_FilterThreads(benchmark::State& state) {
  const int seps = int(state.range(0));
  const bool threaded = state.range(1) != 0;
  constexpr int kFilterWidth = 8000, kLines = 64;
  image_info in;
  init_image_info(&in);
  in.width = kFilterWidth;
  in.height = 1 << 30;
  in.samples = uint32_t(seps);
  // Process colours are 1 or 3 to 7: two separations are gray and a spot,
  // eight are CMYK and four spots.
  in.spot_samples = uint32_t(seps == 2 ? 1 : seps > 4 ? seps - 4 : 0);
  in.bits_per_sample = 8;
  in.photometric = KLV_PHOTO_MINWHITE;
  in.xres = in.yres = 600;
  in.bytes_per_line = image_info_line_bytes(&in);
  image_info out = in;
  out.bits_per_sample = 1;
  out.bytes_per_line = image_info_line_bytes(&out);
  HTPLACE* place = HTPlaceAlloc(4, 600, 600, 0, 0, 0, KLV_HTMETHOD_ERRDIF, nullptr, nullptr,
                                nullptr, nullptr, 0);
  if (!place) {
    state.SkipWithError("placement");
    return;
  }
  HTPlaceSetDetachDelete(place, 1);
  // range(1) 2: every separation but the last threaded, the last screened
  // on the caller's thread.
  if (threaded)
    for (int s = 0; s < seps - (state.range(1) == 2 ? 1 : 0); ++s)
      HTPlaceGetThreadFlagArray(place)[s] = 1;
  IMG_file* ht =
      HTPlace_AttachImg(place, null_open_img(nullptr, nullptr, "w", &out), &in, kLines, 0);
  if (!ht) {
    state.SkipWithError("attach failed");
    return;
  }
  std::mt19937 rng(3);
  std::vector<uint8_t> lines(size_t(in.bytes_per_line) * kLines);
  for (auto& v : lines) v = uint8_t(rng());
  benchmark::IterationCount i = 0;
  for (auto _ : state) {
    if (img_write_line(ht, lines.data(), kLines) != kLines) state.SkipWithError("write failed");
    if (++i == state.max_iterations && img_status(ht, 0) != 1) state.SkipWithError("status");
  }
  img_close(ht);
  state.SetItemsProcessed(state.iterations() * int64_t(kFilterWidth) * kLines * seps);
}

}  // namespace

BENCHMARK(BM_PlainFloydSteinberg);
BENCHMARK(BM_FilterThreads)
    ->Args({4, 0})
    ->Args({4, 2})
    ->Args({2, 1})
    ->Args({4, 1})
    ->Args({8, 1})
    ->UseRealTime();
BENCHMARK_TEMPLATE(BM_Engine, CHTPlaceErrDif)->Name("BM_ErrDif");
BENCHMARK_TEMPLATE(BM_Engine, CHTPlaceErrDifVarCoef)->Name("BM_ErrDifVarCoef");
BENCHMARK_TEMPLATE(BM_Engine, CHTPlaceErrDifScreen)->Name("BM_ErrDifScreen");
BENCHMARK_MAIN();
