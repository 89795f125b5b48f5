// SPDX-License-Identifier: MIT
// The whole placement path on 8000-pixel lines: gray and CMYK lines written
// through HTPlace_AttachImg's halftone filter (one-bit pixel-interleaved dots
// into a null image, no engine threads) for a screen method (the built-in
// screens) and the diffusion method, beside the bare engines screening the
// same lines in the same run. Filter / Engines = the filter's overhead
// (hand-over, dot packing, output writing). items_per_second counts pixels
// (all separations of a pixel together).
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "klv/htplace.h"
#include "klv/htplace_cxx.h"
#include "klv/streams.h"

namespace {

constexpr int kWidth = 8000;
constexpr int kLines = 16;

image_info describe(int samples, int bits, int32_t height) {
  image_info i;
  init_image_info(&i);
  i.width = kWidth;
  i.height = height;
  i.samples = uint32_t(samples);
  i.bits_per_sample = uint32_t(bits);
  i.photometric = 0;
  i.bytes_per_line = image_info_line_bytes(&i);
  return i;
}

// Smooth ramps with a little noise, the same for every run.
std::vector<uint8_t> make_lines(int samples) {
  std::vector<uint8_t> v(size_t(kWidth) * samples * kLines);
  uint32_t r = 12345;
  for (int y = 0; y < kLines; ++y)
    for (int x = 0; x < kWidth; ++x)
      for (int s = 0; s < samples; ++s) {
        r = r * 1664525u + 1013904223u;
        const int tone = (s % 2 ? kWidth - x : x) * 255 / kWidth + int(r >> 29) - 4;
        v[(size_t(y) * kWidth + x) * samples + s] = uint8_t(tone < 0 ? 0 : tone > 255 ? 255 : tone);
      }
  return v;
}

HTPLACE* alloc(uint32_t method) {
  return HTPlaceAlloc(4, 720, 720, 0, 0, 0, method, nullptr, nullptr, nullptr, nullptr, 0);
}

void BM_Filter(benchmark::State& state) {
  const uint32_t method = uint32_t(state.range(0));
  const int samples = int(state.range(1));
  image_info in = describe(samples, 8, 1 << 30), out = describe(samples, 1, 1 << 30);
  HTPLACE* place = alloc(method);
  HTPlaceSetDetachDelete(place, 1);
  IMG_file* ht = HTPlace_AttachImg(place, null_open_img(nullptr, nullptr, "w", &out), &in, 0, 0);
  if (!ht) {
    state.SkipWithError("attach failed");
    return;
  }
  std::vector<uint8_t> lines = make_lines(samples);
  for (auto _ : state)
    if (img_write_line(ht, lines.data(), kLines) != kLines) state.SkipWithError("write failed");
  img_close(ht);
  state.SetItemsProcessed(int64_t(state.iterations()) * kWidth * kLines);  // pixels
}

// The engines alone: one per separation, each screening its samples of the
// same pixel-interleaved lines into its own buffer.
void BM_Engines(benchmark::State& state) {
  const uint32_t method = uint32_t(state.range(0));
  const int samples = int(state.range(1));
  image_info in = describe(samples, 8, 1 << 30), out = describe(samples, 1, 1 << 30);
  out.planar = KLV_PLANAR_PLANES;
  HTPLACE* place = alloc(method);
  auto* p = reinterpret_cast<CHTPlacement*>(place);
  std::vector<std::unique_ptr<CHTRip>> rips;
  if (p->PreInitProcess(&in, &out))
    for (int s = 0; s < samples; ++s)
      rips.emplace_back(p->CreateRip(s, s, false, 0, nullptr, nullptr, 0, kLines));
  for (auto& r : rips)
    if (!r) rips.clear();
  if (rips.empty()) {
    HTPlaceFree(place);
    state.SkipWithError("no engines");
    return;
  }
  std::vector<uint8_t> lines = make_lines(samples);
  for (auto _ : state)
    for (int s = 0; s < samples; ++s) {
      rips[size_t(s)]->ResetOutBuf();
      rips[size_t(s)]->StartProcessLine(lines.data() + s, kLines);
      benchmark::DoNotOptimize(rips[size_t(s)]->GetOutBuf()[0]);
    }
  rips.clear();
  HTPlaceFree(place);
  state.SetItemsProcessed(int64_t(state.iterations()) * kWidth * kLines);  // pixels
}

// Arguments: method (4 built-in screens, 0 diffusion), samples (1 gray, 4 CMYK).
void Cases(benchmark::internal::Benchmark* b) {
  b->ArgNames({"method", "samples"});
  for (int method : {4, 0})
    for (int samples : {1, 4}) b->Args({method, samples});
}
BENCHMARK(BM_Engines)->Apply(Cases);
BENCHMARK(BM_Filter)->Apply(Cases);

}  // namespace

BENCHMARK_MAIN();
