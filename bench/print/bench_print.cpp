// SPDX-License-Identifier: MIT
// Printing a job's print file through the print object and the file driver,
// against only reading that print file: an 8000x6000 page of 1-bit CMYK
// dots (pixel-interleaved, as the job driver writes it). Also the frame
// chain alone (use-printer off: layout and frame, nothing sent), and the
// file driver alone (lines from memory); and a contone page screened and
// repeated by the frame's chain.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "file_output.h"
#include "klv/imgmux.h"
#include "klv/outimg.h"
#include "klv/printobj_cxx.h"
#include "support/files.h"

namespace {

constexpr int32_t kWidth = 8000, kHeight = 6000;

image_info page_info() {
  image_info info;
  init_image_info(&info);
  info.width = kWidth;
  info.height = kHeight;
  info.samples = 4;
  info.bits_per_sample = 1;
  info.planar = KLV_PLANAR_PIXEL;
  info.photometric = KLV_PHOTO_MINWHITE;
  info.xres = info.yres = 720;
  info.bytes_per_line = image_info_line_bytes(&info);
  return info;
}

// The print file, made once: dots of a few densities.
struct Page {
  klv::test::ScratchFolder folder{"bench_print"};
  std::string file = folder.path("page.B001");
  Page() {
    image_info info = page_info();
    IMG_file* out = outimg_open_img(file.c_str(), nullptr, "w", &info);
    std::vector<uint8_t> line(info.bytes_per_line);
    uint32_t state = 2463534242u;
    for (int32_t y = 0; y < kHeight && out; ++y) {
      for (auto& b : line) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        b = uint8_t(state & (state >> 8));  // about a quarter of the dots set
      }
      img_write_line(out, line.data(), 1);
    }
    img_close(out);
  }
};

Page& page() {
  static Page p;
  return p;
}

void BM_ReadPrintFile(benchmark::State& state) {
  const std::string& file = page().file;
  for (auto _ : state) {
    image_info info;
    init_image_info(&info);
    IMG_file* in = img_mux_open(file.c_str(), nullptr, "r", &info, KLV_TYPE_OUTIMG);
    const int32_t band = int32_t((1 << 20) / info.bytes_per_line);
    std::vector<uint8_t> lines(size_t(info.bytes_per_line) * band);
    for (int32_t y = 0; y < info.height; y += band)
      benchmark::DoNotOptimize(img_read_line(in, lines.data(), std::min(band, info.height - y)));
    img_close(in);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * page_info().bytes_per_line * kHeight);
}

void print_once(benchmark::State& state, bool use_printer) {
  int32_t error = 0;
  SP_OBJECT* object = SP_open(KLV_FILE_DRIVER, "KlvDemo", &error, "KlvDemo");
  if (!object) {
    state.SkipWithError("file driver not loaded");
    return;
  }
  const std::string port = page().folder.path("out");
  SP_set_port_name(object, port.c_str());
  SP_INFO info{sizeof(SP_INFO), nullptr};
  {
    CPrintObj printer(object, "KlvDemo", &info, use_printer);
    CPrintJobInfo job;
    job.name = "bench";
    if (printer.StartJob(job) != 0 ||
        klv::print_page_file(printer, page().file.c_str(), CPrintFrameInfo{}, nullptr, nullptr) !=
            0 ||
        printer.EndJob() != 0)
      state.SkipWithError("the page was not printed");
  }
  SP_close(object);
}

void BM_PrintThroughFileDriver(benchmark::State& state) {
  page();
  for (auto _ : state) print_once(state, true);
  state.SetBytesProcessed(int64_t(state.iterations()) * page_info().bytes_per_line * kHeight);
}

void BM_FrameChainOnly(benchmark::State& state) {
  page();
  for (auto _ : state) print_once(state, false);
  state.SetBytesProcessed(int64_t(state.iterations()) * page_info().bytes_per_line * kHeight);
}

// The lines of the page the driver alone is sent: 64 lines of dots,
// line-interleaved, repeated down the page.
std::vector<uint8_t> driver_lines() {
  const size_t line = (size_t(kWidth) + 7) / 8 * 4;
  std::vector<uint8_t> lines(line * 64);
  uint32_t seed = 2463534242u;
  for (auto& b : lines) {
    seed ^= seed << 13;
    seed ^= seed >> 17;
    seed ^= seed << 5;
    b = uint8_t(seed & (seed >> 8));
  }
  return lines;
}

// The file driver alone: the page's lines (line-interleaved, in memory)
// handed straight to its scan-line entry.
void BM_FileDriverOnly(benchmark::State& state) {
  const image_info info = page_info();
  const size_t line = (size_t(kWidth) + 7) / 8 * 4;
  const std::vector<uint8_t> lines = driver_lines();
  int32_t error = 0;
  SP_OBJECT* object = SP_open(KLV_FILE_DRIVER, "KlvDemo", &error, "KlvDemo");
  if (!object) {
    state.SkipWithError("file driver not loaded");
    return;
  }
  const std::string port = page().folder.path("alone");
  SP_set_port_name(object, port.c_str());
  for (auto _ : state) {
    SP_JOB job{};
    job.size = SP_JOB_SIZE;
    std::snprintf(job.name, sizeof job.name, "alone");
    SP_PRINT print{};
    print.size = SP_PRINT_SIZE;
    print.width = kWidth;
    print.height = kHeight;
    print.bits = 1;
    print.channels = 4;
    print.xres = print.yres = info.xres;
    bool ok = SP_start_job(object, &job) == 0 && SP_start_print(object, &print, nullptr) == 0;
    for (int32_t y = 0; ok && y < kHeight; ++y)
      ok = SP_print_scanline_data(object, &lines[(size_t(y) % 64) * line], 1) == 0;
    if (!ok || SP_end_print(object) != 0 || SP_end_job(object) != 0)
      state.SkipWithError("the driver refused the page");
  }
  SP_close(object);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(line) * kHeight);
}

// The driver's writers one by one over the page: the PackBits code of every
// plane's rows, and the preview's counting and PNG.
void BM_DriverPackBits(benchmark::State& state) {
  const std::vector<uint8_t> lines = driver_lines();
  const size_t plane = (size_t(kWidth) + 7) / 8;
  std::vector<uint8_t> out(klvdrv::PackBitsBound(plane));
  for (auto _ : state)
    for (int32_t y = 0; y < kHeight; ++y)
      for (size_t c = 0; c < 4; ++c)
        benchmark::DoNotOptimize(
            klvdrv::PackBitsRow(&lines[(size_t(y) % 64 * 4 + c) * plane], plane, out.data()));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(plane) * 4 * kHeight);
}

void BM_DriverPreview(benchmark::State& state) {
  const std::vector<uint8_t> lines = driver_lines();
  const size_t line = (size_t(kWidth) + 7) / 8 * 4;
  klvdrv::PrintShape shape;
  shape.width = kWidth;
  shape.height = kHeight;
  shape.channels = 4;
  const std::vector<klvdrv::Separation> seps(4, {"Ink", {0, 255, 255}});
  std::vector<uint8_t> png;
  for (auto _ : state) {
    klvdrv::Preview preview;
    preview.Start(shape, seps);
    for (int32_t y = 0; y < kHeight; ++y)
      preview.AddLine(uint32_t(y), &lines[size_t(y) % 64 * line]);
    if (state.range(0)) benchmark::DoNotOptimize(preview.EncodePng(&png));
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(line) * kHeight);
}

// A contone page (4000x3000 CMYK ink amounts) through the frame's chain,
// nothing sent: screened with the built-in screens, one thread, its pixels
// repeated 2x1 into an 8000x3000 frame.
void BM_ContoneFrameChain(benchmark::State& state) {
  constexpr int32_t kContoneWidth = 4000, kContoneHeight = 3000;
  image_info info;
  init_image_info(&info);
  info.width = kContoneWidth;
  info.height = kContoneHeight;
  info.samples = 4;
  info.bits_per_sample = 8;
  info.planar = KLV_PLANAR_PIXEL;
  info.photometric = KLV_PHOTO_MINWHITE;
  info.xres = info.yres = 360;
  info.bytes_per_line = image_info_line_bytes(&info);
  std::vector<uint8_t> band(size_t(info.bytes_per_line) * 64);
  for (size_t i = 0; i < band.size(); ++i) band[i] = uint8_t(i * 7 + i / info.bytes_per_line);
  int32_t error = 0;
  SP_OBJECT* object = SP_open(KLV_FILE_DRIVER, "KlvDemo", &error, "KlvDemo");
  if (!object) {
    state.SkipWithError("file driver not loaded");
    return;
  }
  SP_INFO sp_info{sizeof(SP_INFO), nullptr};
  for (auto _ : state) {
    CPrintObj printer(object, "KlvDemo", &sp_info, false);
    CPrintFrameInfo frame;
    frame.repeat = "2x1";
    IMG_file* out = nullptr;
    bool ok = printer.StartJob(CPrintJobInfo{}) == 0 && printer.BeginFrame(frame, &info, &out) == 0;
    for (int32_t y = 0; ok && y < kContoneHeight; y += 64)
      ok = img_write_line(out, band.data(), std::min(64, kContoneHeight - y)) ==
           std::min(64, kContoneHeight - y);
    if (!ok || printer.EndFrame(out) != 0 || printer.EndJob() != 0)
      state.SkipWithError("the contone frame failed");
  }
  SP_close(object);
  state.SetBytesProcessed(int64_t(state.iterations()) * info.bytes_per_line * kContoneHeight);
}

BENCHMARK(BM_ReadPrintFile)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FrameChainOnly)->Unit(benchmark::kMillisecond)->Iterations(3);
// The driver writes its pages on worker threads when the process may use
// more than one core: its CPU time is the whole process's (run under
// `taskset -c 1` for the one-thread figures).
BENCHMARK(BM_PrintThroughFileDriver)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->MeasureProcessCPUTime()
    ->UseRealTime();
BENCHMARK(BM_FileDriverOnly)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->MeasureProcessCPUTime()
    ->UseRealTime();
BENCHMARK(BM_DriverPackBits)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_DriverPreview)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ContoneFrameChain)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
