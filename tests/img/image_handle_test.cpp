// SPDX-License-Identifier: MIT
// The image stream handle: dispatch through null slots, CIMG_file adapters and
// the seek arithmetic shared by line and tile streams.
#include <gtest/gtest.h>

#include <cstring>

#include "klv/cimg_file.h"
#include "klv/img.h"

namespace {

TEST(ImageHandle, InvalidHandleGivesNeutralResults) {
  IMG_file* img = new_invalid_img();
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->type, -1);
  uint8_t line[4];
  EXPECT_EQ(img_read_line(img, line, 1), 0);
  EXPECT_EQ(img_write_line(img, line, 1), 0);
  EXPECT_EQ(img_seek_line(img, 0, 0, 0, 0), -1);
  EXPECT_EQ(img_read_tile(img, line, 1), 0);
  EXPECT_EQ(img_seek_tile(img, 0, 0, 0, 0), -1);
  EXPECT_EQ(img_status(img, 0), -1);
  EXPECT_EQ(img_get_cmap(img), nullptr);
  EXPECT_EQ(img_get_profile(img), nullptr);
  EXPECT_EQ(img_close(img), nullptr);
  EXPECT_EQ(img_close(nullptr), nullptr);
  EXPECT_EQ(img_status(nullptr, 0), -1);
}

int fake_handle;
int closes = 0;
int32_t count_close(void*) {
  return ++closes;
}

TEST(ImageHandle, EmptyStatusSlotReportsReady) {
  IMG_file* img = new_invalid_img();
  img->handle = &fake_handle;
  img->close = count_close;
  EXPECT_EQ(img_status(img, 0), 1);
  closes = 0;
  img_close(img);
  EXPECT_EQ(closes, 1);
}

// A 100-line gray stream that records what reaches it.
class CountingImage : public CIMG_file {
 public:
  explicit CountingImage(int* destroyed) : destroyed_(destroyed) {
    m_info.width = 5;
    m_info.height = 100;
    m_info.samples = 1;
    m_info.bits_per_sample = 8;
    m_info.pages = 1;
    m_info.bytes_per_line = 5;
  }
  ~CountingImage() override { ++*destroyed_; }
  int32_t ReadLine(unsigned char* buffer, int32_t count) override {
    int32_t done = 0;
    for (; done < count && m_line < m_info.height; ++done, ++m_line)
      std::memset(buffer + done * 5, m_line, 5);
    return done;
  }
  int32_t SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence) override {
    return SetSeekLine(line, plane, page, whence);
  }
  int32_t GetStatus(int32_t what) override { return 40 + what; }
  using CIMG_file::SetSeekLine;
  using CIMG_file::SetSeekTile;
  image_info& info() { return m_info; }
  void set_position(int32_t line, int32_t plane) {
    m_line = line;
    m_plane = plane;
  }

 private:
  int* destroyed_;
};

TEST(ImageHandle, ToImgAdaptsTheObjectAndOwnsIt) {
  int destroyed = 0;
  IMG_file* img = (new CountingImage(&destroyed))->ToImg('r', 77);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->type, 77);
  EXPECT_EQ(img->mode, 'r');
  EXPECT_EQ(img->info.height, 100);
  uint8_t lines[15];
  EXPECT_EQ(img_seek_line(img, 10, 0, 0, 0), 10);
  EXPECT_EQ(img_read_line(img, lines, 3), 3);
  EXPECT_EQ(lines[0], 10);
  EXPECT_EQ(lines[14], 12);
  EXPECT_EQ(img_status(img, 2), 42);  // passed through with its own meaning
  EXPECT_EQ(img_get_cmap(img), nullptr);
  EXPECT_EQ(img_write_line(img, lines, 1), 0);  // default operation
  EXPECT_EQ(img_seek_tile(img, 0, 0, 0, 0), -1);
  img_close(img);
  EXPECT_EQ(destroyed, 1);
}

struct SeekCase {
  uint32_t planar;
  uint32_t samples;
  int32_t height;
  int32_t start_line;
  int32_t line, plane, page, whence;
  int32_t want_line;
  int32_t want_plane;  // checked when want_line >= 0
};

class SetSeekLineTest : public ::testing::TestWithParam<SeekCase> {};

TEST_P(SetSeekLineTest, MovesAsDocumented) {
  const SeekCase& c = GetParam();
  int destroyed = 0;
  {
    CountingImage img(&destroyed);
    img.info().planar = c.planar;
    img.info().samples = c.samples;
    img.info().height = c.height;
    img.set_position(c.start_line, 0);
    EXPECT_EQ(img.SetSeekLine(c.line, c.plane, c.page, c.whence), c.want_line);
    if (c.want_line >= 0) {
      EXPECT_EQ(img.CurrentPlane(), c.want_plane);
    } else {
      EXPECT_EQ(img.CurrentLine(), c.start_line);  // a failed seek leaves the position
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SetSeekLineTest,
    ::testing::Values(SeekCase{0, 1, 100, 0, 0, 0, 0, 2, 99, 0},      // from the end
                      SeekCase{0, 1, 100, 0, -1, 0, 0, 2, 98, 0},     // one before the end
                      SeekCase{0, 1, 100, 10, 5, 0, 0, 1, 15, 0},     // relative
                      SeekCase{0, 1, 100, 10, -200, 0, 0, 1, -1, 0},  // before the start
                      SeekCase{0, 1, 100, 0, 0, 1, 0, 0, 0, 1},       // one past the only plane
                      SeekCase{0, 1, 100, 0, 0, 2, 0, 0, -1, 0},      // two past: refused
                      SeekCase{0, 1, 100, 0, 0, 0, 1, 0, -1, 0},      // page on a 1-page image
                      SeekCase{1, 3, 10, 0, 25, 0, 0, 0, 5, 2},       // planar: line 5 of plane 2
                      SeekCase{1, 3, 10, 8, 4, 0, 0, 1, 2, 1},        // relative runs into plane 1
                      SeekCase{2, 3, 10, 0, 0, 0, 0, 2, 9, 0}));      // line-interleaved: one plane

TEST(ImageHandle, SetSeekTileNeedsATiledLayout) {
  int destroyed = 0;
  CountingImage img(&destroyed);
  img.info().tile_words[KLV_TILE_PER_PLANE] = 6;
  EXPECT_EQ(img.SetSeekTile(1, 0, 0, 0), -1);  // not tiled
  img.info().planar = KLV_PLANAR_TILED | KLV_PLANAR_PLANES;
  img.info().samples = 4;
  EXPECT_EQ(img.SetSeekTile(13, 0, 0, 0), 1);  // tile 1 of plane 2
  EXPECT_EQ(img.CurrentPlane(), 2);
  EXPECT_EQ(img.SetSeekTile(0, 0, 0, 2), 5);  // last tile of the last plane
  EXPECT_EQ(img.CurrentPlane(), 3);
}

TEST(ImageInfo, InitAndLineBytes) {
  image_info info;
  std::memset(&info, 0xAB, sizeof info);
  init_image_info(&info);
  EXPECT_EQ(info.width, 0);
  EXPECT_EQ(info.cmap, nullptr);
  EXPECT_EQ(info.crop.kind, 0);
  EXPECT_EQ(info.crop.x2, 1.0);
  EXPECT_EQ(info.crop.y2, 1.0);

  info.width = 13;
  info.samples = 3;
  info.mask_samples = 1;
  info.bits_per_sample = 1;
  EXPECT_EQ(image_info_line_bytes(&info), 7u);  // 52 bits
  info.planar = KLV_PLANAR_LINES;
  EXPECT_EQ(image_info_line_bytes(&info), 8u);  // 4 rows of 2 bytes
  info.planar = KLV_PLANAR_PLANES;
  EXPECT_EQ(image_info_line_bytes(&info), 2u);
  info.bits_per_sample = 16;
  info.planar = KLV_PLANAR_PIXEL;
  EXPECT_EQ(image_info_line_bytes(&info), 104u);

  image_info* owned = alloc_image_info();
  ASSERT_NE(owned, nullptr);
  owned->cmap = static_cast<image_cmap*>(calloc(1, sizeof(image_cmap)));
  EXPECT_EQ(free_image_info(owned), 0);  // frees the map too (checked under ASan)
  EXPECT_EQ(free_image_info(nullptr), 0);
}

image_cmap* make_map(uint32_t channels, uint32_t entries, bool fourth) {
  auto* map = static_cast<image_cmap*>(calloc(1, sizeof(image_cmap)));
  map->channels = channels;
  map->entries = entries;
  map->photometric = 1;
  for (uint32_t c = 0; c < (fourth ? 4u : 3u); ++c) {
    map->channel[c] = static_cast<uint8_t*>(malloc(entries));
    for (uint32_t i = 0; i < entries; ++i) map->channel[c][i] = static_cast<uint8_t>(i * (c + 1));
  }
  return map;
}

TEST(ColourMap, CopyCompareFree) {
  EXPECT_EQ(cmap_equal(nullptr, nullptr), 1);
  image_cmap* a = make_map(3, 16, false);
  EXPECT_EQ(cmap_equal(a, nullptr), 0);
  EXPECT_EQ(cmap_equal(nullptr, a), 0);
  EXPECT_EQ(cmap_equal(a, a), 1);

  image_cmap* b = copy_cmap(a);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->channel[3], nullptr);  // a missing fourth array stays missing
  EXPECT_EQ(cmap_equal(a, b), 1);
  b->channel[1][5] ^= 1;
  EXPECT_EQ(cmap_equal(a, b), 0);
  free_cmap(b);

  // Channels beyond `channels` do not take part in the comparison.
  image_cmap* c = make_map(3, 16, true);
  image_cmap* d = make_map(3, 16, true);
  d->channel[3][2] ^= 0xFF;
  EXPECT_EQ(cmap_equal(c, d), 1);
  d->photometric = 0;
  EXPECT_EQ(cmap_equal(c, d), 0);

  EXPECT_EQ(copy_cmap(nullptr), nullptr);
  free_cmap(a);
  free_cmap(c);
  free_cmap(d);
  EXPECT_EQ(free_cmap(nullptr), 0);
}

TEST(Profile, CopyAndFree) {
  auto* p = static_cast<image_profile*>(malloc(sizeof(image_profile) + 3));
  p->size = 3;
  std::memcpy(p->data, "abc", 3);
  image_profile* q = copy_image_profile(p);
  ASSERT_NE(q, nullptr);
  EXPECT_NE(q, p);
  EXPECT_EQ(q->size, 3u);
  EXPECT_EQ(std::memcmp(q->data, "abc", 3), 0);
  EXPECT_EQ(copy_image_profile(nullptr), nullptr);
  free_image_profile(p);
  free_image_profile(q);
  EXPECT_EQ(free_image_profile(nullptr), 0);
  EXPECT_EQ(checkin_image_profile(nullptr), 0);
}

}  // namespace
