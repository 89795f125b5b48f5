// SPDX-License-Identifier: MIT
// Channel layout conversions of CMYK lines: the row movers (8-bit and 1-bit,
// each way, with the plain sample-by-sample loop beside them), memcpy of the
// same bytes as the yardstick, and whole images through the line-interleave
// and separation filters. Bytes are the pixel-interleaved line's; items are
// image pixels, so a rate of N items/s delivers every separation at N px/s.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "img/filters/bitfield.h"
#include "klv/layoutfilter.h"
#include "support/image.h"

namespace {

constexpr uint32_t kWidth = 8000;  // a 27-inch line at 300 dpi
constexpr uint32_t kPlanes = 4;

size_t pxv_bytes(uint32_t bits) {
  return (size_t(kPlanes) * bits * kWidth + 7) / 8;
}
uint32_t row_bytes(uint32_t bits) {
  return (kWidth * bits + 7) / 8;
}

void BM_MemcpyCmyk8Line(benchmark::State& state) {
  const std::vector<uint8_t> src = klv::test::pattern_bytes(pxv_bytes(8));
  std::vector<uint8_t> dst(src.size());
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), src.size());
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(src.size()));
  state.SetItemsProcessed(int64_t(state.iterations()) * kWidth);
}

template <bool kSplit, bool kPlain>
void relay(benchmark::State& state, uint32_t bits) {
  const std::vector<uint8_t> pxv = klv::test::pattern_bytes(pxv_bytes(bits));
  std::vector<uint8_t> lnv(size_t(row_bytes(bits)) * kPlanes);
  std::vector<uint8_t> back(pxv.size());
  const klv::img::RelayFn fn =
      kPlain ? (kSplit ? klv::img::pxv_to_lnv_plain : klv::img::lnv_to_pxv_plain)
             : (kSplit ? klv::img::pick_pxv_to_lnv(kPlanes, bits)
                       : klv::img::pick_lnv_to_pxv(kPlanes, bits));
  klv::img::pxv_to_lnv_plain(lnv.data(), pxv.data(), kPlanes, row_bytes(bits), kWidth, bits);
  const bool clear = kPlain || !klv::img::relay_fills(kPlanes, bits);
  for (auto _ : state) {
    // Packed movers OR into a cleared line, so the clearing is part of their
    // work; whole-byte movers write every byte and need none.
    if (kSplit) {
      if (clear) std::memset(lnv.data(), 0, lnv.size());
      fn(lnv.data(), pxv.data(), kPlanes, row_bytes(bits), kWidth, bits);
      benchmark::DoNotOptimize(lnv.data());
    } else {
      if (clear) std::memset(back.data(), 0, back.size());
      fn(back.data(), lnv.data(), kPlanes, row_bytes(bits), kWidth, bits);
      benchmark::DoNotOptimize(back.data());
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(pxv.size()));
  state.SetItemsProcessed(int64_t(state.iterations()) * kWidth);
}

void BM_PxvToLnvCmyk8(benchmark::State& s) {
  relay<true, false>(s, 8);
}
void BM_LnvToPxvCmyk8(benchmark::State& s) {
  relay<false, false>(s, 8);
}
void BM_PxvToLnvCmyk8Plain(benchmark::State& s) {
  relay<true, true>(s, 8);
}
void BM_PxvToLnvCmyk1(benchmark::State& s) {
  relay<true, false>(s, 1);
}
void BM_LnvToPxvCmyk1(benchmark::State& s) {
  relay<false, false>(s, 1);
}
void BM_PxvToLnvCmyk1Plain(benchmark::State& s) {
  relay<true, true>(s, 1);
}
void BM_PxvToLnvCmyk4(benchmark::State& s) {
  relay<true, false>(s, 4);
}
void BM_PxvToLnvCmyk16(benchmark::State& s) {
  relay<true, false>(s, 16);
}

// A whole 8000x500 CMYK image held in memory through a filter.
template <typename Attach, typename ToImg>
void whole(benchmark::State& state, uint32_t bits, Attach attach, ToImg to_img, bool planes) {
  const image_info in = klv::test::make_info(kWidth, 500, bits, kPlanes, KLV_PLANAR_PIXEL);
  for (auto _ : state) {
    state.PauseTiming();
    IMG_file* src = (new klv::test::MemImage(in))->ToImg('r', 1);
    state.ResumeTiming();
    IMG_file* img = to_img(attach(src));
    std::vector<uint8_t> line(img->info.bytes_per_line);
    const int32_t lines = in.height * (planes ? int32_t(kPlanes) : 1);
    for (int32_t y = 0; y < lines; ++y) img_read_line(img, line.data(), 1);
    benchmark::DoNotOptimize(line.data());
    img_close(img);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.bytes_per_line) * in.height);
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kWidth) * in.height);
}

void BM_LnvFilterCmyk8(benchmark::State& s) {
  whole(s, 8, lnvfltr_attach, lnvfltr_to_img, false);
}
void BM_SepFilterCmyk8(benchmark::State& s) {
  whole(s, 8, sepfltr_attach, sepfltr_to_img, true);
}
void BM_SepFilterCmyk1(benchmark::State& s) {
  whole(s, 1, sepfltr_attach, sepfltr_to_img, true);
}

BENCHMARK(BM_MemcpyCmyk8Line);
BENCHMARK(BM_PxvToLnvCmyk8);
BENCHMARK(BM_LnvToPxvCmyk8);
BENCHMARK(BM_PxvToLnvCmyk8Plain);
BENCHMARK(BM_PxvToLnvCmyk1);
BENCHMARK(BM_LnvToPxvCmyk1);
BENCHMARK(BM_PxvToLnvCmyk1Plain);
BENCHMARK(BM_PxvToLnvCmyk4);
BENCHMARK(BM_PxvToLnvCmyk16);
BENCHMARK(BM_LnvFilterCmyk8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SepFilterCmyk8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SepFilterCmyk1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
