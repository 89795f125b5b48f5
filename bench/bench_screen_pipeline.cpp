// SPDX-License-Identifier: MIT
// The whole screening pipeline on 8000-pixel lines: gray and CMYK lines
// through the halftone filter with the built-in screens into a null image, one
// and two engine threads. With --make-gray / --make-cmyk FILE W H [RAW] it
// writes the reproducible photograph-like inputs of bench/screen_vs_peers.sh
// instead: an uncompressed 600 dpi TIFF and the same samples headerless.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "klv/htplace.h"
#include "klv/imgmux.h"
#include "klv/streams.h"

namespace {

constexpr int kWidth = 8000;

// A deterministic 32-bit generator (xorshift), so that the inputs are the
// same on every machine.
struct Rng {
  uint32_t s;
  uint32_t next() {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
  }
};

// Smooth noise: random values on a coarse grid, bilinearly interpolated.
class SmoothNoise {
 public:
  SmoothNoise(int w, int h, int cell, uint32_t seed) : cell_(cell), gw_(w / cell + 2) {
    Rng r{seed};
    grid_.resize(size_t(gw_) * size_t(h / cell + 2));
    for (auto& v : grid_) v = int(r.next() % 256) - 128;
  }
  int at(int x, int y) const {
    const int gx = x / cell_, gy = y / cell_, fx = x % cell_, fy = y % cell_;
    const int* g = grid_.data() + size_t(gy) * gw_ + gx;
    const int top = g[0] * (cell_ - fx) + g[1] * fx;
    const int bot = g[gw_] * (cell_ - fx) + g[gw_ + 1] * fx;
    return (top * (cell_ - fy) + bot * fy) / (cell_ * cell_);
  }

 private:
  int cell_, gw_;
  std::vector<int> grid_;
};

// Ramps across and down plus two octaves of smooth noise, per sample; the
// same samples also go to `raw_path` (no header) when it is given.
int make(const char* path, int samples, int32_t w, int32_t h, const char* raw_path) {
  image_info info;
  init_image_info(&info);
  info.width = w;
  info.height = h;
  info.bits_per_sample = 8;
  info.samples = uint32_t(samples);
  info.photometric = samples == 1 ? KLV_PHOTO_MINBLACK : KLV_PHOTO_MINWHITE;
  info.xres = info.yres = 600;
  info.bytes_per_line = image_info_line_bytes(&info);
  IMG_file* out = img_mux_open(path, nullptr, "w", &info, KLV_TYPE_TIFF);
  if (!out) return std::fprintf(stderr, "cannot create %s\n", path), 1;
  std::vector<SmoothNoise> coarse, fine;
  for (int s = 0; s < samples; ++s) {
    coarse.emplace_back(w, h, 400, 1234567u + 77u * uint32_t(s));
    fine.emplace_back(w, h, 37, 7654321u + 91u * uint32_t(s));
  }
  FILE* raw = raw_path ? std::fopen(raw_path, "wb") : nullptr;
  if (raw_path && !raw)
    return img_close(out), std::fprintf(stderr, "cannot create %s\n", raw_path), 1;
  std::vector<uint8_t> line(info.bytes_per_line);
  bool ok = true;
  for (int32_t y = 0; y < h && ok; ++y) {
    for (int32_t x = 0; x < w; ++x)
      for (int s = 0; s < samples; ++s) {
        const int ramp = (s % 2 ? y * 255 / h : x * 255 / w) * 3 / 5 + 50;
        int v = ramp + coarse[size_t(s)].at(x, y) / 2 + fine[size_t(s)].at(x, y) / 6;
        line[size_t(x) * unsigned(samples) + unsigned(s)] = uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
      }
    ok = img_write_line(out, line.data(), 1) == 1 &&
         (!raw || std::fwrite(line.data(), line.size(), 1, raw) == 1);
  }
  if (raw && std::fclose(raw) != 0) ok = false;
  return img_close(out) == 0 && ok ? 0 : 1;
}

void screen_lines(benchmark::State& state, int samples, int threads) {
  image_info in;
  init_image_info(&in);
  in.width = kWidth;
  in.height = 1 << 30;
  in.samples = uint32_t(samples);
  in.bits_per_sample = 8;
  in.photometric = KLV_PHOTO_MINBLACK;
  in.xres = in.yres = 600;
  in.bytes_per_line = image_info_line_bytes(&in);
  image_info out = in;
  out.bits_per_sample = 1;
  out.photometric = KLV_PHOTO_MINWHITE;
  out.bytes_per_line = image_info_line_bytes(&out);
  HTPLACE* place = HTPlaceAlloc(4, 600, 600, 0, 0, 0, KLV_HTMETHOD_SCREEN_BUILTIN, nullptr, nullptr,
                                nullptr, nullptr, 0);
  HTPlaceSetDetachDelete(place, 1);
  if (threads > 1)
    for (int s = 0; s < samples; ++s) HTPlaceGetThreadFlagArray(place)[s] = 1;
  // As klvrip screen does: the filter buffers exactly the lines of one write.
  constexpr int kLines = 64;
  IMG_file* ht =
      HTPlace_AttachImg(place, null_open_img(nullptr, nullptr, "w", &out), &in, kLines, 0);
  if (!ht) {
    state.SkipWithError("attach failed");
    return;
  }
  std::vector<uint8_t> lines(size_t(in.bytes_per_line) * kLines);
  for (size_t i = 0; i < lines.size(); ++i) lines[i] = uint8_t((i * 7) ^ (i >> 9));
  for (auto _ : state)
    if (img_write_line(ht, lines.data(), kLines) != kLines) state.SkipWithError("write failed");
  img_close(ht);
  state.SetItemsProcessed(state.iterations() * int64_t(kWidth) * kLines);
  state.SetBytesProcessed(state.iterations() * int64_t(in.bytes_per_line) * kLines);
}

void BM_ScreenGray(benchmark::State& state) {
  screen_lines(state, 1, 1);
}
void BM_ScreenCmyk(benchmark::State& state) {
  screen_lines(state, 4, 1);
}
void BM_ScreenCmykThreads(benchmark::State& state) {
  screen_lines(state, 4, 2);
}
BENCHMARK(BM_ScreenGray);
BENCHMARK(BM_ScreenCmyk);
BENCHMARK(BM_ScreenCmykThreads)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 5 && (!std::strcmp(argv[1], "--make-gray") || !std::strcmp(argv[1], "--make-cmyk")))
    return make(argv[2], argv[1][7] == 'g' ? 1 : 4, std::atoi(argv[3]), std::atoi(argv[4]),
                argc >= 6 ? argv[5] : nullptr);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
