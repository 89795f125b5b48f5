// SPDX-License-Identifier: MIT
// OCF references: opening one (the description only) against opening it
// and reading its first line (the source opened and the chain built), over
// a 4000 x 2000 RGB TIFF; and the two per-pixel filters the stream stacks,
// the depth dither (16 to 8 bits) and the mirrored bleed, on 27-inch lines
// at 300 dpi against memcpy of the same bytes. Items are pixels.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "img/formats/ocf_stream.h"
#include "klv/imgmux.h"
#include "klv/ocfimg.h"
#include "support/files.h"
#include "support/image.h"

namespace {

constexpr int32_t kLine = 8100;  // 27 inches at 300 dpi

// A TIFF source and an OCF over it, made once for the run.
struct Fixture {
  klv::test::ScratchFolder dir{"bench_ocf"};
  std::string ocf;
  Fixture() {
    const image_info info = klv::test::describe(4000, 2000, 3, 8, KLV_PHOTO_MINBLACK);
    const std::string src = dir.path("src.tif");
    image_info w = info;
    IMG_file* img = img_mux_open(src.c_str(), nullptr, "wb", &w, KLV_TYPE_TIFF);
    const std::vector<uint8_t> line = klv::test::pattern_bytes(info.bytes_per_line);
    for (int32_t y = 0; img && y < info.height; ++y)
      img_write_line(img, const_cast<uint8_t*>(line.data()), 1);
    img_close(img);
    ocfi_info* r = new_ocfi_info();
    r->width = 20;
    r->height = 10;
    r->xres = r->yres = 150;
    r->samples = 3;
    r->bits_per_sample = 8;
    r->photometric = KLV_PHOTO_MINBLACK;
    std::snprintf(r->image_path, sizeof r->image_path, "%s", src.c_str());
    ocf = dir.path("a.ocf");
    save_ocfi_info(nullptr, ocf.c_str(), r);
    free_ocfi_info(r);
  }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

// range(0): 0 open and close; 1 open, read the first line, close.
void BM_OcfOpen(benchmark::State& state) {
  const std::string& path = fixture().ocf;
  std::vector<uint8_t> line(3000 * 3);
  for (auto _ : state) {
    IMG_file* img = img_mux_open(path.c_str(), nullptr, "r", nullptr, KLV_TYPE_OCF);
    if (!img) state.SkipWithError("open failed");
    if (state.range(0) == 1 && img_read_line(img, line.data(), 1) != 1)
      state.SkipWithError("read failed");
    img_close(img);
  }
}

void BM_MemcpyLine(benchmark::State& state) {
  const size_t bytes = size_t(kLine) * 3 * uint32_t(state.range(0)) / 8;
  const std::vector<uint8_t> src = klv::test::pattern_bytes(bytes);
  std::vector<uint8_t> dst(src.size());
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), src.size());
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kLine);
}

// Reads `stream` line after line, starting over at its end.
void read_lines(benchmark::State& state, IMG_file* stream) {
  if (!stream) {
    state.SkipWithError("attach failed");
    return;
  }
  std::vector<uint8_t> line(stream->info.bytes_per_line);
  int32_t y = 0;
  for (auto _ : state) {
    if (img_read_line(stream, line.data(), 1) != 1) state.SkipWithError("read failed");
    if (++y == stream->info.height) y = img_seek_line(stream, 0, 0, 0, 0);
    benchmark::DoNotOptimize(line.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kLine);
  img_close(stream);
}

void BM_DepthDitherLine(benchmark::State& state) {
  const image_info info = klv::test::describe(kLine, 64, 3, 16, KLV_PHOTO_MINBLACK);
  IMG_file* src = (new klv::test::MemImage(info))->ToImg('r', 9);
  read_lines(state, klv::img::ocf_depth_dither_attach(src, 8));
}

void BM_BleedMirrorLine(benchmark::State& state) {
  const image_info info = klv::test::describe(kLine - 150, 64, 3, 8, KLV_PHOTO_MINBLACK);
  IMG_file* src = (new klv::test::MemImage(info))->ToImg('r', 9);
  ocfi_info r{};
  r.xres = r.yres = 300;
  r.bleed_on = 1;
  r.bleed.mode = KLV_OCF_BLEED_MIRROR;
  r.bleed.outer[0] = r.bleed.outer[2] = 0.125;  // 75 pixels each side
  read_lines(state, klv::img::ocf_bleed_attach(src, r));
}

}  // namespace

BENCHMARK(BM_OcfOpen)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MemcpyLine)->Arg(8)->Arg(16);
BENCHMARK(BM_DepthDitherLine);
BENCHMARK(BM_BleedMirrorLine);
BENCHMARK_MAIN();
