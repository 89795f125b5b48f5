// SPDX-License-Identifier: MIT
// Screen setups into screens: per-colour entries and their fall-backs, cell
// sizes, numeric names with options, and the precise angle search.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "klv/halftone_setup.h"

namespace {

struct SetupOwner {
  _SCREENSETUP* s;
  explicit SetupOwner(const char* name) : s(new_screen_setup(name)) {}
  ~SetupOwner() { free_screen_settings(s); }
  void Add(std::vector<const char*> texts) {
    stral_add(s->entries, texts.data(), int32_t(texts.size()));
  }
};

constexpr double kRes = 720;
constexpr double kD = 8 * kRes;

HTSetupPlan Plan(int kind, const _SCREENSETUP* s, std::vector<const char*> colors,
                 double xres = kRes, double yres = kRes) {
  HTSetupPlan plan;
  EXPECT_TRUE(HTScreenSetupPlan(kind, s, int(colors.size()), colors.data(), xres, yres, plan));
  return plan;
}

TEST(SetupConvert, PerColourEntriesAndFallBacks) {
  SetupOwner o("Fine");
  o.Add({"Cyan", "150", "15", "1"});
  o.Add({"Black", "120", "45", "3"});
  o.Add({"Default", "", "30", "0", "2", "1"});
  auto plan = Plan(2, o.s, {"cyan", "Magenta", "Black"});
  ASSERT_TRUE(plan.per_colour);
  ASSERT_EQ(plan.screens.size(), 3u);
  EXPECT_DOUBLE_EQ(plan.screens[0].cell, kD / 150);  // own entry, name without regard to case
  EXPECT_DOUBLE_EQ(plan.screens[0].angle, 15);
  EXPECT_DOUBLE_EQ(plan.screens[1].cell, kD / 60);  // "Default": empty ruling
  EXPECT_DOUBLE_EQ(plan.screens[1].angle, 30);
  EXPECT_EQ(plan.screens[1].shape, 2);
  EXPECT_EQ(plan.screens[1].mode, 1);
  EXPECT_DOUBLE_EQ(plan.screens[2].cell, kD / 120);
  EXPECT_EQ(plan.screens[2].kind, 2);

  // Without "Default" the "Black" entry serves; without any entry 45 degrees
  // and the previous colour's cell.
  SetupOwner b("Coarse");
  b.Add({"Black", "10", "75", "0"});
  auto pb = Plan(4, b.s, {"Yellow"});
  ASSERT_EQ(pb.screens.size(), 1u);
  EXPECT_DOUBLE_EQ(pb.screens[0].cell, kD / 20);  // a ruling of 10 counts as 20
  EXPECT_DOUBLE_EQ(pb.screens[0].angle, 75);
  EXPECT_EQ(pb.screens[0].kind, 2);  // kind 4: dot-shape number 0 means 2
  SetupOwner none("Sparse");
  none.Add({"Cyan", "90", "15", "5"});
  auto pn = Plan(4, none.s, {"Cyan", "Orange"});
  EXPECT_EQ(pn.screens[0].kind, 5);
  EXPECT_DOUBLE_EQ(pn.screens[1].angle, 45);
  EXPECT_DOUBLE_EQ(pn.screens[1].cell, kD / 90);
  // Kind 1 (ordered dither) always takes cell 32.
  auto p1 = Plan(1, o.s, {"Cyan"});
  EXPECT_DOUBLE_EQ(p1.screens[0].cell, 32);
}

TEST(SetupConvert, DefaultAndNumericNamesGiveFourScreens) {
  struct Case {
    const char* name;
    double cell;  // of the 90-degree screen
    bool precise;
    int shape, mode;
  } cases[] = {
      {"Default", std::floor(kD / 90 + 0.5), false, 0, 0},
      {"DEFAULT", std::floor(kD / 90 + 0.5), false, 0, 0},
      {"150", std::floor(kD / 150 + 0.5), false, 0, 0},
      {"150lpi-Precision", std::floor(kD / 150 + 0.5), true, 0, 0},
      {"120lpi-<HN>", std::floor(kD / 120 + 0.5), false, 2, 2},
      {"120lpi-<lop>", std::floor(kD / 120 + 0.5), true, 1, 1},
  };
  for (const Case& c : cases) {
    SetupOwner o(c.name);
    o.Add({"Cyan", "60", "15", "1"});  // never used by these names
    auto plan = Plan(4, o.s, {"Cyan"});
    EXPECT_FALSE(plan.per_colour) << c.name;
    ASSERT_EQ(plan.screens.size(), 4u) << c.name;
    EXPECT_EQ(plan.precise, c.precise) << c.name;
    for (const auto& s : plan.screens) {
      EXPECT_EQ(s.kind, 2) << c.name;  // kind 4 becomes 2
      EXPECT_EQ(s.shape, c.shape) << c.name;
      EXPECT_EQ(s.mode, c.mode) << c.name;
    }
    if (!c.precise) {
      EXPECT_DOUBLE_EQ(plan.screens[2].cell, c.cell) << c.name;
    }
  }
}

TEST(SetupConvert, PreciseAnglesLieOnIntegerVectors) {
  SetupOwner o("100lpi-Precision");
  auto plan = Plan(2, o.s, {});
  ASSERT_TRUE(plan.precise);
  for (const auto& s : plan.screens) {
    const double rad = s.angle * M_PI / 180;
    const double x = s.cell * std::cos(rad), y = s.cell * std::sin(rad);
    EXPECT_NEAR(x, std::round(x), 1e-6) << s.angle;
    EXPECT_NEAR(y, std::round(y), 1e-6) << s.angle;
  }
  // 15 degrees from a 10-pixel cell: the search grows the cell until an
  // integer vector lies within 0.05 degrees.
  double a, c;
  ASSERT_TRUE(HTPreciseAngle(15, 10, a, c));
  EXPECT_NEAR(a, 15, 0.05);
  EXPECT_GE(c, 10);
  EXPECT_NEAR(c * std::cos(a * M_PI / 180), std::round(c * std::cos(a * M_PI / 180)), 1e-6);
  // Angles on the axes and the diagonal are met at once.
  ASSERT_TRUE(HTPreciseAngle(45, 12, a, c));
  EXPECT_DOUBLE_EQ(a, 45);
  ASSERT_TRUE(HTPreciseAngle(-90, 7, a, c));
  EXPECT_NEAR(a, -90, 1e-9);
  EXPECT_DOUBLE_EQ(c, 7);
  EXPECT_FALSE(HTPreciseAngle(15, 0.2, a, c));
}

TEST(SetupConvert, ApplyGeneratesTheScreens) {
  SetupOwner o("Fine");
  o.Add({"Cyan", "300", "15", "2"});
  o.Add({"Default", "300", "45", "2"});
  std::vector<const char*> colors = {"Cyan", "Magenta"};
  CHTPlaceKlvScreen place;
  ASSERT_TRUE(HTScreenSetupApply(place, 2, o.s, 2, colors.data(), 720, 1440));
  EXPECT_EQ(place.GetNumScreens(), 2);
  CHTPlaceKlvScreen four;
  SetupOwner n("300lpi-<P>");
  ASSERT_TRUE(HTScreenSetupApply(four, 2, n.s, 0, nullptr, 720, 720));
  EXPECT_EQ(four.GetNumScreens(), 4);
  HTSetupPlan plan;
  EXPECT_FALSE(HTScreenSetupPlan(6, o.s, 0, nullptr, 720, 720, plan));
  EXPECT_FALSE(HTScreenSetupPlan(2, o.s, 0, nullptr, 0, 720, plan));
}

}  // namespace
