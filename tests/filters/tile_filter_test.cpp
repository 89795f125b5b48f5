// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <tiffio.h>

#include <cstdio>
#include <cstring>
#include <numeric>
#include <string>

#include "support/image.h"
#include "klv/filter.h"
#include "klv/tiff.h"
#include "klv/tilefilter.h"

using namespace klv::test;

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
  auto* lines = (new MemImage(describe(4, 4, 1, 8, 1), std::vector<uint8_t>(16)))->ToImg('r', 13);
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

TEST(TileFilter, LineInterleavedTilesReadAndWrite) {
  // Layout 10: each tile row holds every plane's run in turn; lines come out
  // line-interleaved (layout 2), also when the tiles are turned.
  const int w = 21, h = 13, spp = 3;
  auto pix = pattern(w, h, spp);
  for (int rot : {0, 1, 6}) {
    SCOPED_TRACE(rot);
    auto* t = new MemTiles(w, h, spp, 8, 8, false, pix);
    t->line_interleaved();
    IMG_file* img = tilefilter_attachtiledimg_rot(t->ToImg('r', 10), rot, 0);
    ASSERT_NE(img, nullptr);
    int ow, oh;
    auto want = turn(pix, w, h, spp, rot, &ow, &oh);
    ASSERT_EQ(img->info.planar, uint32_t{KLV_PLANAR_LINES});
    ASSERT_EQ(img->info.bytes_per_line, uint32_t(ow * spp));
    auto got = read_all(img);
    for (int y = 0; y < oh; ++y)
      for (int s = 0; s < spp; ++s)
        for (int x = 0; x < ow; ++x)
          ASSERT_EQ(got[(size_t(y) * spp + s) * ow + x], want[(size_t(y) * ow + x) * spp + s])
              << x << "," << y << " sample " << s;
    img_close(img);
  }
  // Writing line-interleaved lines fills the tiles.
  std::vector<uint8_t> lines(pix.size()), written(pix.size(), 0);
  for (int y = 0; y < h; ++y)
    for (int s = 0; s < spp; ++s)
      for (int x = 0; x < w; ++x)
        lines[(size_t(y) * spp + s) * w + x] = pix[(size_t(y) * w + x) * spp + s];
  auto* t = new MemTiles(w, h, spp, 8, 8, false, {});
  t->line_interleaved();
  t->sink = &written;
  IMG_file* img = tilefilter_attachtiledimg(t->ToImg('w', 10), 0);
  ASSERT_NE(img, nullptr);
  ASSERT_EQ(img_write_line(img, lines.data(), h), h);
  img_close(img);
  EXPECT_EQ(written, pix);
}

TEST(TileFilter, TurnedWritesStoreTheSourceOrientation) {
  // Lines of the turned picture written through a turned filter land in the
  // tiles as the unturned picture, partial edge tiles included.
  const int w = 37, h = 23, spp = 2;
  auto pix = pattern(w, h, spp);
  for (bool planar : {false, true})
    for (int rot = 1; rot < 8; ++rot) {
      SCOPED_TRACE(rot + 8 * planar);
      int ow, oh;
      auto turned = turn(pix, w, h, spp, rot, &ow, &oh);
      std::vector<uint8_t> written(pix.size(), 0);
      auto* t = new MemTiles(w, h, spp, 16, 8, planar, {});
      t->sink = &written;
      IMG_file* img = tilefilter_attachtiledimg_rot(t->ToImg('w', 10), rot, 1);
      ASSERT_NE(img, nullptr);
      ASSERT_EQ(img->info.width, ow);
      ASSERT_EQ(img->info.height, oh);
      ASSERT_EQ(img_write_line(img, turned.data(), oh), oh);
      img_close(img);
      EXPECT_EQ(written, pix);
    }
}

namespace {

// Writes `pix` (RGB, 8 bits) as a tiled TIFF with libtiff itself.
bool write_tiled_tiff(const std::string& path, const std::vector<uint8_t>& pix, int w, int h,
                      int tw, int th) {
  TIFF* t = TIFFOpen(path.c_str(), "w");
  if (!t) return false;
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_TILEWIDTH, tw);
  TIFFSetField(t, TIFFTAG_TILELENGTH, th);
  std::vector<uint8_t> tile(size_t(tw) * th * 3);
  for (int ty = 0; ty < h; ty += th)
    for (int tx = 0; tx < w; tx += tw) {
      std::fill(tile.begin(), tile.end(), 0);
      for (int v = 0; v < th && ty + v < h; ++v)
        for (int u = 0; u < tw && tx + u < w; ++u)
          std::memcpy(&tile[(size_t(v) * tw + u) * 3], &pix[(size_t(ty + v) * w + tx + u) * 3], 3);
      if (TIFFWriteTile(t, tile.data(), tx, ty, 0, 0) < 0) {
        TIFFClose(t);
        return false;
      }
    }
  TIFFClose(t);
  return true;
}

}  // namespace

TEST(TileFilter, TiledTiffThroughTheLineFilterMatchesWholeImageWork) {
  // A tiled TIFF (partial tiles on both edges) read through the tile filter and
  // the line filter: cropped, scaled and turned into gray, against the same
  // done on the picture in memory.
  const int w = 300, h = 200;
  auto pix = pattern(w, h, 3);
  const std::string path = ::testing::TempDir() + "/filters_chain_tiled.tif";
  ASSERT_TRUE(write_tiled_tiff(path, pix, w, h, 64, 48));
  auto gray = [&](int x, int y) {
    const uint8_t* p = &pix[(size_t(y) * w + x) * 3];
    return int(0.3 * p[0] + 0.5) + int(0.59 * p[1] + 0.5) + int(0.11 * p[2] + 0.5);
  };
  struct Case {
    int x0, y0, cw, ch;  // crop in source pixels
    int ow, oh;          // requested output
    int step;            // 0, or output (x, y) is source (x0 + x * step / 2, y0 + y * step / 2)
  } cases[] = {
      {100, 20, 100, 160, 50, 80, 0},  // cropped and reduced
      {37, 11, 40, 30, 80, 60, 0},     // cropped and enlarged
      {0, 0, 300, 200, 150, 100, 4},   // halved: every other pixel and line
      {0, 0, 300, 200, 600, 400, 1},   // doubled: every pixel and line twice
      {0, 0, 300, 200, 300, 200, 2},   // unscaled
  };
  auto request = [&](const Case& c) {
    image_info t = describe(c.ow, c.oh, 1, 8, 1);
    t.crop.x1 = double(c.x0) / (w - 1);
    t.crop.x2 = double(c.x0 + c.cw - 1) / (w - 1);
    t.crop.y1 = double(c.y0) / (h - 1);
    t.crop.y2 = double(c.y0 + c.ch - 1) / (h - 1);
    return t;
  };
  filter_info opt{};
  opt.stretch = 1;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.x0 + 1000 * c.ow);
    image_info info;
    CIMG_file* tif = tif_img_open(nullptr, path.c_str(), "r", &info);
    ASSERT_NE(tif, nullptr);
    IMG_file* src = tif->ToImg('r', 10);
    ASSERT_EQ(src->info.planar & KLV_PLANAR_TILED, uint32_t{KLV_PLANAR_TILED});
    image_info t = request(c);
    IMG_file* img = filter_to_img(filter_attach(src, &t, &opt));
    ASSERT_NE(img, nullptr);
    ASSERT_EQ(img->info.width, c.ow);
    ASSERT_EQ(img->info.height, c.oh);
    auto got = read_all(img);
    img_close(img);
    // The same filter over the picture held in memory.
    image_info t2 = request(c);
    IMG_file* whole = (new MemImage(describe(w, h, 3, 8, 1), pix))->ToImg('r', 13);
    IMG_file* ref = filter_to_img(filter_attach(whole, &t2, &opt));
    ASSERT_NE(ref, nullptr);
    EXPECT_EQ(got, read_all(ref));
    img_close(ref);
    if (!c.step) continue;
    for (int y = 0; y < c.oh; ++y)
      for (int x = 0; x < c.ow; ++x)
        ASSERT_EQ(got[size_t(y) * c.ow + x], gray(c.x0 + x * c.step / 2, c.y0 + y * c.step / 2))
            << x << "," << y;
  }
  std::remove(path.c_str());
}
