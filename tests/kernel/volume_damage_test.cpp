// SPDX-License-Identifier: MIT
// Damaged volumes: changed bytes anywhere in the file, and rows changed behind
// the library's back, never give a reader changed member bytes without an
// error; VCheck names what is wrong.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include "volume_fixture.h"

namespace {

using klv::test::check_volume;
using klv::test::Finding;
using klv::test::LogToFile;
using klv::test::pattern_bytes;
using klv::test::query_text;
using klv::test::run_sql;

constexpr size_t kChunk = 1 << 20;

struct Member {
  const char* name;
  std::vector<uint8_t> data;
};

// Members across chunk boundaries, small ones, an empty one and one written
// with a gap (zeros stored as empty chunks) before its data.
std::vector<Member> sample_members() {
  std::vector<Member> members = {{"big", pattern_bytes(kChunk + kChunk / 2 + 100, 1)},
                                 {"small", pattern_bytes(1000, 2)},
                                 {"dir/tiny", {'a', 'b', 'c'}},
                                 {"empty", {}},
                                 {"sparse", std::vector<uint8_t>(2 * kChunk + 40, 0)}};
  std::vector<uint8_t> tail = pattern_bytes(30, 3);
  std::copy(tail.begin(), tail.end(), members[4].data.begin() + 2 * kChunk + 10);
  return members;
}

std::vector<uint8_t> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

class VolumeDamageTest : public klv::test::VolumeFixture {
 protected:
  void make_original(const std::string& file) {
    SOVolume* v = VOpen(nullptr, file.c_str(), KLV_VOL_CREATE);
    ASSERT_NE(v, nullptr);
    for (const Member& m : members_) {
      if (std::strcmp(m.name, "sparse") == 0) {
        // Written past the end: the two chunks before the data are a gap.
        SFilemux* f = Ovfopen(v, m.name, "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(Oseeki64(f, 2 * kChunk + 10, SEEK_SET), 0);
        ASSERT_EQ(Owrite(f, m.data.data() + 2 * kChunk + 10, 30), 30u);
        ASSERT_EQ(Oclose(f), 0);
      } else {
        ASSERT_TRUE(put(v, m.name, m.data)) << m.name;
      }
    }
    ASSERT_EQ(VClose(v), 0);
  }

  // What a reader gets from one member of a (possibly damaged) volume.
  enum class Outcome { kIntact, kFailed, kChanged };
  static Outcome read_member(SOVolume* v, const Member& m, std::string* why) {
    SFilemux* f = Ovfopen(v, m.name, "rb");
    if (!f) return Outcome::kFailed;
    const int64_t length = Ofileleni64(f);
    // Asks for more than the original holds, so that a member grown by the
    // damage shows too.
    std::vector<uint8_t> got(m.data.size() + 64);
    const size_t n = Oread(f, got.data(), got.size());
    Oclose(f);
    const bool prefix_equal =
        n <= m.data.size() && std::equal(got.begin(), got.begin() + n, m.data.begin());
    if (n == m.data.size() && length == static_cast<int64_t>(n) && prefix_equal)
      return Outcome::kIntact;
    // A read that stops short of the length the member claims is a failure
    // reported to the caller; the bytes it did give must still be the original.
    if (static_cast<int64_t>(n) < length && prefix_equal) return Outcome::kFailed;
    *why = std::string(m.name) + ": length " + std::to_string(length) + ", read " +
           std::to_string(n) + " of " + std::to_string(m.data.size()) +
           (prefix_equal ? "" : ", bytes differ");
    return Outcome::kChanged;
  }

  std::vector<Member> members_ = sample_members();
};

// Copies of a volume with 1 to 16 bytes changed: anywhere in the file, in the
// pages that hold the database's structure (b-tree pages, member rows, the
// local part of each chunk's record), and in the pages that hold chunk data.
// Each copy either fails to open, or fails to read a damaged member, or reads
// the original bytes; never other bytes without an error.
TEST_F(VolumeDamageTest, DamagedCopiesNeverReadChangedBytes) {
  const std::string original_path = path("original.vol");
  make_original(original_path);
  const std::vector<uint8_t> original = read_file(original_path);
  const size_t page = 65536;
  ASSERT_EQ(original.size() % page, 0u);

  // Structure pages hold little; data pages are full of the members' bytes.
  std::vector<size_t> structure_bytes, data_bytes;
  for (size_t start = 0; start < original.size(); start += page) {
    const size_t used = static_cast<size_t>(std::count_if(
        original.begin() + start, original.begin() + start + page, [](uint8_t b) { return b; }));
    for (size_t i = start; i < start + page; ++i) {
      if (used < page / 2 && original[i] != 0)
        structure_bytes.push_back(i);
      else if (used >= page / 2)
        data_bytes.push_back(i);
    }
  }
  ASSERT_FALSE(structure_bytes.empty());
  ASSERT_FALSE(data_bytes.empty());

  LogToFile quiet("/dev/null");
  int opened_none = 0, failed_reads = 0, intact = 0, structure_faults = 0;
  std::vector<std::string> changed;
  const int kSeeds = 300;
  for (int seed = 0; seed < kSeeds; ++seed) {
    std::mt19937 rng(static_cast<uint32_t>(seed) * 7919u + 17u);
    std::vector<uint8_t> copy = original;
    const int count = 1 + static_cast<int>(rng() % 16);
    for (int i = 0; i < count; ++i) {
      size_t at = 0;
      switch (seed % 3) {
        case 0:
          at = rng() % copy.size();
          break;
        case 1: {
          // Near a byte in use: its neighbours are headers and cell fields.
          const size_t base = structure_bytes[rng() % structure_bytes.size()];
          at = std::min(copy.size() - 1, base - std::min<size_t>(base, rng() % 9) + rng() % 9);
          break;
        }
        default:
          at = data_bytes[rng() % data_bytes.size()];
          break;
      }
      copy[at] ^= static_cast<uint8_t>(1 + rng() % 255);
    }
    const std::string file = path("damaged-" + std::to_string(seed) + ".vol");
    write_file(file, copy);
    SOVolume* v = VOpen(nullptr, file.c_str(), KLV_VOL_READ);
    if (!v) {
      ++opened_none;
    } else {
      bool any_failed = false;
      for (const Member& m : members_) {
        std::string why;
        switch (read_member(v, m, &why)) {
          case Outcome::kIntact:
            ++intact;
            break;
          case Outcome::kFailed:
            ++failed_reads;
            any_failed = true;
            break;
          case Outcome::kChanged:
            changed.push_back("seed " + std::to_string(seed) + ": " + why);
            break;
        }
      }
      // Whatever a reader trips over, the whole-volume check finds too.
      int faults = 0;
      std::vector<Finding> findings = check_volume(v, &faults);
      if (any_failed) {
        EXPECT_GT(faults, 0) << "seed " << seed;
      }
      for (const Finding& f : findings) structure_faults += f.fault && f.member.empty();
      VClose(v);
    }
    std::remove(file.c_str());
    std::remove((file + "-journal").c_str());
  }
  EXPECT_TRUE(changed.empty()) << changed.size()
                               << " members read changed, first: " << changed.front();
  // The damage must have been noticed often, and reads that it missed
  // (bytes in unused space) must have happened too.
  EXPECT_GT(failed_reads + opened_none, kSeeds / 3);
  EXPECT_GT(intact, 0);
  // SQLite's own check of the file's structure took part.
  EXPECT_GT(structure_faults, 0);
}

TEST_F(VolumeDamageTest, ChangedChunkFailsTheReadWithOneLogLine) {
  const std::string file = path("v.vol");
  make_original(file);
  // One byte in the middle of the second chunk of "big".
  std::vector<uint8_t> bytes = read_file(file);
  const std::vector<uint8_t>& big = members_[0].data;
  const size_t offset = kChunk + 5000;
  auto where =
      std::search(bytes.begin(), bytes.end(), big.begin() + offset, big.begin() + offset + 64);
  ASSERT_NE(where, bytes.end());
  *where ^= 0x10;
  write_file(file, bytes);

  LogToFile log(path("log.txt"));
  SOVolume* v = VOpen(nullptr, file.c_str(), KLV_VOL_READ);
  ASSERT_NE(v, nullptr);
  // Whole chunks straight into the caller's buffer: the first chunk comes,
  // the second does not.
  SFilemux* f = Ovfopen(v, "big", "rb");
  ASSERT_NE(f, nullptr);
  std::vector<uint8_t> got(big.size());
  EXPECT_EQ(Oread(f, got.data(), got.size()), kChunk);
  EXPECT_TRUE(std::equal(got.begin(), got.begin() + kChunk, big.begin()));
  // The stream stays failed.
  EXPECT_EQ(Oread(f, got.data(), 1), 0u);
  Oclose(f);
  // Small reads go through the chunk buffer and stop at the same chunk.
  f = Ovfopen(v, "big", "rb");
  ASSERT_NE(f, nullptr);
  size_t total = 0;
  for (size_t n; (n = Oread(f, got.data() + total, 4096)) > 0;) total += n;
  EXPECT_EQ(total, kChunk);
  Oclose(f);
  // Other members read as before.
  std::vector<uint8_t> small;
  EXPECT_TRUE(get(v, "small", &small));
  EXPECT_TRUE(small == members_[1].data);

  const std::string text = log.text();
  const std::string line = "volume \"" + file +
                           "\": member \"big\": chunk 1 does not match its "
                           "checksum; the member is damaged";
  EXPECT_NE(text.find(line), std::string::npos) << text;

  int faults = 0;
  std::vector<Finding> findings = check_volume(v, &faults);
  EXPECT_EQ(faults, 1);
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].member, "big");
  EXPECT_EQ(findings[0].text, "chunk 1 does not match its checksum");
  EXPECT_EQ(VClose(v), 0);
}

// Rows changed by a program that bypasses the library (or by damage that
// SQLite's structure checks let through).
TEST_F(VolumeDamageTest, RowsChangedBehindTheLibrary) {
  const std::string original = path("original.vol");
  make_original(original);
  const std::string big = "(SELECT id FROM members WHERE name='big')";
  const std::string sparse = "(SELECT id FROM members WHERE name='sparse')";
  struct Case {
    const char* what;
    std::string sql;
    const char* member;
    const char* finding;
  };
  const Case cases[] = {
      {"size shortened", "UPDATE members SET size=size-1 WHERE name='small'", "small",
       "its row (name, size, time) does not match its check"},
      {"size grown", "UPDATE members SET size=size+5000 WHERE name='small'", "small",
       "its row (name, size, time) does not match its check"},
      {"row check dropped", "UPDATE members SET row_crc=NULL WHERE name='small'", "small",
       "its row (name, size, time) has no check"},
      {"chunks swapped",
       "UPDATE chunks SET idx=-1 WHERE idx=0 AND member=" + big +
           ";UPDATE chunks SET idx=0 WHERE idx=1 AND member=" + big +
           ";UPDATE chunks SET idx=1 WHERE idx=-1 AND member=" + big,
       "big", "chunk 0 does not match its checksum"},
      {"chunk removed", "DELETE FROM chunks WHERE idx=1 AND member=" + big, "big",
       "chunk 1 is missing"},
      {"gap chunk removed", "DELETE FROM chunks WHERE idx=0 AND member=" + sparse, "sparse",
       "chunk 0 is missing"},
      {"gap removed", "DELETE FROM chunks WHERE idx<2 AND member=" + sparse, "sparse",
       "chunks 0 to 1 are missing"},
      {"chunk emptied", "UPDATE chunks SET data=x'' WHERE idx=1 AND member=" + big, "big",
       "chunk 1 does not match its checksum"},
      {"checksum dropped", "UPDATE chunks SET crc=NULL WHERE idx=0 AND member=" + big, "big",
       "chunk 0 carries no checksum"},
  };
  LogToFile quiet("/dev/null");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string file = path("tampered.vol");
    std::filesystem::copy_file(original, file, std::filesystem::copy_options::overwrite_existing);
    ASSERT_TRUE(run_sql(file, c.sql.c_str()));
    SOVolume* v = VOpen(nullptr, file.c_str(), KLV_VOL_READ);
    ASSERT_NE(v, nullptr);
    for (const Member& m : members_) {
      std::string why;
      Outcome outcome = read_member(v, m, &why);
      EXPECT_EQ(outcome, m.name == std::string(c.member) ? Outcome::kFailed : Outcome::kIntact)
          << m.name << " " << why;
    }
    int faults = 0;
    std::vector<Finding> findings = check_volume(v, &faults);
    ASSERT_FALSE(findings.empty());
    EXPECT_EQ(faults, static_cast<int>(findings.size()));
    EXPECT_EQ(findings[0].text, c.finding);
    for (const Finding& f : findings) {
      EXPECT_EQ(f.member, c.member);
      EXPECT_TRUE(f.fault);
    }
    VClose(v);
  }
}

// A changed chunk size would put every chunk at another offset; the chunk
// checksums cover it, so every member with data fails instead.
TEST_F(VolumeDamageTest, ChangedChunkSizeFailsEveryRead) {
  const std::string file = path("v.vol");
  make_original(file);
  ASSERT_TRUE(run_sql(file, "UPDATE volume_info SET value=value+4096 WHERE key='chunk_size'"));
  LogToFile quiet("/dev/null");
  SOVolume* v = VOpen(nullptr, file.c_str(), KLV_VOL_READ);
  ASSERT_NE(v, nullptr);
  for (const Member& m : members_) {
    std::string why;
    EXPECT_EQ(read_member(v, m, &why), m.data.empty() ? Outcome::kIntact : Outcome::kFailed)
        << m.name << " " << why;
  }
  VClose(v);
}

TEST_F(VolumeDamageTest, SoundVolumeChecksClean) {
  EXPECT_EQ(VCheck(nullptr, nullptr, nullptr), -1);
  const std::string file = path("v.vol");
  make_original(file);
  SOVolume* v = VOpen(nullptr, file.c_str(), KLV_VOL_UPDATE);
  ASSERT_NE(v, nullptr);
  int faults = -1;
  EXPECT_TRUE(check_volume(v, &faults).empty());
  EXPECT_EQ(faults, 0);
  ASSERT_EQ(VClose(v), 0);
  // The gap of "sparse" is stored as two empty chunks.
  EXPECT_EQ(query_text(file,
                       "SELECT group_concat(n) FROM (SELECT length(data) AS n FROM chunks"
                       " WHERE member=(SELECT id FROM members WHERE name='sparse')"
                       " ORDER BY idx)"),
            "0,0,40");
}

}  // namespace
