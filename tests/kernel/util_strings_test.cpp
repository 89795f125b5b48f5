// SPDX-License-Identifier: MIT
// String helpers: bounded joining and case-insensitive comparisons.
#include <gtest/gtest.h>

#include <cstring>

#include "klv/kernel_util.h"

namespace {

TEST(Ostrcpyncat, JoinsWithinTheLimit) {
  char key[81];
  EXPECT_EQ(Ostrcpyncat(key, 80, "ImgICC", "~", "1a2b3c", "~", "sRGB", "~", "icc",
                        static_cast<const char*>(nullptr)),
            key);
  EXPECT_STREQ(key, "ImgICC~1a2b3c~sRGB~icc");

  struct Case {
    size_t max;
    const char* a;
    const char* b;
    const char* expected;
  };
  // "é" is two bytes, "€" three: a cut never leaves half of one.
  const Case cases[] = {
      {5, "abc", "def", "abcde"},
      {6, "abc", "def", "abcdef"},
      {0, "abc", "def", ""},
      {3, "abc", "def", "abc"},
      {4, "ab\xC3\xA9", "x", "ab\xC3\xA9"},
      {3, "ab\xC3\xA9", "x", "ab"},
      {4, "a", "\xE2\x82\xAC", "a\xE2\x82\xAC"},
      {3, "a", "\xE2\x82\xAC", "a"},
      {2, "a", "\xE2\x82\xAC", "a"},
      {2, "\x80\x80\x80\x80", "", "\x80\x80"},  // stray continuation bytes are single bytes
      {10, "", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    char buf[16];
    std::memset(buf, 'Z', sizeof buf);
    Ostrcpyncat(buf, c.max, c.a, c.b, static_cast<const char*>(nullptr));
    EXPECT_STREQ(buf, c.expected);
    EXPECT_EQ(buf[c.max + 1], 'Z');  // nothing written past max + 1 bytes
  }
  EXPECT_EQ(Ostrcpyncat(nullptr, 5, "a", static_cast<const char*>(nullptr)), nullptr);
  char one[1];
  Ostrcpyncat(one, 0, static_cast<const char*>(nullptr));
  EXPECT_EQ(one[0], '\0');
}

int sign(int32_t v) {
  return (v > 0) - (v < 0);
}

TEST(Ostricmp, CaseInsensitiveOrder) {
  struct Case {
    const char* a;
    const char* b;
    int expected;
  };
  const Case cases[] = {
      {"Roll", "roll", 0},
      {"ROLL", "rolls", -1},
      {"abc", "ABD", -1},
      {"b", "A", 1},
      {"", "", 0},
      {"", "a", -1},
      {"a_", "A[", 1},  // '_' > '[' once folded
      {nullptr, nullptr, 0},
      {nullptr, "", -1},
      {"", nullptr, 1},
      {"\xC3\x89t\xC3\xA9", "\xC3\x89T\xC3\xA9", 0},  // non-ASCII bytes compare as they are
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.a ? c.a : "(null)") << " / " << (c.b ? c.b : "(null)"));
    EXPECT_EQ(sign(Ostricmp(c.a, c.b)), c.expected);
    EXPECT_EQ(sign(Ostricmp(c.b, c.a)), -c.expected);
    EXPECT_EQ(sign(Ostricmp_mb(c.a, c.b)), c.expected);
  }
  EXPECT_EQ(Ostrnicmp("GlossyA", "glossyB", 6), 0);
  EXPECT_LT(Ostrnicmp("GlossyA", "glossyB", 7), 0);
  EXPECT_EQ(Ostrnicmp("ab", "AB", 10), 0);
  EXPECT_EQ(Ostrnicmp("x", "y", 0), 0);
}

TEST(Ostricmp_mb, ComparesWholeCharacters) {
  struct Case {
    const char* a;
    const char* b;
    int expected;
  };
  const Case cases[] = {
      {"Caf\xC3\xA9", "CAF\xC3\xA9", 0},
      {"\xC3\xA9", "\xC3\x89", 1},         // é and É differ: only ASCII letters fold
      {"a\xC3\xA9", "a\xE2\x82\xAC", -1},  // U+00E9 before U+20AC
      {"\xF0\x9F\x98\x80", "\xE2\x82\xAC", 1},
      {"\xC3", "\xC3\xA9", 1},  // a cut character is a byte of its own, after every character
      {"\xFF", "\xF4\x8F\xBF\xBF", 1},
      {"x\xC3(", "X\xC3(", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.a);
    EXPECT_EQ(sign(Ostricmp_mb(c.a, c.b)), c.expected);
    EXPECT_EQ(sign(Ostricmp_mb(c.b, c.a)), -c.expected);
  }
}

}  // namespace
