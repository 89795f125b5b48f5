// SPDX-License-Identifier: MIT
// Volumes made before chunk checksums: they read as before, and the first
// open for writing adds the checks, which chunks written from then on carry.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "volume_fixture.h"

namespace {

using klv::test::check_volume;
using klv::test::Finding;
using klv::test::LogToFile;
using klv::test::pattern_bytes;
using klv::test::query_text;
using klv::test::run_sql;

constexpr int kChunk = 4096;

class VolumeLegacyTest : public klv::test::VolumeFixture {
 protected:
  // A volume as the library wrote it before checks: "old" in three chunks,
  // "gap" with only its last chunk stored (the two before read as zeros).
  void make_old_volume(const std::string& file) {
    ASSERT_TRUE(
        run_sql(file,
                "PRAGMA page_size=4096;"
                "CREATE TABLE volume_info(key TEXT PRIMARY KEY, value);"
                "CREATE TABLE members(id INTEGER PRIMARY KEY,"
                " name TEXT NOT NULL UNIQUE COLLATE NOCASE, is_dir INTEGER NOT NULL DEFAULT 0,"
                " size INTEGER NOT NULL DEFAULT 0, mtime INTEGER NOT NULL DEFAULT 0);"
                "CREATE TABLE chunks(member INTEGER NOT NULL, idx INTEGER NOT NULL,"
                " data BLOB NOT NULL, PRIMARY KEY(member, idx));"
                "INSERT INTO volume_info VALUES('chunk_size', 4096);"
                "INSERT INTO members VALUES(1, 'old', 0, 10000, 1000000000);"
                "INSERT INTO members VALUES(2, 'gap', 0, 9000, 1000000000);"
                "INSERT INTO members VALUES(3, 'folder', 1, 0, 1000000000);"));
    for (int i = 0; i < 3; ++i) {
      const int begin = i * kChunk, end = std::min(10000, begin + kChunk);
      std::vector<uint8_t> part(old_.begin() + begin, old_.begin() + end);
      const std::string insert = "INSERT INTO chunks VALUES(1, " + std::to_string(i) + ", ?1)";
      ASSERT_TRUE(run_sql(file, insert.c_str(), {part}));
    }
    ASSERT_TRUE(run_sql(file, "INSERT INTO chunks VALUES(2, 2, ?1)",
                        {std::vector<uint8_t>(gap_.begin() + 2 * kChunk, gap_.end())}));
  }

  std::vector<uint8_t> old_ = pattern_bytes(10000, 4);
  std::vector<uint8_t> gap_ = [] {
    std::vector<uint8_t> v(9000, 0);
    std::vector<uint8_t> tail = pattern_bytes(9000 - 2 * kChunk, 5);
    std::copy(tail.begin(), tail.end(), v.begin() + 2 * kChunk);
    return v;
  }();
};

TEST_F(VolumeLegacyTest, ReadsUncheckedAndGainsChecksWhenWritten) {
  const std::string file = path("old.vol");
  make_old_volume(file);

  // Read as it is: nothing changes in the file.
  SOVolume* v = VOpen(nullptr, file.c_str(), KLV_VOL_READ);
  ASSERT_NE(v, nullptr);
  std::vector<uint8_t> got;
  ASSERT_TRUE(get(v, "old", &got));
  EXPECT_TRUE(got == old_);
  ASSERT_TRUE(get(v, "gap", &got));
  EXPECT_TRUE(got == gap_);
  int faults = -1;
  std::vector<Finding> findings = check_volume(v, &faults);
  EXPECT_EQ(faults, 0);
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].member, "");
  EXPECT_FALSE(findings[0].fault);
  EXPECT_EQ(VClose(v), 0);
  EXPECT_EQ(query_text(file, "SELECT count(*) FROM volume_info"), "1");

  // Written: the columns come, every row is sealed, new chunks carry a crc.
  v = VOpen(nullptr, file.c_str(), KLV_VOL_UPDATE);
  ASSERT_NE(v, nullptr);
  const std::vector<uint8_t> fresh = pattern_bytes(5000, 6);
  ASSERT_TRUE(put(v, "new", fresh));
  SFilemux* f = Ovfopen(v, "old", "r+b");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(Oseek(f, 100, SEEK_SET), 0);
  ASSERT_EQ(Owrite(f, "0123456789", 10), 10u);
  ASSERT_EQ(Oclose(f), 0);
  std::copy_n("0123456789", 10, old_.begin() + 100);
  ASSERT_EQ(VClose(v), 0);

  EXPECT_EQ(query_text(file, "SELECT value FROM volume_info WHERE key='checksums'"), "partial");
  EXPECT_EQ(query_text(file, "SELECT count(*) FROM members WHERE row_crc IS NULL"), "0");
  EXPECT_EQ(query_text(file,
                       "SELECT group_concat(x) FROM (SELECT member || ':' || idx AS x"
                       " FROM chunks WHERE crc IS NOT NULL ORDER BY member, idx)"),
            "1:0,4:0,4:1");

  v = VOpen(nullptr, file.c_str(), KLV_VOL_READ);
  ASSERT_NE(v, nullptr);
  ASSERT_TRUE(get(v, "old", &got));
  EXPECT_TRUE(got == old_);
  ASSERT_TRUE(get(v, "gap", &got));
  EXPECT_TRUE(got == gap_);
  ASSERT_TRUE(get(v, "new", &got));
  EXPECT_TRUE(got == fresh);
  findings = check_volume(v, &faults);
  EXPECT_EQ(faults, 0);
  ASSERT_EQ(findings.size(), 3u);
  EXPECT_EQ(findings[1].member, "gap");
  EXPECT_EQ(findings[1].text, "1 of 3 chunks carry no checksum (written before checksums)");
  EXPECT_EQ(findings[2].member, "old");
  EXPECT_EQ(findings[2].text, "2 of 3 chunks carry no checksum (written before checksums)");
  EXPECT_EQ(VClose(v), 0);

  // A chunk written since is checked.
  ASSERT_TRUE(run_sql(file, "UPDATE chunks SET data=zeroblob(100) WHERE member=4 AND idx=1"));
  LogToFile quiet("/dev/null");
  v = VOpen(nullptr, file.c_str(), KLV_VOL_READ);
  ASSERT_NE(v, nullptr);
  EXPECT_FALSE(get(v, "new", &got));
  EXPECT_EQ(VClose(v), 0);
}

// The setting and the columns must agree: a volume that claims checks its
// tables lack, or has one column without the other, is damaged.
TEST_F(VolumeLegacyTest, ChecksClaimedButMissingRefuseToOpen) {
  const struct {
    const char* what;
    const char* sql;
  } cases[] = {
      {"setting without columns", "INSERT INTO volume_info VALUES('checksums', 'all')"},
      {"one column", "ALTER TABLE chunks ADD COLUMN crc INTEGER"},
      {"unknown setting",
       "ALTER TABLE chunks ADD COLUMN crc INTEGER; ALTER TABLE members ADD COLUMN row_crc;"
       "INSERT INTO volume_info VALUES('checksums', 'some')"},
  };
  LogToFile quiet("/dev/null");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string file = path(std::string(c.what) + ".vol");
    make_old_volume(file);
    ASSERT_TRUE(run_sql(file, c.sql));
    EXPECT_EQ(VOpen(nullptr, file.c_str(), KLV_VOL_READ), nullptr);
    EXPECT_EQ(VOpen(nullptr, file.c_str(), KLV_VOL_UPDATE), nullptr);
  }
}

}  // namespace
