// SPDX-License-Identifier: MIT
// The crop filter in the source's own layout: a table of layouts, depths and
// odd crops against a reference read sample by sample, the worked bit
// examples, planes and pages in order, seeking, and the transparent crop.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstring>
#include <vector>

#include "klv/cropfilter.h"
#include "support/image.h"

namespace {

using klv::test::get_sample;
using klv::test::make_info;
using klv::test::MemImage;

IMG_file* crop(IMG_file* src, double x1, double y1, double x2, double y2) {
  const cropfltr_info c{x1, y1, x2, y2};
  return cropfltr_to_img(cropfltr_attach(src, &c));
}

int32_t edge(int32_t size, double f) {
  return static_cast<int32_t>(std::trunc((size - 1) * f + 0.5));
}

struct Shape {
  uint32_t bits, samples, planar, pages;
};

TEST(CropFilter, EveryLayoutDepthAndOddCrop) {
  const Shape shapes[] = {
      {1, 1, KLV_PLANAR_PIXEL, 1},  {2, 1, KLV_PLANAR_PIXEL, 1},   {3, 3, KLV_PLANAR_PIXEL, 1},
      {4, 1, KLV_PLANAR_PIXEL, 1},  {5, 2, KLV_PLANAR_PIXEL, 1},   {8, 4, KLV_PLANAR_PIXEL, 2},
      {16, 3, KLV_PLANAR_PIXEL, 1}, {1, 4, KLV_PLANAR_PLANES, 2},  {4, 3, KLV_PLANAR_PLANES, 1},
      {8, 2, KLV_PLANAR_PLANES, 1}, {16, 2, KLV_PLANAR_PLANES, 1}, {1, 3, KLV_PLANAR_LINES, 1},
      {2, 4, KLV_PLANAR_LINES, 2},  {7, 3, KLV_PLANAR_LINES, 1},   {8, 3, KLV_PLANAR_LINES, 1},
  };
  const double crops[][4] = {
      {0.1, 0.2, 0.9, 0.7}, {0.37, 0, 0.5, 1}, {0, 0.5, 0.03, 0.5}, {0.55, 0.1, 1, 0.3}};
  for (const Shape& s : shapes) {
    for (int32_t width : {13, 29}) {
      const image_info in = make_info(width, 11, s.bits, s.samples, s.planar, s.pages);
      const MemImage ref(in);
      const uint32_t planes = klv::test::planes_of(in);
      const uint32_t per = (s.planar == KLV_PLANAR_PLANES) ? 1 : s.samples;
      for (const auto& c : crops) {
        SCOPED_TRACE(testing::Message() << "bits " << s.bits << " samples " << s.samples
                                        << " layout " << s.planar << " width " << width << " crop "
                                        << c[0] << " " << c[1] << " " << c[2] << " " << c[3]);
        IMG_file* img = crop((new MemImage(in))->ToImg('r', 9), c[0], c[1], c[2], c[3]);
        ASSERT_NE(img, nullptr);
        const int32_t x0 = edge(width, c[0]), y0 = edge(11, c[1]);
        const int32_t w = edge(width, c[2]) - x0 + 1, h = edge(11, c[3]) - y0 + 1;
        image_info out = img->info;
        ASSERT_EQ(out.width, w);
        ASSERT_EQ(out.height, h);
        ASSERT_EQ(out.bytes_per_line, image_info_line_bytes(&out));
        ASSERT_DOUBLE_EQ(out.width_inches, w / in.xres);
        std::vector<uint8_t> line(out.bytes_per_line);
        const uint64_t row_bits =
            uint64_t(s.bits) * w * (s.planar == KLV_PLANAR_PIXEL ? s.samples : 1);
        const size_t seg = (row_bits + 7) / 8;
        for (uint32_t page = 0; page < s.pages; ++page) {
          for (uint32_t plane = 0; plane < planes; ++plane) {
            for (int32_t y = 0; y < h; ++y) {
              ASSERT_EQ(img_read_line(img, line.data(), 1), 1);
              const uint8_t* src = ref.Line(page, plane, y0 + y);
              for (int32_t x = 0; x < w; ++x)
                for (uint32_t k = 0; k < per; ++k)
                  ASSERT_EQ(get_sample(out, line.data(), x, k), get_sample(in, src, x0 + x, k))
                      << "page " << page << " plane " << plane << " line " << y << " pixel " << x;
              // Padding bits after each cut are clear.
              if (row_bits % 8) {
                for (size_t sg = 0; sg < line.size() / seg; ++sg)
                  ASSERT_EQ(line[sg * seg + seg - 1] & (0xFF >> (row_bits % 8)), 0);
              }
            }
          }
        }
        EXPECT_EQ(img_read_line(img, line.data(), 1), 0);
        img_close(img);
      }
    }
  }
}

TEST(CropFilter, BitExamples) {
  // A 1-bit 16-pixel line F0 0F; x fractions of 15 pick the pixels.
  struct Case {
    int first, last;
    std::vector<uint8_t> want;
  };
  const Case cases[] = {
      {4, 11, {0x00}}, {2, 9, {0xC0}}, {6, 13, {0x03}}, {0, 4, {0xF0}}, {3, 7, {0x80}}};
  for (const Case& c : cases) {
    image_info in = make_info(16, 1, 1, 1, KLV_PLANAR_PIXEL);
    IMG_file* img =
        crop((new MemImage(in, {0xF0, 0x0F}))->ToImg('r', 1), c.first / 15.0, 0, c.last / 15.0, 1);
    std::vector<uint8_t> got(img->info.bytes_per_line);
    ASSERT_EQ(img_read_line(img, got.data(), 1), 1);
    EXPECT_EQ(got, c.want) << c.first << ".." << c.last;
    img_close(img);
  }
  // 4 bits from pixel 1: each output byte joins two source nibbles.
  image_info in4 = make_info(6, 1, 4, 1, KLV_PLANAR_PIXEL);
  IMG_file* img = crop((new MemImage(in4, {0x12, 0x34, 0x56}))->ToImg('r', 1), 0.2, 0, 1, 1);
  std::vector<uint8_t> got(3);
  ASSERT_EQ(img_read_line(img, got.data(), 1), 1);
  EXPECT_EQ(got, (std::vector<uint8_t>{0x23, 0x45, 0x60}));
  img_close(img);
}

TEST(CropFilter, PlanesInOrderAndSeeking) {
  const image_info in = make_info(8, 20, 8, 3, KLV_PLANAR_PLANES);
  const MemImage ref(in);
  IMG_file* img = crop((new MemImage(in))->ToImg('r', 1), 0, 5 / 19.0, 1, 14 / 19.0);
  ASSERT_EQ(img->info.height, 10);
  std::vector<uint8_t> lines(8 * 11);
  ASSERT_EQ(img_read_line(img, lines.data(), 11), 11);
  EXPECT_EQ(0, std::memcmp(lines.data() + 80, ref.Line(0, 1, 5), 8));  // the 11th from plane 1
  EXPECT_EQ(img_seek_line(img, 0, 2, 0, 0), 0);
  std::vector<uint8_t> line(8);
  ASSERT_EQ(img_read_line(img, line.data(), 1), 1);
  EXPECT_EQ(0, std::memcmp(line.data(), ref.Line(0, 2, 5), 8));
  EXPECT_EQ(img_seek_line(img, 0, 0, 0, 2), 9);  // last line of the last plane
  ASSERT_EQ(img_read_line(img, line.data(), 1), 1);
  EXPECT_EQ(0, std::memcmp(line.data(), ref.Line(0, 2, 14), 8));
  EXPECT_EQ(img_read_line(img, line.data(), 1), 0);
  EXPECT_EQ(img_seek_line(img, -1000, 0, 0, 1), 0);  // clamped to the start
  EXPECT_EQ(img_seek_line(img, 0, 0, 1, 0), -1);     // one page
  img_close(img);
}

TEST(CropFilter, LineInterleavedCutsEveryPlaneRow) {
  const image_info in = make_info(10, 2, 8, 3, KLV_PLANAR_LINES);
  const MemImage ref(in);
  IMG_file* img = crop((new MemImage(in))->ToImg('r', 1), 2 / 9.0, 0, 5 / 9.0, 1);
  ASSERT_EQ(img->info.bytes_per_line, 12u);
  std::vector<uint8_t> line(12);
  ASSERT_EQ(img_read_line(img, line.data(), 1), 1);
  for (int p = 0; p < 3; ++p)
    EXPECT_EQ(0, std::memcmp(line.data() + 4 * p, ref.Line(0, 0, 0) + 10 * p + 2, 4));
  img_close(img);
}

TEST(CropFilter, WholeImageIsTransparent) {
  const image_info in = make_info(7, 5, 8, 3, KLV_PLANAR_LINES);
  int64_t seeks = 0, reads = 0;
  auto* mem = new MemImage(in);
  mem->Count(&seeks, &reads);
  cropfltr_info* c = cropfltr_malloc_info();
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->x2, 1.0);
  IMG_file* img = cropfltr_to_img(cropfltr_attach(mem->ToImg('r', 4), c));
  cropfltr_free_info(c);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(0, std::memcmp(&img->info, &in, offsetof(image_info, crop)));
  std::vector<uint8_t> line(in.bytes_per_line * 5);
  const int64_t seeks_before = seeks;
  EXPECT_EQ(img_seek_line(img, 3, 0, 0, 0), 3);
  EXPECT_EQ(seeks, seeks_before + 1);
  EXPECT_EQ(img_read_line(img, line.data(), 5), 2);
  EXPECT_EQ(reads, 2);
  img_close(img);

  // Writing passes through a whole-image crop, and nowhere else.
  klv::test::SinkLog log;
  const cropfltr_info whole{0, 0, 1, 1}, part{0, 0, 0.5, 1};
  img = cropfltr_to_img(cropfltr_attach((new klv::test::Sink(in, &log))->ToImg('w', 4), &whole));
  std::vector<uint8_t> two(in.bytes_per_line * 2, 7);
  EXPECT_EQ(img_write_line(img, two.data(), 2), 2);
  EXPECT_EQ(log.written, 2);
  img_close(img);
  img = cropfltr_to_img(cropfltr_attach((new klv::test::Sink(in, &log))->ToImg('w', 4), &part));
  EXPECT_EQ(img_write_line(img, two.data(), 1), 0);
  img_close(img);
}

TEST(CropFilter, Refusals) {
  EXPECT_EQ(cropfltr_attach(nullptr, nullptr), nullptr);
  EXPECT_EQ(cropfltr_read_line(nullptr, nullptr, 1), -1);
  EXPECT_EQ(cropfltr_seek_line(nullptr, 0, 0, 0, 0), -1);
  EXPECT_EQ(cropfltr_to_img(nullptr), nullptr);
  const image_info in = make_info(7, 5, 8, 1, KLV_PLANAR_PIXEL);
  IMG_file* src = (new MemImage(in))->ToImg('r', 1);
  const cropfltr_info backwards{0.5, 0, 0.2, 1}, outside{0, 0, 1.5, 1};
  EXPECT_EQ(cropfltr_attach(src, &backwards), nullptr);  // left open
  EXPECT_EQ(cropfltr_attach(src, &outside), nullptr);
  src->info.planar |= KLV_PLANAR_TILED;
  EXPECT_EQ(cropfltr_attach(src, nullptr), nullptr);
  src->info.planar = KLV_PLANAR_PIXEL;
  img_close(src);
}

}  // namespace
