// SPDX-License-Identifier: MIT
// String lists: elements, deletion, copies and lookups with "?".
#include <gtest/gtest.h>

#include <string>

#include "klv/kernel_stral.h"

namespace {

class StralTest : public ::testing::Test {
 protected:
  void SetUp() override {
    list_ = _stral_new();
    ASSERT_NE(list_, nullptr);
    stral_addv(list_, "Roll", "C:\\Printers\\Roll", (const char*)nullptr);
    stral_addv(list_, "Sheet", "Glossy", "x", (const char*)nullptr);
    stral_addv(list_, "roll", "/srv/roll", (const char*)nullptr);
    stral_addv(list_, "Solo", (const char*)nullptr);
  }
  void TearDown() override { stral_free(list_); }
  SSTRAL* list_ = nullptr;
};

TEST_F(StralTest, Find) {
  struct Case {
    std::vector<const char*> keys;
    int32_t exact;
    int32_t nocase;
  } cases[] = {
      {{"Roll"}, 0, 0},
      {{"roll"}, 2, 0},
      {{"ROLL"}, -1, 0},
      {{"?", "Glossy"}, 1, 1},
      {{"?", "/srv/roll"}, 2, 2},
      {{"Solo", "?"}, -1, -1},  // too few strings
      {{"?"}, 0, 0},
      {{}, 0, 0},  // no keys: the first element
      {{"Sheet", "Glossy", "x"}, 1, 1},
      {{"Missing"}, -1, -1},
  };
  for (const Case& c : cases) {
    int32_t n = static_cast<int32_t>(c.keys.size());
    EXPECT_EQ(stral_find_array(list_, c.keys.data(), n), c.exact)
        << n << " " << (n ? c.keys[0] : "");
    EXPECT_EQ(stral_ifind_array(list_, c.keys.data(), n), c.nocase) << (n ? c.keys[0] : "");
  }
  EXPECT_EQ(stral_find(list_, "?", "Glossy", (const char*)nullptr), 1);
  EXPECT_EQ(stral_find(list_, "roll", (const char*)nullptr), 2);
}

TEST_F(StralTest, AccessAndDelete) {
  // Strings keep their address while the list grows.
  const char* first = stral_str(list_, 0, 0);
  for (int i = 0; i < 1000; ++i) stral_addv(list_, "filler", (const char*)nullptr);
  EXPECT_EQ(stral_str(list_, 0, 0), first);

  int32_t n = 0;
  const char* const* s = stral_get(list_, 1, &n);
  ASSERT_EQ(n, 3);
  EXPECT_STREQ(s[2], "x");
  EXPECT_EQ(s[3], nullptr);
  EXPECT_EQ(stral_size(list_, 3), 1);
  EXPECT_EQ(stral_str(list_, 3, 1), nullptr);
  EXPECT_EQ(stral_get(list_, -1, &n), nullptr);
  EXPECT_EQ(n, 0);

  EXPECT_EQ(stral_del(list_, 0), 1);
  EXPECT_STREQ(stral_str(list_, 0, 0), "Sheet");
  EXPECT_EQ(stral_del(list_, stral_count(list_)), 0);
  EXPECT_EQ(stral_count(list_), 1003);
  stral_clear(list_);
  EXPECT_EQ(stral_count(list_), 0);
}

TEST_F(StralTest, CopyIsIndependent) {
  SSTRAL* copy = _stral_copy(list_);
  ASSERT_NE(copy, nullptr);
  stral_del(list_, 0);
  stral_free(list_);
  list_ = nullptr;
  ASSERT_EQ(stral_count(copy), 4);
  EXPECT_STREQ(stral_str(copy, 0, 1), "C:\\Printers\\Roll");
  stral_free(copy);
}

TEST(Stral, EmptyElementsAndNulls) {
  SSTRAL* list = _stral_new();
  const char* with_null[] = {"a", nullptr, "c"};
  EXPECT_EQ(stral_add(list, with_null, 3), 0);
  EXPECT_STREQ(stral_str(list, 0, 1), "");
  EXPECT_EQ(stral_add(list, nullptr, 0), 1);
  EXPECT_EQ(stral_size(list, 1), 0);
  EXPECT_EQ(stral_get(list, 1, nullptr)[0], nullptr);
  EXPECT_EQ(stral_add(list, nullptr, 2), -1);
  EXPECT_EQ(stral_add(list, with_null, -1), -1);
  stral_free(list);

  EXPECT_EQ(stral_count(nullptr), 0);
  EXPECT_EQ(stral_find(nullptr, "a", (const char*)nullptr), -1);
  EXPECT_EQ(stral_add(nullptr, with_null, 1), -1);
  EXPECT_EQ(stral_del(nullptr, 0), 0);
  EXPECT_EQ(_stral_copy(nullptr), nullptr);
  stral_free(nullptr);
}

}  // namespace
