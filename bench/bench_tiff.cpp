// SPDX-License-Identifier: MIT
// 8-bit CMYK TIFF written and read through the stream (none, LZW, Deflate),
// side by side with libtiff's tiffcp copying the same file in the same run.
// KLV_BENCH_SCALE (default 0.25) scales the 8000x6000 image's sides; 1 is the
// full 192 MB image. Both sides compress alike: tiffcp keeps the source's
// rows per strip (the stream's own, one row at full size), "lzw:2" and "zip:2"
// add the same horizontal differencing, and both use zlib's default level.
// BM_Tiffcp's CPU column counts only the parent; compare its real time, or
// the user+system times of separate runs.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "klv/tiff.h"

namespace {

double scale() {
  const char* s = std::getenv("KLV_BENCH_SCALE");
  double v = s ? std::atof(s) : 0.25;
  return v > 0 ? v : 0.25;
}
int32_t width() {
  return static_cast<int32_t>(8000 * scale());
}
int32_t height() {
  return static_cast<int32_t>(6000 * scale());
}
std::string path(const std::string& name) {
  return "/tmp/klv_bench_tiff_" + std::to_string(getpid()) + "_" + name;
}
const char* kNames[] = {"none", "lzw", "deflate"};
const uint32_t kCompression[] = {0, 1, TIF_COMPRESS_DEFLATE};
const char* kTiffcp[] = {"none", "lzw:2", "zip:2"};

image_info cmyk(uint32_t compression) {
  image_info w;
  init_image_info(&w);
  w.width = width();
  w.height = height();
  w.bits_per_sample = 8;
  w.samples = 4;
  w.photometric = KLV_PHOTO_MINWHITE;
  w.compression = compression;
  w.xres = w.yres = 300;
  w.bytes_per_line = image_info_line_bytes(&w);
  return w;
}

// Smooth gradients with a little noise, like a scanned or rendered page.
void fill_line(std::vector<uint8_t>& line, int32_t y) {
  uint32_t noise = 12345u + uint32_t(y);
  for (size_t x = 0; x < line.size() / 4; ++x) {
    noise = noise * 1103515245u + 12345u;
    const uint8_t n = uint8_t((noise >> 16) & 3);
    line[x * 4 + 0] = uint8_t(x / 32 + n);
    line[x * 4 + 1] = uint8_t(y / 24 + n);
    line[x * 4 + 2] = uint8_t((x + size_t(y)) / 64);
    line[x * 4 + 3] = uint8_t(x < 100 ? 0 : 40 + n);
  }
}

void write_file(const std::string& p, uint32_t compression) {
  image_info w = cmyk(compression);
  void* rec = tif_open(nullptr, p.c_str(), "w", &w);
  std::vector<uint8_t> line(w.bytes_per_line);
  for (int32_t y = 0; y < w.height; ++y) {
    fill_line(line, y);
    tif_write_line(rec, line.data(), 1);
  }
  tif_close(rec);
}

void BM_TiffWrite(benchmark::State& state) {
  const int c = int(state.range(0));
  state.SetLabel(kNames[c]);
  const std::string p = path(std::string("w_") + kNames[c] + ".tif");
  image_info w = cmyk(kCompression[c]);
  std::vector<uint8_t> line(w.bytes_per_line);
  fill_line(line, 7);
  for (auto _ : state) {
    void* rec = tif_open(nullptr, p.c_str(), "w", &w);
    for (int32_t y = 0; y < w.height; ++y) tif_write_line(rec, line.data(), 1);
    tif_close(rec);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * w.bytes_per_line * w.height);
  std::remove(p.c_str());
}

void BM_TiffRead(benchmark::State& state) {
  const int c = int(state.range(0));
  state.SetLabel(kNames[c]);
  const std::string p = path(std::string("r_") + kNames[c] + ".tif");
  write_file(p, kCompression[c]);
  image_info info;
  for (auto _ : state) {
    void* rec = tif_open(nullptr, p.c_str(), "r", &info);
    std::vector<uint8_t> line(info.bytes_per_line);
    for (int32_t y = 0; y < info.height; ++y) tif_read_line(rec, line.data(), 1);
    tif_close(rec);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * info.bytes_per_line * info.height);
  std::remove(p.c_str());
}

// Reading one file and writing another through two streams.
void BM_TiffStreamCopy(benchmark::State& state) {
  const int c = int(state.range(0));
  state.SetLabel(kNames[c]);
  const std::string src = path(std::string("cs_") + kNames[c] + ".tif");
  const std::string dst = path(std::string("cd_") + kNames[c] + ".tif");
  write_file(src, kCompression[c]);
  for (auto _ : state) {
    image_info info;
    void* in = tif_open(nullptr, src.c_str(), "r", &info);
    void* out = tif_open(nullptr, dst.c_str(), "w", &info);
    std::vector<uint8_t> line(info.bytes_per_line);
    for (int32_t y = 0; y < info.height; ++y) {
      tif_read_line(in, line.data(), 1);
      tif_write_line(out, line.data(), 1);
    }
    tif_close(out);
    tif_close(in);
  }
  std::remove(src.c_str());
  std::remove(dst.c_str());
}

// libtiff's tiffcp on the same file with the same compression.
void BM_Tiffcp(benchmark::State& state) {
  const int c = int(state.range(0));
  state.SetLabel(kNames[c]);
  const std::string src = path(std::string("ts_") + kNames[c] + ".tif");
  const std::string dst = path(std::string("td_") + kNames[c] + ".tif");
  write_file(src, kCompression[c]);
  const std::string cmd = std::string("tiffcp -c ") + kTiffcp[c] + " " + src + " " + dst;
  for (auto _ : state) {
    if (std::system(cmd.c_str()) != 0) {
      state.SkipWithError("tiffcp is not installed (package libtiff-tools)");
      break;
    }
  }
  std::remove(src.c_str());
  std::remove(dst.c_str());
}

BENCHMARK(BM_TiffWrite)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TiffRead)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TiffStreamCopy)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Tiffcp)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
