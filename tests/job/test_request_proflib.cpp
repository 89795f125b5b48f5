// SPDX-License-Identifier: MIT
// The profile request command table run in this process over a scratch
// profile library: the table itself, the operations scripts reach by name,
// and the text of the answer member.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "klv/kernel_layers.h"
#include "klv/kernel_settings.h"
#include "klv/kernel_stream.h"
#include "klv/kernel_util.h"
#include "klv/kernel_volume.h"
#include "klv/proflib.h"
#include "klv/proflib_request.h"
#include "klv/request.h"
#include "support/files.h"
#include "support/log_capture.h"

namespace {

using klv::test::ScratchFolder;

const char* const kNames[] = {"AddDefaultEntryEx",
                              "AddModelEntryEx",
                              "AddProfileEntryEx",
                              "AddProfileShareEx",
                              "Answer",
                              "CanAddProfile",
                              "CopyFile",
                              "CopyMediaProfiles",
                              "CopySwatch",
                              "CopyTable",
                              "CopyVVMediaProfiles",
                              "Defragment",
                              "DimStr",
                              "DimVal",
                              "ExistModelEntryEx",
                              "ExistProfileEntryEx",
                              "Fetch",
                              "FreeDefaultEntry",
                              "FreeModelEntry",
                              "FreeProfileEntry",
                              "GetModelEntryEx",
                              "GetProfileCount",
                              "GetProfileEntryEx",
                              "IndexFree",
                              "IndexLoad",
                              "IndexSave",
                              "LockDefault",
                              "LockModel",
                              "LockModelEx",
                              "LockProfile",
                              "LockProfileEx",
                              "Not",
                              "Or",
                              "RemoveFile",
                              "RemoveMediaProfiles",
                              "RemoveModelEntryEx",
                              "RemoveModelSwatch",
                              "RemoveModelTable",
                              "RemoveProfileEntryEx",
                              "RemoveSwatch",
                              "RemoveTable",
                              "SetProfileCount",
                              "Store",
                              "UnlockAllDefaults",
                              "UnlockAllModels",
                              "UnlockAllProfiles",
                              "UnlockDefault",
                              "UnlockModel",
                              "UnlockModelEx",
                              "UnlockProfile",
                              "UnlockProfileEx",
                              "UpdateDefaultEntryEx",
                              "UpdateModelEntryEx",
                              "UpdateProfileEntryEx"};

TEST(ProfileRequestTable, FiftyFourCommandsInNameOrder) {
  int32_t count = 0;
  const INTERP_CMD* table = PL_request_table(&count);
  ASSERT_EQ(count, 54);
  for (int32_t i = 0; i < count; ++i) {
    EXPECT_STREQ(table[i].name, kNames[i]);
    EXPECT_NE(table[i].func, nullptr) << kNames[i];
    if (i > 0) {
      EXPECT_LT(Ostricmp(table[i - 1].name, table[i].name), 0);
    }
  }
}

// Runs a script against a library volume; the answer's values, and the fault.
struct ScriptResult {
  int32_t ran = 0;
  std::vector<std::string> values;
  std::string error;
};

class ProfileRequests : public ::testing::Test {
 protected:
  ScriptResult Script(const std::string& script) {
    ScriptResult r;
    const std::string text = "Request {\n ProfOp {\n" + script + "\n }\n}\n";
    SFilemux* s = Omemopen(text.data(), text.size());
    SFPARSE* fp = fp_attach(s);
    EXPECT_EQ(off_open_rec(fp, "Request"), 1);
    EXPECT_EQ(fp_open_block(fp, "ProfOp"), 1);
    SOVolume* answer = VOpen(nullptr, dir_.path("answer.vol").c_str(), KLV_VOL_CREATE);
    SOVolume* library = VOpen(nullptr, library_.c_str(), KLV_VOL_CREATE);
    char error[320];
    r.ran = PL_handle_request_ex(fp, answer, library, nullptr, error, sizeof error);
    r.error = error;
    VClose(library);
    int32_t n = 0;
    char** values = srv_read_answers(answer, &n);
    for (int32_t i = 0; i < n; ++i) r.values.push_back(values[i]);
    free_char_list(values);
    VClose(answer);
    VRemove(nullptr, dir_.path("answer.vol").c_str());
    fp_close(fp);
    Oclose(s);
    return r;
  }
  // "yes" or "no" for one condition.
  std::string Holds(const std::string& condition) {
    const auto r = Script("DimStr {1 4} Store {s0 no} if {" + condition +
                          "} then {Store {s0 yes}} Answer {0 1}");
    return r.values.empty() ? "?" : r.values[0];
  }

  klv::test::LogCapture log_;
  ScratchFolder dir_{"plrq"};
  std::string library_ = dir_.path("Test.PrnLib");
};

TEST_F(ProfileRequests, OperationsByName) {
  const struct {
    const char* condition;
    const char* holds;
  } steps[] = {
      {"CanAddProfile {Matte 360 Stochastic 2 A}", "yes"},
      {"AddProfileEntryEx {Matte 360 Stochastic 2 A KELV 0 a.icc a.rdg}", "yes"},
      {"CanAddProfile {Matte 360 Stochastic 2 A}", "no"},
      {"AddProfileEntryEx {Matte 360 Stochastic 2 A KELV 0 a.icc a.rdg}", "no"},
      {"AddProfileEntryEx {Matte 360 Stochastic 2}", "no"},  // too few fields
      {"ExistProfileEntryEx {Matte 360 Stochastic 2 A}", "yes"},
      {"UpdateProfileEntryEx {Matte 360 Stochastic 2 A KELV 4 b.icc b.rdg}", "yes"},
      {"UpdateProfileEntryEx {Matte 360 Stochastic 2 Z KELV 4 b.icc b.rdg}", "no"},
      {"AddProfileShareEx {Matte 360 Stochastic 2 A Glossy 360 Stochastic}", "yes"},
      {"ExistProfileEntryEx {Glossy 360 Stochastic 2 A}", "yes"},
      {"AddDefaultEntryEx {Matte 360 Stochastic 2 A}", "yes"},
      {"UpdateDefaultEntryEx {Glossy 360 Stochastic 2 A}", "no"},  // no such default
      {"AddModelEntryEx {Matte 360 Third 1 M KELV 0 m.mdl \"\"}", "yes"},
      {"ExistModelEntryEx {Matte 360 Third 1 M}", "yes"},
      {"LockProfileEx {Matte 360 Stochastic 2 A 1}", "yes"},
      {"UnlockProfileEx {Matte 360 Stochastic 2 A 1}", "yes"},
      {"LockProfile {Matte 360 Stochastic 2 A}", "yes"},
      {"UnlockAllProfiles", "yes"},
      {"LockModel {Matte 360 Third 1 M}", "yes"},
      {"UnlockModel {Matte 360 Third 1 M}", "yes"},
      {"LockDefault {Matte 360 Stochastic}", "yes"},
      {"UnlockDefault {Matte 360 Stochastic}", "yes"},
      {"RemoveModelEntryEx {Matte 360 Third 1 M}", "yes"},
      {"ExistModelEntryEx {Matte 360 Third 1 M}", "no"},
      {"SetProfileCount {3}", "no"},
      {"CopyVVMediaProfiles {Matte Glossy}", "no"},
      {"FreeProfileEntry", "yes"},
      {"RemoveTable {Matte 360 Stochastic 2 A}", "no"},  // no table member yet
      {"Defragment", "yes"},
  };
  for (const auto& s : steps) EXPECT_EQ(Holds(s.condition), s.holds) << s.condition;

  const auto got = Script(
      "DimStr {9 100} GetProfileEntryEx {s0 Matte 360 Stochastic 2 A} "
      "Answer {0 9}");
  EXPECT_EQ(got.values, (std::vector<std::string>{"Matte", "360", "Stochastic", "2", "A", "KELV",
                                                  "4", "b.icc", "b.rdg"}));
  const auto count = Script(
      "DimVal {1} DimStr {1 8} GetProfileCount {v0 \"\" \"\" \"\" \"\"} "
      "Store {s0 \\v0} Answer {0 1}");
  EXPECT_EQ(count.values, std::vector<std::string>{"2"});  // the entry and its share
}

TEST_F(ProfileRequests, IndexHeldAcrossCommandsIsWrittenAtSave) {
  // Without IndexSave nothing reaches the library.
  Script("IndexLoad AddProfileEntryEx {M S P 2 N KELV 0 t r} IndexFree");
  EXPECT_EQ(Holds("ExistProfileEntryEx {M S P 2 N}"), "no");
  Script("IndexLoad AddProfileEntryEx {M S P 2 N KELV 0 t r} IndexSave IndexFree");
  EXPECT_EQ(Holds("ExistProfileEntryEx {M S P 2 N}"), "yes");
  // Loaded but never freed: dropped at the end of the request.
  Script("IndexLoad RemoveProfileEntryEx {M S P 2 N}");
  EXPECT_EQ(Holds("ExistProfileEntryEx {M S P 2 N}"), "yes");
}

TEST_F(ProfileRequests, LibraryMembers) {
  char table[PL_FILE_MAX], copy[PL_FILE_MAX];
  ASSERT_EQ(PL_make_table_path(table, "M", "S", "P", 2, "N"), 1);
  ASSERT_EQ(PL_make_table_path(copy, "M2", "S", "P", 2, "N"), 1);
  SOVolume* v = VOpen(nullptr, library_.c_str(), KLV_VOL_CREATE);
  SFilemux* s = Ovfopen(v, table, "wb");
  Oputs(s, "table");
  Oclose(s);
  VClose(v);
  EXPECT_EQ(Holds("CopyTable {M S P 2 N M2 S P}"), "yes");
  EXPECT_EQ(Holds(std::string("CopyFile {\"") + table + "\" other}"), "yes");
  EXPECT_EQ(Holds("RemoveTable {M S P 2 N}"), "yes");
  EXPECT_EQ(Holds("RemoveFile {other}"), "yes");
  EXPECT_EQ(Holds("RemoveFile {other}"), "no");
  v = VOpen(nullptr, library_.c_str(), KLV_VOL_READ);
  EXPECT_FALSE(Ofileexists(v, table, 0));
  EXPECT_TRUE(Ofileexists(v, copy, 0));
  VClose(v);
}

TEST_F(ProfileRequests, FaultsAndAnswerText) {
  const auto r = Script(
      "DimStr {2 8} Store {s0 a} Store {s1 \"b c\"} Answer {0 3}\n"
      "while {} do {}");
  EXPECT_EQ(r.ran, 0);
  EXPECT_NE(r.error.find("line 4: the script ran more than"), std::string::npos) << r.error;
  EXPECT_EQ(r.values, (std::vector<std::string>{"a", "b c", ""}));
  // The member as written: values quoted when they need it, "" past the strings.
  SOVolume* v = VOpen(nullptr, dir_.path("a.vol").c_str(), KLV_VOL_CREATE);
  const char* values[] = {"a", "b c", ""};
  ASSERT_EQ(srv_write_answers(v, values, 3), 1);
  SFilemux* s = Ovfopen(v, ".\\Answers", "rb");
  char text[128] = {};
  Oread(s, text, sizeof text - 1);
  Oclose(s);
  EXPECT_STREQ(text, "Answers {\n a\n \"b c\"\n \"\"\n}\n");
  // A member whose first token is not exactly "Answers" gives no values.
  s = Ovfopen(v, ".\\Answers", "wb");
  Oputs(s, "answers { a }\n");
  Oclose(s);
  EXPECT_EQ(srv_read_answers(v, nullptr), nullptr);
  VClose(v);
  EXPECT_EQ(PL_handle_request(nullptr, nullptr, nullptr), 1);
}

}  // namespace
