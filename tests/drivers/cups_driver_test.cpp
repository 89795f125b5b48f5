// SPDX-License-Identifier: MIT
// The CUPS raster driver: its stream is read back with libcups' raster reader,
// banded and planar, through a file and through a pipe; when the cups-filters
// tools are installed the stream is also converted to PDF.
#include <gtest/gtest.h>

#ifdef KLV_CUPS_DRIVER
#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "driver_test_util.h"
#include "support/env.h"
#include "support/files.h"
#include "klv/printer_driver.h"

namespace {

using klv::test::ScratchFolder;

struct Page {
  uint32_t width, height, bits, channels, flags;
  std::vector<uint8_t> data;  // height lines as sent: planes K, C, M, Y
  size_t Plane() const { return (bits * width + 7) / 8; }
};

Page MakePage(uint32_t width, uint32_t height, uint32_t bits, uint32_t channels, uint32_t flags,
              uint32_t seed) {
  Page page{width, height, bits, channels, flags, {}};
  std::mt19937 random(seed);
  page.data.resize(page.Plane() * channels * height);
  for (auto& b : page.data) b = static_cast<uint8_t>(random());
  return page;
}

void PrintJob(const std::string& port, const std::vector<Page>& pages) {
  int32_t error = -1;
  SP_OBJECT* object = SP_open(KLV_CUPS_DRIVER, "CUPS", &error, "Queue");
  ASSERT_NE(object, nullptr) << error;
  ASSERT_EQ(SP_set_port_name(object, port.c_str()), 0);
  SP_JOB job{};
  std::strcpy(job.name, "raster job");
  ASSERT_EQ(SP_start_job(object, &job), 0);
  for (const auto& page : pages) {
    SP_PRINT print{};
    print.width = page.width;
    print.height = page.height;
    print.bits = page.bits;
    print.channels = page.channels;
    print.flags = page.flags;
    print.xres = 300;
    print.yres = 150;
    ASSERT_EQ(SP_start_print(object, &print, nullptr), 0);
    const size_t line = page.Plane() * page.channels;
    for (uint32_t y = 0; y < page.height; ++y)
      ASSERT_EQ(SP_print_scanline_data(object, &page.data[y * line], 1), 0);
    ASSERT_EQ(SP_end_print(object), 0);
  }
  ASSERT_EQ(SP_end_job(object), 0);
  SP_close(object);
}

// Reads the stream back and compares it with the pages, CMYK order expected.
void ReadBack(const std::string& path, const std::vector<Page>& pages) {
  const int fd = open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0) << path;
  cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
  ASSERT_NE(raster, nullptr);
  for (size_t n = 0; n < pages.size(); ++n) {
    SCOPED_TRACE(n);
    const Page& page = pages[n];
    cups_page_header2_t h;
    ASSERT_TRUE(cupsRasterReadHeader2(raster, &h));
    EXPECT_EQ(h.cupsWidth, page.width);
    EXPECT_EQ(h.cupsHeight, page.height);
    EXPECT_EQ(h.cupsBitsPerColor, page.bits);
    EXPECT_EQ(h.HWResolution[0], 300u);
    EXPECT_EQ(h.HWResolution[1], 150u);
    EXPECT_EQ(h.cupsColorSpace, page.channels == 4 ? CUPS_CSPACE_CMYK : CUPS_CSPACE_K);
    const bool planar = page.flags & SP_PRINT_FLAG_PLANAR;
    EXPECT_EQ(h.cupsColorOrder, planar ? CUPS_ORDER_PLANAR : CUPS_ORDER_BANDED);
    const size_t plane = page.Plane(), line = plane * page.channels;
    auto sent = [&](uint32_t y, uint32_t cmyk) {
      const uint32_t source = page.channels == 4 ? (cmyk + 1) % 4 : cmyk;  // K comes first
      return &page.data[y * line + source * plane];
    };
    std::vector<uint8_t> got(h.cupsBytesPerLine);
    if (planar) {
      ASSERT_EQ(h.cupsBytesPerLine, plane);
      for (uint32_t c = 0; c < page.channels; ++c)
        for (uint32_t y = 0; y < page.height; ++y) {
          ASSERT_EQ(cupsRasterReadPixels(raster, got.data(), h.cupsBytesPerLine),
                    h.cupsBytesPerLine);
          ASSERT_EQ(std::memcmp(got.data(), sent(y, c), plane), 0) << c << " " << y;
        }
    } else {
      ASSERT_EQ(h.cupsBytesPerLine, line);
      for (uint32_t y = 0; y < page.height; ++y) {
        ASSERT_EQ(cupsRasterReadPixels(raster, got.data(), h.cupsBytesPerLine), h.cupsBytesPerLine);
        for (uint32_t c = 0; c < page.channels; ++c)
          ASSERT_EQ(std::memcmp(&got[c * plane], sent(y, c), plane), 0) << c << " " << y;
      }
    }
  }
  cups_page_header2_t extra;
  EXPECT_FALSE(cupsRasterReadHeader2(raster, &extra));
  cupsRasterClose(raster);
  close(fd);
}

TEST(CupsDriver, RasterStreamReadsBack) {
  ScratchFolder dir("cups");
  const std::vector<Page> pages = {
      MakePage(13, 7, 1, 4, 0, 1),
      MakePage(10, 5, 2, 4, SP_PRINT_FLAG_PLANAR, 2),
      MakePage(9, 4, 8, 1, 0, 3),
  };
  // A folder port receives "<job>.ras".
  PrintJob(dir.str(), pages);
  ReadBack(dir.path("raster job.ras"), pages);
  // A pipe port.
  const std::string piped = dir.path("piped.ras");
  PrintJob("|cat > '" + piped + "'", pages);
  ReadBack(piped, pages);
}

TEST(CupsDriver, RefusesWhatItCannotWrite) {
  int32_t error = -1;
  SP_OBJECT* object = SP_open(KLV_CUPS_DRIVER, "CUPS", &error, "Queue");
  ASSERT_NE(object, nullptr);
  ASSERT_EQ(SP_set_port_name(object, "/nonexistent-folder/x/y.ras"), 0);
  SP_JOB job{};
  EXPECT_EQ(SP_start_job(object, &job), 100);
  ScratchFolder dir("cupsbad");
  ASSERT_EQ(SP_set_port_name(object, dir.path("bad.ras").c_str()), 0);
  ASSERT_EQ(SP_start_job(object, &job), 0);
  SP_PRINT print{};
  print.width = 4;
  print.height = 1;
  print.bits = 1;
  print.channels = 3;  // neither K nor CMYK
  print.xres = print.yres = 300;
  EXPECT_EQ(SP_start_print(object, &print, nullptr), SP_ERR_ARGUMENT);
  print.channels = 1;
  ASSERT_EQ(SP_start_print(object, &print, nullptr), 0);
  const uint8_t line[1] = {0xF0};
  EXPECT_EQ(SP_print_scanline_data(object, line, 1), 0);
  EXPECT_EQ(SP_print_scanline_data(object, line, 1), SP_ERR_ARGUMENT);
  SP_close(object);
}

TEST(CupsDriver, ConvertsWithCupsFilters) {
  const char* candidates[] = {"/usr/sbin/cupsfilter", "/usr/lib/cups/filter/rastertopdf"};
  std::string tool;
  for (const char* c : candidates)
    if (std::filesystem::exists(c)) {
      tool = c;
      break;
    }
  if (tool.empty()) GTEST_SKIP() << "cups-filters is not installed";
  ScratchFolder dir("cupsfilter");
  PrintJob(dir.str(), {MakePage(64, 32, 1, 4, 0, 7)});
  const std::string input = dir.path("raster job.ras"), output = dir.path("out.pdf");
  std::string command;
  if (tool.find("cupsfilter") != std::string::npos) {
    command = tool + " -i application/vnd.cups-raster -m application/pdf '" + input + "' > '" +
              output + "' 2>/dev/null";
  } else {
    command = tool + " 1 user title 1 '' '" + input + "' > '" + output + "' 2>/dev/null";
  }
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  EXPECT_EQ(klv::test::read_text(output).rfind("%PDF", 0), 0u);
}

}  // namespace

#endif
