// SPDX-License-Identifier: MIT
// Keys: their text, the partial comparison, and finding and adding entries
// by them.
#include <gtest/gtest.h>

#include <string>

#include "klv/proflib.h"

namespace {

TEST(ProfLibKeys, ComparisonTable) {
  // a, b, sign of PI_compare_keys(a, b)
  const struct {
    const char* a;
    const char* b;
    int sign;
  } cases[] = {
      {"M~S~4~2~N", "M~S~4~2~N", 0},  // equal
      {"m~s~4~2~n", "M~S~4~2~N", 0},  // letter case ignored
      {"M~~4~2~N", "M~S~4~2~N", 0},   // empty setting matches any
      {"~~~~", "A~B~C~D~E", 0},       // all empty: matches everything
      {"M~", "M~S~4~2~N", 0},         // a with fewer fields: its fields decide
      {"M~S~4~2~N", "M~S~4", 1},      // b runs out first: a is greater
      {"A~S", "B~S", -1},             // first difference decides
      {"M~T~1", "M~S~9", 1},          // ... even when later fields say otherwise
      {"M~S~4~A~N", "M~S~4~2~N", 1},  // types compare as text
      {"M~S~~~Z", "M~S~4~2~A", 1},    // empties skipped, name decides
  };
  for (const auto& c : cases) {
    int r = PI_compare_keys(c.a, c.b);
    EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a << " vs " << c.b;
  }
}

TEST(ProfLibKeys, MakeAndSplit) {
  char key[PL_KEY_MAX];
  ASSERT_TRUE(PI_make_key(key, "Glo~ssy", "720x720", "Screen", 0x1A, "Vivid"));
  EXPECT_STREQ(key, "Glossy~720x720~4~1A~Vivid");  // "~" removed, type in hex
  ASSERT_TRUE(PI_make_key(key, "M", "", "", -1, ""));
  EXPECT_STREQ(key, "M~~~~");
  ASSERT_TRUE(PI_make_model_key(key, "M", "S", "Dye", 3, "N"));
  EXPECT_STREQ(key, "M~S~Dye~3~N");
  ASSERT_TRUE(PI_make_reference_key(key, "M", "S", "T", nullptr));
  EXPECT_STREQ(key, "M~S~T");

  char media[PL_FIELD_MAX], setting[PL_FIELD_MAX], pattern[PL_FIELD_MAX], name[PL_FIELD_MAX];
  int32_t type = 0;
  ASSERT_TRUE(PI_split_key("Glossy~720x720~4~1A~Vivid", media, setting, pattern, &type, name));
  EXPECT_STREQ(media, "Glossy");
  EXPECT_STREQ(pattern, "Screen");
  EXPECT_EQ(type, 0x1A);
  EXPECT_STREQ(name, "Vivid");
  ASSERT_TRUE(PI_split_key("M~S", media, setting, pattern, &type, name));
  EXPECT_EQ(type, -1);
  EXPECT_STREQ(name, "");
  const std::string long_key = std::string(81, 'x') + "~S";
  EXPECT_FALSE(PI_split_key(long_key.c_str(), media, setting, pattern, &type, name));
  EXPECT_FALSE(PI_make_key(key, std::string(81, 'x').c_str(), "", "", 1, ""));
  EXPECT_EQ(PI_map_type("1f"), 0x1f);
  EXPECT_EQ(PI_map_type(""), -1);
  EXPECT_EQ(PI_map_type("zz"), -1);
}

PL_ENTRY* entry(const char* media, const char* setting, int32_t type, const char* name,
                const char* table) {
  PL_ENTRY* e = PL_new_profile_entry();
  PL_set_entry_key(e, media, setting, "Screen", type, name);
  snprintf(e->table, sizeof e->table, "%s", table);
  return e;
}

TEST(ProfLibKeys, FindAddAndRemoveByKey) {
  PL_INDEX* index = PL_index_new();
  const struct {
    const char* media;
    const char* setting;
    const char* table;
  } rows[] = {
      {"B", "720", "b720"}, {"A", "1440", "a1440"}, {"B", "360", "b360"}, {"A", "720", "a720"}};
  for (const auto& r : rows) {
    PL_ENTRY* e = entry(r.media, r.setting, 2, "N", r.table);
    ASSERT_EQ(PL_iadd_profile_entry(index, e), PL_OK);
    PL_free_profile_entry(e);
  }
  // Same key again (other letter case): refused, the index unchanged.
  PL_ENTRY* dup = entry("a", "720", 2, "n", "other");
  EXPECT_EQ(PL_iadd_profile_entry(index, dup), PL_ERR_EXISTS);
  PL_free_profile_entry(dup);

  char table[PL_FILE_MAX];
  // An empty setting: the first entry in key order with the other fields.
  EXPECT_EQ(PL_iget_profile_table(index, "B", "", "Screen", 2, "N", table), PL_OK);
  EXPECT_STREQ(table, "b360");
  EXPECT_EQ(PL_iget_profile_table(index, "A", "720", "Screen", 2, "N", table), PL_OK);
  EXPECT_STREQ(table, "a720");
  // An empty media with the setting given: entries not next to each other.
  EXPECT_EQ(PL_iget_profile_table(index, "", "720", "Screen", 2, "N", table), PL_OK);
  EXPECT_STREQ(table, "a720");
  EXPECT_EQ(PL_iget_profile_table(index, "C", "", "", -1, "", table), PL_ERR_NOT_FOUND);

  SSTRAL* list = nullptr;
  ASSERT_EQ(PL_iget_profile_list(index, "", "", "", -1, &list), PL_OK);
  ASSERT_EQ(stral_count(list), 4);
  EXPECT_STREQ(stral_str(list, 0, 1), "1440");  // A~1440 < A~720 < B~360 < B~720
  EXPECT_STREQ(stral_str(list, 3, 1), "720");
  EXPECT_STREQ(stral_str(list, 3, 0), "B");
  stral_free(list);

  EXPECT_EQ(PL_iremove_profile_entry(index, "B", "", "", -1, ""), PL_OK);  // B~360
  EXPECT_FALSE(PL_iexist_profile_entry(index, "B", "360", "", -1, ""));
  EXPECT_TRUE(PL_iexist_profile_entry(index, "B", "720", "", -1, ""));
  PL_index_free(index);
}

TEST(ProfLibKeys, SharesAndNamedProfiles) {
  PL_INDEX* index = PL_index_new();
  PL_ENTRY* e = entry("Glossy", "720", 2, "Vivid", "T~vivid.icc");
  ASSERT_EQ(PL_iadd_profile_entry(index, e), PL_OK);
  PL_ENTRY* share = PL_new_profile_entry();
  ASSERT_EQ(PL_iadd_profile_share(index, "Glossy", "720", "Screen", 2, "Vivid", "Matte", "720",
                                  "Screen", share),
            PL_OK);
  EXPECT_EQ(share->flags, PL_FLAG_SHARE);
  EXPECT_STREQ(share->table, "T~vivid.icc");
  // A share takes no shares of its own.
  EXPECT_EQ(PL_iadd_profile_share(index, "Matte", "720", "Screen", 2, "Vivid", "X", "720", "Screen",
                                  nullptr),
            PL_ERR_ARGUMENT);

  PL_DEFAULT_ENTRY* d = PL_new_default_entry();
  snprintf(d->media, sizeof d->media, "Glossy");
  snprintf(d->setting, sizeof d->setting, "720");
  snprintf(d->pattern, sizeof d->pattern, "Screen");
  PL_add_default_item(d, 2, "Vivid");
  ASSERT_EQ(PL_iadd_default_entry(index, d), PL_OK);
  char out[PL_FILE_MAX];
  EXPECT_EQ(PL_iget_named_profile(index, "Glossy", "720", "Screen", 2, "", out), PL_OK);
  EXPECT_STREQ(out, "T~vivid.icc");
  // A name without an entry falls back on the default.
  EXPECT_EQ(PL_iget_named_profile(index, "Glossy", "720", "Screen", 2, "Gone", out), PL_OK);
  EXPECT_STREQ(out, "T~vivid.icc");
  EXPECT_EQ(PL_iget_named_profile(index, "Glossy", "720", "Screen", 6, "", out), PL_ERR_NOT_FOUND);

  EXPECT_EQ(PL_update_default_item_type(d, 2, "Soft"), PL_OK);
  EXPECT_EQ(PL_remove_default_item_type(d, 9), PL_ERR_NOT_FOUND);
  ASSERT_EQ(PL_iupdate_default_entry(index, d), PL_OK);
  char name[PL_FIELD_MAX];
  EXPECT_EQ(PL_iget_default_profile(index, "Glossy", "720", "Screen", 2, name), PL_OK);
  EXPECT_STREQ(name, "Soft");
  PL_free_default_entry(d);
  PL_free_profile_entry(share);
  PL_free_profile_entry(e);
  PL_index_free(index);
}

}  // namespace
