// SPDX-License-Identifier: MIT
// Calibration names, the index record, the calibration file search with its
// alias and substitution rules, the ink model query and the calibration
// volume of a printer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "klv/calib.h"
#include "klv/kernel.h"
#include "klv/log.h"
#include "klv/printmode.h"
#include "klv/prntinfo.h"

namespace {

namespace fs = std::filesystem;

// Sets an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(CalibNames, MakeAndSplit) {
  struct Make {
    const char *base, *media, *third, *pattern, *want;
  };
  for (Make m :
       {Make{"a~b", "m", nullptr, nullptr, "ab~m"},
        Make{"L", "Glossy", "720x720", "Screen(85)", "L~Glossy~720x720~4"},
        Make{"L", "", nullptr, "Screen", "L~~4"}, Make{"L", "m", "t", "Bogus", "L~m~t~5"},
        Make{"L", nullptr, nullptr, "", "L"}, Make{nullptr, "~m~", "t", "FDRP Diffusion", "m~t~0"},
        Make{nullptr, nullptr, nullptr, nullptr, ""}}) {
    char out[KLV_CALB_NAME_MAX];
    EXPECT_EQ(make_calb_path(out, m.base, m.media, m.third, m.pattern), 1);
    EXPECT_STREQ(out, m.want);
  }
  struct Split {
    const char *name, *base, *media, *third, *pattern;
  };
  for (Split s : {Split{"L~Glossy~720x720~4-85 lpi", "L", "Glossy", "720x720", "Screen(85 lpi)"},
                  Split{"ab~m", "ab", "m", "", ""}, Split{"~Matte", "", "Matte", "", ""},
                  Split{"L~m~t~13", "L", "m", "t", "Stochastic"},
                  Split{"L~m~t~0", "L", "m", "t", "FDRP Diffusion"},
                  Split{"L~~4", "L", "", "4", ""}, Split{"", "", "", "", ""}}) {
    char b[KLV_CALB_NAME_MAX], m[KLV_CALB_NAME_MAX], t[KLV_CALB_NAME_MAX], p[KLV_CALB_NAME_MAX];
    EXPECT_EQ(split_calb_path(s.name, b, m, t, p), 1);
    EXPECT_STREQ(b, s.base) << s.name;
    EXPECT_STREQ(m, s.media) << s.name;
    EXPECT_STREQ(t, s.third) << s.name;
    EXPECT_STREQ(p, s.pattern) << s.name;
  }
  // The pattern table shared with the print modes.
  char out[KLV_CALB_NAME_MAX];
  EXPECT_EQ(get_pattern_num("Screen(85)"), 4);
  EXPECT_EQ(get_pattern_num("Bogus"), 5);
  EXPECT_STREQ(get_pattern_str(out, sizeof out, 13, ""), "Stochastic");
}

// A calibration volume made in a temporary folder.
class CalibVolume : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("klv_calib_index_" + std::to_string(getpid()));
    fs::create_directories(dir);
    path = (dir / "Test.Calibrate").string();
    SOVolume* v = VOpen(nullptr, path.c_str(), KLV_VOL_CREATE);
    ASSERT_NE(v, nullptr);
    for (const char* m : {"Lin1~Glossy~720x720~4", "Lin0~Plain~720x720~4", "Lin1~Glossy~1440x720~0",
                          "Lin1~Film~720x720~0"}) {
      SFilemux* s = Ovfopen(v, m, "wb");
      ASSERT_NE(s, nullptr);
      Oclose(s);
    }
    Calb_Info* info = calbinfo_new();
    ASSERT_NE(info, nullptr);
    std::snprintf(info->Swatch, sizeof info->Swatch, "%s", "Test 4x21 swatch");
    std::snprintf(info->DefaultMedia, sizeof info->DefaultMedia, "%s", "Glossy");
    std::snprintf(info->DefaultInkModel, sizeof info->DefaultInkModel, "%s", "CMYK");
    stral_addv(info->Aliases, "~Matte", "~Plain", (const char*)nullptr);
    stral_addv(info->Aliases, "~~360x360", "~~720x720", (const char*)nullptr);
    stral_addv(info->Aliases, "~Canvas", "~Vinyl", (const char*)nullptr);
    stral_addv(info->Aliases, "~Vinyl", "~Canvas", (const char*)nullptr);
    stral_addv(info->Aliases, "~", "~Plain", (const char*)nullptr);  // no "from" field: never
    stral_addv(info->Subs, "~Film~~4", "~Plain~~4", (const char*)nullptr);
    stral_addv(info->InkModels, "Film", "CcMmYK", (const char*)nullptr);
    stral_addv(info->InkModels, "Odd", (const char*)nullptr);
    ASSERT_EQ(calbinfo_save(v, nullptr, info), 1);
    calbinfo_free(info);
    ASSERT_EQ(VClose(v), 0);
  }
  void TearDown() override { fs::remove_all(dir); }
  fs::path dir;
  std::string path;
};

TEST_F(CalibVolume, IndexRecordRoundTrip) {
  SOVolume* v = VOpen(nullptr, path.c_str(), KLV_VOL_READ);
  ASSERT_NE(v, nullptr);
  Calb_Info* info = calbinfo_load(v, nullptr);
  ASSERT_NE(info, nullptr);
  EXPECT_STREQ(info->Swatch, "Test 4x21 swatch");
  EXPECT_STREQ(info->DefaultMedia, "Glossy");
  EXPECT_STREQ(info->DefaultInkModel, "CMYK");
  EXPECT_EQ(stral_count(info->Aliases), 5);
  EXPECT_STREQ(stral_str(info->Aliases, 1, 1), "~~720x720");
  EXPECT_EQ(stral_count(info->Subs), 1);
  EXPECT_EQ(stral_count(info->InkModels), 2);
  EXPECT_EQ(calbinfo_free(info), nullptr);
  EXPECT_EQ(calbinfo_load(nullptr, nullptr), nullptr) << "the host needs a path";
  VClose(v);

  // A host file; a missing key leaves its list empty, not null.
  std::string host = (dir / "Host.Info").string();
  std::ofstream(host) << "Calb_Info {\n  Swatch { \"a b\" }\n}\n";
  info = calbinfo_load(nullptr, host.c_str());
  ASSERT_NE(info, nullptr);
  EXPECT_STREQ(info->Swatch, "a b");
  EXPECT_NE(info->Aliases, nullptr);
  EXPECT_EQ(stral_count(info->InkModels), 0);
  calbinfo_free(info);
  std::ofstream(host) << "Other { }\n";
  EXPECT_EQ(calbinfo_load(nullptr, host.c_str()), nullptr);
}

TEST_F(CalibVolume, SearchFollowsAliasesSubstitutionsAndDefaultMedia) {
  SOVolume* v = VOpen(nullptr, path.c_str(), KLV_VOL_READ);
  ASSERT_NE(v, nullptr);
  struct Case {
    const char *media, *third, *pattern, *want;
    const char* why;
  };
  const Case cases[] = {
      {"Glossy", "720x720", "Screen", "Lin1~Glossy~720x720~4", "as asked, base 1"},
      {"Plain", "720x720", "Screen(85 lpi)", "Lin0~Plain~720x720~4", "base 0"},
      {"Matte", "720x720", "Screen", "Lin0~Plain~720x720~4", "alias Matte to Plain, base 0"},
      {"matte", "720x720", "screen", "Lin0~Plain~720x720~4", "rules ignore letter case"},
      {"Glossy", "360x360", "Screen", "Lin1~Glossy~720x720~4", "alias on the third key"},
      {"Film", "720x720", "Screen", "Lin0~Plain~720x720~4",
       "substitution before the default media"},
      {"Film", "720x720", "FDRP Diffusion", "Lin1~Film~720x720~0", "as asked"},
      {"Film", "1440x720", "FDRP Diffusion", "Lin1~Glossy~1440x720~0",
       "substitution needs pattern 4; default media"},
      {"Unknown", "720x720", "Screen", "Lin1~Glossy~720x720~4", "default media"},
      {"Glossy", "720x720", "Stochastic", "", "nothing for this pattern"},
      {"Canvas", "999x999", "Screen", "", "alias cycle ends"},
  };
  for (const Case& c : cases) {
    char out[KLV_CALB_NAME_MAX] = "junk";
    EXPECT_EQ(find_calb_vfile(v, "Lin", c.media, c.third, c.pattern, out), *c.want ? 1 : 0)
        << c.why;
    EXPECT_STREQ(out, c.want) << c.why;
  }
  VClose(v);
}

TEST_F(CalibVolume, AliasCycleIsLoggedOnce) {
  // The cycle Canvas -> Vinyl -> Canvas with no default media to fall to.
  SOVolume* v = VOpen(nullptr, path.c_str(), KLV_VOL_UPDATE);
  ASSERT_NE(v, nullptr);
  Calb_Info* info = calbinfo_load(v, nullptr);
  info->DefaultMedia[0] = '\0';
  ASSERT_EQ(calbinfo_save(v, nullptr, info), 1);
  calbinfo_free(info);
  std::string log = (dir / "log.txt").string();
  {
    ScopedEnv env("KLV_LOG", log);
    char out[KLV_CALB_NAME_MAX];
    EXPECT_EQ(find_calb_vfile(v, "Lin", "Canvas", "720x720", "Screen", out), 0);
    EXPECT_STREQ(out, "");
    ErrorLog(KLV_LOG_INFO, "end", __FILE__, __LINE__);  // so the file is flushed and switched
  }
  VClose(v);
  std::ifstream in(log);
  std::string text((std::istreambuf_iterator<char>(in)), {});
  size_t first = text.find("lead back");
  EXPECT_NE(first, std::string::npos) << text;
  EXPECT_EQ(text.find("lead back", first + 1), std::string::npos) << "one line per search";
}

TEST_F(CalibVolume, HostileIndexRecordsEndTheSearch) {
  // Many rules that chain into each other: the search stays bounded.
  SOVolume* v = VOpen(nullptr, path.c_str(), KLV_VOL_UPDATE);
  ASSERT_NE(v, nullptr);
  Calb_Info* info = calbinfo_load(v, nullptr);
  for (int i = 0; i < 200; ++i) {
    std::string from = "~M" + std::to_string(i), to = "~M" + std::to_string((i * 7 + 1) % 200);
    stral_addv(info->Subs, from.c_str(), to.c_str(), (const char*)nullptr);
    std::string t1 = "~~T" + std::to_string(i), t2 = "~~T" + std::to_string((i + 3) % 200);
    stral_addv(info->Aliases, t1.c_str(), t2.c_str(), (const char*)nullptr);
  }
  ASSERT_EQ(calbinfo_save(v, nullptr, info), 1);
  calbinfo_free(info);
  char out[KLV_CALB_NAME_MAX];
  EXPECT_EQ(find_calb_vfile(v, "Lin", "M0", "T0", "Screen", out), 0);
  VClose(v);

  // A volume without an index record, and a file that is not a volume.
  std::string bare = (dir / "Bare.Calibrate").string();
  SOVolume* b = VOpen(nullptr, bare.c_str(), KLV_VOL_CREATE);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(find_calb_vfile(b, "Lin", "Glossy", "720x720", "Screen", out), 0);
  char model[KLV_CALB_INKMODEL_MAX] = "junk";
  EXPECT_EQ(get_inkmodel(b, "Film", model), 0);
  EXPECT_STREQ(model, "");
  VClose(b);
  EXPECT_EQ(find_calb_vfile(nullptr, "Lin", "Glossy", "720x720", "Screen", out), 0);
}

TEST_F(CalibVolume, HostileIndexRecordText) {
  SOVolume* v = VOpen(nullptr, path.c_str(), KLV_VOL_UPDATE);
  ASSERT_NE(v, nullptr);
  auto put_info = [&](const std::string& text) {
    SFilemux* s = Ovfopen(v, "Calb.Info", "wb");
    ASSERT_NE(s, nullptr);
    Owrite(s, text.data(), text.size());
    Oclose(s);
  };
  char out[KLV_CALB_NAME_MAX];
  // Not settings text, an unclosed block, a block of another name: no record.
  for (std::string bad :
       {std::string("\x01\x02 binary {{{"), std::string("Calb_Info { Swatch { x "),
        std::string("Other { Swatch { x } }"), std::string()}) {
    put_info(bad);
    EXPECT_EQ(calbinfo_load(v, nullptr), nullptr) << bad;
    EXPECT_EQ(find_calb_vfile(v, "Lin", "Glossy", "720x720", "Screen", out), 0) << bad;
  }
  // Rules of one string are skipped, overlong texts are cut, and a request
  // whose name cannot be held is not found.
  const std::string longtext(600, 'x');
  put_info("Calb_Info {\n  Swatch { " + longtext + " }\n  DefaultMedia { Glossy }\n" +
           "  Aliases { { ~Matte } { } { ~" + longtext + " ~Plain } }\n}\n");
  Calb_Info* info = calbinfo_load(v, nullptr);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(std::string(info->Swatch), longtext.substr(0, sizeof info->Swatch - 1));
  calbinfo_free(info);
  EXPECT_EQ(find_calb_vfile(v, "Lin", "Matte", "720x720", "Screen", out), 1);
  EXPECT_STREQ(out, "Lin1~Glossy~720x720~4") << "the one-string rule is not used";
  EXPECT_EQ(find_calb_vfile(v, "Lin", longtext.c_str(), "720x720", "Screen", out), 1);
  EXPECT_STREQ(out, "Lin1~Glossy~720x720~4");
  EXPECT_EQ(find_calb_vfile(v, longtext.c_str(), "Glossy", "720x720", "Screen", out), 0);
  VClose(v);
}

TEST_F(CalibVolume, InkModels) {
  SOVolume* v = VOpen(nullptr, path.c_str(), KLV_VOL_READ);
  ASSERT_NE(v, nullptr);
  char out[KLV_CALB_INKMODEL_MAX];
  struct Case {
    const char *name, *want;
  };
  for (Case c : {Case{"Film", "CcMmYK"}, Case{"film", "CcMmYK"}, Case{"Odd", "CMYK"},
                 Case{"Glossy", "CMYK"}, Case{nullptr, "CMYK"}}) {
    EXPECT_EQ(get_inkmodel(v, c.name, out), 1);
    EXPECT_STREQ(out, c.want) << (c.name ? c.name : "null");
  }
  VClose(v);
}

TEST_F(CalibVolume, FindsThePrinterVolume) {
  // The printer's folder from a client list on the search path, and the
  // Server search path as the fall-back.
  fs::create_directories(dir / "data" / "P" / "Info");
  std::ofstream(dir / "data" / "Printer_Client.info")
      << "Printer_Client {\n  Printers { { \"P\" \"P\" } }\n}\n";
  fs::copy_file(path, dir / "data" / "P" / "Info" / "PRINTER.Calibrate");
  fs::create_directories(dir / "server");
  fs::copy_file(path, dir / "server" / "Q.Calibrate");
  ScopedEnv data("KLV_PATH", (dir / "data").string());
  ScopedEnv server("KLV_SERVER_PATH", (dir / "server").string());

  char out[KLV_PATH_MAX];
  ASSERT_EQ(find_calb_file("P", "Lin", "Glossy", "720x720", "Screen", out), 1);
  std::string got = out;
  EXPECT_NE(got.find("PRINTER.Calibrate\\\\Lin1~Glossy~720x720~4"), std::string::npos) << got;
  ASSERT_EQ(find_calb_file("Q", "Lin", "Plain", "720x720", "Screen", out), 1);
  EXPECT_NE(std::string(out).find("Q.Calibrate\\\\Lin0~Plain~720x720~4"), std::string::npos);
  EXPECT_EQ(find_calb_file("None", "Lin", "Plain", "720x720", "Screen", out), 0);
  EXPECT_STREQ(out, "");

  // In server mode the printer folder is not used.
  int32_t old = set_server_mode(1);
  char vpath[KLV_PATH_MAX];
  EXPECT_EQ(open_calb_volume("P", KLV_VOL_READ, vpath), nullptr);
  SOVolume* q = open_calb_volume("Q", KLV_VOL_READ, vpath);
  EXPECT_NE(q, nullptr);
  VClose(q);
  set_server_mode(old);

  // A file that is not a volume is refused at once, without retries.
  std::ofstream(dir / "server" / "Junk.Calibrate") << "not a volume";
  EXPECT_EQ(open_calb_volume("Junk", KLV_VOL_READ, vpath), nullptr);
  EXPECT_NE(std::string(vpath).find("Junk.Calibrate"), std::string::npos);
}

}  // namespace

namespace {

// The demo printer's calibration volume, as committed: every mode finds its
// linearization, made from the curve documented beside it.
TEST(CalibDemo, EveryModeHasItsLinearization) {
  const std::string path =
      std::string(KLV_TEST_DATA) + "/../../data/printers/KlvDemo/Info/PRINTER.Calibrate";
  SOVolume* v = VOpen(nullptr, path.c_str(), KLV_VOL_READ);
  ASSERT_NE(v, nullptr) << path;
  struct Mode {
    const char *media, *res, *pattern;
    double limit_cyan, limit_black;
  };
  for (Mode m : {Mode{"Glossy Photo", "720x720", "Screen(85 lpi)", 0.95, 1.0},
                 Mode{"Glossy Photo", "1440x720", "FDRP Diffusion", 0.95, 1.0},
                 Mode{"Plain Paper", "720x720", "FDRP Diffusion", 0.80, 0.90},
                 Mode{"Plain Paper", "1440x720", "Screen(85 lpi)", 0.80, 0.90}}) {
    char name[KLV_CALB_NAME_MAX];
    ASSERT_EQ(find_calb_vfile(v, "Linear", m.media, m.res, m.pattern, name), 1) << m.media;
    char want[KLV_CALB_NAME_MAX];
    make_calb_path(want, "Linear1", m.media, m.res, m.pattern);
    EXPECT_STREQ(name, want);
    LNTB* r = load_lntb(v, name, 16);
    ASSERT_NE(r, nullptr) << name;
    ASSERT_EQ(r->count, 4);
    EXPECT_EQ(r->tables[0][255], std::lround(65535 * m.limit_cyan)) << name;
    EXPECT_EQ(r->tables[3][255], std::lround(65535 * m.limit_black)) << name;
    for (int c = 0; c < 4; ++c) {
      EXPECT_EQ(r->tables[c][0], 0);
      EXPECT_LT(r->tables[c][128], 128 * 257) << "middle tones pulled down";
      for (int i = 1; i < 256; ++i) ASSERT_GE(r->tables[c][i], r->tables[c][i - 1]) << name;
    }
    free_linear_tbl(r);
  }
  char model[KLV_CALB_INKMODEL_MAX];
  EXPECT_EQ(get_inkmodel(v, "Plain Paper", model), 1);
  EXPECT_STREQ(model, "CMYK");
  char name[KLV_CALB_NAME_MAX];
  EXPECT_EQ(find_calb_vfile(v, "Linear", "Glossy Photo", "360x360", "Screen", name), 1);
  EXPECT_STREQ(name, "Linear1~Glossy Photo~720x720~4") << "alias of the resolution";
  VClose(v);
}

}  // namespace
