// SPDX-License-Identifier: MIT
// Multi-level engines: the per-value table, table-mode screening and diffusion
// against plain loops, packing at 2, 4 and 8 bits, curve mode and the
// variable-dot coverage hooks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <memory>
#include <random>
#include <unistd.h>
#include <vector>

#include "klv/halftone.h"
#include "klv/halftone_diffusion.h"
#include "klv/halftone_ml.h"
#include "preview.h"

namespace {

struct Descr {
  image_info in{}, out{};
  Descr(int width, int height, int out_bits, bool invert_out = false, int in_bits = 8) {
    in.width = out.width = width;
    in.height = out.height = height;
    in.samples = out.samples = 1;
    in.bits_per_sample = uint32_t(in_bits);
    in.bytes_per_line = uint32_t(width * in_bits / 8);
    out.bits_per_sample = uint32_t(out_bits);
    out.photometric = invert_out ? 1 : 0;
  }
};

struct Screen8 {
  std::vector<uint8_t> data;
  std::vector<uint8_t*> rows;
  uint8_t** rp;
  uint16_t h, shift;
  uint32_t w, levels = 256;
  Screen8(int width, int height, int sh)
      : h(uint16_t(height)), shift(uint16_t(sh)), w(uint32_t(width)) {
    std::mt19937 rng(11);
    data.resize(size_t(width) * height);
    for (auto& v : data) v = uint8_t(rng());
    for (int r = 0; r < height; ++r) rows.push_back(data.data() + r * width);
    rp = rows.data();
  }
};

MLPROCINFO Sample(int out_bits = 2, bool curves = false) {
  MLPROCINFO rec;
  MLProcSample(rec, curves);
  rec.output_bits = uint8_t(out_bits);
  return rec;
}

// The drop code of table entry e against threshold t.
uint8_t ScreenCode(const HTMLEntry& e, uint32_t t) {
  return t < e.f ? e.upper : int16_t(t) < int16_t(e.m) ? e.mid : e.lower;
}

uint8_t CodeAt(const uint8_t* line, int x, int bits) {
  int bit = x * bits;
  return uint8_t((line[bit / 8] >> (8 - bits - bit % 8)) & ((1 << bits) - 1));
}

void PutCode(uint8_t* line, int x, int bits, uint8_t code) {
  int bit = x * bits;
  line[bit / 8] |= uint8_t(code << (8 - bits - bit % 8));
}

TEST(MultiLevelTable, SampleRecordRampsFromNoInkToFullInk) {
  Descr d(16, 1, 2);
  Screen8 s(16, 4, 0);
  CHTPlaceScreen<unsigned char> place;
  place.SetScreens(1, &s.rp, &s.h, &s.shift, &s.w, &s.levels);
  MLPROCINFO rec = Sample();
  ASSERT_TRUE(place.SetLinearization(0, nullptr, &rec));
  ASSERT_TRUE(place.PreInitProcess(&d.in, &d.out));
  CHTRipMLScreen<unsigned char> rip;
  ASSERT_TRUE(rip.Init(&place, false, 0, 0, false, 0, nullptr, nullptr, 0, 1));
  const auto& t = rip.GetTable();
  ASSERT_EQ(t.size(), 256u);
  EXPECT_EQ(rip.GetRange(), 256u);
  EXPECT_EQ(t[0].f, 0);
  EXPECT_EQ(t[0].lower, 0);
  EXPECT_EQ(t[255].upper, 3);
  EXPECT_EQ(t[255].f, 255);
  // Ink in drop units: lower drops where no upper drop prints.
  double last = -1;
  for (int i = 0; i < 256; ++i) {
    double ink = t[i].lower + (t[i].upper - t[i].lower) * t[i].f / 256.0;
    EXPECT_GE(ink, last - 1e-9) << "value " << i;
    last = ink;
  }
  // Levels meet: the level above starts from the drop this one ends with.
  EXPECT_EQ(t[90].lower, 1);
  EXPECT_EQ(t[90].upper, 2);
  EXPECT_EQ(t[200].lower, 2);
  // The screen placement makes the multi-level engine for a 2-bit output.
  std::unique_ptr<CHTRip> made(place.CreateRip(0, 0, false, 0, nullptr, nullptr, 0, 1));
  ASSERT_TRUE(made);
  EXPECT_TRUE(dynamic_cast<CHTRipMLScreen<unsigned char>*>(made.get()));
  EXPECT_EQ(made->GetBytesPerLine(), 4u);
}

class MidvalProbe : public CHTRipMLErrDif {
 public:
  using CHTRipML::doCalcMidval;
  void SetDirect(bool on) { midval_direct_ = on; }
};

TEST(MultiLevelTable, MiddleValue) {
  MidvalProbe p;
  struct {
    uint16_t f, b, c, want;
  } cases[] = {
      {0, 1000, 2047, 1000},  // no upper drops: the middle drops cover b alone
      {500, 1000, 2047, uint16_t(500 * 2047 / 1547)},
      {1000, 1000, 2047, 0},  // upper drops already reach the target
      {1500, 1000, 2047, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(p.doCalcMidval(c.f, c.b, c.c), c.want) << c.f;
  p.SetDirect(true);
  EXPECT_EQ(p.doCalcMidval(1500, 1000, 2047), 1000);
}

TEST(MultiLevelTable, ColourBeyondTheRecordTakesOneLevel) {
  Descr d(16, 1, 2);
  CHTPlaceErrDif place;
  MLPROCINFO rec = Sample();
  rec.colors = 2;
  place.SetLinearization(0, nullptr, &rec);
  ASSERT_TRUE(place.PreInitProcess(&d.in, &d.out));
  std::unique_ptr<CHTRip> rip(place.CreateRip(0, 5, false, 0, nullptr, nullptr, 0, 1));
  ASSERT_TRUE(rip);
  const auto& t = static_cast<CHTRipML*>(rip.get())->GetTable();
  // One level of width 255: f is the tone itself, up to the largest code.
  for (int i : {0, 64, 128, 255}) {
    EXPECT_EQ(t[i].upper, 3);
    EXPECT_EQ(t[i].lower, 0);
  }
  EXPECT_EQ(t[255].f, 2047);
  EXPECT_EQ(t[128].f, 128 * 2047 / 255);
}

TEST(MultiLevelTable, InitFailures) {
  Descr d(16, 1, 2);
  CHTPlaceErrDif no_record;
  ASSERT_TRUE(no_record.PreInitProcess(&d.in, &d.out));
  CHTRipMLErrDif a;
  EXPECT_FALSE(a.Init(&no_record, false, 0, 0, false, 0, nullptr, nullptr, 0, 1));
  CHTPlaceErrDif with_record;
  MLPROCINFO rec = Sample();
  with_record.SetLinearization(0, nullptr, &rec);
  ASSERT_TRUE(with_record.PreInitProcess(&d.in, &d.out));
  CHTRipMLErrDif b;  // a level engine needs the variable-dot extension
  EXPECT_FALSE(b.Init(&with_record, false, 0, 0, false, 1, nullptr, nullptr, 0, 1));
  rec.output_bits = 3;
  CHTPlaceErrDif odd_bits;
  odd_bits.SetLinearization(0, nullptr, &rec);
  ASSERT_TRUE(odd_bits.PreInitProcess(&d.in, &d.out));
  CHTRipMLErrDif c;
  EXPECT_FALSE(c.Init(&odd_bits, false, 0, 0, false, 0, nullptr, nullptr, 0, 1));
}

struct PackCase {
  int out_bits;
  bool mirror;
  bool invert;
  int width;
};

class MultiLevelScreenExact : public ::testing::TestWithParam<PackCase> {};

TEST_P(MultiLevelScreenExact, MatchesPlainLoop) {
  const PackCase c = GetParam();
  const int height = 9;
  Descr d(c.width, height, c.out_bits, c.invert);
  Screen8 s(13, 3, 5);
  CHTPlaceScreen<unsigned char> place;
  place.SetScreens(1, &s.rp, &s.h, &s.shift, &s.w, &s.levels);
  MLPROCINFO rec = Sample(c.out_bits);
  for (auto& col : rec.color) {
    col.mid_code[1] = 3;  // one level with a middle drop of its own
    col.bend[2] = 90;
  }
  place.SetLinearization(0, nullptr, &rec);
  ASSERT_TRUE(place.PreInitProcess(&d.in, &d.out));
  place.mirror = c.mirror;
  CHTRipMLScreen<unsigned char> rip;
  ASSERT_TRUE(rip.Init(&place, false, 0, 0, false, 0, nullptr, nullptr, 0, height));
  std::mt19937 rng(3);
  std::vector<uint8_t> input(size_t(c.width) * height);
  for (auto& v : input) v = uint8_t(rng());
  ASSERT_EQ(rip.StartProcessLine(input.data(), height), unsigned(height));
  const size_t bpl = (size_t(c.width) * c.out_bits + 7) / 8;
  ASSERT_EQ(rip.GetBytesPerLine(), bpl);
  const auto& table = rip.GetTable();
  int row = 0, phase = 0;
  for (int y = 0; y < height; ++y) {
    std::vector<uint8_t> want(bpl, 0);
    for (int x = 0; x < c.width; ++x) {
      int px = c.mirror ? c.width - 1 - x : x;
      uint32_t t = s.data[size_t(row) * s.w + (phase + x) % s.w];
      PutCode(want.data(), x, c.out_bits, ScreenCode(table[input[size_t(y) * c.width + px]], t));
    }
    if (c.invert)
      for (auto& b : want) b = uint8_t(~b);
    const uint8_t* got = rip.GetOutBuf() + y * bpl;
    for (size_t b = 0; b < bpl; ++b) ASSERT_EQ(got[b], want[b]) << "line " << y << " byte " << b;
    if (++row == s.h) {
      row = 0;
      phase = (phase + s.shift) % int(s.w);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Packing, MultiLevelScreenExact,
    ::testing::Values(PackCase{2, false, false, 61}, PackCase{2, true, true, 64},
                      PackCase{4, false, true, 33}, PackCase{4, true, false, 40},
                      PackCase{8, false, false, 17}, PackCase{8, true, true, 20}));

TEST(MultiLevelDiffusion, MatchesPlainLoop) {
  for (bool mirror : {false, true}) {
    for (bool invert : {false, true}) {
      const int width = 157, height = 17;
      Descr d(width, height, 2, invert, 16);
      CHTPlaceErrDif place;
      MLPROCINFO rec = Sample();
      for (auto& col : rec.color) col.mid_code[0] = 2;  // level 0: small, then medium drops
      place.SetLinearization(0, nullptr, &rec);
      ASSERT_TRUE(place.PreInitProcess(&d.in, &d.out));
      place.mirror = mirror;
      std::unique_ptr<CHTRip> rip(place.CreateRip(0, 0, false, 0, nullptr, nullptr, 0, height));
      ASSERT_TRUE(rip);
      const auto& table = static_cast<CHTRipML*>(rip.get())->GetTable();
      ASSERT_EQ(table.size(), 4096u);
      std::mt19937 rng(8);
      std::vector<uint16_t> input(size_t(width) * height);
      for (auto& v : input) v = uint16_t((rng() >> 28) < 3 ? 0 : rng());
      static_cast<CHTRipMLErrDif*>(rip.get())->SetNoiseSeed(5);
      rip->StartProcessLine(reinterpret_cast<uint8_t*>(input.data()), height);
      uint32_t draw = 5;
      const int16_t* noise = place.Noise();
      std::vector<int16_t> ua(width + 4), ub(width + 4), ma(width + 4), mb(width + 4);
      const size_t bpl = rip->GetBytesPerLine();
      bool rtl = false;
      for (int y = 0; y < height; ++y) {
        draw ^= draw << 13;  // the engine's line generator: xorshift 13, 17, 5
        draw ^= draw >> 17;
        draw ^= draw << 5;
        const int start = int(draw % 10000) * width * 3 / 10000;
        std::vector<uint8_t> want(bpl, 0);
        const int dir = rtl ? -1 : 1;
        for (int k = 0; k < width; ++k) {
          const int x = rtl ? width - 1 - k : k;
          const int px = mirror ? width - 1 - x : x;
          const HTMLEntry& e = table[input[size_t(y) * width + px] >> 4];
          auto clamp = [](int n, int t) {
            if (t < 128) return std::max(-t, std::min(t, n));
            if (t > 1919) return std::max(t - 2047, std::min(2047 - t, n));
            return n;
          };
          auto sum = [&](std::vector<int16_t>& a, std::vector<int16_t>& b) {
            const int i = x + 2;
            int16_t s = int16_t(a[i - dir] + b[i - 1] + b[i] + b[i + 1]);
            return (s + 2 * (s + a[i] + a[i - 2 * dir])) >> 4;
          };
          const int n = noise[start + k] - 128;
          int16_t su = int16_t(sum(ua, ub) + clamp(n, e.f) + e.f);
          bool upper = e.f != 0 && su >= 1029;
          int16_t sm = int16_t(sum(ma, mb) + clamp(n, e.m) + e.m);
          uint8_t code;
          if (upper) {
            code = e.upper;
            if (sm > 1028) sm = int16_t(sm - 2047);
          } else if (sm < 1029) {
            code = e.lower;
          } else {
            code = e.mid;
            sm = int16_t(sm - 2047);
          }
          ua[x + 2] = upper ? int16_t(e.f == 2047 ? 1027 : su - 2047) : su;
          ma[x + 2] = sm;
          PutCode(want.data(), x, 2, code);
        }
        if (invert)
          for (auto& b : want) b = uint8_t(~b);
        const uint8_t* got = rip->GetOutBuf() + y * bpl;
        for (size_t b = 0; b < bpl; ++b)
          ASSERT_EQ(got[b], want[b])
              << "mirror " << mirror << " invert " << invert << " line " << y << " byte " << b;
        std::swap(ua, ub);
        std::swap(ma, mb);
        rtl = !rtl;
      }
    }
  }
}

// Mean drop code of a flat patch through an engine.
double MeanCode(CHTRip& rip, int width, int height, uint8_t gray, int bits) {
  std::vector<uint8_t> input(size_t(width) * height, gray);
  rip.ResetOutBuf();
  rip.StartProcessLine(input.data(), height);
  double sum = 0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      sum += CodeAt(rip.GetOutBuf() + y * rip.GetBytesPerLine(), x, bits);
  return sum / (double(width) * height);
}

TEST(MultiLevelDiffusion, UpperDropsFollowTheirCoverage) {
  // With f = 0 no upper drop prints whatever the errors; the mean code rises
  // with the tone from no ink to the largest drop everywhere.
  const int width = 256, height = 64;
  Descr d(width, height, 2);
  CHTPlaceErrDif place;
  MLPROCINFO rec = Sample();
  place.SetLinearization(0, nullptr, &rec);
  ASSERT_TRUE(place.PreInitProcess(&d.in, &d.out));
  std::unique_ptr<CHTRip> rip(place.CreateRip(0, 0, false, 0, nullptr, nullptr, 0, height));
  ASSERT_TRUE(rip);
  EXPECT_EQ(MeanCode(*rip, width, height, 0, 2), 0.0);
  EXPECT_EQ(MeanCode(*rip, width, height, 255, 2), 3.0);
  double last = 0;
  for (int g = 8; g < 256; g += 8) {
    auto* ml = static_cast<CHTRipML*>(rip.get());
    const HTMLEntry e = ml->GetTable()[g];
    double mean = MeanCode(*rip, width, height, uint8_t(g), 2);
    double want = e.lower + (e.upper - e.lower) * e.f / 2047.0;
    EXPECT_NEAR(mean, want, 0.03) << "gray " << g;
    EXPECT_GE(mean, last - 0.03);
    last = mean;
  }
}

TEST(MultiLevelCurves, LevelEnginesMergeIntoCodes) {
  const int width = 256, height = 48;
  Descr d(width, height, 2);
  CHTPlaceErrDif place;
  MLPROCINFO rec = Sample(2, true);
  place.SetLinearization(0, nullptr, &rec);
  ASSERT_TRUE(place.PreInitProcess(&d.in, &d.out));
  std::unique_ptr<CHTRip> rip(place.CreateRip(0, 0, false, 0, nullptr, nullptr, 0, height));
  ASSERT_TRUE(rip);
  auto* ml = static_cast<CHTRipML*>(rip.get());
  ASSERT_TRUE(ml->IsCurveMode());
  EXPECT_EQ(ml->GetSubCount(), 3u);
  EXPECT_EQ(MeanCode(*rip, width, height, 0, 2), 0.0);
  EXPECT_EQ(MeanCode(*rip, width, height, 255, 2), 3.0);
  // Small drops fill the first third, medium the second, large the last.
  EXPECT_NEAR(MeanCode(*rip, width, height, 85, 2), 1.0, 0.02);
  EXPECT_NEAR(MeanCode(*rip, width, height, 170, 2), 2.0, 0.02);
  double last = 0;
  for (int g = 0; g < 256; g += 5) {
    double m = MeanCode(*rip, width, height, uint8_t(g), 2);
    EXPECT_GE(m, last - 0.02) << "gray " << g;
    last = m;
  }
}

TEST(MultiLevelCurves, MergeTables) {
  for (int bits : {1, 2}) {
    for (int out : {2, 4, 8}) {
      for (int subs = 1; subs <= 8; ++subs) {
        SCOPED_TRACE(std::to_string(subs) + " engines of " + std::to_string(bits) + " bits into " +
                     std::to_string(out));
        const auto t = HTMLMergeTable(subs, bits, out);
        ASSERT_EQ(t.size(), size_t(1) << (subs * bits));
        const unsigned per = (1u << bits) - 1, maxcode = (1u << out) - 1;
        EXPECT_EQ(t[0], 0);
        // The top engine at its largest drop gives the largest code when
        // there are enough natural codes for it.
        const size_t top = size_t(per) << ((subs - 1) * bits);
        EXPECT_EQ(t[top], std::min(per * unsigned(subs), maxcode));
        for (size_t i = 1; i < t.size(); ++i) {
          EXPECT_GE(t[i], 1) << i;  // a printed drop never vanishes
          EXPECT_LE(t[i], maxcode);
          // Raising any engine's value never lowers the code.
          for (int s = 0; s < subs; ++s) {
            const unsigned v = unsigned(i >> (s * bits)) & per;
            if (v == per) continue;
            const size_t j = i + (size_t(1) << (s * bits));
            ASSERT_GE(t[j], t[i]) << i << " engine " << s;
          }
        }
      }
    }
  }
  // One-bit level engines into 2 bits: level s gives code s + 1, the highest
  // level wins.
  const auto t = HTMLMergeTable(3, 1, 2);
  EXPECT_EQ(t[1], 1);
  EXPECT_EQ(t[2], 2);
  EXPECT_EQ(t[3], 2);
  EXPECT_EQ(t[4], 3);
  EXPECT_EQ(t[7], 3);
  // Two 2-bit engines into 2 bits: six natural codes on three output codes.
  const auto u = HTMLMergeTable(2, 2, 2);
  EXPECT_EQ(u[1], 1);   // natural 1 -> 1
  EXPECT_EQ(u[3], 2);   // natural 3 -> ceil(1.5)
  EXPECT_EQ(u[12], 3);  // engine 1 at its largest: natural 6
  EXPECT_TRUE(HTMLMergeTable(9, 1, 2).empty());
  EXPECT_TRUE(HTMLMergeTable(2, 3, 2).empty());
}

class CoverageProbe : public CHTRipMLVD {
 public:
  void ProcessTableLine() override {}
};

TEST(MultiLevelVarDot, CoverageCurve) {
  MLPROCCOLORINFO rec{};
  CoverageProbe p;
  EXPECT_EQ(p.getCoverageLevel(&rec, 0, 1000, 2047), 1000);  // no curve: unchanged
  const uint8_t pts[][2] = {{0, 0}, {128, 64}, {255, 255}};
  std::memcpy(rec.coverage[0], pts, sizeof pts);
  // p = 1023.5 x 255 / 2047 lies on the first segment at 63.75 / 255.
  const double pp = 1023.0 * 255 / 2047;
  EXPECT_EQ(p.getCoverageLevel(&rec, 0, 1023, 2047), uint16_t(2047 * (pp / 128 * 64) / 255));
  EXPECT_EQ(p.getCoverageLevel(&rec, 0, 2047, 2047), 2047);
  EXPECT_EQ(p.getCoverageLevel(&rec, 0, 0, 2047), 0);
  EXPECT_EQ(p.getCoverageLevel(&rec, 1, 700, 2047), 700);  // level 1 has no curve
}

TEST(MultiLevelVarDot, DiffusionAddsCodeOffsets) {
  // A variable-dot record: 4-bit output, three levels of two curves each, the
  // variable-dot screen from "VarDot.HTS" on the search path.
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("klv_vardot_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::vector<uint16_t> thr(16 * 16);
  std::mt19937 rng(4);
  for (auto& v : thr) v = uint16_t(rng() % 256);
  ASSERT_EQ(save_htwscreen_file((dir / "VarDot.HTS").c_str(), thr.data(), 16, 16, 1, 255), 1);
  const std::string old = std::getenv("KLV_PATH") ? std::getenv("KLV_PATH") : "";
  setenv("KLV_PATH", dir.c_str(), 1);
  MLPROCINFO rec = Sample(4);
  rec.flags = KLV_MLPROC_FLAG_VARDOT;
  rec.vardot_ext = 1;
  for (auto& c : rec.color) {
    c.level_curves = 6;
    for (int k = 0; k < 6; ++k) {
      const uint8_t pts[][2] = {{0, 0}, {255, uint8_t(k % 2 ? 90 : 180)}};
      std::memcpy(c.curve[k], pts, sizeof pts);
    }
    c.vardot_values[0] = 0;
    c.vardot_values[1] = 4;
    c.vardot_values[2] = 8;
  }
  const int width = 96, height = 24;
  Descr d(width, height, 4);
  CHTPlaceErrDif place;
  const bool loaded = place.SetLinearization(0, nullptr, &rec);
  setenv("KLV_PATH", old.c_str(), 1);
  fs::remove_all(dir);
  ASSERT_TRUE(loaded);
  ASSERT_TRUE(place.PreInitProcess(&d.in, &d.out));
  std::unique_ptr<CHTRip> rip(place.CreateRip(0, 0, false, 0, nullptr, nullptr, 0, height));
  ASSERT_TRUE(rip);
  ASSERT_TRUE(dynamic_cast<CHTRipMLVDErrDif*>(rip.get()));
  auto ramp = klv::test::GrayRamp(width, height);
  rip->StartProcessLine(ramp.data(), height);
  int with_offset = 0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      int code = CodeAt(rip->GetOutBuf() + y * rip->GetBytesPerLine(), x, 4);
      int base = code & 3, off = code & ~3;
      EXPECT_TRUE(off == 0 || off == 4 || off == 8) << code;
      if (base == 0) {
        EXPECT_EQ(off, 0);  // no drop, no offset
      }
      if (off) ++with_offset;
    }
  EXPECT_GT(with_offset, 0);
}

TEST(MultiLevelPreview, Ramps) {
  // Each pixel drawn as a 2x2 cell with as many dots as its drop code.
  const int w = 384, h = 96;
  auto ramp = klv::test::GrayRamp(w, h);
  auto draw = [&](CHTRip& rip, const char* name) {
    rip.ResetOutBuf();
    rip.StartProcessLine(ramp.data(), h);
    klv::test::DotImage img;
    img.width = 2 * w;
    img.height = 2 * h;
    img.bytes_per_line = size_t(img.width + 7) / 8;
    img.bits.assign(img.bytes_per_line * img.height, 0);
    static const int order[4][2] = {{0, 0}, {1, 1}, {1, 0}, {0, 1}};
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        int code = CodeAt(rip.GetOutBuf() + y * rip.GetBytesPerLine(), x, 2);
        for (int k = 0; k < code; ++k) {
          int px = 2 * x + order[k][0], py = 2 * y + order[k][1];
          img.bits[size_t(py) * img.bytes_per_line + px / 8] |= uint8_t(0x80 >> (px % 8));
        }
      }
    EXPECT_FALSE(klv::test::WritePreview(img, name).empty());
  };
  Descr d(w, h, 2);
  CHTPlaceErrDif ed;
  MLPROCINFO rec = Sample();
  ed.SetLinearization(0, nullptr, &rec);
  ASSERT_TRUE(ed.PreInitProcess(&d.in, &d.out));
  std::unique_ptr<CHTRip> a(ed.CreateRip(0, 0, false, 0, nullptr, nullptr, 0, h));
  ASSERT_TRUE(a);
  draw(*a, "multilevel_diffusion");
  CHTPlaceErrDif ed_curves;
  MLPROCINFO rec2 = Sample(2, true);
  ed_curves.SetLinearization(0, nullptr, &rec2);
  ASSERT_TRUE(ed_curves.PreInitProcess(&d.in, &d.out));
  std::unique_ptr<CHTRip> b(ed_curves.CreateRip(0, 0, false, 0, nullptr, nullptr, 0, h));
  ASSERT_TRUE(b);
  draw(*b, "multilevel_curves");
}

}  // namespace
