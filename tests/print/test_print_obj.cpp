// SPDX-License-Identifier: MIT
// Print objects over the recording driver: the order of driver calls over a
// job of two frames of two passes, the job and print records at their
// offsets, black moved to the front of the process channels, the
// use-printer switch, frames cut short or failed by the driver (the job is
// then cancelled), buffered frames printed in chunks, and job frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "driver_test_util.h"
#include "print_dots.h"
#include "klv/cms.h"
#include "klv/imgmux.h"
#include "klv/kernel_volume.h"
#include "klv/outimg.h"
#include "klv/printobj_cxx.h"
#include "klv/prntinfo.h"
#include "support/env.h"
#include "support/files.h"
#include "support/resources.h"

namespace {

using drivertest::Recorder;
using klv::test::ScopedEnv;
using klv::test::ScratchFolder;

static_assert(sizeof(SP_JOB) == 452 && offsetof(SP_JOB, name) == 4 &&
              offsetof(SP_JOB, count) == 208 && offsetof(SP_JOB, printer) == 212 &&
              offsetof(SP_JOB, value) == 296 && offsetof(SP_JOB, flag) == 300 &&
              offsetof(SP_JOB, abort_fn) == 304 && offsetof(SP_JOB, swatch) == 324);
static_assert(sizeof(SP_PRINT) == 1240 && offsetof(SP_PRINT, width) == 4 &&
              offsetof(SP_PRINT, height) == 8 && offsetof(SP_PRINT, xres) == 16 &&
              offsetof(SP_PRINT, yres) == 24 && offsetof(SP_PRINT, bits) == 32 &&
              offsetof(SP_PRINT, ink_use) == 328);

// The driver's print calls, in order (queries left out).
std::vector<std::string> print_calls(const char* log) {
  static const char* kCalls[] = {"init_from_info",      "start_job", "start_print", "start_pass",
                                 "print_scanline_data", "end_pass",  "end_print",   "end_job",
                                 "cancel_job",          "close",     "command 29",  "command 33"};
  std::vector<std::string> out;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);)
    for (const char* c : kCalls)
      if (line.rfind(c, 0) == 0) {
        out.push_back(line);
        break;
      }
  return out;
}

image_info dots_image(int32_t width, int32_t height, uint32_t planar) {
  image_info info;
  init_image_info(&info);
  info.width = width;
  info.height = height;
  info.samples = 4;
  info.bits_per_sample = 1;
  info.planar = planar;
  info.xres = info.yres = 360;
  info.photometric = KLV_PHOTO_MINWHITE;
  info.bytes_per_line = image_info_line_bytes(&info);
  return info;
}

struct Abort : IPrintAbort {
  int asked = 0, after = 1 << 30;
  bool ShouldAbort() override { return ++asked > after; }
};

struct Progress : IPrintStatusCallback {
  std::vector<std::string> seen;
  void PrintStatus(int32_t code, const char* text) override {
    seen.push_back(std::to_string(code) + " " + text);
  }
};

class PrintObj : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rec_.Load());
    rec_.reset();
    rec_.drop(SPF_GET_COLOR_INFO);  // the library's default description: 4 channels
    rec_.set_info_answer(0, 4);
    rec_.set_info_answer(7, 0);
    rec_.set_info_answer(8, 0);
    rec_.set_info_answer(35, 0);
    rec_.set_info_answer(46, 0);
    int32_t error = 0;
    object_ = SP_open(KLV_RECORDING_DRIVER, "dev", &error, "Rec");
    ASSERT_NE(object_, nullptr) << error;
    info_.size = sizeof info_;
    rec_.clear_log();
  }
  void TearDown() override {
    if (object_) SP_close(object_);
  }
  // Writes `lines` lines of the frame; line y's bytes are 0x10 * plane + y.
  static int32_t WriteLines(IMG_file* out, const image_info& image, int32_t lines) {
    std::vector<uint8_t> line(image.bytes_per_line);
    int32_t sent = 0;
    for (int32_t y = 0; y < lines; ++y) {
      const size_t plane = line.size() / 4;
      for (size_t i = 0; i < line.size(); ++i) line[i] = uint8_t(0x10 * (i / plane) + y);
      sent += img_write_line(out, line.data(), 1);
    }
    return sent;
  }

  Recorder rec_;
  SP_OBJECT* object_ = nullptr;
  SP_INFO info_{};
};

TEST_F(PrintObj, JobOfTwoFramesOfTwoPassesCallsTheDriverInOrder) {
  CPrintObj printer(object_, "Rec", &info_, true);
  ASSERT_EQ(printer.GetLastStatus(), 0);
  CPrintJobInfo job;
  job.name = "J1";
  job.settings_name = "opts";
  ASSERT_EQ(printer.StartJob(job), 0);
  const image_info image = dots_image(9, 4, KLV_PLANAR_LINES);
  for (int frame = 0; frame < 2; ++frame) {
    CPrintFrameInfo f;
    f.passes = 2;
    IMG_file* out = nullptr;
    ASSERT_EQ(printer.BeginFrame(f, &image, &out), 0);
    ASSERT_TRUE(printer.HasFrame());
    EXPECT_EQ(WriteLines(out, image, 4), 4);
    EXPECT_EQ(printer.EndFrame(out), 0);
    EXPECT_FALSE(printer.HasFrame());
  }
  EXPECT_EQ(printer.EndJob(), 0);
  // Black (the fourth plane, bytes 0x3y) reaches the driver first.
  const std::vector<std::string> frame = {"command 33 arg",
                                          "start_print_ex 1240",
                                          "start_pass 12 0",
                                          "print_scanline_data 1 30",
                                          "print_scanline_data 1 31",
                                          "end_pass",
                                          "start_pass 12 1",
                                          "print_scanline_data 1 32",
                                          "print_scanline_data 1 33",
                                          "end_pass",
                                          "end_print"};
  std::vector<std::string> expected = {"init_from_info info opts", "start_job 452 J1"};
  expected.insert(expected.end(), frame.begin(), frame.end());
  expected.insert(expected.end(), frame.begin(), frame.end());
  expected.push_back("end_job");
  EXPECT_EQ(print_calls(rec_.log()), expected) << rec_.log();
}

TEST_F(PrintObj, JobAndPrintRecordsAtTheirOffsets) {
  CPrintObj printer(object_, "Rec", &info_, true);
  Abort abort;
  abort.after = 0;
  CPrintJobInfo job;
  job.name = "Job name";
  job.count = 3;
  job.value = 77;
  job.flag = 5;
  job.ink_use = true;
  job.abort = &abort;
  ASSERT_EQ(printer.StartJob(job), 0);
  const uint8_t* r = object_->job;
  uint32_t word = 0;
  std::memcpy(&word, r, 4);
  EXPECT_EQ(word, 452u);
  EXPECT_STREQ(reinterpret_cast<const char*>(r + 4), "Job name");
  std::memcpy(&word, r + 208, 4);
  EXPECT_EQ(word, 3u);
  EXPECT_STREQ(reinterpret_cast<const char*>(r + 212), "Rec");
  std::memcpy(&word, r + 296, 4);
  EXPECT_EQ(word, 77u);
  EXPECT_EQ(r[300], 5);
  SP_ABORT_FN fn = nullptr;
  void* object = nullptr;
  std::memcpy(&fn, r + 304, sizeof fn);
  std::memcpy(&object, r + offsetof(SP_JOB, abort_object), sizeof object);
  ASSERT_NE(fn, nullptr);
  EXPECT_EQ(fn(object), 1);  // the callback asks the job's abort object
  EXPECT_EQ(abort.asked, 1);

  const image_info image = dots_image(100, 3, KLV_PLANAR_LINES);
  CPrintFrameInfo f;
  IMG_file* out = nullptr;
  ASSERT_EQ(printer.BeginFrame(f, &image, &out), 0);
  const uint8_t* p = object_->print;
  std::memcpy(&word, p, 4);
  EXPECT_EQ(word, 1240u);
  std::memcpy(&word, p + 4, 4);
  EXPECT_EQ(word, 100u);
  std::memcpy(&word, p + 8, 4);
  EXPECT_EQ(word, 3u);
  double res = 0;
  std::memcpy(&res, p + 16, 8);
  EXPECT_EQ(res, 360.0);
  std::memcpy(&res, p + 24, 8);
  EXPECT_EQ(res, 360.0);
  std::memcpy(&word, p + 32, 4);
  EXPECT_EQ(word, 1u);
  std::memcpy(&word, p + 328, 4);
  EXPECT_EQ(word, 1u);
  EXPECT_EQ(WriteLines(out, image, 3), 3);
  EXPECT_EQ(printer.EndFrame(out), 0);
  EXPECT_EQ(printer.EndJob(), 0);
}

TEST_F(PrintObj, PixelInterleavedDotsAreLaidOutAsPlanes) {
  CPrintObj printer(object_, "Rec", &info_, true);
  ASSERT_EQ(printer.StartJob(CPrintJobInfo{}), 0);
  // Two pixels: C only, then K only: 1000 0001 -> planes C=80 M=00 Y=00 K=40.
  const image_info image = dots_image(2, 1, KLV_PLANAR_PIXEL);
  IMG_file* out = nullptr;
  ASSERT_EQ(printer.BeginFrame(CPrintFrameInfo{}, &image, &out), 0);
  uint8_t line[1] = {0x81};
  EXPECT_EQ(img_write_line(out, line, 1), 1);
  EXPECT_EQ(printer.EndFrame(out), 0);
  EXPECT_EQ(printer.EndJob(), 0);
  EXPECT_TRUE(rec_.Logged("print_scanline_data 1 40")) << rec_.log();  // K plane first
}

TEST_F(PrintObj, UsePrinterOffPreparesWithoutSending) {
  CPrintObj printer(object_, "Rec", &info_, false);
  EXPECT_FALSE(printer.SetUsePrinter(false));
  ASSERT_EQ(printer.StartJob(CPrintJobInfo{}), 0);
  const image_info image = dots_image(9, 2, KLV_PLANAR_LINES);
  IMG_file* out = nullptr;
  ASSERT_EQ(printer.BeginFrame(CPrintFrameInfo{}, &image, &out), 0);
  EXPECT_EQ(WriteLines(out, image, 2), 2);
  EXPECT_EQ(printer.EndFrame(out), 0);
  EXPECT_EQ(printer.EndJob(), 0);
  EXPECT_EQ(print_calls(rec_.log()), std::vector<std::string>{"command 33 arg"}) << rec_.log();
  _SP_DOT_COUNT counts{};
  EXPECT_EQ(printer.GetDotCount(&counts, false), 4);
}

TEST_F(PrintObj, FrameCutShortEndsNeitherPassNorPrintAndTheJobIsCancelled) {
  CPrintObj printer(object_, "Rec", &info_, true);
  ASSERT_EQ(printer.StartJob(CPrintJobInfo{}), 0);
  const image_info image = dots_image(9, 100, KLV_PLANAR_LINES);
  IMG_file* out = nullptr;
  ASSERT_EQ(printer.BeginFrame(CPrintFrameInfo{}, &image, &out), 0);
  EXPECT_EQ(WriteLines(out, image, 99), 99);
  printer.EndFrame(out);
  EXPECT_EQ(printer.EndJob(), 0);
  const std::vector<std::string> calls = print_calls(rec_.log());
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "end_pass"), 0);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "end_print"), 0);
  EXPECT_EQ(calls.back(), "cancel_job");
}

TEST_F(PrintObj, EndJobWithAFrameOpenCancels) {
  CPrintObj printer(object_, "Rec", &info_, true);
  ASSERT_EQ(printer.StartJob(CPrintJobInfo{}), 0);
  const image_info image = dots_image(9, 10, KLV_PLANAR_LINES);
  IMG_file* out = nullptr;
  ASSERT_EQ(printer.BeginFrame(CPrintFrameInfo{}, &image, &out), 0);
  EXPECT_EQ(printer.EndJob(), 0);
  EXPECT_FALSE(printer.HasFrame());
  img_close(out);  // the abandoned frame sends nothing more
  const std::vector<std::string> calls = print_calls(rec_.log());
  EXPECT_EQ(calls.back(), "cancel_job") << rec_.log();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "end_job"), 0);
}

TEST_F(PrintObj, DriverFailingMidFrameIsReportedAndTheJobCancelled) {
  CPrintObj printer(object_, "Rec", &info_, true);
  ASSERT_EQ(printer.StartJob(CPrintJobInfo{}), 0);
  const image_info image = dots_image(9, 10, KLV_PLANAR_PIXEL);  // through the layout stage
  IMG_file* out = nullptr;
  ASSERT_EQ(printer.BeginFrame(CPrintFrameInfo{}, &image, &out), 0);
  std::vector<uint8_t> lines(size_t(image.bytes_per_line) * 10, 0x55);
  EXPECT_EQ(img_write_line(out, lines.data(), 3), 3);
  rec_.set_result(9);
  EXPECT_LT(img_write_line(out, lines.data() + 3 * image.bytes_per_line, 7), 7);
  EXPECT_FALSE(printer.HasFrame());
  EXPECT_EQ(printer.GetLastStatus(), 9);
  printer.EndFrame(out);
  rec_.set_result(0);
  EXPECT_EQ(printer.EndJob(), 0);
  const std::vector<std::string> calls = print_calls(rec_.log());
  EXPECT_EQ(calls.back(), "cancel_job") << rec_.log();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "end_print"), 0);
}

TEST_F(PrintObj, DriverRefusingTheFrameOrTheJob) {
  CPrintObj printer(object_, "Rec", &info_, true);
  rec_.set_result(12);
  EXPECT_EQ(printer.StartJob(CPrintJobInfo{}), 12);  // init_from_info fails
  rec_.set_result(0);
  ASSERT_EQ(printer.StartJob(CPrintJobInfo{}), 0);
  rec_.set_info_answer(46, 1);
  const image_info image = dots_image(9, 2, KLV_PLANAR_LINES);
  IMG_file* out = nullptr;
  EXPECT_EQ(printer.BeginFrame(CPrintFrameInfo{}, &image, &out), 6);
  EXPECT_EQ(out, nullptr);
  EXPECT_FALSE(printer.HasFrame());
  // Contone input is not the printer's dots.
  rec_.set_info_answer(46, 0);
  image_info contone = image;
  contone.bits_per_sample = 16;
  contone.bytes_per_line = image_info_line_bytes(&contone);
  EXPECT_EQ(printer.BeginFrame(CPrintFrameInfo{}, &contone, &out), 2);
  EXPECT_EQ(printer.EndJob(), 0);
  EXPECT_EQ(print_calls(rec_.log()).back(), "end_job");
}

TEST_F(PrintObj, NoPrinterObjectIsStatusFour) {
  CPrintObj missing(nullptr, "Nobody", nullptr, true);
  EXPECT_EQ(missing.GetLastStatus(), 4);
  EXPECT_EQ(missing.StartJob(CPrintJobInfo{}), 4);
  EXPECT_EQ(missing.EndJob(), 4);
  CPrintObj unknown("No Such Printer", true);
  EXPECT_EQ(unknown.GetName(), "Unknown");
  EXPECT_EQ(unknown.GetLastStatus(), 4);
}

TEST_F(PrintObj, BufferedFramePrintedInChunksWithProgress) {
  EXPECT_EQ(CPrintObj::BufferedChunkLines(2000), 4194);
  ScratchFolder folder("print_buffered");
  const std::string buffer = folder.path("frame.buf");
  CPrintObj printer(object_, "Rec", &info_, true);
  Progress progress;
  printer.SetStatusCallback(&progress);
  const image_info image = dots_image(9, 5, KLV_PLANAR_LINES);
  SP_COLOR_SETUP setup{};
  IMG_file* out = nullptr;
  ASSERT_EQ(
      printer.BeginBufferedFrame(buffer.c_str(), CPrintFrameInfo{}, &image, &out, nullptr, &setup),
      0);
  EXPECT_EQ(setup.channels, 4);
  EXPECT_EQ(WriteLines(out, image, 5), 5);
  EXPECT_EQ(printer.EndFrame(out), 0);
  EXPECT_EQ(print_calls(rec_.log()), std::vector<std::string>{"command 33 arg"});
  ASSERT_EQ(printer.StartJob(CPrintJobInfo{}), 0);
  IMG_file* in = nullptr;
  ASSERT_EQ(printer.PrintBuffered(buffer.c_str(), CPrintFrameInfo{}, &image, &in, nullptr, &setup),
            0);
  EXPECT_EQ(in, nullptr);
  EXPECT_EQ(printer.EndJob(), 0);
  const std::vector<std::string> calls = print_calls(rec_.log());
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "print_scanline_data 1 30"), 1);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "print_scanline_data 1 34"), 1);
  EXPECT_EQ(calls.back(), "end_job");
  EXPECT_EQ(progress.seen, std::vector<std::string>{"2 1.000"});
}

TEST_F(PrintObj, JobFrameWritesIntoTheJobVolume) {
  ScratchFolder folder("print_jobframe");
  const std::string path = folder.path("job.vol");
  SOVolume* volume = VOpen(nullptr, path.c_str(), KLV_VOL_CREATE);
  ASSERT_NE(volume, nullptr);
  {
    CPrintObj printer(object_, "Rec", &info_, true);
    const image_info image = dots_image(9, 3, KLV_PLANAR_LINES);
    IMG_file* out = nullptr;
    ASSERT_EQ(printer.BeginJobFrame(volume, "Frame.001", CPrintFrameInfo{}, &image, &out, nullptr,
                                    nullptr),
              0);
    EXPECT_EQ(WriteLines(out, image, 3), 3);
    EXPECT_EQ(printer.EndFrame(out), 0);
  }  // the print object closes the job volume
  SOVolume* back = VOpen(nullptr, path.c_str(), KLV_VOL_READ);
  ASSERT_NE(back, nullptr);
  image_info stored;
  init_image_info(&stored);
  IMG_file* img = outimg_open_img("Frame.001", back, "r", &stored);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(stored.height, 3);
  std::vector<uint8_t> line(stored.bytes_per_line);
  ASSERT_EQ(img_seek_line(img, 2, 0, 0, 0), 2);
  ASSERT_EQ(img_read_line(img, line.data(), 1), 1);
  EXPECT_EQ(line[0], 0x02);  // stored as written, cyan first
  img_close(img);
  VClose(back);
}

TEST(PrintRepeat, RepeatFactorsOfTheRepeatText) {
  struct Case {
    const char* text;
    int32_t x, y;
  } cases[] = {{"2x3", 2, 3}, {"4", 4, 4}, {"2x0", 2, 2}, {"", 1, 1}, {"x5", 1, 5}};
  for (const Case& c : cases) {
    EXPECT_EQ(get_xrep(c.text), c.x) << c.text;
    EXPECT_EQ(get_yrep(c.text), c.y) << c.text;
  }
}

// The K plane's first byte of each line of line-interleaved C, M, Y, K planes:
// what the recording driver logs of each line (black reaches it first).
std::vector<std::string> first_black_bytes(const std::vector<uint8_t>& planes, int32_t width,
                                           int32_t height) {
  const size_t plane = (size_t(width) + 7) / 8;
  std::vector<std::string> out;
  char text[48];
  for (int32_t y = 0; y < height; ++y) {
    std::snprintf(text, sizeof text, "print_scanline_data 1 %02x",
                  planes[size_t(y) * 4 * plane + 3 * plane]);
    out.push_back(text);
  }
  return out;
}

std::vector<std::string> scanlines(const char* log) {
  std::vector<std::string> out;
  for (const std::string& call : print_calls(log))
    if (call.rfind("print_scanline_data", 0) == 0) out.push_back(call);
  return out;
}

TEST_F(PrintObj, ContonePageIsScreenedAtPrintTime) {
  const image_info contone = printtest::contone_info(37, 9, 360);
  const std::vector<uint8_t> page = printtest::contone_page(contone);
  const std::vector<uint8_t> expected = printtest::screened(contone, page.data());
  ASSERT_FALSE(expected.empty());
  for (const char* threads : {"0", "1"}) {
    ScopedEnv registry("MultiThreadedProcess", threads);
    rec_.clear_log();
    CPrintObj printer(object_, "Rec", &info_, true);
    ASSERT_EQ(printer.StartJob(CPrintJobInfo{}), 0);
    IMG_file* out = nullptr;
    ASSERT_EQ(printer.BeginFrame(CPrintFrameInfo{}, &contone, &out), 0) << threads;
    uint32_t word = 0;
    std::memcpy(&word, object_->print + 32, 4);
    EXPECT_EQ(word, 1u);  // one bit a dot
    EXPECT_EQ(img_write_line(out, const_cast<uint8_t*>(page.data()), contone.height),
              contone.height);
    EXPECT_EQ(printer.EndFrame(out), 0);
    EXPECT_EQ(printer.EndJob(), 0);
    EXPECT_EQ(scanlines(rec_.log()), first_black_bytes(expected, 37, 9)) << rec_.log();
    EXPECT_EQ(print_calls(rec_.log()).back(), "end_job");
  }
}

#ifdef KLV_CMS_ENGINES
// 16-bit RGB through the line filter, the default profiles and the screening.
TEST_F(PrintObj, RgbImageIsConvertedAndScreened) {
  const std::string data = std::string(KLV_DATA_DIR) + ":" + KLV_CMS_ENGINES;
  ScopedEnv path("KLV_PATH", data);
  image_info rgb = printtest::contone_info(20, 6, 360);
  rgb.samples = 3;
  rgb.bits_per_sample = 16;
  rgb.photometric = KLV_PHOTO_MINBLACK;
  rgb.bytes_per_line = image_info_line_bytes(&rgb);
  CPrintObj printer(object_, "Rec", &info_, true);
  ASSERT_EQ(printer.StartJob(CPrintJobInfo{}), 0);
  IMG_file* out = nullptr;
  ASSERT_EQ(printer.BeginFrame(CPrintFrameInfo{}, &rgb, &out), 0);
  std::vector<uint8_t> lines(size_t(rgb.bytes_per_line) * 6, 0x40);
  EXPECT_EQ(img_write_line(out, lines.data(), 6), 6);
  EXPECT_EQ(printer.EndFrame(out), 0);
  EXPECT_EQ(printer.EndJob(), 0);
  EXPECT_EQ(scanlines(rec_.log()).size(), 6u) << rec_.log();
  EXPECT_EQ(print_calls(rec_.log()).back(), "end_job");
  cms_terminate(nullptr, nullptr);
}
#endif

// Dot frames with a pixel repeat, written into a job volume and read back.
// Two across: cyan pixels 0 and 8 of nine become 0-1 and 16-17 of 18 (the
// bits after the ninth pixel are not pixels). Three across, two down: cyan
// pixels 0 and 8 become 0-2 and 24-26 of 27, on each of two lines per line
// written, and pixel 1 of the next line becomes 3-5.
TEST_F(PrintObj, RepeatFactorsMultiplyThePixels) {
  struct Byte {
    int32_t row;
    size_t at;
    uint8_t value;
  };
  struct Case {
    const char* repeat;
    int32_t width, height;                           // the image written
    std::vector<std::pair<uint8_t, uint8_t>> lines;  // cyan bytes 0 and 1 of each line
    int32_t out_width, out_height;
    double out_xres;
    uint32_t out_line_bytes;
    std::vector<Byte> expected;  // bytes of the stored lines (four planes each)
  } cases[] = {
      {"2x1",
       9,
       3,
       {{0x80, 0xFF}, {0x80, 0xFF}, {0x80, 0xFF}},
       18,
       3,
       720,
       12,
       {{0, 0, 0xC0}, {0, 1, 0x00}, {0, 2, 0xC0}, {0, 3, 0x00}}},
      {"3x2",
       9,
       2,
       {{0x80, 0x80}, {0x40, 0x00}},
       27,
       4,
       1080,
       16,
       {{0, 0, 0xE0},
        {0, 3, 0xE0},
        {0, 4, 0x00},
        {1, 0, 0xE0},
        {1, 3, 0xE0},
        {1, 4, 0x00},
        {2, 0, 0x1C},
        {2, 3, 0x00},
        {3, 0, 0x1C},
        {3, 3, 0x00}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.repeat);
    ScratchFolder folder("print_repeat");
    const std::string path = folder.path("job.vol");
    SOVolume* volume = VOpen(nullptr, path.c_str(), KLV_VOL_CREATE);
    ASSERT_NE(volume, nullptr);
    const image_info image = dots_image(c.width, c.height, KLV_PLANAR_LINES);
    {
      CPrintObj printer(object_, "Rec", &info_, true);
      CPrintFrameInfo f;
      f.repeat = c.repeat;
      IMG_file* out = nullptr;
      ASSERT_EQ(printer.BeginJobFrame(volume, "Frame.001", f, &image, &out, nullptr, nullptr), 0);
      std::vector<uint8_t> line(image.bytes_per_line, 0);
      for (const auto& [first, second] : c.lines) {
        line[0] = first;
        line[1] = second;
        EXPECT_EQ(img_write_line(out, line.data(), 1), 1);
      }
      EXPECT_EQ(printer.EndFrame(out), 0);
    }
    SOVolume* back = VOpen(nullptr, path.c_str(), KLV_VOL_READ);
    ASSERT_NE(back, nullptr);
    image_info stored;
    init_image_info(&stored);
    IMG_file* img = outimg_open_img("Frame.001", back, "r", &stored);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(stored.width, c.out_width);
    EXPECT_EQ(stored.height, c.out_height);
    EXPECT_EQ(stored.xres, c.out_xres);
    ASSERT_EQ(stored.bytes_per_line, c.out_line_bytes);
    std::vector<uint8_t> got(size_t(stored.bytes_per_line) * size_t(stored.height));
    ASSERT_EQ(img_read_line(img, got.data(), stored.height), stored.height);
    for (const Byte& e : c.expected)
      EXPECT_EQ(got[size_t(e.row) * stored.bytes_per_line + e.at], e.value)
          << "line " << e.row << " byte " << e.at;
    img_close(img);
    VClose(back);
  }
}

TEST_F(PrintObj, ContoneRepeatedSendsEveryLineTwice) {
  const image_info contone = printtest::contone_info(16, 5, 360);
  const std::vector<uint8_t> page = printtest::contone_page(contone);
  const std::vector<uint8_t> dots = printtest::screened(contone, page.data());
  CPrintObj printer(object_, "Rec", &info_, true);
  ASSERT_EQ(printer.StartJob(CPrintJobInfo{}), 0);
  CPrintFrameInfo f;
  f.repeat = "2x2";
  IMG_file* out = nullptr;
  ASSERT_EQ(printer.BeginFrame(f, &contone, &out), 0);
  uint32_t word = 0;
  std::memcpy(&word, object_->print + 4, 4);
  EXPECT_EQ(word, 32u);
  std::memcpy(&word, object_->print + 8, 4);
  EXPECT_EQ(word, 10u);
  EXPECT_EQ(img_write_line(out, const_cast<uint8_t*>(page.data()), 5), 5);
  EXPECT_EQ(printer.EndFrame(out), 0);
  EXPECT_EQ(printer.EndJob(), 0);
  // The K plane's first byte (8 pixels) becomes two bytes; the first is logged.
  std::vector<std::string> expected;
  for (int y = 0; y < 5; ++y) {
    const uint8_t k = dots[size_t(y) * 8 + 6];
    uint8_t doubled = 0;
    for (int b = 0; b < 4; ++b)
      if (k & (0x80 >> b)) doubled |= uint8_t(0xC0 >> (2 * b));
    char text[48];
    std::snprintf(text, sizeof text, "print_scanline_data 1 %02x", doubled);
    expected.insert(expected.end(), 2, text);
  }
  EXPECT_EQ(scanlines(rec_.log()), expected) << rec_.log();
}

// Frames refused, abandoned or impossible leave no thread, descriptor or
// file behind (the sanitizer builds also see the memory).
TEST_F(PrintObj, ContoneFramesReleaseWhatTheyMadeOnEveryWayOut) {
  ScopedEnv registry("MultiThreadedProcess", "1");
  klv::test::ResourceCheck resources;
  const image_info contone = printtest::contone_info(40, 20, 360);
  const std::vector<uint8_t> page = printtest::contone_page(contone);
  {
    CPrintObj printer(object_, "Rec", &info_, true);
    ASSERT_EQ(printer.StartJob(CPrintJobInfo{}), 0);
    IMG_file* out = nullptr;
    rec_.set_info_answer(46, 1);  // refused by the driver after planning
    EXPECT_EQ(printer.BeginFrame(CPrintFrameInfo{}, &contone, &out), 6);
    EXPECT_EQ(out, nullptr);
    rec_.set_info_answer(46, 0);
    image_info five = contone;  // no colour model of five samples
    five.samples = 5;
    five.bytes_per_line = image_info_line_bytes(&five);
    EXPECT_EQ(printer.BeginFrame(CPrintFrameInfo{}, &five, &out), 2);
    // Abandoned after a few lines: the job is cancelled.
    ASSERT_EQ(printer.BeginFrame(CPrintFrameInfo{}, &contone, &out), 0);
    EXPECT_EQ(img_write_line(out, const_cast<uint8_t*>(page.data()), 3), 3);
    printer.EndFrame(out);
    EXPECT_EQ(printer.EndJob(), 0);
    EXPECT_EQ(print_calls(rec_.log()).back(), "cancel_job");
    // The driver failing mid-frame.
    ASSERT_EQ(printer.StartJob(CPrintJobInfo{}), 0);
    ASSERT_EQ(printer.BeginFrame(CPrintFrameInfo{}, &contone, &out), 0);
    rec_.set_result(9);
    // The screening holds the lines until the frame is ended.
    img_write_line(out, const_cast<uint8_t*>(page.data()), 20);
    EXPECT_EQ(printer.EndFrame(out), 9);
    rec_.set_result(0);
    EXPECT_EQ(printer.EndJob(), 0);
    EXPECT_EQ(print_calls(rec_.log()).back(), "cancel_job");
  }
  EXPECT_EQ(resources.Leaks(), "");
}

TEST_F(PrintObj, FrameSetUpAsksDefaultsAndInformationBeforeTheDotPattern) {
  CPrintObj printer(object_, "Rec", &info_, true);
  ASSERT_EQ(printer.StartJob(CPrintJobInfo{}), 0);
  rec_.clear_log();
  const image_info image = dots_image(9, 1, KLV_PLANAR_LINES);
  IMG_file* out = nullptr;
  ASSERT_EQ(printer.BeginFrame(CPrintFrameInfo{}, &image, &out), 0);
  const std::string log = rec_.log();
  const size_t numbered = log.find("get_info_num_ex "), defaults = log.find("default_settings"),
               text = log.find("get_info_str 0"), pattern = log.find("command 33");
  EXPECT_LT(numbered, defaults) << log;
  EXPECT_LT(defaults, text) << log;
  EXPECT_LT(text, pattern) << log;
  EXPECT_NE(pattern, std::string::npos) << log;
  printer.EndFrame(out);
  printer.EndJob();
}

// The print record's page fields as the driver receives them: the demo
// printer's resolution nearest the mode's, the smallest of its page sizes
// holding the frame (else its default, A4) and that page's paper path.
TEST_F(PrintObj, PrintRecordNamesTheNearestResolutionAndTheFramesPage) {
  ScopedEnv path("KLV_PATH", KLV_DATA_DIR);
  PRNTINFO* demo = prntinfo_find("KlvDemo");
  ASSERT_NE(demo, nullptr);
  info_.prntinfo = demo;
  const double mm = 1 / 25.4;
  struct Case {
    const char* mode;
    double width, height;  // the frame in inches (at 360 dpi)
    const char* resolution;
    const char* page;
    double page_width, page_height;
    uint32_t path;
  } cases[] = {
      {"1440x720 dpi, FDRP Diffusion", 2, 2, "1440x720", "Letter", 8.5, 11, kPaperPathSheet},
      {"720 dpi, Screen(85 lpi)", 8.4, 11.5, "720x720", "A3", 297 * mm, 420 * mm, kPaperPathSheet},
      {"720 dpi, Screen(85 lpi)", 20, 2, "720x720", "Roll 24in", 24, 1200, kPaperPathRoll},
      {"720 dpi, Screen(85 lpi)", 30, 2, "720x720", "A4", 210 * mm, 297 * mm, kPaperPathSheet},
      {"No Such Mode", 2, 2, "", "Letter", 8.5, 11, kPaperPathSheet},
  };
  {
    CPrintObj printer(object_, "KlvDemo", &info_, true);
    for (const Case& c : cases) {
      ASSERT_EQ(printer.StartJob(CPrintJobInfo{}), 0);
      const image_info image =
          dots_image(int32_t(c.width * 360), int32_t(c.height * 360), KLV_PLANAR_LINES);
      CPrintFrameInfo f;
      f.media = "Glossy Photo";
      f.mode = c.mode;
      IMG_file* out = nullptr;
      ASSERT_EQ(printer.BeginFrame(f, &image, &out), 0) << c.mode;
      const uint8_t* print = object_->print;
      EXPECT_STREQ(reinterpret_cast<const char*>(print + kPrintResolutionAt), c.resolution)
          << c.mode;
      EXPECT_STREQ(reinterpret_cast<const char*>(print + kPrintPageAt), c.page) << c.width;
      double w = 0, h = 0;
      uint32_t paper = 9;
      std::memcpy(&w, print + kPrintPageWidthAt, 8);
      std::memcpy(&h, print + kPrintPageHeightAt, 8);
      std::memcpy(&paper, print + kPrintPaperPathAt, 4);
      EXPECT_NEAR(w, c.page_width, 1e-3) << c.page;
      EXPECT_NEAR(h, c.page_height, 1e-3) << c.page;
      EXPECT_EQ(paper, c.path) << c.page;
      printer.EndFrame(out);  // cut short: the job is cancelled
      printer.EndJob();
    }
  }
  prntinfo_free(demo);
}

TEST_F(PrintObj, BufferDescriptionIsTheFramesDots) {
  CPrintObj printer(object_, "Rec", &info_, true);
  struct Case {
    image_info image;
    const char* repeat;
    int32_t width, height;
  } cases[] = {{dots_image(9, 3, KLV_PLANAR_PIXEL), "", 9, 3},
               {dots_image(9, 3, KLV_PLANAR_LINES), "3x1", 27, 3},
               {printtest::contone_info(16, 5, 360), "2x2", 32, 10}};
  for (const Case& c : cases) {
    CPrintFrameInfo f;
    f.repeat = c.repeat;
    image_info buffer;
    init_image_info(&buffer);
    SP_COLOR_SETUP setup{};
    ASSERT_EQ(printer.GetBufImin(f, &c.image, &buffer, &setup), 0) << c.repeat;
    EXPECT_EQ(setup.channels, 4);
    EXPECT_EQ(buffer.width, c.width);
    EXPECT_EQ(buffer.height, c.height);
    EXPECT_EQ(buffer.bits_per_sample, 1u);
    EXPECT_EQ(buffer.samples, 4u);
    EXPECT_EQ(buffer.planar, uint32_t(KLV_PLANAR_LINES));
    EXPECT_EQ(buffer.bytes_per_line, 4 * ((uint32_t(c.width) + 7) / 8));
  }
  EXPECT_FALSE(printer.HasFrame());
  image_info five = printtest::contone_info(4, 4, 360);
  five.samples = 5;
  image_info buffer;
  EXPECT_EQ(printer.GetBufImin(CPrintFrameInfo{}, &five, &buffer), 2);
}

// A job frame's preview: a flat contone page comes back flat, its longer
// side 400 pixels.
TEST_F(PrintObj, JobFrameKeepsAPreviewOfWhatWasWritten) {
  ScratchFolder folder("print_preview");
  const std::string path = folder.path("job.vol");
  SOVolume* volume = VOpen(nullptr, path.c_str(), KLV_VOL_CREATE);
  ASSERT_NE(volume, nullptr);
  const image_info contone = printtest::contone_info(1000, 250, 360);
  {
    CPrintObj printer(object_, "Rec", &info_, true);
    IMG_file* out = nullptr;
    ASSERT_EQ(printer.BeginJobFrame(volume, "Frame.001", CPrintFrameInfo{}, &contone, &out, nullptr,
                                    nullptr),
              0);
    std::vector<uint8_t> lines(size_t(contone.bytes_per_line) * contone.height);
    for (size_t i = 0; i < lines.size(); ++i) lines[i] = uint8_t(0x20 * (i % 4 + 1));
    EXPECT_EQ(img_write_line(out, lines.data(), contone.height), contone.height);
    EXPECT_EQ(printer.EndFrame(out), 0);
  }
  SOVolume* back = VOpen(nullptr, path.c_str(), KLV_VOL_READ);
  ASSERT_NE(back, nullptr);
  image_info frame, preview;
  init_image_info(&frame);
  init_image_info(&preview);
  IMG_file* dots = outimg_open_img("Frame.001", back, "r", &frame);
  ASSERT_NE(dots, nullptr);
  EXPECT_EQ(frame.width, 1000);
  EXPECT_EQ(frame.bits_per_sample, 1u);
  img_close(dots);
  IMG_file* img = outimg_open_img(KLV_JOB_FRAME_PREVIEW, back, "r", &preview);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(preview.width, 400);
  EXPECT_EQ(preview.height, 100);
  EXPECT_EQ(preview.samples, 4u);
  std::vector<uint8_t> line(preview.bytes_per_line);
  ASSERT_EQ(img_seek_line(img, 50, 0, 0, 0), 50);
  ASSERT_EQ(img_read_line(img, line.data(), 1), 1);
  EXPECT_EQ(line[0], 0x20);
  EXPECT_EQ(line[1], 0x40);
  EXPECT_EQ(line[4 * 399 + 3], 0x80);
  img_close(img);
  VClose(back);
}

// A contone frame buffered and printed later reaches the driver as the
// same frame printed directly.
TEST_F(PrintObj, BufferedContoneFramePrintsAsTheDirectOne) {
  ScratchFolder folder("print_buffered_contone");
  const std::string buffer = folder.path("frame.buf");
  const image_info contone = printtest::contone_info(16, 5, 360);
  const std::vector<uint8_t> page = printtest::contone_page(contone);
  CPrintFrameInfo f;
  f.repeat = "2x2";
  CPrintObj printer(object_, "Rec", &info_, true);
  ASSERT_EQ(printer.StartJob(CPrintJobInfo{}), 0);
  IMG_file* out = nullptr;
  ASSERT_EQ(printer.BeginFrame(f, &contone, &out), 0);
  EXPECT_EQ(img_write_line(out, const_cast<uint8_t*>(page.data()), 5), 5);
  EXPECT_EQ(printer.EndFrame(out), 0);
  EXPECT_EQ(printer.EndJob(), 0);
  const std::vector<std::string> direct = scanlines(rec_.log());
  ASSERT_EQ(direct.size(), 10u);
  rec_.clear_log();
  SP_COLOR_SETUP setup{};
  ASSERT_EQ(printer.BeginBufferedFrame(buffer.c_str(), f, &contone, &out, nullptr, &setup), 0);
  EXPECT_EQ(img_write_line(out, const_cast<uint8_t*>(page.data()), 5), 5);
  EXPECT_EQ(printer.EndFrame(out), 0);
  ASSERT_EQ(printer.StartJob(CPrintJobInfo{}), 0);
  IMG_file* in = nullptr;
  ASSERT_EQ(printer.PrintBuffered(buffer.c_str(), f, &contone, &in, nullptr, &setup), 0);
  EXPECT_EQ(printer.EndJob(), 0);
  EXPECT_EQ(scanlines(rec_.log()), direct) << rec_.log();
}

}  // namespace
