// SPDX-License-Identifier: MIT
// klvrip vol check: its exit status and what it prints, for a sound volume, a
// damaged member, a damaged member of a volume inside a volume, and a file
// that is no volume.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "klv/kernel.h"
#include "support/files.h"

namespace {

class VolCheck : public ::testing::Test {
 protected:
  std::string path(const char* name) const { return scratch_.path(name); }

  // Runs "klvrip vol check FILE"; its exit status, with the output in *out.
  int run(const std::string& file, std::string* out) {
    const std::string log = scratch_.path("out.txt");
    const std::string cmd = std::string(KLVRIP_PATH) + " vol check " + file + " > " + log + " 2>&1";
    const int st = std::system(cmd.c_str());
    std::ifstream in(log);
    std::stringstream s;
    s << in.rdbuf();
    *out = s.str();
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }

  static bool put(SOVolume* v, const char* name, const std::vector<char>& data) {
    SFilemux* f = Ovfopen(v, name, "wb");
    if (!f) return false;
    const bool ok = Owrite(f, data.data(), data.size()) == data.size();
    return Oclose(f) == 0 && ok;
  }

  // A volume with one member of `bytes` bytes.
  static bool make(const std::string& file, const char* member, size_t bytes) {
    SOVolume* v = VOpen(nullptr, file.c_str(), KLV_VOL_CREATE);
    if (!v) return false;
    std::vector<char> data(bytes);
    for (size_t i = 0; i < bytes; ++i) data[i] = static_cast<char>(i * 13 + 5);
    const bool ok = put(v, member, data);
    return VClose(v) == 0 && ok;
  }

  // Changes the checksum of a member's first chunk behind the library.
  static bool spoil(const std::string& file, const char* member) {
    sqlite3* db = nullptr;
    const std::string sql =
        std::string(
            "UPDATE chunks SET crc=crc+1 WHERE idx=0 AND member=(SELECT id FROM members"
            " WHERE name='") +
        member + "')";
    bool ok = sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
              sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK &&
              sqlite3_changes(db) == 1;
    sqlite3_close_v2(db);
    return ok;
  }

  klv::test::ScratchFolder scratch_{"volcheck"};
};

TEST_F(VolCheck, SoundDamagedAndNested) {
  const std::string outer = path("outer.vol"), inner = path("inner.vol");
  ASSERT_TRUE(make(inner, "x", 5000));
  ASSERT_TRUE(make(outer, "a", 3000));
  std::string out;
  EXPECT_EQ(run(outer, &out), 0) << out;
  EXPECT_EQ(out, outer + ": sound\n");

  // A volume inside the volume, with a damaged member of its own.
  ASSERT_TRUE(spoil(inner, "x"));
  std::ifstream in(inner, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  SOVolume* v = VOpen(nullptr, outer.c_str(), KLV_VOL_UPDATE);
  ASSERT_NE(v, nullptr);
  ASSERT_TRUE(put(v, "inner.vol", bytes));
  ASSERT_EQ(VClose(v), 0);
  EXPECT_EQ(run(outer, &out), 1) << out;
  EXPECT_NE(out.find(outer + "|inner.vol: x: chunk 0 does not match its checksum\n"),
            std::string::npos)
      << out;

  ASSERT_TRUE(spoil(outer, "a"));
  EXPECT_EQ(run(outer, &out), 1) << out;
  EXPECT_NE(out.find(outer + ": a: chunk 0 does not match its checksum\n"), std::string::npos)
      << out;
  EXPECT_NE(out.find(outer + ": damaged (2 faults)\n"), std::string::npos) << out;

  { std::ofstream(path("text.txt")) << "not a volume\n"; }
  EXPECT_EQ(run(path("text.txt"), &out), 1) << out;
  EXPECT_NE(out.find("cannot be opened as a volume"), std::string::npos) << out;
}

}  // namespace
