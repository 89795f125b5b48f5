// SPDX-License-Identifier: MIT
// Error-diffusion engines against plain loops written from the rules, bit for
// bit, and their tone fidelity on flat patches.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "klv/halftone_diffusion.h"
#include "preview.h"

namespace {

enum Family { kPlain, kMatrix, kScreenPattern, kScreenTable, kVarCoef };

struct Case {
  Family family;
  int in_bits;
  bool mirror;
  bool invert_out;
  int samples;  // pixel-interleaved samples; the engine reads sample `sep`
  int sep;
  int color;
};

std::string Name(const Case& c) {
  static const char* fam[] = {"plain", "matrix", "pattern", "screen", "varcoef"};
  return std::string(fam[c.family]) + "_" + std::to_string(c.in_bits) +
         (c.mirror ? "_mirror" : "") + (c.invert_out ? "_inv" : "") + "_s" +
         std::to_string(c.samples) + "_c" + std::to_string(c.color);
}

// A 16-bit threshold array of one random table.
std::unique_ptr<CHTThreshArray<unsigned short>> RandomScreens(int w, int h, int shift,
                                                              uint32_t levels, unsigned seed) {
  auto arr = std::make_unique<CHTThreshArray<unsigned short>>();
  arr->Create(1, levels);
  arr->tables[0].Alloc(uint32_t(w), uint16_t(h), uint16_t(shift), levels);
  std::mt19937 rng(seed);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) arr->tables[0].rows[y][x] = uint16_t(rng() % (levels - 1));
  return arr;
}

std::unique_ptr<CHTPlaceErrDif> MakePlacement(Family f, CHTThreshArray<unsigned short>* screens) {
  switch (f) {
    case kPlain:
      return std::make_unique<CHTPlaceErrDif>();
    case kMatrix: {
      auto p = std::make_unique<CHTPlaceErrDifMtx>();
      p->SetMatrix(screens);
      return p;
    }
    case kScreenPattern: {
      auto p = std::make_unique<CHTPlaceErrDifScreen>();
      p->pattern_type = 3;
      p->amp_a = 481;
      p->amp_b = 289;
      return p;
    }
    case kScreenTable: {
      auto p = std::make_unique<CHTPlaceErrDifScreen>();
      p->SetScreens(screens);
      return p;
    }
    case kVarCoef:
      return std::make_unique<CHTPlaceErrDifVarCoef>();
  }
  return nullptr;
}

struct EdRun {
  image_info in{}, out{};
  std::unique_ptr<CHTThreshArray<unsigned short>> screens;
  std::unique_ptr<CHTPlaceErrDif> place;
  std::unique_ptr<CHTRip> rip;

  EdRun(const Case& c, int width, int height) {
    in.width = out.width = width;
    in.height = out.height = height;
    in.samples = uint32_t(c.samples);
    out.samples = 1;
    in.bits_per_sample = uint32_t(c.in_bits);
    in.bytes_per_line = uint32_t(width * c.samples * c.in_bits / 8);
    out.bits_per_sample = 1;
    out.photometric = c.invert_out ? 1 : 0;
    screens = RandomScreens(37, 5, 11, 2047, 3);
    place = MakePlacement(c.family, screens.get());
    place->mirror = c.mirror;
    if (!place->PreInitProcess(&in, &out)) return;
    rip.reset(place->CreateRip(c.sep, c.color, false, 0, nullptr, nullptr, 0, height));
  }
};

uint32_t SampleAt(const std::vector<uint8_t>& input, const Case& c, int width, int y, int px) {
  const int bytes = c.in_bits / 8;
  size_t at = (size_t(y) * width * c.samples + size_t(px) * c.samples + c.sep) * bytes;
  return bytes == 1 ? input[at] : uint32_t(input[at] | input[at + 1] << 8);
}

// The line noise generator, written out: 32-bit xorshift 13, 17, 5.
uint32_t NextDraw(uint32_t& state) {
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  return state;
}

// The dots by the rules, one pixel at a time, errors read back from the lines.
std::vector<uint8_t> Reference(const Case& c, const std::vector<uint8_t>& input, int width,
                               int height, const uint16_t* curve, const int16_t* noise,
                               const CHTThreshTable<unsigned short>* table, uint32_t seed) {
  const int bpl = (width + 7) / 8;
  std::vector<uint8_t> out(size_t(bpl) * height, 0);
  std::vector<int16_t> ia(width + 6, 0), ib(width + 6, 0);
  std::vector<int16_t> fa(width + 2, 0), fb(width + 2, 0);
  const HTVarCoefRow* coef = HTVarCoefTable();
  int row = 0, phase = 0;
  bool rtl = false;
  for (int y = 0; y < height; ++y) {
    const int start = int(NextDraw(seed) % 10000) * width * 3 / 10000;
    uint8_t* o = out.data() + size_t(y) * bpl;
    const int d = rtl ? -1 : 1;
    for (int k = 0; k < width; ++k) {
      const int x = rtl ? width - 1 - k : k;
      const int px = c.mirror ? width - 1 - x : x;
      uint32_t s = SampleAt(input, c, width, y, px);
      const int t = curve[c.in_bits == 8 ? s : s >> 4];
      bool dot = false;
      if (c.family == kVarCoef) {
        int n = noise[start + k];
        if (t < 128) n = n * t / 128;
        if (t > 1919) n = n * (2047 - t) / 128;
        // 16-bit errors, the weights in 12-bit fixed point (rounded), the
        // shares rounded down.
        int v = fa[x + 1] + t + n;
        if (v > 1027) {
          v -= 2047;
          dot = t != 0;
        }
        const int wa = int(std::lround(coef[t].ahead * 4096.0f));
        const int wb = int(std::lround(coef[t].behind_below * 4096.0f));
        const int c0 = int(std::floor(v * wa / 4096.0)), c1 = int(std::floor(v * wb / 4096.0));
        fa[x + 1 + d] = int16_t(fa[x + 1 + d] + c0);
        fb[x + 1 - d] = int16_t(fb[x + 1 - d] + c1);
        fb[x + 1] = int16_t(fb[x + 1] + v - c0 - c1);
      } else {
        int n = noise[start + k] - 128;
        if (t < 128) {
          n = std::max(-t, std::min(t, n));
        } else if (t > 1919) {
          n = std::max(-(2047 - t), std::min(2047 - t, n));
        }
        const int i = x + 2;
        int16_t s16 = int16_t(ia[i - d] + ib[i - 1] + ib[i] + ib[i + 1]);
        int16_t v = int16_t(((s16 + 2 * (s16 + ia[i] + ia[i - 2 * d])) >> 4) + n + t);
        int err;
        if (c.family == kPlain) {
          dot = v > 1028;
          err = dot ? (t == 2047 ? 1027 - n : v - 2047) : v;
        } else if (c.family == kMatrix) {
          int m = table->rows[row][(phase + k) % table->width];
          int val;
          if (t < 612) {
            int thr = t > 306 ? 1028 - ((1028 - m) * (612 - t)) / 306 : m;
            val = t + ((v - t) * t) / 612;
            dot = val > thr;
            if (dot) val -= (t * 2047) / 612;
          } else if (t <= 1435) {
            dot = v > 1028;
            val = dot ? v - 2047 : v;
          } else {
            m = std::max(m, 1435);
            int thr = t < 1741 ? 1028 - ((1028 - m) * (t - 1435)) / 306 : m;
            val = t + ((v - t) * (2047 - t)) / 612;
            dot = val > thr;
            if (dot) val -= 2047;
          }
          err = val;
        } else {
          int thr = table->rows[row][(x + phase) % table->width];
          if (t == 2047) {
            dot = true;
            err = 0;
          } else if (v > thr) {
            err = v - 2047;
            dot = t != 0;
          } else {
            err = v;
          }
        }
        ia[i] = int16_t(err);
      }
      if (dot) o[x / 8] |= uint8_t(0x80 >> (x % 8));
    }
    if (c.invert_out)
      for (int i = 0; i < bpl; ++i) o[i] = uint8_t(~o[i]);
    if (c.family == kVarCoef) {
      std::swap(fa, fb);
      std::fill(fb.begin(), fb.end(), int16_t(0));
    } else {
      std::swap(ia, ib);
    }
    if (table && ++row >= table->height) {
      row = 0;
      phase = (phase + table->shift) % table->width;
    }
    rtl = !rtl;
  }
  return out;
}

const CHTThreshTable<unsigned short>* TableOf(const Case& c, CHTRip* rip) {
  if (c.family == kMatrix) return &static_cast<CHTRipErrDifMtx*>(rip)->GetTable();
  if (c.family == kScreenPattern || c.family == kScreenTable)
    return &static_cast<CHTRipErrDifScreen*>(rip)->GetTable();
  return nullptr;
}

class DiffusionExact : public ::testing::TestWithParam<Case> {};

TEST_P(DiffusionExact, MatchesPlainLoop) {
  const Case c = GetParam();
  const int width = 203, height = 23;
  EdRun r(c, width, height);
  ASSERT_TRUE(r.rip) << Name(c);
  auto* klv = static_cast<CHTRipKlv*>(r.rip.get());
  std::mt19937 rng(1234);
  std::vector<uint8_t> input(size_t(r.in.bytes_per_line) * height);
  // Random tones with runs of the extremes, where noise clamping matters.
  for (size_t i = 0; i < input.size(); ++i) {
    uint32_t v = rng();
    input[i] = (v >> 24) < 40 ? 0 : (v >> 24) < 80 ? 255 : uint8_t(v);
  }
  // The table the engine copied, before the engine advances its rows.
  std::unique_ptr<CHTThreshTable<unsigned short>> table;
  if (const auto* t = TableOf(c, r.rip.get())) {
    table = std::make_unique<CHTThreshTable<unsigned short>>();
    table->CopyPhase(t->rows, t->width, t->height, t->shift, t->levels, 0, 0);
  }
  static_cast<CHTRipDiffusion*>(r.rip.get())->SetNoiseSeed(99);
  // The filter hands engine s the line start plus s samples.
  uint8_t* first = input.data() + size_t(c.sep) * (c.in_bits / 8);
  ASSERT_EQ(r.rip->StartProcessLine(first, height), unsigned(height));
  std::vector<uint8_t> got(r.rip->GetOutBuf(),
                           r.rip->GetOutBuf() + r.rip->GetBytesPerLine() * height);
  auto want =
      Reference(c, input, width, height, klv->GetCurve(), r.place->Noise(), table.get(), 99);
  ASSERT_EQ(got.size(), want.size());
  for (int y = 0; y < height; ++y)
    for (size_t b = 0; b < r.rip->GetBytesPerLine(); ++b)
      ASSERT_EQ(got[y * r.rip->GetBytesPerLine() + b], want[y * r.rip->GetBytesPerLine() + b])
          << Name(c) << " line " << y << " byte " << b;
}

std::vector<Case> Cases() {
  std::vector<Case> v;
  for (Family f : {kPlain, kMatrix, kScreenPattern, kScreenTable, kVarCoef})
    for (int bits : {8, 16})
      for (int mi = 0; mi < 2; ++mi)
        for (int inv = 0; inv < 2; ++inv) v.push_back({f, bits, mi == 1, inv == 1, 1, 0, 0});
  // Interleaved input read at a step, and the pattern reversed for one colour.
  v.push_back({kPlain, 8, false, false, 3, 1, 1});
  v.push_back({kVarCoef, 16, true, false, 3, 2, 2});
  v.push_back({kScreenPattern, 8, false, false, 4, 3, 4});
  return v;
}

INSTANTIATE_TEST_SUITE_P(Families, DiffusionExact, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return Name(info.param); });

// A flat patch of one input value: the fraction of dots printed.
double Coverage(Family f, uint8_t gray, int width, int height, uint16_t* tone) {
  Case c{f, 8, false, false, 1, 0, 0};
  EdRun r(c, width, height);
  if (!r.rip) return -1;
  *tone = static_cast<CHTRipKlv*>(r.rip.get())->GetCurve()[gray];
  std::vector<uint8_t> input(size_t(width) * height, gray);
  r.rip->StartProcessLine(input.data(), height);
  size_t dots = 0;
  const uint8_t* p = r.rip->GetOutBuf();
  for (size_t i = 0; i < r.rip->GetBytesPerLine() * height; ++i) dots += __builtin_popcount(p[i]);
  return double(dots) / (double(width) * height);
}

TEST(DiffusionTone, PrintedFractionTracksTheCurve) {
  for (Family f : {kPlain, kVarCoef}) {
    double worst = 0;
    int at = -1;
    for (int g = 0; g < 256; ++g) {
      uint16_t tone = 0;
      double cov = Coverage(f, uint8_t(g), 256, 128, &tone);
      double err = std::fabs(cov - tone / 2047.0);
      if (err > worst) {
        worst = err;
        at = g;
      }
      if (g == 0) {
        EXPECT_EQ(cov, 0.0);
      }
      if (g == 255) {
        EXPECT_EQ(cov, 1.0);
      }
    }
    EXPECT_LT(worst, 0.01) << "family " << f << " worst at gray " << at;
  }
}

TEST(DiffusionEdges, FullAndZeroTones) {
  // Full tone prints everywhere in the plain and screen families; zero tone
  // never prints in the screen and variable-coefficient families even though
  // noise and errors move the running value.
  for (Family f : {kPlain, kScreenPattern, kVarCoef}) {
    for (uint8_t g : {uint8_t(0), uint8_t(255)}) {
      uint16_t tone;
      double cov = Coverage(f, g, 64, 16, &tone);
      EXPECT_EQ(cov, g ? 1.0 : 0.0) << "family " << f << " gray " << int(g);
    }
  }
}

TEST(DiffusionEdges, DirectionTurnsEveryLine) {
  EdRun r({kPlain, 8, false, false, 1, 0, 0}, 16, 4);
  ASSERT_TRUE(r.rip);
  auto* ed = static_cast<CHTRipDiffusion*>(r.rip.get());
  std::vector<uint8_t> line(16, 128);
  EXPECT_FALSE(ed->GetDirection());
  r.rip->StartProcessLine(line.data(), 1);
  EXPECT_TRUE(ed->GetDirection());
  r.rip->StartProcessLine(line.data(), 1);
  EXPECT_FALSE(ed->GetDirection());
}

TEST(DiffusionEdges, PatternsAndReversal) {
  image_info in{}, out{};
  in.width = out.width = 8;
  in.height = out.height = 1;
  in.samples = 4;
  out.samples = 4;
  in.bits_per_sample = 8;
  out.bits_per_sample = 1;
  in.bytes_per_line = 32;
  CHTPlaceErrDifScreen p;
  ASSERT_TRUE(p.PreInitProcess(&in, &out));
  struct Want {
    int type, a, b, color;
    std::vector<uint16_t> entries;
  } cases[] = {
      {0, 963, 578, 0, {61, 1602, 446, 1987}},
      {1, 963, 578, 0, {61, 446, 1602, 1987}},
      {2, 963, 578, 0, {61, 1024, 1987}},
      {3, 481, 289, 0, {1409, 735, 1168, 543, 1505, 880, 1313, 639}},
      {0, 963, 578, 4, {1987, 446, 1602, 61}},  // colour 4 of a four-colour input is reversed
  };
  for (const Want& w : cases) {
    p.pattern_type = w.type;
    p.amp_a = w.a;
    p.amp_b = w.b;
    std::vector<uint16_t> got;
    ASSERT_TRUE(p.Pattern(w.color, got));
    EXPECT_EQ(got, w.entries) << "type " << w.type;
  }
  p.pattern_type = 7;
  std::vector<uint16_t> none;
  EXPECT_FALSE(p.Pattern(0, none));
}

TEST(DiffusionEdges, VarCoefTableRows) {
  const HTVarCoefRow* t = HTVarCoefTable();
  auto near = [](float a, double b) { return std::fabs(a - b) < 1e-6; };
  for (int i : {0, 4, 8}) EXPECT_TRUE(near(t[i].ahead, 13.0 / 18) && near(t[i].below, 5.0 / 18));
  EXPECT_TRUE(near(t[16].ahead, 21.0 / 31) && near(t[16].behind_below, 0));
  EXPECT_TRUE(near(t[24].ahead, 7.0 / 11));
  EXPECT_TRUE(near(t[32].ahead, 8.0 / 13) && near(t[32].below, 5.0 / 13));
  for (int i = 1016; i <= 1031; ++i)
    EXPECT_TRUE(near(t[i].ahead, 4.0 / 6) && near(t[i].behind_below, 1.0 / 6)) << i;
  for (int i = 0; i < 2048; ++i) {
    EXPECT_NEAR(t[i].ahead + t[i].behind_below + t[i].below, 1.0, 1e-5) << i;
    EXPECT_EQ(t[i].ahead, t[2047 - i].ahead) << i;
  }
  // Between levels the rows interpolate: row 44 lies halfway from level 5 to 6.
  EXPECT_NEAR(t[44].ahead, (47.0 / 78 + 23.0 / 39) / 2, 1e-6);
  // The engines' fixed-point rows: the float rows times 4096, still symmetric.
  const HTVarCoefFixed* f = HTVarCoefFixedTable();
  for (int i = 0; i < 2048; ++i) {
    EXPECT_NEAR(f[i].ahead, t[i].ahead * 4096, 0.5) << i;
    EXPECT_NEAR(f[i].behind_below, t[i].behind_below * 4096, 0.5) << i;
    EXPECT_LE(f[i].ahead + f[i].behind_below, 4096) << i;
    EXPECT_EQ(f[i].ahead, f[2047 - i].ahead) << i;
  }
}

TEST(DiffusionEdges, FailuresAreReported) {
  image_info in{}, out{};
  in.width = out.width = 8;
  in.height = out.height = 1;
  in.samples = out.samples = 1;
  in.bits_per_sample = 8;
  out.bits_per_sample = 1;
  in.bytes_per_line = 8;
  CHTPlaceErrDifMtx no_matrix;
  no_matrix.SetMatrixFile("no-such-matrix.hts");
  EXPECT_FALSE(no_matrix.PreInitProcess(&in, &out));
  // An engine needs the noise of a diffusion placement.
  CHTRipErrDif rip;
  CHTPlaceErrDif fresh;
  fresh.PreInitProcess(&in, &out);
  EXPECT_TRUE(rip.Init(&fresh, false, 0, 0, false, 0, nullptr, nullptr, 0, 1));
  CHTRipErrDif16 wrong_depth;
  EXPECT_FALSE(wrong_depth.Init(&fresh, false, 0, 0, false, 0, nullptr, nullptr, 0, 1));
  in.bits_per_sample = 12;
  EXPECT_FALSE(fresh.PreInitProcess(&in, &out));
}

TEST(DiffusionPreview, Ramps) {
  const int w = 512, h = 160;
  auto ramp = klv::test::GrayRamp(w, h);
  for (Family f : {kPlain, kMatrix, kScreenPattern, kVarCoef}) {
    Case c{f, 8, false, false, 1, 0, 0};
    EdRun r(c, w, h);
    ASSERT_TRUE(r.rip);
    klv::test::DotImage img;
    img.width = w;
    img.height = h;
    r.rip->StartProcessLine(ramp.data(), h);
    img.bytes_per_line = r.rip->GetBytesPerLine();
    img.bits.assign(r.rip->GetOutBuf(), r.rip->GetOutBuf() + img.bytes_per_line * h);
    static const char* names[] = {"diffusion_plain", "diffusion_matrix", "diffusion_pattern",
                                  "diffusion_screen", "diffusion_varcoef"};
    EXPECT_FALSE(klv::test::WritePreview(img, names[f], 2).empty());
  }
}

}  // namespace
