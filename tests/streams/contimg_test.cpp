// SPDX-License-Identifier: MIT
// The contiguous-image filter against a plain sample-by-sample interleave.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "klv/streams.h"
#include "support/image.h"

using namespace klv::test;

namespace {

uint32_t get_sample(const uint8_t* row, uint64_t index, uint32_t bits) {
  if (bits == 16) return row[2 * index] | row[2 * index + 1] << 8;
  uint64_t bit = index * bits;
  return (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
}
void put_sample(uint8_t* row, uint64_t index, uint32_t bits, uint32_t v) {
  if (bits == 16) {
    row[2 * index] = v & 0xFF;
    row[2 * index + 1] = v >> 8;
    return;
  }
  uint64_t bit = index * bits;
  row[bit / 8] |= v << (8 - bits - bit % 8);
}

// The pixel-interleaved lines of a planar (planes after one another) or
// line-interleaved source, one sample at a time.
std::vector<uint8_t> reference(const image_info& in, const std::vector<uint8_t>& data) {
  image_info out = in;
  out.planar = KLV_PLANAR_PIXEL;
  const uint32_t obpl = image_info_line_bytes(&out);
  const uint32_t planes = in.samples + in.mask_samples;
  const uint32_t row = (in.bits_per_sample * in.width + 7) / 8;
  std::vector<uint8_t> result(size_t(obpl) * in.height, 0);
  for (int y = 0; y < in.height; ++y)
    for (uint32_t p = 0; p < planes; ++p) {
      const uint8_t* src = in.planar == KLV_PLANAR_PLANES
                               ? data.data() + (size_t(p) * in.height + y) * in.bytes_per_line
                               : data.data() + size_t(y) * in.bytes_per_line + p * row;
      for (int x = 0; x < in.width; ++x)
        put_sample(result.data() + size_t(y) * obpl, uint64_t(x) * planes + p, in.bits_per_sample,
                   get_sample(src, x, in.bits_per_sample));
    }
  return result;
}

struct Case {
  const char* name;
  int planar, samples, masks, bits, width, height, band;
};

class ContImg : public ::testing::TestWithParam<Case> {};

TEST_P(ContImg, DeliversTheInterleavedLinesAndSeeks) {
  const Case& c = GetParam();
  image_info info = describe(c.width, c.height, c.samples, c.bits, 1, c.planar);
  info.mask_samples = c.masks;
  info.bytes_per_line = image_info_line_bytes(&info);
  const int planes = c.planar == KLV_PLANAR_PLANES ? c.samples + c.masks : 1;
  // Planar sources keep their padding bits clear, as a file reader delivers.
  auto data = pattern_bytes(size_t(info.bytes_per_line) * c.height * planes, c.width);
  image_info clean = info;
  clean.planar = KLV_PLANAR_PIXEL;
  const auto want = reference(info, data);
  IMG_file* source = (new MemImage(info, data))->ToImg('r', 10);
  contimg_filter* f = contimg_attach(source, nullptr, c.band);
  ASSERT_NE(f, nullptr);
  IMG_file* img = contimg_to_img(f);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->type, 10);
  EXPECT_EQ(img->info.planar, uint32_t(KLV_PLANAR_PIXEL));
  const size_t obpl = img->info.bytes_per_line;
  ASSERT_EQ(obpl, image_info_line_bytes(&clean));
  std::vector<uint8_t> got(obpl * (c.height + 1));
  EXPECT_EQ(img_read_line(img, got.data(), c.height + 1), c.height);
  got.resize(want.size());
  EXPECT_EQ(got, want);
  // Jumps back and forth land on the right lines whatever band holds them.
  for (int target : {c.height - 1, 0, c.height / 2, 1}) {
    ASSERT_EQ(img_seek_line(img, target, 0, 0, 0), target);
    std::vector<uint8_t> line(obpl);
    ASSERT_EQ(img_read_line(img, line.data(), 1), 1);
    EXPECT_EQ(0, std::memcmp(line.data(), want.data() + target * obpl, obpl)) << target;
  }
  EXPECT_EQ(img_seek_line(img, 0, 0, 0, 2), c.height - 1);
  EXPECT_EQ(img_seek_line(img, 1, 0, 0, 1), c.height);
  EXPECT_EQ(img_seek_line(img, 1, 0, 0, 1), -1);
  EXPECT_EQ(img_seek_line(img, 0, 0, 1, 0), -1) << "one page only";
  img_close(img);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, ContImg,
    ::testing::Values(Case{"planar_rgb8_band1", 1, 3, 0, 8, 17, 9, 1},
                      Case{"planar_cmyk8_default_band", 1, 4, 0, 8, 3000, 12, 0},
                      Case{"planar_cmyk1_band3", 1, 4, 0, 1, 29, 10, 3},
                      Case{"planar_cmyk_mask2_band_over_height", 1, 4, 1, 2, 11, 6, 50},
                      Case{"planar_rgb16_band4", 1, 3, 0, 16, 7, 9, 4},
                      Case{"lines_cmyk4_band2", 2, 4, 0, 4, 9, 7, 2},
                      Case{"lines_rgb8_band5", 2, 3, 0, 8, 10, 11, 5},
                      Case{"lines_gray_mask1_band1", 2, 1, 1, 1, 13, 4, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ContImgPassThrough, HandsBackSourcesThatNeedNoInterleaving) {
  const image_info cases[] = {
      describe(8, 4, 3, 8, 1, KLV_PLANAR_PIXEL),
      describe(8, 4, 1, 8, 1, KLV_PLANAR_PLANES),  // one plane
      describe(8, 4, 1, 8, 1, KLV_PLANAR_LINES),   // one sample
  };
  for (const image_info& info : cases) {
    IMG_file* source =
        (new MemImage(info, std::vector<uint8_t>(info.bytes_per_line * 4)))->ToImg('r', 13);
    contimg_filter* f = contimg_attach(source, nullptr, 0);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(contimg_to_img(f), source);
    img_close(source);
  }
}

TEST(ContImgRefusal, DescriptionsThatCannotBeInterleaved) {
  struct Bad {
    const char* what;
    image_info info;
  };
  image_info two = describe(8, 4, 2, 8, 1, KLV_PLANAR_PLANES);
  image_info bits12 = describe(8, 4, 3, 8, 1, KLV_PLANAR_PLANES);
  bits12.bits_per_sample = 12;
  image_info palette = describe(8, 4, 1, 8, KLV_PHOTO_PALETTE, KLV_PLANAR_PLANES);
  palette.mask_samples = 1;
  image_info photo = describe(8, 4, 3, 8, 1, KLV_PLANAR_PLANES);
  photo.photometric = 4;
  const Bad bad[] = {{"two colour samples", two},
                     {"12 bits", bits12},
                     {"palette with a mask", palette},
                     {"photometric 4", photo}};
  for (const Bad& b : bad) {
    IMG_file* source = (new MemImage(b.info, {}))->ToImg('r', 10);
    EXPECT_EQ(contimg_attach(source, nullptr, 0), nullptr) << b.what;
    img_close(source);
  }
  image_info spot = describe(8, 2, 3, 8, 1, KLV_PLANAR_PLANES);
  spot.spot_samples = 1;  // two colour samples and a spot channel
  IMG_file* source = (new MemImage(spot, {}))->ToImg('r', 10);
  EXPECT_EQ(contimg_attach(source, nullptr, 0), nullptr);
  img_close(source);
}

// A source that ends early ends the read with the lines done.
TEST(ContImgShortSource, StopsAtTheFirstMissingLine) {
  image_info info = describe(6, 10, 3, 8, 1, KLV_PLANAR_PLANES);
  image_info shorter = info;
  shorter.height = 4;  // the source only has 4 lines per plane
  auto data = pattern_bytes(6 * 4 * 3, 2);
  IMG_file* source = (new MemImage(shorter, data))->ToImg('r', 10);
  contimg_filter* f = contimg_attach(source, &info, 3);
  ASSERT_NE(f, nullptr);
  IMG_file* img = contimg_to_img(f);
  std::vector<uint8_t> got(18 * 10);
  EXPECT_EQ(img_read_line(img, got.data(), 10), 4);
  img_close(img);
}

}  // namespace
