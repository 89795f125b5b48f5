// SPDX-License-Identifier: MIT
// BMP reader and writer: round trips, hand-built files that pin the decoding
// rules, files made by other programs, and damaged files.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "klv/bmp.h"
#include "klv/img.h"
#include "support/files.h"
#include "support/log_capture.h"
#include "support/resources.h"

using ScratchDir = klv::test::ScratchFolder;

namespace {

struct CmapDeleter {
  void operator()(image_cmap* m) const { free_cmap(m); }
};
using CmapPtr = std::unique_ptr<image_cmap, CmapDeleter>;

// A state that is closed at the end of the scope.
struct Bmp {
  void* st = nullptr;
  explicit Bmp(void* s) : st(s) {}
  ~Bmp() { close(); }
  void close() {
    if (st) bmp_close(st);
    st = nullptr;
  }
};

CmapPtr make_map(uint32_t entries) {
  auto* m = static_cast<image_cmap*>(calloc(1, sizeof(image_cmap)));
  m->channels = 3;
  m->entries = entries;
  m->photometric = 1;
  for (int c = 0; c < 3; ++c) {
    m->channel[c] = static_cast<uint8_t*>(malloc(entries));
    for (uint32_t i = 0; i < entries; ++i) m->channel[c][i] = static_cast<uint8_t>(i * 37 + c * 91);
  }
  return CmapPtr(m);
}

uint32_t get32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24);
}

// A pixel pattern with long runs, short runs and noise, so that both run and
// literal codes appear when it is compressed.
uint8_t pattern(uint32_t x, uint32_t y, uint32_t levels) {
  if (x < 9) return static_cast<uint8_t>(y % levels);
  if (x < 14) return static_cast<uint8_t>((x * 7 + y * 3) % levels);
  return static_cast<uint8_t>(((x / 4) + y) % levels);
}

std::vector<uint8_t> make_line(uint32_t width, uint32_t y, int bits, int samples) {
  if (samples == 3) {
    std::vector<uint8_t> line(size_t{width} * 3);
    for (uint32_t x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c) line[x * 3 + c] = static_cast<uint8_t>(x * 11 + y * 5 + c * 70);
    return line;
  }
  std::vector<uint8_t> line((size_t{width} * bits + 7) / 8, 0);
  for (uint32_t x = 0; x < width; ++x) {
    uint8_t v = pattern(x, y, 1u << bits);
    size_t bit = size_t{x} * bits;
    line[bit / 8] |= static_cast<uint8_t>(v << (8 - bits - bit % 8));
  }
  return line;
}

struct RoundTrip {
  const char* name;
  uint32_t bits, samples, photometric, compression;
  int32_t width, height;
};

class BmpRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(BmpRoundTrip, ReadsBackWhatWasWritten) {
  const RoundTrip& c = GetParam();
  ScratchDir dir;
  const std::string path = dir.path("t.bmp");
  CmapPtr map = c.samples == 1 ? make_map(1u << c.bits) : nullptr;
  image_info w;
  init_image_info(&w);
  w.width = c.width;
  w.height = c.height;
  w.bits_per_sample = c.bits;
  w.samples = c.samples;
  w.photometric = c.photometric;
  w.compression = c.compression;
  w.xres = 150;
  w.yres = 75;
  w.cmap = map.get();
  {
    Bmp out(bmp_open(path.c_str(), nullptr, "wb", &w));
    ASSERT_NE(out.st, nullptr);
    for (int32_t y = 0; y < c.height; ++y) {
      auto line = make_line(c.width, y, c.bits, c.samples);
      ASSERT_EQ(bmp_write_line(out.st, line.data(), 1), 1);
    }
  }
  const std::vector<uint8_t> bytes = klv::test::read_file(path);
  EXPECT_EQ(get32(bytes, 2), bytes.size()) << "file size patched after the last line";

  image_info r;
  init_image_info(&r);
  Bmp in(bmp_open(path.c_str(), nullptr, "rb", &r));
  ASSERT_NE(in.st, nullptr);
  EXPECT_EQ(r.width, w.width);
  EXPECT_EQ(r.height, w.height);
  EXPECT_EQ(r.bits_per_sample, w.bits_per_sample);
  EXPECT_EQ(r.samples, w.samples);
  EXPECT_EQ(r.photometric, w.photometric);
  EXPECT_EQ(r.compression, w.compression);
  EXPECT_EQ(r.bytes_per_line, w.bytes_per_line);
  EXPECT_NEAR(r.xres, 150, 0.02);
  EXPECT_NEAR(r.yres, 75, 0.02);
  if (c.samples == 1) {
    CmapPtr got(bmp_get_cmap(in.st));
    EXPECT_EQ(cmap_equal(got.get(), map.get()), 1);
  } else {
    EXPECT_EQ(bmp_get_cmap(in.st), nullptr);
  }
  std::vector<uint8_t> line(r.bytes_per_line);
  for (int32_t y = 0; y < c.height; ++y) {
    ASSERT_EQ(bmp_read_line(in.st, line.data(), 1), 1) << "line " << y;
    ASSERT_EQ(line, make_line(c.width, y, c.bits, c.samples)) << "line " << y;
  }
  EXPECT_EQ(bmp_read_line(in.st, line.data(), 1), 0) << "nothing after the last line";
  // Seeking backwards and forwards gives the same lines as the first pass.
  for (int32_t y : {c.height - 1, 0, c.height / 2, 1}) {
    ASSERT_EQ(bmp_seek_line(in.st, y, 0, 0, 0), y);
    ASSERT_EQ(bmp_read_line(in.st, line.data(), 1), 1);
    EXPECT_EQ(line, make_line(c.width, y, c.bits, c.samples)) << "after seek to " << y;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BmpRoundTrip,
    ::testing::Values(RoundTrip{"pal1", 1, 1, KLV_PHOTO_PALETTE, 0, 37, 5},
                      RoundTrip{"pal4", 4, 1, KLV_PHOTO_PALETTE, 0, 37, 5},
                      RoundTrip{"pal8", 8, 1, KLV_PHOTO_PALETTE, 0, 37, 5},
                      RoundTrip{"rle4", 4, 1, KLV_PHOTO_PALETTE, 1, 601, 9},
                      RoundTrip{"rle8", 8, 1, KLV_PHOTO_PALETTE, 1, 601, 9},
                      RoundTrip{"rgb", 8, 3, KLV_PHOTO_MINBLACK, 0, 13, 4},
                      // Widths around the five-pixel steps of the
                      // red/blue swap and its one-by-one tail.
                      RoundTrip{"rgb_w1", 8, 3, KLV_PHOTO_MINBLACK, 0, 1, 2},
                      RoundTrip{"rgb_w5", 8, 3, KLV_PHOTO_MINBLACK, 0, 5, 2},
                      RoundTrip{"rgb_w6", 8, 3, KLV_PHOTO_MINBLACK, 0, 6, 2},
                      RoundTrip{"rgb_w11", 8, 3, KLV_PHOTO_MINBLACK, 0, 11, 2},
                      RoundTrip{"rgb_w1001", 8, 3, KLV_PHOTO_MINBLACK, 0, 1001, 3},
                      RoundTrip{"rgb_top_down", 8, 3, KLV_PHOTO_MINBLACK, 1, 13, 4}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BmpWrite, OneBitPaletteAskingForCompressionIsWrittenPlain) {
  ScratchDir dir;
  CmapPtr map = make_map(2);
  image_info w;
  init_image_info(&w);
  w.width = 9;
  w.height = 2;
  w.bits_per_sample = 1;
  w.samples = 1;
  w.photometric = KLV_PHOTO_PALETTE;
  w.compression = 1;
  w.cmap = map.get();
  Bmp out(bmp_open(dir.path("a.bmp").c_str(), nullptr, "wb", &w));
  ASSERT_NE(out.st, nullptr);
  EXPECT_EQ(w.compression, 0u);
}

TEST(BmpWrite, TwoByTwoRgbLayout) {
  ScratchDir dir;
  image_info w;
  init_image_info(&w);
  w.width = 2;
  w.height = 2;
  w.bits_per_sample = 8;
  w.samples = 3;
  w.photometric = KLV_PHOTO_MINBLACK;
  const std::string path = dir.path("a.bmp");
  {
    Bmp out(bmp_open(path.c_str(), nullptr, "wb", &w));
    ASSERT_NE(out.st, nullptr);
    uint8_t lines[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    ASSERT_EQ(bmp_write_line(out.st, lines, 2), 2);
  }
  std::vector<uint8_t> b = klv::test::read_file(path);
  ASSERT_EQ(b.size(), 54u + 16u);
  EXPECT_EQ(get32(b, 10), 54u);
  // Image line 0 is the last row; each row is 6 pixel bytes and 2 zero bytes.
  const std::vector<uint8_t> rows = {9, 8, 7, 12, 11, 10, 0, 0, 3, 2, 1, 6, 5, 4, 0, 0};
  EXPECT_EQ(std::vector<uint8_t>(b.begin() + 54, b.end()), rows);
}

TEST(BmpWrite, PartialFileKeepsSizeZero) {
  ScratchDir dir;
  CmapPtr map = make_map(256);
  image_info w;
  init_image_info(&w);
  w.width = 4;
  w.height = 10;
  w.bits_per_sample = 8;
  w.samples = 1;
  w.photometric = KLV_PHOTO_PALETTE;
  w.cmap = map.get();
  const std::string path = dir.path("a.bmp");
  {
    Bmp out(bmp_open(path.c_str(), nullptr, "wb", &w));
    ASSERT_NE(out.st, nullptr);
    uint8_t line[4] = {};
    for (int i = 0; i < 9; ++i) ASSERT_EQ(bmp_write_line(out.st, line, 1), 1);
  }
  EXPECT_EQ(get32(klv::test::read_file(path), 2), 0u);
}

TEST(BmpWrite, RefusesDescriptionsItCannotHold) {
  struct Case {
    const char* name;
    uint32_t bits, samples, photometric, planar, mask;
    bool with_map;
  };
  const Case cases[] = {
      {"gray light", 8, 1, KLV_PHOTO_MINBLACK, 0, 0, true},
      {"16-bit rgb", 16, 3, KLV_PHOTO_MINBLACK, 0, 0, false},
      {"4-bit rgb", 4, 3, KLV_PHOTO_MINBLACK, 0, 0, false},
      {"planar rgb", 8, 3, KLV_PHOTO_MINBLACK, 1, 0, false},
      {"rgb with mask", 8, 3, KLV_PHOTO_MINBLACK, 0, 1, false},
      {"cmyk", 8, 4, KLV_PHOTO_MINWHITE, 0, 0, false},
      {"palette without map", 8, 1, KLV_PHOTO_PALETTE, 0, 0, false},
  };
  ScratchDir dir;
  CmapPtr map = make_map(256);
  for (const Case& c : cases) {
    image_info w;
    init_image_info(&w);
    w.width = 4;
    w.height = 4;
    w.bits_per_sample = c.bits;
    w.samples = c.samples;
    w.photometric = c.photometric;
    w.planar = c.planar;
    w.mask_samples = c.mask;
    w.cmap = c.with_map ? map.get() : nullptr;
    void* st = bmp_open(dir.path("x.bmp").c_str(), nullptr, "wb", &w);
    EXPECT_EQ(st, nullptr) << c.name;
    if (st) bmp_close(st);
  }
}

// Builds a BMP file: 40- or 12-byte header, a palette of `colours` entries
// (0 = none written) and the pixel data as given.
std::vector<uint8_t> build_bmp(int32_t width, int32_t height, uint16_t bits, uint32_t compression,
                               uint32_t colours_field, uint32_t colours_written,
                               const std::vector<uint8_t>& data, uint32_t header = 40) {
  std::vector<uint8_t> b(14 + header, 0);
  auto p16 = [&](size_t at, uint32_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
  };
  auto p32 = [&](size_t at, uint32_t v) {
    p16(at, v);
    p16(at + 2, v >> 16);
  };
  b[0] = 'B';
  b[1] = 'M';
  p32(14, header);
  if (header == 12) {
    p16(18, uint32_t(width));
    p16(20, uint32_t(height));
    p16(22, 1);
    p16(24, bits);
  } else if (header == 40) {
    p32(18, uint32_t(width));
    p32(22, uint32_t(height));
    p16(26, 1);
    p16(28, bits);
    p32(30, compression);
    p32(38, 2835);
    p32(42, 2835);
    p32(46, colours_field);
  }
  const uint32_t entry = header == 12 ? 3 : 4;
  for (uint32_t i = 0; i < colours_written; ++i) {
    b.push_back(uint8_t(i));        // blue
    b.push_back(uint8_t(i + 100));  // green
    b.push_back(uint8_t(i + 200));  // red
    if (entry == 4) b.push_back(0);
  }
  b.insert(b.end(), data.begin(), data.end());
  p32(2, uint32_t(b.size()));
  return b;
}

std::vector<std::vector<uint8_t>> read_all(void* st, const image_info& info) {
  std::vector<std::vector<uint8_t>> lines;
  std::vector<uint8_t> line(info.bytes_per_line);
  while (bmp_read_line(st, line.data(), 1) == 1) lines.push_back(line);
  return lines;
}

struct Decode {
  const char* name;
  int32_t width, height;
  uint16_t bits;
  std::vector<uint8_t> codes;
  std::vector<std::vector<uint8_t>> lines;
};

class BmpDecode : public ::testing::TestWithParam<Decode> {};

TEST_P(BmpDecode, CodesGiveLines) {
  const Decode& c = GetParam();
  ScratchDir dir;
  const std::string path = dir.path("d.bmp");
  // Top-down, so that the coded rows are the image lines in order.
  klv::test::write_file(
      path, build_bmp(c.width, -c.height, c.bits, c.bits == 8 ? 1 : 2, 0, 1u << c.bits, c.codes));
  image_info info;
  init_image_info(&info);
  Bmp in(bmp_open(path.c_str(), nullptr, "rb", &info));
  ASSERT_NE(in.st, nullptr);
  EXPECT_EQ(info.compression, 1u);
  auto lines = read_all(in.st, info);
  EXPECT_EQ(lines, c.lines);
  // Seeking back restarts the decoding and gives the same lines.
  for (int32_t y = c.height - 1; y >= 0; --y) {
    ASSERT_EQ(bmp_seek_line(in.st, y, 0, 0, 0), y);
    std::vector<uint8_t> line(info.bytes_per_line);
    ASSERT_EQ(bmp_read_line(in.st, line.data(), 1), 1);
    EXPECT_EQ(line, c.lines[size_t(y)]) << "line " << y << " after a seek";
  }
}

using L = std::vector<uint8_t>;
INSTANTIATE_TEST_SUITE_P(
    Cases, BmpDecode,
    ::testing::Values(
        Decode{"end_of_line_mid_line",
               10,
               2,
               8,
               {5, 7, 0, 0, 10, 1},
               {L{7, 7, 7, 7, 7, 0, 0, 0, 0, 0}, L(10, 1)}},
        Decode{"end_of_bitmap_fills_the_rest",
               4,
               3,
               8,
               {3, 9, 0, 1},
               {L{9, 9, 9, 0}, L(4, 0), L(4, 0)}},
        Decode{"delta_skips_width_times_dy_plus_dx",
               5,
               3,
               8,
               {2, 4, 0, 2, 3, 1, 5, 6},
               {L{4, 4, 0, 0, 0}, L(5, 0), L(5, 6)}},
        Decode{"run_carries_into_next_line", 4, 2, 8, {6, 3, 2, 5}, {L(4, 3), L{3, 3, 5, 5}}},
        Decode{"literal_carries_into_next_line",
               3,
               2,
               8,
               {0, 5, 1, 2, 3, 4, 5, 0, 1, 9},
               {L{1, 2, 3}, L{4, 5, 9}}},
        Decode{"run_past_width_into_padding_before_end_of_line",
               3,
               2,
               8,
               {4, 1, 0, 0, 3, 2, 0, 1},
               {L{1, 1, 1}, L{2, 2, 2}}},
        Decode{"rle4_run_alternates_nibbles", 5, 1, 4, {5, 0x12}, {L{0x12, 0x12, 0x10}}},
        Decode{"rle4_literal", 4, 1, 4, {0, 3, 0xAB, 0xC0, 1, 0x77}, {L{0xAB, 0xC7}}},
        Decode{"rle4_run_across_lines_keeps_phase",
               3,
               2,
               4,
               {6, 0x12},
               {L{0x12, 0x10}, L{0x21, 0x20}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BmpRead, BottomUpRunLengthFileCodesTheLastLineFirst) {
  // 150 coded rows, row r all of index r; one literal carries over a row end.
  const int32_t width = 6, height = 150;
  std::vector<uint8_t> codes;
  for (int r = 0; r < height; ++r) {
    if (r == 70) {
      codes.insert(codes.end(), {0, 8, 70, 70, 70, 70, 70, 70, 71, 71, 4, 71, 0, 0});
      ++r;
      continue;
    }
    codes.insert(codes.end(), {uint8_t(width), uint8_t(r), 0, 0});
  }
  codes.back() = 1;  // end of bitmap in place of the last end of line
  ScratchDir dir;
  const std::string path = dir.path("b.bmp");
  klv::test::write_file(path, build_bmp(width, height, 8, 1, 0, 256, codes));
  image_info info;
  init_image_info(&info);
  Bmp in(bmp_open(path.c_str(), nullptr, "rb", &info));
  ASSERT_NE(in.st, nullptr);
  auto lines = read_all(in.st, info);
  ASSERT_EQ(lines.size(), size_t(height));
  for (int y = 0; y < height; ++y)
    EXPECT_EQ(lines[size_t(y)], L(width, uint8_t(height - 1 - y))) << y;
  for (int y : {3, 149, 0, 79, 80}) {
    ASSERT_EQ(bmp_seek_line(in.st, y, 0, 0, 0), y);
    std::vector<uint8_t> line(width);
    ASSERT_EQ(bmp_read_line(in.st, line.data(), 1), 1);
    EXPECT_EQ(line, L(width, uint8_t(height - 1 - y))) << "after seek to " << y;
  }
}

TEST(BmpRead, HeaderVariants) {
  ScratchDir dir;
  // 1-bit file with the colours field 0: a two-entry map.
  {
    const std::string path = dir.path("a.bmp");
    klv::test::write_file(path, build_bmp(3, 1, 1, 0, 0, 2, {0xA0, 0, 0, 0}));
    image_info info;
    init_image_info(&info);
    Bmp in(bmp_open(path.c_str(), nullptr, "rb", &info));
    ASSERT_NE(in.st, nullptr);
    EXPECT_EQ(info.photometric, unsigned(KLV_PHOTO_PALETTE));
    EXPECT_EQ(info.bits_per_sample, 1u);
    CmapPtr map(bmp_get_cmap(in.st));
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(map->entries, 2u);
    EXPECT_EQ(map->channel[0][1], 201);  // red
    EXPECT_EQ(map->channel[2][1], 1);    // blue
    EXPECT_EQ(read_all(in.st, info), std::vector<L>{L{0xA0}});
  }
  // 24-bit file announcing 256 colours: the table is skipped, no map.
  {
    const std::string path = dir.path("b.bmp");
    klv::test::write_file(path, build_bmp(1, 1, 24, 0, 256, 256, {10, 20, 30, 0}));
    image_info info;
    init_image_info(&info);
    Bmp in(bmp_open(path.c_str(), nullptr, "rb", &info));
    ASSERT_NE(in.st, nullptr);
    EXPECT_EQ(bmp_get_cmap(in.st), nullptr);
    EXPECT_EQ(read_all(in.st, info), std::vector<L>{L({30, 20, 10})});
  }
  // Negative height: top-down, the magnitude is the height.
  {
    const std::string path = dir.path("c.bmp");
    klv::test::write_file(path, build_bmp(1, -2, 8, 0, 0, 256, {1, 0, 0, 0, 2, 0, 0, 0}));
    image_info info;
    init_image_info(&info);
    Bmp in(bmp_open(path.c_str(), nullptr, "rb", &info));
    ASSERT_NE(in.st, nullptr);
    EXPECT_EQ(info.height, 2);
    EXPECT_EQ(read_all(in.st, info), (std::vector<L>{L{1}, L{2}}));
  }
  // 12-byte header: 3-byte palette entries, 3937 pixels per metre.
  {
    const std::string path = dir.path("d.bmp");
    klv::test::write_file(path, build_bmp(2, 1, 8, 0, 0, 256, {5, 6, 0, 0}, 12));
    image_info info;
    init_image_info(&info);
    Bmp in(bmp_open(path.c_str(), nullptr, "rb", &info));
    ASSERT_NE(in.st, nullptr);
    EXPECT_NEAR(info.xres, 100, 0.01);
    CmapPtr map(bmp_get_cmap(in.st));
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(map->channel[1][5], 105);
    EXPECT_EQ(read_all(in.st, info), std::vector<L>{L({5, 6})});
  }
}

// The pixel data starts where the file header's data offset says: after a
// gap, or inside a colour table that states more colours than it holds.
TEST(BmpRead, PixelDataStartsAtTheHeadersOffset) {
  ScratchDir dir;
  klv::test::LogCapture log;
  auto with_offset = [](std::vector<uint8_t> b, uint32_t offset, size_t gap_at, size_t gap) {
    b.insert(b.begin() + long(gap_at), gap, 0xEE);
    for (int i = 0; i < 4; ++i) b[10 + i] = uint8_t(offset >> (8 * i));
    return b;
  };
  // 2 x 1 pixels of 8 bits: one row of 4 bytes (indices 1 and 2, padding).
  const std::vector<uint8_t> row = {1, 2, 0, 0};
  const auto plain = build_bmp(2, 1, 8, 0, 0, 256, row);
  const uint32_t table_end = 14 + 40 + 1024;
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    bool opens;
    uint32_t colours;
  } cases[] = {
      {"offset right after the table", with_offset(plain, table_end, 0, 0), true, 256},
      {"gap of 10 bytes after the table", with_offset(plain, table_end + 10, table_end, 10), true,
       256},
      {"table of 256 stated, 2 before the data",
       with_offset(build_bmp(2, 1, 8, 0, 256, 2, row), 14 + 40 + 8, 0, 0), true, 2},
      {"offset inside the headers", with_offset(plain, 30, 0, 0), false, 0},
      {"offset past the end of the file", with_offset(plain, 5000, 0, 0), false, 0},
      {"offset at the end of the file", with_offset(plain, uint32_t(plain.size()), 0, 0), false, 0},
  };
  for (const auto& c : cases) {
    const std::string path = dir.path("off.bmp");
    klv::test::write_file(path, c.bytes);
    image_info info;
    init_image_info(&info);
    Bmp in(bmp_open(path.c_str(), nullptr, "rb", &info));
    ASSERT_EQ(in.st != nullptr, c.opens) << c.name;
    if (!in.st) continue;
    EXPECT_EQ(read_all(in.st, info), (std::vector<L>{L{1, 2}})) << c.name;
    CmapPtr map(bmp_get_cmap(in.st));
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(map->entries, c.colours) << c.name;
    EXPECT_EQ(map->channel[0][1], 201) << c.name;
  }
}

TEST(BmpRead, RefusesBadHeaders) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* logged;  // part of the line the refusal logs
  };
  std::vector<uint8_t> v4 = build_bmp(4, 4, 8, 0, 0, 256, L(16, 0));
  v4[14] = 108;  // header size of a later version
  std::vector<uint8_t> not_bm = build_bmp(4, 4, 8, 0, 0, 256, L(16, 0));
  not_bm[1] = 'A';
  const Case cases[] = {
      {"empty", {}, "no \"BM\" file header"},
      {"not BM", not_bm, "no \"BM\" file header"},
      {"header size 108", v4, "header of 108 bytes is not supported"},
      {"header cut short", L{'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 40, 0, 0, 0, 4, 0},
       "information header cut short"},
      {"16 bits", build_bmp(4, 4, 16, 0, 0, 0, L(32, 0)), "16 bits per pixel is not supported"},
      {"32 bits", build_bmp(4, 4, 32, 0, 0, 0, L(64, 0)), "32 bits per pixel is not supported"},
      {"compressed 24 bits", build_bmp(4, 4, 24, 1, 0, 0, L(64, 0)),
       "run-length compression with 24 bits"},
      {"width 0", build_bmp(0, 4, 8, 0, 0, 256, L(16, 0)), "image size 0x4 is out of range"},
      {"width negative", build_bmp(-4, 4, 8, 0, 0, 256, L(16, 0)),
       "image size -4x4 is out of range"},
      {"40000x40000 in a few bytes", build_bmp(40000, 40000, 24, 0, 0, 0, L(1200, 0)),
       "need 4800000054 bytes to hold every row, file has 1254"},
      {"million colours", build_bmp(4, 4, 8, 0, 1000000, 256, L(16, 0)),
       "need 4000070 bytes to hold every row"},
      {"palette cut short", build_bmp(4, 4, 8, 0, 0, 20, {}),
       "need 1094 bytes to hold every row, file has 134"},
      {"height INT32_MIN", build_bmp(4, INT32_MIN, 8, 0, 0, 256, L(16, 0)),
       "image size 4x2147483648 is out of range"},
  };
  klv::test::ResourceCheck resources;
  {
    klv::test::LogCapture log;
    ScratchDir dir;
    for (const Case& c : cases) {
      const std::string path = dir.path("x.bmp");
      klv::test::write_file(path, c.bytes);
      void* st = bmp_open(path.c_str(), nullptr, "rb", nullptr);
      EXPECT_EQ(st, nullptr) << c.name;
      if (st) bmp_close(st);
      const std::string logged = log.Take();
      EXPECT_NE(logged.find(c.logged), std::string::npos) << c.name << ": " << logged;
    }
  }
  EXPECT_EQ(resources.Leaks(), "");
}

TEST(BmpRead, TruncatedFiles) {
  ScratchDir dir;
  // Uncompressed, top-down, 4 lines of which 2 are present: refused at open,
  // since the rows the file lacks cannot be delivered.
  const std::string path = dir.path("a.bmp");
  klv::test::write_file(path, build_bmp(4, -4, 8, 0, 0, 256, L{1, 1, 1, 1, 2, 2, 2, 2, 3}));
  image_info info;
  init_image_info(&info);
  EXPECT_EQ(bmp_open(path.c_str(), nullptr, "rb", &info), nullptr);
  std::vector<uint8_t> lines(16);
  // A run-length file whose codes stop part-way.
  const std::string rle = dir.path("b.bmp");
  klv::test::write_file(rle, build_bmp(4, -3, 8, 1, 0, 256, L{4, 7, 0, 0, 2}));
  image_info ri;
  init_image_info(&ri);
  Bmp r(bmp_open(rle.c_str(), nullptr, "rb", &ri));
  ASSERT_NE(r.st, nullptr);
  EXPECT_EQ(bmp_read_line(r.st, lines.data(), 3), 1);
  EXPECT_EQ(bmp_seek_line(r.st, 2, 0, 0, 0), -1);
}

TEST(BmpRead, SeekRules) {
  ScratchDir dir;
  const std::string path = dir.path("a.bmp");
  klv::test::write_file(path, build_bmp(4, 5, 8, 0, 0, 256, L(20, 0)));
  Bmp in(bmp_open(path.c_str(), nullptr, "rb", nullptr));
  ASSERT_NE(in.st, nullptr);
  EXPECT_EQ(bmp_seek_line(in.st, 0, 0, 0, 2), 4);
  EXPECT_EQ(bmp_seek_line(in.st, -1, 0, 0, 2), 3);
  EXPECT_EQ(bmp_seek_line(in.st, 100, 0, 0, 0), 4) << "clamped to the last line";
  EXPECT_EQ(bmp_seek_line(in.st, -100, 0, 0, 1), 0) << "clamped to the first line";
  EXPECT_EQ(bmp_seek_line(in.st, 0, 1, 0, 0), -1);
  EXPECT_EQ(bmp_seek_line(in.st, 0, 0, 1, 0), -1);
  EXPECT_EQ(bmp_seek_line(in.st, 0, -1, 0, 1), -1);
  EXPECT_EQ(bmp_seek_line(nullptr, 0, 0, 0, 0), -1);
  EXPECT_EQ(bmp_read_line(nullptr, nullptr, 1), 0);
  EXPECT_EQ(bmp_get_cmap(nullptr), nullptr);
  EXPECT_EQ(bmp_close(nullptr), 0);
}

// Files made by other programs read with the samples of the image they were
// made from.
struct FromTool {
  const char* file;
  const char* source;
  uint32_t bits, compression;
};

class BmpFromTool : public ::testing::TestWithParam<FromTool> {};

TEST_P(BmpFromTool, ReadsTheToolsSamples) {
  const FromTool& c = GetParam();
  klv::test::Pnm src = klv::test::read_pnm(klv::test::fixture("formats", c.source));
  ASSERT_GT(src.width, 0);
  image_info info;
  init_image_info(&info);
  Bmp in(bmp_open(klv::test::fixture("formats", c.file).c_str(), nullptr, "rb", &info));
  ASSERT_NE(in.st, nullptr);
  ASSERT_EQ(info.width, src.width);
  ASSERT_EQ(info.height, src.height);
  EXPECT_EQ(info.bits_per_sample * info.samples, c.bits);
  EXPECT_EQ(info.compression, c.compression);
  CmapPtr map(bmp_get_cmap(in.st));
  std::vector<uint8_t> line(info.bytes_per_line);
  for (int y = 0; y < src.height; ++y) {
    ASSERT_EQ(bmp_read_line(in.st, line.data(), 1), 1);
    for (int x = 0; x < src.width; ++x) {
      uint8_t rgb[3];
      if (info.samples == 3) {
        std::memcpy(rgb, &line[size_t(x) * 3], 3);
      } else {
        ASSERT_NE(map, nullptr);
        size_t bit = size_t(x) * info.bits_per_sample;
        uint32_t index =
            (line[bit / 8] >> (8 - info.bits_per_sample - bit % 8)) & ((1u << c.bits) - 1);
        ASSERT_LT(index, map->entries);
        for (int k = 0; k < 3; ++k) rgb[k] = map->channel[k][index];
      }
      const uint8_t* want = &src.pixels[(size_t(y) * src.width + x) * 3];
      ASSERT_EQ(0, std::memcmp(rgb, want, 3)) << c.file << " pixel " << x << "," << y;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, BmpFromTool,
                         ::testing::Values(FromTool{"rle8.bmp", "src16.ppm", 8, 1},
                                           FromTool{"os2.bmp", "src16.ppm", 8, 0},
                                           FromTool{"pal4.bmp", "src16.ppm", 4, 0},
                                           FromTool{"rgb24.bmp", "src16.ppm", 24, 0},
                                           FromTool{"topdown24.bmp", "src16.ppm", 24, 0},
                                           FromTool{"bw1.bmp", "src2.ppm", 1, 0}));

}  // namespace
