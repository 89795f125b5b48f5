// SPDX-License-Identifier: MIT
// Damaged and lying files (fixtures made by tests/data/formats/make_damaged.py):
// each is refused when it is opened, or checked, with one log line that names
// the fault, instead of being decoded at length or delivered with invented
// lines. And the resource limits: their registry names, their environment
// override, and what they let through.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "klv/image_limits.h"
#include "klv/imgmux.h"
#include "klv/streams.h"
#include "support/env.h"
#include "support/files.h"
#include "support/log_capture.h"

namespace {

using klv::test::LogCapture;
using klv::test::ScopedEnv;

struct Damaged {
  const char* file;
  const char* logged;  // a part of the line that names the fault
};

class DamagedFile : public ::testing::TestWithParam<Damaged> {};

TEST_P(DamagedFile, RefusedAtOpenAndByTheValidityCheck) {
  const Damaged& c = GetParam();
  const std::string path = klv::test::fixture("formats", c.file);
  {
    LogCapture log;
    image_info info;
    init_image_info(&info);
    IMG_file* img = img_mux_open(path.c_str(), nullptr, "r", &info, 0);
    EXPECT_EQ(img, nullptr);
    if (img) img_close(img);
    EXPECT_NE(log.Text().find(c.logged), std::string::npos) << log.Text();
  }
  LogCapture log;
  EXPECT_EQ(img_check_valid(nullptr, path.c_str(), 0), 0);
  EXPECT_NE(log.Text().find(c.logged), std::string::npos) << log.Text();
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, DamagedFile,
    ::testing::Values(
        // ImageLength 65535 over one strip of 201 rows.
        Damaged{"tall_palette.tif", "the strips do not cover the image"},
        // 2 KB of Deflate claiming 100000x100000 pixels.
        Damaged{"deflate_bomb.tif", "above MaxPixelsPerByte 65536"},
        // 1 KB of RLE8 claiming 65536x65536 pixels.
        Damaged{"rle_gigapixel.bmp", "65536x65536 pixels from 1104 bytes of compressed file"},
        // Top-down RLE8 claiming 100000x100000 pixels in 2 KB of deltas.
        Damaged{"rle_topdown_huge.bmp", "set MaxPixelsPerByte higher"},
        // 24-bit, 30 rows stated, 10 in the file.
        Damaged{"short24.bmp", "need 3654 bytes to hold every row, file has 1254"}),
    [](const auto& info) {
      std::string n = info.param.file;
      for (char& ch : n)
        if (ch == '.') ch = '_';
      return n;
    });

TEST(DamagedFile, UnknownTagsAreCountedInOneLine) {
  LogCapture log;
  image_info info;
  init_image_info(&info);
  IMG_file* img = img_mux_open(klv::test::fixture("formats", "unknown_tags.tif").c_str(), nullptr,
                               "r", &info, 0);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(info.width, 2);
  img_close(img);
  const std::string text = log.Text();
  EXPECT_NE(text.find("3000 unknown tags ignored"), std::string::npos) << text;
  EXPECT_EQ(text.find("Unknown field"), std::string::npos) << "no line per tag";
}

TEST(DamagedFile, PlanarThreeBitTiffReadsAsTheGeneratorWroteIt) {
  // 7x3 RGB, sample of pixel x, row y, plane p = (x + 2y + 3p) & 7.
  image_info info;
  init_image_info(&info);
  IMG_file* src = img_mux_open(klv::test::fixture("formats", "planar3.tif").c_str(), nullptr, "r",
                               &info, KLV_TYPE_TIFF);
  ASSERT_NE(src, nullptr);
  IMG_file* img = contimg_to_img(contimg_attach(src, nullptr, 0));
  ASSERT_NE(img, nullptr);
  ASSERT_EQ(img->info.bits_per_sample, 3u);
  std::vector<uint8_t> line(img->info.bytes_per_line);
  for (int y = 0; y < 3; ++y) {
    ASSERT_EQ(img_read_line(img, line.data(), 1), 1);
    for (int x = 0; x < 7; ++x)
      for (int p = 0; p < 3; ++p) {
        const unsigned at = unsigned(x * 3 + p) * 3;
        unsigned v = 0;
        for (unsigned k = at; k < at + 3; ++k) v = (v << 1) | ((line[k / 8] >> (7 - k % 8)) & 1u);
        EXPECT_EQ(v, unsigned(x + 2 * y + 3 * p) & 7u) << x << "," << y << " plane " << p;
      }
  }
  img_close(img);
}

TEST(ImageLimits, RegistryValuesAndTheirEffect) {
  {
    ScopedEnv a("MaxImagePixels", nullptr), b("MaxPixelsPerByte", nullptr);
    ScopedEnv reg("KLV_REGISTRY", "/nonexistent/Registry.info");
    klv_image_limits l;
    klv_image_limits_get(&l);
    EXPECT_EQ(l.max_pixels, KLV_DEFAULT_MAX_IMAGE_PIXELS);
    EXPECT_EQ(l.max_pixels_per_byte, KLV_DEFAULT_MAX_PIXELS_PER_BYTE);
    // A 3 m x 50 m print at 1440 dpi, uncompressed or from a 64 MB file.
    EXPECT_EQ(klv_image_limits_check("TIFF", "job", 170079, 2834646, 0), 1);
    EXPECT_EQ(klv_image_limits_check("TIFF", "job", 170079, 2834646, uint64_t{64} << 20), 1);
    // Small images are never held to the ratio.
    EXPECT_EQ(klv_image_limits_check("BMP", nullptr, 4096, 4096, 1), 1);
  }
  ScopedEnv a("MaxImagePixels", "1000000"), b("MaxPixelsPerByte", "0");
  LogCapture log;
  EXPECT_EQ(klv_image_limits_check("TIFF", "big", 2000, 1000, 0), 0);
  EXPECT_NE(log.Text().find("TIFF \"big\": 2000x1000 is 2000000 pixels, above MaxImagePixels "
                            "1000000; set MaxImagePixels higher"),
            std::string::npos)
      << log.Text();
  EXPECT_EQ(klv_image_limits_check("TIFF", "ok", 1000, 1000, 0), 1);
  // A ratio of 0 lifts that limit: the fixture opens (and is then too big to
  // read, which is not asked here).
  ScopedEnv c("MaxImagePixels", "0");
  image_info info;
  init_image_info(&info);
  IMG_file* img = img_mux_open(klv::test::fixture("formats", "rle_gigapixel.bmp").c_str(), nullptr,
                               "r", &info, 0);
  EXPECT_NE(img, nullptr);
  if (img) img_close(img);
}

}  // namespace
