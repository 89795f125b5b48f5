// SPDX-License-Identifier: MIT
// The 32-bit checksum and the file identity.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "klv/kernel_util.h"

namespace {

// With seed s = (i << 24) | ((T[i] >> 24 ^ 1) << 16) and the single byte 0,
// the data step picks T[i] and leaves 1 in the top byte, so folding the
// length 1 picks T[0] = 0: the result is ~(((s << 8) ^ T[i]) << 8). Any other
// word at index i (in any of its bytes) gives another result.
TEST(Ocalccrc, KnownTableWords) {
  struct Word {
    uint32_t index;
    uint32_t value;
  };
  const Word words[] = {{1, 0x22ACC65B}, {2, 0x74499562},   {3, 0x7FB16317},
                        {4, 0xFB1A4022}, {5, 0x065C8FE2},   {6, 0x11BCBBF8},
                        {7, 0x4B1BF557}, {254, 0xA76CDE91}, {255, 0xB187DDB9}};
  const unsigned char zero = 0;
  for (const auto& w : words) {
    SCOPED_TRACE(w.index);
    uint32_t seed = (w.index << 24) | (((w.value >> 24) ^ 1) << 16);
    uint32_t expected = ~((((seed << 8) ^ w.value)) << 8);
    EXPECT_EQ(Ocalccrc_ex(&zero, 1, seed), expected);
  }
  // T[0] is 0: one zero byte from seed 0 leaves c at 0, the length 1 then picks T[1].
  EXPECT_EQ(Ocalccrc(&zero, 1), ~0x22ACC65Bu);
}

// Results stored in files must never change.
TEST(Ocalccrc, PinnedValues) {
  EXPECT_EQ(Ocalccrc("", 0), 0xFFFFFFFFu);
  EXPECT_EQ(Ocalccrc("KlvLib", 0), 0x0D1FF3B2u);
  EXPECT_EQ(Ocalccrc_ex("KlvLib", 6, 0x12345678u), 0xFBCD19EDu);
}

TEST(Ocalccrc, LengthRules) {
  const char text[] = "Glossy Photo~720x1440";
  int32_t len = static_cast<int32_t>(std::strlen(text));
  EXPECT_EQ(Ocalccrc(text, 0), Ocalccrc(text, len));  // 0: counted while hashing
  EXPECT_NE(Ocalccrc(text, len - 1), Ocalccrc(text, len));
  // Negative lengths and null data hash nothing: the complement of the seed.
  EXPECT_EQ(Ocalccrc(text, -1), 0xFFFFFFFFu);
  EXPECT_EQ(Ocalccrc_ex(text, -5, 0x0F0F0F0Fu), 0xF0F0F0F0u);
  EXPECT_EQ(Ocalccrc(nullptr, 10), 0xFFFFFFFFu);
  EXPECT_EQ(Ocalccrc(nullptr, 0), 0xFFFFFFFFu);

  // Zero bytes leave c at 0 (T[0] = 0): only the folded length tells these
  // apart. (With c still 0, a zero low byte of the length is absorbed too, so
  // 1 and 256 zero bytes give the same checksum.)
  std::vector<unsigned char> zeros(70000, 0);
  std::set<uint32_t> seen;
  for (int32_t n : {1, 2, 255, 257, 258, 513, 65537, 69999, 70000})
    seen.insert(Ocalccrc(zeros.data(), n));
  EXPECT_EQ(seen.size(), 9u);
  // The seed carries on from an earlier part.
  EXPECT_NE(Ocalccrc_ex("abc", 3, 1), Ocalccrc_ex("abc", 3, 0));
}

class FileRefId : public ::testing::Test {
 protected:
  void SetUp() override { path_ = testing::TempDir() + "filerefid_" + std::to_string(getpid()); }
  void TearDown() override { std::remove(path_.c_str()); }
  void write_file(const char* text) {
    FILE* f = std::fopen(path_.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs(text, f);
    std::fclose(f);
  }
  void set_mtime(time_t when) {
    struct timeval times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(utimes(path_.c_str(), times), 0);
  }
  std::string path_;
};

TEST_F(FileRefId, StableUntilTheFileChanges) {
  write_file("first");
  set_mtime(1000000000);
  uint32_t id = Ofilerefid(nullptr, path_.c_str(), 0);
  EXPECT_NE(id, 0u);
  EXPECT_EQ(Ofilerefid(nullptr, path_.c_str(), 0), id);
  EXPECT_EQ(Ofilerefid_ex(nullptr, path_.c_str(), 0), id);  // no volume: nothing appended
  // '\' separators name the same file.
  std::string back = path_;
  for (char& c : back)
    if (c == '/') c = '\\';
  EXPECT_EQ(Ofilerefid(nullptr, back.c_str(), 0), id);

  write_file("second, longer");  // new size
  set_mtime(1000000000);
  uint32_t resized = Ofilerefid(nullptr, path_.c_str(), 0);
  EXPECT_NE(resized, id);

  set_mtime(1000000100);  // same size, new time
  EXPECT_NE(Ofilerefid(nullptr, path_.c_str(), 0), resized);
}

TEST_F(FileRefId, MissingFileIsZero) {
  EXPECT_EQ(Ofilerefid(nullptr, path_.c_str(), 0), 0u);
  EXPECT_EQ(Ofilerefid_ex(nullptr, path_.c_str(), 0), 0u);
  EXPECT_EQ(Ofilerefid(nullptr, nullptr, 0), 0u);
  EXPECT_EQ(Ofilerefid(nullptr, "", 0), 0u);
}

}  // namespace
