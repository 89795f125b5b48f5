// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <string>

#include "klv/printmode.h"
#include "klv/printmode_cxx.h"

namespace {

TEST(PrintMode, BuiltFromParts) {
  struct Case {
    int pattern;
    const char* option;
    const char* res;
    const char* name;
    const char* want_name;
  } cases[] = {
      {5, "", "720x1440", "", "720x1440 dpi, Stochastic"},
      {4, "85 lpi", "1440x720@720", nullptr, "1440x720@720 dpi, Screen(85 lpi)"},
      {0, nullptr, "720x720", nullptr, "720 dpi, FDRP Diffusion"},
      {13, "", "360", "", "360 dpi, Stochastic"},
      {6, "", "720", "My mode", "My mode"},
  };
  for (const Case& c : cases) {
    CPrintMode m(c.pattern, c.option, c.res, c.name);
    EXPECT_STREQ(m.GetModeName(), c.want_name) << c.res;
    EXPECT_EQ(m.GetDotPattern(), c.pattern);
    EXPECT_STREQ(m.GetPrintRes(), c.res);
  }
}

TEST(PrintMode, BuiltFromPatternText) {
  CPrintMode m("Screen(85 lpi)", "1440x720@720", "");
  EXPECT_EQ(m.GetDotPattern(), 4);
  EXPECT_STREQ(m.GetPatternOpt(), "85 lpi");
  EXPECT_STREQ(m.GetModeName(), "1440x720@720 dpi, Screen(85 lpi)");
  EXPECT_EQ(m.GetPatternName(), "Screen(85 lpi)");
  EXPECT_DOUBLE_EQ(m.GetProcessXRes(), 1440);
  EXPECT_DOUBLE_EQ(m.GetProcessYRes(), 720);
  EXPECT_DOUBLE_EQ(m.GetPrintXRes(), 720);
  EXPECT_DOUBLE_EQ(m.GetPrintYRes(), 720);
}

TEST(PrintMode, BuiltFromName) {
  CPrintMode m("360 dpi, Halftone");
  EXPECT_STREQ(m.GetPrintRes(), "360");
  EXPECT_EQ(m.GetDotPattern(), 6);
  EXPECT_STREQ(m.GetPatternOpt(), "");

  CPrintMode screen("1440x720@720 dpi, Screen(85 lpi)");
  EXPECT_STREQ(screen.GetPrintRes(), "1440x720@720");
  EXPECT_EQ(screen.GetDotPattern(), 4);
  EXPECT_STREQ(screen.GetPatternOpt(), "85 lpi");

  // Names that do not split keep the name and fall back to Stochastic.
  for (const char* bad : {"Photo", " dpi, Screen", ""}) {
    CPrintMode u(bad);
    EXPECT_STREQ(u.GetModeName(), bad);
    EXPECT_EQ(u.GetDotPattern(), 5);
    EXPECT_STREQ(u.GetPrintRes(), "Unknown");
  }
  CPrintMode null_name(static_cast<const char*>(nullptr));
  EXPECT_STREQ(null_name.GetModeName(), "Unknown dpi, Stochastic");
  CPrintMode copy = screen;
  EXPECT_STREQ(copy.GetModeName(), screen.GetModeName());
}

TEST(PrintMode, PatternTable) {
  EXPECT_EQ(get_pattern_num("smooth SCREEN"), 9);
  EXPECT_EQ(get_pattern_num("Screen(85 lpi)"), 4);
  EXPECT_EQ(get_pattern_num("FDRP Enhanced"), 12);
  EXPECT_EQ(get_pattern_num("Sparkle"), 5);
  EXPECT_EQ(get_pattern_num(nullptr), 5);
  char out[64];
  EXPECT_STREQ(get_pattern_str(out, sizeof out, 13, "x"), "Stochastic");
  EXPECT_STREQ(get_pattern_str(out, sizeof out, -1, ""), "Stochastic");
  EXPECT_STREQ(get_pattern_str(out, sizeof out, 8, "60 lpi"), "Line Screen(60 lpi)");
  EXPECT_STREQ(get_pattern_opt(out, sizeof out, "Screen(85 lpi)"), "85 lpi");
  EXPECT_STREQ(get_pattern_opt(out, sizeof out, "Screen(85 lpi"), "85 lpi");
  EXPECT_STREQ(get_pattern_opt(out, sizeof out, "Screen"), "");
  // Output is cut to the buffer.
  char small[6];
  EXPECT_STREQ(get_pattern_str(small, sizeof small, 0, ""), "FDRP ");
}

TEST(PrintMode, RoundedResolution) {
  struct Case {
    const char* res;
    const char* want;
  } cases[] = {
      {"720x720", "720"},
      {"1440x720", "1440x720"},
      {"1440x720@720", "1440x720@720"},
      {"1440x720@720x720", "1440x720@720"},
      {"720x720-hq", "720-hq"},
      {"719.6x720", "720"},
      {"720x720@360x180", "720@360x180"},
      {"720x720@720x720", "720"},
      {"360x360#720x720", "360"},
      {"360x360#720x720@180", "360@180"},
      {"", "0"},
  };
  char out[64];
  for (const Case& c : cases)
    EXPECT_STREQ(get_rounded_res_string(out, sizeof out, c.res), c.want) << c.res;
}

TEST(PrintMode, CAccessWithNullMode) {
  EXPECT_STREQ(printmode_name(nullptr), "");
  EXPECT_STREQ(printmode_res(nullptr), "");
  EXPECT_EQ(printmode_pattern(nullptr), 0);
  EXPECT_STREQ(printmode_pattern_opt(nullptr), "");
  char out[64];
  EXPECT_STREQ(get_printmode_name(out, sizeof out, 9, "", "720x1440"),
               "720x1440 dpi, Smooth Screen");
}

}  // namespace
