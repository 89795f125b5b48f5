// SPDX-License-Identifier: MIT
// The usage account: its text form against fixtures, load-add-save round
// trips, the rules for names and counts, malformed files and failed saves.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "klv/usage.h"
#include "klv/usage_cxx.h"
#include "support/files.h"
#include "support/full_disk.h"
#include "support/log_capture.h"

namespace {

using klv::test::fixture;
using klv::test::read_text;
using klv::test::ScratchFolder;

// The account of tests/data/usage/counts.Info, built by calls.
void build_counts(CPrintUsage* u) {
  u->UseMedia("Glossy Photo", 1.5);
  u->UseMedia("Plain Paper", 0.0625);
  u->UseMedia("", 2.0);
  const usage_ink_count cmyk[] = {{"Cyan", 1000, 0},        {"Magenta", 2000, 0}, {"Yellow", 0, 0},
                                  {"Black", UINT64_MAX, 0}, {nullptr, 99, 0.5},   {"After", 1, 0}};
  const usage_dot_table table{1, cmyk};
  u->UseInk("CMYK", 4, &table);
  const usage_ink_count light[] = {{"Light Cyan", 7, 0}, {"", 0, 0}};
  const usage_dot_table light_table{1, light};
  u->UseInk("Light Inks", 6, &light_table);
  u->FindInkSet("No Inks", 9, true);  // an ink set without inks is not written
}

TEST(UsageFile, WritesTheFixturesByteForByte) {
  CPrintUsage counts;
  build_counts(&counts);
  EXPECT_EQ(counts.Text(), read_text(fixture("usage", "counts.Info")));

  CPrintUsage volumes;
  volumes.UseMedia("Glossy Photo", 0.06032258);
  const usage_ink_count inks[] = {{"Cyan", 3000, 3000 * 7e-9}, {"Magenta", 250, 0}, {}};
  const usage_dot_table table{1, inks};
  volumes.UseInk("CMYK", 4, &table);
  EXPECT_EQ(volumes.Text(), read_text(fixture("usage", "volumes.Info")));

  CPrintUsage empty;
  EXPECT_EQ(empty.Text(), "PrintUsage {\n}\n");

  // A volume too small for 15 decimals is written as none at all, so that
  // the text reads back as the same text.
  CPrintUsage tiny;
  const usage_ink_count drop[] = {{"Cyan", 1, 2.1e-19}, {}};
  const usage_dot_table tiny_table{1, drop};
  tiny.UseInk("CMYK", 4, &tiny_table);
  EXPECT_EQ(tiny.Text(), "PrintUsage {\n InkSet { \"CMYK\" 4 {\n  { \"Cyan\" 1 }\n } }\n}\n");
}

// Amounts read from a file that round to nothing are written as zero, also
// when negative, so that the written text reads back as the same text.
TEST(UsageFile, AmountsTooSmallToShowReadBackAsTheSameText) {
  ScratchFolder dir;
  const std::string path = dir.path("small.Info");
  klv::test::write_text(path,
                        "PrintUsage {\n Media { \"Glossy Photo\" -0.00000000000000000021 }\n"
                        " InkSet { \"CMYK\" 0 {\n  { \"Cyan\" 3000 }\n } }\n"
                        " InkVolume { \"CMYK\" 0 {\n  { \"Cyan\" -0.00000000000000000021 }\n"
                        "  { \"Magenta\" 0.000000000000021 }\n } }\n}\n");
  CPrintUsage u;
  ASSERT_TRUE(u.Load(path.c_str()));
  const std::string text = u.Text();
  EXPECT_EQ(text.find("-0."), std::string::npos) << text;
  EXPECT_NE(text.find("{ \"Cyan\" 0.000000000000000 }"), std::string::npos) << text;
  ASSERT_TRUE(u.Save(dir.path("again.Info").c_str()));
  CPrintUsage back;
  ASSERT_TRUE(back.Load(dir.path("again.Info").c_str()));
  EXPECT_EQ(back.Text(), text);
}

TEST(UsageFile, LoadSaveRoundTripsAndLoadingAddsToTheSameEntries) {
  ScratchFolder dir;
  for (const char* name : {"counts.Info", "volumes.Info"}) {
    SCOPED_TRACE(name);
    const std::string text = read_text(fixture("usage", name));
    CPrintUsage u;
    ASSERT_TRUE(u.Load(fixture("usage", name).c_str()));
    EXPECT_EQ(u.GetPath(), fixture("usage", name));
    ASSERT_TRUE(u.Save(dir.path(name).c_str()));
    EXPECT_EQ(read_text(dir.path(name)), text);

    // Load, add one more job, save to the remembered path, load again.
    CPrintUsage again;
    ASSERT_TRUE(again.Load(dir.path(name).c_str()));
    again.UseMedia("glossy photo", 0.5);
    const usage_ink_count more[] = {{"Cyan", 10, 1e-6}, {}};
    const usage_dot_table table{1, more};
    again.UseInk("cmyk", 4, &table);
    ASSERT_TRUE(again.Save());
    CPrintUsage back;
    ASSERT_TRUE(back.Load(dir.path(name).c_str()));
    EXPECT_EQ(back.Text(), again.Text());
    ASSERT_NE(back.FindMedia("Glossy Photo", false), nullptr);
    const CPrintInkUsage* cyan = back.FindInkSet("CMYK", -1, false)->FindInk("Cyan", false);
    ASSERT_NE(cyan, nullptr);
    CPrintUsage before;
    ASSERT_TRUE(before.Load(fixture("usage", name).c_str()));
    EXPECT_EQ(cyan->GetCount(),
              before.FindInkSet("CMYK", -1, false)->FindInk("Cyan", false)->GetCount() + 10);
    EXPECT_DOUBLE_EQ(back.FindMedia("Glossy Photo", false)->GetAmount(),
                     before.FindMedia("Glossy Photo", false)->GetAmount() + 0.5);
  }
}

TEST(UsageFile, DuplicatesAddUpAndSetsAreFoundByNameOrNumber) {
  ScratchFolder dir;
  const std::string path = dir.write("dup.Info",
                                     "printusage {\n"
                                     " media { \"Glossy\" 1.25 }\n"
                                     " Media { \"GLOSSY\" 2 }\n"
                                     " Media { \"Lonely\" }\n"
                                     " Future { \"kept by newer writers\" { 1 2 } }\n"
                                     " InkSet { \"CMYK\" 4 {\n  { \"Cyan\" 5 }\n  { \"Cyan\" 6 }\n"
                                     "  { \"cyan\" 1 }\n  { \"NoCount\" }\n } }\n"
                                     " InkSet { \"Other name\" 4 {\n  { \"Cyan\" 100 }\n } }\n"
                                     " InkSet { \"Half\" }\n"
                                     " InkVolume { \"cmyk\" 7 {\n  { \"Cyan\" 0.5 }\n } }\n"
                                     "}\n");
  CPrintUsage u;
  ASSERT_TRUE(u.Load(path.c_str()));
  ASSERT_EQ(u.GetMediaList().size(), 1u);
  EXPECT_EQ(u.GetMediaList()[0]->GetName(), "Glossy");
  EXPECT_DOUBLE_EQ(u.GetMediaList()[0]->GetAmount(), 3.25);
  ASSERT_EQ(u.GetInkList().size(), 1u);
  const CPrintInkSetUsage& set = *u.GetInkList()[0];
  EXPECT_EQ(set.GetName(), "CMYK");
  EXPECT_EQ(set.GetNumber(), 4);
  ASSERT_EQ(set.GetList().size(), 2u);  // ink names keep their letter case
  EXPECT_EQ(set.GetList()[0]->GetName(), "Cyan");
  EXPECT_EQ(set.GetList()[0]->GetCount(), 111u);
  EXPECT_DOUBLE_EQ(set.GetList()[0]->GetMillilitres(), 0.5);
  EXPECT_EQ(set.GetList()[1]->GetName(), "cyan");
}

TEST(UsageFile, TaggedMediaNamesAreTheMediaAfterTheTag) {
  CPrintUsage u;
  u.UseMedia("*Tiled*Glossy", 2.0);
  u.UseMedia("glossy", 1.0);
  u.UseMedia("*Glossy", 0.5);  // no second star: only the star goes
  ASSERT_EQ(u.GetMediaList().size(), 1u);
  EXPECT_EQ(u.GetMediaList()[0]->GetName(), "Glossy");
  EXPECT_DOUBLE_EQ(u.GetMediaList()[0]->GetAmount(), 3.5);
  EXPECT_EQ(u.FindMedia("*Other*GLOSSY", false), u.GetMediaList()[0].get());
}

TEST(UsageFile, DotCountsAreDividedAndRounded) {
  struct Case {
    uint32_t divisor;
    uint64_t dots, added;
  } const cases[] = {{2, 5, 3},
                     {2, 4, 2},
                     {3, 4, 1},
                     {3, 5, 2},
                     {0, 5, 5},  // no divisor: counts as they are
                     {1, UINT64_MAX, UINT64_MAX},
                     {2, UINT64_MAX, uint64_t(1) << 63}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.dots) + " / " + std::to_string(c.divisor));
    CPrintUsage u;
    const usage_ink_count inks[] = {{"K", c.dots, 0}, {}};
    const usage_dot_table table{c.divisor, inks};
    u.UseInk("Set", 1, &table);
    EXPECT_EQ(u.FindInkSet("Set", 1, false)->FindInk("K", false)->GetCount(), c.added);
  }
}

TEST(UsageFile, RefusesFilesThatAreNotWholeAccounts) {
  ScratchFolder dir;
  struct Case {
    const char* name;
    const char* text;
    const char* logged;
  } const cases[] = {
      {"other block", "Printer_Info {\n}\n", "no PrintUsage block"},
      {"empty", "", "no PrintUsage block"},
      {"cut short", "PrintUsage {\n Media { \"A\" 1.0 }\n InkSet { \"S\" 1 {\n  { \"C\" 5 }\n",
       "malformed"},
      {"no close", "PrintUsage {\n Media { \"A\" 1.0 }\n", "does not close"},
      {"bad amount", "PrintUsage {\n Media { \"A\" 1,5 }\n}\n", "is not a number"},
      {"nan amount", "PrintUsage {\n Media { \"A\" nan }\n}\n", "is not a number"},
      {"bad count", "PrintUsage {\n InkSet { \"S\" 1 {\n  { \"C\" -5 }\n } }\n}\n",
       "not a whole number"},
      {"bad number", "PrintUsage {\n InkSet { \"S\" one {\n  { \"C\" 5 }\n } }\n}\n",
       "is not a number"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    klv::test::LogCapture log;
    const std::string path = dir.write("bad.Info", c.text);
    CPrintUsage u;
    u.UseMedia("Left over", 1);
    EXPECT_FALSE(u.Load(path.c_str()));
    EXPECT_TRUE(u.GetMediaList().empty());
    EXPECT_TRUE(u.GetInkList().empty());
    EXPECT_EQ(u.GetPath(), path);
    EXPECT_NE(log.Text().find(c.logged), std::string::npos) << log.Text();
  }
  CPrintUsage u;
  EXPECT_FALSE(u.Load(dir.path("missing.Info").c_str()));
  EXPECT_EQ(u.GetPath(), dir.path("missing.Info"));
}

TEST(UsageFile, QuotesEveryNameAndCannotWriteADoubleQuote) {
  CPrintUsage u;
  u.UseMedia("", 1);
  u.UseMedia("Say \"cheese\"", 1);
  const usage_ink_count inks[] = {{"{brace}", 1, 0}, {}};
  const usage_dot_table table{1, inks};
  u.UseInk("", 0, &table);
  EXPECT_EQ(u.Text(),
            "PrintUsage {\n Media { \"\" 1.000000000000000 }\n"
            " Media { \"Say 'cheese'\" 1.000000000000000 }\n"
            " InkSet { \"\" 0 {\n  { \"{brace}\" 1 }\n } }\n}\n");
  ScratchFolder dir;
  ASSERT_TRUE(u.Save(dir.path("q.Info").c_str()));
  CPrintUsage back;
  ASSERT_TRUE(back.Load(dir.path("q.Info").c_str()));
  EXPECT_EQ(back.Text(), u.Text());

  // Names written alike are one entry from the start, so the account reads
  // back as it was written (two inks once became one on the next load).
  CPrintUsage alike;
  const usage_ink_count twins[] = {{"Cyan\"", 3, 0}, {"Cyan'", 4, 0}, {}};
  const usage_dot_table twins_table{1, twins};
  alike.UseInk("Set\"", 1, &twins_table);
  alike.UseInk("Set'", 2, &twins_table);
  alike.UseMedia("Roll\"", 1);
  alike.UseMedia("Roll'", 2);
  EXPECT_EQ(alike.Text(),
            "PrintUsage {\n Media { \"Roll'\" 3.000000000000000 }\n"
            " InkSet { \"Set'\" 1 {\n  { \"Cyan'\" 14 }\n } }\n}\n");
}

TEST(UsageFile, AFailedSaveIsAFailureAndKeepsTheEarlierAccount) {
  ScratchFolder dir;
  CPrintUsage u;
  build_counts(&u);
  {
    klv::test::LogCapture log;
    EXPECT_FALSE(u.Save(dir.path("no/such/folder/PrintUse.Info").c_str()));
    EXPECT_FALSE(u.Save());  // no path remembered
    EXPECT_NE(log.Text().find("no file named"), std::string::npos);
  }
  EXPECT_EQ(dir.entries(), 0u);

  for (klv::test::FullDisk kind : klv::test::full_disk_kinds()) {
    SCOPED_TRACE(klv::test::full_disk_name(kind));
    klv::test::FullFolder full(kind, 4096);
    ASSERT_TRUE(full.Ready());
    const std::string path = full.File("PrintUse.Info");
    const std::string small = "PrintUsage {\n Media { \"A\" 1.000000000000000 }\n}\n";
    ASSERT_TRUE(klv::test::write_text(path, small));
    const int code = full.RunChild([&] {
      CPrintUsage big;
      for (int i = 0; i < 400; ++i) big.UseMedia(("Media number " + std::to_string(i)).c_str(), i);
      return big.Save(path.c_str()) ? 1 : 0;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(read_text(path), small);
    EXPECT_EQ(full.Entries().size(), 1u);  // no temporary left behind
  }
}

TEST(UsageFile, CInterfaceReadsAndAddsLikeTheClass) {
  ScratchFolder dir;
  CPrintUsage* u = printusage_new();
  ASSERT_NE(u, nullptr);
  ASSERT_EQ(printusage_load(u, fixture("usage", "volumes.Info").c_str()), 1);
  EXPECT_EQ(std::string(printusage_path(u)), fixture("usage", "volumes.Info"));
  ASSERT_EQ(printusage_media_count(u), 1);
  const char* name = nullptr;
  double amount = 0;
  ASSERT_EQ(printusage_media(u, 0, &name, &amount), 1);
  EXPECT_STREQ(name, "Glossy Photo");
  EXPECT_EQ(printusage_media(u, 1, &name, &amount), 0);
  int32_t number = 0, inks = 0;
  ASSERT_EQ(printusage_inkset(u, 0, &name, &number, &inks), 1);
  EXPECT_EQ(number, 4);
  EXPECT_EQ(inks, 2);
  uint64_t dots = 0;
  double ml = 0;
  ASSERT_EQ(printusage_ink(u, 0, 0, &name, &dots, &ml), 1);
  EXPECT_STREQ(name, "Cyan");
  EXPECT_EQ(dots, 3000u);
  EXPECT_DOUBLE_EQ(ml, 2.1e-5);
  EXPECT_EQ(printusage_ink(u, 0, 2, &name, &dots, &ml), 0);
  EXPECT_EQ(printusage_use_media(u, "*Tag*Glossy Photo", 1.0), 1);
  ASSERT_EQ(printusage_save(u, dir.path("c.Info").c_str()), 1);
  printusage_reset(u);
  EXPECT_EQ(printusage_media_count(u), 0);
  EXPECT_STREQ(printusage_path(u), "");
  printusage_free(u);

  // Null handles give the neutral results.
  EXPECT_EQ(printusage_load(nullptr, "x"), 0);
  EXPECT_EQ(printusage_save(nullptr, nullptr), 0);
  EXPECT_EQ(printusage_media_count(nullptr), 0);
  EXPECT_EQ(printusage_use_ink(nullptr, "S", 1, nullptr), 0);
  EXPECT_EQ(printusage_add_to_file(dir.path("c.Info").c_str(), nullptr), 0);
  printusage_free(nullptr);
}

}  // namespace
