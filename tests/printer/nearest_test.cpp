// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "printer/nearest.h"
#include "printer/resolution_name.h"
#include "klv/printmode_cxx.h"

namespace {

using klv::printer::StrList;

TEST(ResolutionName, Parts) {
  struct Case {
    const char* name;
    double x, y, px, py;
  } cases[] = {
      {"720", 720, 720, 720, 720},
      {"720x1440", 720, 1440, 720, 1440},
      {"1440x720@720x360", 1440, 720, 720, 360},
      {"1440x720@720", 1440, 720, 720, 720},
      {"360x360#720x720", 360, 360, 720, 720},
      {"720X0", 720, 720, 720, 0},
      {"720x720@360x360#180x90", 720, 720, 180, 90},
  };
  for (const Case& c : cases) {
    auto r = klv::printer::parse_resolution_name(c.name);
    EXPECT_DOUBLE_EQ(r.x, c.x) << c.name;
    EXPECT_DOUBLE_EQ(r.y, c.y) << c.name;
    EXPECT_DOUBLE_EQ(r.printed_x, c.px) << c.name;
    EXPECT_DOUBLE_EQ(r.printed_y, c.py) << c.name;
  }
}

TEST(Nearest, PageSize) {
  StrList pages = {{"A4", "8.27", "11.69"}, {"Letter", "8.5", "11"}, {"Short"}};
  EXPECT_EQ(klv::printer::nearest_page_size(pages, 8.5, 11), 1);
  EXPECT_EQ(klv::printer::nearest_page_size(pages, 8.0, 11.0), 1);  // 0.5 vs 0.96
  EXPECT_EQ(klv::printer::nearest_page_size(pages, 8.27, 11.5), 0);
  // Nothing holds the page: the first page with a positive area.
  StrList small = {{"Zero", "0", "5"}, {"Card", "4", "6"}, {"Photo", "5", "7"}};
  EXPECT_EQ(klv::printer::nearest_page_size(small, 20, 30), 1);
  // Within the tolerance a page still fits.
  EXPECT_EQ(klv::printer::nearest_page_size(small, 5.00005, 7), 2);
  // Equal scores keep the earlier page.
  StrList tie = {{"First", "10", "10"}, {"Second", "10", "10"}, {"Wide", "12", "9"}};
  EXPECT_EQ(klv::printer::nearest_page_size(tie, 9, 9), 0);
  // Units: 210 x 297 mm is A4.
  StrList metric = {{"A3", "297mm", "420mm"}, {"A4", "210mm", "297mm"}};
  EXPECT_EQ(klv::printer::nearest_page_size(metric, 8.26, 11.69), 1);
  EXPECT_EQ(klv::printer::nearest_page_size({}, 1, 1), -1);
}

TEST(Nearest, Resolution) {
  struct Case {
    StrList list;
    const char* wanted;
    int want;
  } cases[] = {
      // Printed-resolution distance counts without "#".
      {{{"360x360"}, {"720x720@360x360"}, {"720x720"}}, "720x720", 2},
      // Equal scores: the case-insensitive name match wins when the wanted
      // name has "-"; otherwise the earlier element stays.
      {{{"720x720"}, {"720x720-HQ"}}, "720x720-hq", 1},
      {{{"720x720-HQ"}, {"720x720"}}, "720x720", 0},
      // With "#" only X and Y count, and the name match breaks ties.
      {{{"720x720@360x360"}, {"720x720#360x360"}}, "720x720#360x360", 1},
      {{{"1440x720"}, {"720x1440"}}, "720x1440", 1},
      {{{}, {"360"}}, "720", 1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(klv::printer::nearest_resolution(c.list, c.wanted), c.want) << c.wanted;
}

TEST(Nearest, Mode) {
  std::vector<CPrintMode> modes = {
      CPrintMode(4, "85 lpi", "720x720", nullptr),
      CPrintMode(0, "", "720x720", nullptr),
      CPrintMode(4, "85 lpi", "1440x720", nullptr),
      CPrintMode(0, "", "1440x720", "Fast"),
  };
  using klv::printer::nearest_mode;
  // By name, without regard to case.
  EXPECT_EQ(nearest_mode(modes, CPrintMode(5, "", "360", "FAST")), 3);
  // By resolution and pattern when no name matches.
  EXPECT_EQ(nearest_mode(modes, CPrintMode(0, "", "1440x720", "x")), 3);
  // By distance; a tie goes to the pattern match.
  EXPECT_EQ(nearest_mode(modes, CPrintMode(0, "", "700x700", "x")), 1);
  EXPECT_EQ(nearest_mode(modes, CPrintMode(4, "85 lpi", "1400x700", "x")), 2);
  // No pattern match among the tied: the first stays.
  EXPECT_EQ(nearest_mode(modes, CPrintMode(7, "", "700x700", "x")), 0);
  // Tie on resolution name without "#": the later mode with the wanted
  // resolution name replaces an earlier one of a different name.
  std::vector<CPrintMode> named = {CPrintMode(7, "", "720x720-a", "m1"),
                                   CPrintMode(7, "", "720x720", "m2")};
  EXPECT_EQ(nearest_mode(named, CPrintMode(6, "", "720x720", "x")), 1);
  // With "#" the printed resolution counts.
  std::vector<CPrintMode> hashed = {CPrintMode(5, "", "720x720#360x360", "h1"),
                                    CPrintMode(5, "", "720x720#720x720", "h2")};
  EXPECT_EQ(nearest_mode(hashed, CPrintMode(6, "", "720x720#700x700", "x")), 1);
  EXPECT_EQ(nearest_mode({}, CPrintMode()), -1);
}

}  // namespace
