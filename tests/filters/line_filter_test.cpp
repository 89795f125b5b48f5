// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cstdlib>

#include "img/filter_internal.h"
#include "mem_streams.h"
#include "klv/filter.h"

using namespace filters_test;

namespace {

IMG_file* mem(const image_info& i, std::vector<uint8_t> d) {
  return (new MemLines(i, std::move(d)))->ToImg('r', 13);
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
  image_info five = describe(2, 2, 1, 8, 1, 5);
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
  std::vector<uint8_t> got;
  image_info file = describe(3, 2, 1, 8, 0);  // ink gray file
  IMG_file* sink = (new LineSink(file, &got))->ToImg('w', 13);
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
}
