// SPDX-License-Identifier: MIT
// Lending lines in place: an uncompressed TIFF on disk lends exactly the
// lines it reads, through a line filter that leaves them unchanged too; every
// file whose bytes are not the lines as they stand, and every lying file, is
// read instead.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "klv/cimg_file.h"
#include "klv/imgmux.h"
#include "klv/tiff.h"
#include "support/files.h"

using ScratchDir = klv::test::ScratchFolder;

namespace {

struct Layout {
  uint32_t width = 5, height = 7;
  uint16_t spp = 4, bits = 8;
  uint32_t rows_per_strip = 1;
  uint16_t compression = COMPRESSION_NONE;
  uint16_t planar = PLANARCONFIG_CONTIG;
  uint16_t fill = FILLORDER_MSB2LSB;
  const char* mode = "w";       // "wb" writes a big-endian file
  bool reverse_strips = false;  // strips written last to first
};

size_t row_bytes(const Layout& l) {
  return (size_t(l.width) * (l.planar == PLANARCONFIG_CONTIG ? l.spp : 1) * l.bits + 7) / 8;
}

// Writes a file with libtiff directly; its rows hold running bytes.
void write_file(const std::string& path, const Layout& l) {
  TIFF* t = TIFFOpen(path.c_str(), l.mode);
  ASSERT_NE(t, nullptr);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, l.width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, l.height);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, l.bits);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, l.spp);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, l.planar);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, l.spp == 4 ? PHOTOMETRIC_SEPARATED : PHOTOMETRIC_MINISBLACK);
  TIFFSetField(t, TIFFTAG_COMPRESSION, l.compression);
  TIFFSetField(t, TIFFTAG_FILLORDER, l.fill);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, l.rows_per_strip);
  const size_t bpl = row_bytes(l);
  const uint32_t planes = l.planar == PLANARCONFIG_CONTIG ? 1 : l.spp;
  const uint32_t per_plane = (l.height + l.rows_per_strip - 1) / l.rows_per_strip;
  std::vector<uint8_t> strip(bpl * l.rows_per_strip);
  for (uint32_t i = 0; i < planes * per_plane; ++i) {
    const uint32_t s = l.reverse_strips ? planes * per_plane - 1 - i : i;
    const uint32_t first = (s % per_plane) * l.rows_per_strip;
    const uint32_t rows = std::min(l.rows_per_strip, l.height - first);
    for (size_t b = 0; b < rows * bpl; ++b) strip[b] = uint8_t(s * 31 + b * 7 + 1);
    if (l.compression == COMPRESSION_NONE && l.reverse_strips)
      ASSERT_GT(TIFFWriteRawStrip(t, s, strip.data(), tmsize_t(rows * bpl)), 0);
    else
      ASSERT_GT(TIFFWriteEncodedStrip(t, s, strip.data(), tmsize_t(rows * bpl)), 0);
  }
  TIFFClose(t);
}

std::vector<uint8_t> read_all(IMG_file* img) {
  std::vector<uint8_t> all(size_t(img->info.bytes_per_line) * size_t(img->info.height));
  EXPECT_EQ(img_read_line(img, all.data(), img->info.height), img->info.height);
  return all;
}

// Lends the whole image `chunk` lines at a time; empty when a call lends
// nothing.
std::vector<uint8_t> lend_all(IMG_file* img, int32_t chunk) {
  std::vector<uint8_t> all;
  const size_t bpl = img->info.bytes_per_line;
  for (int32_t y = 0; y < img->info.height;) {
    const uint8_t* lines = nullptr;
    const int32_t n = img_lend_lines(img, &lines, chunk);
    if (n <= 0) return {};
    EXPECT_LE(n, chunk);
    all.insert(all.end(), lines, lines + size_t(n) * bpl);
    y += n;
  }
  const uint8_t* lines = nullptr;
  EXPECT_EQ(img_lend_lines(img, &lines, chunk), 0) << "nothing after the last line";
  return all;
}

TEST(TiffLend, LendsWhatItReadsOrNothing) {
  struct Case {
    const char* what;
    Layout layout;
    bool lends;
  };
  Layout big;  // past the point where lent memory is given back
  big.width = 4096;
  big.height = 700;
  big.rows_per_strip = 16;
  std::vector<Case> cases = {
      {"CMYK, one row a strip", {}, true},
      {"gray, strips of 3 rows, the last short", {5, 7, 1, 8, 3}, true},
      {"16-bit in the host's byte order", {5, 7, 3, 16, 2}, true},
      {"1-bit gray", {13, 7, 1, 1, 4}, true},
      {"a large page", big, true},
      {"LZW", {5, 7, 4, 8, 2, COMPRESSION_LZW}, false},
      {"separate planes", {5, 7, 4, 8, 1, COMPRESSION_NONE, PLANARCONFIG_SEPARATE}, false},
      {"bits in reversed order",
       {5, 7, 1, 8, 1, COMPRESSION_NONE, PLANARCONFIG_CONTIG, FILLORDER_LSB2MSB},
       false},
      {"16-bit in the other byte order",
       {5, 7, 1, 16, 1, COMPRESSION_NONE, PLANARCONFIG_CONTIG, FILLORDER_MSB2LSB, "wb"},
       false},
      {"strips stored out of order",
       {5, 7, 1, 8, 2, COMPRESSION_NONE, PLANARCONFIG_CONTIG, FILLORDER_MSB2LSB, "w", true},
       false},
  };
  ScratchDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = dir.path("lend.tif");
    write_file(path, c.layout);
    IMG_file* reader = img_mux_open(path.c_str(), nullptr, "r", nullptr, 0);
    IMG_file* lender = img_mux_open(path.c_str(), nullptr, "r", nullptr, 0);
    ASSERT_TRUE(reader && lender);
    const std::vector<uint8_t> want = read_all(reader);
    for (int32_t chunk : {1, 3, 64}) {
      ASSERT_EQ(img_seek_line(lender, 0, 0, 0, 0), 0);
      const std::vector<uint8_t> got = lend_all(lender, chunk);
      if (c.lends)
        EXPECT_EQ(got, want) << "chunk " << chunk;
      else
        EXPECT_TRUE(got.empty()) << "chunk " << chunk;
    }
    // A stream that does not lend still reads.
    ASSERT_EQ(img_seek_line(lender, 0, 0, 0, 0), 0);
    EXPECT_EQ(read_all(lender), want);
    img_close(reader);
    img_close(lender);
  }
}

// Reading and lending share one position, in either order and after a seek.
TEST(TiffLend, SharesThePositionWithReading) {
  ScratchDir dir;
  const std::string path = dir.path("mix.tif");
  Layout l;
  l.rows_per_strip = 2;
  write_file(path, l);
  IMG_file* img = img_mux_open(path.c_str(), nullptr, "r", nullptr, 0);
  ASSERT_NE(img, nullptr);
  const size_t bpl = img->info.bytes_per_line;
  const std::vector<uint8_t> all = read_all(img);
  ASSERT_EQ(img_seek_line(img, 0, 0, 0, 0), 0);
  std::vector<uint8_t> line(bpl);
  ASSERT_EQ(img_read_line(img, line.data(), 1), 1);
  const uint8_t* lent = nullptr;
  ASSERT_EQ(img_lend_lines(img, &lent, 2), 2);
  EXPECT_EQ(0, std::memcmp(lent, all.data() + bpl, 2 * bpl)) << "lines 1 and 2";
  ASSERT_EQ(img_read_line(img, line.data(), 1), 1);
  EXPECT_EQ(0, std::memcmp(line.data(), all.data() + 3 * bpl, bpl)) << "line 3";
  ASSERT_EQ(img_seek_line(img, 1, 0, 0, 0), 1);
  ASSERT_EQ(img_lend_lines(img, &lent, 100), 6) << "no more than the lines left";
  EXPECT_EQ(0, std::memcmp(lent, all.data() + bpl, 6 * bpl));
  img_close(img);
}

// A file whose strip lies past its end, or that ends inside its rows, is
// never lent: its bytes are not there.
TEST(TiffLend, LyingFilesAreNotLent) {
  // Little-endian, one IFD at 8: a 4x2 gray image in one strip at
  // `offset` of `count` bytes; `present` pixel bytes follow the IFD.
  auto make = [](uint32_t offset, uint32_t count, size_t present) {
    std::vector<uint8_t> b = {'I', 'I', 42, 0, 8, 0, 0, 0};
    auto u16 = [&](uint16_t v) {
      b.push_back(uint8_t(v));
      b.push_back(uint8_t(v >> 8));
    };
    auto u32 = [&](uint32_t v) {
      for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
    };
    const uint16_t tags[][2] = {{256, 4}, {257, 2}, {258, 8}, {259, 1}, {262, 1},
                                {273, 0}, {277, 1}, {278, 2}, {279, 0}};
    u16(9);
    for (const auto& t : tags) {
      u16(t[0]);
      u16(t[0] == 273 || t[0] == 279 ? 4 : 3);
      u32(1);
      u32(t[0] == 273 ? offset : t[0] == 279 ? count : t[1]);
    }
    u32(0);
    b.resize(b.size() + present, 0x55);  // the only pixel bytes there are
    return b;
  };
  const uint32_t data_at = 8 + 2 + 9 * 12 + 4;
  struct Case {
    const char* what;
    uint32_t offset, count;
    size_t present;
  };
  ScratchDir dir;
  const std::string path = dir.path("lie.tif");
  for (const Case& c : {Case{"past the end", 4096, 8, 8}, Case{"over the end", data_at + 4, 8, 8},
                        Case{"a file cut short", data_at, 8, 5}}) {
    SCOPED_TRACE(c.what);
    klv::test::write_file(path, make(c.offset, c.count, c.present));
    IMG_file* img = img_mux_open(path.c_str(), nullptr, "r", nullptr, 0);
    if (!img) continue;  // refused at opening: nothing to lend either
    const uint8_t* lent = nullptr;
    EXPECT_EQ(img_lend_lines(img, &lent, 2), 0);
    img_close(img);
  }
  // The honest file lends.
  klv::test::write_file(path, make(data_at, 8, 8));
  IMG_file* img = img_mux_open(path.c_str(), nullptr, "r", nullptr, 0);
  ASSERT_NE(img, nullptr);
  const uint8_t* lent = nullptr;
  ASSERT_EQ(img_lend_lines(img, &lent, 2), 2);
  EXPECT_EQ(lent[0], 0x55);
  EXPECT_EQ(lent[7], 0x55);
  img_close(img);
}

// Through the line filter: lines pass unchanged only at the file's own size
// and layout; a scaling filter reads.
TEST(TiffLend, ThroughTheLineFilterOnlyWhenUnchanged) {
  ScratchDir dir;
  const std::string path = dir.path("f.tif");
  Layout l;
  l.width = 6;
  l.height = 9;
  write_file(path, l);
  IMG_file* plain = img_mux_open(path.c_str(), nullptr, "r", nullptr, 0);
  ASSERT_NE(plain, nullptr);
  const std::vector<uint8_t> want = read_all(plain);
  for (bool scaled : {false, true}) {
    SCOPED_TRACE(scaled ? "scaled" : "same size");
    image_info info;
    init_image_info(&info);
    image_info target = plain->info;
    target.cmap = nullptr;
    target.profile_word = nullptr;
    if (scaled) {
      target.width *= 2;
      target.width_inches *= 2;
    }
    target.bytes_per_line = image_info_line_bytes(&target);
    filter_info opt{};
    opt.stretch = 1;
    IMG_file* f = filter_file_open(path.c_str(), nullptr, "r", &info, 0, &target, &opt);
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(f->info.width, int32_t(l.width) * (scaled ? 2 : 1));
    const std::vector<uint8_t> got = lend_all(f, 4);
    if (scaled)
      EXPECT_TRUE(got.empty());
    else
      EXPECT_EQ(got, want);
    img_close(f);
  }
  img_close(plain);
}

TEST(TiffLend, OtherStreamsLendNothing) {
  ScratchDir dir;
  const std::string path = dir.path("o.tif");
  write_file(path, Layout{});
  const uint8_t* lent = nullptr;
  EXPECT_EQ(img_lend_lines(nullptr, &lent, 1), 0);
  // The class form of the TIFF stream lends as the record form does.
  image_info info;
  init_image_info(&info);
  CIMG_file* obj = tif_img_open(nullptr, path.c_str(), "r", &info);
  ASSERT_NE(obj, nullptr);
  IMG_file* img = obj->ToImg('r', 0);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img_lend_lines(img, &lent, 0), 0) << "no lines asked";
  EXPECT_EQ(img_lend_lines(img, nullptr, 1), 0);
  EXPECT_EQ(img_lend_lines(img, &lent, 3), 3);
  img_close(img);
  // A file being written lends nothing.
  image_info w = info;
  IMG_file* out = img_mux_open(dir.path("w.tif").c_str(), nullptr, "w", &w, KLV_TYPE_TIFF);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(img_lend_lines(out, &lent, 1), 0);
  img_close(out);
}

}  // namespace
