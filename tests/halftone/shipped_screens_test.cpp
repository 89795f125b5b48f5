// SPDX-License-Identifier: MIT
// The shipped screen files (data/screens): they equal what the library
// computes, the built-in ones load through the search path as the built-in
// screens, and all are good screens (flat tones print their share of dots,
// evenly spread). Writes previews of a ramp screened with each.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "halftone/placement_builtin.h"
#include "klv/halftone_screen.h"
#include "klv/htplace.h"
#include "preview.h"

namespace {

const std::string kScreens = std::string(KLV_TEST_DATA) + "/../../data/screens/";

std::vector<uint8_t> read_bytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

std::string builtin_name(int i) {
  char name[32];
  std::snprintf(name, sizeof name, klv::halftone::kBuiltinScreenName, i);
  return name;
}

// Sets KLV_PATH for the life of the object.
class ScopedPath {
 public:
  explicit ScopedPath(const std::string& value) {
    const char* old = std::getenv("KLV_PATH");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("KLV_PATH", value.c_str(), 1);
  }
  ~ScopedPath() {
    if (had_) {
      setenv("KLV_PATH", old_.c_str(), 1);
    } else {
      unsetenv("KLV_PATH");
    }
  }

 private:
  std::string old_;
  bool had_ = false;
};

TEST(ShippedScreens, FilesEqualWhatTheCodeComputes) {
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    std::vector<uint8_t> computed;
    ASSERT_TRUE(klv::halftone::BuiltinScreenFile(i, computed));
    EXPECT_TRUE(read_bytes(kScreens + builtin_name(i)) == computed)
        << "data/screens is stale: run klvscreens data/screens --builtin-only";
  }
  std::vector<uint8_t> none;
  EXPECT_FALSE(klv::halftone::BuiltinScreenFile(4, none));
  // The variable-dot screens too (a few seconds of ranking).
  std::vector<uint8_t> vardot;
  ASSERT_TRUE(klv::halftone::VarDotScreenFile(vardot));
  EXPECT_TRUE(read_bytes(kScreens + klv::halftone::kVarDotScreenName) == vardot)
      << "data/screens is stale: run klvscreens data/screens";
}

// Loaded by bare name through the search path, a file screen gives the same
// threshold at every page position as the built-in brick-offset tile.
TEST(ShippedScreens, BuiltinFilesLoadAsTheBuiltinScreens) {
  ScopedPath path(std::string(KLV_TEST_DATA) + "/../../data");
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    int32_t w, h, shift;
    const uint16_t* v = HTBuiltinScreen(i, &w, &h, &shift);
    ASSERT_NE(v, nullptr);
    CHTThreshArray<unsigned short> own, file;
    ASSERT_TRUE(file.Load(builtin_name(i).c_str(), 0, 0));
    ASSERT_EQ(file.count, 1u);
    EXPECT_EQ(file.levels, 255u);
    const CHTThreshTable<unsigned short>& t = file.tables[0];
    for (uint32_t y = 0; y < 2u * t.height; ++y)
      for (uint32_t x = 0; x < 2u * t.width; x += 7) {
        const uint32_t q = y / uint32_t(h);
        const uint16_t expect = v[(y % uint32_t(h)) * uint32_t(w) + (x + q * shift) % uint32_t(w)];
        ASSERT_EQ(t.rows[y % t.height][x % t.width], expect) << x << "," << y;
      }
  }
}

// Screening a flat tone through the built-in placement: each screen prints
// the tone's share of dots, and no 16 x 16 patch strays far from it.
TEST(ShippedScreens, BuiltinScreensAreEvenAndWriteRampPreviews) {
  HTPLACE* h = HTPlaceAlloc(4, 720, 720, 0, 0, 0, 4, nullptr, nullptr, nullptr, nullptr, 0);
  ASSERT_NE(h, nullptr);
  auto& place = *reinterpret_cast<CHTPlacement*>(h);
  constexpr int kW = 512, kH = 128;
  for (int sep = 0; sep < 4; ++sep) {
    SCOPED_TRACE(sep);
    for (int tone : {32, 64, 128, 192}) {
      std::vector<uint8_t> flat(size_t(kW) * kH, uint8_t(tone));
      klv::test::DotImage img = klv::test::ScreenGray(place, flat, kW, kH, sep);
      ASSERT_EQ(img.width, kW);
      int total = 0, worst = 0;
      for (int by = 0; by < kH; by += 16)
        for (int bx = 0; bx < kW; bx += 16) {
          int n = 0;
          for (int y = by; y < by + 16; ++y)
            for (int x = bx; x < bx + 16; ++x) n += img.dot(x, y);
          total += n;
          worst = std::max(worst, std::abs(n - tone));  // 256 pixels: tone/256 of them
        }
      EXPECT_NEAR(double(total) / (kW * kH), tone / 255.0, 0.01) << "tone " << tone;
      EXPECT_LE(worst, 12) << "tone " << tone;
    }
    klv::test::WritePreview(klv::test::ScreenGray(place, klv::test::GrayRamp(kW, kH), kW, kH, sep),
                            "builtin_screen_" + std::to_string(sep), 2);
  }
  HTPlaceFree(h);
}

TEST(ShippedScreens, VarDotScreensAreFlatAndEven) {
  CHTThreshArray<unsigned char> vd;
  ASSERT_TRUE(vd.Load((kScreens + klv::halftone::kVarDotScreenName).c_str(), 0, 256));
  ASSERT_EQ(vd.count, klv::halftone::kVarDotPlanes);
  EXPECT_EQ(vd.levels, 256u);
  for (uint32_t p = 0; p < vd.count; ++p) {
    SCOPED_TRACE(p);
    const CHTThreshTable<unsigned char>& t = vd.tables[p];
    ASSERT_EQ(t.width, klv::halftone::kVarDotSize);
    ASSERT_EQ(t.height, klv::halftone::kVarDotSize);
    std::vector<int> hist(256, 0);
    for (uint32_t y = 0; y < t.height; ++y)
      for (uint32_t x = 0; x < t.width; ++x) ++hist[t.rows[y][x]];
    const double per = double(t.width) * t.height / 255;
    for (int v = 0; v < 255; ++v) ASSERT_NEAR(hist[size_t(v)], per, 1.0) << "value " << v;
    EXPECT_EQ(hist[255], 0);
    // Blue noise: at every tone each 8 x 8 patch (wrapping) holds close to
    // its share of dots.
    for (int tone : {16, 64, 128, 224}) {
      int worst = 0;
      for (uint32_t by = 0; by < t.height; by += 4)
        for (uint32_t bx = 0; bx < t.width; bx += 4) {
          int n = 0;
          for (uint32_t y = by; y < by + 8; ++y)
            for (uint32_t x = bx; x < bx + 8; ++x) n += tone > t.rows[y % t.height][x % t.width];
          worst = std::max(worst, std::abs(n * 4 - tone));
        }
      EXPECT_LE(worst, 24) << "tone " << tone;  // within 6 dots of 64
    }
    // A preview of a ramp against the plane.
    klv::test::DotImage img;
    img.width = 512;
    img.height = 128;
    img.bytes_per_line = 64;
    img.bits.assign(img.bytes_per_line * 128, 0);
    for (int y = 0; y < img.height; ++y)
      for (int x = 0; x < img.width; ++x)
        if (x * 255 / 511 > t.rows[uint32_t(y) % t.height][uint32_t(x) % t.width])
          img.bits[size_t(y) * 64 + size_t(x) / 8] |= uint8_t(0x80 >> (x % 8));
    klv::test::WritePreview(img, "vardot_screen_" + std::to_string(p), 2);
  }
}

}  // namespace
