// SPDX-License-Identifier: MIT
// The LittleCMS engine's whole-line entry through the CMS service: 8-bit RGB
// lines to CMYK between the shipped sRGB and CMYK profiles.
//
//   bench_cms_line                          Google Benchmark of the line entry,
//                                           beside LittleCMS called directly
//   bench_cms_line --make FILE W H          writes an 8-bit RGB TIFF test image
//   bench_cms_line --convert IN.tif OUT.tif converts a TIFF as tificc does
//                                           (read, convert line by line, write)
//                                           and prints the time per pixel
// bench/cms_line_vs_tificc.sh runs the last two against tificc in one run.
#include <benchmark/benchmark.h>
#include <lcms2.h>
#include <tiffio.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "klv/cms.h"

namespace {

const std::string kProfiles = std::string(KLV_DATA_DIR) + "/profiles/";

// Starts the service with the built engine and opens an sRGB -> CMYK node.
class Engine {
 public:
  Engine() {
    char tmpl[] = "/tmp/klv_cms_bench_XXXXXX";
    folder_ = mkdtemp(tmpl);
    std::string engine = KLV_LCMS2_ENGINE;
    std::ofstream(folder_ + "/CMSTypes.Info")
        << "CMS_Types {\n  CMMS {\n    Type { 1 }\n    CMM { LittleCMS }\n    ApplyDLL { \""
        << engine << "\" }\n  }\n}\n";
    setenv("KLV_SERVER_PATH", folder_.c_str(), 1);
    if (!cms_initialize(nullptr, nullptr)) return;
    const char* args[] = {"intent=0"};
    node_ = cms_profnode_new(1, "", 0, (kProfiles + "klv_srgb.icc").c_str(), "",
                             (kProfiles + "klv_cmyk.icc").c_str(), "", 1, args, 0, nullptr, 3, 4,
                             nullptr, nullptr);
    // Option 2: the 8-bit line form only, as a caller converting 8-bit lines asks.
    if (node_ && !cms_profnode_open_xform_ex(cms_get_info(), node_, nullptr, nullptr, 2)) {
      cms_profnode_free(node_, nullptr, nullptr);
      node_ = nullptr;
    }
  }
  ~Engine() {
    if (node_) cms_profnode_free(node_, nullptr, nullptr);
    cms_terminate(nullptr, nullptr);
    std::filesystem::remove_all(folder_);
  }
  bool ok() const { return node_ != nullptr; }
  void line(const uint8_t* in, uint8_t* out, uint32_t count) const {
    node_->xform->transform_line(node_->xform->handle, in, out, count, 8);
  }

 private:
  std::string folder_;
  cms_profnode* node_ = nullptr;
};

// A photo-like test line: smooth gradients with a little deterministic noise.
void fill_line(uint8_t* rgb, uint32_t width, uint32_t y, uint32_t height) {
  uint32_t state = 0x9E3779B9u ^ y;
  for (uint32_t x = 0; x < width; ++x) {
    state = state * 1664525u + 1013904223u;
    const int noise = static_cast<int>(state >> 29) - 4;
    const int r = static_cast<int>(255 * x / (width ? width : 1)) + noise;
    const int g = static_cast<int>(255 * y / (height ? height : 1)) + noise;
    const int b = static_cast<int>((x ^ y) & 255) + noise;
    rgb[x * 3] = static_cast<uint8_t>(std::clamp(r, 0, 255));
    rgb[x * 3 + 1] = static_cast<uint8_t>(std::clamp(g, 0, 255));
    rgb[x * 3 + 2] = static_cast<uint8_t>(std::clamp(b, 0, 255));
  }
}

void BM_CmsLine8(benchmark::State& state) {
  static Engine engine;
  if (!engine.ok()) {
    state.SkipWithError("the colour engine could not be started");
    return;
  }
  const uint32_t width = static_cast<uint32_t>(state.range(0));
  constexpr uint32_t kLines = 64;
  std::vector<uint8_t> rgb(size_t{width} * 3 * kLines), cmyk(size_t{width} * 4);
  for (uint32_t y = 0; y < kLines; ++y) fill_line(&rgb[size_t{y} * width * 3], width, y, kLines);
  uint32_t y = 0;
  for (auto _ : state) {
    engine.line(&rgb[size_t{y} * width * 3], cmyk.data(), width);
    benchmark::DoNotOptimize(cmyk.data());
    y = (y + 1) % kLines;
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * width);
}
BENCHMARK(BM_CmsLine8)->Arg(1024)->Arg(8192);

// The reference: LittleCMS called directly as tificc calls it (default
// flags, one transform) on the same lines and profiles.
void BM_LittleCmsDirect8(benchmark::State& state) {
  cmsHPROFILE in = cmsOpenProfileFromFile((kProfiles + "klv_srgb.icc").c_str(), "r");
  cmsHPROFILE out = cmsOpenProfileFromFile((kProfiles + "klv_cmyk.icc").c_str(), "r");
  cmsHTRANSFORM t = in && out
                        ? cmsCreateTransform(in, TYPE_RGB_8, out, TYPE_CMYK_8, INTENT_PERCEPTUAL, 0)
                        : nullptr;
  if (!t) {
    state.SkipWithError("LittleCMS cannot open the profiles");
  } else {
    const uint32_t width = static_cast<uint32_t>(state.range(0));
    constexpr uint32_t kLines = 64;
    std::vector<uint8_t> rgb(size_t{width} * 3 * kLines), cmyk(size_t{width} * 4);
    for (uint32_t y = 0; y < kLines; ++y) fill_line(&rgb[size_t{y} * width * 3], width, y, kLines);
    uint32_t y = 0;
    for (auto _ : state) {
      cmsDoTransform(t, &rgb[size_t{y} * width * 3], cmyk.data(), width);
      benchmark::DoNotOptimize(cmyk.data());
      y = (y + 1) % kLines;
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * width);
    cmsDeleteTransform(t);
  }
  if (in) cmsCloseProfile(in);
  if (out) cmsCloseProfile(out);
}
BENCHMARK(BM_LittleCmsDirect8)->Arg(8192);

// A flat line (one colour throughout), as backgrounds of print jobs are.
void BM_CmsLine8Flat(benchmark::State& state) {
  static Engine engine;
  if (!engine.ok()) {
    state.SkipWithError("the colour engine could not be started");
    return;
  }
  const uint32_t width = static_cast<uint32_t>(state.range(0));
  std::vector<uint8_t> rgb(size_t{width} * 3), cmyk(size_t{width} * 4);
  for (uint32_t x = 0; x < width; ++x) {
    rgb[x * 3] = 200;
    rgb[x * 3 + 1] = 120;
    rgb[x * 3 + 2] = 40;
  }
  for (auto _ : state) {
    engine.line(rgb.data(), cmyk.data(), width);
    benchmark::DoNotOptimize(cmyk.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * width);
}
BENCHMARK(BM_CmsLine8Flat)->Arg(8192);

int make_image(const char* path, uint32_t width, uint32_t height) {
  TIFF* tif = TIFFOpen(path, "w");
  if (!tif) return 1;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 64);
  std::vector<uint8_t> line(size_t{width} * 3);
  for (uint32_t y = 0; y < height; ++y) {
    fill_line(line.data(), width, y, height);
    if (TIFFWriteScanline(tif, line.data(), y, 0) < 0) {
      TIFFClose(tif);
      return 1;
    }
  }
  TIFFClose(tif);
  return 0;
}

// Reads an 8-bit RGB TIFF, converts each line with the line entry and writes
// an 8-bit CMYK TIFF, as tificc does with the same profiles.
int convert_image(const char* in_path, const char* out_path) {
  const auto start = std::chrono::steady_clock::now();
  const std::clock_t cpu_start = std::clock();
  Engine engine;
  const std::clock_t cpu_engine = std::clock();
  if (!engine.ok()) return 1;
  TIFF* in = TIFFOpen(in_path, "r");
  TIFF* out = in ? TIFFOpen(out_path, "w") : nullptr;
  if (!out) {
    if (in) TIFFClose(in);
    return 1;
  }
  uint32_t width = 0, height = 0;
  TIFFGetField(in, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(in, TIFFTAG_IMAGELENGTH, &height);
  TIFFSetField(out, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(out, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, 4);
  TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(out, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_SEPARATED);
  TIFFSetField(out, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, 64);
  std::vector<uint8_t> rgb(size_t{width} * 3), cmyk(size_t{width} * 4);
  const auto opened = std::chrono::steady_clock::now();
  int result = 0;
  for (uint32_t y = 0; y < height && result == 0; ++y) {
    if (TIFFReadScanline(in, rgb.data(), y, 0) < 0) result = 1;
    engine.line(rgb.data(), cmyk.data(), width);
    if (TIFFWriteScanline(out, cmyk.data(), y, 0) < 0) result = 1;
  }
  TIFFClose(in);
  TIFFClose(out);
  const auto end = std::chrono::steady_clock::now();
  const double total = std::chrono::duration<double>(end - start).count();
  const double lines = std::chrono::duration<double>(end - opened).count();
  const double pixels = double(width) * height;
  const double cpu_total = double(std::clock() - cpu_start) / CLOCKS_PER_SEC;
  const double cpu_setup = double(cpu_engine - cpu_start) / CLOCKS_PER_SEC;
  std::fprintf(stderr,
               "klv line entry (with TIFF read and write): wall %.3f s (lines %.3f s); cpu %.3f s, "
               "%.2f ns per pixel, of which engine set-up %.3f s\n",
               total, lines, cpu_total, cpu_total * 1e9 / pixels, cpu_setup);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && !std::strcmp(argv[1], "--make"))
    return make_image(argv[2], static_cast<uint32_t>(std::atoi(argv[3])),
                      static_cast<uint32_t>(std::atoi(argv[4])));
  if (argc == 4 && !std::strcmp(argv[1], "--convert")) return convert_image(argv[2], argv[3]);
  setenv("KLV_LOG", "/dev/null", 0);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
