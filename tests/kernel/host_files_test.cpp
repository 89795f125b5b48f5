// SPDX-License-Identifier: MIT
// Host file helpers on the host file system and across volumes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <set>

#include "volume_fixture.h"

namespace {

using klv::test::pattern_bytes;

class HostFilesTest : public klv::test::VolumeFixture {
 protected:
  void write_file(const std::string& name, const std::vector<uint8_t>& data) {
    std::ofstream out(path(name), std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
  }
  std::vector<uint8_t> read_file(const std::string& name) {
    std::ifstream in(path(name), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }
};

// Host to volume, volume to volume, volume to another volume's nested
// volume's parent, and back to the host: the bytes survive every leg.
TEST_F(HostFilesTest, CopyBetweenHostAndVolumesInEveryDirection) {
  const std::vector<uint8_t> data = pattern_bytes(2 * (1 << 20) + 333, 5);
  write_file("src.bin", data);
  SOVolume* a = VOpen(nullptr, path("a.vol").c_str(), KLV_VOL_CREATE);
  SOVolume* b = VOpen(nullptr, path("b.vol").c_str(), KLV_VOL_CREATE);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  ASSERT_EQ(Ocopyfile(nullptr, path("src.bin").c_str(), a, ".\\one"), 1);
  ASSERT_EQ(Ocopyfile(a, "one", a, "two"), 1);
  ASSERT_EQ(Ocopyfile(a, "TWO", b, "three"), 1);
  ASSERT_EQ(Ocopyfile(b, "three", nullptr, (dir_ + "\\out.bin").c_str()), 1);
  EXPECT_TRUE(read_file("out.bin") == data);
  // Copying over an existing file replaces it.
  write_file("small.bin", {'s'});
  ASSERT_EQ(Ocopyfile(nullptr, path("small.bin").c_str(), a, "two"), 1);
  std::vector<uint8_t> got;
  ASSERT_TRUE(get(a, "two", &got));
  EXPECT_EQ(got, std::vector<uint8_t>{'s'});
  // A missing source fails and leaves the target as it was.
  EXPECT_EQ(Ocopyfile(nullptr, path("none").c_str(), nullptr, path("out.bin").c_str()), 0);
  EXPECT_TRUE(read_file("out.bin") == data);
  EXPECT_EQ(Ocopyfile(a, "none", a, "one"), 0);
  ASSERT_TRUE(get(a, "one", &got));
  EXPECT_TRUE(got == data);
  // No temporary names are left behind.
  SFindRec rec;
  std::set<std::string> names;
  for (int more = Ofindfirst(a, "*", 0, &rec); more; more = Ofindnext(&rec)) names.insert(rec.name);
  EXPECT_EQ(names, (std::set<std::string>{"one", "two"}));
  EXPECT_EQ(VClose(a), 0);
  EXPECT_EQ(VClose(b), 0);
  names.clear();
  for (int more = Ofindfirst(nullptr, path("*").c_str(), 0, &rec); more; more = Ofindnext(&rec))
    names.insert(rec.name);
  EXPECT_EQ(names, (std::set<std::string>{"a.vol", "b.vol", "out.bin", "small.bin", "src.bin"}));
}

TEST_F(HostFilesTest, FindOnTheHost) {
  write_file("One.TXT", pattern_bytes(1234));
  write_file("two.txt", {});
  write_file("three.dat", {});
  write_file(".hidden.txt", {});
  write_file("job [1].txt", {});
  ASSERT_EQ(VMakeVDir(nullptr, path("sub.txt").c_str()), 1);

  struct Case {
    const char* pattern;
    uint32_t attributes;
    std::set<std::string> names;
  };
  const Case cases[] = {
      {"*.txt", 0, {"One.TXT", "two.txt", "job [1].txt"}},
      {"*.TXT", KLV_FA_DIR, {"One.TXT", "two.txt", "job [1].txt", "sub.txt"}},
      {"*.txt", KLV_FA_HIDDEN, {"One.TXT", "two.txt", "job [1].txt", ".hidden.txt"}},
      {"t??.*", 0, {"two.txt"}},
      {"job [1].txt", 0, {"job [1].txt"}},  // brackets are plain characters
      {"*.none", 0, {}},
  };
  for (const Case& c : cases) {
    std::set<std::string> found;
    SFindRec rec;
    std::string pattern = dir_ + "\\" + c.pattern;
    for (int more = Ofindfirst(nullptr, pattern.c_str(), c.attributes, &rec); more;
         more = Ofindnext(&rec))
      found.insert(rec.name);
    EXPECT_EQ(found, c.names) << c.pattern;
  }
  SFindRec rec;
  ASSERT_EQ(Ofindfirst(nullptr, path("one.txt").c_str(), 0, &rec), 1);
  struct stat st;
  ASSERT_EQ(stat(path("One.TXT").c_str(), &st), 0);
  EXPECT_EQ(rec.size_low, 1234u);
  EXPECT_EQ(rec.size_high, 0u);
  EXPECT_EQ(rec.file_id, static_cast<uint32_t>(st.st_ino));
  EXPECT_EQ(rec.time_write, static_cast<uint32_t>(st.st_mtime));
  EXPECT_EQ(rec.attributes, static_cast<uint32_t>(KLV_FA_NORMAL));
  Ofindclose(&rec);
  EXPECT_EQ(Ofindfirst(nullptr, path("nowhere/*").c_str(), 0, &rec), 0);
}

TEST_F(HostFilesTest, ExistsRemoveAndRenameOnTheHost) {
  write_file("a.tmp", {'a'});
  write_file("b.tmp", {'b'});
  write_file("keep.dat", {'k'});
  EXPECT_EQ(Ofileexists(nullptr, path("a.tmp").c_str(), 0), 1);
  EXPECT_EQ(Ofileexists(nullptr, (dir_ + "\\a.tmp").c_str(), 0), 1);
  EXPECT_EQ(Ofileexists(nullptr, dir_.c_str(), 0), 0);
  EXPECT_EQ(Ofileexists(nullptr, dir_.c_str(), KLV_FA_DIR), 1);
  EXPECT_EQ(Ofileexists(nullptr, path("none").c_str(), 0), 0);
  EXPECT_EQ(Orename(nullptr, path("a.tmp").c_str(), path("c.tmp").c_str()), 1);
  EXPECT_EQ(Ofileexists(nullptr, path("a.tmp").c_str(), 0), 0);
  EXPECT_EQ(Oremovefiles(nullptr, path("*.TMP").c_str()), 2);
  EXPECT_EQ(Oremovefiles(nullptr, path("*.tmp").c_str()), 0);
  EXPECT_EQ(Ofileexists(nullptr, path("keep.dat").c_str(), 0), 1);
  EXPECT_EQ(Oremove(nullptr, path("keep.dat").c_str()), 1);
  EXPECT_EQ(Oremove(nullptr, path("keep.dat").c_str()), 0);
}

}  // namespace
