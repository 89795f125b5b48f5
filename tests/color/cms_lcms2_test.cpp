// SPDX-License-Identifier: MIT
// The LittleCMS engine through the CMS service: transforms between the
// shipped profiles agree with LittleCMS's own transicc, profile questions,
// damaged profiles, and the build operations it serves or refuses.
#include <gtest/gtest.h>
#include <lcms2.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cms_test_util.h"
#include "klv/cms.h"

#ifdef KLV_LCMS2_ENGINE

namespace {

using namespace cms_test;

const std::string kProfiles = std::string(KLV_DATA_DIR) + "/profiles/";
const std::string kSrgb = kProfiles + "klv_srgb.icc";
const std::string kCmyk = kProfiles + "klv_cmyk.icc";

class Lcms2Engine : public ::testing::Test {
 protected:
  Lcms2Engine()
      : server_(types_file(record("1 2 15", "LittleCMS", as_dll(KLV_LCMS2_ENGINE)))),
        path_("KLV_PATH", KLV_DATA_DIR) {}
  void SetUp() override { ASSERT_EQ(cms_initialize(Recorder::callback, &r_), 1); }

  cms_profnode* node(const std::string& source, const std::string& destination,
                     std::vector<const char*> args, uint32_t in, uint32_t out) {
    return cms_profnode_new(1, "", 0, source.c_str(), "", destination.c_str(), "",
                            static_cast<int32_t>(args.size()), args.data(), 0, nullptr, in, out,
                            Recorder::callback, &r_);
  }

  ServerFolder server_;
  ScopedEnv path_;
  Recorder r_;
};

// Runs transicc on lines of numbers; the numbers of each output line.
std::vector<std::vector<double>> transicc(const std::string& args,
                                          const std::vector<std::vector<double>>& rows,
                                          const std::string& folder) {
  const std::string in = folder + "/in.txt", out = folder + "/out.txt";
  {
    std::ofstream f(in);
    for (const auto& row : rows) {
      for (double v : row) f << v << ' ';
      f << '\n';
    }
  }
  const std::string command =
      std::string(KLV_TRANSICC) + " -n " + args + " < " + in + " > " + out + " 2>/dev/null";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  std::vector<std::vector<double>> result;
  std::ifstream f(out);
  std::string line;
  while (std::getline(f, line)) {
    std::istringstream s(line);
    std::vector<double> values;
    double v;
    while (s >> v) values.push_back(v);
    if (!values.empty()) result.push_back(values);
  }
  return result;
}

TEST_F(Lcms2Engine, GridAgreesWithTransicc) {
#ifndef KLV_TRANSICC
  GTEST_SKIP() << "transicc is not installed (liblcms2-utils)";
#else
  cms_profnode* to_cmyk = node(kSrgb, kCmyk, {"intent=0"}, 3, 4 | CMS_FMT_INK);
  cms_profnode* to_rgb = node(kCmyk, kSrgb, {"intent=0"}, 4 | CMS_FMT_INK, 3);
  ASSERT_TRUE(to_cmyk && to_rgb);
  ASSERT_EQ(cms_profnode_open_xform(cms_get_info(), to_cmyk, Recorder::callback, &r_), 1);
  ASSERT_EQ(cms_profnode_open_xform(cms_get_info(), to_rgb, Recorder::callback, &r_), 1);
  ASSERT_NE(to_cmyk->xform->transform_line, nullptr);

  // The 17x17x17 grid of 8-bit RGB, through the engine's exact per-pixel
  // entry (ink inverted there) and, for the record, its 16-bit line entry.
  constexpr int kN = 17;
  constexpr uint32_t count = kN * kN * kN;
  std::vector<uint16_t> rgb, cmyk(count * 4), back(count * 3), line_cmyk(count * 4);
  std::vector<std::vector<double>> rows;
  for (int r = 0; r < kN; ++r)
    for (int g = 0; g < kN; ++g)
      for (int b = 0; b < kN; ++b) {
        const int v[3] = {std::min(255, r * 16), std::min(255, g * 16), std::min(255, b * 16)};
        rows.push_back({double(v[0]), double(v[1]), double(v[2])});
        for (int c : v) rgb.push_back(static_cast<uint16_t>(c * 257));
      }
  for (uint32_t i = 0; i < count; ++i) {
    uint16_t px[4] = {rgb[i * 3], rgb[i * 3 + 1], rgb[i * 3 + 2], 0};
    to_cmyk->xform->transform(to_cmyk->xform->handle, to_cmyk->in_format, px);
    for (int c = 0; c < 4; ++c) cmyk[i * 4 + c] = static_cast<uint16_t>(65535 - px[c]);
    for (int c = 0; c < 4; ++c) px[c] = static_cast<uint16_t>(65535 - cmyk[i * 4 + c]);
    to_rgb->xform->transform(to_rgb->xform->handle, to_rgb->in_format, px);
    std::copy(px, px + 3, back.begin() + i * 3);
  }
  ASSERT_EQ(to_cmyk->xform->transform_line(to_cmyk->xform->handle, rgb.data(), line_cmyk.data(),
                                           count, 16),
            1);

  const std::string cmyk_args = "-t0 -i" + kSrgb + " -o" + kCmyk;
  const std::string rgb_args = "-t0 -i" + kCmyk + " -o" + kSrgb;
  const auto their_cmyk = transicc(cmyk_args, rows, server_.path(""));
  ASSERT_EQ(their_cmyk.size(), count);
  const auto their_rgb = transicc(rgb_args, their_cmyk, server_.path(""));
  ASSERT_EQ(their_rgb.size(), count);

  // Both sides measured in L*a*b* (LittleCMS in floating point) with dE00.
  cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
  cmsHPROFILE cmyk_p = cmsOpenProfileFromFile(kCmyk.c_str(), "r");
  cmsHPROFILE srgb_p = cmsOpenProfileFromFile(kSrgb.c_str(), "r");
  cmsHTRANSFORM cmyk_lab = cmsCreateTransform(cmyk_p, TYPE_CMYK_DBL, lab, TYPE_Lab_DBL,
                                              INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOOPTIMIZE);
  cmsHTRANSFORM rgb_lab = cmsCreateTransform(srgb_p, TYPE_RGB_DBL, lab, TYPE_Lab_DBL,
                                             INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOOPTIMIZE);
  double worst_cmyk = 0, worst_rgb = 0, worst_line = 0;
  for (uint32_t i = 0; i < count; ++i) {
    double ours[4], theirs[4], line[4];
    cmsCIELab a, b, l;
    for (int c = 0; c < 4; ++c) {
      ours[c] = cmyk[i * 4 + c] / 655.35;
      line[c] = line_cmyk[i * 4 + c] / 655.35;
      theirs[c] = their_cmyk[i][c];
    }
    cmsDoTransform(cmyk_lab, ours, &a, 1);
    cmsDoTransform(cmyk_lab, theirs, &b, 1);
    cmsDoTransform(cmyk_lab, line, &l, 1);
    worst_cmyk = std::max(worst_cmyk, cmsCIE2000DeltaE(&a, &b, 1, 1, 1));
    worst_line = std::max(worst_line, cmsCIE2000DeltaE(&l, &b, 1, 1, 1));
    double ours_rgb[3], theirs_rgb[3];
    for (int c = 0; c < 3; ++c) {
      ours_rgb[c] = back[i * 3 + c] / 65535.0;
      theirs_rgb[c] = their_rgb[i][c] / 255.0;
    }
    cmsDoTransform(rgb_lab, ours_rgb, &a, 1);
    cmsDoTransform(rgb_lab, theirs_rgb, &b, 1);
    worst_rgb = std::max(worst_rgb, cmsCIE2000DeltaE(&a, &b, 1, 1, 1));
  }
  RecordProperty("worst_dE00_cmyk", std::to_string(worst_cmyk));
  RecordProperty("worst_dE00_round_trip", std::to_string(worst_rgb));
  RecordProperty("worst_dE00_line16", std::to_string(worst_line));
  std::printf("worst dE00 against transicc: sRGB->CMYK %.4f, and back %.4f; 16-bit line %.4f\n",
              worst_cmyk, worst_rgb, worst_line);
  EXPECT_LT(worst_cmyk, 0.1);
  EXPECT_LT(worst_rgb, 0.1);
  EXPECT_LT(worst_line, 1.0) << "the line entry interpolates a precalculated grid";
  cmsDeleteTransform(cmyk_lab);
  cmsDeleteTransform(rgb_lab);
  cmsCloseProfile(lab);
  cmsCloseProfile(cmyk_p);
  cmsCloseProfile(srgb_p);
  cms_profnode_free(to_cmyk, nullptr, nullptr);
  cms_profnode_free(to_rgb, nullptr, nullptr);
#endif
}

TEST_F(Lcms2Engine, PixelAndLineEntriesAgree) {
  // Per pixel the ink is held inverted (65535 no ink); lines carry it plain.
  cms_profnode* n = node(kSrgb, "", {"intent=1", "bpc=1"}, 3, 4 | CMS_FMT_INK);
  ASSERT_NE(n, nullptr);
  ASSERT_EQ(cms_profnode_open_xform(cms_get_info(), n, Recorder::callback, &r_), 1);
  const uint8_t line[] = {255, 255, 255, 0, 0, 0, 200, 30, 90};
  uint8_t out8[12];
  ASSERT_EQ(n->xform->transform_line(n->xform->handle, line, out8, 3, 8), 1);
  EXPECT_EQ(n->xform->transform_line(n->xform->handle, line, out8, 3, 12), 0) << "no 12-bit form";
  for (int p = 0; p < 3; ++p) {
    uint16_t px[4] = {uint16_t(line[p * 3] * 257), uint16_t(line[p * 3 + 1] * 257),
                      uint16_t(line[p * 3 + 2] * 257), 0};
    EXPECT_EQ(n->xform->transform(n->xform->handle, n->in_format, px), 4u | CMS_FMT_INK);
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(255 - px[c] / 257.0, out8[p * 4 + c], 3) << p << c;
  }
  EXPECT_LT(out8[0] + out8[1] + out8[2] + out8[3], 8) << "white is (nearly) no ink";
  EXPECT_GT(out8[4 + 3], 150) << "black carries black ink";
  EXPECT_EQ(cms_profnode_close_xform(n, nullptr, nullptr), 1);
  EXPECT_EQ(n->xform, nullptr);
  cms_profnode_free(n, nullptr, nullptr);
}

TEST_F(Lcms2Engine, FlatAndBusyLinesConvertAlike) {
  // The 8-bit line entry picks a worker per line (with or without LittleCMS's
  // pixel cache); both give what converting pixel by pixel gives.
  cms_profnode* n = node(kSrgb, kCmyk, {}, 3, 4);
  ASSERT_NE(n, nullptr);
  ASSERT_EQ(cms_profnode_open_xform_ex(cms_get_info(), n, nullptr, nullptr, 2), 1);
  EXPECT_EQ(n->xform->transform_line(n->xform->handle, nullptr, nullptr, 0, 16), 0)
      << "only the 8-bit form was asked for";
  constexpr uint32_t kWidth = 300;
  std::vector<uint8_t> flat(kWidth * 3), busy(kWidth * 3);
  uint32_t state = 7;
  for (uint32_t i = 0; i < kWidth * 3; ++i) {
    flat[i] = static_cast<uint8_t>(i < 150 * 3 ? (i % 3) * 100 : 50 + (i / 3) % 2);
    state = state * 1664525u + 1013904223u;
    busy[i] = static_cast<uint8_t>(state >> 24);
  }
  for (const auto* line : {&flat, &busy}) {
    std::vector<uint8_t> whole(kWidth * 4), single(kWidth * 4);
    ASSERT_EQ(n->xform->transform_line(n->xform->handle, line->data(), whole.data(), kWidth, 8), 1);
    for (uint32_t x = 0; x < kWidth; ++x)
      n->xform->transform_line(n->xform->handle, line->data() + x * 3, single.data() + x * 4, 1, 8);
    EXPECT_EQ(whole, single) << (line == &flat ? "flat" : "busy");
  }
  cms_profnode_free(n, nullptr, nullptr);
}

TEST_F(Lcms2Engine, DefaultsBuiltinsAndChains) {
  struct Case {
    const char* source;
    const char* destination;
    std::vector<const char*> args;
    uint32_t out;
    int32_t ok;
  };
  const Case cases[] = {
      {"*sRGB", "", {}, 4 | CMS_FMT_INK, 1},         // default CMYK found under profiles/
      {"klv_cmyk.icc", "", {}, 3 | CMS_FMT_LAB, 1},  // file found on the search path, Lab out
      {"*sRGB", "*Gray", {"intent=3"}, 0, 1},
      {"*sRGB", "*sRGB", {"link=*Lab", "intent=1"}, 0, 1},
      {"*sRGB", "*sRGB", {"proof=klv_cmyk.icc", "proof-intent=1"}, 0, 1},
      {"*sRGB", "", {}, 7 | CMS_FMT_INK, 0},  // no default for seven inks
      {"*sRGB", "*sRGB", {"intent=7"}, 0, 0},
      {"*sRGB", "*sRGB", {"colour=blue"}, 0, 0},
      {"*sRGB", "no-such.icc", {}, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.source) + " -> " + c.destination);
    r_.calls.clear();
    std::vector<const char*> args = c.args;
    cms_profnode* n = cms_profnode_new(1, "", 0, c.source, "", c.destination, "",
                                       static_cast<int32_t>(args.size()), args.data(), 0, nullptr,
                                       0, c.out, Recorder::callback, &r_);
    if (!n) {
      EXPECT_EQ(c.ok, 0);
      EXPECT_TRUE(r_.has_code(CMS_ERR_REFUSED));
      continue;
    }
    EXPECT_EQ(cms_profnode_open_xform(nullptr, n, Recorder::callback, &r_), c.ok);
    if (!c.ok) {
      EXPECT_TRUE(r_.has_code(CMS_ERR_REFUSED));
    }
    cms_profnode_free(n, nullptr, nullptr);
  }
}

TEST_F(Lcms2Engine, ProfileQuestions) {
  cms_profnode* n = node(kCmyk, "", {}, 0, 3);
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(n->in_format, 4u | CMS_FMT_INK) << "filled in from the profile";
  char name[128];
  ASSERT_EQ(cms_profnode_get_name(n, name, sizeof name, nullptr, nullptr), 1);
  EXPECT_STREQ(name, "KLV CMYK (simple ink model)");
  cms_profile_info* info = nullptr;
  ASSERT_EQ(cms_profile_get_info(n, &info, nullptr, nullptr), 1);
  EXPECT_STREQ(info->color_space, "CMYK");
  EXPECT_STREQ(info->profile_class, "prtr");
  EXPECT_NE(std::strstr(info->tags, "A2B0"), nullptr);
  cms_profile_free_info(info);
  EXPECT_EQ(cms_profile_is_valid(n, nullptr, nullptr), 1);
  char** list = nullptr;
  ASSERT_EQ(cms_profnode_valid_profiles(n, &list, nullptr, nullptr), 1);
  bool found = false;
  for (char** p = list; *p; ++p) found |= std::strstr(*p, "klv_cmyk.icc") != nullptr;
  EXPECT_TRUE(found);
  cms_free_list(list);
  r_.calls.clear();
  EXPECT_EQ(cms_profnode_edit(n, Recorder::callback, &r_), 0) << "no dialogs here";
  EXPECT_TRUE(r_.has_code(CMS_ERR_REFUSED));
  EXPECT_NE(server_.log().find("not available on this platform"), std::string::npos);
  cms_profnode_free(n, nullptr, nullptr);
}

TEST_F(Lcms2Engine, DamagedProfilesAreRefused) {
  const auto good = icc_test::read_file(kCmyk);
  ASSERT_GT(good.size(), 1000u);
  std::vector<std::vector<uint8_t>> damaged = {
      std::vector<uint8_t>(good.begin(), good.begin() + 100),
      std::vector<uint8_t>(good.begin(), good.begin() + good.size() / 2),
      std::vector<uint8_t>(500, 0xFF),
  };
  auto hostile = good;
  hostile[128] = 0xFF;  // an absurd tag count
  damaged.push_back(hostile);
  for (size_t i = 0; i < damaged.size(); ++i) {
    SCOPED_TRACE(i);
    const std::string path = server_.path("bad" + std::to_string(i) + ".icc");
    icc_test::write_file(path, damaged[i]);
    r_.calls.clear();
    cms_profnode* n = node(path, "*Lab", {}, 4, 3);
    if (n) {
      // A profile cut after its tag table may still open; its transform must not.
      EXPECT_EQ(cms_profnode_open_xform(nullptr, n, Recorder::callback, &r_), 0);
      cms_profnode_free(n, nullptr, nullptr);
    }
    EXPECT_TRUE(r_.has_code(CMS_ERR_REFUSED));
  }
  EXPECT_NE(server_.log().find("bad0.icc"), std::string::npos);
}

TEST_F(Lcms2Engine, BuildOperations) {
  void* swatch = cms_profile_swatch_new(1, "", Recorder::callback, &r_);
  ASSERT_NE(swatch, nullptr);
  auto* it8 = static_cast<cmsHANDLE>(swatch);
  cmsIT8SetSheetType(it8, "CGATS.17");
  cmsIT8SetPropertyDbl(it8, "NUMBER_OF_FIELDS", 4);
  cmsIT8SetPropertyDbl(it8, "NUMBER_OF_SETS", 2);
  cmsIT8SetDataFormat(it8, 0, "SAMPLE_ID");
  cmsIT8SetDataFormat(it8, 1, "LAB_L");
  cmsIT8SetDataFormat(it8, 2, "LAB_A");
  cmsIT8SetDataFormat(it8, 3, "LAB_B");
  cmsIT8SetDataRowCol(it8, 0, 0, "1");
  cmsIT8SetDataRowColDbl(it8, 0, 1, 95.5);
  cmsIT8SetDataRowColDbl(it8, 0, 2, -0.5);
  cmsIT8SetDataRowColDbl(it8, 0, 3, 2.0);
  cmsIT8SetDataRowCol(it8, 1, 0, "2");
  cmsIT8SetDataRowColDbl(it8, 1, 1, 12.25);
  cmsIT8SetDataRowColDbl(it8, 1, 2, 1.0);
  cmsIT8SetDataRowColDbl(it8, 1, 3, -1.0);
  const std::string cgats = server_.path("swatch.txt");
  ASSERT_EQ(cms_profile_swatch_save(1, "", swatch, cgats.c_str(), nullptr, nullptr), 1);
  EXPECT_EQ(cms_profile_swatch_free(1, "", swatch, nullptr, nullptr), 1);
  void* loaded = cms_profile_swatch_load(1, "", cgats.c_str(), nullptr, nullptr);
  ASSERT_NE(loaded, nullptr);
  EXPECT_DOUBLE_EQ(cmsIT8GetDataRowColDbl(static_cast<cmsHANDLE>(loaded), 1, 1), 12.25);
  cms_profile_swatch_free(1, "", loaded, nullptr, nullptr);
  r_.calls.clear();
  EXPECT_EQ(cms_profile_swatch_load(1, "", "/no/such.txt", Recorder::callback, &r_), nullptr);
  EXPECT_TRUE(r_.has_code(CMS_ERR_REFUSED));

  void* table = cms_profile_table_load(1, "", kCmyk.c_str(), nullptr, nullptr);
  ASSERT_NE(table, nullptr);
  const std::string copy = server_.path("copy.icc");
  EXPECT_EQ(cms_profile_table_save(1, "", table, copy.c_str(), nullptr, nullptr), 1);
  r_.calls.clear();
  EXPECT_EQ(cms_profile_table_build(1, "", table, nullptr, Recorder::callback, &r_), 0);
  EXPECT_TRUE(r_.has_code(CMS_ERR_REFUSED));
  EXPECT_EQ(cms_profile_table_free(1, "", table, nullptr, nullptr), 1);
  cmsHPROFILE reread = cmsOpenProfileFromFile(copy.c_str(), "r");
  EXPECT_NE(reread, nullptr);
  if (reread) cmsCloseProfile(reread);
  void* fresh = cms_profile_table_new(1, "", nullptr, nullptr);
  EXPECT_NE(fresh, nullptr);
  cms_profile_table_free(1, "", fresh, nullptr, nullptr);

  char path[256];
  ScopedEnv data("XDG_DATA_HOME", "/data/home");
  EXPECT_EQ(cms_profile_make_path(1, "", "press", path, sizeof path, nullptr, nullptr), 1);
  EXPECT_STREQ(path, "/data/home/klv/profiles/press.icc");
}

TEST(Lcms2TypeList, ShippedListRegistersTheEngine) {
  // The shipped list names "klvcms_lcms2.dll"; the engine is found as ".so"
  // beside a copy of the list.
  icc_test::ScratchDir dir;
  const std::string engine = KLV_LCMS2_ENGINE;
  std::filesystem::copy_file(engine, dir / "klvcms_lcms2.so");
  std::filesystem::copy_file(std::string(KLV_DATA_DIR) + "/CMSTypes.Info", dir / "CMSTypes.Info");
  ScopedEnv server("KLV_SERVER_PATH", dir.path());
  ASSERT_EQ(cms_initialize(nullptr, nullptr), 1);
  EXPECT_EQ(cms_type_count(), 21);
  for (int32_t id : {0, 1, 15, 20}) EXPECT_EQ(cms_type_get_info(id, "LittleCMS"), 1) << id;
  EXPECT_EQ(cms_terminate(nullptr, nullptr), 1);
}

}  // namespace

#endif
