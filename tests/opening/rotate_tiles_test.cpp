// SPDX-License-Identifier: MIT
// Quarter turns through the tile file give the same lines as the band passes
// over the source, read the source once, and leave no file or descriptor.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "img/filters/rotate_tiles.h"
#include "klv/rotate.h"
#include "support/image.h"
#include "support/resources.h"

namespace {

using klv::img::TileLimits;
using klv::test::make_info;
using klv::test::MemImage;

// Sets the tiling limits for one scope.
class Limits {
 public:
  explicit Limits(TileLimits l) : old_(klv::img::tile_limits()) { klv::img::set_tile_limits(l); }
  ~Limits() { klv::img::set_tile_limits(old_); }

 private:
  TileLimits old_;
};

constexpr TileLimits kAlwaysTiles{0, 0};
constexpr TileLimits kNeverTiles{std::numeric_limits<uint64_t>::max(), 0};

struct Result {
  std::vector<uint8_t> bytes;  // every line of every plane and page
  int32_t passes = 0;
  int64_t reads = 0;
};

Result turn(const image_info& in, int turns, bool mirror, uint32_t budget) {
  Result r;
  auto* mem = new MemImage(in);
  int64_t seeks = 0;
  mem->Count(&seeks, &r.reads);
  rotate_request req{};
  req.turns = static_cast<uint8_t>(turns);
  req.mirror = mirror;
  req.budget = budget;
  rotate_filter* f = rotate_attach(mem->ToImg('r', 99), &req);
  if (!f) return r;
  r.passes = rotate_passes(f);
  IMG_file* img = rotate_to_file(f);
  const size_t bpl = img->info.bytes_per_line;
  const size_t lines = size_t(img->info.height) * klv::test::planes_of(in) * std::max(1u, in.pages);
  r.bytes.assign(lines * bpl, 0xEE);
  const int32_t got = img_read_line(img, r.bytes.data(), static_cast<int32_t>(lines));
  if (got != static_cast<int32_t>(lines)) r.bytes.clear();
  img_close(img);
  return r;
}

struct Shape {
  uint32_t bits, samples, planar, pages;
};

// Every layout, depth and odd size: the tiled turn equals the band passes,
// byte for byte (padding bits included).
TEST(RotateTiles, SameLinesAsBandPasses) {
  const Shape shapes[] = {
      {1, 1, KLV_PLANAR_PIXEL, 1},  {2, 3, KLV_PLANAR_PIXEL, 1},   {3, 2, KLV_PLANAR_PIXEL, 1},
      {4, 4, KLV_PLANAR_PIXEL, 1},  {8, 4, KLV_PLANAR_PIXEL, 1},   {8, 3, KLV_PLANAR_PIXEL, 2},
      {16, 3, KLV_PLANAR_PIXEL, 1}, {8, 5, KLV_PLANAR_PIXEL, 1},   {1, 4, KLV_PLANAR_PLANES, 1},
      {8, 2, KLV_PLANAR_PLANES, 2}, {16, 2, KLV_PLANAR_PLANES, 1}, {1, 3, KLV_PLANAR_LINES, 1},
      {4, 3, KLV_PLANAR_LINES, 1},  {8, 4, KLV_PLANAR_LINES, 1},   {16, 2, KLV_PLANAR_LINES, 1},
  };
  const int sizes[][2] = {{37, 23}, {9, 41}, {8, 16}, {1, 19}};
  for (const Shape& s : shapes) {
    for (const auto& wh : sizes) {
      const image_info in = make_info(wh[0], wh[1], s.bits, s.samples, s.planar, s.pages);
      const uint32_t src_bpl = in.bytes_per_line;
      // Budgets that give strips of 8 lines and bands of a few lines, and
      // strips that take the whole plane.
      for (uint32_t budget : {1u, 16 * src_bpl + 3, 4096u}) {
        for (int turns : {1, 3}) {
          for (bool mirror : {false, true}) {
            SCOPED_TRACE(testing::Message()
                         << "bits " << s.bits << " samples " << s.samples << " layout " << s.planar
                         << " pages " << s.pages << " size " << wh[0] << "x" << wh[1] << " budget "
                         << budget << " turns " << turns << " mirror " << mirror);
            Result plain, tiled;
            {
              Limits l(kNeverTiles);
              plain = turn(in, turns, mirror, budget);
            }
            {
              Limits l(kAlwaysTiles);
              tiled = turn(in, turns, mirror, budget);
            }
            ASSERT_FALSE(plain.bytes.empty());
            ASSERT_EQ(tiled.bytes, plain.bytes);
            if (plain.passes > 1) {
              EXPECT_EQ(tiled.passes, 1);
              const int64_t lines = int64_t(in.height) * klv::test::planes_of(in) * in.pages;
              EXPECT_EQ(tiled.reads, lines);  // every source line once
            }
          }
        }
      }
    }
  }
}

// A 1500x1000 CMYK plane (6 MB) with a 1 MB budget goes through tiles with
// the default limits: one pass instead of 6, the same lines, and no file or
// descriptor left after the close.
TEST(RotateTiles, LargeImageTakesTheTiledPath) {
  const image_info in = make_info(1500, 1000, 8, 4, KLV_PLANAR_PIXEL);
  const uint32_t budget = 1u << 20;
  Result plain;
  {
    Limits l(kNeverTiles);
    plain = turn(in, 1, false, budget);
  }
  ASSERT_EQ(plain.passes, 6);  // 1500 output lines of 4000 bytes, 262 a band
  klv::test::ResourceCheck check;
  std::vector<int32_t> told;
  rotate_request req{};
  req.turns = 1;
  req.budget = budget;
  req.progress_arg = &told;
  req.progress = [](int32_t pct, int32_t pass, int32_t passes, void* arg) -> int32_t {
    if (pct == 0 || pct == 100)
      static_cast<std::vector<int32_t>*>(arg)->push_back(pass * 1000 + passes);
    return 1;
  };
  int64_t seeks = 0, reads = 0;
  auto* mem = new MemImage(in);
  mem->Count(&seeks, &reads);
  rotate_filter* f = rotate_attach(mem->ToImg('r', 99), &req);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(rotate_passes(f), 1);
  IMG_file* img = rotate_to_file(f);
  std::vector<uint8_t> got(plain.bytes.size());
  ASSERT_EQ(img_read_line(img, got.data(), 1500), 1500);
  EXPECT_EQ(got, plain.bytes);
  EXPECT_EQ(reads, 1000);
  // Back to the first line: read from the tiles, not from the source again.
  ASSERT_EQ(img_seek_line(img, 0, 0, 0, 0), 0);
  std::vector<uint8_t> first(img->info.bytes_per_line);
  ASSERT_EQ(img_read_line(img, first.data(), 1), 1);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), plain.bytes.begin()));
  EXPECT_EQ(reads, 1000);
  img_close(img);
  EXPECT_EQ(told, (std::vector<int32_t>{1001, 1001}));
  EXPECT_EQ(check.Leaks(), "");
}

// A progress function that stops the source pass fails the read, and the
// tile file still goes away.
TEST(RotateTiles, AbortedSourcePass) {
  Limits l(kAlwaysTiles);
  klv::test::ResourceCheck check;
  const image_info in = make_info(40, 64, 8, 3, KLV_PLANAR_PIXEL);
  rotate_request req{};
  req.turns = 3;
  req.budget = 200;
  req.progress = [](int32_t pct, int32_t, int32_t, void*) -> int32_t { return pct < 50; };
  IMG_file* img = rotate_to_file(rotate_attach((new MemImage(in))->ToImg('r', 99), &req));
  ASSERT_NE(img, nullptr);
  std::vector<uint8_t> line(img->info.bytes_per_line);
  EXPECT_EQ(img_read_line(img, line.data(), 1), 0);
  img_close(img);
  EXPECT_EQ(check.Leaks(), "");
}

}  // namespace
