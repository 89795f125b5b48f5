// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <numeric>

#include "mem_streams.h"
#include "klv/filter.h"
#include "klv/tilefilter.h"

using namespace filters_test;

namespace {

std::vector<uint8_t> pattern(int w, int h, int spp) {
  std::vector<uint8_t> p(size_t(w) * h * spp);
  for (size_t i = 0; i < p.size(); ++i) p[i] = uint8_t((i * 7 + i / 251) & 0xFF);
  return p;
}

std::vector<uint8_t> read_all(IMG_file* img) {
  std::vector<uint8_t> out(size_t(img->info.bytes_per_line) * img->info.height);
  EXPECT_EQ(img_read_line(img, out.data(), img->info.height), img->info.height);
  return out;
}

// The same quarter turns and mirror done on the whole picture.
std::vector<uint8_t> turn(const std::vector<uint8_t>& p, int w, int h, int spp, int rot, int* ow,
                          int* oh) {
  int turns = rot & 3;
  *ow = turns & 1 ? h : w;
  *oh = turns & 1 ? w : h;
  std::vector<uint8_t> o(p.size());
  for (int y = 0; y < *oh; ++y)
    for (int x = 0; x < *ow; ++x) {
      int xx = (rot & 4) ? *ow - 1 - x : x;
      int sx, sy;
      switch (turns) {
        case 1:
          sx = y, sy = h - 1 - xx;
          break;
        case 2:
          sx = w - 1 - xx, sy = h - 1 - y;
          break;
        case 3:
          sx = w - 1 - y, sy = xx;
          break;
        default:
          sx = xx, sy = y;
      }
      for (int s = 0; s < spp; ++s)
        o[(size_t(y) * *ow + x) * spp + s] = p[(size_t(sy) * w + sx) * spp + s];
    }
  return o;
}

}  // namespace

TEST(TileFilter, PartialTileRowsDeliverEveryLine) {
  auto pix = pattern(300, 300, 3);
  auto* src = (new MemTiles(300, 300, 3, 256, 256, false, pix))->ToImg('r', 10);
  IMG_file* img = tilefilter_attachtiledimg(src, 0);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->info.planar, 0u);
  EXPECT_EQ(img->info.height, 300);
  EXPECT_EQ(img->info.bytes_per_line, 900u);
  EXPECT_EQ(read_all(img), pix);
  uint8_t extra[900];
  EXPECT_EQ(img_read_line(img, extra, 1), 0);
  // Tile operations on the filter itself.
  EXPECT_EQ(img_read_tile(img, extra, 1), 0);
  EXPECT_EQ(img_write_tile(img, extra, 1), 0);
  EXPECT_EQ(img_seek_tile(img, 0, 0, 0, 0), -1);
  // Seeking back re-reads the right line.
  EXPECT_EQ(img_seek_line(img, 299, 0, 0, 0), 299);
  ASSERT_EQ(img_read_line(img, extra, 1), 1);
  EXPECT_EQ(0, std::memcmp(extra, pix.data() + 299 * 900, 900));
  img_close(img);
}

TEST(TileFilter, PlanarSourceWithAndWithoutInterleave) {
  auto pix = pattern(40, 30, 3);
  IMG_file* img =
      tilefilter_attachtiledimg((new MemTiles(40, 30, 3, 16, 16, true, pix))->ToImg('r', 10), 1);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->info.planar, 0u);
  EXPECT_EQ(read_all(img), pix);
  img_close(img);

  img = tilefilter_attachtiledimg((new MemTiles(40, 30, 3, 16, 16, true, pix))->ToImg('r', 10), 0);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->info.planar, 1u);
  std::vector<uint8_t> planes(40 * 30 * 3);
  ASSERT_EQ(img_read_line(img, planes.data(), 90), 90);
  for (int p = 0; p < 3; ++p)
    for (int i = 0; i < 40 * 30; ++i) ASSERT_EQ(planes[p * 1200 + i], pix[i * 3 + p]);
  img_close(img);
}

TEST(TileFilter, QuarterTurnsMirrorsAndCrops) {
  const int w = 37, h = 23, spp = 2;
  auto pix = pattern(w, h, spp);
  for (int rot = 0; rot < 8; ++rot) {
    SCOPED_TRACE(rot);
    int ow, oh;
    auto want = turn(pix, w, h, spp, rot, &ow, &oh);
    IMG_file* img = tilefilter_attachtiledimg_rot(
        (new MemTiles(w, h, spp, 16, 8, false, pix))->ToImg('r', 10), rot, 0);
    ASSERT_NE(img, nullptr);
    ASSERT_EQ(img->info.width, ow);
    ASSERT_EQ(img->info.height, oh);
    EXPECT_EQ(read_all(img), want);
    img_close(img);
    // A horizontal crop of the turned image.
    img = tilefilter_attachtiledimg_crop(
        (new MemTiles(w, h, spp, 16, 8, false, pix))->ToImg('r', 10), rot, 0, 0.25, 0.5);
    ASSERT_NE(img, nullptr);
    int x0 = int(0.25 * ow + 0.5), cw = int(0.5 * ow + 0.5);
    ASSERT_EQ(img->info.width, cw);
    auto got = read_all(img);
    for (int y = 0; y < oh; ++y)
      ASSERT_EQ(0, std::memcmp(got.data() + size_t(y) * cw * spp,
                               want.data() + (size_t(y) * ow + x0) * spp, size_t(cw) * spp));
    img_close(img);
  }
}

TEST(TileFilter, RefusesLineStreamsAndWritesTiles) {
  auto* lines = (new MemLines(describe(4, 4, 1, 8, 1), std::vector<uint8_t>(16)))->ToImg('r', 13);
  EXPECT_EQ(tilefilter_attachtiledimg(lines, 0), nullptr);  // closes the source
  EXPECT_EQ(tilefilter_attachtiledimg(nullptr, 0), nullptr);

  auto pix = pattern(50, 20, 3);
  std::vector<uint8_t> written(pix.size(), 0);
  for (bool planar : {false, true}) {
    auto* t = new MemTiles(50, 20, 3, 16, 16, planar, {});
    t->sink = &written;
    IMG_file* img = tilefilter_attachtiledimg(t->ToImg('w', 10), 1);
    ASSERT_NE(img, nullptr);
    ASSERT_EQ(img_write_line(img, pix.data(), 20), 20);
    img_close(img);
    EXPECT_EQ(written, pix);
    std::fill(written.begin(), written.end(), 0);
  }
}

TEST(TileFilter, LineFilterChainMatchesWholeImageWork) {
  // Tiled RGB -> line filter: crop, halve and convert to gray; compare with the
  // same done directly on the picture.
  const int w = 300, h = 200;
  auto pix = pattern(w, h, 3);
  IMG_file* src = (new MemTiles(w, h, 3, 64, 64, false, pix))->ToImg('r', 10);
  // First filter: crop pixel centres 100..199 at the source's size.
  image_info c = describe(0, 0, 3, 8, 1);
  c.crop.x1 = 100.0 / 299;
  c.crop.x2 = 199.0 / 299;
  IMG_file* cropped = filter_to_img(filter_attach(src, &c, nullptr));
  ASSERT_NE(cropped, nullptr);
  ASSERT_EQ(cropped->info.width, 100);
  ASSERT_EQ(cropped->info.height, 200);
  // Second filter: halve and turn into gray.
  image_info t = describe(50, 100, 1, 8, 1);
  filter_rec* f = filter_attach(cropped, &t, nullptr);
  ASSERT_NE(f, nullptr);
  IMG_file* img = filter_to_img(f);
  ASSERT_EQ(img->info.width, 50);
  ASSERT_EQ(img->info.height, 100);
  auto got = read_all(img);
  auto gray = [](int r, int g, int b) {
    return int(0.3 * r + 0.5) + int(0.59 * g + 0.5) + int(0.11 * b + 0.5);
  };
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 50; ++x) {
      const uint8_t* p = &pix[(size_t(2 * y) * w + 100 + 2 * x) * 3];
      ASSERT_EQ(got[size_t(y) * 50 + x], gray(p[0], p[1], p[2])) << x << "," << y;
    }
  img_close(img);
}
