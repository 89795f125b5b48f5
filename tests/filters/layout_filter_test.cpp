// SPDX-License-Identifier: MIT
// The channel layout filters against a reference read sample by sample from
// the source: every source layout, sample width and odd width, the round
// trip through all three, seeking, bands, writing and refusals.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "klv/layoutfilter.h"
#include "klv/layoutfilter_cxx.h"
#include "support/image.h"

namespace {

using klv::test::get_sample;
using klv::test::make_info;
using klv::test::MemImage;

enum class Kind { kPxv, kLnv, kSep };

IMG_file* attach(Kind k, IMG_file* src) {
  switch (k) {
    case Kind::kPxv:
      return pxvfltr_to_img(pxvfltr_attach(src));
    case Kind::kLnv:
      return lnvfltr_to_img(lnvfltr_attach(src));
    default:
      return sepfltr_to_img(sepfltr_attach(src));
  }
}

// Sample of plane p at (x, y) of the reference image.
uint32_t ref_sample(const image_info& in, const MemImage& ref, uint32_t p, uint32_t x, int32_t y) {
  if ((in.planar & 7) == KLV_PLANAR_PLANES) return get_sample(in, ref.Line(0, p, y), x, 0);
  return get_sample(in, ref.Line(0, 0, y), x, p);
}

// Reads the whole filtered image and compares every sample with the source.
void check_filter(Kind kind, const image_info& in) {
  const MemImage ref(in);
  IMG_file* img = attach(kind, (new MemImage(in))->ToImg('r', 42));
  ASSERT_NE(img, nullptr);
  const uint32_t P = in.samples + in.mask_samples;
  const image_info& out = img->info;
  const uint32_t want_planar = kind == Kind::kPxv   ? KLV_PLANAR_PIXEL
                               : kind == Kind::kLnv ? KLV_PLANAR_LINES
                                                    : KLV_PLANAR_PLANES;
  ASSERT_EQ(out.planar, want_planar);
  ASSERT_EQ(out.bytes_per_line, image_info_line_bytes(&out));
  ASSERT_EQ(img->type, 42);
  const uint32_t planes = kind == Kind::kSep ? P : 1;
  std::vector<uint8_t> line(out.bytes_per_line);
  for (uint32_t plane = 0; plane < planes; ++plane) {
    for (int32_t y = 0; y < in.height; ++y) {
      ASSERT_EQ(img_read_line(img, line.data(), 1), 1) << "plane " << plane << " line " << y;
      for (uint32_t x = 0; x < uint32_t(in.width); ++x) {
        for (uint32_t p = 0; p < P; ++p) {
          if (kind == Kind::kSep && p != plane) continue;
          const uint32_t got = get_sample(out, line.data(), x, kind == Kind::kSep ? 0 : p);
          ASSERT_EQ(got, ref_sample(in, ref, p, x, y))
              << "plane " << p << " pixel " << x << " line " << y;
        }
      }
    }
  }
  EXPECT_EQ(img_read_line(img, line.data(), 1), 0);
  img_close(img);
}

TEST(LayoutFilters, EveryLayoutDepthAndOddWidth) {
  const uint32_t layouts[] = {KLV_PLANAR_PIXEL, KLV_PLANAR_PLANES, KLV_PLANAR_LINES};
  for (Kind kind : {Kind::kPxv, Kind::kLnv, Kind::kSep}) {
    for (uint32_t layout : layouts) {
      for (uint32_t bits : {1u, 2u, 3u, 4u, 5u, 7u, 8u, 16u}) {
        for (uint32_t samples : {1u, 3u, 4u}) {
          for (int32_t width : {1, 7, 13, 37}) {
            SCOPED_TRACE(testing::Message()
                         << "filter " << int(kind) << " layout " << layout << " bits " << bits
                         << " samples " << samples << " width " << width);
            // 23 lines: bands that do not divide the height.
            check_filter(kind, make_info(width, 23, bits, samples, layout));
          }
        }
      }
    }
  }
}

TEST(LayoutFilters, MaskSamplesAndLargeBands) {
  image_info in = klv::test::describe_masked(300, 40, 3, 8, KLV_PHOTO_MINBLACK, 1);
  for (Kind kind : {Kind::kPxv, Kind::kLnv, Kind::kSep}) check_filter(kind, in);
  // One band line of 12000 bytes: the band still holds 5 lines.
  auto* f = new CLnvFltr;
  ASSERT_TRUE(f->Attach((new MemImage(make_info(3000, 9, 8, 4, KLV_PLANAR_PIXEL)))->ToImg('r', 1)));
  EXPECT_EQ(f->BandLines(), 5u);
  delete f;
  CPxvFltr small;
  ASSERT_TRUE(
      small.Attach((new MemImage(make_info(10, 3, 8, 1, KLV_PLANAR_PIXEL)))->ToImg('r', 1)));
  EXPECT_EQ(small.BandLines(), 3u);  // never more than the height
  CSepFltr mid;
  ASSERT_TRUE(
      mid.Attach((new MemImage(make_info(100, 500, 8, 4, KLV_PLANAR_PLANES)))->ToImg('r', 1)));
  EXPECT_EQ(mid.BandLines(), 20u);  // 8192 / 400
}

// pixel -> line -> plane -> pixel gives the source back, sample for sample.
TEST(LayoutFilters, RoundTripThroughAllThree) {
  for (uint32_t bits : {1u, 2u, 4u, 6u, 8u, 16u}) {
    for (int32_t width : {5, 17, 64}) {
      SCOPED_TRACE(testing::Message() << "bits " << bits << " width " << width);
      const image_info in = make_info(width, 11, bits, 4, KLV_PLANAR_PIXEL);
      const MemImage ref(in);
      IMG_file* img = attach(
          Kind::kPxv, attach(Kind::kSep, attach(Kind::kLnv, (new MemImage(in))->ToImg('r', 5))));
      ASSERT_NE(img, nullptr);
      ASSERT_EQ(img->info.planar, uint32_t(KLV_PLANAR_PIXEL));
      ASSERT_EQ(img->info.bytes_per_line, in.bytes_per_line);
      std::vector<uint8_t> line(in.bytes_per_line);
      for (int32_t y = 0; y < in.height; ++y) {
        ASSERT_EQ(img_read_line(img, line.data(), 1), 1);
        for (uint32_t x = 0; x < uint32_t(width); ++x)
          for (uint32_t p = 0; p < 4; ++p)
            ASSERT_EQ(get_sample(in, line.data(), x, p), ref_sample(in, ref, p, x, y));
      }
      img_close(img);
    }
  }
}

TEST(LayoutFilters, WorkedExamples) {
  // RGB r0 g0 b0 r1 g1 b1.
  image_info in = make_info(2, 1, 8, 3, KLV_PLANAR_PIXEL);
  const std::vector<uint8_t> px = {10, 20, 30, 11, 21, 31};
  IMG_file* lnv = attach(Kind::kLnv, (new MemImage(in, px))->ToImg('r', 1));
  std::vector<uint8_t> got(6);
  ASSERT_EQ(img_read_line(lnv, got.data(), 1), 1);
  EXPECT_EQ(got, (std::vector<uint8_t>{10, 11, 20, 21, 30, 31}));
  img_close(lnv);
  IMG_file* sep = attach(Kind::kSep, (new MemImage(in, px))->ToImg('r', 1));
  std::vector<uint8_t> planes(7, 0xEE);
  ASSERT_EQ(img_read_line(sep, planes.data(), 2), 2);  // exactly 2 x R bytes
  EXPECT_EQ(planes, (std::vector<uint8_t>{10, 11, 20, 21, 0xEE, 0xEE, 0xEE}));
  ASSERT_EQ(img_read_line(sep, planes.data() + 4, 5), 1);
  EXPECT_EQ(planes[4], 30);
  EXPECT_EQ(planes[5], 31);
  img_close(sep);

  // 1-bit 3-plane planar: lines of 3 x width bits, each pixel's bits together.
  image_info bits = make_info(4, 1, 1, 3, KLV_PLANAR_PLANES);
  const std::vector<uint8_t> pl = {0xA0, 0x50, 0xF0};  // 1010 0101 1111
  IMG_file* pxv = attach(Kind::kPxv, (new MemImage(bits, pl))->ToImg('r', 1));
  ASSERT_EQ(pxv->info.bytes_per_line, 2u);
  std::vector<uint8_t> two(2);
  ASSERT_EQ(img_read_line(pxv, two.data(), 1), 1);
  // pixels 101 011 101 011
  EXPECT_EQ(two, (std::vector<uint8_t>{0xAE, 0xB0}));
  img_close(pxv);
}

TEST(LayoutFilters, Seeking) {
  const image_info in = make_info(6, 30, 8, 3, KLV_PLANAR_PLANES);
  const MemImage ref(in);
  IMG_file* sep = attach(Kind::kSep, (new MemImage(in))->ToImg('r', 1));
  ASSERT_NE(sep, nullptr);
  std::vector<uint8_t> row(6);
  EXPECT_EQ(img_seek_line(sep, 0, 1, 0, 0), 0);
  ASSERT_EQ(img_read_line(sep, row.data(), 1), 1);
  EXPECT_EQ(0, std::memcmp(row.data(), ref.Line(0, 1, 0), 6));
  EXPECT_EQ(img_seek_line(sep, 0, 3, 0, 0), -1);
  EXPECT_EQ(img_seek_line(sep, 0, 0, 1, 0), -1);
  EXPECT_EQ(img_seek_line(sep, 0, 0, 0, 2), 29);  // last line of the last plane
  ASSERT_EQ(img_read_line(sep, row.data(), 1), 1);
  EXPECT_EQ(0, std::memcmp(row.data(), ref.Line(0, 2, 29), 6));
  EXPECT_EQ(img_read_line(sep, row.data(), 1), 0);  // after the last plane
  EXPECT_EQ(img_seek_line(sep, -31, 0, 0, 1), 29);  // back into plane 1
  ASSERT_EQ(img_read_line(sep, row.data(), 1), 1);
  EXPECT_EQ(0, std::memcmp(row.data(), ref.Line(0, 1, 29), 6));
  ASSERT_EQ(img_read_line(sep, row.data(), 1), 1);  // runs on into plane 2
  EXPECT_EQ(0, std::memcmp(row.data(), ref.Line(0, 2, 0), 6));
  EXPECT_EQ(img_seek_line(sep, 5, -1, 0, 0), 5);  // keeps plane 2
  ASSERT_EQ(img_read_line(sep, row.data(), 1), 1);
  EXPECT_EQ(0, std::memcmp(row.data(), ref.Line(0, 2, 5), 6));
  EXPECT_EQ(img_seek_line(sep, 100, 0, 0, 1), -1);
  img_close(sep);

  IMG_file* pxv = attach(Kind::kPxv, (new MemImage(in))->ToImg('r', 1));
  std::vector<uint8_t> line(18);
  EXPECT_EQ(img_seek_line(pxv, 0, 1, 0, 0), -1);
  EXPECT_EQ(img_seek_line(pxv, 30, 0, 0, 0), -1);
  EXPECT_EQ(img_seek_line(pxv, 1, 0, 0, 2), 29);
  EXPECT_EQ(img_seek_line(pxv, -4, 0, 0, 1), 25);
  ASSERT_EQ(img_read_line(pxv, line.data(), 1), 1);
  for (uint32_t p = 0; p < 3; ++p) EXPECT_EQ(line[3 + p], ref.Line(0, p, 25)[1]);
  EXPECT_EQ(img_seek_line(pxv, 0, 0, 0, 0), 0);  // back to the first band
  ASSERT_EQ(img_read_line(pxv, line.data(), 1), 1);
  EXPECT_EQ(line[2], ref.Line(0, 2, 0)[0]);
  img_close(pxv);
}

TEST(LayoutFilters, WritingLineInterleaved) {
  image_info lines = make_info(5, 3, 4, 3, KLV_PLANAR_LINES);
  klv::test::SinkLog log;
  IMG_file* img = lnvfltr_to_img(lnvfltr_attach((new klv::test::Sink(lines, &log))->ToImg('w', 3)));
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->info.planar, uint32_t(KLV_PLANAR_PIXEL));
  EXPECT_EQ(img->info.bytes_per_line, 8u);  // 3 x 4 x 5 bits
  const image_info px = make_info(5, 3, 4, 3, KLV_PLANAR_PIXEL);
  const std::vector<uint8_t> data = klv::test::pattern_bytes(8 * 4, 7);
  std::vector<uint8_t> buf = data;
  EXPECT_EQ(img_read_line(img, buf.data(), 1), 0);   // written, not read
  EXPECT_EQ(img_write_line(img, buf.data(), 4), 3);  // stops at the height
  EXPECT_EQ(img_close_status(img), 0);
  ASSERT_EQ(log.bytes.size(), 3u * 9u);
  for (int32_t y = 0; y < 3; ++y)
    for (uint32_t x = 0; x < 5; ++x)
      for (uint32_t p = 0; p < 3; ++p)
        EXPECT_EQ(get_sample(lines, log.bytes.data() + y * 9, x, p),
                  get_sample(px, data.data() + y * 8, x, p));

  // A written source that is not line-interleaved is refused and closed.
  klv::test::SinkLog other;
  EXPECT_EQ(lnvfltr_attach((new klv::test::Sink(px, &other))->ToImg('w', 3)), nullptr);
  EXPECT_EQ(other.closes, 1);
}

TEST(LayoutFilters, Refusals) {
  EXPECT_EQ(pxvfltr_attach(nullptr), nullptr);
  EXPECT_EQ(sepfltr_attach(nullptr), nullptr);
  EXPECT_EQ(lnvfltr_attach(nullptr), nullptr);
  EXPECT_EQ(pxvfltr_read_line(nullptr, nullptr, 1), -1);
  EXPECT_EQ(sepfltr_seek_line(nullptr, 0, 0, 0, 0), -1);
  EXPECT_EQ(lnvfltr_write_line(nullptr, nullptr, 1), -1);
  EXPECT_EQ(pxvfltr_to_img(nullptr), nullptr);
  pxvfltr_close(nullptr);

  // A palette image or a written source: refused, and left open.
  image_info pal = make_info(4, 4, 8, 1, KLV_PLANAR_PIXEL);
  pal.photometric = KLV_PHOTO_PALETTE;
  IMG_file* src = (new MemImage(pal))->ToImg('r', 1);
  EXPECT_EQ(pxvfltr_attach(src), nullptr);
  EXPECT_EQ(sepfltr_attach(src), nullptr);
  img_close(src);
  // Samples of 12 bits cannot be re-laid: refused, the source closed with the object.
  EXPECT_EQ(sepfltr_attach((new MemImage(make_info(4, 4, 12, 3, KLV_PLANAR_PIXEL)))->ToImg('r', 1)),
            nullptr);
  // A read filter does not write.
  IMG_file* r =
      attach(Kind::kLnv, (new MemImage(make_info(4, 4, 8, 3, KLV_PLANAR_PIXEL)))->ToImg('r', 1));
  std::vector<uint8_t> line(12);
  EXPECT_EQ(lnvfltr_write_line(static_cast<lnvfltr*>(r->handle), line.data(), 1), 0);
  img_close(r);
}

}  // namespace
