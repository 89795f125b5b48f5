// SPDX-License-Identifier: MIT
// Quarter turns and mirrors of an 8-bit CMYK image held in memory (the band
// transposition and line reversal alone), and, with --make / --turn, the
// file-based runs that bench/rotate_vs_peers.sh compares with other tools.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "klv/cimg_file.h"
#include "klv/imgmux.h"
#include "klv/rotate.h"

namespace {

// A stream whose every line is the same buffer: reading costs a memcpy.
class Flat : public CIMG_file {
 public:
  Flat(int32_t w, int32_t h, uint32_t bits, uint32_t samples) {
    init_image_info(&m_info);
    m_info.width = w;
    m_info.height = h;
    m_info.bits_per_sample = bits;
    m_info.samples = samples;
    m_info.pages = 1;
    m_info.photometric = KLV_PHOTO_MINBLACK;
    m_info.bytes_per_line = image_info_line_bytes(&m_info);
    line_.resize(m_info.bytes_per_line);
    for (size_t i = 0; i < line_.size(); ++i) line_[i] = static_cast<uint8_t>(i * 7);
  }
  int32_t ReadLine(unsigned char* b, int32_t n) override {
    int32_t done = 0;
    for (; done < n && m_line < m_info.height; ++done, ++m_line)
      std::memcpy(b + size_t(done) * line_.size(), line_.data(), line_.size());
    return done;
  }
  int32_t SeekLine(int32_t line, int32_t, int32_t, int32_t) override {
    if (line < 0 || line >= m_info.height) return -1;
    return m_line = line;
  }

 private:
  std::vector<uint8_t> line_;
};

void turn(benchmark::State& state, uint8_t turns, uint8_t mirror, uint32_t bits) {
  const int32_t w = 4000, h = 3000;
  for (auto _ : state) {
    rotate_request req{};
    req.turns = turns;
    req.mirror = mirror;
    IMG_file* img = rotate_to_file(rotate_attach((new Flat(w, h, bits, 4))->ToImg('r', 99), &req));
    std::vector<uint8_t> line(img->info.bytes_per_line);
    for (int32_t y = 0; y < img->info.height; ++y) img_read_line(img, line.data(), 1);
    benchmark::DoNotOptimize(line.data());
    img_close(img);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * w * h * 4 * bits / 8);
}

void BM_QuarterTurnCmyk8(benchmark::State& s) {
  turn(s, 1, 0, 8);
}
void BM_ThreeTurnsMirrorCmyk8(benchmark::State& s) {
  turn(s, 3, 1, 8);
}
void BM_QuarterTurnCmyk1(benchmark::State& s) {
  turn(s, 1, 0, 1);
}
void BM_MirrorCmyk8(benchmark::State& s) {
  turn(s, 0, 1, 8);
}
void BM_HalfTurnCmyk16(benchmark::State& s) {
  turn(s, 2, 0, 16);
}
BENCHMARK(BM_QuarterTurnCmyk8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ThreeTurnsMirrorCmyk8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QuarterTurnCmyk1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MirrorCmyk8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HalfTurnCmyk16)->Unit(benchmark::kMillisecond);

// --make FILE W H: an uncompressed 8-bit CMYK TIFF with a gradient.
int make(const char* path, int32_t w, int32_t h) {
  image_info info;
  init_image_info(&info);
  info.width = w;
  info.height = h;
  info.bits_per_sample = 8;
  info.samples = 4;
  info.photometric = KLV_PHOTO_MINWHITE;
  info.xres = info.yres = 300;
  IMG_file* out = img_mux_open(path, nullptr, "w", &info, KLV_TYPE_TIFF);
  if (!out) return 1;
  std::vector<uint8_t> line(info.bytes_per_line);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      uint8_t* p = line.data() + size_t(x) * 4;
      p[0] = uint8_t(x), p[1] = uint8_t(y), p[2] = uint8_t(x + y), p[3] = uint8_t(x ^ y);
    }
    if (img_write_line(out, line.data(), 1) != 1) return 1;
  }
  img_close(out);
  return 0;
}

// --turn FILE [OUT]: a quarter turn with the default budget, read to the end
// (and written as TIFF when OUT is given); prints seconds and passes.
int turn_file(const char* path, const char* out_path) {
  const auto t0 = std::chrono::steady_clock::now();
  IMG_file* src = img_mux_open(path, nullptr, "r", nullptr, 0);
  rotate_request req{};
  req.turns = 1;
  rotate_filter* f = rotate_attach(src, &req);
  if (!f) return 1;
  const int32_t passes = rotate_passes(f);
  IMG_file* img = rotate_to_file(f);
  int32_t ok = 1;
  if (out_path) {
    ok = save_img_as(out_path, nullptr, KLV_TYPE_TIFF, img, nullptr, nullptr, nullptr);
  } else {
    std::vector<uint8_t> line(img->info.bytes_per_line);
    for (int32_t y = 0; y < img->info.height && ok; ++y) ok = img_read_line(img, line.data(), 1);
  }
  img_close(img);
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("klv quarter turn: %.2f s, %d passes over the source%s\n", s, passes,
              ok ? "" : " (FAILED)");
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 5 && !std::strcmp(argv[1], "--make"))
    return make(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
  if (argc >= 3 && !std::strcmp(argv[1], "--turn"))
    return turn_file(argv[2], argc >= 4 ? argv[3] : nullptr);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
