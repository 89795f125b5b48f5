// SPDX-License-Identifier: MIT
// The null stream and the multiplexed stream.
#include <gtest/gtest.h>

#include <vector>

#include "klv/streams.h"
#include "support/image.h"

using namespace klv::test;

namespace {

TEST(NullStream, RefusesReadingAndDescriptionsItCannotTake) {
  image_cmap map{};
  struct Case {
    const char* what;
    const char* mode;
    void (*spoil)(image_info&);
  };
  const Case cases[] = {
      {"mode r", "r", [](image_info&) {}},
      {"16 bits", "w", [](image_info& i) { i.bits_per_sample = 16; }},
      {"0 bits", "w", [](image_info& i) { i.bits_per_sample = 0; }},
      {"no height", "w", [](image_info& i) { i.height = 0; }},
      {"13 samples", "w", [](image_info& i) { i.samples = 13; }},
      {"photometric 4", "w", [](image_info& i) { i.photometric = 4; }},
      {"palette without map", "w", [](image_info& i) { i.photometric = KLV_PHOTO_PALETTE; }},
      {"palette of 3 samples", "w",
       [](image_info& i) { i.photometric = KLV_PHOTO_PALETTE, i.cmap = (image_cmap*)1; }},
      {"tiled", "w", [](image_info& i) { i.planar = KLV_PLANAR_TILED; }},
  };
  for (const Case& c : cases) {
    image_info info = describe(10, 10, 3, 8, 1);
    c.spoil(info);
    EXPECT_EQ(null_open(nullptr, nullptr, c.mode, &info), nullptr) << c.what;
  }
  image_info pal = describe(10, 10, 1, 8, KLV_PHOTO_PALETTE);
  pal.cmap = &map;
  void* st = null_open(nullptr, nullptr, "wb", &pal);
  EXPECT_NE(st, nullptr) << "a palette with one sample and a map";
  null_close(st);
}

TEST(NullStream, DiscardsLinesAndReportsThemTaken) {
  image_info info = describe(101, 7, 4, 1, 0, KLV_PLANAR_LINES);
  info.bytes_per_line = 0;
  info.crop.x2 = 0.5;
  IMG_file* img = null_open_img("ignored", nullptr, "w", &info);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->type, KLV_TYPE_NULLIMG);
  EXPECT_EQ(info.bytes_per_line, 4u * 13u) << "set by the layout rule";
  EXPECT_EQ(info.crop.x2, 1.0) << "full-image crop";
  std::vector<uint8_t> line(info.bytes_per_line * 3);
  EXPECT_EQ(img_write_line(img, line.data(), 3), 3);
  EXPECT_EQ(img_seek_line(img, 42, 0, 0, 0), 42);
  EXPECT_EQ(img_read_line(img, line.data(), 1), 0);
  EXPECT_EQ(img_get_cmap(img), nullptr);
  img_close(img);
}

IMG_file* sink(const image_info& info, std::shared_ptr<SinkLog> log, int fail_after = -1) {
  return (new Sink(info, std::move(log), fail_after))->ToImg('w', 13);
}

TEST(MultiplexedStream, WritesEveryLineToEveryStreamAndClosesThemAll) {
  image_info info = describe(20, 5, 3, 8, 1);
  info.xres = 300;
  auto a = std::make_shared<SinkLog>(), b = std::make_shared<SinkLog>();
  IMG_file* list[] = {sink(info, a), sink(info, b), nullptr};
  IMG_file* mult = mult_img_connect(list);
  ASSERT_NE(mult, nullptr);
  EXPECT_EQ(mult->type, KLV_TYPE_MULTIMG);
  EXPECT_EQ(mult->info.bytes_per_line, info.bytes_per_line);
  EXPECT_EQ(mult->info.xres, 300);
  EXPECT_EQ(mult->info.crop.x2, 1.0);
  auto data = pattern_bytes(info.bytes_per_line * 5, 7);
  EXPECT_EQ(img_write_line(mult, data.data(), 2), 2);
  EXPECT_EQ(img_write_line(mult, data.data() + 2 * info.bytes_per_line, 3), 3);
  EXPECT_EQ(img_seek_line(mult, 1, 0, 0, 0), 1);
  img_close(mult);
  EXPECT_EQ(a->bytes, data);
  EXPECT_EQ(b->bytes, data);
  EXPECT_EQ(a->closes, 1);
  EXPECT_EQ(b->closes, 1);
}

// A stream that fails is not hidden by the ones after it.
TEST(MultiplexedStream, ReportsTheFewestLinesAndAnyRefusedSeek) {
  image_info info = describe(8, 10, 1, 8, 1);
  auto good = std::make_shared<SinkLog>(), bad = std::make_shared<SinkLog>();
  IMG_file* list[] = {sink(info, bad, 2), sink(info, good), nullptr};
  IMG_file* mult = mult_img_connect(list);
  ASSERT_NE(mult, nullptr);
  std::vector<uint8_t> lines(8 * 4);
  EXPECT_EQ(img_write_line(mult, lines.data(), 2), 2);
  EXPECT_EQ(img_write_line(mult, lines.data(), 4), 0);
  EXPECT_EQ(img_seek_line(mult, 0, 0, 0, 0), -1);
  EXPECT_EQ(good->seeks, 1) << "every stream is still asked";
  img_close(mult);
}

TEST(MultiplexedStream, RefusesStreamsThatDisagree) {
  const image_info base = describe(20, 5, 3, 8, 1);
  struct Case {
    const char* what;
    void (*spoil)(image_info&);
  };
  const Case cases[] = {
      {"width", [](image_info& i) { i.width = 21; }},
      {"height", [](image_info& i) { i.height = 6; }},
      {"pages", [](image_info& i) { i.pages = 2; }},
      {"layout", [](image_info& i) { i.planar = KLV_PLANAR_LINES; }},
      {"bits", [](image_info& i) { i.bits_per_sample = 4; }},
      {"samples", [](image_info& i) { i.samples = 4; }},
      {"photometric", [](image_info& i) { i.photometric = 0; }},
  };
  for (const Case& c : cases) {
    auto log = std::make_shared<SinkLog>();
    image_info other = base;
    c.spoil(other);
    IMG_file* list[] = {sink(base, log), sink(other, log), nullptr};
    EXPECT_EQ(mult_img_connect(list), nullptr) << c.what;
    EXPECT_EQ(log->closes, 0) << "the caller keeps its streams";
    img_close(list[0]);
    img_close(list[1]);
  }
  image_info tiled = base;
  tiled.planar = KLV_PLANAR_TILED;
  auto log = std::make_shared<SinkLog>();
  IMG_file* list[] = {sink(tiled, log), nullptr};
  EXPECT_EQ(mult_img_connect(list), nullptr);
  img_close(list[0]);
  IMG_file* empty[] = {nullptr};
  EXPECT_EQ(mult_img_connect(empty), nullptr);
  EXPECT_EQ(mult_img_connect(nullptr), nullptr);
}

}  // namespace
