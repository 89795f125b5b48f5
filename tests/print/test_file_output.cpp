// SPDX-License-Identifier: MIT
// The file driver's writers: PackBits rows and the preview's pair counting
// give the same bytes as the plain paths (libtiff's own encoder, counting a
// pixel at a time), over rows made of every kind of run and literal.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/files.h"

#ifdef KLV_FILE_DRIVER
#include "file_output.h"

namespace {

using klv::test::ScratchFolder;

// Rows of runs of lengths 1, 2, 3, 126 to 130, 200 and 300 between literals
// of every length up to 300, and random bytes of several densities.
std::vector<uint8_t> page_of(const klvdrv::PrintShape& shape, uint32_t seed) {
  std::mt19937 random(seed);
  const size_t line = shape.LineBytes();
  std::vector<uint8_t> page(line * shape.height);
  const int runs[] = {1, 2, 3, 126, 127, 128, 129, 130, 200, 300};
  for (uint32_t y = 0; y < shape.height; ++y) {
    uint8_t* row = &page[y * line];
    size_t x = 0;
    while (x < line) {
      const bool run = random() % 2;
      size_t n = run ? size_t(runs[random() % 10]) : 1 + random() % 300;
      n = std::min(n, line - x);
      const uint8_t value = uint8_t(random());
      for (size_t i = 0; i < n; ++i, ++x)
        row[x] = run ? value : uint8_t(y % 3 == 0 ? random() : random() & random() & 0x11);
    }
  }
  return page;
}

struct Written {
  std::vector<uint8_t> tiff, png;
};

Written write(const ScratchFolder& folder, bool plain, const klvdrv::PrintShape& shape,
              const std::vector<uint8_t>& page, uint32_t rows) {
  const std::string tag = plain ? "plain" : "fast";
  const std::vector<klvdrv::Separation> seps(shape.channels, {"Ink", {10, 200, 30}});
  klvdrv::TiffPages tiff;
  tiff.SetPlain(plain);
  klvdrv::Preview preview;
  preview.SetPlain(plain);
  EXPECT_TRUE(tiff.Open(folder.path(tag + ".tif")));
  for (uint16_t p = 0; p < 2; ++p) {
    EXPECT_TRUE(tiff.StartPage(shape, seps, "page", p));
    EXPECT_TRUE(preview.Start(shape, seps));
    for (uint32_t y = 0; y < rows; ++y) {
      const uint8_t* line = &page[size_t(y) * shape.LineBytes()];
      EXPECT_TRUE(tiff.WriteLine(y, line));
      preview.AddLine(y, line);
    }
    EXPECT_TRUE(tiff.EndPage());  // the rows not sent are blank
  }
  tiff.Close();
  EXPECT_TRUE(preview.WritePng(folder.path(tag + ".png")));
  return {klv::test::read_file(folder.path(tag + ".tif")),
          klv::test::read_file(folder.path(tag + ".png"))};
}

TEST(FileOutput, FastWritersGiveThePlainBytes) {
  ScratchFolder folder("file_output");
  struct Case {
    uint32_t width, height, bits, channels, rows;
  } cases[] = {{2333, 75, 1, 4, 75}, {1001, 40, 2, 4, 33}, {999, 1203, 1, 4, 1203},
               {517, 9, 1, 1, 9},    {130, 50, 1, 2, 50},  {64, 1000, 4, 3, 1000},
               {12000, 3, 1, 4, 3}};
  uint32_t seed = 1;
  for (const Case& c : cases) {
    klvdrv::PrintShape shape;
    shape.width = c.width;
    shape.height = c.height;
    shape.bits = c.bits;
    shape.channels = c.channels;
    shape.xres = shape.yres = 720;
    const std::vector<uint8_t> page = page_of(shape, seed++);
    const Written plain = write(folder, true, shape, page, c.rows);
    const Written fast = write(folder, false, shape, page, c.rows);
    ASSERT_FALSE(plain.tiff.empty());
    EXPECT_TRUE(plain.tiff == fast.tiff) << c.width << "x" << c.height << " bits " << c.bits;
    ASSERT_FALSE(plain.png.empty());
    EXPECT_TRUE(plain.png == fast.png) << c.width << "x" << c.height << " bits " << c.bits;
    klvdrv::DotCounter table, counted;
    table.SetPlain(true);
    table.SetShape(c.bits, c.width);
    counted.SetShape(c.bits, c.width);
    for (size_t at = 0; at + shape.PlaneBytes() <= page.size(); at += shape.PlaneBytes())
      ASSERT_EQ(table.Count(&page[at]), counted.Count(&page[at])) << at;
  }
}

TEST(FileOutput, PackBitsOfRunsAndLiteralsAtTheirLimits) {
  // Decoded, every row gives back its bytes; a row of one repeated byte is
  // runs of 128 and the rest.
  std::vector<uint8_t> row(300, 7), out(klvdrv::PackBitsBound(row.size()));
  uint8_t* end = klvdrv::PackBitsRow(row.data(), row.size(), out.data());
  EXPECT_EQ(std::vector<uint8_t>(out.data(), end),
            (std::vector<uint8_t>{0x81, 7, 0x81, 7, 0xD5, 7}));
  // 130 different bytes: a literal of 128, then one of 2.
  for (size_t i = 0; i < 130; ++i) row[i] = uint8_t(i);
  end = klvdrv::PackBitsRow(row.data(), 130, out.data());
  ASSERT_EQ(end - out.data(), 132);
  EXPECT_EQ(out[0], 127);
  EXPECT_EQ(out[129], 1);
  // A run of two between literals joins them: 1 2 2 3 is one literal.
  const uint8_t joined[] = {1, 2, 2, 3};
  end = klvdrv::PackBitsRow(joined, 4, out.data());
  EXPECT_EQ(std::vector<uint8_t>(out.data(), end), (std::vector<uint8_t>{3, 1, 2, 2, 3}));
}

}  // namespace

#endif
