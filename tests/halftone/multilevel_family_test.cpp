// SPDX-License-Identifier: MIT
// Multi-level and variable-dot diffusion of every family (plain, matrix,
// screen, variable-coefficient) against plain loops written from the rules,
// bit for bit, and the mean drop on flat patches.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "klv/halftone.h"
#include "klv/halftone_diffusion.h"
#include "klv/halftone_ml.h"

namespace {

enum Fam { kPlain, kMatrix, kScreenTable, kScreenPattern, kVarCoef };

struct MLCase {
  Fam family;
  int in_bits;
  bool vardot;
  bool mirror;
  bool invert;
};

std::string Name(const MLCase& c) {
  static const char* fam[] = {"plain", "matrix", "screen", "pattern", "varcoef"};
  return std::string(fam[c.family]) + "_" + std::to_string(c.in_bits) + (c.vardot ? "_vd" : "") +
         (c.mirror ? "_mirror" : "") + (c.invert ? "_inv" : "");
}

std::unique_ptr<CHTThreshArray<unsigned short>> RandomScreens(int w, int h, int shift) {
  auto arr = std::make_unique<CHTThreshArray<unsigned short>>();
  arr->Create(1, 2047);
  arr->tables[0].Alloc(uint32_t(w), uint16_t(h), uint16_t(shift), 2047);
  std::mt19937 rng(21);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) arr->tables[0].rows[y][x] = uint16_t(rng() % 2046);
  return arr;
}

struct MLRun {
  image_info in{}, out{};
  MLPROCINFO rec{};
  std::unique_ptr<CHTThreshArray<unsigned short>> screens = RandomScreens(29, 5, 7);
  std::unique_ptr<CHTPlaceErrDif> place;
  std::unique_ptr<CHTRip> rip;

  // `ramp`: a record whose first level has a middle drop of its own (no ink,
  // small drops, then medium drops) and whose second tops up with large ones.
  MLRun(const MLCase& c, int width, int height, bool ramp = false) {
    const int out_bits = 2;
    in.width = out.width = width;
    in.height = out.height = height;
    in.samples = out.samples = 1;
    in.bits_per_sample = uint32_t(c.in_bits);
    in.bytes_per_line = uint32_t(width * c.in_bits / 8);
    out.bits_per_sample = uint32_t(out_bits);
    out.photometric = c.invert ? 1 : 0;
    switch (c.family) {
      case kPlain:
        place = std::make_unique<CHTPlaceErrDif>();
        break;
      case kMatrix: {
        auto p = std::make_unique<CHTPlaceErrDifMtx>();
        p->SetMatrix(screens.get());
        place = std::move(p);
        break;
      }
      case kScreenTable: {
        auto p = std::make_unique<CHTPlaceErrDifScreen>();
        p->SetScreens(screens.get());
        place = std::move(p);
        break;
      }
      case kScreenPattern: {
        auto p = std::make_unique<CHTPlaceErrDifScreen>();
        p->pattern_type = 3;
        p->amp_a = 481;
        p->amp_b = 289;
        place = std::move(p);
        break;
      }
      case kVarCoef:
        place = std::make_unique<CHTPlaceErrDifVarCoef>();
        break;
    }
    MLProcSample(rec, false);
    rec.output_bits = uint8_t(out_bits);
    for (auto& col : rec.color) {
      col.mid_code[0] = 2;  // level 0: small, then medium drops
      if (ramp) {
        col.levels = 2;
        col.mid_code[0] = 1;
        col.upper_code[0] = 2;
        col.width[0] = 170;
        col.mid_code[1] = 2;
        col.upper_code[1] = 3;
        col.width[1] = 85;
      }
    }
    if (c.vardot) rec.flags = KLV_MLPROC_FLAG_VARDOT;
    place->SetLinearization(0, nullptr, &rec);
    place->mirror = c.mirror;
    if (!place->PreInitProcess(&in, &out)) return;
    rip.reset(place->CreateRip(0, 0, false, 0, nullptr, nullptr, 0, uint32_t(height)));
  }
  const HTMLDiffusion* Diffusion() const {
    if (auto* a = dynamic_cast<CHTRipMLErrDif*>(rip.get())) return &a->GetDiffusion();
    if (auto* b = dynamic_cast<CHTRipMLVDErrDif*>(rip.get())) return &b->GetDiffusion();
    return nullptr;
  }
  void Seed(uint32_t s) {
    if (auto* a = dynamic_cast<CHTRipMLErrDif*>(rip.get())) a->SetNoiseSeed(s);
    if (auto* b = dynamic_cast<CHTRipMLVDErrDif*>(rip.get())) b->SetNoiseSeed(s);
  }
};

uint32_t NextDraw(uint32_t& state) {
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  return state;
}

// The matrix family's rule for tone t, running value v and matrix value m.
int MatrixRule(int t, int v, int m, bool& dot) {
  if (t < 612) {
    const int thr = t > 306 ? 1028 - ((1028 - m) * (612 - t)) / 306 : m;
    int val = t + ((v - t) * t) / 612;
    dot = val > thr;
    return dot ? val - (t * 2047) / 612 : val;
  }
  if (t <= 1435) {
    dot = v > 1028;
    return dot ? v - 2047 : v;
  }
  m = std::max(m, 1435);
  const int thr = t < 1741 ? 1028 - ((1028 - m) * (t - 1435)) / 306 : m;
  int val = t + ((v - t) * (2047 - t)) / 612;
  dot = val > thr;
  return dot ? val - 2047 : val;
}

int ClampNoise(int n, int t) {
  if (t < 128) return std::max(-t, std::min(t, n));
  if (t > 1919) return std::max(t - 2047, std::min(2047 - t, n));
  return n;
}

uint8_t CodeAt(const uint8_t* line, int x, int bits) {
  int bit = x * bits;
  return uint8_t((line[bit / 8] >> (8 - bits - bit % 8)) & ((1 << bits) - 1));
}

// Drop codes by the rules, one pixel at a time.
std::vector<uint8_t> Reference(const MLCase& c, const std::vector<uint16_t>& input, int width,
                               int height, const std::vector<HTMLEntry>& table,
                               const int16_t* noise, const CHTThreshTable<unsigned short>* thr,
                               uint32_t seed, std::vector<uint8_t>* kinds = nullptr) {
  std::vector<uint8_t> codes(size_t(width) * height);
  std::vector<int16_t> ua(width + 4), ub(width + 4), ma(width + 4), mb(width + 4);
  std::vector<int16_t> fua(width + 2), fub(width + 2), fma(width + 2), fmb(width + 2);
  const HTVarCoefRow* coef = HTVarCoefTable();
  int row = 0, phase = 0;
  bool rtl = false;
  for (int y = 0; y < height; ++y) {
    const int start = int(NextDraw(seed) % 10000) * width * 3 / 10000;
    const int dir = rtl ? -1 : 1;
    for (int k = 0; k < width; ++k) {
      const int x = rtl ? width - 1 - k : k;
      const int px = c.mirror ? width - 1 - x : x;
      const uint32_t s = input[size_t(y) * width + px];
      const HTMLEntry& e = table[c.in_bits == 8 ? s : s >> 4];
      const int f = e.f, m = e.m;
      bool upper = false, hit = false;
      if (c.family == kVarCoef) {
        // The single-level rule: 16-bit errors, the weights of the
        // process's own tone in 12-bit fixed point (rounded), the shares
        // rounded down.
        auto run = [&](std::vector<int16_t>& a, std::vector<int16_t>& b, int t, bool& dot) {
          int n = noise[start + k];
          if (t < 128) n = n * t / 128;
          if (t > 1919) n = n * (2047 - t) / 128;
          int v = a[x + 1] + t + n;
          if (v > 1027) {
            v -= 2047;
            dot = t != 0;
          }
          const int wa = int(std::lround(coef[t].ahead * 4096.0f));
          const int wb = int(std::lround(coef[t].behind_below * 4096.0f));
          const int c0 = int(std::floor(v * wa / 4096.0)), c1 = int(std::floor(v * wb / 4096.0));
          a[x + 1 + dir] = int16_t(a[x + 1 + dir] + c0);
          b[x + 1 - dir] = int16_t(b[x + 1 - dir] + c1);
          b[x + 1] = int16_t(b[x + 1] + v - c0 - c1);
        };
        run(fua, fub, f, upper);
        run(fma, fmb, m, hit);
      } else {
        auto sum = [&](std::vector<int16_t>& a, std::vector<int16_t>& b) {
          const int i = x + 2;
          int16_t s16 = int16_t(a[i - dir] + b[i - 1] + b[i] + b[i + 1]);
          return (s16 + 2 * (s16 + a[i] + a[i - 2 * dir])) >> 4;
        };
        const int n = noise[start + k] - 128;
        const int16_t su = int16_t(sum(ua, ub) + ClampNoise(n, f) + f);
        const int16_t sm = int16_t(sum(ma, mb) + ClampNoise(n, m) + m);
        int eu, em;
        if (c.family == kPlain) {
          upper = f != 0 && su >= 1029;
          eu = upper ? (f == 2047 ? 1027 : su - 2047) : su;
          hit = sm >= 1029;
          em = hit ? sm - 2047 : sm;
        } else if (c.family == kMatrix) {
          const int mv = thr->rows[row][(phase + k) % int(thr->width)];
          eu = MatrixRule(f, su, mv, upper);
          em = MatrixRule(m, sm, mv, hit);
        } else {
          const int tv = thr->rows[row][(x + phase) % int(thr->width)];
          auto rule = [&](int t, int16_t v, bool& dot) {
            if (t == 2047) {
              dot = true;
              return 0;
            }
            dot = v > tv && t != 0;
            return v > tv ? v - 2047 : int(v);
          };
          eu = rule(f, su, upper);
          em = rule(m, sm, hit);
        }
        ua[x + 2] = int16_t(eu);
        ma[x + 2] = int16_t(em);
      }
      codes[size_t(y) * width + x] = upper ? e.upper : hit ? e.mid : e.lower;
      if (kinds) (*kinds)[size_t(y) * width + x] = upper ? 2 : hit ? 1 : 0;
    }
    std::swap(ua, ub);
    std::swap(ma, mb);
    std::swap(fua, fub);
    std::swap(fma, fmb);
    if (y + 1 < height) {
      std::fill(fub.begin(), fub.end(), int16_t(0));
      std::fill(fmb.begin(), fmb.end(), int16_t(0));
    }
    if (thr && ++row == int(thr->height)) {
      row = 0;
      phase = (phase + thr->shift) % int(thr->width);
    }
    rtl = !rtl;
  }
  return codes;
}

class MLFamilyExact : public ::testing::TestWithParam<MLCase> {};

TEST_P(MLFamilyExact, MatchesPlainLoop) {
  const MLCase c = GetParam();
  const int width = 157, height = 17;
  MLRun r(c, width, height);
  ASSERT_TRUE(r.rip) << Name(c);
  const HTMLDiffusion* d = r.Diffusion();
  ASSERT_TRUE(d);
  EXPECT_EQ(c.vardot, dynamic_cast<CHTRipMLVD*>(r.rip.get()) != nullptr);
  const auto& table = static_cast<CHTRipML*>(r.rip.get())->GetTable();
  std::unique_ptr<CHTThreshTable<unsigned short>> thr;
  if (c.family == kMatrix || c.family == kScreenTable || c.family == kScreenPattern) {
    const auto& t = d->table;
    ASSERT_TRUE(t.rows);
    thr = std::make_unique<CHTThreshTable<unsigned short>>();
    thr->CopyPhase(t.rows, t.width, t.height, t.shift, t.levels, 0, 0);
  }
  std::mt19937 rng(8);
  std::vector<uint16_t> input(size_t(width) * height);
  for (auto& v : input) {
    const uint32_t a = rng();
    const uint16_t full = c.in_bits == 8 ? 255 : 65535;
    v = (a >> 28) < 3 ? 0 : (a >> 28) < 5 ? full : uint16_t(c.in_bits == 8 ? a & 255 : a & 65535);
  }
  std::vector<uint8_t> bytes;
  if (c.in_bits == 8) {
    for (uint16_t v : input) bytes.push_back(uint8_t(v));
  } else {
    bytes.assign(reinterpret_cast<uint8_t*>(input.data()),
                 reinterpret_cast<uint8_t*>(input.data()) + input.size() * 2);
  }
  r.Seed(77);
  ASSERT_EQ(r.rip->StartProcessLine(bytes.data(), height), unsigned(height));
  const auto want = Reference(c, input, width, height, table, r.place->Noise(), thr.get(), 77);
  const size_t bpl = r.rip->GetBytesPerLine();
  for (int y = 0; y < height; ++y) {
    const uint8_t* line = r.rip->GetOutBuf() + y * bpl;
    for (int x = 0; x < width; ++x) {
      const uint8_t got = uint8_t(CodeAt(line, x, 2) ^ (c.invert ? 3 : 0));
      ASSERT_EQ(got, want[size_t(y) * width + x]) << Name(c) << " line " << y << " pixel " << x;
    }
  }
}

std::vector<MLCase> Cases() {
  std::vector<MLCase> v;
  for (Fam f : {kPlain, kMatrix, kScreenTable, kScreenPattern, kVarCoef})
    for (int bits : {8, 16})
      for (bool vd : {false, true})
        for (int mi = 0; mi < 4; ++mi) v.push_back({f, bits, vd, (mi & 1) != 0, (mi & 2) != 0});
  return v;
}

INSTANTIATE_TEST_SUITE_P(Families, MLFamilyExact, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return Name(info.param); });

TEST(MLFamily, PlacementsMakeTheirFamilysEngines) {
  for (bool vd : {false, true}) {
    for (int bits : {8, 16}) {
      MLRun m({kMatrix, bits, vd, false, false}, 32, 4);
      MLRun s({kScreenTable, bits, vd, false, false}, 32, 4);
      MLRun v({kVarCoef, bits, vd, false, false}, 32, 4);
      ASSERT_TRUE(m.rip && s.rip && v.rip);
      EXPECT_EQ(m.Diffusion()->family, HTDiffusionFamily::Matrix);
      EXPECT_EQ(s.Diffusion()->family, HTDiffusionFamily::Screen);
      EXPECT_EQ(v.Diffusion()->family, HTDiffusionFamily::VarCoef);
      const bool in16 = bits == 16;
      if (vd) {
        EXPECT_EQ(in16, bool(dynamic_cast<CHTRipMLVDErrDifMtx16*>(m.rip.get())));
        EXPECT_EQ(in16, bool(dynamic_cast<CHTRipMLVDErrDifScreen16*>(s.rip.get())));
        EXPECT_EQ(in16, bool(dynamic_cast<CHTRipMLVDErrDifVarCoef16*>(v.rip.get())));
        EXPECT_TRUE(dynamic_cast<CHTRipMLVDErrDifMtx*>(m.rip.get()));
      } else {
        EXPECT_EQ(in16, bool(dynamic_cast<CHTRipMLErrDifMtx16*>(m.rip.get())));
        EXPECT_EQ(in16, bool(dynamic_cast<CHTRipMLErrDifScreen16*>(s.rip.get())));
        EXPECT_EQ(in16, bool(dynamic_cast<CHTRipMLErrDifVarCoef16*>(v.rip.get())));
        EXPECT_TRUE(dynamic_cast<CHTRipMLErrDifVarCoef*>(v.rip.get()));
      }
    }
  }
  // A matrix placement without a matrix makes no engine.
  image_info in{}, out{};
  in.width = out.width = 16;
  in.height = out.height = 2;
  in.samples = out.samples = 1;
  in.bits_per_sample = 8;
  in.bytes_per_line = 16;
  out.bits_per_sample = 2;
  MLPROCINFO rec;
  MLProcSample(rec, false);
  CHTPlaceErrDifMtx none;
  none.SetLinearization(0, nullptr, &rec);
  none.SetMatrixFile("no such matrix.hts");
  EXPECT_FALSE(none.PreInitProcess(&in, &out));
}

// Mean drop code of a flat patch, and what the table asks for.
TEST(MLFamily, FlatPatchesGiveTheTableCoverage) {
  const int width = 256, height = 64;
  for (Fam f : {kPlain, kMatrix, kScreenTable, kScreenPattern, kVarCoef}) {
    for (bool vd : {false, true}) {
      double last = -1;
      for (int g = 0; g < 256; g += 5) {
        // A fresh engine per patch: the image is `height` lines high.
        MLRun r({f, 8, vd, false, false}, width, height, true);
        ASSERT_TRUE(r.rip);
        const auto& table = static_cast<CHTRipML*>(r.rip.get())->GetTable();
        std::vector<uint8_t> input(size_t(width) * height, uint8_t(g));
        r.rip->StartProcessLine(input.data(), height);
        double sum = 0;
        for (int y = 0; y < height; ++y)
          for (int x = 0; x < width; ++x)
            sum += CodeAt(r.rip->GetOutBuf() + y * r.rip->GetBytesPerLine(), x, 2);
        const double mean = sum / (double(width) * height);
        const HTMLEntry& e = table[size_t(g)];
        // Ink in drop codes: upper drops on f, middle drops on the rest of b.
        const double fu = e.f / 2047.0, fm = (1 - fu) * e.m / 2047.0;
        const double want = e.upper * fu + e.mid * fm + e.lower * (1 - fu - fm);
        EXPECT_NEAR(mean, want, 0.05) << "f " << e.f << " m " << e.m << " "
                                      << Name({f, 8, vd, false, false}) << " gray " << g;
        EXPECT_GE(mean, last - 0.02) << Name({f, 8, vd, false, false}) << " gray " << g;
        last = mean;
      }
      EXPECT_EQ(last, 3.0) << Name({f, 8, vd, false, false});
    }
  }
}

// Variable-dot diffusion with offsets: the base codes of the family's
// diffusion, then the variable-dot screen read in scan order (the column runs
// on across lines, the row moves per line) against the level's two curves.
template <class Engine>
class VdProbe : public Engine {
 public:
  const CHTThreshTable<unsigned char>& VarDot() const { return this->vd_screen_; }
};

// A curve's value at reduced tone i: straight lines between break points.
int CurveAt(const uint8_t (*pts)[2], int count, int r, int i) {
  int px = pts[0][0] * r / 255, py = pts[0][1];
  if (i <= px) return py;
  for (int k = 1; k < count; ++k) {
    const int x = pts[k][0] * r / 255, y = pts[k][1];
    if (i <= x) return py + (y - py) * (i - px) / (x - px);
    px = x;
    py = y;
  }
  return py;
}

template <class Engine>
void VarDotOffsetsCase(Fam fam, int in_bits) {
  SCOPED_TRACE(Name({fam, in_bits, true, false, false}));
  const int width = 91, height = 13;
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("klv_mlvd_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::vector<uint16_t> vdthr(12 * 7);
  std::mt19937 rng(6);
  for (auto& v : vdthr) v = uint16_t(rng() % 256);
  ASSERT_EQ(save_htwscreen_file((dir / "VarDot.HTS").c_str(), vdthr.data(), 12, 7, 1, 255), 1);
  const std::string old = std::getenv("KLV_PATH") ? std::getenv("KLV_PATH") : "";
  setenv("KLV_PATH", dir.c_str(), 1);

  MLRun r({fam, in_bits, true, false, false}, width, height);  // for its placement
  static const uint8_t c0[][2] = {{0, 30}, {128, 200}, {255, 160}};
  static const uint8_t c1[][2] = {{0, 0}, {200, 80}, {255, 110}};
  MLPROCINFO rec = r.rec;
  rec.output_bits = 4;
  for (auto& col : rec.color) {
    col.level_curves = 6;
    for (int k = 0; k < 6; ++k) {
      if (k % 2)
        std::memcpy(col.curve[k], c1, sizeof c1);
      else
        std::memcpy(col.curve[k], c0, sizeof c0);
    }
    col.vardot_values[1] = 4;
    col.vardot_values[2] = 8;
  }
  r.out.bits_per_sample = 4;
  const bool loaded = r.place->SetLinearization(0, nullptr, &rec);
  setenv("KLV_PATH", old.c_str(), 1);
  fs::remove_all(dir);
  ASSERT_TRUE(loaded);
  ASSERT_TRUE(r.place->PreInitProcess(&r.in, &r.out));
  VdProbe<Engine> rip;
  ASSERT_TRUE(rip.Init(r.place.get(), false, 0, 0, false, 0, nullptr, nullptr, 0, height));
  const CHTThreshTable<unsigned char>& vd = rip.VarDot();
  ASSERT_TRUE(vd.rows);
  std::unique_ptr<CHTThreshTable<unsigned short>> thr;
  if (const auto& t = rip.GetDiffusion().table; t.rows) {
    thr = std::make_unique<CHTThreshTable<unsigned short>>();
    thr->CopyPhase(t.rows, t.width, t.height, t.shift, t.levels, 0, 0);
  }
  std::vector<uint16_t> input(size_t(width) * height);
  for (auto& v : input) v = uint16_t(in_bits == 8 ? rng() & 255 : rng() & 65535);
  std::vector<uint8_t> bytes;
  if (in_bits == 8) {
    for (uint16_t v : input) bytes.push_back(uint8_t(v));
  } else {
    bytes.assign(reinterpret_cast<uint8_t*>(input.data()),
                 reinterpret_cast<uint8_t*>(input.data()) + input.size() * 2);
  }
  rip.SetNoiseSeed(31);
  ASSERT_EQ(rip.StartProcessLine(bytes.data(), height), unsigned(height));
  const MLCase c{fam, in_bits, true, false, false};
  std::vector<uint8_t> kinds(input.size());
  auto want =
      Reference(c, input, width, height, rip.GetTable(), r.place->Noise(), thr.get(), 31, &kinds);
  const auto& adjusted = rip.GetAdjusted();
  uint32_t col = 0;
  int offsets = 0;
  for (int y = 0; y < height; ++y) {
    const bool rtl = y % 2 == 1;
    for (int k = 0; k < width; ++k) {
      const int x = rtl ? width - 1 - k : k;
      const uint32_t t = vd.rows[y % vd.height][col];
      col = (col + 1) % vd.width;
      uint8_t& code = want[size_t(y) * width + x];
      if (code == 0) continue;
      const uint32_t s = input[size_t(y) * width + x];
      const auto& a = adjusted[in_bits == 8 ? s : s >> 4];
      const int kind = kinds[size_t(y) * width + x];
      const int cov = kind == 2 ? a.value >> 2 : kind == 1 ? a.mid >> 2 : 511;
      const int off = t >= uint32_t(CurveAt(c0, 3, 511, cov))   ? 0
                      : t >= uint32_t(CurveAt(c1, 3, 511, cov)) ? 4
                                                                : 8;
      code = uint8_t(code + off);
      offsets += off != 0;
    }
  }
  EXPECT_GT(offsets, 0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      ASSERT_EQ(CodeAt(rip.GetOutBuf() + y * rip.GetBytesPerLine(), x, 4),
                want[size_t(y) * width + x])
          << "line " << y << " pixel " << x;
}

TEST(MLFamilyVarDot, OffsetsMatchPlainLoop) {
  VarDotOffsetsCase<CHTRipMLVDErrDif>(kPlain, 8);
  VarDotOffsetsCase<CHTRipMLVDErrDif16>(kPlain, 16);
  VarDotOffsetsCase<CHTRipMLVDErrDifMtx>(kMatrix, 8);
  VarDotOffsetsCase<CHTRipMLVDErrDifMtx16>(kMatrix, 16);
  VarDotOffsetsCase<CHTRipMLVDErrDifScreen>(kScreenTable, 8);
  VarDotOffsetsCase<CHTRipMLVDErrDifScreen16>(kScreenPattern, 16);
  VarDotOffsetsCase<CHTRipMLVDErrDifVarCoef>(kVarCoef, 8);
  VarDotOffsetsCase<CHTRipMLVDErrDifVarCoef16>(kVarCoef, 16);
}

}  // namespace
