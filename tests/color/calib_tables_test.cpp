// SPDX-License-Identifier: MIT
// Binary calibration chunks: layouts against hand-made fixtures, round trips
// of every kind, and hostile files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "klv/calib.h"
#include "klv/kernel.h"

namespace {

namespace fs = std::filesystem;

const std::string kData = std::string(KLV_TEST_DATA) + "/calib/";

std::vector<uint8_t> file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// A stream over a fixture file.
struct Fixture {
  explicit Fixture(const char* name) : s(Ovfopen(nullptr, (kData + name).c_str(), "rb")) {}
  ~Fixture() { Oclose(s); }
  SFilemux* s;
};

// A growing memory stream and its bytes.
struct Memory {
  Memory() : s(Omemcreate()) {}
  ~Memory() { Oclose(s); }
  std::vector<uint8_t> bytes() const {
    size_t n = 0;
    auto* p = static_cast<const uint8_t*>(Omemdata(s, &n));
    return {p, p + n};
  }
  SFilemux* s;
};

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24);
}

TEST(CalibLntb, ReadsFixtureSteppingOverOtherChunks) {
  for (int bits : {16, 8, 11}) {
    Fixture f("lntb_two_channels.bin");
    ASSERT_NE(f.s, nullptr);
    uint16_t** t = nullptr;
    int32_t count = 0;
    ASSERT_EQ(read_lntb(f.s, bits, &t, &count), 1) << bits;
    ASSERT_EQ(count, 2);
    for (int i = 0; i < 256; ++i) {
      EXPECT_EQ(t[0][i], (i * 257) >> (16 - bits)) << bits << " " << i;
      EXPECT_EQ(t[1][i], (65535 - i * 257) >> (16 - bits)) << bits << " " << i;
    }
    if (bits == 8) {
      EXPECT_EQ(t[1][0], 255) << "0xFFFF at 8 bits";
    }
    free_lntb(t, count);
  }
}

TEST(CalibLntb, WriterMatchesFixtureBytes) {
  // The fixture's LNTB chunk is its last 8 + 1 + 2 * 512 bytes.
  std::vector<uint8_t> fixture = file_bytes(kData + "lntb_two_channels.bin");
  std::vector<uint8_t> want(fixture.end() - (9 + 1024), fixture.end());
  uint16_t** t = alloc_lntb(2);
  for (int i = 0; i < 256; ++i) {
    t[0][i] = uint16_t(i * 257);
    t[1][i] = uint16_t(65535 - i * 257);
  }
  Memory m;
  ASSERT_EQ(write_lntb(m.s, t, 2), 1);
  EXPECT_EQ(m.bytes(), want);

  Memory one;
  ASSERT_EQ(write_lntb(one.s, t, 1), 1);
  std::vector<uint8_t> b = one.bytes();
  ASSERT_EQ(b.size(), 8u + 513u);
  EXPECT_EQ(le32(b, 4), 513u) << "one channel: count byte and 512 table bytes";
  EXPECT_EQ(Otell(one.s), 521) << "the writer returns to the end";
  free_lntb(t, 2);
}

TEST(CalibDntb, ReadsReversedInvertedBytes) {
  Fixture f("dntb_four_channels.bin");
  uint16_t** t = nullptr;
  ASSERT_EQ(read_dntb(f.s, 16, &t), 1);
  for (int j = 0; j < 256; ++j) {
    EXPECT_EQ(t[0][j], j * 257) << "byte k at entry 255 - k: (255 - k) * 257";
    EXPECT_EQ(t[1][j], (255 - j) * 257);
    EXPECT_EQ(t[2][j], 65535);
    EXPECT_EQ(t[3][j], 0);
  }
  free_lntb(t, 4);
  // At 8 bits a byte 0 at position k gives entry 255 - k = 255.
  Fixture g("dntb_four_channels.bin");
  ASSERT_EQ(read_dntb(g.s, 8, &t), 1);
  EXPECT_EQ(t[0][255], 255);  // channel 0, position 0 holds byte 0
  EXPECT_EQ(t[2][17], 255);
  free_lntb(t, 4);
  // The LNTB fixture holds a DNTB chunk behind an unknown chunk.
  Fixture h("lntb_two_channels.bin");
  ASSERT_EQ(read_dntb(h.s, 16, &t), 1);
  EXPECT_EQ(t[0][3], 3 * 257);
  free_lntb(t, 4);
}

TEST(CalibGbtb, ReadsPointsThenPlainChunkThenEnd) {
  Fixture f("gbtb_points_then_plain.bin");
  uint16_t** t = nullptr;
  int32_t count = 0;
  GBCP* cp = nullptr;
  ASSERT_EQ(read_gbtb(f.s, &t, &count, &cp), 1);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(t[0][0], 1000);
  EXPECT_EQ(t[0][255], 1255);
  ASSERT_NE(cp, nullptr);
  ASSERT_EQ(cp[0].count, 2);
  EXPECT_EQ(cp[0].points[0].x, 0.25);
  EXPECT_EQ(cp[0].points[0].y, 0.5);
  EXPECT_EQ(cp[0].points[1].x, 0.75);
  EXPECT_EQ(cp[0].points[1].y, 1.0);
  free_gbtb(t, count, cp);

  ASSERT_EQ(read_gbtb(f.s, &t, &count, &cp), 1) << "the next chunk, from where the stream stands";
  EXPECT_EQ(t[0][9], 7);
  EXPECT_EQ(cp, nullptr) << "no control points";
  free_gbtb(t, count, cp);
  EXPECT_EQ(read_gbtb(f.s, &t, &count, &cp), 0) << "end of file";

  // Not asking for points steps over them to the next chunk.
  Fixture g("gbtb_points_then_plain.bin");
  ASSERT_EQ(read_gbtb(g.s, &t, &count, nullptr), 1);
  free_lntb(t, count);
  ASSERT_EQ(read_gbtb(g.s, &t, &count, nullptr), 1);
  EXPECT_EQ(t[0][0], 7);
  free_lntb(t, count);
}

TEST(CalibGbtb, WriterMatchesFixtureBytes) {
  std::vector<uint8_t> fixture = file_bytes(kData + "gbtb_points_then_plain.bin");
  const size_t first = 8 + le32(fixture, 4);
  GBTB* g = alloc_gbtb(1);
  ASSERT_NE(g, nullptr);
  for (int i = 0; i < 256; ++i) g->tables[0][i] = uint16_t(1000 + i);
  g->control[0].points = alloc_gbtb_points(2);
  g->control[0].count = 2;
  g->control[0].points[0] = {0.25, 0.5};
  g->control[0].points[1] = {0.75, 1.0};
  Memory m;
  ASSERT_EQ(write_gbtb(m.s, nullptr, g), 1);
  EXPECT_EQ(m.bytes(), std::vector<uint8_t>(fixture.begin(), fixture.begin() + first));

  // Without points the chunk has no GBCP block.
  Memory plain;
  free(g->control[0].points);
  g->control[0] = {0, nullptr};
  for (int i = 0; i < 256; ++i) g->tables[0][i] = 7;
  ASSERT_EQ(write_gbtb(plain.s, nullptr, g), 1);
  EXPECT_EQ(plain.bytes(), std::vector<uint8_t>(fixture.begin() + first, fixture.end()));
  // The record's derived buffers belong to it.
  g->derived = static_cast<void**>(calloc(1, sizeof(void*)));
  g->derived[0] = malloc(64);
  free_grey_tbl(g, 1);
}

TEST(CalibHmtb, RoundTripAndLayout) {
  uint16_t* h = alloc_hmtb(2);
  ASSERT_NE(h, nullptr);
  for (size_t i = 0; i < 2u * KLV_HMTB_ENTRIES; ++i) h[i] = uint16_t(i * 7919u);
  Memory m;
  ASSERT_EQ(write_hmtb(m.s, h, 2), 1);
  std::vector<uint8_t> b = m.bytes();
  ASSERT_EQ(b.size(), 9u + 2u * 393216u);
  EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "HMTB");
  EXPECT_EQ(le32(b, 4), 1u + 2u * 393216u);
  EXPECT_EQ(b[8], 2);
  EXPECT_EQ(b[9] | (b[10] << 8), 0);
  EXPECT_EQ(b[11] | (b[12] << 8), 7919);

  ASSERT_EQ(Oseek(m.s, 0, SEEK_SET), 0);
  uint16_t* back = nullptr;
  int32_t count = 0;
  ASSERT_EQ(read_hmtb(m.s, &back, &count), 1);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(std::memcmp(back, h, 2u * KLV_HMTB_ENTRIES * 2), 0);
  free_hmtb(back);
  free_hmtb(h);
  EXPECT_EQ(alloc_hmtb(0), nullptr);
}

// One file holding every kind: each reader finds its own chunk.
TEST(CalibChunks, MixedFileRoundTrip) {
  uint16_t** lin = alloc_lntb(3);
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < 256; ++i) lin[c][i] = uint16_t(i * 100 + c);
  GBTB* g = alloc_gbtb(2);
  for (int c = 0; c < 2; ++c)
    for (int i = 0; i < 256; ++i) g->tables[c][i] = uint16_t(65535 - i * 3 - c);
  g->control[1].points = alloc_gbtb_points(3);
  g->control[1].count = 3;
  for (int i = 0; i < 3; ++i) g->control[1].points[i] = {i * 0.5, 1.0 / (i + 3)};
  uint16_t* h = alloc_hmtb(1);
  for (size_t i = 0; i < KLV_HMTB_ENTRIES; ++i) h[i] = uint16_t(i);

  Memory m;
  ASSERT_EQ(write_hmtb(m.s, h, 1), 1);
  ASSERT_EQ(write_gbtb(m.s, nullptr, g), 1);
  ASSERT_EQ(write_lntb(m.s, lin, 3), 1);

  uint16_t** t = nullptr;
  int32_t count = 0;
  ASSERT_EQ(read_lntb(m.s, 16, &t, &count), 1);
  ASSERT_EQ(count, 3);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(std::memcmp(t[c], lin[c], 512), 0);
  free_lntb(t, count);

  ASSERT_EQ(Oseek(m.s, 0, SEEK_SET), 0);
  GBCP* cp = nullptr;
  ASSERT_EQ(read_gbtb(m.s, &t, &count, &cp), 1);
  ASSERT_EQ(count, 2);
  for (int c = 0; c < 2; ++c) EXPECT_EQ(std::memcmp(t[c], g->tables[c], 512), 0);
  ASSERT_NE(cp, nullptr);
  EXPECT_EQ(cp[0].count, 0);
  ASSERT_EQ(cp[1].count, 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(cp[1].points[i].x, g->control[1].points[i].x);
    EXPECT_EQ(cp[1].points[i].y, g->control[1].points[i].y);
  }
  free_gbtb(t, count, cp);

  ASSERT_EQ(Oseek(m.s, 0, SEEK_SET), 0);
  uint16_t* hb = nullptr;
  ASSERT_EQ(read_hmtb(m.s, &hb, &count), 1);
  EXPECT_EQ(std::memcmp(hb, h, KLV_HMTB_ENTRIES * 2), 0);
  free_hmtb(hb);
  EXPECT_EQ(read_hmtb(m.s, &hb, &count), 0) << "no second HMTB chunk";

  free_lntb(lin, 3);
  free_grey_tbl(g, 1);
  free_hmtb(h);
}

TEST(CalibChunks, HostileFilesFailCleanly) {
  struct Case {
    const char* file;
    bool lntb, gbtb, hmtb;  // which readers are tried
  };
  for (Case c : {Case{"bad_lntb_short_length.bin", true, true, true},
                 Case{"bad_chunk_huge_length.bin", true, true, true},
                 Case{"bad_lntb_cut_off.bin", true, false, false},
                 Case{"bad_gbcp_count.bin", false, true, false}}) {
    Fixture f(c.file);
    ASSERT_NE(f.s, nullptr) << c.file;
    uint16_t** t = nullptr;
    uint16_t* h = nullptr;
    int32_t count = -1;
    GBCP* cp = nullptr;
    if (c.lntb) {
      EXPECT_EQ(read_lntb(f.s, 16, &t, &count), 0) << c.file;
      EXPECT_EQ(read_dntb(f.s, 16, &t), 0) << c.file;
    }
    if (c.gbtb) {
      Oseek(f.s, 0, SEEK_SET);
      EXPECT_EQ(read_gbtb(f.s, &t, &count, &cp), 0) << c.file;
    }
    if (c.hmtb) {
      Oseek(f.s, 0, SEEK_SET);
      EXPECT_EQ(read_hmtb(f.s, &h, &count), 0) << c.file;
    }
    EXPECT_EQ(t, nullptr) << c.file;
    EXPECT_EQ(h, nullptr) << c.file;
    EXPECT_EQ(cp, nullptr) << c.file;
    EXPECT_EQ(count, -1) << c.file;
  }
  // Truncations of a good file at every length up to its header and table fail.
  std::vector<uint8_t> good = file_bytes(kData + "lntb_two_channels.bin");
  for (size_t n = 0; n < good.size(); n += 37) {
    SFilemux* s = Omemopen(good.data(), n);
    uint16_t** t = nullptr;
    int32_t count = 0;
    EXPECT_EQ(read_lntb(s, 16, &t, &count), 0) << n;
    Oclose(s);
  }
  // A zero channel count and null arguments.
  const uint8_t zero[] = {'L', 'N', 'T', 'B', 1, 0, 0, 0, 0};
  SFilemux* s = Omemopen(zero, sizeof zero);
  uint16_t** t = nullptr;
  int32_t count = 0;
  EXPECT_EQ(read_lntb(s, 16, &t, &count), 0);
  EXPECT_EQ(read_lntb(s, 0, &t, &count), 0) << "no bits of precision";
  EXPECT_EQ(read_lntb(nullptr, 16, &t, &count), 0);
  EXPECT_EQ(read_lntb(s, 16, nullptr, &count), 0);
  EXPECT_EQ(write_lntb(nullptr, t, 1), 0);
  EXPECT_EQ(write_lntb(s, nullptr, 1), 0);
  Oclose(s);
}

TEST(CalibChunks, WritersFailOnAStreamThatRefuses) {
  const uint8_t block[4] = {};
  SFilemux* ro = Omemopen(block, sizeof block);  // read only
  uint16_t** t = alloc_lntb(1);
  GBTB* g = alloc_gbtb(1);
  uint16_t* h = alloc_hmtb(1);
  EXPECT_EQ(write_lntb(ro, t, 1), 0);
  EXPECT_EQ(write_gbtb(ro, nullptr, g), 0);
  EXPECT_EQ(write_hmtb(ro, h, 1), 0);
  Oclose(ro);
  Memory m;
  EXPECT_EQ(write_lntb(m.s, t, 0), 0) << "no channels";
  EXPECT_EQ(write_lntb(m.s, t, 256), 0) << "more channels than a count byte holds";
  g->control[0].count = 70000;  // more points than a 16-bit count holds
  g->control[0].points = alloc_gbtb_points(1);
  EXPECT_EQ(write_gbtb(m.s, nullptr, g), 0);
  free_lntb(t, 1);
  g->control[0].count = 1;
  free_grey_tbl(g, 1);
  free_hmtb(h);
}

TEST(CalibAlloc, SizesAndZeroCounts) {
  EXPECT_EQ(alloc_lntb(0), nullptr);
  EXPECT_EQ(alloc_gbtb(0), nullptr);
  EXPECT_EQ(alloc_gbtb_control(0), nullptr);
  EXPECT_EQ(alloc_gbtb_points(0), nullptr);
  GBTB* g = alloc_gbtb(3);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->count, 3);
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(g->tables[c][255], 0);
    EXPECT_EQ(g->control[c].count, 0);
    EXPECT_EQ(g->control[c].points, nullptr);
  }
  EXPECT_EQ(g->derived, nullptr);
  free_grey_tbl(g, 0);  // arrays freed, record kept
  EXPECT_EQ(g->tables, nullptr);
  free(g);
  free_linear_tbl(nullptr);
  free_grey_tbl(nullptr, 1);
  free_hmtb_tbl(nullptr);
}

// Loaders read members of a volume; a DNTB-only file is a linearization too.
TEST(CalibLoad, LoadsMembersOfAVolume) {
  fs::path dir = fs::temp_directory_path() / ("klv_calib_load_" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::string vpath = (dir / "t.Calibrate").string();
  SOVolume* v = VOpen(nullptr, vpath.c_str(), KLV_VOL_CREATE);
  ASSERT_NE(v, nullptr);
  auto put = [&](const char* name, const std::string& fixture) {
    std::vector<uint8_t> b = file_bytes(kData + fixture);
    SFilemux* s = Ovfopen(v, name, "wb");
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(Owrite(s, b.data(), b.size()), b.size());
    Oclose(s);
  };
  put("Lin1~m", "lntb_two_channels.bin");
  put("Den1~m", "dntb_four_channels.bin");
  put("Grey1~m", "gbtb_points_then_plain.bin");
  put("Bad", "bad_chunk_huge_length.bin");

  LNTB* lin = load_lntb(v, "Lin1~m", 8);
  ASSERT_NE(lin, nullptr);
  EXPECT_EQ(lin->count, 2);
  EXPECT_EQ(lin->tables[1][0], 255);
  free_linear_tbl(lin);
  LNTB* den = load_lntb(v, ".\\Den1~m", 16);
  ASSERT_NE(den, nullptr);
  EXPECT_EQ(den->count, 4);
  EXPECT_EQ(den->tables[2][0], 65535);
  free_linear_tbl(den);
  GBTB* grey = load_gbtb(v, "Grey1~m");
  ASSERT_NE(grey, nullptr);
  EXPECT_EQ(grey->count, 1);
  EXPECT_EQ(grey->tables[0][1], 1001);
  EXPECT_EQ(grey->control, nullptr) << "the loader takes tables only";
  free_grey_tbl(grey, 1);
  EXPECT_EQ(load_lntb(v, "Missing", 16), nullptr);
  EXPECT_EQ(load_lntb(v, "Bad", 16), nullptr);
  EXPECT_EQ(load_hmtb(v, "Lin1~m"), nullptr) << "no HMTB chunk";
  VClose(v);
  fs::remove_all(dir);
}

}  // namespace
