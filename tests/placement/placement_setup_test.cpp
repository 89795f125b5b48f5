// SPDX-License-Identifier: MIT
// Screen setups through HTPlaceAlloc: each screened method generates the
// setup's screens with its own kind, the colour list selects per-colour
// entries, and a setup that cannot be generated fails the placement with a
// log line.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/image.h"
#include "support/log_capture.h"
#include "klv/halftone_setup.h"
#include "klv/htplace.h"

namespace {

constexpr double kRes = 720;
constexpr double kD = 8 * kRes;

struct SetupList {
  _SCREENSETUP* s;
  explicit SetupList(const char* name) : s(new_screen_setup(name)) {}
  ~SetupList() { free_screen_settings(s); }
  SetupList(const SetupList&) = delete;
  SetupList& operator=(const SetupList&) = delete;
  void Add(std::vector<const char*> texts) {
    stral_add(s->entries, texts.data(), int32_t(texts.size()));
  }
};

struct Colors {
  SSTRAL* l = _stral_new();
  ~Colors() { stral_free(l); }
};

using klv::test::LogCapture;

HTPLACE* alloc(uint32_t method, const _SCREENSETUP* setup, const SSTRAL* colors, double xres = kRes,
               double yres = kRes) {
  return HTPlaceAlloc(4, xres, yres, 0, 0, 0, method, setup, colors, nullptr, nullptr, 0);
}

CHTPlaceScreen<unsigned short>* screens(HTPLACE* h) {
  return dynamic_cast<CHTPlaceScreen<unsigned short>*>(reinterpret_cast<CHTPlacement*>(h));
}

// The tile area of a generated screen: the squared length of its integer cell
// vector, the angle folded into -45..45 degrees.
double cell_area(double angle, double cell) {
  double a = std::fmod(angle, 90.0);
  if (a > 45) a -= 90;
  const double r = a * M_PI / 180;
  const double x = std::floor(cell * std::cos(r) + 0.5), y = std::floor(cell * std::sin(r) + 0.5);
  return x * x + y * y;
}

void add_cmyk(SetupList& s, const char* lpi) {
  s.Add({"Cyan", lpi, "15", "2"});
  s.Add({"Magenta", lpi, "75", "2"});
  s.Add({"Yellow", lpi, "0", "2"});
  s.Add({"Black", lpi, "45", "2"});
}

TEST(PlacementSetup, EachScreenedMethodGeneratesTheSetupsScreens) {
  SetupList s("Fine");
  s.Add({"Cyan", "150", "15", "2"});
  s.Add({"Magenta", "150", "75", "2"});
  s.Add({"Yellow", "150", "0", "2"});
  s.Add({"Black", "100", "45", "2"});
  Colors c;
  stral_addv(c.l, "Cyan", (const char*)0);
  stral_addv(c.l, "Magenta", (const char*)0);
  stral_addv(c.l, "Yellow", (const char*)0);
  stral_addv(c.l, "Black", (const char*)0);
  const double angles[4] = {15, 75, 0, 45};
  const double cells[4] = {kD / 150, kD / 150, kD / 150, kD / 100};
  // Method 3 is ordered dither (its own tile sizes, cell 32); the others are
  // lattice screens whose tile area is the cell vector's squared length.
  for (uint32_t method : {3u, 4u, 6u, 8u, 9u, 10u}) {
    SCOPED_TRACE(method);
    HTPLACE* h = alloc(method, s.s, c.l);
    ASSERT_NE(h, nullptr);
    auto* p = screens(h);
    ASSERT_NE(dynamic_cast<CHTPlaceKlvScreen*>(p), nullptr);
    ASSERT_EQ(p->GetNumScreens(), 4);
    for (int i = 0; i < 4; ++i) {
      unsigned short** rows;
      uint32_t w, levels;
      uint16_t ht, shift;
      ASSERT_TRUE(p->GetScreen(i, rows, w, ht, shift, levels));
      if (method == 3) continue;
      EXPECT_EQ(double(w) * ht, cell_area(angles[i], cells[i])) << "screen " << i;
    }
    HTPlaceFree(h);
  }
}

TEST(PlacementSetup, NoSetupKeepsTheMethodsOwnScreens) {
  Colors c;
  stral_addv(c.l, "Cyan", "Magenta", "Yellow", "Black", (const char*)0);
  HTPLACE* h = alloc(4, nullptr, c.l);
  ASSERT_NE(h, nullptr);
  auto* p = screens(h);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(dynamic_cast<CHTPlaceKlvScreen*>(p), nullptr);  // the built-in screens
  unsigned short** rows;
  uint32_t w, levels;
  uint16_t ht, shift;
  ASSERT_TRUE(p->GetScreen(0, rows, w, ht, shift, levels));
  EXPECT_EQ(w, 78u);
  EXPECT_EQ(ht, 3);
  EXPECT_EQ(shift, 15);
  HTPlaceFree(h);
  // Methods that take no generated screens ignore a setup.
  SetupList s("Fine");
  s.Add({"Black", "150", "45", "2"});
  for (uint32_t method : {0u, 7u, 12u}) {
    h = alloc(method, s.s, c.l);
    ASSERT_NE(h, nullptr) << method;
    EXPECT_EQ(screens(h), nullptr) << method;
    HTPlaceFree(h);
  }
}

TEST(PlacementSetup, ColourListForms) {
  SetupList s("Fine");
  add_cmyk(s, "120");
  // One array of all names and one array per colour pick the same entries.
  Colors one, each;
  stral_addv(one.l, "Black", "Cyan", (const char*)0);
  stral_addv(each.l, "Black", "ignored", (const char*)0);
  stral_addv(each.l, "Cyan", (const char*)0);
  for (const SSTRAL* l : {one.l, each.l}) {
    HTPLACE* h = alloc(4, s.s, l);
    ASSERT_NE(h, nullptr);
    auto* p = screens(h);
    ASSERT_EQ(p->GetNumScreens(), 2);
    unsigned short** rows;
    uint32_t w, levels;
    uint16_t ht, shift;
    ASSERT_TRUE(p->GetScreen(0, rows, w, ht, shift, levels));
    EXPECT_EQ(double(w) * ht, cell_area(45, kD / 120));
    ASSERT_TRUE(p->GetScreen(1, rows, w, ht, shift, levels));
    EXPECT_EQ(double(w) * ht, cell_area(15, kD / 120));
    HTPlaceFree(h);
  }
  // No colour list: four screens of the setup name's ruling, here a numeric
  // name at 100 lpi: the 90-degree screen is a 58 x 58 tile.
  SetupList n("100lpi");
  HTPLACE* h = alloc(6, n.s, nullptr);
  ASSERT_NE(h, nullptr);
  auto* p = screens(h);
  ASSERT_EQ(p->GetNumScreens(), 4);
  bool square = false;
  for (int i = 0; i < 4; ++i) {
    unsigned short** rows;
    uint32_t w, levels;
    uint16_t ht, shift;
    ASSERT_TRUE(p->GetScreen(i, rows, w, ht, shift, levels));
    square |= w == 58 && ht == 58;
  }
  EXPECT_TRUE(square);
  HTPlaceFree(h);
}

TEST(PlacementSetup, SetupThatCannotBeGeneratedFailsWithALogLine) {
  struct Case {
    const char* lpi;
    const char* angle;
    const char* logged;
  } cases[] = {
      {"100000", "45", "below one pixel"},    // a cell smaller than a pixel
      {"150", "inf", "not a finite number"},  // an angle the generators cannot fold
      {"150", "nan", "not a finite number"},
  };
  Colors c;
  stral_addv(c.l, "Black", (const char*)0);
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.lpi) + " " + k.angle);
    SetupList s("Bad");
    s.Add({"Black", k.lpi, k.angle, "2"});
    std::string log;
    {
      LogCapture cap;
      EXPECT_EQ(alloc(4, s.s, c.l), nullptr);
      log = cap.Text();
    }
    EXPECT_NE(log.find(k.logged), std::string::npos) << log;
  }
}

// A setup's screens through the whole filter: a flat tone prints about its
// share of dots.
TEST(PlacementSetup, SetupScreensThroughTheFilter) {
  SetupList s("Fine");
  add_cmyk(s, "60");
  Colors c;
  stral_addv(c.l, "Cyan", "Magenta", "Yellow", "Black", (const char*)0);
  HTPLACE* h = alloc(4, s.s, c.l);
  ASSERT_NE(h, nullptr);
  HTPlaceSetDetachDelete(h, 1);
  constexpr int kW = 384, kH = 192;
  image_info in;
  init_image_info(&in);
  in.width = kW;
  in.height = kH;
  in.samples = 4;
  in.bits_per_sample = 8;
  in.photometric = 0;
  in.bytes_per_line = image_info_line_bytes(&in);
  image_info out = in;
  out.bits_per_sample = 1;
  out.planar = KLV_PLANAR_PLANES;
  klv::test::SinkLog data;
  auto* cap = new klv::test::Sink(out, &data);
  IMG_file* f = HTPlace_AttachImg(h, cap->ToImg('w', 0), &in, 0, 0);
  ASSERT_NE(f, nullptr);
  std::vector<uint8_t> line(size_t(kW) * 4);
  for (int x = 0; x < kW; ++x)
    for (int k = 0; k < 4; ++k) line[size_t(x) * 4 + k] = uint8_t(64 * (k + 1) - 1);
  for (int y = 0; y < kH; ++y) ASSERT_EQ(img_write_line(f, line.data(), 1), 1);
  img_close(f);
  for (int k = 0; k < 4; ++k) {
    size_t ones = 0;
    for (uint8_t b : data.planes[size_t(k)]) ones += size_t(__builtin_popcount(b));
    const double share = double(ones) / (double(kW) * kH);
    EXPECT_NEAR(share, (64.0 * (k + 1) - 1) / 255.0, 0.03) << "separation " << k;
  }
}

}  // namespace
