// SPDX-License-Identifier: MIT
// BMP 24-bit reading and writing through the stream against copying the same
// bytes through the kernel's file streams. KLV_BENCH_SCALE (default 1) scales
// the 4000x3000 image's sides.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "klv/bmp.h"
#include "klv/kernel_stream.h"

namespace {

double scale() {
  const char* s = std::getenv("KLV_BENCH_SCALE");
  double v = s ? std::atof(s) : 1.0;
  return v > 0 ? v : 1.0;
}
int32_t width() {
  return static_cast<int32_t>(4000 * scale());
}
int32_t height() {
  return static_cast<int32_t>(3000 * scale());
}
std::string path(const char* name) {
  return "/tmp/klv_bench_bmp_" + std::to_string(getpid()) + "_" + name;
}

image_info rgb_info() {
  image_info w;
  init_image_info(&w);
  w.width = width();
  w.height = height();
  w.bits_per_sample = 8;
  w.samples = 3;
  w.photometric = KLV_PHOTO_MINBLACK;
  w.xres = w.yres = 300;
  return w;
}

void write_file(const std::string& p) {
  image_info w = rgb_info();
  void* st = bmp_open(p.c_str(), nullptr, "wb", &w);
  std::vector<uint8_t> line(w.bytes_per_line);
  for (size_t i = 0; i < line.size(); ++i) line[i] = uint8_t(i * 7);
  for (int32_t y = 0; y < w.height; ++y) bmp_write_line(st, line.data(), 1);
  bmp_close(st);
}

void BM_BmpWrite24(benchmark::State& state) {
  const std::string p = path("w.bmp");
  for (auto _ : state) write_file(p);
  state.SetBytesProcessed(int64_t(state.iterations()) * width() * height() * 3);
  std::remove(p.c_str());
}

void BM_BmpRead24(benchmark::State& state) {
  const std::string p = path("r.bmp");
  write_file(p);
  image_info info;
  for (auto _ : state) {
    void* st = bmp_open(p.c_str(), nullptr, "rb", &info);
    std::vector<uint8_t> line(info.bytes_per_line);
    for (int32_t y = 0; y < info.height; ++y) bmp_read_line(st, line.data(), 1);
    bmp_close(st);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * width() * height() * 3);
  std::remove(p.c_str());
}

// The file's bytes moved row by row through Oread / Owrite, in file order.
void BM_CopyBytesRead(benchmark::State& state) {
  const std::string p = path("c.bmp");
  write_file(p);
  const size_t row = (size_t(width()) * 3 + 3) / 4 * 4;
  std::vector<uint8_t> buf(row);
  for (auto _ : state) {
    SFilemux* f = Ovfopen(nullptr, p.c_str(), "rb");
    while (Oread(f, buf.data(), row) == row) {
    }
    Oclose(f);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * width() * height() * 3);
  std::remove(p.c_str());
}

void BM_CopyBytesWrite(benchmark::State& state) {
  const std::string p = path("cw.bmp");
  const size_t row = (size_t(width()) * 3 + 3) / 4 * 4;
  std::vector<uint8_t> buf(row, 1);
  for (auto _ : state) {
    SFilemux* f = Ovfopen(nullptr, p.c_str(), "wb");
    Owrite(f, buf.data(), 54);
    for (int32_t y = 0; y < height(); ++y) Owrite(f, buf.data(), row);
    Oclose(f);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * width() * height() * 3);
  std::remove(p.c_str());
}

BENCHMARK(BM_BmpRead24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyBytesRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BmpWrite24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyBytesWrite)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
