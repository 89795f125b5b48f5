// SPDX-License-Identifier: MIT
// Text calibration tables (SCTB, SDTB) and the rescaling of linearization
// tables by an SDTB line.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "klv/calib.h"
#include "klv/kernel.h"

namespace {

namespace fs = std::filesystem;

// A settings reader over a text.
struct Text {
  explicit Text(const std::string& t) : text(t), s(Omemopen(text.data(), text.size())) {
    fp = fp_attach(s);
  }
  ~Text() {
    fp_close(fp);
    Oclose(s);
  }
  std::string text;
  SFilemux* s;
  SFPARSE* fp;
};

std::string written(int32_t (*write)(SFilemux*, const void*), const void* record) {
  SFilemux* s = Omemcreate();
  EXPECT_EQ(write(s, record), 1);
  size_t n = 0;
  auto* p = static_cast<const char*>(Omemdata(s, &n));
  std::string out(p, n);
  Oclose(s);
  return out;
}
std::string sctb_text(const SCTB& r) {
  return written(
      [](SFilemux* s, const void* p) { return write_sctb(s, static_cast<const SCTB*>(p)); }, &r);
}

TEST(CalibSctb, ReadsByValueCount) {
  struct Case {
    const char* line;
    double scale;
    int32_t first, second;
    double t1, t2, single, v11, v13;  // t1/t2: the first member of each triple
    int32_t v12;
    double min1, min2;
  };
  const Case cases[] = {
      {"SCTB { 2 }", 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
      {"SCTB { 0.5 3 }", 0.5, 3, 0, 0.5, 0.5, 0.5, 1, 1, 0, 0.5, 0.5},
      {"sctb { 0.5 3 9 9 }", 0.5, 3, 0, 0.5, 0.5, 0.5, 1, 1, 0, 0.5, 0.5},
      {"SCTB { 1 2 3 6 5 4 9 8 7 10 11 }", 1, 2, 3, 6, 9, 10, 11, 1, 0, 4, 7},
      {"SCTB { 1 2 3 6 5 4 9 8 7 10 11 12 }", 1, 2, 3, 6, 9, 10, 11, 0, 12, 4, 7},
      {"SCTB { 1 2 3 6 5 4 9 8 7 10 11 12 0.25 }", 1, 2, 3, 6, 9, 10, 11, 0.25, 12, 4, 7},
  };
  for (const Case& c : cases) {
    Text t(c.line);
    SCTB r;
    ASSERT_EQ(read_sctb(t.fp, &r), 1) << c.line;
    EXPECT_EQ(r.scale, c.scale) << c.line;
    EXPECT_EQ(r.first, c.first) << c.line;
    EXPECT_EQ(r.second, c.second) << c.line;
    EXPECT_EQ(r.triple1[0], c.t1) << c.line;
    EXPECT_EQ(r.triple2[0], c.t2) << c.line;
    EXPECT_EQ(r.single, c.single) << c.line;
    EXPECT_EQ(r.value11, c.v11) << c.line;
    EXPECT_EQ(r.value13, c.v13) << c.line;
    EXPECT_EQ(r.value12, c.v12) << c.line;
    EXPECT_EQ(r.min1, c.min1) << c.line;
    EXPECT_EQ(r.min2, c.min2) << c.line;
  }
  for (const char* bad : {"SCTB { 0 1 }", "SCTB { -1 }", "SCTB { }", "SCTX { 1 }", "SCTB { 1 abc }",
                          "SCTB 1", "SCTB { 1 2", "", "SCTB { nan }"}) {
    Text t(bad);
    SCTB r;
    EXPECT_EQ(read_sctb(t.fp, &r), 0) << bad;
  }
  SCTB r;
  EXPECT_EQ(read_sctb(nullptr, &r), 0);
}

TEST(CalibSctb, WritesTheFormChosenByValues12And13) {
  SCTB r{};
  r.scale = 1;
  r.first = 2;
  r.second = 3;
  for (int i = 0; i < 3; ++i) {
    r.triple1[i] = 4 + i;
    r.triple2[i] = 7 + i;
  }
  r.single = 10;
  r.value11 = 11;
  const std::string eleven =
      "SCTB { 1.000000 2 3 4.000000 5.000000 6.000000 7.000000 8.000000 9.000000 10.000000 "
      "11.000000";
  struct Case {
    int32_t v12;
    double v13;
    std::string tail;
  };
  for (const Case& c : {Case{0, 0, " }\n"}, Case{0, -1, " }\n"}, Case{0, 0.5, " 0 0.500000}\n"},
                        Case{12, 0, " 12 }\n"}, Case{12, 0.5, " 12 0.500000}\n"}}) {
    r.value12 = c.v12;
    r.value13 = c.v13;
    std::string text = sctb_text(r);
    EXPECT_EQ(text, eleven + c.tail);
    // Read back, the written line gives the same record (minima included).
    Text t(text);
    SCTB back;
    ASSERT_EQ(read_sctb(t.fp, &back), 1) << text;
    EXPECT_EQ(back.value12, c.v12) << text;
    EXPECT_EQ(back.value13, c.v12 == 0 && !(c.v13 > 0) ? 1.0 : c.v13 > 0 ? c.v13 : 0) << text;
    EXPECT_EQ(back.min1, 4);
    EXPECT_EQ(back.min2, 7);
    EXPECT_EQ(back.single, 10);
  }
  // Twelve values read and written back keep the twelve-value form.
  Text t("SCTB { 1 2 3 4 5 6 7 8 9 10 11 12 }");
  SCTB twelve;
  ASSERT_EQ(read_sctb(t.fp, &twelve), 1);
  EXPECT_EQ(sctb_text(twelve), eleven + " 12 }\n");
}

TEST(CalibSdtb, ReadsWritesAndRejects) {
  {
    Text t("SDTB { 10 20 30 40 }");
    SDTB* l = nullptr;
    ASSERT_EQ(read_sdtb(t.fp, &l), 1);
    ASSERT_NE(l, nullptr);
    ASSERT_EQ(l->count, 4);
    EXPECT_EQ(l->values[3], 40);
    SFilemux* s = Omemcreate();
    ASSERT_EQ(write_sdtb(s, l), 1);
    size_t n = 0;
    const char* p = static_cast<const char*>(Omemdata(s, &n));
    EXPECT_EQ(std::string(p, n), "SDTB { 10 20 30 40}\n");
    Oclose(s);
    free_sdtb(l);
  }
  {
    Text t("Other { 1 2 3 }");
    SDTB* l = reinterpret_cast<SDTB*>(1);
    EXPECT_EQ(read_sdtb(t.fp, &l), 1) << "another line: success without a list";
    EXPECT_EQ(l, nullptr);
    char word[16];
    EXPECT_EQ(fp_get_token(t.fp, word, sizeof word), KLV_FP_WORD);
    EXPECT_STREQ(word, "Other") << "the other line is not consumed";
  }
  for (const char* bad : {"SDTB { 10 20 }", "SDTB { 10 20 256 }", "SDTB { 10 -1 30 }",
                          "SDTB { 1 2 x }", "SDTB { 1.5 2 3 }", "SDTB"}) {
    Text t(bad);
    SDTB* l = nullptr;
    EXPECT_EQ(read_sdtb(t.fp, &l), 0) << bad;
    EXPECT_EQ(l, nullptr) << bad;
  }
}

class CalibScale : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("klv_calib_scale_" + std::to_string(getpid()));
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string file(const char* name, const std::string& text) {
    std::string p = (dir / name).string();
    std::ofstream(p) << text;
    return p;
  }
  fs::path dir;
};

TEST_F(CalibScale, ScalesChannelsByTheirPercentage) {
  std::string sdtb = file("limits", "; ink limits\nSDTB { 255 128 0 }\n");
  LNTB* r = scale_lntb(nullptr, nullptr, sdtb.c_str(), 8);
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(r->count, 4);
  for (int e = 0; e < 256; ++e) {
    EXPECT_EQ(r->tables[0][e], e) << "255: unchanged";
    EXPECT_EQ(r->tables[1][e], 255 - (128 * (255 - e)) / 255) << e;
    EXPECT_EQ(r->tables[2][e], 255) << "0: full";
    EXPECT_EQ(r->tables[3][e], e) << "beyond the list: identity";
  }
  // An existing 16-bit record is scaled in place and returned.
  LNTB* same = scale_lntb(r, nullptr, sdtb.c_str(), 8);
  EXPECT_EQ(same, r);
  EXPECT_EQ(r->tables[1][0], 255 - (128 * (255 - 127)) / 255);
  free_linear_tbl(r);

  LNTB* id16 = scale_lntb(nullptr, nullptr, file("full", "SDTB { 255 255 255 }").c_str(), 16);
  ASSERT_NE(id16, nullptr);
  EXPECT_EQ(id16->tables[0][255], 65535);
  EXPECT_EQ(id16->tables[0][1], 257);
  free_linear_tbl(id16);
}

TEST_F(CalibScale, MissingOrBadLineLeavesRecordAlone) {
  uint16_t** t = alloc_lntb(1);
  for (int i = 0; i < 256; ++i) t[0][i] = uint16_t(i * 3);
  LNTB* r = static_cast<LNTB*>(calloc(1, sizeof(LNTB)));
  r->count = 1;
  r->tables = t;
  for (std::string path :
       {file("none", "Other { 1 }"), file("two", "SDTB { 1 2 }"), (dir / "missing").string()}) {
    EXPECT_EQ(scale_lntb(r, nullptr, path.c_str(), 16), r) << path;
    EXPECT_EQ(r->tables[0][100], 300) << path;
  }
  EXPECT_EQ(scale_lntb(nullptr, nullptr, (dir / "missing").string().c_str(), 16), nullptr);
  free_linear_tbl(r);
}

TEST_F(CalibScale, LoadSctbFromAFile) {
  SCTB* r = load_sctb(nullptr, file("limit", "SCTB { 0.9 2 }\n").c_str());
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->scale, 0.9);
  EXPECT_EQ(r->first, 2);
  free_sctb(r);
  EXPECT_EQ(load_sctb(nullptr, file("other", "SDTB { 1 2 3 }\n").c_str()), nullptr);
  EXPECT_EQ(load_sctb(nullptr, (dir / "missing").string().c_str()), nullptr);
}

}  // namespace
