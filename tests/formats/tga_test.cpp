// SPDX-License-Identifier: MIT
// TGA stream: files of every type and origin made by netpbm, GraphicsMagick
// and PIL decode to the samples PIL decodes; what we write PIL reads back;
// hand-built files pin the pixel rules, run-length packets across rows and
// seeking.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "klv/imgmux.h"
#include "klv/tga.h"
#include "peer_tools.h"
#include "support/files.h"
#include "support/log_capture.h"

using klv::test::decode_file;
using klv::test::Decoded;
using klv::test::have_tool;
using klv::test::Raster;
using klv::test::run_shell;
using klv::test::ScratchFolder;

namespace {

const char kPython[] = "/usr/bin/python3";

Raster picture(int depth, int colours = 0) {
  Raster r;
  r.width = 23;
  r.height = 13;
  r.depth = depth;
  for (int y = 0; y < r.height; ++y)
    for (int x = 0; x < r.width; ++x)
      for (int c = 0; c < depth; ++c) {
        const int k = colours ? (x / 3 + y) % colours : x * 11 + y * 17;
        r.samples.push_back(uint16_t((k * 41 + c * 70 + (x > 15 ? 0 : c * k)) % 256));
      }
  return r;
}

// What PIL decodes: samples of `mode` ("L", "RGB" or "RGBA"), row by row.
std::vector<uint8_t> pil_samples(const ScratchFolder& dir, const std::string& file,
                                 const char* mode) {
  const std::string out = dir.path("pil.raw");
  if (!run_shell(std::string(kPython) + " -c \"from PIL import Image\nopen('" + out +
                 "', 'wb').write(Image.open('" + file + "').convert('" + mode + "').tobytes())\""))
    return {};
  return klv::test::read_file(out);
}

// Our samples in PIL's form: palette indices looked up, the fourth sample
// (255 - alpha) turned back into alpha.
std::vector<uint8_t> as_pil(const Decoded& d) {
  std::vector<uint8_t> out;
  const uint32_t n = d.info.samples;
  for (size_t i = 0; i < d.lines.size(); ++i) {
    if (d.info.photometric == KLV_PHOTO_PALETTE) {
      for (int k = 0; k < 3; ++k) out.push_back(d.map.at(size_t(d.lines[i]) * 3 + k));
      continue;
    }
    out.push_back(n == 4 && i % 4 == 3 ? uint8_t(255 - d.lines[i]) : d.lines[i]);
  }
  return out;
}

// The same file with each row stored right to left (descriptor bit 0x10):
// only for raw files.
std::vector<uint8_t> mirrored(std::vector<uint8_t> f) {
  const uint32_t w = f[12] | f[13] << 8, h = f[14] | f[15] << 8, bpp = (f[16] + 7) / 8;
  const size_t map = f[1] ? size_t(f[5] | f[6] << 8) * ((f[7] + 7) / 8) : 0;
  const size_t start = 18 + f[0] + map;
  for (uint32_t y = 0; y < h; ++y) {
    uint8_t* row = f.data() + start + size_t(y) * w * bpp;
    for (uint32_t a = 0, b = w - 1; a < b; ++a, --b)
      std::swap_ranges(row + a * bpp, row + (a + 1) * bpp, row + b * bpp);
  }
  f[17] ^= 0x10;
  return f;
}

struct PeerCase {
  const char* name;
  int depth;         // source channels
  int colours;       // a picture of few colours (for colour maps)
  const char* make;  // shell line: {in} source, {out} TGA
  const char* mode;  // PIL mode to compare in
  uint8_t type;      // image type the file must have
  bool mirror;       // also check the right-to-left copy (raw files)
  std::vector<std::string> tools;
};

const PeerCase kPeerCases[] = {
    {"netpbm_rgb_raw", 3, 0, "ppmtotga -rgb -norle {in} > {out}", "RGB", 2, true, {"ppmtotga"}},
    {"netpbm_rgb_rle", 3, 0, "ppmtotga -rgb {in} > {out}", "RGB", 10, false, {"ppmtotga"}},
    {"netpbm_mapped_raw", 3, 9, "ppmtotga -cmap -norle {in} > {out}", "RGB", 1, true, {"ppmtotga"}},
    {"netpbm_mapped_rle", 3, 9, "ppmtotga -cmap {in} > {out}", "RGB", 9, false, {"ppmtotga"}},
    {"netpbm_gray_raw", 1, 0, "ppmtotga -mono -norle {in} > {out}", "L", 3, true, {"ppmtotga"}},
    {"netpbm_gray_rle", 1, 0, "ppmtotga -mono {in} > {out}", "L", 11, false, {"ppmtotga"}},
    {"gm_rgb", 3, 0, "gm convert {in} tga:{out}", "RGB", 2, true, {"gm"}},
    {"gm_palette", 3, 9, "gm convert {in} -type Palette tga:{out}", "RGB", 1, true, {"gm"}},
    {"gm_gray", 1, 0, "gm convert {in} tga:{out}", "L", 3, true, {"gm"}},
    {"pil_rgba_top_raw",
     4,
     0,
     "/usr/bin/python3 -c \"from PIL import Image; Image.frombytes('RGBA', (23, 13), "
     "open('{in}', 'rb').read()).save('{out}', orientation=1)\"",
     "RGBA",
     2,
     true,
     {kPython}},
    {"pil_rgba_bottom_rle",
     4,
     0,
     "/usr/bin/python3 -c \"from PIL import Image; Image.frombytes('RGBA', (23, 13), "
     "open('{in}', 'rb').read()).save('{out}', orientation=-1, compression='tga_rle')\"",
     "RGBA",
     10,
     false,
     {kPython}},
    {"pil_rgb_top_rle",
     3,
     0,
     "/usr/bin/python3 -c \"from PIL import Image; Image.open('{in}').save('{out}', "
     "orientation=1, compression='tga_rle')\"",
     "RGB",
     10,
     false,
     {kPython}},
    {"pil_gray_top_rle",
     1,
     0,
     "/usr/bin/python3 -c \"from PIL import Image; Image.open('{in}').save('{out}', "
     "orientation=1, compression='tga_rle')\"",
     "L",
     11,
     false,
     {kPython}},
    {"pil_palette_top_rle",
     3,
     9,
     "/usr/bin/python3 -c \"from PIL import Image; Image.open('{in}').convert('P', "
     "palette=Image.ADAPTIVE).save('{out}', orientation=1, compression='tga_rle')\"",
     "RGB",
     9,
     false,
     {kPython}},
};

std::string fill(std::string line, const std::string& in, const std::string& out) {
  for (auto [key, value] : {std::pair<std::string, std::string>{"{in}", in}, {"{out}", out}})
    for (size_t at; (at = line.find(key)) != std::string::npos;)
      line.replace(at, key.size(), value);
  return line;
}

class TgaPeers : public ::testing::TestWithParam<PeerCase> {};

TEST_P(TgaPeers, DecodeToThePeersSamples) {
  const PeerCase& c = GetParam();
  for (const auto& t : c.tools)
    if (!have_tool(t) || !have_tool(kPython)) GTEST_SKIP() << "needs " << t << " and PIL";
  ScratchFolder dir("tga");
  const std::string src =
      dir.path(c.depth == 4 ? "src.raw" : (c.depth == 1 ? "src.pgm" : "src.ppm"));
  const std::string tga = dir.path("peer.tga");
  const Raster pic = picture(c.depth, c.colours);
  // PIL takes RGBA samples raw.
  ASSERT_TRUE(c.depth == 4 ? klv::test::write_file(
                                 src, std::vector<uint8_t>(pic.samples.begin(), pic.samples.end()))
                           : write_netpbm(src, pic));
  ASSERT_TRUE(run_shell(fill(c.make, src, tga))) << c.name;
  auto bytes = klv::test::read_file(tga);
  ASSERT_GT(bytes.size(), 18u);
  ASSERT_EQ(bytes[2], c.type) << c.name;
  const auto want = pil_samples(dir, tga, c.mode);
  ASSERT_FALSE(want.empty());
  Decoded ours;
  ASSERT_TRUE(decode_file(tga, KLV_TYPE_RECOGNISE, &ours)) << c.name;
  EXPECT_EQ(ours.type, KLV_TYPE_TGA);
  EXPECT_EQ(ours.info.compression, (c.type & 8) ? 1u : 0u);
  EXPECT_EQ(as_pil(ours), want) << c.name;
  if (!c.mirror) return;
  const std::string flipped = dir.path("mirror.tga");
  ASSERT_TRUE(klv::test::write_file(flipped, mirrored(bytes)));
  Decoded m;
  ASSERT_TRUE(decode_file(flipped, KLV_TYPE_RECOGNISE, &m));
  EXPECT_EQ(m.lines, ours.lines) << c.name << " stored right to left";
}

INSTANTIATE_TEST_SUITE_P(Files, TgaPeers, ::testing::ValuesIn(kPeerCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- writing ----

struct WriteCase {
  const char* name;
  uint32_t samples, photometric, compression;
  uint8_t type;
  const char* mode;
};

class TgaWrite : public ::testing::TestWithParam<WriteCase> {};

TEST_P(TgaWrite, PilReadsWhatWeWriteAndSoDoWe) {
  const WriteCase& c = GetParam();
  if (!have_tool(kPython)) GTEST_SKIP() << "needs PIL";
  ScratchFolder dir("tga");
  const std::string tga = dir.path("ours.tga");
  image_info info;
  init_image_info(&info);
  info.width = 31;
  info.height = 9;
  info.samples = c.samples;
  info.bits_per_sample = 8;
  info.photometric = c.photometric;
  info.compression = c.compression;
  image_cmap* map = nullptr;
  if (c.photometric == KLV_PHOTO_PALETTE) {
    map = static_cast<image_cmap*>(std::calloc(1, sizeof(image_cmap)));
    map->channels = 3;
    map->entries = 256;
    map->photometric = 1;
    for (int k = 0; k < 3; ++k) {
      map->channel[k] = static_cast<uint8_t*>(std::malloc(256));
      for (int i = 0; i < 256; ++i) map->channel[k][i] = uint8_t(i * 7 + k * 50);
    }
    info.cmap = map;
  }
  IMG_file* img = img_mux_open(tga.c_str(), nullptr, "wb", &info, KLV_TYPE_TGA);
  ASSERT_NE(img, nullptr);
  std::vector<uint8_t> lines(size_t(info.bytes_per_line) * info.height);
  // Runs and noise, so that both packet kinds appear.
  for (size_t i = 0; i < lines.size(); ++i)
    lines[i] = (i / c.samples) % 31 < 12 ? uint8_t(i % c.samples * 60) : uint8_t(i * 37 + i / 11);
  EXPECT_EQ(img_write_line(img, lines.data(), info.height), info.height);
  EXPECT_EQ(img_close_status(img), 0);
  const auto bytes = klv::test::read_file(tga);
  EXPECT_EQ(bytes[2], c.type);
  EXPECT_EQ(bytes[17] & 0x30, 0x20) << "rows top to bottom";
  Decoded ours;
  ASSERT_TRUE(decode_file(tga, KLV_TYPE_RECOGNISE, &ours));
  EXPECT_EQ(ours.lines, lines) << "reads back unchanged";
  EXPECT_EQ(as_pil(ours), pil_samples(dir, tga, c.mode));
  free_cmap(map);
}

const WriteCase kWriteCases[] = {
    {"gray_raw", 1, KLV_PHOTO_MINBLACK, 0, 3, "L"},
    {"gray_rle", 1, KLV_PHOTO_MINBLACK, 1, 11, "L"},
    {"rgb_raw", 3, KLV_PHOTO_MINBLACK, 0, 2, "RGB"},
    {"rgb_rle", 3, KLV_PHOTO_MINBLACK, 1, 10, "RGB"},
    {"rgba_raw", 4, KLV_PHOTO_MINBLACK, 0, 2, "RGBA"},
    {"rgba_rle", 4, KLV_PHOTO_MINBLACK, 1, 10, "RGBA"},
    {"mapped_raw", 1, KLV_PHOTO_PALETTE, 0, 1, "RGB"},
    {"mapped_rle", 1, KLV_PHOTO_PALETTE, 1, 9, "RGB"},
};
INSTANTIATE_TEST_SUITE_P(Kinds, TgaWrite, ::testing::ValuesIn(kWriteCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- hand-built files ----

std::vector<uint8_t> header(uint8_t type, uint16_t w, uint16_t h, uint8_t depth, uint8_t desc) {
  std::vector<uint8_t> f(18, 0);
  f[2] = type;
  f[12] = uint8_t(w);
  f[13] = uint8_t(w >> 8);
  f[14] = uint8_t(h);
  f[15] = uint8_t(h >> 8);
  f[16] = depth;
  f[17] = desc;
  return f;
}

std::vector<uint8_t> read_all(const std::string& path, image_info* info) {
  void* st = tga_open(path.c_str(), nullptr, "rb", info);
  if (!st) return {};
  std::vector<uint8_t> out(size_t(info->bytes_per_line) * info->height);
  const int32_t got = tga_read_line(st, out.data(), info->height);
  tga_close(st);
  return got == info->height ? out : std::vector<uint8_t>{};
}

TEST(TgaPixels, SixteenBitPixelsAndBottomToTopRows) {
  ScratchFolder dir("tga");
  // 2 x 2, bottom to top: the first stored row is image line 1.
  auto f = header(2, 2, 2, 16, 0);
  for (uint16_t v : {0xFFFF, 0x7C00, 0x03E0, 0x001F}) {
    f.push_back(uint8_t(v));
    f.push_back(uint8_t(v >> 8));
  }
  const std::string path = dir.path("p16.tga");
  ASSERT_TRUE(klv::test::write_file(path, f));
  image_info info;
  const auto got = read_all(path, &info);
  EXPECT_EQ(info.samples, 3u);
  EXPECT_EQ(got, (std::vector<uint8_t>{0, 248, 0, 0, 0, 248,  // line 0: stored second
                                       248, 248, 248, 248, 0, 0}));
}

TEST(TgaRle, PacketsRunAcrossRowsAndSeeksGiveTheSameRows) {
  ScratchFolder dir("tga");
  // 3 x 3 gray, top to bottom: a run of 4 (crosses row 0 into row 1), a
  // literal of 4 (crosses row 1 into row 2), a run of 1.
  auto f = header(11, 3, 3, 8, 0x20);
  for (uint8_t b : {0x83, 10, 0x03, 1, 2, 3, 4, 0x80, 99}) f.push_back(b);
  const std::string path = dir.path("rle.tga");
  ASSERT_TRUE(klv::test::write_file(path, f));
  image_info info;
  const std::vector<uint8_t> want = {10, 10, 10, 10, 1, 2, 3, 4, 99};
  EXPECT_EQ(read_all(path, &info), want);
  void* st = tga_open(path.c_str(), nullptr, "rb", &info);
  ASSERT_NE(st, nullptr);
  uint8_t line[3];
  for (int32_t y : {2, 0, 1, 1, 2, 0}) {
    ASSERT_EQ(tga_seek_line(st, y, 0, 0, 0), y);
    ASSERT_EQ(tga_read_line(st, line, 1), 1);
    EXPECT_EQ(0, std::memcmp(line, want.data() + 3 * y, 3)) << y;
  }
  EXPECT_EQ(tga_seek_line(st, 0, 0, 1, 0), -1);
  tga_close(st);
}

TEST(TgaPixels, AlphaReadsInvertedAndColourMapOffset) {
  ScratchFolder dir("tga");
  auto f = header(2, 1, 1, 32, 0x28);
  for (uint8_t b : {1, 2, 3, 255}) f.push_back(b);
  const std::string path = dir.path("a.tga");
  ASSERT_TRUE(klv::test::write_file(path, f));
  image_info info;
  EXPECT_EQ(read_all(path, &info), (std::vector<uint8_t>{3, 2, 1, 0}));
  // A map whose first entry is 5: pixel value 6 takes the second stored entry.
  auto m = header(1, 1, 1, 8, 0x20);
  m[1] = 1;
  m[3] = 5;
  m[5] = 2;
  m[7] = 24;
  for (uint8_t b : {10, 20, 30, 40, 50, 60, 6}) m.push_back(b);
  ASSERT_TRUE(klv::test::write_file(path, m));
  Decoded d;
  ASSERT_TRUE(decode_file(path, KLV_TYPE_TGA, &d));
  EXPECT_EQ(d.lines, std::vector<uint8_t>{6});
  ASSERT_GE(d.map.size(), 21u);
  EXPECT_EQ(std::vector<uint8_t>(d.map.begin() + 18, d.map.begin() + 21),
            (std::vector<uint8_t>{60, 50, 40}));
}

TEST(TgaDamage, BadHeadersAndShortFilesAreRefused) {
  ScratchFolder dir("tga");
  klv::test::LogCapture log;
  auto good = header(2, 4, 4, 24, 0);
  good.resize(18 + 48, 7);
  const struct {
    const char* name;
    size_t at;
    uint8_t value;
    size_t keep;
  } cases[] = {{"map type 2", 1, 2, 0},      {"image type 4", 2, 4, 0},
               {"depth 12", 16, 12, 0},      {"zero width", 12, 0, 0},
               {"rows cut short", 0, 0, 40}, {"mapped without map", 2, 1, 0}};
  for (const auto& c : cases) {
    auto f = good;
    if (c.keep)
      f.resize(c.keep);
    else
      f[c.at] = c.value;
    const std::string path = dir.path("bad.tga");
    ASSERT_TRUE(klv::test::write_file(path, f));
    image_info info;
    EXPECT_EQ(tga_open(path.c_str(), nullptr, "rb", &info), nullptr) << c.name;
  }
  // A cut run-length file opens and stops at the missing row.
  auto rle = header(10, 4, 4, 24, 0x20);
  for (int i = 0; i < 2; ++i) rle.insert(rle.end(), {0x83, 1, 2, 3});
  const std::string path = dir.path("cut.tga");
  ASSERT_TRUE(klv::test::write_file(path, rle));
  image_info info;
  void* st = tga_open(path.c_str(), nullptr, "rb", &info);
  ASSERT_NE(st, nullptr);
  std::vector<uint8_t> lines(12 * 4);
  EXPECT_EQ(tga_read_line(st, lines.data(), 4), 2);
  tga_close(st);
}

}  // namespace
