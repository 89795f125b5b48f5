// SPDX-License-Identifier: MIT
// Memory streams through the O* functions.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "klv/kernel_layers.h"
#include "klv/kernel_stream.h"

namespace {

TEST(MemoryStream, GrowingBlockThroughEveryCall) {
  SFilemux* s = Omemcreate();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(Ofilelen(s), 0);
  EXPECT_EQ(Oprintf(s, "Name { %s }\n", "Demo"), 14);
  EXPECT_EQ(Oputs(s, "second line\nno newline"), 22);
  EXPECT_EQ(OwriteLongSwab(s, 0x11223344u), 1);
  EXPECT_EQ(OwriteShortSwab(s, 0xA1B2u), 1);
  EXPECT_EQ(Otell(s), 42);
  EXPECT_EQ(Ofilelen(s), 42);
  EXPECT_EQ(Oflush(s), 0);

  size_t size = 0;
  const auto* block = static_cast<const unsigned char*>(Omemdata(s, &size));
  ASSERT_EQ(size, 42u);
  EXPECT_EQ(std::memcmp(block, "Name { Demo }\n", 14), 0);
  const unsigned char swabbed[6] = {0x11, 0x22, 0x33, 0x44, 0xA1, 0xB2};
  EXPECT_EQ(std::memcmp(block + 36, swabbed, 6), 0);  // big-endian on disk

  ASSERT_EQ(Oseek(s, 0, SEEK_SET), 0);
  char line[64];
  ASSERT_NE(Ogets(line, sizeof line, s), nullptr);
  EXPECT_STREQ(line, "Name { Demo }\n");
  ASSERT_NE(Ogets(line, 8, s), nullptr);  // a short buffer takes 7 bytes
  EXPECT_STREQ(line, "second ");
  ASSERT_NE(Ogets(line, sizeof line, s), nullptr);
  EXPECT_STREQ(line, "line\n");
  EXPECT_EQ(Oseek(s, 10, SEEK_CUR), 0);
  uint32_t l = 0;
  uint16_t h = 0;
  EXPECT_EQ(OreadLongSwab(s, &l), 1);
  EXPECT_EQ(l, 0x11223344u);
  EXPECT_EQ(OreadShortSwab(s, &h), 1);
  EXPECT_EQ(h, 0xA1B2u);
  EXPECT_EQ(Oeof(s), 0);
  EXPECT_EQ(Ogetc(s), -1);
  EXPECT_EQ(Oeof(s), 1);
  EXPECT_EQ(OreadShortSwab(s, &h), 0);

  // Rewrite in the middle, then write past the end: the gap reads as zeros.
  ASSERT_EQ(Oseek(s, 7, SEEK_SET), 0);
  EXPECT_EQ(Oeof(s), 0);
  EXPECT_EQ(Owrite(s, "Test", 4), 4u);
  ASSERT_EQ(Oseek(s, 8, SEEK_END), 0);
  EXPECT_EQ(Owrite(s, "!", 1), 1u);
  EXPECT_EQ(Ofilelen(s), 51);
  block = static_cast<const unsigned char*>(Omemdata(s, &size));
  EXPECT_EQ(size, 51u);
  EXPECT_EQ(std::memcmp(block, "Name { Test }", 13), 0);
  for (size_t i = 42; i < 50; ++i) EXPECT_EQ(block[i], 0) << i;
  EXPECT_EQ(block[50], '!');

  EXPECT_EQ(Oseek(s, -1, SEEK_SET), -1);
  EXPECT_EQ(Oseek(s, -60, SEEK_END), -1);
  EXPECT_EQ(Otell(s), 51);
  EXPECT_EQ(Oclose(s), 0);
}

TEST(MemoryStream, LargePrintfGrowsTheBlock) {
  SFilemux* s = Omemcreate();
  std::string big(5000, 'x');
  EXPECT_EQ(Oprintf(s, "%s|", big.c_str()), 5001);
  size_t size = 0;
  Omemdata(s, &size);
  EXPECT_EQ(size, 5001u);
  Oclose(s);
}

TEST(MemoryStream, ReadsTheCallersBlockAndRefusesWrites) {
  static const char kText[] = "a\r\nb\n\nlast";
  SFilemux* s = Omemopen(kText, sizeof kText - 1);
  ASSERT_NE(s, nullptr);
  size_t size = 0;
  EXPECT_EQ(Omemdata(s, &size), kText);
  EXPECT_EQ(size, sizeof kText - 1);
  EXPECT_EQ(Owrite(s, "zz", 2), 0u);

  const char* expected[] = {"a\r\n", "b\n", "\n", "last"};
  char line[16];
  for (const char* want : expected) {
    ASSERT_NE(Ogets(line, sizeof line, s), nullptr);
    EXPECT_STREQ(line, want);
  }
  EXPECT_EQ(Ogets(line, sizeof line, s), nullptr);
  EXPECT_EQ(Oeof(s), 1);

  ASSERT_EQ(Oseek(s, -4, SEEK_END), 0);
  char buf[10] = {};
  EXPECT_EQ(Oread(s, buf, sizeof buf), 4u);  // short at the end
  EXPECT_STREQ(buf, "last");
  ASSERT_EQ(Oseek(s, 100, SEEK_SET), 0);  // past the end: reads nothing
  EXPECT_EQ(Oread(s, buf, 1), 0u);
  EXPECT_EQ(Ogetc(s), -1);
  EXPECT_EQ(Oclose(s), 0);
}

TEST(MemoryStream, EmptyAndInvalid) {
  EXPECT_EQ(Omemopen(nullptr, 5), nullptr);
  SFilemux* empty = Omemopen(nullptr, 0);
  ASSERT_NE(empty, nullptr);
  char c;
  EXPECT_EQ(Oread(empty, &c, 1), 0u);
  EXPECT_EQ(Ofilelen(empty), 0);
  Oclose(empty);

  size_t size = 99;
  EXPECT_EQ(Omemdata(nullptr, &size), nullptr);
  EXPECT_EQ(size, 0u);
  // Layers are not memory streams even when they sit on one.
  SFilemux* layer = fencrypt_attach(Omemcreate(), "k");
  size = 99;
  EXPECT_EQ(Omemdata(layer, &size), nullptr);
  EXPECT_EQ(size, 0u);
  Oclose(layer);
}

}  // namespace
