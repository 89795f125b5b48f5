// SPDX-License-Identifier: MIT
// The index member's text, written byte for byte, read back, and the reader's
// answers to old and malformed sections.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/files.h"
#include "klv/proflib.h"
#include "support/log_capture.h"

namespace {

using klv::test::ScratchFolder;

struct EntryDeleter {
  void operator()(PL_ENTRY* e) const { PL_free_profile_entry(e); }
};
using EntryPtr = std::unique_ptr<PL_ENTRY, EntryDeleter>;
struct IndexDeleter {
  void operator()(PL_INDEX* i) const { PL_index_free(i); }
};
using IndexPtr = std::unique_ptr<PL_INDEX, IndexDeleter>;
struct DefaultDeleter {
  void operator()(PL_DEFAULT_ENTRY* e) const { PL_free_default_entry(e); }
};
using DefaultPtr = std::unique_ptr<PL_DEFAULT_ENTRY, DefaultDeleter>;

EntryPtr entry(const char* media, const char* setting, const char* pattern, int32_t type,
               const char* name, const char* owner, uint32_t flags, const char* table,
               const char* readings) {
  EntryPtr e(PL_new_profile_entry());
  PL_set_entry_key(e.get(), media, setting, pattern, type, name);
  snprintf(e->owner, sizeof e->owner, "%s", owner);
  e->flags = flags;
  snprintf(e->table, sizeof e->table, "%s", table);
  snprintf(e->readings, sizeof e->readings, "%s", readings);
  return e;
}

// The index of the fixture index_written.txt.
IndexPtr sample_index() {
  IndexPtr index(PL_index_new());
  EntryPtr vivid =
      entry("Glossy Photo", "720x720", "Screen", 2, "Vivid", "KLV", 0, "T~Glossy.icc", "");
  vivid->shares = _stral_new();
  stral_addv(vivid->shares, "Plain Paper", "720x720", "Screen", nullptr);
  EXPECT_EQ(PL_iadd_profile_entry(index.get(), vivid.get()), PL_OK);
  EntryPtr bare =
      entry("Glossy Photo", "720x720", "Screen", 6, "Vivid", "", PL_FLAG_SHARE, "", "R~x.rdg");
  EXPECT_EQ(PL_iadd_profile_entry(index.get(), bare.get()), PL_OK);

  DefaultPtr glossy(PL_new_default_entry());
  snprintf(glossy->media, sizeof glossy->media, "Glossy Photo");
  snprintf(glossy->setting, sizeof glossy->setting, "720x720");
  snprintf(glossy->pattern, sizeof glossy->pattern, "Screen");
  PL_add_default_item(glossy.get(), 2, "Vivid");
  PL_add_default_item(glossy.get(), 6, "");
  EXPECT_EQ(PL_iadd_default_entry(index.get(), glossy.get()), PL_OK);
  DefaultPtr plain(PL_new_default_entry());
  snprintf(plain->media, sizeof plain->media, "Plain Paper");
  PL_add_default_item(plain.get(), 2, "Plain One");
  EXPECT_EQ(PL_iadd_default_entry(index.get(), plain.get()), PL_OK);

  EntryPtr model = entry("Glossy Photo", "720x720", "Dye", 10, "Model 1", "", 0x1f, "M~a.mdl", "");
  model->shares = _stral_new();
  stral_addv(model->shares, "Plain Paper", "720x720", "Dye", nullptr);
  EXPECT_EQ(PL_iadd_model_entry(index.get(), model.get()), PL_OK);
  return index;
}

TEST(ProfLibIndexText, WritesTheFixtureByteForByteAndReadsItBack) {
  ScratchFolder dir("proflib");
  IndexPtr index = sample_index();
  const std::string first = dir.path("first.txt"), second = dir.path("second.txt");
  ASSERT_EQ(PL_index_save(nullptr, first.c_str(), index.get()), PL_OK);
  const std::string expected =
      klv::test::read_text(klv::test::fixture("proflib", "index_written.txt"));
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(klv::test::read_text(first), expected);

  // Read back and written again: the same bytes, and every value kept.
  IndexPtr again(PL_index_load(nullptr, first.c_str()));
  ASSERT_TRUE(again);
  ASSERT_EQ(PL_index_save(nullptr, second.c_str(), again.get()), PL_OK);
  EXPECT_EQ(klv::test::read_text(second), expected);

  EntryPtr got(PL_new_profile_entry());
  ASSERT_EQ(PL_iget_profile_entry(again.get(), "Glossy Photo", "720x720", "Screen", 6, "Vivid",
                                  got.get()),
            PL_OK);
  EXPECT_STREQ(got->owner, "");
  EXPECT_STREQ(got->table, "");
  EXPECT_STREQ(got->readings, "R~x.rdg");
  EXPECT_EQ(got->flags, PL_FLAG_SHARE);
  EXPECT_STREQ(got->pattern, "Screen");
  char name[PL_FIELD_MAX];
  EXPECT_EQ(PL_iget_default_profile(again.get(), "Glossy Photo", "720x720", "Screen", 6, name),
            PL_OK);
  EXPECT_STREQ(name, "");
  EXPECT_EQ(PL_iget_default_profile(again.get(), "Plain Paper", "", "", 2, name), PL_OK);
  EXPECT_STREQ(name, "Plain One");
  ASSERT_EQ(PL_iget_model_entry(again.get(), "Glossy Photo", "", "", -1, "", got.get()), PL_OK);
  EXPECT_STREQ(got->pattern, "Dye");
  EXPECT_EQ(got->type, 10);
  EXPECT_EQ(got->flags, 0x1fu);
  ASSERT_EQ(stral_count(got->shares), 1);
  EXPECT_STREQ(stral_str(got->shares, 0, 0), "Plain Paper");
}

// An empty value between others keeps its place: a writer that quoted only
// values with blanks dropped it, and the reader then took the next value for
// it and failed the whole section.
TEST(ProfLibIndexText, EmptyValuesKeepTheirPlace) {
  IndexPtr index(PL_index_new());
  EntryPtr e = entry("M", "S", "", 2, "N", "", 0, "", "readings.rdg");
  ASSERT_EQ(PL_iadd_profile_entry(index.get(), e.get()), PL_OK);
  ScratchFolder dir("proflib");
  const std::string file = dir.path("index.txt");
  ASSERT_EQ(PL_index_save(nullptr, file.c_str(), index.get()), PL_OK);
  EXPECT_NE(klv::test::read_text(file).find("{ M~S~~2~N \"0\" \"\" \"\" readings.rdg }"),
            std::string::npos);
  IndexPtr back(PL_index_load(nullptr, file.c_str()));
  ASSERT_TRUE(back);
  EntryPtr got(PL_new_profile_entry());
  ASSERT_EQ(PL_iget_profile_entry(back.get(), "M", "S", "", 2, "N", got.get()), PL_OK);
  EXPECT_STREQ(got->readings, "readings.rdg");
}

IndexPtr parse(const std::string& text) {
  return IndexPtr(PL_index_parse(text.data(), static_cast<int32_t>(text.size())));
}

TEST(ProfLibIndexText, OldProfilesTakeTheirTypeFromTheFlags) {
  // Version 0: no type in the key, no owner field; flags 2 -> type 6.
  IndexPtr index = parse(
      "Profiles {\n{ \"Glossy Photo~720x720~4~Vivid\" \"2\" T~a.icc \"\" { Plain~720x720~4 } "
      "extra { more } }\n}\n");
  ASSERT_TRUE(index);
  EntryPtr got(PL_new_profile_entry());
  ASSERT_EQ(PL_iget_profile_entry(index.get(), "Glossy Photo", "", "", -1, "", got.get()), PL_OK);
  EXPECT_EQ(got->type, 6);
  EXPECT_EQ(got->flags, 0u);
  EXPECT_STREQ(got->owner, "KELV");
  EXPECT_STREQ(got->table, "T~a.icc");
  ASSERT_EQ(stral_count(got->shares), 1);
  EXPECT_STREQ(stral_str(got->shares, 0, 0), "Plain");

  // Flags whose low bits are 4 name no type: the section fails.
  klv::test::LogCapture log;
  EXPECT_FALSE(parse("Profiles {\n{ M~S~4~N \"4\" a b }\n}\n"));
}

TEST(ProfLibIndexText, MalformedSectionsFailTheWholeIndex) {
  const std::string long_field(81, 'm');
  const struct {
    const char* what;
    std::string text;
  } cases[] = {
      {"key field of 81 characters",
       "Profiles {\nVersion { 1 }\n{ " + long_field + "~S~4~2~N \"0\" o t r }\n}\n"},
      {"group cut short", "Profiles {\nVersion { 1 }\n{ M~S~4~2~N \"0\" o }\n}\n"},
      {"flags not hexadecimal", "Profiles {\nVersion { 1 }\n{ M~S~4~2~N zz o t r }\n}\n"},
      {"stray word", "Defaults {\nVersion { 1 }\nword\n}\n"},
      {"default item without name", "Defaults {\nVersion { 1 }\n{ M~S~4 2 }\n}\n"},
      {"section not closed", "Models {\nVersion { 0 }\n{ M~S~T~2~N \"0\" o t r }\n"},
      {"bad version", "Profiles {\nVersion { x }\n}\n"},
  };
  klv::test::LogCapture log;
  for (const auto& c : cases) EXPECT_FALSE(parse(c.text)) << c.what;
  // A field of 80 characters is fine.
  EXPECT_TRUE(parse("Profiles {\nVersion { 1 }\n{ " + long_field.substr(1) +
                    "~S~4~2~N \"0\" o t r }\n}\n"));
  // Missing sections are empty.
  EXPECT_TRUE(parse(""));
}

}  // namespace
