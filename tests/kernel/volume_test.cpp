// SPDX-License-Identifier: MIT
// Volumes and their member streams within one process.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <string>

#include "volume_fixture.h"

namespace {

using klv::test::pattern_bytes;
constexpr size_t kChunk = 1 << 20;  // the chunk size of new volumes

class VolumeTest : public klv::test::VolumeFixture {};

// Sizes around chunk boundaries, written and read back in calls of differing
// sizes so that partial chunks, whole aligned chunks and calls that straddle a
// boundary are all exercised.
TEST_F(VolumeTest, MembersRoundTripAcrossChunkBoundaries) {
  struct Case {
    size_t size, write_step, read_step;
  };
  const Case cases[] = {
      {0, 1, 1},
      {1, 1, 7},
      {kChunk - 1, 4093, kChunk},
      {kChunk, kChunk, 4096},
      {kChunk + 1, kChunk, 1},
      {3 * kChunk + 17, kChunk + 3, 65521},
      {2 * kChunk + 5, 3 * kChunk, 3 * kChunk},
  };
  SOVolume* v = VOpen(nullptr, path("v.vol").c_str(), KLV_VOL_CREATE);
  ASSERT_NE(v, nullptr);
  int n = 0;
  for (const Case& c : cases) {
    std::vector<uint8_t> data = pattern_bytes(c.size, n);
    std::string name = "m" + std::to_string(n++);
    SFilemux* f = Ovfopen(v, name.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    for (size_t at = 0; at < c.size; at += c.write_step) {
      size_t len = std::min(c.write_step, c.size - at);
      ASSERT_EQ(Owrite(f, data.data() + at, len), len) << name;
    }
    EXPECT_EQ(Ofileleni64(f), static_cast<int64_t>(c.size));
    ASSERT_EQ(Oclose(f), 0);
  }
  ASSERT_EQ(VClose(v), 0);

  v = VOpen(nullptr, path("v.vol").c_str(), KLV_VOL_READ);
  ASSERT_NE(v, nullptr);
  n = 0;
  for (const Case& c : cases) {
    std::vector<uint8_t> want = pattern_bytes(c.size, n);
    std::string name = "m" + std::to_string(n++);
    SFilemux* f = Ovfopen(v, name.c_str(), "rb");
    ASSERT_NE(f, nullptr) << name;
    ASSERT_EQ(Ofileleni64(f), static_cast<int64_t>(c.size));
    std::vector<uint8_t> got(c.size);
    for (size_t at = 0; at < c.size; at += c.read_step) {
      size_t len = std::min(c.read_step, c.size - at);
      ASSERT_EQ(Oread(f, got.data() + at, len), len) << name << " at " << at;
    }
    EXPECT_TRUE(got == want) << name;
    uint8_t extra;
    EXPECT_EQ(Oread(f, &extra, 1), 0u);
    EXPECT_EQ(Oeof(f), 1);
    EXPECT_EQ(Ogetc(f), -1);
    Oclose(f);
  }
  EXPECT_EQ(VClose(v), 0);
}

TEST_F(VolumeTest, SeekBackwardForwardAndPastTheEnd) {
  SOVolume* v = VOpen(nullptr, path("v.vol").c_str(), KLV_VOL_CREATE);
  ASSERT_NE(v, nullptr);
  SFilemux* f = Ovfopen(v, ".\\data", "w+");
  ASSERT_NE(f, nullptr);
  std::vector<uint8_t> head = pattern_bytes(100);
  ASSERT_EQ(Owrite(f, head.data(), 100), 100u);
  // Writing past the end leaves a zero-filled gap that crosses two chunks.
  const int64_t far = 2 * kChunk + 5;
  ASSERT_EQ(Oseeki64(f, far, SEEK_SET), 0);
  ASSERT_EQ(Owrite(f, "xyz", 3), 3u);
  EXPECT_EQ(Ofileleni64(f), far + 3);
  EXPECT_EQ(Otelli64(f), far + 3);
  // Back into the first chunk: overwrite in place.
  ASSERT_EQ(Oseeki64(f, 50, SEEK_SET), 0);
  ASSERT_EQ(Owrite(f, "AB", 2), 2u);
  EXPECT_EQ(Oseeki64(f, -1, SEEK_SET), -1);
  EXPECT_EQ(Otelli64(f), 52);  // a refused seek does not move
  ASSERT_EQ(Oseeki64(f, -3, SEEK_END), 0);
  EXPECT_EQ(Ogetc(f), 'x');
  ASSERT_EQ(Oseeki64(f, -2, SEEK_CUR), 0);
  EXPECT_EQ(Otelli64(f), far - 1);
  EXPECT_EQ(Ogetc(f), 0);
  ASSERT_EQ(Oclose(f), 0);
  ASSERT_EQ(VClose(v), 0);

  v = VOpen(nullptr, path("v.vol").c_str(), KLV_VOL_READ);
  ASSERT_NE(v, nullptr);
  std::vector<uint8_t> got;
  ASSERT_TRUE(get(v, "data", &got));
  ASSERT_EQ(got.size(), static_cast<size_t>(far + 3));
  head[50] = 'A';
  head[51] = 'B';
  EXPECT_TRUE(std::equal(head.begin(), head.end(), got.begin()));
  EXPECT_TRUE(std::all_of(got.begin() + 100, got.begin() + far, [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(std::memcmp(got.data() + far, "xyz", 3), 0);
  // Reading from a point past the end gives nothing.
  SFilemux* r = Ovfopen(v, "data", "rb");
  ASSERT_EQ(Oseeki64(r, far + 100, SEEK_SET), 0);
  uint8_t b;
  EXPECT_EQ(Oread(r, &b, 1), 0u);
  Oclose(r);
  VClose(v);
}

TEST_F(VolumeTest, UpdateAndAppendModes) {
  SOVolume* v = VOpen(nullptr, path("v.vol").c_str(), KLV_VOL_CREATE);
  ASSERT_NE(v, nullptr);
  ASSERT_TRUE(put(v, "log", {'a', 'b', 'c', 'd'}));
  SFilemux* f = Ovfopen(v, "log", "r+b");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(Ofileleni64(f), 4);  // update keeps the content
  ASSERT_EQ(Oseek(f, 1, SEEK_SET), 0);
  ASSERT_EQ(Owrite(f, "B", 1), 1u);
  Oclose(f);
  f = Ovfopen(v, "log", "ab");
  ASSERT_NE(f, nullptr);
  Oseek(f, 0, SEEK_SET);  // append writes at the end wherever the position is
  ASSERT_EQ(Oputs(f, "ef"), 2);
  Oclose(f);
  std::vector<uint8_t> got;
  ASSERT_TRUE(get(v, "log", &got));
  EXPECT_EQ(std::string(got.begin(), got.end()), "aBcdef");
  f = Ovfopen(v, "log", "wb");  // truncates
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(Ofileleni64(f), 0);
  Oclose(f);
  ASSERT_TRUE(get(v, "log", &got));
  EXPECT_TRUE(got.empty());
  EXPECT_EQ(Ovfopen(v, "missing", "rb"), nullptr);
  EXPECT_EQ(Ovfopen(v, "missing", "r+b"), nullptr);
  VClose(v);
}

// The output image keeps one member per separation open while it writes lines
// to each in turn.
TEST_F(VolumeTest, SeveralMembersOpenAtOnce) {
  SOVolume* v = VOpen(nullptr, path("img.vol").c_str(), KLV_VOL_CREATE);
  ASSERT_NE(v, nullptr);
  constexpr int kSeps = 4;
  constexpr size_t kLine = 70001;  // lines straddle chunk boundaries
  constexpr int kLines = 40;
  SFilemux* seps[kSeps];
  for (int s = 0; s < kSeps; ++s) {
    char name[32];
    std::snprintf(name, sizeof name, "pg%d_sep%d", 0, s);
    seps[s] = Ovfopen(v, name, "wb");
    ASSERT_NE(seps[s], nullptr);
  }
  for (int line = 0; line < kLines; ++line)
    for (int s = 0; s < kSeps; ++s) {
      std::vector<uint8_t> data = pattern_bytes(kLine, line * kSeps + s);
      ASSERT_EQ(Owrite(seps[s], data.data(), kLine), kLine);
    }
  for (SFilemux* f : seps) ASSERT_EQ(Oclose(f), 0);
  ASSERT_EQ(VClose(v), 0);

  v = VOpen(nullptr, path("img.vol").c_str(), KLV_VOL_READ);
  ASSERT_NE(v, nullptr);
  for (int s = 0; s < kSeps; ++s) {
    char name[32];
    std::snprintf(name, sizeof name, "pg0_sep%d", s);
    seps[s] = Ovfopen(v, name, "rb");
    ASSERT_NE(seps[s], nullptr);
  }
  std::vector<uint8_t> got(kLine);
  for (int line = kLines - 1; line >= 0; --line)  // read the lines bottom up
    for (int s = 0; s < kSeps; ++s) {
      ASSERT_EQ(Oseeki64(seps[s], int64_t{line} * kLine, SEEK_SET), 0);
      ASSERT_EQ(Oread(seps[s], got.data(), kLine), kLine);
      ASSERT_TRUE(got == pattern_bytes(kLine, line * kSeps + s)) << line << "/" << s;
    }
  for (SFilemux* f : seps) Oclose(f);
  VClose(v);
}

TEST_F(VolumeTest, MemberNamesIgnoreCaseAndLeadingDotBackslash) {
  SOVolume* v = VOpen(nullptr, path("v.vol").c_str(), KLV_VOL_CREATE);
  ASSERT_NE(v, nullptr);
  ASSERT_TRUE(put(v, ".\\Info", {'1', '2'}));
  for (const char* name : {"Info", "info", "./INFO", ".\\iNfO"}) {
    std::vector<uint8_t> got;
    ASSERT_TRUE(get(v, name, &got)) << name;
    EXPECT_EQ(got.size(), 2u) << name;
    EXPECT_EQ(Ofileexists(v, name, 0), 1) << name;
  }
  // Writing under another spelling replaces the one member, which keeps its
  // first spelling.
  ASSERT_TRUE(put(v, "INFO", {'3'}));
  SFindRec rec;
  ASSERT_EQ(VFindfirst(v, ".\\*", &rec), 1);
  EXPECT_STREQ(rec.name, "Info");
  EXPECT_EQ(rec.size_low, 1u);
  EXPECT_EQ(VFindnext(&rec), 0);
  // Folders: "sub\\a" lives in "sub"; a pattern looks in one folder only.
  ASSERT_EQ(VMakeVDir(v, ".\\Sub"), 1);
  ASSERT_TRUE(put(v, ".\\sub\\A.txt", {'a'}));
  ASSERT_EQ(VFindfirst(v, "SUB\\*.TXT", &rec), 1);
  EXPECT_STREQ(rec.name, "A.txt");
  EXPECT_EQ(VFindnext(&rec), 0);
  EXPECT_EQ(Ofileexists(v, "sub", 0), 0);  // a folder counts only when asked for
  EXPECT_EQ(Ofileexists(v, "sub", KLV_FA_DIR), 1);
  EXPECT_EQ(Ovfopen(v, "sub", "rb"), nullptr);
  // Folders on the way to a new member are made with it, so finds reach it.
  ASSERT_TRUE(put(v, "deep\\er\\m", {'m'}));
  ASSERT_EQ(VFindfirst(v, "deep\\*", &rec), 1);
  EXPECT_STREQ(rec.name, "er");
  EXPECT_EQ(rec.attributes, static_cast<uint32_t>(KLV_FA_DIR));
  Ofindclose(&rec);
  VClose(v);
}

TEST_F(VolumeTest, RemoveRenameAndFind) {
  SOVolume* v = VOpen(nullptr, path("v.vol").c_str(), KLV_VOL_CREATE);
  ASSERT_NE(v, nullptr);
  for (const char* name : {"a.txt", "b.txt", "c.dat", "ab.txt", "pg0_sep0", "pg0_sep1"})
    ASSERT_TRUE(put(v, name, pattern_bytes(10)));
  ASSERT_EQ(VMakeVDir(v, "dir"), 1);
  ASSERT_EQ(VMakeVDir(v, "dir"), 1);    // already there
  ASSERT_EQ(VMakeVDir(v, "a.txt"), 0);  // a file is in the way

  struct Case {
    const char* pattern;
    std::set<std::string> names;
  };
  const Case cases[] = {
      {"*.txt", {"a.txt", "b.txt", "ab.txt"}},
      {".\\?.TXT", {"a.txt", "b.txt"}},
      {"pg0_sep?", {"pg0_sep0", "pg0_sep1"}},
      {"*", {"a.txt", "b.txt", "c.dat", "ab.txt", "pg0_sep0", "pg0_sep1", "dir"}},
      {"*.none", {}},
  };
  for (const Case& c : cases) {
    std::set<std::string> found;
    SFindRec rec;
    for (int more = VFindfirst(v, c.pattern, &rec); more; more = VFindnext(&rec)) {
      found.insert(rec.name);
      EXPECT_NE(rec.file_id, 0u);
      EXPECT_EQ((rec.attributes & KLV_FA_DIR) != 0, std::string(rec.name) == "dir");
    }
    EXPECT_EQ(found, c.names) << c.pattern;
  }
  // Stopping a search early and closing it releases it.
  SFindRec rec;
  ASSERT_EQ(VFindfirst(v, "*", &rec), 1);
  Ofindclose(&rec);
  EXPECT_EQ(rec.search, nullptr);

  EXPECT_EQ(VRename(v, "c.dat", "C2.dat"), 1);
  EXPECT_EQ(Ofileexists(v, "c.dat", 0), 0);
  EXPECT_EQ(Ofileexists(v, "c2.DAT", 0), 1);
  EXPECT_EQ(VRename(v, "b.txt", "a.txt"), 1);  // replaces like a host rename
  EXPECT_EQ(Ofileexists(v, "b.txt", 0), 0);
  EXPECT_EQ(VRename(v, "nothing", "x"), 0);
  EXPECT_EQ(VRemove(v, "C2.DAT"), 1);
  EXPECT_EQ(VRemove(v, "C2.DAT"), 0);
  EXPECT_EQ(Oremovefiles(v, "pg*"), 2);
  EXPECT_EQ(Ofileexists(v, "pg0_sep0", 0), 0);
  // A member that is open cannot be removed.
  SFilemux* f = Ovfopen(v, "a.txt", "rb");
  EXPECT_EQ(VRemove(v, "a.txt"), 0);
  Oclose(f);
  EXPECT_EQ(VRemove(v, "a.txt"), 1);
  // A folder goes only when empty.
  ASSERT_TRUE(put(v, "dir/x", {'x'}));
  EXPECT_EQ(VRemove(v, "dir"), 0);
  EXPECT_EQ(VRemove(v, "dir/x"), 1);
  EXPECT_EQ(VRemove(v, "dir"), 1);
  EXPECT_EQ(VClose(v), 0);
}

TEST_F(VolumeTest, NestedVolumeRoundTrip) {
  SOVolume* outer = VOpen(nullptr, path("outer.vol").c_str(), KLV_VOL_CREATE);
  ASSERT_NE(outer, nullptr);
  ASSERT_TRUE(put(outer, "plain", {'p'}));
  // As the output image does it: an empty member first, then the volume.
  SFilemux* f = Ovfopen(outer, "inner.vol", "w+");
  ASSERT_NE(f, nullptr);
  Oclose(f);
  SOVolume* inner = VOpen(outer, ".\\inner.vol", KLV_VOL_CREATE);
  ASSERT_NE(inner, nullptr);
  EXPECT_EQ(std::string(VGetFName(inner)), path("outer.vol") + "|inner.vol");
  std::vector<uint8_t> data = pattern_bytes(kChunk + 99, 7);
  ASSERT_TRUE(put(inner, ".\\image_info", data));
  // The member is busy while the nested volume is open.
  EXPECT_EQ(VOpen(outer, "inner.vol", KLV_VOL_UPDATE), nullptr);
  EXPECT_EQ(Ovfopen(outer, "inner.vol", "wb"), nullptr);
  ASSERT_EQ(VClose(inner), 0);
  ASSERT_EQ(VClose(outer), 0);

  outer = VOpen(nullptr, path("outer.vol").c_str(), KLV_VOL_READ);
  ASSERT_NE(outer, nullptr);
  EXPECT_EQ(VIsVolume(outer, "inner.vol"), 1);
  EXPECT_EQ(VIsVolume(outer, "plain"), 0);
  // A read-only parent gives read-only nested volumes.
  EXPECT_EQ(VOpen(outer, "inner.vol", KLV_VOL_UPDATE), nullptr);
  inner = VOpen(outer, "INNER.VOL", KLV_VOL_READ);
  ASSERT_NE(inner, nullptr);
  std::vector<uint8_t> got;
  ASSERT_TRUE(get(inner, "image_info", &got));
  EXPECT_TRUE(got == data);
  EXPECT_EQ(VOpen(outer, "plain", KLV_VOL_READ), nullptr);  // not a volume
  EXPECT_EQ(VClose(inner), 0);
  EXPECT_EQ(VClose(outer), 0);
  EXPECT_EQ(VIsVolume(nullptr, path("outer.vol").c_str()), 1);
}

TEST_F(VolumeTest, ReadOnlyVolumeRefusesWrites) {
  SOVolume* v = VOpen(nullptr, path("v.vol").c_str(), KLV_VOL_CREATE);
  ASSERT_TRUE(put(v, "a", {'a'}));
  VClose(v);
  v = VOpen(nullptr, path("v.vol").c_str(), KLV_VOL_READ);
  ASSERT_NE(v, nullptr);
  for (const char* mode : {"wb", "w+", "r+b", "ab", "at"})
    EXPECT_EQ(Ovfopen(v, "a", mode), nullptr) << mode;
  EXPECT_EQ(VRemove(v, "a"), 0);
  EXPECT_EQ(VRename(v, "a", "b"), 0);
  EXPECT_EQ(VMakeVDir(v, "d"), 0);
  EXPECT_EQ(VFlush(v), 1);
  std::vector<uint8_t> got;
  EXPECT_TRUE(get(v, "a", &got));
  EXPECT_EQ(VClose(v), 0);
}

TEST_F(VolumeTest, RefusesFilesThatAreNotVolumes) {
  { std::ofstream(path("text.txt")) << "hello, this is not a database at all\n"; }
  // A real volume cut short after its header.
  SOVolume* v = VOpen(nullptr, path("good.vol").c_str(), KLV_VOL_CREATE);
  ASSERT_TRUE(put(v, "a", pattern_bytes(300000)));
  VClose(v);
  std::filesystem::copy_file(path("good.vol"), path("cut.vol"));
  std::filesystem::resize_file(path("cut.vol"), 100);

  for (int mode : {KLV_VOL_READ, KLV_VOL_UPDATE, KLV_VOL_CREATE}) {
    EXPECT_EQ(VOpen(nullptr, path("text.txt").c_str(), mode), nullptr) << mode;
    EXPECT_EQ(VOpen(nullptr, dir_.c_str(), mode), nullptr) << mode;  // a folder
    SOVolume* cut = VOpen(nullptr, path("cut.vol").c_str(), mode);
    EXPECT_EQ(cut, nullptr) << mode;
    if (cut) VClose(cut);
  }
  EXPECT_EQ(VOpen(nullptr, path("missing.vol").c_str(), KLV_VOL_READ), nullptr);
  EXPECT_EQ(VOpen(nullptr, path("missing.vol").c_str(), KLV_VOL_UPDATE), nullptr);
  EXPECT_EQ(VOpen(nullptr, path("good.vol").c_str(), 3), nullptr);
  EXPECT_EQ(VIsVolume(nullptr, path("text.txt").c_str()), 0);
  EXPECT_EQ(VIsVolume(nullptr, path("good.vol").c_str()), 1);
  // The text file was left as it was.
  EXPECT_EQ(std::filesystem::file_size(path("text.txt")), 37u);
}

TEST_F(VolumeTest, EmptyFileOpensForCreateOnly) {
  SFilemux* f = Ovfopen(nullptr, path("empty.vol").c_str(), "w+");
  ASSERT_NE(f, nullptr);
  Oclose(f);
  EXPECT_EQ(VOpen(nullptr, path("empty.vol").c_str(), KLV_VOL_READ), nullptr);
  EXPECT_EQ(VOpen(nullptr, path("empty.vol").c_str(), KLV_VOL_UPDATE), nullptr);
  SOVolume* v = VOpen(nullptr, path("empty.vol").c_str(), KLV_VOL_CREATE);
  ASSERT_NE(v, nullptr);
  ASSERT_TRUE(put(v, "x", {'x'}));
  ASSERT_EQ(VClose(v), 0);
  // Opening an existing volume for create keeps what it holds.
  v = VOpen(nullptr, path("empty.vol").c_str(), KLV_VOL_CREATE);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(Ofileexists(v, "x", 0), 1);
  VClose(v);
}

TEST_F(VolumeTest, SecondWriterIsRefusedWhileTheFirstHoldsTheVolume) {
  const std::string file = path("lock.vol");
  SOVolume* v = VOpen(nullptr, file.c_str(), KLV_VOL_CREATE);
  ASSERT_TRUE(put(v, "a", {'1'}));
  VClose(v);

  SOVolume* first = VOpen(nullptr, file.c_str(), KLV_VOL_UPDATE);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(VOpen(nullptr, file.c_str(), KLV_VOL_UPDATE), nullptr);
  EXPECT_EQ(VOpen(nullptr, file.c_str(), KLV_VOL_CREATE), nullptr);
  // Readers are welcome and see the last committed state.
  ASSERT_TRUE(put(first, "a", {'2'}));
  SOVolume* reader = VOpen(nullptr, file.c_str(), KLV_VOL_READ);
  ASSERT_NE(reader, nullptr);
  std::vector<uint8_t> got;
  ASSERT_TRUE(get(reader, "a", &got));
  EXPECT_EQ(got, std::vector<uint8_t>{'1'});
  // Committing keeps the lock.
  ASSERT_EQ(VFlush(first), 1);
  EXPECT_EQ(VOpen(nullptr, file.c_str(), KLV_VOL_UPDATE), nullptr);
  ASSERT_TRUE(get(reader, "a", &got));
  EXPECT_EQ(got, std::vector<uint8_t>{'2'});
  EXPECT_EQ(VClose(reader), 0);
  ASSERT_EQ(VClose(first), 0);
  SOVolume* second = VOpen(nullptr, file.c_str(), KLV_VOL_UPDATE);
  ASSERT_NE(second, nullptr);
  VClose(second);
}

TEST_F(VolumeTest, MemberOpenForWritingIsOpenOnce) {
  SOVolume* v = VOpen(nullptr, path("v.vol").c_str(), KLV_VOL_CREATE);
  ASSERT_NE(v, nullptr);
  SFilemux* w = Ovfopen(v, "m", "wb");
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(Ovfopen(v, "M", "wb"), nullptr);
  EXPECT_EQ(Ovfopen(v, "m", "rb"), nullptr);
  Oclose(w);
  SFilemux* r1 = Ovfopen(v, "m", "rb");
  SFilemux* r2 = Ovfopen(v, "m", "rb");
  EXPECT_NE(r1, nullptr);
  EXPECT_NE(r2, nullptr);
  EXPECT_EQ(Ovfopen(v, "m", "r+b"), nullptr);
  Oclose(r1);
  Oclose(r2);
  VClose(v);
}

// Closing a volume under an open member stream saves what the stream holds;
// the stream then fails instead of touching a closed database.
TEST_F(VolumeTest, ClosingTheVolumeFirstSavesOpenMembers) {
  SOVolume* v = VOpen(nullptr, path("v.vol").c_str(), KLV_VOL_CREATE);
  SFilemux* f = Ovfopen(v, "m", "wb");
  ASSERT_EQ(Owrite(f, "hello", 5), 5u);
  EXPECT_EQ(Ovolume(f), v);
  ASSERT_EQ(VClose(v), 0);
  EXPECT_EQ(Owrite(f, "x", 1), 0u);
  EXPECT_EQ(Ovolume(f), nullptr);
  EXPECT_EQ(Oclose(f), -1);
  v = VOpen(nullptr, path("v.vol").c_str(), KLV_VOL_READ);
  std::vector<uint8_t> got;
  ASSERT_TRUE(get(v, "m", &got));
  EXPECT_EQ(std::string(got.begin(), got.end()), "hello");
  VClose(v);
}

TEST(VolumeNullHandles, NeutralResults) {
  EXPECT_EQ(VOpen(nullptr, nullptr, KLV_VOL_READ), nullptr);
  EXPECT_EQ(VClose(nullptr), -1);
  EXPECT_EQ(VGetFName(nullptr), nullptr);
  EXPECT_EQ(VFindnext(nullptr), 0);
  EXPECT_EQ(VIsVolume(nullptr, nullptr), 0);
  EXPECT_EQ(Ofindfirst(nullptr, "*", 0, nullptr), 0);
  Ofindclose(nullptr);
  EXPECT_EQ(Oremovefiles(nullptr, nullptr), -1);
}

}  // namespace
