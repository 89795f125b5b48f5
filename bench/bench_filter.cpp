// SPDX-License-Identifier: MIT
// Line filter hot loops on 8000-pixel lines: plain copy (against memcpy of the
// same bytes), RGB to gray, inverted CMYK to RGB, 2x replication, 1/2
// reduction with averaging, palette quantisation, CIELab to RGB.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "klv/cimg_file.h"
#include "klv/filter.h"

namespace {

constexpr int kWidth = 8000;

// An endless source of one repeated line.
class Endless : public CIMG_file {
 public:
  Endless(int samples, int photo) {
    m_info.width = kWidth;
    m_info.height = 1 << 20;
    m_info.samples = samples;
    m_info.bits_per_sample = 8;
    m_info.photometric = photo;
    m_info.pages = 1;
    m_info.bytes_per_line = image_info_line_bytes(&m_info);
    m_line_data.resize(m_info.bytes_per_line);
    for (size_t i = 0; i < m_line_data.size(); ++i) m_line_data[i] = uint8_t(i * 13);
  }
  int32_t ReadLine(unsigned char* b, int32_t count) override {
    for (int32_t k = 0; k < count; ++k)
      std::memcpy(b + size_t(k) * m_line_data.size(), m_line_data.data(), m_line_data.size());
    return count;
  }
  int32_t SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence) override {
    return SetSeekLine(line, plane, page, whence);
  }
  std::vector<uint8_t> m_line_data;
};

void run(benchmark::State& state, int in_samples, int in_photo, image_info t, filter_info opt) {
  IMG_file* src = (new Endless(in_samples, in_photo))->ToImg('r', 13);
  filter_rec* f = filter_attach(src, &t, &opt);
  if (!f) {
    state.SkipWithError("attach failed");
    return;
  }
  std::vector<uint8_t> out(t.bytes_per_line);
  int32_t lines = 0;
  for (auto _ : state) {
    if (lines + 1 >= t.height) {
      filter_seek_line(f, 0, 0, 0, 0);
      lines = 0;
    }
    benchmark::DoNotOptimize(filter_read_line(f, out.data(), 1));
    ++lines;
  }
  state.SetItemsProcessed(state.iterations() * int64_t(t.width));
  state.SetBytesProcessed(state.iterations() * int64_t(t.bytes_per_line));
  filter_close(f);
}

image_info target(int w, int h, int samples, int photo) {
  image_info t;
  init_image_info(&t);
  t.width = w;
  t.height = h;
  t.samples = samples;
  t.bits_per_sample = 8;
  t.photometric = photo;
  return t;
}

void BM_Memcpy(benchmark::State& state) {
  std::vector<uint8_t> a(kWidth * 3, 1), b(kWidth * 3);
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), a.size());
    benchmark::DoNotOptimize(b.data());
  }
  state.SetItemsProcessed(state.iterations() * kWidth);
  state.SetBytesProcessed(state.iterations() * int64_t(a.size()));
}
void BM_Copy(benchmark::State& s) {
  run(s, 3, 1, target(0, 0, 3, 1), {});
}
void BM_RgbToGray(benchmark::State& s) {
  run(s, 3, 1, target(0, 0, 1, 1), {});
}
void BM_CmykToRgb(benchmark::State& s) {
  run(s, 4, 1, target(0, 0, 3, 1), {});
}
void BM_Double(benchmark::State& s) {
  filter_info o{};
  o.stretch = 1;
  run(s, 3, 1, target(2 * kWidth, 1 << 21, 3, 1), o);
}
void BM_HalfAveraged(benchmark::State& s) {
  filter_info o{};
  o.stretch = 1;
  o.average = 1;
  run(s, 3, 1, target(kWidth / 2, 1 << 19, 3, 1), o);
}
void BM_LabToRgb(benchmark::State& s) {
  run(s, 3, KLV_PHOTO_CIELAB, target(0, 0, 3, 1), {});
}
void BM_Quantise(benchmark::State& s) {
  image_info t = target(0, 0, 1, KLV_PHOTO_PALETTE);
  t.cmap = filter_create_cmap(236);
  run(s, 3, 1, t, {});
  free_cmap(t.cmap);
}

}  // namespace

BENCHMARK(BM_Memcpy);
BENCHMARK(BM_Copy);
BENCHMARK(BM_RgbToGray);
BENCHMARK(BM_CmykToRgb);
BENCHMARK(BM_Double);
BENCHMARK(BM_HalfAveraged);
BENCHMARK(BM_Quantise);
BENCHMARK(BM_LabToRgb);
BENCHMARK_MAIN();
