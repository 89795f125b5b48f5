// SPDX-License-Identifier: MIT
// Writing and reading a 4-separation 1-bit planar page as an output image,
// raw and compressed, next to the same bytes written to and read from a
// plain file with stdio in the same run.
//
// KLV_BENCH_PAGE=WIDTHxHEIGHT sets the page (default 30000x20000, 4 x 75 MB).
// Each benchmark runs once; a write makes the file the following read reads.
// The summary gives each form's speed as a share of the plain file's, and the
// size of the compressed forms as a share of the raw bytes.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "klv/outimg.h"
#include "klv/platform.h"
#include "support/files.h"

namespace {

constexpr int kSeps = 4;
constexpr int kDistinctLines = 97;

struct Page {
  int width = 30000, height = 20000;
  uint32_t bpl() const { return static_cast<uint32_t>((width + 7) / 8); }
  double bytes() const { return double(bpl()) * height * kSeps; }
};

Page page() {
  Page p;
  if (const char* env = std::getenv("KLV_BENCH_PAGE")) {
    int w = 0, h = 0;
    if (std::sscanf(env, "%dx%d", &w, &h) == 2 && w > 0 && h > 0) p.width = w, p.height = h;
  }
  return p;
}

// Removed with its files when the program ends.
std::string scratch(const std::string& name) {
  static const klv::test::ScratchFolder dir("benchout");
  return dir.path(name);
}

// Halftone-like dot lines: an ordered dither of a slow gradient, shifted per
// separation, so that compression meets data like a screened page's.
const std::vector<uint8_t>& lines(const Page& p) {
  static std::vector<uint8_t> data = [&] {
    static const uint8_t bayer[4][4] = {
        {0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
    std::vector<uint8_t> d(size_t(p.bpl()) * kDistinctLines * kSeps, 0);
    for (int s = 0; s < kSeps; ++s)
      for (int y = 0; y < kDistinctLines; ++y) {
        uint8_t* row = d.data() + (size_t(s) * kDistinctLines + y) * p.bpl();
        for (int x = 0; x < p.width; ++x) {
          int level = ((x / 7 + y * 3 + s * 50) % 400) * 16 / 400;
          if (bayer[y & 3][(x + s) & 3] < level) row[x >> 3] |= 0x80 >> (x & 7);
        }
      }
    return d;
  }();
  return data;
}

const uint8_t* line_of(const Page& p, int sep, int y) {
  return lines(p).data() + (size_t(sep) * kDistinctLines + y % kDistinctLines) * p.bpl();
}

std::map<std::string, double>& speeds() {
  static std::map<std::string, double> s;
  return s;
}
std::map<std::string, double>& sizes() {
  static std::map<std::string, double> s;
  return s;
}

void finish(benchmark::State& state, const std::string& name, double seconds, const Page& p) {
  state.SetIterationTime(seconds);
  state.SetBytesProcessed(static_cast<int64_t>(p.bytes()));
  speeds()[name] = p.bytes() / seconds / 1e6;
}

void PlainWrite(benchmark::State& state) {
  const Page p = page();
  lines(p);
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    std::FILE* f = std::fopen(scratch("plain.bin").c_str(), "wb");
    for (int s = 0; s < kSeps; ++s)
      for (int y = 0; y < p.height; ++y) std::fwrite(line_of(p, s, y), 1, p.bpl(), f);
    std::fclose(f);
    finish(state, "plain write",
           std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), p);
  }
}

void PlainRead(benchmark::State& state) {
  const Page p = page();
  std::vector<uint8_t> buf(p.bpl());
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    std::FILE* f = std::fopen(scratch("plain.bin").c_str(), "rb");
    size_t got = 0;
    for (int i = 0; i < kSeps * p.height; ++i) got += std::fread(buf.data(), 1, p.bpl(), f);
    std::fclose(f);
    benchmark::DoNotOptimize(got);
    finish(state, "plain read",
           std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), p);
  }
}

image_info page_info(const Page& p, uint32_t compression) {
  image_info info;
  init_image_info(&info);
  info.width = p.width;
  info.height = p.height;
  info.pages = 1;
  info.planar = KLV_PLANAR_PLANES;
  info.bits_per_sample = 1;
  info.samples = kSeps;
  info.xres = info.yres = 720;
  info.compression = compression;
  return info;
}

// Separation after separation, one line per call, as a page is copied.
void OutWrite(benchmark::State& state, const std::string& name, uint32_t compression) {
  const Page p = page();
  lines(p);
  const std::string path = scratch(name + ".img");
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    image_info info = page_info(p, compression);
    IMG_file* img = outimg_open_img(path.c_str(), nullptr, "w", &info);
    if (!img) {
      state.SkipWithError("cannot create the output image");
      return;
    }
    for (int s = 0; s < kSeps; ++s)
      for (int y = 0; y < p.height; ++y)
        img_write_line(img, const_cast<uint8_t*>(line_of(p, s, y)), 1);
    img_close(img);
    finish(state, name + " write",
           std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), p);
    sizes()[name] = double(std::filesystem::file_size(path));
  }
}

void OutRead(benchmark::State& state, const std::string& name) {
  const Page p = page();
  const std::string path = scratch(name + ".img");
  std::vector<uint8_t> buf(p.bpl());
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    IMG_file* img = outimg_open_img(path.c_str(), nullptr, "r", nullptr);
    if (!img) {
      state.SkipWithError("cannot open the output image");
      return;
    }
    int got = 0;
    for (int i = 0; i < kSeps * p.height; ++i) got += img_read_line(img, buf.data(), 1);
    img_close(img);
    if (got != kSeps * p.height) state.SkipWithError("short read");
    finish(state, name + " read",
           std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), p);
  }
}

void Register() {
  auto once = [](benchmark::internal::Benchmark* b) {
    b->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
  };
  once(benchmark::RegisterBenchmark("plain_file/write", PlainWrite));
  once(benchmark::RegisterBenchmark("plain_file/read", PlainRead));
  const std::pair<const char*, uint32_t> forms[] = {{"raw", 0}, {"deflate1", 1}, {"deflate6", 6}};
  for (auto [name, level] : forms) {
    std::string n = name;
    once(benchmark::RegisterBenchmark(("output_image_" + n + "/write").c_str(),
                                      [n, level](benchmark::State& s) { OutWrite(s, n, level); }));
    once(benchmark::RegisterBenchmark(("output_image_" + n + "/read").c_str(),
                                      [n](benchmark::State& s) { OutRead(s, n); }));
  }
}

}  // namespace

int main(int argc, char** argv) {
  Register();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  const Page p = page();
  std::printf("\npage %dx%d, %d separations of 1 bit, %.1f MB\n", p.width, p.height, kSeps,
              p.bytes() / 1e6);
  auto& sp = speeds();
  for (const char* op : {"write", "read"}) {
    double plain = sp[std::string("plain ") + op];
    std::printf("plain file %-5s %8.1f MB/s\n", op, plain);
    for (const char* form : {"raw", "deflate1", "deflate6"}) {
      double v = sp[std::string(form) + " " + op];
      std::printf("%-10s %-5s %8.1f MB/s  %5.1f%% of the plain file\n", form, op, v,
                  plain > 0 ? 100 * v / plain : 0);
    }
  }
  for (auto& [form, bytes] : sizes())
    std::printf("%-10s volume %.1f MB, %.2f%% of the raw bytes (ratio %.1f:1)\n", form.c_str(),
                bytes / 1e6, 100 * bytes / p.bytes(), p.bytes() / bytes);
  benchmark::Shutdown();
  std::filesystem::remove_all(std::filesystem::path(scratch("x")).parent_path());
  return 0;
}
