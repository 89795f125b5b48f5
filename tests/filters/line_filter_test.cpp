// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "img/filter_internal.h"
#include "support/image.h"
#include "klv/filter.h"

using namespace klv::test;

namespace {

IMG_file* mem(const image_info& i, std::vector<uint8_t> d) {
  return (new MemImage(i, std::move(d)))->ToImg('r', 13);
}

// Attaches, reads every line, closes.
std::vector<uint8_t> pull(IMG_file* src, image_info* target, const filter_info* opt = nullptr,
                          image_info* out_info = nullptr) {
  filter_rec* f = filter_attach(src, target, opt);
  EXPECT_NE(f, nullptr);
  if (!f) return {};
  IMG_file* img = filter_to_img(f);
  if (out_info) *out_info = img->info;
  std::vector<uint8_t> out(size_t(img->info.bytes_per_line) * img->info.height);
  EXPECT_EQ(img_read_line(img, out.data(), img->info.height), img->info.height);
  img_close(img);
  return out;
}

}  // namespace

TEST(LineFilter, CountTables) {
  struct Case {
    uint32_t in, out;
    std::vector<uint16_t> want;
  } cases[] = {
      {4, 2, {1, 0, 1, 0}},    {2, 4, {2, 2}}, {3, 3, {1, 1, 1}},
      {5, 2, {1, 0, 0, 1, 0}}, {2, 5, {3, 2}}, {10, 12, {2, 1, 1, 1, 1, 2, 1, 1, 1, 1}},
  };
  for (const auto& c : cases) {
    auto t = klv::img::count_table(c.in, c.out);
    EXPECT_EQ(t, c.want) << c.in << "->" << c.out;
    uint32_t sum = 0;
    for (auto v : t) sum += v;
    EXPECT_EQ(sum, c.out);
  }
}

TEST(LineFilter, NullTargetDeliversSourceUnchanged) {
  image_info i = describe(5, 3, 3, 8, 1);
  std::vector<uint8_t> d(45);
  for (size_t k = 0; k < d.size(); ++k) d[k] = uint8_t(k * 3);
  image_info o;
  EXPECT_EQ(pull(mem(i, d), nullptr, nullptr, &o), d);
  EXPECT_EQ(o.width, 5);
  EXPECT_EQ(o.height, 3);
  EXPECT_EQ(o.samples, 3u);
  EXPECT_EQ(o.planar, 0u);
}

TEST(LineFilter, LowBitExpansionAndInversion) {
  // 1-bit gray 10110000 -> 8-bit.
  struct Case {
    uint32_t in_photo, out_photo;
    std::vector<uint8_t> want;
  } cases[] = {
      {1, 1, {255, 0, 255, 255, 0}}, {0, 1, {0, 255, 0, 0, 255}}, {1, 0, {0, 255, 0, 0, 255}}};
  for (const auto& c : cases) {
    image_info i = describe(5, 1, 1, 1, c.in_photo);
    image_info t = describe(0, 0, 1, 8, c.out_photo);
    EXPECT_EQ(pull(mem(i, {0xB0}), &t), c.want);
  }
  // 2-bit to 8-bit: i * 255 / 3.
  image_info i = describe(4, 1, 1, 2, 1);
  image_info t = describe(0, 0, 1, 8, 1);
  EXPECT_EQ(pull(mem(i, {0x1B}), &t), (std::vector<uint8_t>{0, 85, 170, 255}));
}

TEST(LineFilter, ReplicationAndCropWindows) {
  image_info i = describe(8, 1, 1, 8, 1);
  std::vector<uint8_t> d = {0, 1, 2, 3, 4, 5, 6, 7};
  image_info half = describe(4, 1, 1, 8, 1);
  half.height = 1;
  filter_info opt{};
  opt.stretch = 1;
  EXPECT_EQ(pull(mem(i, d), &half, &opt), (std::vector<uint8_t>{0, 2, 4, 6}));
  image_info dbl = describe(16, 1, 1, 8, 1);
  EXPECT_EQ(pull(mem(i, d), &dbl, &opt),
            (std::vector<uint8_t>{0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7}));
  // Crop window of pixels 3..6 of a 10-pixel line, unscaled.
  image_info w10 = describe(10, 1, 1, 8, 1);
  std::vector<uint8_t> d10 = {10, 11, 12, 13, 14, 15, 16, 17, 18, 19};
  image_info c = describe(0, 0, 1, 8, 1);
  c.crop.x1 = 3.0 / 9;
  c.crop.x2 = 6.0 / 9;
  EXPECT_EQ(pull(mem(w10, d10), &c), (std::vector<uint8_t>{13, 14, 15, 16}));
}

TEST(LineFilter, PackedCropRealignsBits) {
  // 1-bit 16 pixels 0xF0 0x0F; crop pixels 2..9 -> 0xC0, 4..11 -> 0x00, 6..13 -> 0x03.
  struct Case {
    int a, b;
    uint8_t want;
  } cases[] = {{2, 9, 0xC0}, {4, 11, 0x00}, {6, 13, 0x03}, {0, 4, 0xF0}};
  for (const auto& c : cases) {
    image_info i = describe(16, 1, 1, 1, 1);
    image_info t = describe(0, 0, 1, 1, 1);
    t.crop.x1 = c.a / 15.0;
    t.crop.x2 = c.b / 15.0;
    auto got = pull(mem(i, {0xF0, 0x0F}), &t);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got[0], c.want) << c.a << ".." << c.b;
  }
}

TEST(LineFilter, ColourConversionsMatchIndependentArithmetic) {
  std::vector<uint8_t> rgb;
  for (int k = 0; k < 64; ++k)
    rgb.push_back(uint8_t(k * 37)), rgb.push_back(uint8_t(k * 91)),
        rgb.push_back(uint8_t(255 - k * 5));
  image_info i = describe(64, 1, 3, 8, 1);
  image_info g = describe(0, 0, 1, 8, 1);
  auto gray = pull(mem(i, rgb), &g);
  for (int k = 0; k < 64; ++k) {
    int r = rgb[k * 3], gg = rgb[k * 3 + 1], b = rgb[k * 3 + 2];
    EXPECT_EQ(gray[k], int(0.3 * r + 0.5) + int(0.59 * gg + 0.5) + int(0.11 * b + 0.5));
  }
  // Ink CMYK (photometric 0) to RGB, plain and soft black.
  std::vector<uint8_t> cmyk;
  for (int k = 0; k < 64; ++k)
    for (int s = 0; s < 4; ++s) cmyk.push_back(uint8_t((k * (s + 3) * 29) & 255));
  for (int soft : {0, 1}) {
    image_info ci = describe(64, 1, 4, 8, 0);
    image_info t = describe(0, 0, 3, 8, 1);
    filter_info opt{};
    opt.soft_black = uint8_t(soft);
    auto out = pull(mem(ci, cmyk), &t, &opt);
    int a = soft ? 14 : 0, b = soft ? 269 : 255;
    for (int k = 0; k < 64; ++k) {
      int W = 255 - cmyk[k * 4 + 3];
      for (int s = 0; s < 3; ++s) EXPECT_EQ(out[k * 3 + s], (255 - cmyk[k * 4 + s]) * (W + a) / b);
    }
  }
  // 16-bit gray to 8-bit gray keeps the high byte; 8 to 16 repeats the byte.
  image_info i16 = describe(2, 1, 1, 16, 1);
  std::vector<uint8_t> d16(4);
  uint16_t v16[2] = {0x1234, 0xFFFF};
  std::memcpy(d16.data(), v16, 4);
  image_info t8 = describe(0, 0, 1, 8, 1);
  EXPECT_EQ(pull(mem(i16, d16), &t8), (std::vector<uint8_t>{0x12, 0xFF}));
  image_info t16 = describe(0, 0, 1, 16, 1);
  auto w = pull(mem(describe(2, 1, 1, 8, 1), {0x12, 0x80}), &t16);
  uint16_t back[2];
  std::memcpy(back, w.data(), 4);
  EXPECT_EQ(back[0], 0x1212);
  EXPECT_EQ(back[1], 0x8080);
}

TEST(LineFilter, ExtendedInkSetsRoundTrip) {
  // CMYK inks -> 7 colours (red, green, blue) -> CMYK gives the inks back; the
  // extension is the common part of each pair, taken in order.
  std::vector<uint8_t> cmyk = {200, 100, 150, 10, 0, 255, 255, 0, 255, 255, 0, 40, 30, 30, 30, 30};
  image_info ci = describe(4, 1, 4, 8, 0);
  image_info t7 = describe(0, 0, 7, 8, 0);
  t7.hifi_mode = 0;
  auto seven = pull(mem(ci, cmyk), &t7);
  ASSERT_EQ(seven.size(), 28u);
  for (int k = 0; k < 4; ++k) {
    int C = cmyk[k * 4], M = cmyk[k * 4 + 1], Y = cmyk[k * 4 + 2];
    int r = std::min(M, Y);
    M -= r, Y -= r;
    int g = std::min(C, Y);
    C -= g, Y -= g;
    int b = std::min(C, M);
    C -= b, M -= b;
    std::vector<uint8_t> want = {uint8_t(C), uint8_t(M), uint8_t(Y), cmyk[k * 4 + 3],
                                 uint8_t(r), uint8_t(g), uint8_t(b)};
    EXPECT_EQ(std::vector<uint8_t>(seven.begin() + k * 7, seven.begin() + k * 7 + 7), want) << k;
  }
  image_info si = describe(4, 1, 7, 8, 0);
  image_info t4 = describe(0, 0, 4, 8, 0);
  EXPECT_EQ(pull(mem(si, seven), &t4), cmyk);
}

TEST(LineFilter, VerticalAveragingAndSeeking) {
  image_info i = describe(2, 4, 1, 8, 1);
  std::vector<uint8_t> d = {10, 20, 30, 40, 50, 60, 71, 80};
  image_info t = describe(2, 2, 1, 8, 1);
  filter_info opt{};
  opt.stretch = 1;
  opt.average = 1;
  // Output 0 is line 0; output 1 averages line 1 (dropped) with line 2 (kept).
  EXPECT_EQ(pull(mem(i, d), &t, &opt), (std::vector<uint8_t>{10, 20, 40, 50}));
  filter_rec* f = filter_attach(mem(i, d), &t, &opt);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(filter_seek_line(f, 0, 1, 0, 0), -1);
  EXPECT_EQ(filter_seek_line(f, 50, 0, 0, 0), 1);  // clamps to the last line
  uint8_t line[2];
  ASSERT_EQ(filter_read_line(f, line, 1), 1);
  EXPECT_EQ(line[0], 40);
  EXPECT_EQ(filter_read_line(f, line, 1), 0);
  EXPECT_EQ(filter_write_line(f, line, 1), 0);
  filter_close(f);
}

TEST(LineFilter, RefusedAttachments) {
  image_info five = describe_masked(2, 2, 1, 8, 1, 5);
  EXPECT_EQ(filter_attach(mem(five, std::vector<uint8_t>(24)), nullptr, nullptr), nullptr);
  image_info odd = describe(2, 2, 1, 12, 1);
  EXPECT_EQ(filter_attach(mem(odd, std::vector<uint8_t>(12)), nullptr, nullptr), nullptr);
  image_info pal = describe(2, 2, 1, 8, KLV_PHOTO_PALETTE);
  EXPECT_EQ(filter_attach(mem(pal, std::vector<uint8_t>(4)), nullptr, nullptr), nullptr);
  image_info rgb = describe(2, 2, 3, 8, 1);
  image_info badpal = describe(0, 0, 1, 8, KLV_PHOTO_PALETTE);  // no map
  EXPECT_EQ(filter_attach(mem(rgb, std::vector<uint8_t>(12)), &badpal, nullptr), nullptr);
  EXPECT_EQ(filter_attach(nullptr, nullptr, nullptr), nullptr);
}

TEST(LineFilter, StandardMapsAndQuantiser) {
  EXPECT_EQ(filter_create_cmap(100), nullptr);
  image_cmap* m236 = filter_create_cmap(236);
  ASSERT_NE(m236, nullptr);
  EXPECT_EQ(m236->entries, 236u);
  for (int e = 0; e < 210; ++e) {
    int r = m236->channel[0][e], g = m236->channel[1][e], b = m236->channel[2][e];
    EXPECT_FALSE(r == g && g == b) << e;
    EXPECT_EQ(r % 51 + g % 51 + b % 51, 0);
  }
  EXPECT_EQ(m236->channel[0][210 + 25], 255);
  EXPECT_EQ(m236->channel[0][210 + 1], 10);  // trunc(255 / 25 + 0.5)
  image_cmap* m16 = filter_create_cmap(16);
  EXPECT_EQ(m16->channel[0][8], 192);
  EXPECT_EQ(m16->channel[2][15], 255);
  free_cmap(m16);
  image_cmap* m256 = filter_create_cmap(256);
  EXPECT_EQ(m256->channel[1][45], 255);
  free_cmap(m256);

  // Pixels equal to map entries on cube levels quantise to those entries.
  const uint8_t colours[][3] = {{255, 0, 0}, {0, 0, 255}, {255, 255, 0}, {0, 255, 255}};
  std::vector<uint8_t> rgb;
  for (int k = 0; k < 40; ++k)
    for (int s = 0; s < 3; ++s) rgb.push_back(colours[k / 10][s]);
  image_info i = describe(40, 2, 3, 8, 1);
  rgb.insert(rgb.end(), rgb.begin(), rgb.end());
  image_info t = describe(0, 0, 1, 8, KLV_PHOTO_PALETTE);
  t.cmap = m236;
  auto idx = pull(mem(i, rgb), &t);
  ASSERT_EQ(idx.size(), 80u);
  for (int k = 0; k < 80; ++k) {
    int e = idx[k];
    const uint8_t* c = colours[(k % 40) / 10];
    EXPECT_EQ(m236->channel[0][e], c[0]);
    EXPECT_EQ(m236->channel[1][e], c[1]);
    EXPECT_EQ(m236->channel[2][e], c[2]);
  }
  // Palette input expands through its map.
  image_info pi = describe(3, 1, 1, 8, KLV_PHOTO_PALETTE);
  pi.cmap = m236;
  image_info rgbt = describe(0, 0, 3, 8, 1);
  auto ex = pull(mem(pi, {0, 5, 235}), &rgbt);
  std::vector<uint8_t> want;
  for (int e : {0, 5, 235})
    for (int c = 0; c < 3; ++c) want.push_back(m236->channel[c][e]);
  EXPECT_EQ(ex, want);
  free_cmap(m236);
}

TEST(LineFilter, WritingConvertsIntoTheFile) {
  SinkLog sink_log;
  std::vector<uint8_t>& got = sink_log.bytes;
  image_info file = describe(3, 2, 1, 8, 0);  // ink gray file
  IMG_file* sink = (new Sink(file, &sink_log))->ToImg('w', 13);
  image_info caller = describe(3, 2, 3, 8, 1);
  filter_rec* f = filter_attach(sink, &caller, nullptr);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(caller.bytes_per_line, 9u);
  std::vector<uint8_t> lines = {255, 255, 255, 0,  0,  0,  100, 100, 100,
                                10,  20,  30,  40, 50, 60, 70,  80,  90};
  EXPECT_EQ(filter_write_line(f, lines.data(), 2), 2);
  filter_close(f);
  ASSERT_EQ(got.size(), 6u);
  EXPECT_EQ(got[0], 0);
  EXPECT_EQ(got[1], 255);
  EXPECT_EQ(got[2], 155);
}

TEST(LineFilter, ResamplerAveragesAndKeepsFlatAreasFlat) {
  image_info i = describe(4, 4, 1, 8, 1);
  std::vector<uint8_t> d = {0, 100, 200, 200, 50, 50, 10, 30, 7, 7, 7, 7, 9, 9, 9, 9};
  IMG_file* s = scaleimg_create(mem(i, d), 2, 2, 1);
  ASSERT_NE(s, nullptr);
  uint8_t out[4];
  ASSERT_EQ(img_read_line(s, out, 2), 2);
  EXPECT_EQ(out[0], (0 + 100 + 50 + 50 + 2) / 4);
  EXPECT_EQ(out[1], (200 + 200 + 10 + 30 + 2) / 4);
  EXPECT_EQ(out[2], 8);
  img_close(s);
  image_info flat = describe(3, 3, 1, 8, 1);
  s = scaleimg_create(mem(flat, std::vector<uint8_t>(9, 77)), 7, 5, 1);
  std::vector<uint8_t> big(35);
  ASSERT_EQ(img_read_line(s, big.data(), 5), 5);
  for (auto v : big) EXPECT_EQ(v, 77);
  img_close(s);
}

namespace {
// A transform that swaps the first two samples, to show the slot is called.
void* swap_setup(void*, const filter_xform_setup* s) {
  static int state;
  return s->in_bits == 8 && s->in_samples == 3 ? &state : nullptr;
}
int32_t swap_apply(void*, const void* in, void* out, int32_t n) {
  auto* a = static_cast<const uint8_t*>(in);
  auto* b = static_cast<uint8_t*>(out);
  for (int32_t k = 0; k < n; ++k)
    b[k * 3] = a[k * 3 + 1], b[k * 3 + 1] = a[k * 3], b[k * 3 + 2] = a[k * 3 + 2];
  return 1;
}
}  // namespace

TEST(LineFilter, TransformSlotIsCalledPerLine) {
  filter_transform x{swap_setup, swap_apply, nullptr, nullptr};
  filter_info opt{};
  opt.transform = &x;
  image_info i = describe(2, 1, 3, 8, 1);
  image_info t = describe(0, 0, 3, 8, 1);
  EXPECT_EQ(pull(mem(i, {1, 2, 3, 4, 5, 6}), &t, &opt), (std::vector<uint8_t>{2, 1, 3, 5, 4, 6}));
  // A transform that fails a line ends the read there.
  filter_transform bad{swap_setup, [](void*, const void*, void*, int32_t) -> int32_t { return 0; },
                       nullptr, nullptr};
  opt.transform = &bad;
  filter_rec* f = filter_attach(mem(i, {1, 2, 3, 4, 5, 6}), &t, &opt);
  ASSERT_NE(f, nullptr);
  uint8_t line[6];
  EXPECT_EQ(filter_read_line(f, line, 1), 0);
  filter_close(f);
}

namespace {

// CIELab (D50; L 0..100, a and b -128..127) to encoded sRGB in 0..1, written
// out here on its own: XYZ through the inverse of f, the Bradford-adapted
// matrix, then the sRGB curve.
void lab_reference(double L, double a, double b, double rgb[3]) {
  auto finv = [](double t) {
    const double d = 6.0 / 29;
    return t > d ? t * t * t : 3 * d * d * (t - 4.0 / 29);
  };
  double fy = (L + 16) / 116;
  double X = 0.9642 * finv(fy + a / 500), Y = finv(fy), Z = 0.8249 * finv(fy - b / 200);
  double lin[3] = {3.1338561 * X - 1.6168667 * Y - 0.4906146 * Z,
                   -0.9787684 * X + 1.9161415 * Y + 0.0334540 * Z,
                   0.0719453 * X - 0.2289914 * Y + 1.4052427 * Z};
  for (int c = 0; c < 3; ++c) {
    double v = std::clamp(lin[c], 0.0, 1.0);
    rgb[c] = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
  }
}

image_info lab_info(int w, int bits) {
  image_info i = describe(w, 1, 3, bits, KLV_PHOTO_CIELAB);
  return i;
}

}  // namespace

TEST(LineFilter, LabToRgbTablesAgreeWithTheFormula) {
  // 8 bits: within one level of the rounded formula on a grid of the Lab cube.
  std::vector<uint8_t> lab;
  for (int L = 0; L < 256; L += 15)
    for (int a = 0; a < 256; a += 17)
      for (int b = 0; b < 256; b += 17) lab.insert(lab.end(), {uint8_t(L), uint8_t(a), uint8_t(b)});
  const int n = int(lab.size() / 3);
  image_info t = describe(0, 0, 3, 8, 1);
  auto rgb = pull(mem(lab_info(n, 8), lab), &t);
  ASSERT_EQ(rgb.size(), lab.size());
  for (int p = 0; p < n; ++p) {
    double want[3];
    lab_reference(lab[p * 3] * 100.0 / 255, lab[p * 3 + 1] - 128.0, lab[p * 3 + 2] - 128.0, want);
    for (int c = 0; c < 3; ++c)
      ASSERT_LE(std::abs(rgb[p * 3 + c] - std::lround(want[c] * 255)), 1) << p << " channel " << c;
  }
  // Gray output goes through RGB: the weights applied to the converted pixel.
  image_info g = describe(0, 0, 1, 8, 1);
  auto gray = pull(mem(lab_info(n, 8), lab), &g);
  for (int p = 0; p < n; ++p) {
    int want = int(0.3 * rgb[p * 3] + 0.5) + int(0.59 * rgb[p * 3 + 1] + 0.5) +
               int(0.11 * rgb[p * 3 + 2] + 0.5);
    ASSERT_EQ(gray[p], want) << p;
  }
  // 16 bits (a and b offset by 128 * 257): within 0.15% of full scale.
  std::vector<uint16_t> lab16;
  for (int L = 0; L < 65536; L += 4111)
    for (int a = 0; a < 65536; a += 5461)
      for (int b = 0; b < 65536; b += 5461)
        lab16.insert(lab16.end(), {uint16_t(L), uint16_t(a), uint16_t(b)});
  const int n16 = int(lab16.size() / 3);
  std::vector<uint8_t> bytes(lab16.size() * 2);
  std::memcpy(bytes.data(), lab16.data(), bytes.size());
  image_info t16 = describe(0, 0, 3, 16, 1);
  auto out = pull(mem(lab_info(n16, 16), bytes), &t16);
  ASSERT_EQ(out.size(), bytes.size());
  std::vector<uint16_t> rgb16(lab16.size());
  std::memcpy(rgb16.data(), out.data(), out.size());
  for (int p = 0; p < n16; ++p) {
    double want[3];
    lab_reference(lab16[p * 3] * 100.0 / 65535, lab16[p * 3 + 1] / 257.0 - 128,
                  lab16[p * 3 + 2] / 257.0 - 128, want);
    for (int c = 0; c < 3; ++c)
      ASSERT_LE(std::abs(rgb16[p * 3 + c] - std::lround(want[c] * 65535)), 100)
          << p << " channel " << c;
  }
}

TEST(LineFilter, SpotSamplesAreCopiedFilledAndBlended) {
  // RGBW (light) with two spot samples; the output keeps the first spot and the
  // second is blended with its definition: a = strength * ink / 255,
  // c = (255 - a) * c / 255 + value * a / 255.
  const std::vector<uint8_t> px = {200, 150, 100, 250, 40,  0,  //
                                   10,  20,  30,  40,  255, 128};
  filter_spot_color defs[2] = {};
  // Definition 1 (for the second spot) in ink values CMYK: light 255 - v.
  defs[1].value[0] = 0, defs[1].value[1] = 255, defs[1].value[2] = 255, defs[1].value[3] = 55;
  defs[1].depth = 8, defs[1].channels = 4, defs[1].color_space = 0, defs[1].strength = 200;
  filter_info opt{};
  opt.spot_count = 2;
  opt.spot_colors = defs;
  image_info in = describe(2, 1, 6, 8, 1);
  in.spot_samples = 2;
  in.bytes_per_line = image_info_line_bytes(&in);
  image_info t = describe(0, 0, 5, 8, 1);
  t.spot_samples = 1;
  auto out = pull(mem(in, px), &t, &opt);
  ASSERT_EQ(out.size(), 10u);
  const int value[4] = {255, 0, 0, 200};
  for (int p = 0; p < 2; ++p) {
    int ink = 255 - px[p * 6 + 5];
    int a = 200 * ink / 255;
    for (int c = 0; c < 4; ++c)
      EXPECT_EQ(out[p * 5 + c], (255 - a) * px[p * 6 + c] / 255 + value[c] * a / 255) << p << c;
    EXPECT_EQ(out[p * 5 + 4], px[p * 6 + 4]);  // the first spot is copied
  }
  // An output with more spot samples than the input fills the rest with 255.
  image_info t3 = describe(0, 0, 7, 8, 1);
  t3.spot_samples = 3;
  auto more = pull(mem(in, px), &t3);
  EXPECT_EQ(std::vector<uint8_t>(more.begin(), more.begin() + 7),
            (std::vector<uint8_t>{200, 150, 100, 250, 40, 0, 255}));
  // Definitions in other spaces and depths: 16-bit ink values, CIELab.
  struct Case {
    filter_spot_color def;
    std::vector<int> want;  // light RGB of the definition
  } cases[3] = {};
  cases[0].def.value[0] = 65535, cases[0].def.depth = 16, cases[0].def.channels = 3;
  cases[0].def.color_space = 0;
  cases[0].want = {0, 255, 255};
  cases[1].def.value[0] = 128, cases[1].def.depth = 8, cases[1].def.channels = 1;
  cases[1].def.color_space = 1;  // gray light 128 -> RGB 128
  cases[1].want = {128, 128, 128};
  cases[2].def.value[0] = 54 * 255 / 100, cases[2].def.value[1] = 128 + 80;
  cases[2].def.value[2] = 128 + 67, cases[2].def.depth = 8, cases[2].def.channels = 3;
  cases[2].def.color_space = 3;
  {
    double rgb[3];
    lab_reference(cases[2].def.value[0] * 100.0 / 255, 80, 67, rgb);
    for (double v : rgb) cases[2].want.push_back(int(v * 255 + 0.5));
  }
  for (auto& c : cases) {
    c.def.strength = 255;
    filter_info o{};
    o.spot_count = 1;
    o.spot_colors = &c.def;
    image_info rgbs = describe(1, 1, 4, 8, 1);
    rgbs.spot_samples = 1;
    rgbs.bytes_per_line = image_info_line_bytes(&rgbs);
    image_info rgbt = describe(0, 0, 3, 8, 1);
    // Full spot ink at full strength gives the definition's colour.
    auto got = pull(mem(rgbs, {255, 255, 255, 0}), &rgbt, &o);
    ASSERT_EQ(got.size(), 3u);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(got[k], c.want[k], 1) << k;
  }
  // A definition in an unknown colour space refuses the attach.
  filter_spot_color bad[2] = {};
  bad[1].channels = 3, bad[1].color_space = 2, bad[1].strength = 255;
  filter_info ob{};
  ob.spot_count = 2;
  ob.spot_colors = bad;
  EXPECT_EQ(filter_attach(mem(in, px), &t, &ob), nullptr);
}

TEST(LineFilter, MaskSamplesTravelAfterTheColours) {
  // Gray with one mask sample.
  const std::vector<uint8_t> px = {10, 100, 200, 7};
  image_info in = describe_masked(2, 1, 1, 8, 0, 1);  // ink gray + mask
  struct Case {
    int out_samples, out_photo, out_masks;
    bool opaque;
    std::vector<uint8_t> want;
  } cases[] = {
      // Colour inverted into light, mask copied as it is.
      {1, 1, 1, false, {245, 100, 55, 7}},
      {3, 1, 1, false, {245, 245, 245, 100, 55, 55, 55, 7}},
      {1, 1, 1, true, {245, 255, 55, 255}},
      // The output drops the mask.
      {1, 0, 0, false, {10, 200}},
      // A second output mask without an input is set to the maximum.
      {1, 0, 2, false, {10, 100, 255, 200, 7, 255}},
  };
  for (const auto& c : cases) {
    image_info t = describe_masked(0, 0, c.out_samples, 8, c.out_photo, c.out_masks);
    filter_info opt{};
    opt.mask_opaque = c.opaque;
    EXPECT_EQ(pull(mem(in, px), &t, &opt), c.want) << c.out_samples << " " << c.out_masks;
  }
  // 16-bit colour and mask to 8 bits keeps the high bytes.
  std::vector<uint8_t> d16(8);
  const uint16_t v16[4] = {0x1234, 0xABCD, 0xFF00, 0x0101};
  std::memcpy(d16.data(), v16, 8);
  image_info t8 = describe_masked(0, 0, 1, 8, 1, 1);
  EXPECT_EQ(pull(mem(describe_masked(2, 1, 1, 16, 1, 1), d16), &t8),
            (std::vector<uint8_t>{0x12, 0xAB, 0xFF, 0x01}));
}

TEST(LineFilter, SixteenBitConversions) {
  auto to16 = [](const std::vector<uint16_t>& v) {
    std::vector<uint8_t> b(v.size() * 2);
    std::memcpy(b.data(), v.data(), b.size());
    return b;
  };
  auto from16 = [](const std::vector<uint8_t>& b) {
    std::vector<uint16_t> v(b.size() / 2);
    std::memcpy(v.data(), b.data(), b.size());
    return v;
  };
  const std::vector<uint16_t> rgb = {0, 0,    0,     65535, 65535, 65535, 65535, 0,
                                     0, 1000, 30000, 60000, 12345, 54321, 777};
  // RGB to gray: the weights 0.3, 0.59, 0.11, to within one step.
  image_info g16 = describe(0, 0, 1, 16, 1);
  auto gray = from16(pull(mem(describe(5, 1, 3, 16, 1), to16(rgb)), &g16));
  ASSERT_EQ(gray.size(), 5u);
  for (int p = 0; p < 5; ++p)
    EXPECT_NEAR(gray[p], 0.3 * rgb[p * 3] + 0.59 * rgb[p * 3 + 1] + 0.11 * rgb[p * 3 + 2], 1.0)
        << p;
  // 16-bit RGB to 8-bit gray: the same weights at 8 bits, within one level.
  image_info g8 = describe(0, 0, 1, 8, 1);
  auto gray8 = pull(mem(describe(5, 1, 3, 16, 1), to16(rgb)), &g8);
  for (int p = 0; p < 5; ++p)
    EXPECT_NEAR(gray8[p], (0.3 * rgb[p * 3] + 0.59 * rgb[p * 3 + 1] + 0.11 * rgb[p * 3 + 2]) / 257,
                1.0)
        << p;
  // Ink CMYK (16 bits) to light RGB: R = (65535 - C) * (W + a) / b at 16 bits,
  // W = 65535 - K, a and b scaled by 257 with soft black.
  const std::vector<uint16_t> cmyk = {0, 0, 0, 0, 65535, 0, 30000, 20000, 1000, 2000, 3000, 40000};
  for (int soft : {0, 1}) {
    filter_info opt{};
    opt.soft_black = uint8_t(soft);
    image_info t = describe(0, 0, 3, 16, 1);
    auto out = from16(pull(mem(describe(3, 1, 4, 16, 0), to16(cmyk)), &t, &opt));
    const uint64_t a = soft ? 14 * 257 : 0, b = soft ? 269 * 257 : 65535;
    for (int p = 0; p < 3; ++p) {
      uint64_t W = 65535 - cmyk[p * 4 + 3];
      for (int c = 0; c < 3; ++c)
        EXPECT_EQ(out[p * 3 + c], (65535 - cmyk[p * 4 + c]) * (W + a) / b) << p << c << soft;
    }
  }
  // 8-bit ink CMYK to 16-bit light RGB: widened (v * 257) first.
  image_info t16 = describe(0, 0, 3, 16, 1);
  auto wide = from16(pull(mem(describe(1, 1, 4, 8, 0), {10, 20, 30, 40}), &t16));
  const uint64_t W = (255 - 40) * 257;
  EXPECT_EQ(wide,
            (std::vector<uint16_t>{uint16_t(245 * 257 * W / 65535), uint16_t(235 * 257 * W / 65535),
                                   uint16_t(225 * 257 * W / 65535)}));
}

TEST(LineFilter, SeeksRunOverAllPages) {
  // Two pages of four lines, halved to two lines a page: output line k of page
  // p is source line 2k of that page.
  image_info i = describe(1, 4, 1, 8, 1);
  i.pages = 2;
  const std::vector<uint8_t> d = {10, 11, 12, 13, 20, 21, 22, 23};
  auto open = [&] {
    image_info t = describe(1, 2, 1, 8, 1);
    filter_info opt{};
    opt.stretch = 1;
    return filter_attach((new MemImage(i, d))->ToImg('r', 13), &t, &opt);
  };
  filter_rec* f = open();
  ASSERT_NE(f, nullptr);
  uint8_t all[5] = {};
  EXPECT_EQ(filter_read_line(f, all, 5), 4);  // both pages, then the end
  EXPECT_EQ(std::vector<uint8_t>(all, all + 4), (std::vector<uint8_t>{10, 12, 20, 22}));
  struct Case {
    int line, page, whence;
    int want_line;    // line within the page
    uint8_t want_px;  // the line then read
  } cases[] = {
      {1, 1, 0, 1, 22},   // page 1, line 1
      {2, 0, 0, 0, 20},   // line 2 of page 0 runs on into page 1
      {0, 0, 2, 1, 22},   // from the end: the last line of the last page
      {-1, 0, 2, 0, 20},  // one before it
      {50, 0, 0, 1, 22},  // past the end clamps to the last line
      {-9, 0, 0, 0, 10},  // before the start clamps to the first
  };
  for (const auto& c : cases) {
    EXPECT_EQ(filter_seek_line(f, c.line, 0, c.page, c.whence), c.want_line)
        << c.line << " " << c.page << " " << c.whence;
    uint8_t px = 0;
    ASSERT_EQ(filter_read_line(f, &px, 1), 1);
    EXPECT_EQ(px, c.want_px);
  }
  // Relative: after reading page 0 line 0, +2 lands on page 1 line 1.
  ASSERT_EQ(filter_seek_line(f, 0, 0, 0, 0), 0);
  uint8_t px = 0;
  ASSERT_EQ(filter_read_line(f, &px, 1), 1);
  EXPECT_EQ(filter_seek_line(f, 2, 0, 0, 1), 1);
  ASSERT_EQ(filter_read_line(f, &px, 1), 1);
  EXPECT_EQ(px, 22);
  filter_close(f);
}

namespace {

// A destination that works one line behind, as a writer on another thread
// would: each write takes the pointer, and the line handed over before it is
// only read now. The status call finishes the last line.
class LaggingSink : public CIMG_file {
 public:
  LaggingSink(const image_info& info, int status) : m_status(status) { m_info = info; }
  int32_t WriteLine(unsigned char* buffer, int32_t count) override {
    if (count != 1) return 0;
    Drain();
    m_pending = buffer;
    return 1;
  }
  int32_t GetStatus(int32_t) override {
    Drain();
    return m_status;
  }
  void Drain() {
    if (m_pending) got.insert(got.end(), m_pending, m_pending + m_info.bytes_per_line);
    m_pending = nullptr;
  }
  std::vector<uint8_t> got;
  const unsigned char* m_pending = nullptr;
  int m_status;
};

}  // namespace

TEST(LineFilter, DoubleBufferKeepsTheHandedLineIntact) {
  image_info i = describe(3, 5, 3, 8, 1);
  std::vector<uint8_t> d(45);
  for (size_t k = 0; k < d.size(); ++k) d[k] = uint8_t(k * 5 + 1);
  image_info t = describe(0, 0, 1, 8, 1);
  filter_info opt{};
  opt.double_buffer = 1;
  auto want = pull(mem(i, d), &t);
  for (int status : {1, -1}) {
    image_info ti = t;
    filter_rec* f = filter_attach(mem(i, d), &ti, &opt);
    ASSERT_NE(f, nullptr);
    auto* sink = new LaggingSink(describe(3, 5, 1, 8, 1), status);
    IMG_file* dst = sink->ToImg('w', 13);
    int calls = 0;
    auto progress = [](void* c, int32_t, int32_t) -> int32_t { return ++*static_cast<int*>(c); };
    EXPECT_EQ(filter_read_to_img(f, dst, progress, &calls), status > 0 ? 1 : 0);
    EXPECT_EQ(calls, 5);
    EXPECT_EQ(sink->got, want);
    img_close(dst);
    filter_close(f);
  }
  // A destination of another size is refused.
  filter_rec* f = filter_attach(mem(i, d), &t, &opt);
  IMG_file* dst = (new LaggingSink(describe(4, 5, 1, 8, 1), 1))->ToImg('w', 13);
  EXPECT_EQ(filter_read_to_img(f, dst, nullptr, nullptr), 0);
  img_close(dst);
  filter_close(f);
}

TEST(LineFilter, AveragedReductionsOfPixelsAndLines) {
  // 6x6 to 2x2 with averaging: columns 0 and 3 are kept; output line 0 is
  // input line 0, output line 1 the integer mean of lines 1, 2 and 3.
  for (int bits : {8, 16})
    for (int spp : {1, 3}) {
      SCOPED_TRACE(bits * 10 + spp);
      std::vector<uint32_t> v(36 * spp);
      for (size_t k = 0; k < v.size(); ++k)
        v[k] = uint32_t((k * 53 + 7) % 256) * (bits == 16 ? 255 : 1);
      std::vector<uint8_t> d(v.size() * (bits / 8));
      for (size_t k = 0; k < v.size(); ++k)
        if (bits == 8)
          d[k] = uint8_t(v[k]);
        else
          std::memcpy(&d[k * 2], &v[k], 2);
      image_info t = describe(2, 2, spp, bits, 1);
      filter_info opt{};
      opt.stretch = 1;
      opt.average = 1;
      auto out = pull(mem(describe(6, 6, spp, bits, 1), d), &t, &opt);
      ASSERT_EQ(out.size(), size_t(4 * spp * bits / 8));
      auto at = [&](int x, int y, int c) { return v[(size_t(y) * 6 + x) * spp + c]; };
      for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x)
          for (int c = 0; c < spp; ++c) {
            uint32_t want = y == 0 ? at(3 * x, 0, c)
                                   : (at(3 * x, 1, c) + at(3 * x, 2, c) + at(3 * x, 3, c)) / 3;
            size_t i = (size_t(y) * 2 + x) * spp + c;
            uint32_t got = out[i];
            if (bits == 16) {
              uint16_t g16;
              std::memcpy(&g16, &out[i * 2], 2);
              got = g16;
            }
            EXPECT_EQ(got, want) << x << "," << y << " sample " << c;
          }
    }
}
