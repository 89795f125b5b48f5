// SPDX-License-Identifier: MIT
// JPEG and PNG decoding through the image streams, one line at a time into
// one buffer, as a consumer reads them.
//
//   bench_jpeg_png                      Google Benchmark runs on a 2000x1500
//                                       RGB image written by our writers
//   bench_jpeg_png --make DIR W H       writes DIR/src.jpg (quality 90) and
//                                       DIR/src.png of a W x H RGB picture
//   bench_jpeg_png --decode FILE        decodes FILE once (type recognised)
//                                       and prints the seconds
// bench/decode_vs_peers.sh compares --decode with djpeg and vips.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "klv/imgmux.h"

namespace {

// A photograph-like picture: smooth shading with fine texture, so that both
// codecs do real work.
void picture_line(std::vector<uint8_t>& line, int32_t width, int32_t y) {
  uint32_t noise = 2166136261u ^ uint32_t(y);
  for (int32_t x = 0; x < width; ++x) {
    noise = noise * 1664525u + 1013904223u;
    const int grain = int(noise >> 28) - 8;
    const double s = std::sin(x * 0.004) * std::cos(y * 0.003);
    for (int c = 0; c < 3; ++c) {
      const int v = int(128 + 100 * s * (c + 1) / 3 + ((x + y * c) & 63) + grain);
      line[size_t(x) * 3 + c] = uint8_t(std::clamp(v, 0, 255));
    }
  }
}

bool make(const std::string& path, int32_t type, int32_t width, int32_t height) {
  image_info info;
  init_image_info(&info);
  info.width = width;
  info.height = height;
  info.samples = 3;
  info.bits_per_sample = 8;
  info.photometric = KLV_PHOTO_MINBLACK;
  info.compression = 90;
  info.xres = info.yres = 300;
  IMG_file* img = img_mux_open(path.c_str(), nullptr, "wb", &info, type);
  if (!img) return false;
  std::vector<uint8_t> line(info.bytes_per_line);
  bool ok = true;
  for (int32_t y = 0; y < height && ok; ++y) {
    picture_line(line, width, y);
    ok = img_write_line(img, line.data(), 1) == 1;
  }
  return img_close_status(img) == 0 && ok;
}

// Reads every line; the lines read.
int64_t decode(const std::string& path) {
  image_info info;
  init_image_info(&info);
  IMG_file* img = img_mux_open(path.c_str(), nullptr, "r", &info, KLV_TYPE_RECOGNISE);
  if (!img) return -1;
  std::vector<uint8_t> line(info.bytes_per_line);
  int64_t n = 0;
  for (int32_t y = 0; y < info.height; ++y) n += img_read_line(img, line.data(), 1);
  img_close(img);
  return n;
}

std::string scratch(const char* name) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/klv_bench_jpeg_png_" +
         std::to_string(getpid()) + "_" + name;
}

void BM_Decode(benchmark::State& state, int32_t type, const char* name) {
  const std::string p = scratch(name);
  if (!make(p, type, 2000, 1500)) {
    state.SkipWithError("cannot write the source");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(decode(p));
  state.SetItemsProcessed(int64_t(state.iterations()) * 2000 * 1500);
  std::remove(p.c_str());
}
BENCHMARK_CAPTURE(BM_Decode, jpeg_rgb, KLV_TYPE_JPEG, "src.jpg")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Decode, png_rgb, KLV_TYPE_PNG, "src.png")->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--make") == 0) {
    const std::string dir = argv[2];
    const int32_t w = std::atoi(argv[3]), h = std::atoi(argv[4]);
    const bool ok =
        make(dir + "/src.jpg", KLV_TYPE_JPEG, w, h) && make(dir + "/src.png", KLV_TYPE_PNG, w, h);
    return ok ? 0 : 1;
  }
  if (argc == 3 && std::strcmp(argv[1], "--decode") == 0) {
    const auto start = std::chrono::steady_clock::now();
    const int64_t lines = decode(argv[2]);
    const double s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("klv decode %s: %lld lines, %.3f s\n", argv[2], static_cast<long long>(lines), s);
    return lines > 0 ? 0 : 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
