// SPDX-License-Identifier: MIT
// The file driver's page writer: pages written by its worker threads are the
// bytes written on the caller's thread (TIFF, preview and dots) over pages of
// several shapes, lines handed over in bunches of every size; a page stopped
// half-way ends its workers; and a TIFF that cannot be written fails the
// page, and through the driver the job, with a log line and no file left.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "klv/printobj_cxx.h"
#include "support/files.h"
#include "support/log_capture.h"

#ifdef KLV_FILE_DRIVER
#include "page_writer.h"

namespace {

namespace fs = std::filesystem;
using klv::test::LogCapture;
using klv::test::ScratchFolder;

// Dots of a few densities, blank stretches and runs.
std::vector<uint8_t> page_of(const klvdrv::PrintShape& shape, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> page(shape.LineBytes() * shape.height);
  for (size_t i = 0; i < page.size(); ++i) {
    const size_t y = i / shape.LineBytes();
    page[i] = y % 7 == 3 ? 0 : uint8_t(y % 3 ? random() & random() : (i / 40) * 17);
  }
  return page;
}

struct Output {
  std::vector<uint8_t> tiff, png;
  std::vector<uint64_t> dots;
};

// Two pages of `shape` (the second one short: its last rows blank), the
// lines handed over `bunch` at a time.
Output write_pages(const ScratchFolder& folder, bool threaded, const klvdrv::PrintShape& shape,
                   const std::vector<uint8_t>& page, uint32_t bunch) {
  const std::string tag = threaded ? "threaded" : "inline";
  const std::vector<klvdrv::Separation> seps(shape.channels, {"Ink", {10, 200, 30}});
  klvdrv::PageWriter writer(threaded);
  EXPECT_TRUE(writer.Open(folder.path(tag + ".tif")));
  Output out;
  for (uint16_t p = 0; p < 2; ++p) {
    EXPECT_TRUE(writer.StartPage(shape, seps, "page", p));
    const uint32_t rows = p == 0 ? shape.height : shape.height * 2 / 3;
    for (uint32_t y = 0; y < rows; y += bunch)
      EXPECT_TRUE(writer.AddLines(&page[size_t(y) * shape.LineBytes()], std::min(bunch, rows - y)));
    if (p == 0) out.dots.assign(writer.Dots(), writer.Dots() + shape.channels);  // mid-job
    EXPECT_EQ(writer.EndPage(folder.path(tag + ".png")), klvdrv::PageWriter::End::kDone);
  }
  const uint64_t* dots = writer.Dots();
  out.dots.insert(out.dots.end(), dots, dots + shape.channels);
  writer.Close();
  out.tiff = klv::test::read_file(folder.path(tag + ".tif"));
  out.png = klv::test::read_file(folder.path(tag + ".png"));
  return out;
}

TEST(PageWriter, WorkersWriteTheBytesOfTheCallersThread) {
  ScratchFolder folder("page_writer");
  struct Case {
    uint32_t width, height, bits, channels, bunch;
  } cases[] = {{2333, 301, 1, 4, 1}, {1001, 97, 2, 4, 7},  {999, 1203, 1, 4, 32},
               {517, 9, 1, 1, 100},  {130, 250, 4, 3, 33}, {8000, 64, 1, 4, 64},
               {3, 5, 1, 4, 2},      {640, 200, 1, 16, 31}};
  uint32_t seed = 7;
  for (const Case& c : cases) {
    klvdrv::PrintShape shape;
    shape.width = c.width;
    shape.height = c.height;
    shape.bits = c.bits;
    shape.channels = c.channels;
    shape.xres = shape.yres = 720;
    const std::vector<uint8_t> page = page_of(shape, seed++);
    const Output one = write_pages(folder, false, shape, page, c.bunch);
    const Output two = write_pages(folder, true, shape, page, c.bunch);
    ASSERT_FALSE(one.tiff.empty());
    ASSERT_FALSE(one.png.empty());
    EXPECT_TRUE(one.tiff == two.tiff) << c.width << "x" << c.height;
    EXPECT_TRUE(one.png == two.png) << c.width << "x" << c.height;
    EXPECT_EQ(one.dots, two.dots) << c.width << "x" << c.height;
  }
}

TEST(PageWriter, PageStoppedHalfWayEndsItsWorkers) {
  ScratchFolder folder("page_writer_stop");
  klvdrv::PrintShape shape;
  shape.width = 4000;
  shape.height = 1200;
  shape.channels = 4;
  const std::vector<uint8_t> page = page_of(shape, 3);
  const std::vector<klvdrv::Separation> seps(4);
  for (int round = 0; round < 12; ++round) {
    klvdrv::PageWriter writer(true);
    ASSERT_TRUE(writer.Open(folder.path("stopped.tif")));
    ASSERT_TRUE(writer.StartPage(shape, seps, "", 0));
    // Stopped at once, or with bands still in the workers' hands.
    const uint32_t rows = uint32_t(round) * 97 % shape.height;
    for (uint32_t y = 0; y < rows; y += 50)
      ASSERT_TRUE(writer.AddLines(&page[size_t(y) * shape.LineBytes()], std::min(50u, rows - y)));
    writer.StopPage();
    EXPECT_FALSE(writer.AddLines(page.data(), 1));  // nothing more is taken
    // The next job starts afresh.
    ASSERT_TRUE(writer.Open(folder.path("next.tif")));
    ASSERT_TRUE(writer.StartPage(shape, seps, "", 0));
    ASSERT_TRUE(writer.AddLines(page.data(), 40));
    if (round % 2) writer.Close();  // closed with the page in progress
  }
}

// Files larger than `limit` bytes cannot be written while it lives
// (writes past it fail instead of raising a signal).
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t limit) {
    old_signal_ = std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &old_);
    rlimit lower = old_;
    lower.rlim_cur = limit;
    setrlimit(RLIMIT_FSIZE, &lower);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, old_signal_);
  }

 private:
  rlimit old_{};
  void (*old_signal_)(int) = nullptr;
};

TEST(PageWriter, TiffThatCannotBeWrittenFailsThePage) {
  ScratchFolder folder("page_writer_full");
  klvdrv::PrintShape shape;
  shape.width = 4000;
  shape.height = 3000;
  shape.channels = 4;
  const std::vector<uint8_t> page = page_of(shape, 5);
  const std::vector<klvdrv::Separation> seps(4);
  for (bool threaded : {false, true}) {
    klvdrv::PageWriter writer(threaded);
    ASSERT_TRUE(writer.Open(folder.path("full.tif")));
    ASSERT_TRUE(writer.StartPage(shape, seps, "", 0));
    bool failed = false;
    {
      FileSizeLimit limit(256 * 1024);
      for (uint32_t y = 0; y < shape.height && !failed; y += 10)
        failed = !writer.AddLines(&page[size_t(y) * shape.LineBytes()], 10);
      // A failure the worker meets with the last lines is told at the end.
      if (!failed)
        failed = writer.EndPage(folder.path("full.png")) == klvdrv::PageWriter::End::kTiffFailed;
    }
    EXPECT_TRUE(failed) << threaded;
    EXPECT_FALSE(fs::exists(folder.path("full.png"))) << threaded;
    writer.Close();
  }
}

// Through the driver: the page fails at the line whose strip cannot be
// written (or at its end), the job fails with a log line and its TIFF is
// removed.
TEST(PageWriter, DriverJobWhoseTiffCannotBeWrittenFails) {
  ScratchFolder folder("page_writer_driver");
  const std::string port = folder.path("out");
  int32_t error = 0;
  SP_OBJECT* object = SP_open(KLV_FILE_DRIVER, "KlvDemo", &error, "KlvDemo");
  ASSERT_NE(object, nullptr);
  ASSERT_EQ(SP_set_port_name(object, port.c_str()), 0);
  LogCapture log;
  SP_JOB job{};
  job.size = SP_JOB_SIZE;
  std::snprintf(job.name, sizeof job.name, "full");
  SP_PRINT print{};
  print.size = SP_PRINT_SIZE;
  print.width = 4000;
  print.height = 3000;
  print.bits = 1;
  print.channels = 4;
  print.xres = print.yres = 720;
  klvdrv::PrintShape shape;
  shape.width = print.width;
  shape.height = print.height;
  shape.channels = 4;
  const std::vector<uint8_t> page = page_of(shape, 11);
  int32_t status = 0;
  {
    FileSizeLimit limit(256 * 1024);
    ASSERT_EQ(SP_start_job(object, &job), 0);
    ASSERT_EQ(SP_start_print(object, &print, nullptr), 0);
    for (uint32_t y = 0; y < print.height && status == 0; ++y)
      status = SP_print_scanline_data(object, &page[size_t(y) * shape.LineBytes()], 1);
    if (status == 0) status = SP_end_print(object);
  }
  EXPECT_EQ(status, 100);
  EXPECT_NE(log.Text().find("file driver: cannot write"), std::string::npos) << log.Text();
  SP_cancel_job(object);
  EXPECT_FALSE(fs::exists(port + "/full.tif"));
  EXPECT_FALSE(fs::exists(port + "/full-1.png"));
  // The next job is written whole.
  ASSERT_EQ(SP_start_job(object, &job), 0);
  ASSERT_EQ(SP_start_print(object, &print, nullptr), 0);
  for (uint32_t y = 0; y < print.height; ++y)
    ASSERT_EQ(SP_print_scanline_data(object, &page[size_t(y) * shape.LineBytes()], 1), 0);
  EXPECT_EQ(SP_end_print(object), 0);
  EXPECT_EQ(SP_end_job(object), 0);
  EXPECT_TRUE(fs::exists(port + "/full.tif"));
  EXPECT_TRUE(fs::exists(port + "/full-1.png"));
  SP_close(object);
}

}  // namespace

#endif
