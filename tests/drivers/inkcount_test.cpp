// SPDX-License-Identifier: MIT
// Ink counting through the file driver: the counts of a screened page, per
// ink and per drop size, equal a count made directly from its samples, for
// the whole page, a rectangle, and lines written into the counter.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "klv/img.h"
#include "klv/inkcount_cxx.h"
#include "klv/printer_driver.h"
#include "support/image.h"

#ifdef KLV_FILE_DRIVER

namespace {

// A screened test page: per ink a ramp across the page, thresholded against
// a 4x4 ordered screen (levels above one use the screen between levels),
// line-interleaved: each line holds every ink's row.
struct ScreenedPage {
  image_info info{};
  std::vector<uint8_t> data;
  size_t Row() const { return (info.bits_per_sample * static_cast<size_t>(info.width) + 7) / 8; }
  uint32_t Sample(uint32_t y, uint32_t ink, uint32_t x) const {
    const uint8_t* row = data.data() + (y * info.samples + ink) * Row();
    const uint32_t bits = info.bits_per_sample, bit = x * bits;
    return (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
  }
};

ScreenedPage MakePage(int32_t width, int32_t height, uint32_t bits, uint32_t inks) {
  static const int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
  ScreenedPage page;
  page.info = klv::test::make_info(width, height, bits, inks, KLV_PLANAR_LINES);
  page.data.assign(page.Row() * inks * static_cast<size_t>(height), 0);
  const uint32_t top = (1u << bits) - 1;
  for (int32_t y = 0; y < height; ++y)
    for (uint32_t k = 0; k < inks; ++k) {
      uint8_t* row = page.data.data() + (static_cast<size_t>(y) * inks + k) * page.Row();
      for (int32_t x = 0; x < width; ++x) {
        // Each ink ramps in its own direction so that the inks differ.
        const double tone = k % 2 ? double(x) / width : double(y + k * 7) / (height + 21);
        const double level = tone * top;
        auto v = static_cast<uint32_t>(level);
        if (v < top && (level - v) * 16 > kBayer[y % 4][x % 4]) ++v;
        const uint32_t bit = static_cast<uint32_t>(x) * bits;
        row[bit / 8] |= static_cast<uint8_t>(v << (8 - bits - bit % 8));
      }
    }
  return page;
}

// Counts per ink and drop size, straight from the samples of a rectangle.
std::vector<uint64_t> Direct(const ScreenedPage& p, uint32_t x0, uint32_t x1, uint32_t y0,
                             uint32_t y1) {
  const uint32_t levels = (1u << p.info.bits_per_sample) - 1;
  std::vector<uint64_t> counts(p.info.samples * levels, 0);
  for (uint32_t y = y0; y < y1; ++y)
    for (uint32_t k = 0; k < p.info.samples; ++k)
      for (uint32_t x = x0; x <= x1; ++x)
        if (uint32_t v = p.Sample(y, k, x)) ++counts[k * levels + v - 1];
  return counts;
}

class InkCountTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int32_t error = -1;
    object_ = SP_open(KLV_FILE_DRIVER, "KlvDemo", &error, "KlvDemo");
    ASSERT_NE(object_, nullptr) << error;
  }
  void TearDown() override {
    if (object_) SP_close(object_);
  }
  // The counter's counts as one array like Direct's.
  static std::vector<uint64_t> Counted(const CInkCountHT& c) {
    return {c.DropCounts(), c.DropCounts() + c.Inks() * c.DropLevels()};
  }
  SP_OBJECT* object_ = nullptr;
  SP_INFO info_{};
};

struct Reports : ICountCallback {
  std::vector<int32_t> done;
  int32_t total = 0;
  void Progress(int32_t d, int32_t t) override {
    done.push_back(d);
    total = t;
  }
};

TEST_F(InkCountTest, WholePagesAndRectanglesMatchTheDots) {
  const struct {
    uint32_t bits, inks;
    double x0, x1, y0, y1;
  } cases[] = {
      {1, 4, 0, 1, 0, 1},            // one-bit, whole page
      {2, 4, 0, 1, 0, 1},            // three drop sizes
      {4, 2, 0, 1, 0, 1},            // fifteen levels
      {8, 1, 0, 1, 0, 1},            // one 8-bit ink
      {1, 4, 0.13, 0.71, 0.2, 0.9},  // a crop starting inside a byte
      {2, 6, -0.5, 0.5, 0.5, 7.0},   // fractions out of range are clamped
      {4, 3, 0.37, 0.38, 0.0, 0.5},  // a narrow strip
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bits << " bits, " << c.inks << " inks, " << c.x0 << "-"
                                    << c.x1 << " x " << c.y0 << "-" << c.y1);
    const int32_t w = 203, h = 61;
    ScreenedPage page = MakePage(w, h, c.bits, c.inks);
    const double x0 = c.x0 < 0 ? 0 : c.x0, x1 = c.x1 > 1 ? 1 : c.x1;
    const double y0 = c.y0 < 0 ? 0 : c.y0, y1 = c.y1 > 1 ? 1 : c.y1;
    const bool whole = x0 < 0.00001 && y0 < 0.00001 && x1 > 0.99 && y1 > 0.99;
    const auto px0 = whole ? 0u : static_cast<uint32_t>(x0 * (w - 1));
    const auto px1 = whole ? uint32_t(w - 1) : static_cast<uint32_t>(x1 * (w - 1));
    const auto py0 = whole ? 0u : static_cast<uint32_t>(y0 * (h - 1));
    const auto py1 = whole ? uint32_t(h) : static_cast<uint32_t>(y1 * (h - 1));
    const std::vector<uint64_t> expected = Direct(page, px0, px1, py0, py1);

    IMG_file* img = (new klv::test::MemImage(page.info, page.data))->ToImg('r', 0);
    ASSERT_NE(img, nullptr);
    CInkCountHT counter(object_, &info_, nullptr);
    Reports progress;
    ASSERT_TRUE(counter.CountImage(img, "test page", "job", 0, &progress, c.x0, c.x1, c.y0, c.y1));
    img_close(img);
    EXPECT_EQ(counter.Lines(), static_cast<int32_t>(py1 - py0));
    EXPECT_EQ(Counted(counter), expected);
    _SP_DOT_COUNT totals{};
    ASSERT_TRUE(counter.GetInkCount(&totals));
    EXPECT_EQ(totals.channels, c.inks);
    for (uint32_t k = 0; k < c.inks; ++k) {
      uint64_t sum = 0;
      for (uint32_t l = 0; l < counter.DropLevels(); ++l)
        sum += expected[k * counter.DropLevels() + l];
      EXPECT_EQ(totals.dots[k], sum) << "ink " << k;
      EXPECT_EQ(counter.Dots()[k], sum);
    }
    // Progress: each percent once, the last at the last line, of the height.
    ASSERT_FALSE(progress.done.empty());
    EXPECT_EQ(progress.done.back(), counter.Lines());
    EXPECT_EQ(progress.total, h);
  }
}

TEST_F(InkCountTest, LinesWrittenIntoTheCounter) {
  ScreenedPage page = MakePage(97, 40, 2, 4);
  CInkCountHT* counter = new CInkCountHT(object_, &info_, nullptr);
  ASSERT_TRUE(counter->Open(page.info, "t", "j", 0, 0.25, 0.75, 0.25, 0.75));
  const size_t line = page.Row() * 4;
  // In two writes, as a producer would.
  EXPECT_EQ(counter->WriteLine(page.data.data(), 15), 15);
  EXPECT_EQ(counter->WriteLine(page.data.data() + 15 * line, 25), 25);
  EXPECT_EQ(Counted(*counter), Direct(page, 24, 72, 9, 29));
  // As an image stream: closing the handle finishes the count.
  IMG_file* img = counter->ToImg('w', 0);
  ASSERT_NE(img, nullptr);
  img_close(img);
}

TEST_F(InkCountTest, RefusalsEndTheCount) {
  ScreenedPage page = MakePage(16, 4, 1, 1);
  CInkCountHT no_printer;
  EXPECT_FALSE(no_printer.Open(page.info, "", "", 0, 0, 1, 0, 1));
  EXPECT_EQ(no_printer.WriteLine(page.data.data(), 1), 0);
  CInkCountHT counter(object_, &info_, nullptr);
  image_info pixel = klv::test::make_info(16, 4, 1, 3, KLV_PLANAR_PIXEL);
  EXPECT_FALSE(counter.Open(pixel, "", "", 0, 0, 1, 0, 1));  // not line-interleaved
  // A stream that ends early: false, and the finish is still sent.
  std::vector<uint8_t> short_data(page.data.begin(), page.data.begin() + 2 * page.Row());
  image_info tall = page.info;
  IMG_file* img = (new klv::test::MemImage(tall, short_data))->ToImg('r', 0);
  EXPECT_TRUE(counter.CountImage(img, "", "", 0, nullptr));  // missing bytes read as 0
  img_close(img);
  EXPECT_FALSE(counter.CountImage(static_cast<IMG_file*>(nullptr), "", "", 0, nullptr));
}

}  // namespace

#endif
