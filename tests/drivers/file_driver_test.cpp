// SPDX-License-Identifier: MIT
// The file driver: what it is sent comes back from its TIFF pages sample for
// sample, each print has a PNG preview, and its dot counts match the samples.
#include <gtest/gtest.h>
#include <png.h>
#include <tiffio.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "driver_test_util.h"
#include "support/env.h"
#include "support/files.h"
#include "klv/printer_driver.h"

#ifdef KLV_FILE_DRIVER

namespace {

using klv::test::ScratchFolder;

struct Page {
  uint32_t width, height, bits, channels, lines_sent;
  std::vector<uint8_t> data;  // lines_sent lines
  size_t Plane() const { return (bits * width + 7) / 8; }
};

Page MakePage(uint32_t width, uint32_t height, uint32_t bits, uint32_t channels, uint32_t sent,
              uint32_t seed) {
  Page page{width, height, bits, channels, sent, {}};
  std::mt19937 random(seed);
  page.data.resize(page.Plane() * channels * sent);
  for (auto& b : page.data) b = static_cast<uint8_t>(random());
  return page;
}

// The number of non-zero samples of a plane, padding bits left out.
uint64_t CountDots(const uint8_t* plane, uint32_t width, uint32_t bits) {
  uint64_t n = 0;
  for (uint32_t x = 0; x < width; ++x) {
    const uint32_t bit = x * bits;
    if ((plane[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1)) ++n;
  }
  return n;
}

void ReadPngSize(const std::string& path, uint32_t* width, uint32_t* height) {
  *width = *height = 0;
  FILE* file = std::fopen(path.c_str(), "rb");
  ASSERT_NE(file, nullptr) << path;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (!setjmp(png_jmpbuf(png))) {
    png_init_io(png, file);
    png_read_info(png, info);
    *width = png_get_image_width(png, info);
    *height = png_get_image_height(png, info);
  }
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(file);
}

TEST(FileDriver, TiffPagesDecodeToTheDotsSent) {
  ScratchFolder dir("filedrv");
  int32_t error = -1;
  SP_OBJECT* object = SP_open(KLV_FILE_DRIVER, "KlvDemo", &error, "KlvDemo");
  ASSERT_NE(object, nullptr) << error;
  const std::string port = dir.path("out");
  ASSERT_EQ(SP_set_port_name(object, port.c_str()), 0);

  MLPROCINFO ml{};
  ASSERT_EQ(SP_get_mlproc_info(object, "Glossy Photo", "", &ml), 0);
  EXPECT_EQ(ml.output_bits, 2);
  EXPECT_EQ(ml.color[0].levels, 3);
  EXPECT_EQ(ml.color[0].upper_code[2], 3);
  SP_COLOR_INFO colours{};
  ASSERT_EQ(SP_get_color_info(object, nullptr, nullptr, &colours), 0);
  EXPECT_EQ(colours.channels, 4u);

  // Pages: 2 bits with a padded last byte, 1 bit, 4 bits, one cut short.
  const std::vector<Page> pages = {
      MakePage(9, 5, 2, 4, 5, 1),
      MakePage(17, 3, 1, 4, 3, 2),
      MakePage(5, 4, 4, 1, 4, 3),
      MakePage(801, 6, 2, 4, 4, 4),
  };
  SP_JOB job{};
  std::strcpy(job.name, "unit/job");
  ASSERT_EQ(SP_start_job(object, &job), 0);
  ASSERT_EQ(SP_command(object, SP_CMD_DOTS_RESET, reinterpret_cast<void*>(5), nullptr), 0);
  std::vector<uint64_t> expected_dots(4, 0);
  for (const auto& page : pages) {
    SP_PRINT print{};
    print.width = page.width;
    print.height = page.height;
    print.bits = page.bits;
    print.channels = page.channels;
    print.xres = 720;
    print.yres = 360;
    ASSERT_EQ(SP_start_print(object, &print, nullptr), 0);
    SP_PASS pass{SP_PASS_SIZE, 0, 0};
    ASSERT_EQ(SP_start_pass(object, &pass), 0);
    const size_t line = page.Plane() * page.channels;
    for (uint32_t row = 0; row < page.lines_sent; ++row) {
      ASSERT_EQ(SP_print_scanline_data(object, &page.data[row * line], 1), 0);
      for (uint32_t c = 0; c < page.channels; ++c)
        expected_dots[c] +=
            CountDots(&page.data[row * line + c * page.Plane()], page.width, page.bits);
    }
    ASSERT_EQ(SP_end_pass(object), 0);
    ASSERT_EQ(SP_end_print(object), 0);
  }
  _SP_DOT_COUNT counts{};
  ASSERT_EQ(SP_command(object, SP_CMD_DOTS_GET, &counts, nullptr), 0);
  for (int c = 0; c < 4; ++c) EXPECT_EQ(counts.dots[c], expected_dots[c]) << c;
  ASSERT_EQ(SP_end_job(object), 0);

  // Too many lines, or a print the driver cannot write, is refused.
  std::strcpy(job.name, "second");
  ASSERT_EQ(SP_start_job(object, &job), 0);
  SP_PRINT bad{};
  bad.width = 4;
  bad.height = 1;
  bad.bits = 3;
  bad.channels = 4;
  EXPECT_EQ(SP_start_print(object, &bad, nullptr), SP_ERR_ARGUMENT);
  bad.bits = 1;
  ASSERT_EQ(SP_start_print(object, &bad, nullptr), 0);
  const uint8_t line[4] = {0x80, 0, 0, 0};
  EXPECT_EQ(SP_print_scanline_data(object, line, 1), 0);
  EXPECT_EQ(SP_print_scanline_data(object, line, 1), SP_ERR_ARGUMENT);
  SP_close(object);  // closing mid-job leaves no crash

  // Read the first job back (the job name became a file name).
  TIFF* tif = TIFFOpen((port + "/unit_job.tif").c_str(), "r");
  ASSERT_NE(tif, nullptr);
  int index = 0;
  do {
    ASSERT_LT(index, static_cast<int>(pages.size()));
    const Page& page = pages[index];
    SCOPED_TRACE(index);
    uint32_t width = 0, height = 0;
    uint16_t bits = 0, samples = 0, planar = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetField(tif, TIFFTAG_PLANARCONFIG, &planar);
    EXPECT_EQ(width, page.width);
    EXPECT_EQ(height, page.height);
    EXPECT_EQ(bits, page.bits);
    EXPECT_EQ(samples, page.channels);
    EXPECT_EQ(planar, PLANARCONFIG_SEPARATE);
    if (page.channels == 4) {
      char* names = nullptr;
      ASSERT_TRUE(TIFFGetField(tif, TIFFTAG_INKNAMES, &names));
      EXPECT_STREQ(names, "Black");
    }
    std::vector<uint8_t> row(TIFFScanlineSize(tif));
    ASSERT_EQ(row.size(), page.Plane());
    for (uint32_t c = 0; c < page.channels; ++c)
      for (uint32_t y = 0; y < page.height; ++y) {
        ASSERT_EQ(TIFFReadScanline(tif, row.data(), y, static_cast<uint16_t>(c)), 1);
        const uint8_t* sent =
            y < page.lines_sent ? &page.data[(y * page.channels + c) * page.Plane()] : nullptr;
        for (size_t i = 0; i < row.size(); ++i)
          ASSERT_EQ(row[i], sent ? sent[i] : 0) << "plane " << c << " row " << y;
      }
    uint32_t pw = 0, ph = 0;
    ReadPngSize(port + "/unit_job-" + std::to_string(index + 1) + ".png", &pw, &ph);
    const uint32_t longer = std::max(page.width, page.height);
    const uint32_t factor = (longer + 399) / 400;
    EXPECT_EQ(pw, (page.width + factor - 1) / factor);
    EXPECT_EQ(ph, (page.height + factor - 1) / factor);
    ++index;
  } while (TIFFReadDirectory(tif));
  EXPECT_EQ(index, static_cast<int>(pages.size()));
  TIFFClose(tif);
}

TEST(FileDriver, DemoPrinterOpensThroughItsTypesList) {
  const std::string driver_dir = std::filesystem::path(KLV_FILE_DRIVER).parent_path().string();
  klv::test::ScopedEnv path("KLV_PATH", std::string(KLV_DATA_DIR) + ":" + driver_dir);
  int32_t error = -1;
  SP_OBJECT* object = SP_open_printer("KlvDemo", &error);
  ASSERT_NE(object, nullptr) << error;
  EXPECT_STREQ(GetPrinterHandleDeviceName(object->handle), "KlvDemo");
  char area[80] = "";
  EXPECT_EQ(SP_get_printable_area(object, area), 0);
  EXPECT_STREQ(area, "24.000000x1200.000000");
  SP_close(object);
}

}  // namespace

#endif
