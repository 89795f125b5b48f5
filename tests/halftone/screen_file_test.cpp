// SPDX-License-Identifier: MIT
// Screen files: threshold array loading, the C record loaders, per-colour
// screen files and writing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "klv/halftone.h"
#include "klv/halftone_thresh.h"

namespace {

namespace fs = std::filesystem;

class ScreenFileTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        fs::temp_directory_path() / ("klv_screen_" + std::to_string(::getpid()) + "_" +
                                     testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A screen file with `planes` planes; plane p holds (i + p) % (w*h) at index i.
  std::string Write(const std::string& name, int w, int h, int max, int planes,
                    const char* magic = "HSCR") {
    std::vector<uint16_t> data;
    for (int p = 0; p < planes; ++p)
      for (int i = 0; i < w * h; ++i) data.push_back(uint16_t((i + p) % (w * h)));
    std::string path = (dir_ / name).string();
    EXPECT_EQ(save_htwscreen_file(path.c_str(), data.data(), w, h, planes, max), 1);
    if (std::string(magic) != "HSCR") {
      std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
      f.write(magic, 4);
    }
    return path;
  }
  fs::path dir_;
};

TEST_F(ScreenFileTest, ArrayScalesToLevelsAndNeverReachesTheTop) {
  // 4x4, header maximum 0: values scale by 16. The value 16 cannot occur, but
  // 15 maps to (15 * L + 8) / 16.
  std::string path = Write("a.hts", 4, 4, 0, 2);
  CHTThreshArray<unsigned short> a;
  ASSERT_TRUE(a.Load(path.c_str(), 0, 0));
  ASSERT_EQ(a.count, 2u);
  EXPECT_EQ(a.levels, 17u) << "levels 0 takes the file maximum + 1";
  EXPECT_EQ(a.tables[0].rows[3][3], 15);
  EXPECT_EQ(a.tables[1].rows[0][0], 1);
  EXPECT_EQ(a.tables[1].rows[3][3], 0);
  CHTThreshArray<unsigned short> b;
  ASSERT_TRUE(b.Load(path.c_str(), 1, 2048));
  EXPECT_EQ(b.tables[0].rows[3][3], (15 * 2047 + 8) / 16);
  // Header maximum 10: the value 10 is the top (L) and becomes L - 1.
  std::string top = Write("top.hts", 11, 1, 10, 1);
  CHTThreshArray<unsigned char> c;
  ASSERT_TRUE(c.Load(top.c_str(), 1, 0));
  EXPECT_EQ(c.levels, 256u);
  EXPECT_EQ(c.tables[0].rows[0][10], 254) << "a value of M maps to L - 1";
  EXPECT_EQ(c.tables[0].rows[0][5], (5 * 255 + 5) / 10);
}

TEST_F(ScreenFileTest, ScreensBeyondThePlanesReuseAPlaneAtADrawnPhase) {
  std::string path = Write("p.hts", 5, 3, 0, 4);
  CHTThreshArray<unsigned short> a;
  ASSERT_TRUE(a.Load(path.c_str(), 6, 0));
  ASSERT_EQ(a.count, 6u);
  auto values = [](const CHTThreshTable<unsigned short>& t) {
    std::vector<int> v;
    for (int r = 0; r < t.height; ++r) v.insert(v.end(), t.rows[r], t.rows[r] + t.width);
    return v;
  };
  // Screens 4 and 5 are plane 3 moved by whole rows and columns.
  std::vector<int> p3 = values(a.tables[3]);
  for (int s : {4, 5}) {
    bool found = false;
    for (int rp = 0; rp < 3 && !found; ++rp)
      for (int cp = 0; cp < 5 && !found; ++cp) {
        bool same = true;
        for (int r = 0; r < 3; ++r)
          for (int c = 0; c < 5; ++c)
            same &= a.tables[s].rows[(r + rp) % 3][(c + cp) % 5] == a.tables[3].rows[r][c];
        found = same;
      }
    EXPECT_TRUE(found) << "screen " << s;
  }
  // The phase comes from a fixed seed per screen: a second load, whatever the
  // process-wide generator holds, gives the same thresholds.
  std::srand(12345);
  CHTThreshArray<unsigned short> again;
  ASSERT_TRUE(again.Load(path.c_str(), 6, 0));
  for (int s : {4, 5}) EXPECT_EQ(values(again.tables[s]), values(a.tables[s])) << "screen " << s;
  // With one plane every further screen, screen 3 included, reuses plane 0.
  std::string one = Write("one.hts", 5, 3, 0, 1);
  CHTThreshArray<unsigned char> b;
  ASSERT_TRUE(b.Load(one.c_str(), 4, 0));
  auto sorted = [](std::vector<int> v) {
    std::sort(v.begin(), v.end());
    return v;
  };
  CHTThreshArray<unsigned short> c;
  ASSERT_TRUE(c.Load(one.c_str(), 4, 0));
  for (int s = 1; s < 4; ++s) EXPECT_EQ(sorted(values(c.tables[s])), sorted(values(c.tables[0])));
  (void)p3;
}

TEST_F(ScreenFileTest, BadFilesFail) {
  std::string good = Write("g.hts", 4, 4, 0, 1);
  std::string magic = Write("m.hts", 4, 4, 0, 1, "XSCR");
  std::string lower = Write("l.hts", 4, 4, 0, 1, "hscr");
  std::string shortplane = (dir_ / "s.hts").string();
  fs::copy_file(good, shortplane);
  fs::resize_file(shortplane, 20 + 31);
  std::string header = (dir_ / "h.hts").string();
  fs::copy_file(good, header);
  fs::resize_file(header, 19);
  CHTThreshArray<unsigned short> a;
  EXPECT_TRUE(a.Load(lower.c_str(), 0, 0)) << "the magic ignores letter case";
  for (const std::string& p : {magic, shortplane, header, (dir_ / "missing.hts").string()}) {
    EXPECT_FALSE(a.Load(p.c_str(), 0, 0)) << p;
    EXPECT_EQ(a.count, 0u);
    EXPECT_EQ(load_htwscreen(1, 100, p.c_str()), nullptr) << p;
  }
  // Asking for more planes than the record loaders can find fails cleanly.
  EXPECT_EQ(load_htwscreen(3, 100, good.c_str()), nullptr);
  EXPECT_EQ(load_htwscreen(0, 100, good.c_str()), nullptr);
  EXPECT_EQ(load_htwscreen(14, 100, good.c_str()), nullptr);
  EXPECT_EQ(free_htscreen(nullptr), nullptr);
  EXPECT_EQ(HTThreshFree(static_cast<CHTThreshArray<unsigned char>*>(nullptr)), 0);
}

TEST_F(ScreenFileTest, RecordLoadersMapThroughTables) {
  std::string path = Write("r.hts", 4, 4, 0, 4);
  // Identity table scaled to 255: s = (v * 255 + 8) / 16 and the threshold is
  // the first i with s <= T[i + 1], here s - 1; invert gives 255 - t, never 0.
  htscreen* s = load_lntb_htscreen(nullptr, 0, 5, 255, 0, path.c_str());
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->count, 5);
  EXPECT_EQ(s->widths[4], 4);
  EXPECT_EQ(s->rows[0][3], 12);
  auto* d0 = static_cast<uint8_t*>(s->data[0]);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(d0[i], std::max(0, (i * 255 + 8) / 16 - 1));
  free_htscreen(s);
  htscreen* inv = load_lntb_htscreen(nullptr, 0, 1, 255, 1, path.c_str());
  ASSERT_NE(inv, nullptr);
  EXPECT_EQ(static_cast<uint8_t*>(inv->data[0])[0], 255);
  free_htscreen(inv);

  // A table that is flat over the first half: 16-bit thresholds start the step.
  std::vector<uint16_t> table(256);
  for (int i = 0; i < 256; ++i) table[i] = uint16_t(i < 128 ? 0 : (i - 128) * 512);
  htscreen* w = load_lntb_htwscreen(table.data(), 1, 1, 65535, 0, path.c_str());
  ASSERT_NE(w, nullptr);
  auto* wd = static_cast<uint16_t*>(w->data[0]);
  EXPECT_EQ(wd[0], 0);
  int64_t s8 = (8 * 65535LL + 8) / 16;  // file value 8
  int i = 128;
  while (s8 > table[i + 1]) ++i;
  EXPECT_EQ(wd[8], i * 256 + (s8 - table[i]) * 255 / (table[i + 1] - table[i]));
  free_htwscreen(w);

  htscreen* lin = load_htwscreen(2, 1000, path.c_str());
  ASSERT_NE(lin, nullptr);
  EXPECT_EQ(static_cast<uint16_t*>(lin->data[1])[15], (0 * 1000 + 8) / 16);
  EXPECT_EQ(static_cast<uint16_t*>(lin->data[1])[0], (1 * 1000 + 8) / 16);
  free_htwscreen(lin);
}

TEST_F(ScreenFileTest, PerColourScreenFiles) {
  for (int i = 0; i < 4; ++i) {
    std::ofstream f(dir_ / ("HTSCRN" + std::to_string(i) + ".SCR"), std::ios::binary);
    const unsigned char bytes[] = {2, 2, 255, 254, 0, uint8_t(10 + i)};
    f.write(reinterpret_cast<const char*>(bytes), sizeof bytes);
  }
  std::string old = std::getenv("KLV_PATH") ? std::getenv("KLV_PATH") : "";
  setenv("KLV_PATH", dir_.c_str(), 1);
  htscreen* s = load_htscreen();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->count, 4);
  auto* d = static_cast<uint8_t*>(s->data[3]);
  EXPECT_EQ(d[0], 1) << "255 becomes 0, then 1";
  EXPECT_EQ(d[1], 1);
  EXPECT_EQ(d[2], 255);
  EXPECT_EQ(d[3], 255 - 13);
  free_htscreen(s);
  fs::resize_file(dir_ / "HTSCRN2.SCR", 5);
  EXPECT_EQ(load_htscreen(), nullptr);
  setenv("KLV_PATH", old.c_str(), 1);
}

}  // namespace
