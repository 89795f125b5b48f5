// SPDX-License-Identifier: MIT
// TIFF stream: round trips of every layout and channel combination, the
// fields other programs see, files made by other programs, and bad files.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "klv/img.h"
#include "klv/tiff.h"
#include "support/files.h"
#include "support/log_capture.h"
#include "support/resources.h"

using ScratchDir = klv::test::ScratchFolder;

namespace {

struct Rec {
  void* r = nullptr;
  explicit Rec(void* p) : r(p) {}
  ~Rec() { close(); }
  void close() {
    if (r) tif_close(r);
    r = nullptr;
  }
};

struct Case {
  const char* name;
  uint32_t bits, samples, spot, mask, mask_flag, photometric, hifi;
  uint32_t planar;  // with KLV_PLANAR_TILED for tiles
  uint32_t compression, order, copies;
};

bool tiled(const image_info& i) {
  return (i.planar & KLV_PLANAR_TILED) != 0;
}
uint32_t planes(const image_info& i) {
  return (i.planar & 3) == KLV_PLANAR_PLANES ? i.samples + i.mask_samples : 1;
}

// Unit = one line or one tile; the image is planes × units per plane.
size_t unit_bytes(const image_info& i) {
  return tiled(i) ? i.tile_words[TIF_TILE_BYTES] : i.bytes_per_line;
}
size_t units(const image_info& i) {
  return size_t{planes(i)} * (tiled(i) ? i.tile_words[KLV_TILE_PER_PLANE] : i.height);
}

// The a and b samples of 16-bit Lab keep the 255/256 precision of the file.
uint16_t lab16_exact(uint16_t v) {
  uint32_t u = uint32_t{v} * 65280 / 65535;
  return uint16_t((u * 65535 + 65279) / 65280);
}

std::vector<uint8_t> make_data(const image_info& i, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> data(unit_bytes(i) * units(i));
  for (auto& b : data) b = uint8_t(rng() % 7 == 0 ? 0 : rng());  // some runs of zero
  if (i.photometric == KLV_PHOTO_CIELAB && i.bits_per_sample == 16 && (i.planar & 3) == 0 &&
      !tiled(i)) {
    auto* p = reinterpret_cast<uint16_t*>(data.data());
    const uint32_t spp = i.samples + i.mask_samples;
    for (size_t k = 0; k < data.size() / 2; ++k)
      if (k % spp == 1 || k % spp == 2) p[k] = lab16_exact(p[k]);
  }
  return data;
}

image_info describe(const Case& c) {
  image_info w;
  init_image_info(&w);
  w.width = 37;
  w.height = 21;
  w.bits_per_sample = c.bits;
  w.samples = c.samples;
  w.spot_samples = c.spot;
  w.mask_samples = c.mask;
  w.format_word1 = c.mask_flag;
  w.photometric = c.photometric;
  w.hifi_mode = c.hifi;
  w.planar = c.planar;
  w.compression = c.compression;
  w.format_word2 = c.order;
  w.format_words[0] = c.copies;
  w.xres = 300;
  w.yres = 150;
  if (c.planar & KLV_PLANAR_TILED) {
    w.tile_words[KLV_TILE_WIDTH] = 16;
    w.tile_words[KLV_TILE_HEIGHT] = 16;
  }
  w.bytes_per_line = image_info_line_bytes(&w);
  return w;
}

image_cmap* gray_map(uint32_t entries) {
  auto* m = static_cast<image_cmap*>(calloc(1, sizeof(image_cmap)));
  m->channels = 3;
  m->entries = entries;
  m->photometric = 1;
  for (int c = 0; c < 3; ++c) {
    m->channel[c] = static_cast<uint8_t*>(malloc(entries));
    for (uint32_t k = 0; k < entries; ++k) m->channel[c][k] = uint8_t(k * 255 / (entries - 1) ^ c);
  }
  return m;
}

bool move_all(void* rec, const image_info& i, std::vector<uint8_t>& data, bool reading) {
  const size_t n = units(i), ub = unit_bytes(i);
  if (tiled(i)) {
    if (tif_seek_tile(rec, 0, 0, 0, 0) != 0) return false;
  } else if (tif_seek_line(rec, 0, 0, 0, 0) != 0) {
    return false;
  }
  for (size_t u = 0; u < n; ++u) {
    uint8_t* p = data.data() + u * ub;
    int32_t done = tiled(i) ? (reading ? tif_read_tile(rec, p, 1) : tif_write_tile(rec, p, 1))
                            : (reading ? tif_read_line(rec, p, 1) : tif_write_line(rec, p, 1));
    if (done != 1) return false;
  }
  return true;
}

class TiffRoundTrip : public ::testing::TestWithParam<Case> {};

TEST_P(TiffRoundTrip, ReadsBackWhatWasWritten) {
  const Case& c = GetParam();
  ScratchDir dir;
  const std::string path = dir.path("t.tif");
  image_info w = describe(c);
  std::unique_ptr<image_cmap, int32_t (*)(image_cmap*)> map(nullptr, free_cmap);
  if (c.photometric == KLV_PHOTO_PALETTE) map.reset(gray_map(1u << c.bits));
  w.cmap = map.get();
  const char* custom = c.order == 4 ? "BGRW" : nullptr;
  std::vector<uint8_t> data;
  {
    Rec out(tif_open_ex(nullptr, path.c_str(), "w", &w, custom, nullptr));
    ASSERT_NE(out.r, nullptr);
    data = make_data(w, 7);
    ASSERT_TRUE(move_all(out.r, w, data, false));
  }
  image_info r;
  init_image_info(&r);
  Rec in(tif_open(nullptr, path.c_str(), "r", &r));
  ASSERT_NE(in.r, nullptr);
  EXPECT_EQ(r.width, w.width);
  EXPECT_EQ(r.height, w.height);
  EXPECT_EQ(r.planar, w.planar);
  EXPECT_EQ(r.bits_per_sample, w.bits_per_sample);
  EXPECT_EQ(r.samples, w.samples);
  EXPECT_EQ(r.spot_samples, w.spot_samples);
  EXPECT_EQ(r.mask_samples, w.mask_samples);
  EXPECT_EQ(r.format_word1, w.format_word1) << "mask flag";
  EXPECT_EQ(r.photometric, w.photometric);
  EXPECT_EQ(r.hifi_mode, w.hifi_mode);
  EXPECT_EQ(r.format_word2, w.format_word2) << "colour order";
  EXPECT_EQ(r.bytes_per_line, w.bytes_per_line);
  EXPECT_EQ(r.compression, w.compression);
  EXPECT_EQ(r.format_words[0], w.format_words[0]) << "copies";
  EXPECT_DOUBLE_EQ(r.xres, 300);
  EXPECT_DOUBLE_EQ(r.yres, 150);
  for (int k = 0; k < 8; ++k) EXPECT_EQ(r.tile_words[k], w.tile_words[k]) << "tile word " << k;
  if (custom) {
    EXPECT_STREQ(tif_get_color_order(in.r), custom);
  }
  if (map) {
    std::unique_ptr<image_cmap, int32_t (*)(image_cmap*)> got(tif_get_cmap(in.r), free_cmap);
    EXPECT_EQ(cmap_equal(got.get(), map.get()), 1);
  }
  std::vector<uint8_t> back(data.size());
  ASSERT_TRUE(move_all(in.r, r, back, true));
  EXPECT_EQ(back, data);
}

constexpr uint32_t T = KLV_PLANAR_TILED;
constexpr uint32_t D = TIF_COMPRESS_DEFLATE;
INSTANTIATE_TEST_SUITE_P(Cases, TiffRoundTrip,
                         ::testing::Values(
                             // name, bits, samples, spot, mask, flag, photometric, hifi, planar,
                             // compression, order, copies
                             Case{"gray_ink_8", 8, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0},
                             Case{"gray_light_16_lzw", 16, 1, 0, 0, 0, 1, 0, 0, 1, 0, 0},
                             Case{"gray_1bit", 1, 1, 0, 0, 0, 1, 0, 0, 1, 0, 0},
                             Case{"gray_4bit_mask", 4, 1, 0, 1, 1, 0, 0, 0, 0, 0, 0},
                             Case{"rgb_8_lzw", 8, 3, 0, 0, 0, 1, 0, 0, 1, 0, 3},
                             Case{"rgb_16_deflate", 16, 3, 0, 0, 0, 1, 0, 0, D, 0, 0},
                             Case{"rgb_mask", 8, 3, 0, 1, 1, 1, 0, 0, 0, 0, 0},
                             Case{"cmyk_8", 8, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0},
                             Case{"cmyk_2bit", 2, 4, 0, 0, 0, 0, 0, 0, 1, 0, 0},
                             Case{"cmyk_spot_lzw", 8, 5, 1, 0, 0, 0, 0, 0, 1, 0, 0},
                             Case{"cmyk_spots_mask_extra", 8, 6, 2, 2, 1, 0, 0, 0, D, 0, 0},
                             Case{"rgbw_light", 8, 4, 0, 0, 0, 1, 0, 0, 0, 0, 0},
                             Case{"five_hifi1", 8, 5, 0, 0, 0, 0, 1, 0, 0, 0, 0},
                             Case{"five_hifi0_16", 16, 5, 0, 0, 0, 0, 0, 0, 1, 0, 0},
                             Case{"six_hifi2", 8, 6, 0, 0, 0, 0, 2, 0, 0, 0, 0},
                             Case{"six_hifi3_light", 8, 6, 0, 0, 0, 1, 3, 0, 0, 0, 0},
                             Case{"six_hifi0", 8, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0},
                             Case{"seven_hifi1_light", 8, 7, 0, 0, 0, 1, 1, 0, 0, 0, 0},
                             Case{"seven_hifi0_spot", 8, 8, 1, 0, 0, 0, 0, 0, 0, 0, 0},
                             Case{"spots_only_ink", 8, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0},
                             Case{"spots_only_light", 8, 2, 2, 0, 0, 1, 0, 0, 0, 0, 0},
                             Case{"palette_8", 8, 1, 0, 0, 0, 2, 0, 0, 1, 0, 0},
                             Case{"palette_4", 4, 1, 0, 0, 0, 2, 0, 0, 0, 0, 0},
                             Case{"palette_1", 1, 1, 0, 0, 0, 2, 0, 0, 0, 0, 0},
                             Case{"lab_8", 8, 3, 0, 0, 0, 3, 0, 0, 1, 0, 0},
                             Case{"lab_16", 16, 3, 0, 0, 0, 3, 0, 0, 0, 0, 0},
                             Case{"lab_8_mask", 8, 3, 0, 1, 0, 3, 0, 0, 0, 0, 0},
                             Case{"lab_8_planar", 8, 3, 0, 0, 0, 3, 0, 1, 0, 0, 0},
                             Case{"cmyk_planar_lzw", 8, 4, 0, 0, 0, 0, 0, 1, 1, 0, 0},
                             Case{"cmyk_spot_planar_16", 16, 5, 1, 0, 0, 0, 0, 1, D, 0, 0},
                             Case{"rgb_line_interleaved", 8, 3, 0, 0, 0, 1, 0, 2, 1, 0, 0},
                             Case{"rgbw_wrgb_pixel", 8, 4, 0, 0, 0, 1, 0, 0, 1, 1, 0},
                             Case{"rgbw_wrgb_line_interleaved", 8, 4, 0, 0, 0, 1, 0, 2, 0, 1, 0},
                             Case{"light6_wrmgba_planar", 8, 6, 0, 0, 0, 1, 0, 1, 0, 2, 0},
                             Case{"light6_bagrmw_16", 16, 6, 0, 0, 0, 1, 0, 0, 0, 3, 0},
                             Case{"rgbw_custom_order", 8, 4, 0, 0, 0, 1, 0, 0, 0, 4, 0},
                             Case{"cmyk_tiled", 8, 4, 0, 0, 0, 0, 0, T, 1, 0, 0},
                             Case{"cmyk_tiled_planar", 8, 4, 0, 0, 0, 0, 0, T + 1, D, 0, 0},
                             Case{"rgbw_tiled_line_interleaved_wrgb", 8, 4, 0, 0, 0, 1, 0, T + 2, 0,
                                  1, 0},
                             Case{"gray_tiled_16", 16, 1, 0, 0, 0, 1, 0, T, 0, 0, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

// Opens a written file with libtiff itself, to see the fields as other programs do.
struct Raw {
  TIFF* t;
  explicit Raw(const std::string& path) : t(TIFFOpen(path.c_str(), "r")) {}
  ~Raw() {
    if (t) TIFFClose(t);
  }
  std::string text(ttag_t tag) {
    char* s = nullptr;
    return TIFFGetField(t, tag, &s) && s ? s : "";
  }
  std::string inks() {
    char* s = nullptr;
    uint16_t n = 0;
    if (!TIFFGetField(t, TIFFTAG_INKNAMES, &s) || !TIFFGetField(t, TIFFTAG_NUMBEROFINKS, &n))
      return "";
    std::string out;
    for (uint16_t i = 0; i < n; ++i, s += strlen(s) + 1) out += std::string(i ? "|" : "") + s;
    return out;
  }
  uint16_t u16(ttag_t tag) {
    uint16_t v = 0xffff;
    TIFFGetField(t, tag, &v);
    return v;
  }
};

void write_simple(const std::string& path, image_info w, const char* names = nullptr) {
  w.bytes_per_line = image_info_line_bytes(&w);
  Rec out(tif_open_ex(nullptr, path.c_str(), "w", &w, nullptr, names));
  ASSERT_NE(out.r, nullptr);
  std::vector<uint8_t> line(w.bytes_per_line, 0);
  for (int32_t y = 0; y < w.height; ++y) ASSERT_EQ(tif_write_line(out.r, line.data(), 1), 1);
}

TEST(TiffWrite, FieldsOtherProgramsSee) {
  struct Expect {
    const char* name;
    Case c;
    uint16_t photometric, inkset;
    const char* inks;
    const char* target;
  };
  const Expect cases[] = {
      {"cmyk", {"", 8, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 5, 1, "", ""},
      {"cmyk spot",
       {"", 8, 5, 1, 0, 0, 0, 0, 0, 0, 0, 0},
       5,
       2,
       "Cyan|Magenta|Yellow|Black|Spot",
       ""},
      {"light spots mask extra",
       {"", 8, 2, 2, 2, 1, 1, 0, 0, 0, 0, 0},
       5,
       2,
       "NSpot|Spot1|Mask|Extra",
       ""},
      {"six hifi 2",
       {"", 8, 6, 0, 0, 0, 0, 2, 0, 0, 0, 0},
       5,
       2,
       "Cyan|Magenta|Yellow|Black|Orange|Blue",
       ""},
      {"rgb", {"", 8, 3, 0, 0, 0, 1, 0, 0, 0, 0, 0}, 2, 0xffff, "", ""},
      {"wrgb line-interleaved",
       {"", 8, 4, 0, 0, 0, 1, 0, 2, 0, 1, 0},
       5,
       2,
       "Red|Green|Blue|White",
       "WRGB - LineInt"},
      {"line-interleaved", {"", 8, 3, 0, 0, 0, 1, 0, 2, 0, 0, 0}, 2, 0xffff, "", "LineInt"},
  };
  ScratchDir dir;
  for (const Expect& e : cases) {
    const std::string path = dir.path("f.tif");
    write_simple(path, describe(e.c));
    Raw raw(path);
    ASSERT_NE(raw.t, nullptr) << e.name;
    EXPECT_EQ(raw.u16(TIFFTAG_PHOTOMETRIC), e.photometric) << e.name;
    EXPECT_EQ(raw.u16(TIFFTAG_INKSET), e.inkset) << e.name;
    EXPECT_EQ(raw.inks(), e.inks) << e.name;
    EXPECT_EQ(raw.text(TIFFTAG_TARGETPRINTER), e.target) << e.name;
    EXPECT_EQ(raw.text(TIFFTAG_SOFTWARE), "KELV Tavlon Win32") << e.name;
  }
}

TEST(TiffWrite, ResolutionCopiesLabAndReducedSamples) {
  ScratchDir dir;
  const std::string path = dir.path("a.tif");
  // xres 0 writes 100 on both axes; copies go into ImageDescription.
  image_info w = describe({"", 16, 3, 0, 0, 0, KLV_PHOTO_CIELAB, 0, 0, 0, 0, 12});
  w.xres = w.yres = 0;
  w.bytes_per_line = image_info_line_bytes(&w);
  {
    Rec out(tif_open(nullptr, path.c_str(), "w", &w));
    ASSERT_NE(out.r, nullptr);
    std::vector<uint16_t> line(size_t(w.width) * 3, 0);  // L = a = b = 0
    for (int32_t y = 0; y < w.height; ++y)
      ASSERT_EQ(tif_write_line(out.r, reinterpret_cast<uint8_t*>(line.data()), 1), 1);
  }
  {
    Raw raw(path);
    float xr = 0, yr = 0;
    TIFFGetField(raw.t, TIFFTAG_XRESOLUTION, &xr);
    TIFFGetField(raw.t, TIFFTAG_YRESOLUTION, &yr);
    EXPECT_EQ(xr, 100.f);
    EXPECT_EQ(yr, 100.f);
    EXPECT_EQ(raw.text(TIFFTAG_IMAGEDESCRIPTION), "Data for 12 copies");
    std::vector<uint16_t> row(size_t(w.width) * 3);
    ASSERT_EQ(TIFFReadScanline(raw.t, row.data(), 0, 0), 1);
    EXPECT_EQ(row[0], 0);
    EXPECT_EQ(row[1], 32768) << "a = 0 is written as 32768";
    EXPECT_EQ(row[2], 32768);
  }
  // Compression low byte 3: samples reduced to 2 bits, non-zero kept non-zero.
  image_info g = describe({"", 8, 1, 0, 0, 0, KLV_PHOTO_MINBLACK, 0, 0, 3, 0, 0});
  g.width = 4;
  g.height = 1;
  g.bytes_per_line = 4;
  {
    Rec out(tif_open(nullptr, path.c_str(), "w", &g));
    ASSERT_NE(out.r, nullptr);
    uint8_t line[4] = {0, 1, 0x80, 0xff};
    ASSERT_EQ(tif_write_line(out.r, line, 1), 1);
  }
  Rec in(tif_open(nullptr, path.c_str(), "r", nullptr));
  ASSERT_NE(in.r, nullptr);
  uint8_t line[4];
  ASSERT_EQ(tif_read_line(in.r, line, 1), 1);
  EXPECT_EQ(std::vector<uint8_t>(line, line + 4), (std::vector<uint8_t>{0, 1, 3, 3}));
}

TEST(TiffWrite, CallerInkNamesReadBackAsWritten) {
  // Gray photometrics with several samples: the colour/other split must come
  // from the file's ExtraSamples count, not from libtiff's reading of it.
  struct Named {
    const char* name;
    Case c;
    const char* inks;
    uint16_t photometric;
  };
  const Named cases[] = {
      {"ink, spot and mask",
       {"", 8, 5, 1, 1, 1, KLV_PHOTO_MINWHITE, 0, 0, 0, 0, 0},
       "C\tM\tY\tK\tPANTONE 123\tMask",
       0},
      {"light, two spots",
       {"", 8, 5, 2, 0, 0, KLV_PHOTO_MINBLACK, 0, 0, 0, 0, 0},
       "R\tG\tB\tS1\tS2",
       1},
      {"seven inks, no others",
       {"", 8, 7, 0, 0, 0, KLV_PHOTO_MINWHITE, 0, 0, 0, 0, 0},
       "C\tM\tY\tK\tO\tG\tV",
       0},
  };
  ScratchDir dir;
  for (const Named& n : cases) {
    SCOPED_TRACE(n.name);
    const std::string path = dir.path("a.tif");
    image_info w = describe(n.c);
    w.format_words[1] = TIF_OPT_INK_NAMES;
    write_simple(path, w, n.inks);
    {
      Raw raw(path);
      EXPECT_EQ(raw.u16(TIFFTAG_PHOTOMETRIC), n.photometric);
    }
    image_info r;
    init_image_info(&r);
    Rec in(tif_open(nullptr, path.c_str(), "r", &r));
    ASSERT_NE(in.r, nullptr);
    EXPECT_EQ(r.samples, w.samples);
    EXPECT_EQ(r.spot_samples, w.spot_samples);
    EXPECT_EQ(r.mask_samples, w.mask_samples);
    EXPECT_EQ(r.format_word1, w.format_word1) << "mask flag";
    EXPECT_EQ(r.photometric, w.photometric);
    EXPECT_STREQ(tif_get_ink_names(in.r), n.inks);
  }
}

TEST(TiffWrite, RefusesDescriptions) {
  struct Bad {
    Case c;
    const char* logged;  // part of the line the refusal logs
  };
  const Bad bad[] = {
      {{"12 bits", 12, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0},
       "cannot write this description (bits per sample)"},
      {{"two colours", 8, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "(colour sample count)"},
      {{"eight colours", 8, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "(colour sample count)"},
      {{"thirteen samples", 8, 7, 0, 6, 0, 0, 0, 0, 0, 0, 0}, "(sample counts)"},
      {{"photometric 4", 8, 1, 0, 0, 0, 4, 0, 0, 0, 0, 0}, "(photometric)"},
      {{"palette with spot", 8, 2, 1, 0, 0, 2, 0, 0, 0, 0, 0}, "(palette image)"},
      {{"lab with spot", 8, 4, 1, 0, 0, 3, 0, 0, 0, 0, 0}, "(Lab image)"},
      {{"lab 4 bits", 4, 3, 0, 0, 0, 3, 0, 0, 0, 0, 0}, "(Lab image)"},
      {{"order outside the pixel", 8, 3, 0, 0, 0, 1, 0, 0, 0, 1, 0},
       "colour order \"WRGB\" does not fit 3 samples"},
  };
  // Descriptors only: a colour order or tile offsets that do not fit are
  // found after the file was created, so the scratch folder is not checked.
  klv::test::ResourceCheck resources;
  {
    klv::test::LogCapture log;
    ScratchDir dir;
    for (const Bad& b : bad) {
      image_info w = describe(b.c);
      void* r = tif_open(nullptr, dir.path("x.tif").c_str(), "w", &w);
      EXPECT_EQ(r, nullptr) << b.c.name;
      if (r) tif_close(r);
      const std::string logged = log.Take();
      EXPECT_NE(logged.find(b.logged), std::string::npos) << b.c.name << ": " << logged;
    }
    image_info t = describe({"", 8, 3, 0, 0, 0, 1, 0, T, 0, 0, 0});
    t.tile_words[KLV_TILE_XOFFSET] = 1;
    void* r = tif_open(nullptr, dir.path("x.tif").c_str(), "w", &t);
    EXPECT_EQ(r, nullptr) << "tile offsets";
    if (r) tif_close(r);
    EXPECT_NE(log.Take().find("(offsets 1,0) cannot be written"), std::string::npos);

    // A description the file cannot hold is refused before the file is
    // created: a good file at the path keeps its bytes.
    const std::string good = dir.path("good.tif");
    ASSERT_TRUE(klv::test::write_text(good, "a good file"));
    image_info w = describe(bad[0].c);
    r = tif_open(nullptr, good.c_str(), "w", &w);
    EXPECT_EQ(r, nullptr);
    if (r) tif_close(r);
    EXPECT_EQ(klv::test::read_text(good), "a good file");
  }
  EXPECT_EQ(resources.Leaks(), "");
}

// Writes a file with libtiff directly, as another program would.
template <typename Fields>
void write_raw(const std::string& path, uint32_t width, uint16_t spp, uint16_t bits,
               const std::vector<uint8_t>& pixels, Fields fields) {
  TIFF* t = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(t, nullptr);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, 1);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, spp);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  fields(t);
  std::vector<uint8_t> row = pixels;
  TIFFWriteScanline(t, row.data(), 0, 0);
  TIFFClose(t);
}

TEST(TiffRead, FilesFromOtherWriters) {
  ScratchDir dir;
  const std::string path = dir.path("a.tif");
  // CMYK with Photoshop channel names: GREEN, MASK, ORANGE, a spot.
  {
    std::vector<uint8_t> res = {'8', 'B', 'I', 'M', 0x03, 0xEE, 0, 0, 0, 0, 0, 24};
    for (const char* n : {"GREEN", "MASK", "ORANGE", "Gold"}) {
      res.push_back(uint8_t(strlen(n)));
      res.insert(res.end(), n, n + strlen(n));
    }
    res[11] = uint8_t(res.size() - 12);
    if (res.size() % 2) res.push_back(0);
    write_raw(path, 1, 8, 8, {1, 2, 3, 4, 5, 6, 7, 8}, [&](TIFF* t) {
      TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_SEPARATED);
      uint16_t types[4] = {0, 0, 0, 0};
      TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 4, types);
      TIFFSetField(t, TIFFTAG_PHOTOSHOP, uint32_t(res.size()), res.data());
    });
    image_info r;
    init_image_info(&r);
    Rec in(tif_open(nullptr, path.c_str(), "r", &r));
    ASSERT_NE(in.r, nullptr);
    EXPECT_EQ(r.samples, 7u);
    EXPECT_EQ(r.spot_samples, 1u);
    EXPECT_EQ(r.mask_samples, 1u);
    EXPECT_EQ(r.format_word1, 1u);
    EXPECT_EQ(r.hifi_mode, 0u) << "orange and green";
    uint8_t px[8];
    ASSERT_EQ(tif_read_line(in.r, px, 1), 1);
    // C M Y K, then orange, green, the spot, and the mask last.
    EXPECT_EQ(std::vector<uint8_t>(px, px + 8), (std::vector<uint8_t>{1, 2, 3, 4, 7, 5, 8, 6}));
  }
  // RGB with a fourth sample: three colours and a mask.
  {
    write_raw(path, 1, 4, 8, {9, 8, 7, 6}, [](TIFF* t) {
      TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
      uint16_t types[1] = {EXTRASAMPLE_UNASSALPHA};
      TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, types);
      TIFFSetField(t, TIFFTAG_IMAGEDESCRIPTION, "data for 12 copies");
      TIFFSetField(t, TIFFTAG_XRESOLUTION, 0.0f);
      TIFFSetField(t, TIFFTAG_TARGETPRINTER, "CO=Q");
    });
    image_info r;
    init_image_info(&r);
    Rec in(tif_open(nullptr, path.c_str(), "r", &r));
    ASSERT_NE(in.r, nullptr);
    EXPECT_EQ(r.samples, 3u);
    EXPECT_EQ(r.mask_samples, 1u);
    EXPECT_EQ(r.format_word1, 1u);
    EXPECT_EQ(r.format_words[0], 12u);
    EXPECT_EQ(r.xres, 96.0);
    EXPECT_EQ(r.format_word2, 4u) << "an order that names no channel is kept as text only";
  }
}

// Fixtures made by ImageMagick and tiffcp, read against the samples the tool
// holds (src16.ppm for the RGB ones).
TEST(TiffRead, ToolFixtures) {
  klv::test::Pnm src = klv::test::read_pnm(klv::test::fixture("formats", "src16.ppm"));
  ASSERT_GT(src.width, 0);
  const size_t n = size_t(src.width) * src.height;
  auto open = [](const char* name, image_info* info) {
    init_image_info(info);
    return tif_open(nullptr, klv::test::fixture("formats", name).c_str(), "r", info);
  };
  auto read_lines = [](void* rec, const image_info& i, uint32_t planes = 1) {
    std::vector<uint8_t> all(size_t(i.bytes_per_line) * i.height * planes);
    EXPECT_EQ(tif_read_line(rec, all.data(), int32_t(i.height * planes)),
              int32_t(i.height * planes));
    return all;
  };
  {
    image_info i;
    Rec in(open("separate.tif", &i));
    ASSERT_NE(in.r, nullptr);
    EXPECT_EQ(i.planar, uint32_t(KLV_PLANAR_PLANES));
    EXPECT_EQ(i.compression, 1u);
    std::vector<uint8_t> planes = read_lines(in.r, i, 3);
    for (size_t k = 0; k < n; ++k)
      for (int c = 0; c < 3; ++c) ASSERT_EQ(planes[c * n + k], src.pixels[k * 3 + c]);
  }
  {
    image_info i;
    Rec in(open("rgb16.tif", &i));
    ASSERT_NE(in.r, nullptr);
    EXPECT_EQ(i.bits_per_sample, 16u);
    EXPECT_EQ(i.compression, uint32_t(TIF_COMPRESS_DEFLATE));
    std::vector<uint8_t> all = read_lines(in.r, i);
    const auto* v = reinterpret_cast<const uint16_t*>(all.data());
    for (size_t k = 0; k < n * 3; ++k) ASSERT_EQ(v[k], src.pixels[k] * 257);
  }
  {
    image_info i;
    Rec in(open("palette.tif", &i));
    ASSERT_NE(in.r, nullptr);
    EXPECT_EQ(i.photometric, uint32_t(KLV_PHOTO_PALETTE));
    std::unique_ptr<image_cmap, int32_t (*)(image_cmap*)> map(tif_get_cmap(in.r), free_cmap);
    ASSERT_NE(map, nullptr);
    std::vector<uint8_t> all = read_lines(in.r, i);
    for (int y = 0; y < src.height; ++y)
      for (int x = 0; x < src.width; ++x) {
        const uint8_t b = all[size_t(y) * i.bytes_per_line + x / 2];
        const uint8_t index = (x & 1) ? (b & 15) : (b >> 4);
        for (int c = 0; c < 3; ++c)
          ASSERT_EQ(map->channel[c][index], src.pixels[(size_t(y) * src.width + x) * 3 + c]);
      }
  }
  {
    image_info i;
    Rec in(open("cmyk.tif", &i));
    ASSERT_NE(in.r, nullptr);
    EXPECT_EQ(i.samples, 4u);
    EXPECT_EQ(i.photometric, uint32_t(KLV_PHOTO_MINWHITE));
    EXPECT_EQ(read_lines(in.r, i),
              klv::test::read_file(klv::test::fixture("formats", "cmyk_ref.raw")));
  }
  {
    image_info i;
    Rec in(open("rescm.tif", &i));
    ASSERT_NE(in.r, nullptr);
    EXPECT_NEAR(i.xres, 127.0, 1e-3);
    EXPECT_EQ(read_lines(in.r, i), src.pixels);
  }
  {
    image_info i;
    Rec in(open("icc.tif", &i));
    ASSERT_NE(in.r, nullptr);
    EXPECT_EQ(i.profile_word, reinterpret_cast<void*>(~uintptr_t{0}));
    image_profile* p = tif_get_profile(in.r);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->size, 2576u);
    image_profile* again = tif_get_profile(in.r);
    EXPECT_EQ(again, p) << "shared through the cache";
    checkin_image_profile(again);
    checkin_image_profile(p);
    EXPECT_EQ(read_lines(in.r, i), src.pixels);
  }
  {
    image_info i;
    Rec in(open("tiled.tif", &i));
    ASSERT_NE(in.r, nullptr);
    ASSERT_EQ(i.planar, uint32_t(KLV_PLANAR_TILED));
    EXPECT_EQ(i.tile_words[KLV_TILE_ACROSS], 2u);
    EXPECT_EQ(i.tile_words[KLV_TILE_DOWN], 1u);
    std::vector<uint8_t> tiles(size_t(i.tile_words[TIF_TILE_BYTES]) * 2);
    ASSERT_EQ(tif_read_tile(in.r, tiles.data(), 2), 2);
    for (int y = 0; y < src.height; ++y)
      for (int x = 0; x < src.width; ++x)
        for (int c = 0; c < 3; ++c)
          ASSERT_EQ(tiles[size_t(x / 16) * i.tile_words[TIF_TILE_BYTES] +
                          (size_t(y) * 16 + x % 16) * 3 + c],
                    src.pixels[(size_t(y) * src.width + x) * 3 + c]);
  }
}

// Gray pages of one line, one directory each: {width, value, reduced copy}.
struct RawPage {
  uint32_t width;
  uint8_t value;
  bool reduced;
};
void write_pages(const std::string& path, const std::vector<RawPage>& pages) {
  TIFF* t = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(t, nullptr);
  for (const RawPage& p : pages) {
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, p.width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, 1);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    if (p.reduced) TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE);
    std::vector<uint8_t> row(p.width, p.value);
    TIFFWriteScanline(t, row.data(), 0, 0);
    TIFFWriteDirectory(t);
  }
  TIFFClose(t);
}

// Every full-size directory is a page, reached by a seek that names it from
// the start or the end (a relative seek stays on the page); reduced copies
// are not pages, and a page laid out unlike the first is refused and leaves
// the stream where it was.
TEST(TiffRead, PagesAreTheFilesDirectories) {
  ScratchDir dir;
  const std::string path = dir.path("pages.tif");
  write_pages(path,
              {{4, 10, false}, {2, 99, true}, {4, 20, false}, {4, 30, false}, {3, 40, false}});
  image_info r;
  init_image_info(&r);
  Rec in(tif_open(nullptr, path.c_str(), "r", &r));
  ASSERT_NE(in.r, nullptr);
  EXPECT_EQ(r.pages, 4u);
  const auto value_at = [&](int32_t page, int32_t whence) {
    uint8_t line[4] = {};
    if (tif_seek_line(in.r, 0, 0, page, whence) != 0) return -1;
    return tif_read_line(in.r, line, 1) == 1 ? int(line[0]) : -2;
  };
  EXPECT_EQ(value_at(2, 0), 30);
  EXPECT_EQ(value_at(1, 2), 20) << "the last line of page 2";
  EXPECT_EQ(value_at(0, 0), 10);
  EXPECT_EQ(value_at(2, 0), 30);
  EXPECT_EQ(value_at(5, 1), 30) << "relative: the page stays";
  klv::test::LogCapture log;
  EXPECT_EQ(tif_seek_line(in.r, 0, 0, 3, 0), -1) << "3 pixels wide, unlike page 1";
  EXPECT_NE(log.Take().find("page 4 (3x1"), std::string::npos);
  EXPECT_EQ(tif_seek_line(in.r, 0, 0, 4, 0), -1) << "no such page";
  EXPECT_EQ(value_at(0, 1), 30) << "still on page 3";
  // A file of one page, as before.
  write_pages(path, {{4, 10, false}});
  Rec one(tif_open(nullptr, path.c_str(), "r", &r));
  ASSERT_NE(one.r, nullptr);
  EXPECT_EQ(r.pages, 1u);
  EXPECT_EQ(tif_seek_line(one.r, 0, 0, 1, 0), -1);
  // A page libtiff cannot read after a good one: the good page is the file,
  // read from its own directory (not from the one that failed).
  {
    klv::test::LogCapture quiet;
    Rec broken(tif_open(nullptr, klv::test::fixture("formats", "broken_second_page.tif").c_str(),
                        "r", &r));
    ASSERT_NE(broken.r, nullptr);
    EXPECT_EQ(r.pages, 1u);
    uint8_t lines[8] = {};
    ASSERT_EQ(tif_read_line(broken.r, lines, 2), 2);
    EXPECT_EQ(std::vector<uint8_t>(lines, lines + 8),
              (std::vector<uint8_t>{0, 85, 170, 255, 10, 20, 30, 40}));
  }
}

// Lab pixels have their a and b converted, so a Lab file without them is
// refused rather than read past its lines.
TEST(TiffRead, LabWithoutAAndBIsRefused) {
  ScratchDir dir;
  const std::string path = dir.path("lab1.tif");
  TIFF* t = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(t, nullptr);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 23);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, 2);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_CIELAB);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  std::vector<uint8_t> row(23, 50);
  for (uint32_t y = 0; y < 2; ++y) TIFFWriteScanline(t, row.data(), y, 0);
  TIFFClose(t);
  klv::test::LogCapture log;
  image_info r;
  init_image_info(&r);
  Rec in(tif_open(nullptr, path.c_str(), "r", &r));
  EXPECT_EQ(in.r, nullptr);
  EXPECT_NE(log.Take().find("Lab data of 1 samples"), std::string::npos);
}

TEST(TiffRead, SeekRules) {
  ScratchDir dir;
  const std::string path = dir.path("a.tif");
  image_info w = describe({"", 8, 3, 0, 0, 0, 1, 0, 1, 1, 0, 0});
  std::vector<uint8_t> data = make_data(w, 3);
  {
    Rec out(tif_open(nullptr, path.c_str(), "w", &w));
    ASSERT_NE(out.r, nullptr);
    ASSERT_TRUE(move_all(out.r, w, data, false));
  }
  Rec in(tif_open(nullptr, path.c_str(), "r", nullptr));
  ASSERT_NE(in.r, nullptr);
  EXPECT_EQ(tif_seek_line(in.r, 0, 0, 0, 2), 20) << "last line of the last plane";
  EXPECT_EQ(tif_seek_line(in.r, 25, 0, 0, 0), 4) << "runs on into plane 1";
  EXPECT_EQ(tif_seek_line(in.r, 1000, 0, 0, 0), 20) << "clamped";
  EXPECT_EQ(tif_seek_line(in.r, 0, 3, 0, 0), -1);
  EXPECT_EQ(tif_seek_line(in.r, 0, 0, 1, 0), -1);
  // Backwards and forwards in an LZW file give the written lines.
  std::vector<uint8_t> line(w.bytes_per_line);
  for (int32_t pos : {50, 3, 40, 0, 62}) {
    ASSERT_GE(tif_seek_line(in.r, pos, 0, 0, 0), 0);
    ASSERT_EQ(tif_read_line(in.r, line.data(), 1), 1);
    EXPECT_EQ(0, memcmp(line.data(), &data[size_t(pos) * w.bytes_per_line], line.size())) << pos;
  }
  EXPECT_EQ(tif_seek_line(nullptr, 0, 0, 0, 0), -1);
  EXPECT_EQ(tif_read_line(nullptr, line.data(), 1), 0);
  EXPECT_EQ(tif_get_cmap(nullptr), nullptr);
  EXPECT_EQ(tif_get_profile(nullptr), nullptr);
  EXPECT_EQ(tif_close(nullptr), 0);
}

TEST(TiffRead, DamagedFilesFailQuietlyThroughTheLogger) {
  klv::test::ResourceCheck resources;
  {
    ScratchDir dir;
    const std::string good = dir.path("good.tif");
    image_info w = describe({"", 8, 4, 0, 0, 0, 0, 0, 0, 1, 0, 0});
    std::vector<uint8_t> data = make_data(w, 5);
    {
      Rec out(tif_open(nullptr, good.c_str(), "w", &w));
      ASSERT_NE(out.r, nullptr);
      ASSERT_TRUE(move_all(out.r, w, data, false));
    }
    const std::vector<uint8_t> bytes = klv::test::read_file(good);
    std::mt19937 rng(11);
    testing::internal::CaptureStderr();
    for (int round = 0; round < 60; ++round) {
      std::vector<uint8_t> b = bytes;
      if (round % 3 == 0)
        b.resize(rng() % b.size());
      else
        for (int k = 0; k < 8; ++k) b[rng() % b.size()] = uint8_t(rng());
      const std::string path = dir.path("bad.tif");
      klv::test::write_file(path, b);
      image_info r;
      init_image_info(&r);
      Rec in(tif_open(nullptr, path.c_str(), "r", &r));
      if (!in.r) continue;
      std::vector<uint8_t> line(r.bytes_per_line ? r.bytes_per_line : 1);
      for (int32_t y = 0; y < r.height && y < 64; ++y) tif_read_line(in.r, line.data(), 1);
    }
    const std::string err = testing::internal::GetCapturedStderr();
    // Everything that reached stderr came through the Logger.
    size_t start = 0;
    while (start < err.size()) {
      size_t end = err.find('\n', start);
      if (end == std::string::npos) end = err.size();
      const std::string line = err.substr(start, end - start);
      if (!line.empty()) {
        ASSERT_EQ(line.rfind("klv ", 0), 0u) << line;
      }
      start = end + 1;
    }
  }
  EXPECT_EQ(resources.Leaks(), "");
}

}  // namespace
