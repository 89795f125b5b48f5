// SPDX-License-Identifier: MIT
// Step-and-repeat page lines: a 27-inch RGB line at 300 dpi made from a
// 2-inch pattern, plain, half-drop with gaps, and with mirrored columns (the
// reversed copy), each against memcpy of the same bytes. Items are page
// pixels.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "klv/repeat_cxx.h"
#include "support/image.h"

namespace {

constexpr int32_t kPage = 8100;    // 27 inches at 300 dpi
constexpr int32_t kPattern = 600;  // 2 inches

void BM_MemcpyLine(benchmark::State& state) {
  const std::vector<uint8_t> src = klv::test::pattern_bytes(size_t(kPage) * 3);
  std::vector<uint8_t> dst(src.size());
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), src.size());
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kPage);
}

// range(0): 0 plain, 1 half-drop with gaps, 2 mirrored columns and rows.
void BM_RepeatLine(benchmark::State& state) {
  const image_info info = klv::test::describe(kPattern, kPattern, 3, 8, KLV_PHOTO_MINBLACK);
  IMG_file* pattern = (new klv::test::MemImage(info))->ToImg('r', 9);
  RepeatFilterInfo s;
  InitRepeatFilterInfo(&s);
  s.PatternWidth = s.PatternHeight = kPattern / 100.0;
  s.PageWidth = kPage / 100.0;
  s.PageHeight = 100;
  s.GapType = KLV_REPEAT_GAP_WHITE;
  if (state.range(0) == 1) {
    s.StepVertical = 1;
    s.StepAmount = 0.5;
    s.GapHorizontal = s.GapVertical = 0.25;
  } else if (state.range(0) == 2) {
    s.FlipHorizontal = s.FlipVertical = 1;
  }
  CRepeatFilter f;
  if (!f.AttachImg(pattern, &s)) {
    state.SkipWithError("attach failed");
    return;
  }
  std::vector<uint8_t> line(f.Info()->bytes_per_line);
  int32_t y = 0;
  for (auto _ : state) {
    if (f.ReadLine(line.data(), 1) != 1) state.SkipWithError("read failed");
    if (++y == f.Info()->height) y = f.SeekLine(0, 0, 0, 0);
    benchmark::DoNotOptimize(line.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kPage);
}

BENCHMARK(BM_MemcpyLine);
BENCHMARK(BM_RepeatLine)->Arg(0)->Arg(1)->Arg(2);

}  // namespace

BENCHMARK_MAIN();
