// SPDX-License-Identifier: MIT
// Screen generators: tile geometry, the tone each threshold table gives, dot
// clustering, and PNG previews of a screened ramp for each generator.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "klv/halftone_screenmtx.h"
#include "preview.h"

namespace {

// 8-connected groups of dots in an image (no wrap).
int count_clusters(const klv::test::DotImage& img) {
  std::vector<uint8_t> seen(size_t(img.width) * img.height, 0);
  int groups = 0;
  std::vector<std::pair<int, int>> stack;
  for (int y = 0; y < img.height; ++y) {
    for (int x = 0; x < img.width; ++x) {
      if (!img.dot(x, y) || seen[size_t(y) * img.width + x]) continue;
      ++groups;
      stack.push_back({x, y});
      seen[size_t(y) * img.width + x] = 1;
      while (!stack.empty()) {
        auto [cx, cy] = stack.back();
        stack.pop_back();
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) {
            int nx = cx + dx, ny = cy + dy;
            if (nx < 0 || ny < 0 || nx >= img.width || ny >= img.height) continue;
            size_t i = size_t(ny) * img.width + nx;
            if (seen[i] || !img.dot(nx, ny)) continue;
            seen[i] = 1;
            stack.push_back({nx, ny});
          }
      }
    }
  }
  return groups;
}

double coverage(const klv::test::DotImage& img) {
  size_t n = 0;
  for (int y = 0; y < img.height; ++y)
    for (int x = 0; x < img.width; ++x) n += img.dot(x, y);
  return double(n) / (double(img.width) * img.height);
}

TEST(ScreenMtx, TileHoldsOneCellAndThresholdsSpreadEvenly) {
  struct Row {
    double angle, size;
    uint32_t w, h;
  };
  // 45 degrees with edge vector (6, 6): a 12 x 6 brick; 0 and 90: square cells.
  for (Row r : {Row{45, 6 * std::sqrt(2.0), 12, 6}, Row{0, 8, 8, 8}, Row{90, 8, 8, 8},
                Row{225, 6 * std::sqrt(2.0), 12, 6}, Row{-15, 10, 0, 0}}) {
    SCOPED_TRACE(r.angle);
    CScreenMtx m;
    ASSERT_TRUE(m.Setup(r.angle, r.size, 0, 1, 1));
    if (r.w) {
      EXPECT_EQ(m.Width(), r.w);
      EXPECT_EQ(m.Height(), r.h);
    }
    ASSERT_TRUE(m.Build());
    CHTThreshTable<unsigned short> t;
    ASSERT_TRUE(m.WriteTable(t, 256));
    // Every tone step of 256 levels prints a share of the tile close to its value.
    std::vector<int> hist(256, 0);
    for (uint32_t y = 0; y < t.height; ++y)
      for (uint32_t x = 0; x < t.width; ++x) ++hist[t.rows[y][x]];
    EXPECT_EQ(hist[255], 0) << "the top level is never a threshold";
    const double n = double(t.width) * t.height;
    int below = 0;
    for (int tone = 0; tone < 256; ++tone) {
      EXPECT_NEAR(below / n, tone / 255.0, 1.0 / n + 1e-9) << "tone " << tone;
      below += hist[tone];
    }
  }
}

// Screens a flat tint of every level over one tile of each of the
// placement's screens and checks the dots printed against the level's share
// of the cell: within half a pixel of the cell (a cell of n pixels renders
// n + 1 tones). A rule that always rounds up, or down, is a pixel off on
// about half the levels and fails.
void expect_tints_round_to_nearest(CHTPlaceKlvScreen& place, const std::string& what) {
  for (int sep = 0; sep < place.GetNumScreens(); ++sep) {
    unsigned short** rows;
    uint32_t w, levels;
    uint16_t h, shift;
    ASSERT_TRUE(place.GetScreen(sep, rows, w, h, shift, levels)) << what;
    // Any w pixels of h successive lines meet every threshold of the tile once.
    std::vector<uint8_t> tints(size_t(w) * h * 256);
    for (size_t i = 0; i < tints.size(); ++i) tints[i] = uint8_t(i / (size_t(w) * h));
    auto img = klv::test::ScreenGray(place, tints, int(w), int(h) * 256, sep);
    ASSERT_EQ(img.width, int(w)) << what;
    const double n = double(w) * h;
    double bias = 0;
    for (int v = 0; v < 256; ++v) {
      int dots = 0;
      for (int y = v * h; y < (v + 1) * h; ++y)
        for (int x = 0; x < int(w); ++x) dots += img.dot(x, y);
      const double off = dots - v * n / 255;
      bias += off / 256;
      if (std::fabs(off) > 0.5 + 1e-9) {
        ADD_FAILURE() << what << " sep " << sep << ": level " << v << " prints " << dots << " of "
                      << n << " pixels, " << off << " off";
        return;
      }
    }
    EXPECT_LT(std::fabs(bias), 0.1) << what << " sep " << sep << ": mean error " << bias;
  }
}

TEST(ScreenMtx, FlatTintsPrintTheirShareOfTheCellRoundedToNearest) {
  struct Kind {
    int type, shape;
  };
  const Kind kinds[] = {{0, 0}, {1, 0}, {2, 0}, {2, 1}, {2, 2}, {2, 3}, {3, 0}, {4, 0}, {5, 0}};
  const double angles[] = {0, 15, 45, 71.565, 105, 172.5};
  const double cells[] = {4, 7.3, 12};
  for (const Kind& k : kinds)
    for (double a : angles)
      for (double c : cells) {
        CHTPlaceKlvScreen place;
        const std::string what = "type " + std::to_string(k.type) + " shape " +
                                 std::to_string(k.shape) + " angle " + std::to_string(a) +
                                 " cell " + std::to_string(c);
        ASSERT_TRUE(place.AddScreen(k.type, a, c, k.shape, 1200, 1200)) << what;
        expect_tints_round_to_nearest(place, what);
      }
  // The four-screen sets and a stretched screen (1440 x 720).
  for (int type : {0, 1, 2, 3, 5})
    for (double s : {6.0, 10.0}) {
      CHTPlaceKlvScreen four;
      ASSERT_TRUE(four.GenerateFour(type, s, 1200, 1200));
      expect_tints_round_to_nearest(four, "four of type " + std::to_string(type));
    }
  CHTPlaceKlvScreen wide;
  ASSERT_TRUE(wide.AddScreen(0, 30, 9, 0, 1440, 720));
  expect_tints_round_to_nearest(wide, "1440 x 720");
}

TEST(ScreenMtx, StretchFactors) {
  struct Row {
    double x, y;
    int k, xs, ys;
  };
  for (Row r : {Row{720, 720, 1, 1, 1}, Row{1440, 720, 1, 2, 1}, Row{720, 1440, 1, 1, 2},
                Row{720, 480, 2, 3, 2}, Row{1000, 333.3, 1, 3, 1}}) {
    int xs, ys;
    EXPECT_EQ(HTStretchFactors(r.x, r.y, xs, ys), r.k) << r.x << "x" << r.y;
    EXPECT_EQ(xs, r.xs);
    EXPECT_EQ(ys, r.ys);
  }
}

TEST(ScreenMtx, AmScreenHasOneClusterPerCellAndDitherDoesNot) {
  // 150 lpi at 1200 dpi: an 8-pixel cell. A flat 20% patch must show one
  // round dot per cell for the clustered generators.
  const int w = 240, h = 240;
  std::vector<uint8_t> flat(size_t(w) * h, uint8_t(0.2 * 255));
  for (int type : {0, 2, 5}) {
    CHTPlaceKlvScreen place;
    ASSERT_TRUE(place.AddScreen(type, 45, 8, 0, 1200, 1200));
    auto img = klv::test::ScreenGray(place, flat, w, h);
    double cells = double(w) * h / (6 * 6 * 2);  // the 45-degree cell is 6x6 turned: area 72
    EXPECT_NEAR(coverage(img), 0.2, 0.02) << "type " << type;
    EXPECT_NEAR(count_clusters(img), cells, cells * 0.2) << "type " << type;
  }
  CHTPlaceKlvScreen dither;
  ASSERT_TRUE(dither.AddScreen(1, 45, 8, 0, 1200, 1200));
  auto img = klv::test::ScreenGray(dither, flat, w, h);
  EXPECT_NEAR(coverage(img), 0.2, 0.02);
  EXPECT_GT(count_clusters(img), 3 * double(w) * h / 72);
}

TEST(ScreenMtx, FourScreensAndPreviews) {
  const int w = 600, h = 150;
  auto ramp = klv::test::GrayRamp(w, h);
  struct Gen {
    int type;
    const char* name;
  };
  for (Gen g :
       {Gen{0, "round"}, Gen{1, "dither"}, Gen{2, "elliptic"}, Gen{3, "line"}, Gen{5, "fuzzy"}}) {
    CHTPlaceKlvScreen place;
    ASSERT_TRUE(place.GenerateFour(g.type, 8, 1200, 1200)) << g.name;
    ASSERT_EQ(place.GetNumScreens(), 4);
    for (int sep = 0; sep < 4; ++sep) {
      auto img = klv::test::ScreenGray(place, ramp, w, h, sep);
      ASSERT_EQ(img.width, w);
      // The ramp's ends: no ink at 0, full ink at 255.
      for (int y = 0; y < h; ++y) {
        EXPECT_FALSE(img.dot(0, y));
        EXPECT_TRUE(img.dot(w - 1, y));
      }
      EXPECT_NEAR(coverage(img), 0.5, 0.03) << g.name << " sep " << sep;
      EXPECT_FALSE(
          klv::test::WritePreview(img, std::string("ramp_") + g.name + "_sep" + std::to_string(sep))
              .empty());
    }
  }
  // The clustered screen at 1440 x 720: dots stretched back to round on paper.
  CHTPlaceKlvScreen wide;
  ASSERT_TRUE(wide.AddScreen(0, 45, 8, 0, 1440, 720));
  auto img = klv::test::ScreenGray(wide, ramp, w, h);
  EXPECT_FALSE(klv::test::WritePreview(img, "ramp_round_1440x720").empty());
}

}  // namespace
