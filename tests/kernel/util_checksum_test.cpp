// SPDX-License-Identifier: MIT
// The 32-bit checksum, CRC-32C and the file identity.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "kernel/crc32c.h"
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

// Published CRC-32C values: the usual check string and the four 32-byte
// patterns of the iSCSI standard.
TEST(Crc32c, KnownVectors) {
  std::vector<uint8_t> zeros(32, 0), ones(32, 0xFF), up(32), down(32);
  for (int i = 0; i < 32; ++i) {
    up[i] = static_cast<uint8_t>(i);
    down[i] = static_cast<uint8_t>(31 - i);
  }
  struct Case {
    const char* what;
    const void* data;
    size_t length;
    uint32_t crc;
  };
  const Case cases[] = {
      {"123456789", "123456789", 9, 0xE3069283u}, {"32 zeros", zeros.data(), 32, 0x8A9136AAu},
      {"32 x FF", ones.data(), 32, 0x62A8AB43u},  {"0..31", up.data(), 32, 0x46DD794Eu},
      {"31..0", down.data(), 32, 0x113FDB5Cu},    {"a", "a", 1, 0xC1D04330u}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Ocrc32c(0, c.data, c.length), c.crc);
    EXPECT_EQ(klv::kernel::crc32c_table(0, c.data, c.length), c.crc);
    if (klv::kernel::crc32c_hardware_available()) {
      EXPECT_EQ(klv::kernel::crc32c_hardware(0, c.data, c.length), c.crc);
    }
    if (klv::kernel::crc32c_folding_available()) {
      EXPECT_EQ(klv::kernel::crc32c_folding(0, c.data, c.length), c.crc);
    }
  }
  EXPECT_EQ(Ocrc32c(0x1234u, nullptr, 5), 0x1234u);
  EXPECT_EQ(Ocrc32c(0x1234u, "x", 0), 0x1234u);
}

// The instruction path joins three streams over blocks of 8 KiB and 256
// bytes; the folding path carries 256 bytes at a time from 1 KiB on, then
// single blocks and bytes. Lengths around those sizes, odd starting
// addresses, and a CRC carried on from an earlier part must all give the
// table's values.
TEST(Crc32c, AllPathsAgree) {
  using Fn = uint32_t (*)(uint32_t, const void*, size_t);
  std::vector<std::pair<const char*, Fn>> paths;
  if (klv::kernel::crc32c_hardware_available())
    paths.emplace_back("instruction", klv::kernel::crc32c_hardware);
  if (klv::kernel::crc32c_folding_available())
    paths.emplace_back("folding", klv::kernel::crc32c_folding);
  if (paths.empty()) GTEST_SKIP() << "neither the CRC32 instruction nor VPCLMULQDQ";
  std::vector<uint8_t> data(3 * 8192 * 2 + 3 * 256 * 3 + 64);
  uint32_t x = 12345;
  for (uint8_t& b : data) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(x >> 24);
  }
  const size_t lengths[] = {0,    1,    7,    8,    9,     63,    255,   256,   767,   768,
                            769,  800,  1023, 1024, 1025,  1039,  1040,  1279,  1280,  1281,
                            1535, 4096, 4111, 8192, 24575, 24576, 24577, 25344, 49152, 50000};
  for (const auto& [name, fn] : paths) {
    for (size_t offset : {size_t{0}, size_t{1}, size_t{3}, size_t{8}}) {
      for (size_t length : lengths) {
        if (offset + length > data.size()) continue;
        SCOPED_TRACE(testing::Message() << name << " offset " << offset << " length " << length);
        const uint8_t* p = data.data() + offset;
        const uint32_t expected = klv::kernel::crc32c_table(0, p, length);
        EXPECT_EQ(fn(0, p, length), expected);
        // Carried on: split anywhere, the halves through either path.
        const size_t part = length / 3;
        EXPECT_EQ(fn(klv::kernel::crc32c_table(0, p, part), p + part, length - part), expected);
        EXPECT_EQ(klv::kernel::crc32c_table(fn(0, p, part), p + part, length - part), expected);
      }
    }
  }
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
