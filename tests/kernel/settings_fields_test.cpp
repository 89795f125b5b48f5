// SPDX-License-Identifier: MIT
// Field tables: records written with off_save_struct read back with
// off_load_struct, unknown keys, letter case, bad values, quoting and
// whole-file replacement.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <string>

#include "klv/kernel_settings.h"
#include "klv/kernel_stream.h"
#include "klv/kernel_volume.h"
#include "klv/kernel_settings.h"
#include "support/files.h"
#include "support/log_capture.h"
#include "support/resources.h"

namespace {

using klv::test::read_text;
using klv::test::ScratchFolder;

struct Rec {
  int32_t i;
  uint32_t u;
  uint8_t b;
  uint16_t w;
  uint32_t h;
  uint64_t q;
  double d;
  char s[16];
  SSTRAL* list;
  int32_t pair[2];
};

// A custom entry: two integers in one value, `Pair { a b }`.
int32_t read_pair(SFPARSE* fp, const off_field* f, void* record) {
  char** list = get_char_list(fp, nullptr);
  if (!list) return 0;
  int ok = list[0] && list[1] && !list[2];
  if (ok) {
    int32_t* pair = reinterpret_cast<int32_t*>(static_cast<char*>(record) + f->offset);
    pair[0] = std::atoi(list[0]);
    pair[1] = std::atoi(list[1]);
  }
  free_char_list(list);
  return ok;
}

int32_t write_pair(SFilemux* s, int32_t indent, const off_field* f, const void* record) {
  const int32_t* pair =
      reinterpret_cast<const int32_t*>(static_cast<const char*>(record) + f->offset);
  return Oprintf(s, "%*s%s { %d %d }\n", indent * 2, "", f->key, pair[0], pair[1]) > 0;
}

const off_field kTable[] = {
    {"Byte", OFF_UINT8, 0, offsetof(Rec, b), 0, nullptr, nullptr},
    {"Double", OFF_DOUBLE, 0, offsetof(Rec, d), 0, nullptr, nullptr},
    {"Hex", OFF_HEX32, 0, offsetof(Rec, h), 0, nullptr, nullptr},
    {"Int", OFF_INT32, 0, offsetof(Rec, i), 0, nullptr, nullptr},
    {"List", OFF_STRAL, 0, offsetof(Rec, list), 0, nullptr, nullptr},
    {"Pair", OFF_CUSTOM, 0, offsetof(Rec, pair), 0, read_pair, write_pair},
    {"Quad", OFF_UINT64, 0, offsetof(Rec, q), 0, nullptr, nullptr},
    {"Text", OFF_STRING, 0, offsetof(Rec, s), sizeof(Rec::s), nullptr, nullptr},
    {"UInt", OFF_UINT32, 0, offsetof(Rec, u), 0, nullptr, nullptr},
    {"Word", OFF_UINT16, OFF_SKIP_EMPTY, offsetof(Rec, w), 0, nullptr, nullptr},
};
constexpr int32_t kCount = static_cast<int32_t>(std::size(kTable));

class SettingsFields : public ::testing::Test {
 protected:
  void TearDown() override {
    stral_free(a_.list);
    stral_free(b_.list);
  }
  // Loads block `name` of `path` into b_.
  int32_t load(SOVolume* volume, const std::string& path, const char* name = "Rec") {
    SFPARSE* fp = fp_open(volume, path.c_str(), 0);
    if (!fp) return -1;
    int32_t r = off_open_rec(fp, name) ? off_load_struct(fp, kTable, kCount, &b_) : -2;
    fp_close(fp);
    return r;
  }
  void fill() {
    a_.i = std::numeric_limits<int32_t>::min();
    a_.u = 4294967295u;
    a_.b = 255;
    a_.w = 65535;
    a_.h = 0xDEADBEEF;
    a_.q = std::numeric_limits<uint64_t>::max();
    a_.d = 0.1;
    std::strcpy(a_.s, "a b\\c");
    a_.list = _stral_new();
    stral_addv(a_.list, "Letter", "8.5 in", "", (const char*)nullptr);
    stral_addv(a_.list, "C:\\Data\\x", (const char*)nullptr);
    stral_add(a_.list, nullptr, 0);
    a_.pair[0] = -3;
    a_.pair[1] = 7;
  }
  Rec a_{};
  Rec b_{};
  ScratchFolder dir_;
};

TEST_F(SettingsFields, RoundTripEveryKind) {
  fill();
  std::string path = dir_.path("rec.info");
  ASSERT_EQ(off_save_struct(nullptr, path.c_str(), kTable, kCount, &a_, "Rec"), 1);
  ASSERT_EQ(load(nullptr, path), 1);
  EXPECT_EQ(b_.i, a_.i);
  EXPECT_EQ(b_.u, a_.u);
  EXPECT_EQ(b_.b, a_.b);
  EXPECT_EQ(b_.w, a_.w);
  EXPECT_EQ(b_.h, a_.h);
  EXPECT_EQ(b_.q, a_.q);
  EXPECT_EQ(b_.d, a_.d);
  EXPECT_STREQ(b_.s, a_.s);
  ASSERT_EQ(stral_count(b_.list), 3);
  EXPECT_EQ(stral_size(b_.list, 0), 3);
  EXPECT_STREQ(stral_str(b_.list, 0, 1), "8.5 in");
  EXPECT_STREQ(stral_str(b_.list, 0, 2), "");
  EXPECT_STREQ(stral_str(b_.list, 1, 0), "C:\\Data\\x");
  EXPECT_EQ(stral_size(b_.list, 2), 0);
  EXPECT_EQ(b_.pair[0], -3);
  EXPECT_EQ(b_.pair[1], 7);

  std::string text = read_text(path);
  EXPECT_EQ(text.rfind("Rec {\n  Byte { 255 }\n  Double { 0.1 }\n  Hex { DEADBEEF }\n", 0), 0u)
      << text;
  EXPECT_NE(text.find("  List {\n    { Letter \"8.5 in\" \"\" }\n"), std::string::npos) << text;
  EXPECT_NE(text.find("  Text { \"a b\\c\" }\n"), std::string::npos) << text;
  EXPECT_EQ(text.substr(text.size() - 2), "}\n");
  EXPECT_EQ(dir_.entries(), 1u);  // no temporary file left
}

TEST_F(SettingsFields, DoublesReadBackExactly) {
  const double values[] = {0.0,
                           -0.0,
                           1e-300,
                           -123456.789,
                           8.27,
                           1.0 / 3.0,
                           std::numeric_limits<double>::max(),
                           std::numeric_limits<double>::infinity()};
  std::string path = dir_.path("d.info");
  for (double v : values) {
    a_.d = v;
    ASSERT_EQ(off_save_struct(nullptr, path.c_str(), kTable, kCount, &a_, "Rec"), 1);
    ASSERT_EQ(load(nullptr, path), 1);
    EXPECT_EQ(b_.d, v);
    EXPECT_EQ(std::signbit(b_.d), std::signbit(v));
  }
}

TEST_F(SettingsFields, EmptyFieldsSkippedWhenFlagged) {
  std::string path = dir_.path("e.info");
  ASSERT_EQ(off_save_struct(nullptr, path.c_str(), kTable, kCount, &a_, "Rec"), 1);
  std::string text = read_text(path);
  EXPECT_EQ(text.find("Word"), std::string::npos);
  EXPECT_NE(text.find("  Int { 0 }\n"), std::string::npos);
  EXPECT_NE(text.find("  List { }\n"), std::string::npos);
  EXPECT_NE(text.find("  Text { \"\" }\n"), std::string::npos);
}

TEST_F(SettingsFields, UnknownKeysCaseAndStrayTokens) {
  std::string path = dir_.write("u.info",
                                "; header\n"
                                "Other { Int { 99 } }\n"
                                "rec {\n"
                                "  Unknown { { nested { deep } } }\n"
                                "  INT { 5 },\n"
                                "  { anonymous list }\n"
                                "  stray\n"
                                "  tExT { \"a long text that is cut here\" }\n"
                                "  list { x y }\n"
                                "}\n");
  ASSERT_EQ(load(nullptr, path), 1);
  EXPECT_EQ(b_.i, 5);
  EXPECT_STREQ(b_.s, "a long text tha");  // cut to the field
  EXPECT_EQ(stral_count(b_.list), 1);
  EXPECT_EQ(stral_size(b_.list, 0), 2);
}

TEST_F(SettingsFields, BadValuesFail) {
  struct Case {
    const char* text;
    const char* logged;  // part of the line the refusal logs
  };
  const Case cases[] = {
      {"Rec { Int { abc } }", "Int: \"abc\" is not a valid number"},
      {"Rec { Byte { 256 } }", "Byte: 256 is larger than 255"},
      {"Rec { Word { 70000 } }", "Word: 70000 is larger than 65535"},
      {"Rec { Hex { xyz } }", "Hex: \"xyz\" is not a valid number"},
      {"Rec { Pair { 1 } }", "Pair: the value was refused"},
      {"Rec { List word }", "expected '{' before a list"},
      {"Rec { Int { 1 } ", "block not closed before the end"},
      {"Rec { Int 1 } Text { x } }", "Int: expected '{'"},
  };
  klv::test::ResourceCheck resources({dir_.str()});
  klv::test::LogCapture log;
  for (const Case& c : cases) {
    Rec r{};
    const std::string path = dir_.write("bad.info", c.text);
    SFPARSE* fp = fp_open(nullptr, path.c_str(), 0);
    ASSERT_EQ(off_open_rec(fp, "Rec"), 1) << c.text;
    EXPECT_EQ(off_load_struct(fp, kTable, kCount, &r), 0) << c.text;
    fp_close(fp);
    stral_free(r.list);
    std::filesystem::remove(path);
    const std::string logged = log.Take();
    EXPECT_NE(logged.find(c.logged), std::string::npos) << c.text << ": " << logged;
  }
  EXPECT_EQ(resources.Leaks(), "");
}

TEST_F(SettingsFields, GetControlResults) {
  SFPARSE* fp = fp_open(nullptr, dir_.write("c.info", "{ 4 } { x } { 1 2 }").c_str(), 0);
  EXPECT_EQ(off_get_control(fp, kTable, kCount, &b_, "int"), 1);
  EXPECT_EQ(b_.i, 4);
  EXPECT_EQ(off_get_control(fp, kTable, kCount, &b_, "Nothing"), 0);  // value skipped
  EXPECT_EQ(off_get_control(fp, kTable, kCount, &b_, "Int"), -1);
  fp_close(fp);
}

TEST_F(SettingsFields, BrokenTablesRefused) {
  off_field unsorted[] = {kTable[3], kTable[0]};
  off_field repeated[] = {kTable[0], kTable[0]};
  off_field custom[] = {{"Pair", OFF_CUSTOM, 0, 0, 0, nullptr, nullptr}};
  SFPARSE* fp = fp_open(nullptr, dir_.write("t.info", "Int { 1 } }").c_str(), 0);
  EXPECT_EQ(off_load_struct(fp, unsorted, 2, &b_), 0);
  EXPECT_EQ(off_load_struct(fp, repeated, 2, &b_), 0);
  EXPECT_EQ(off_load_struct(fp, custom, 1, &b_), 0);
  EXPECT_EQ(off_save_struct(nullptr, dir_.path("x").c_str(), unsorted, 2, &a_, "Rec"), 0);
  // Nothing was consumed by the refused calls.
  EXPECT_EQ(off_load_struct(fp, kTable, kCount, &b_), 1);
  EXPECT_EQ(b_.i, 1);
  fp_close(fp);
}

int32_t failing_writer(SFilemux*, int32_t, const off_field*, const void*) {
  return 0;
}

TEST_F(SettingsFields, FailedSaveKeepsTheOldFile) {
  std::string path = dir_.write("keep.info", "Rec { Int { 42 } }\n");
  off_field table[std::size(kTable)];
  std::copy(std::begin(kTable), std::end(kTable), table);
  table[5].write = failing_writer;  // Pair fails half way through the record
  EXPECT_EQ(off_save_struct(nullptr, path.c_str(), table, kCount, &a_, "Rec"), 0);
  EXPECT_EQ(read_text(path), "Rec { Int { 42 } }\n");
  EXPECT_EQ(dir_.entries(), 1u);
  // A folder that does not exist cannot take the temporary file.
  EXPECT_EQ(off_save_struct(nullptr, dir_.path("no/such.info").c_str(), kTable, kCount, &a_, "Rec"),
            0);
}

TEST_F(SettingsFields, SaveInsideAVolume) {
  std::string vpath = dir_.path("v.vol");
  SOVolume* vol = VOpen(nullptr, vpath.c_str(), KLV_VOL_CREATE);
  ASSERT_NE(vol, nullptr);
  fill();
  ASSERT_EQ(off_save_struct(vol, ".\\Info", kTable, kCount, &a_, "Rec"), 1);
  a_.i = 17;
  ASSERT_EQ(off_save_struct(vol, ".\\Info", kTable, kCount, &a_, "Rec"), 1);  // replaces
  ASSERT_EQ(load(vol, ".\\Info"), 1);
  EXPECT_EQ(b_.i, 17);
  EXPECT_EQ(stral_count(b_.list), 3);
  SFindRec found{};
  int n = 0;
  if (VFindfirst(vol, ".\\*", &found)) {
    do ++n;
    while (VFindnext(&found));
  }
  EXPECT_EQ(n, 1);  // only Info: no temporary member left
  VClose(vol);
}

TEST(SettingsFixString, Quoting) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"abc", "abc"},
      {"", "\"\""},
      {"a b", "\"a b\""},
      {"C:\\Data\\x", "C:\\Data\\x"},
      {";x", "\";x\""},
      {"{", "\"{\""},
      {"a}b", "\"a}b\""},
      {"tab\there", "\"tab\there\""},
      {"x\"y", "x\"y"},
      {"\"already quoted\"", "\"already quoted\""},
      {"say \"hi\" now", "\"say 'hi' now\""},
      {"\"open", "\"'open\""},
  };
  for (const Case& c : cases) {
    char out[64];
    EXPECT_EQ(fp_fix_string(c.in, out, sizeof out), static_cast<int32_t>(std::strlen(c.out)))
        << c.in;
    EXPECT_STREQ(out, c.out) << c.in;
  }
  char small[4];
  EXPECT_EQ(fp_fix_string("a b", small, sizeof small), -1);
  EXPECT_STREQ(small, "");
}

TEST(SettingsWriters, NestedBlocks) {
  ScratchFolder dir;
  std::string path = dir.path("n.info");
  SFSAVE* save = fp_save_begin(nullptr, path.c_str());
  ASSERT_NE(save, nullptr);
  SFilemux* s = fp_save_stream(save);
  EXPECT_EQ(off_put_open(s, 0, "DotInfo"), 1);
  EXPECT_EQ(off_put_string(s, 1, "Units", "pl"), 1);
  EXPECT_EQ(off_put_open(s, 1, "ResInfo"), 1);
  EXPECT_EQ(off_put_string(s, 2, "Res", "720x720"), 1);
  EXPECT_EQ(off_put_close(s, 1), 1);
  EXPECT_EQ(off_put_close(s, 0), 1);
  // Nothing is visible before the end.
  EXPECT_FALSE(std::filesystem::exists(path));
  ASSERT_EQ(fp_save_end(save, 1), 1);
  EXPECT_EQ(read_text(path),
            "DotInfo {\n  Units { pl }\n  ResInfo {\n    Res { 720x720 }\n  }\n}\n");

  save = fp_save_begin(nullptr, path.c_str());
  off_put_open(fp_save_stream(save), 0, "Other");
  EXPECT_EQ(fp_save_end(save, 0), 0);  // abandoned: the file stays as it was
  EXPECT_EQ(read_text(path).rfind("DotInfo", 0), 0u);
  EXPECT_EQ(dir.entries(), 1u);
}

}  // namespace
