// SPDX-License-Identifier: MIT
// The lookup grid's line workers: 8- and 16-bit lines of a photograph-like
// image through grids of the shapes colour conversions fold into (gray to
// gray, RGB to CMYK, CMYK to CMYK). The grids are sampled from a smooth
// made-up function; the workers' speed does not depend on the values.
//
//   bench_clut                         the Google Benchmark of the workers
//   bench_clut --delta-e A B PROFILE   dE00 between two 8-bit CMYK TIFFs of
//                                      the same size, both read through the
//                                      CMYK PROFILE (every 3rd pixel of every
//                                      3rd line): largest, mean, 99.9th
//                                      percentile (bench/convert_vs_peers.sh)
#include <benchmark/benchmark.h>
#include <lcms2.h>
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "color/clut_grid.h"

namespace {

using klv::color::ClutGrid;

constexpr uint32_t kWidth = 8000;

// A smooth non-linear function of any shape: each output mixes the inputs
// and bends them.
ClutGrid::Sampler smooth(uint32_t inputs, uint32_t outputs) {
  return [inputs, outputs](const uint16_t* in, uint16_t* out, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i, in += inputs, out += outputs)
      for (uint32_t c = 0; c < outputs; ++c) {
        double v = 0;
        for (uint32_t k = 0; k < inputs; ++k) v += in[k] / 65535.0 * (k == c % inputs ? 0.7 : 0.1);
        out[c] = uint16_t(std::clamp(std::pow(std::min(v, 1.0), 1.3), 0.0, 1.0) * 65535 + 0.5);
      }
    return true;
  };
}

// A line of gradients with noise, `channels` samples a pixel.
std::vector<uint8_t> photo_line(uint32_t channels) {
  std::vector<uint8_t> line(size_t(kWidth) * channels);
  uint32_t state = 99;
  for (uint32_t x = 0; x < kWidth; ++x)
    for (uint32_t c = 0; c < channels; ++c) {
      state = state * 1664525u + 1013904223u;
      line[size_t(x) * channels + c] =
          uint8_t(std::clamp(int((x * (c + 1) / 31) & 255) + int(state >> 28) - 8, 0, 255));
    }
  return line;
}

void BM_Line8(benchmark::State& state) {
  const uint32_t inputs = uint32_t(state.range(0)), outputs = uint32_t(state.range(1));
  auto grid = ClutGrid::Fold(inputs, outputs, ClutGrid::DefaultPoints(inputs),
                             smooth(inputs, outputs), nullptr);
  const std::vector<uint8_t> in = photo_line(inputs);
  std::vector<uint8_t> out(size_t(kWidth) * outputs);
  for (auto _ : state) {
    grid->Line8(in.data(), out.data(), kWidth);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kWidth);
  state.SetLabel(grid->Worker());
}

void BM_Line16(benchmark::State& state) {
  const uint32_t inputs = uint32_t(state.range(0)), outputs = uint32_t(state.range(1));
  auto grid = ClutGrid::Fold(inputs, outputs, ClutGrid::DefaultPoints(inputs),
                             smooth(inputs, outputs), nullptr);
  const std::vector<uint8_t> in8 = photo_line(inputs);
  std::vector<uint16_t> in(in8.size()), out(size_t(kWidth) * outputs);
  for (size_t i = 0; i < in8.size(); ++i) in[i] = uint16_t(in8[i] * 257 + (i & 255));
  for (auto _ : state) {
    grid->Line16(in.data(), out.data(), kWidth);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kWidth);
  state.SetLabel(grid->Worker());
}

// Folding itself: what opening a conversion costs beyond the engine.
void BM_Fold(benchmark::State& state) {
  const uint32_t inputs = uint32_t(state.range(0)), outputs = uint32_t(state.range(1));
  const ClutGrid::Sampler sample = smooth(inputs, outputs);
  for (auto _ : state)
    benchmark::DoNotOptimize(
        ClutGrid::Fold(inputs, outputs, ClutGrid::DefaultPoints(inputs), sample, nullptr));
}

BENCHMARK(BM_Line8)->Args({1, 1})->Args({3, 4})->Args({3, 3})->Args({4, 4});
BENCHMARK(BM_Line16)->Args({1, 1})->Args({3, 4})->Args({4, 4});
BENCHMARK(BM_Fold)->Args({3, 4})->Args({4, 4});

struct TiffCloser {
  void operator()(TIFF* t) const { TIFFClose(t); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

bool is_cmyk8(TIFF* t, uint32_t* width, uint32_t* height) {
  uint16_t spp = 0, bits = 0, photo = 0, planar = PLANARCONFIG_CONTIG;
  TIFFGetField(t, TIFFTAG_IMAGEWIDTH, width);
  TIFFGetField(t, TIFFTAG_IMAGELENGTH, height);
  TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
  TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photo);
  TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &planar);
  return spp == 4 && bits == 8 && photo == PHOTOMETRIC_SEPARATED && planar == PLANARCONFIG_CONTIG;
}

int delta_e(const char* a_path, const char* b_path, const char* profile) {
  TiffPtr a(TIFFOpen(a_path, "r")), b(TIFFOpen(b_path, "r"));
  uint32_t wa = 0, ha = 0, wb = 0, hb = 0;
  if (!a || !b || !is_cmyk8(a.get(), &wa, &ha) || !is_cmyk8(b.get(), &wb, &hb) || wa != wb ||
      ha != hb) {
    std::fprintf(stderr, "bench_clut: %s and %s are not 8-bit CMYK TIFFs of one size\n", a_path,
                 b_path);
    return 1;
  }
  cmsHPROFILE cmyk = cmsOpenProfileFromFile(profile, "r");
  cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
  if (!cmyk) return std::fprintf(stderr, "bench_clut: cannot open %s\n", profile), 1;
  cmsHTRANSFORM t = cmsCreateTransform(cmyk, TYPE_CMYK_8, lab, TYPE_Lab_DBL,
                                       INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOOPTIMIZE);
  std::vector<uint8_t> la(TIFFScanlineSize(a.get())), lb(TIFFScanlineSize(b.get()));
  std::vector<double> d;
  for (uint32_t y = 0; y < ha; ++y) {
    if (TIFFReadScanline(a.get(), la.data(), y, 0) < 0 ||
        TIFFReadScanline(b.get(), lb.data(), y, 0) < 0)
      return std::fprintf(stderr, "bench_clut: read error at line %u\n", y), 1;
    if (y % 3) continue;
    for (uint32_t x = 0; x < wa; x += 3) {
      if (!std::memcmp(&la[x * 4], &lb[x * 4], 4)) {
        d.push_back(0);
        continue;
      }
      cmsCIELab ca, cb;
      cmsDoTransform(t, &la[x * 4], &ca, 1);
      cmsDoTransform(t, &lb[x * 4], &cb, 1);
      d.push_back(cmsCIE2000DeltaE(&ca, &cb, 1, 1, 1));
    }
  }
  cmsDeleteTransform(t);
  cmsCloseProfile(cmyk);
  cmsCloseProfile(lab);
  double sum = 0;
  for (double v : d) sum += v;
  std::sort(d.begin(), d.end());
  std::printf("dE00 max %.3f mean %.4f p99.9 %.3f over %zu pixels\n", d.back(), sum / d.size(),
              d[size_t(d.size() * 0.999)], d.size());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && !std::strcmp(argv[1], "--delta-e")) return delta_e(argv[2], argv[3], argv[4]);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
