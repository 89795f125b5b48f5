// SPDX-License-Identifier: MIT
// Multi-level rendering of one separation, 8-bit input, 16000-pixel lines,
// 2-bit drop codes from the sample three-drop process record (4-bit codes for
// the variable-dot engines, whose offsets sit above the drop bits):
// table-mode screening, the diffusion families and the variable-dot engines,
// each beside a plain loop of the same work (BM_Plain*).
#include <benchmark/benchmark.h>

#include <algorithm>
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
#include "support/env.h"
#include "support/files.h"

namespace {

constexpr int kWidth = 16000;
constexpr int kScreen = 256;

std::vector<uint8_t> Line() {
  std::mt19937 rng(7);
  std::vector<uint8_t> v(kWidth);
  for (int x = 0; x < kWidth; ++x) v[x] = uint8_t(x * 255 / (kWidth - 1) + rng() % 16);
  return v;
}

struct Descr {
  image_info in{}, out{};
  explicit Descr(int out_bits = 2) {
    in.width = out.width = kWidth;
    in.height = out.height = 1 << 30;
    in.samples = out.samples = 1;
    in.bits_per_sample = 8;
    in.bytes_per_line = kWidth;
    out.bits_per_sample = uint32_t(out_bits);
  }
};

void Run(benchmark::State& state, CHTRip* rip) {
  auto line = Line();
  for (auto _ : state) {
    rip->ResetOutBuf();
    rip->StartProcessLine(line.data(), 1);
    benchmark::DoNotOptimize(rip->GetOutBuf()[0]);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kWidth);
}

// An 8-bit screen of random thresholds.
struct Screen8 {
  std::vector<uint8_t> data;
  std::vector<uint8_t*> rows;
  uint8_t** rp;
  uint16_t h = kScreen, shift = 0;
  uint32_t w = kScreen, levels = 256;
  Screen8() {
    std::mt19937 rng(5);
    data.resize(kScreen * kScreen);
    for (auto& v : data) v = uint8_t(rng());
    for (int r = 0; r < kScreen; ++r) rows.push_back(data.data() + r * kScreen);
    rp = rows.data();
  }
};

// Variable dot: two curves per level and a variable-dot screen on a private
// search path while the placement loads it.
MLPROCINFO VarDotRecord() {
  MLPROCINFO rec;
  MLProcSample(rec, false);
  rec.output_bits = 4;
  rec.flags = KLV_MLPROC_FLAG_VARDOT;
  for (auto& c : rec.color) {
    c.level_curves = 6;
    for (int k = 0; k < 6; ++k) {
      const uint8_t pts[][2] = {{0, 0}, {255, uint8_t(k % 2 ? 90 : 180)}};
      std::memcpy(c.curve[k], pts, sizeof pts);
    }
    c.vardot_values[1] = 4;
    c.vardot_values[2] = 8;
  }
  return rec;
}

bool LoadVarDot(CHTKlvPlacement& place, const MLPROCINFO& rec) {
  const klv::test::ScratchFolder dir("bench_vd");
  std::vector<uint16_t> thr(64 * 64);
  std::mt19937 rng(4);
  for (auto& v : thr) v = uint16_t(rng() % 256);
  save_htwscreen_file(dir.path("VarDot.HTS").c_str(), thr.data(), 64, 64, 1, 255);
  const klv::test::ScopedEnv path("KLV_PATH", dir.str());
  return place.SetLinearization(0, nullptr, &rec);
}

void BM_MLScreen(benchmark::State& state) {
  Descr d;
  Screen8 s;
  CHTPlaceScreen<unsigned char> place;
  place.SetScreens(1, &s.rp, &s.h, &s.shift, &s.w, &s.levels);
  MLPROCINFO rec;
  MLProcSample(rec, false);
  place.SetLinearization(0, nullptr, &rec);
  place.PreInitProcess(&d.in, &d.out);
  CHTRipMLScreen<unsigned char> rip;
  if (!rip.Init(&place, false, 0, 0, false, 0, nullptr, nullptr, 0, 1)) {
    state.SkipWithError("engine");
    return;
  }
  Run(state, &rip);
}

// Yardstick for screening: a threshold compare into 2-bit codes, packed.
void BM_PlainScreen2Bit(benchmark::State& state) {
  auto line = Line();
  std::mt19937 rng(5);
  std::vector<uint8_t> thr(kScreen);
  for (auto& v : thr) v = uint8_t(rng());
  std::vector<uint8_t> out(kWidth / 4);
  for (auto _ : state) {
    for (int i = 0; i < kWidth / 4; ++i) {
      uint8_t b = 0;
      for (int j = 0; j < 4; ++j) {
        int x = 4 * i + j;
        int v = line[x];
        int t = thr[x & (kScreen - 1)];
        int code = v * 3 / 256 + (t < (v * 3) % 256);
        b = uint8_t(b << 2 | (code > 3 ? 3 : code));
      }
      out[i] = b;
    }
    benchmark::DoNotOptimize(out[0]);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kWidth);
}

// --- diffusion ----------------------------------------------------------------------

enum Fam { kPlain, kMatrix, kScreenMod, kVarCoef };

std::unique_ptr<CHTThreshArray<unsigned short>> Matrix() {
  auto arr = std::make_unique<CHTThreshArray<unsigned short>>();
  arr->Create(1, 2047);
  arr->tables[0].Alloc(64, 64, 0, 2047);
  std::mt19937 rng(9);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) arr->tables[0].rows[y][x] = uint16_t(rng() % 2046);
  return arr;
}

struct DiffusionSetup {
  std::unique_ptr<CHTThreshArray<unsigned short>> matrix = Matrix();
  std::unique_ptr<CHTPlaceErrDif> place;
  std::unique_ptr<CHTRip> rip;
  DiffusionSetup(Fam f, bool vardot) {
    Descr d(vardot ? 4 : 2);
    switch (f) {
      case kPlain:
        place = std::make_unique<CHTPlaceErrDif>();
        break;
      case kMatrix: {
        auto p = std::make_unique<CHTPlaceErrDifMtx>();
        p->SetMatrix(matrix.get());
        place = std::move(p);
        break;
      }
      case kScreenMod: {
        auto p = std::make_unique<CHTPlaceErrDifScreen>();
        p->SetScreens(matrix.get());
        place = std::move(p);
        break;
      }
      case kVarCoef:
        place = std::make_unique<CHTPlaceErrDifVarCoef>();
        break;
    }
    MLPROCINFO rec;
    if (vardot) {
      rec = VarDotRecord();
      if (!LoadVarDot(*place, rec)) return;
    } else {
      MLProcSample(rec, false);
      place->SetLinearization(0, nullptr, &rec);
    }
    if (!place->PreInitProcess(&d.in, &d.out)) return;
    rip.reset(place->CreateRip(0, 0, false, 0, nullptr, nullptr, 0, 1));
  }
};

void MLDiffusion(benchmark::State& state, Fam f, bool vardot) {
  DiffusionSetup s(f, vardot);
  if (!s.rip) {
    state.SkipWithError("engine");
    return;
  }
  Run(state, s.rip.get());
}

void BM_MLErrDif(benchmark::State& state) {
  MLDiffusion(state, kPlain, false);
}
void BM_MLErrDifMtx(benchmark::State& state) {
  MLDiffusion(state, kMatrix, false);
}
void BM_MLErrDifScreen(benchmark::State& state) {
  MLDiffusion(state, kScreenMod, false);
}
void BM_MLErrDifVarCoef(benchmark::State& state) {
  MLDiffusion(state, kVarCoef, false);
}
void BM_MLVDErrDif(benchmark::State& state) {
  MLDiffusion(state, kPlain, true);
}

// The coupled diffusions as a plain loop: the same table, noise, weights and
// decisions, written pixel by pixel with the direction and family tested per
// pixel, then the codes packed at 2 bits.
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

void PlainDiffusion(benchmark::State& state, Fam f) {
  DiffusionSetup s(f, false);
  if (!s.rip) {
    state.SkipWithError("engine");
    return;
  }
  const std::vector<HTMLEntry> table = static_cast<CHTRipML*>(s.rip.get())->GetTable();
  const int16_t* noise = s.place->Noise();
  const auto* m = s.matrix->tables[0].rows;
  const HTVarCoefFixed* coef = HTVarCoefFixedTable();
  auto line = Line();
  std::vector<int16_t> ua(kWidth + 4), ub(kWidth + 4), ma(kWidth + 4), mb(kWidth + 4);
  std::vector<int16_t> fua(kWidth + 2), fub(kWidth + 2), fma(kWidth + 2), fmb(kWidth + 2);
  std::vector<uint8_t> codes(kWidth), out(kWidth / 4);
  bool rtl = false;
  int row = 0;
  uint32_t seed = 1;
  auto clamp = [](int n, int t) {
    const int lim = HTNoiseLimit(t);
    return std::max(-lim, std::min(lim, n));
  };
  for (auto _ : state) {
    seed ^= seed << 13;
    seed ^= seed >> 17;
    seed ^= seed << 5;
    const int start = int(seed % 10000) * kWidth * 3 / 10000;
    for (int k = 0; k < kWidth; ++k) {
      const int x = rtl ? kWidth - 1 - k : k;
      const int dir = rtl ? -1 : 1;
      const HTMLEntry& e = table[line[x]];
      bool upper = false, hit = false;
      if (f == kVarCoef) {
        // 16-bit errors, 12-bit fixed-point weights, shares rounded down.
        auto step = [&](std::vector<int16_t>& a, std::vector<int16_t>& b, int t, bool& dot) {
          int n = noise[start + k];
          if (t < 128) n = n * t / 128;
          if (t > 1919) n = n * (2047 - t) / 128;
          int v = a[x + 1] + t + n;
          if (v > 1027) {
            v -= 2047;
            dot = t != 0;
          }
          const int c0 = (v * coef[t].ahead) >> 12, c1 = (v * coef[t].behind_below) >> 12;
          a[x + 1 + dir] = int16_t(a[x + 1 + dir] + c0);
          b[x + 1 - dir] = int16_t(b[x + 1 - dir] + c1);
          b[x + 1] = int16_t(b[x + 1] + v - c0 - c1);
        };
        step(fua, fub, e.f, upper);
        step(fma, fmb, e.m, hit);
      } else {
        auto sum = [&](std::vector<int16_t>& a, std::vector<int16_t>& b) {
          const int i = x + 2;
          const int16_t s16 = int16_t(a[i - dir] + b[i - 1] + b[i] + b[i + 1]);
          return (s16 + 2 * (s16 + a[i] + a[i - 2 * dir])) >> 4;
        };
        const int n = noise[start + k] - 128;
        const int16_t su = int16_t(sum(ua, ub) + clamp(n, e.f) + e.f);
        const int16_t sm = int16_t(sum(ma, mb) + clamp(n, e.m) + e.m);
        int eu, em;
        if (f == kPlain) {
          upper = e.f != 0 && su >= 1029;
          eu = upper ? (e.f == 2047 ? 1027 : su - 2047) : su;
          hit = sm >= 1029;
          em = hit ? sm - 2047 : sm;
        } else if (f == kMatrix) {
          const int mv = m[row][k % 64];
          eu = MatrixRule(e.f, su, mv, upper);
          em = MatrixRule(e.m, sm, mv, hit);
        } else {
          const int tv = m[row][x % 64];
          auto rule = [&](int t, int16_t v, bool& dot) {
            if (t == 2047) {
              dot = true;
              return 0;
            }
            dot = v > tv && t != 0;
            return v > tv ? v - 2047 : int(v);
          };
          eu = rule(e.f, su, upper);
          em = rule(e.m, sm, hit);
        }
        ua[x + 2] = int16_t(eu);
        ma[x + 2] = int16_t(em);
      }
      codes[x] = upper ? e.upper : hit ? e.mid : e.lower;
    }
    for (int i = 0; i < kWidth / 4; ++i)
      out[i] = uint8_t(codes[4 * i] << 6 | codes[4 * i + 1] << 4 | codes[4 * i + 2] << 2 |
                       codes[4 * i + 3]);
    std::swap(ua, ub);
    std::swap(ma, mb);
    std::swap(fua, fub);
    std::swap(fma, fmb);
    std::fill(fub.begin(), fub.end(), int16_t(0));
    std::fill(fmb.begin(), fmb.end(), int16_t(0));
    row = (row + 1) % 64;
    rtl = !rtl;
    benchmark::DoNotOptimize(out[0]);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kWidth);
}

void BM_PlainMLErrDif(benchmark::State& state) {
  PlainDiffusion(state, kPlain);
}
void BM_PlainMLErrDifMtx(benchmark::State& state) {
  PlainDiffusion(state, kMatrix);
}
void BM_PlainMLErrDifScreen(benchmark::State& state) {
  PlainDiffusion(state, kScreenMod);
}
void BM_PlainMLErrDifVarCoef(benchmark::State& state) {
  PlainDiffusion(state, kVarCoef);
}

// --- variable-dot screening ------------------------------------------------------

struct VdScreenSetup {
  Screen8 s;
  CHTPlaceScreen<unsigned char> place;
  std::unique_ptr<CHTRip> rip;
  explicit VdScreenSetup(bool form) {
    Descr d(4);
    place.SetScreens(1, &s.rp, &s.h, &s.shift, &s.w, &s.levels);
    place.vardot_screen = form;
    if (!LoadVarDot(place, VarDotRecord()) || !place.PreInitProcess(&d.in, &d.out)) return;
    rip.reset(place.CreateRip(0, 0, false, 0, nullptr, nullptr, 0, 1));
  }
};

void BM_MLVDScreen(benchmark::State& state) {
  VdScreenSetup v(false);
  if (!v.rip) {
    state.SkipWithError("engine");
    return;
  }
  Run(state, v.rip.get());
}

void BM_MLVDSScreen(benchmark::State& state) {
  VdScreenSetup v(true);
  if (!v.rip) {
    state.SkipWithError("engine");
    return;
  }
  Run(state, v.rip.get());
}

// Variable-dot screening as a plain loop: base code against the screen, then
// the offset from two curves against a second threshold, packed at 4 bits.
void BM_PlainVDScreen(benchmark::State& state) {
  VdScreenSetup v(false);
  if (!v.rip) {
    state.SkipWithError("engine");
    return;
  }
  auto* vd = static_cast<CHTRipMLVDScreen<unsigned char>*>(v.rip.get());
  const std::vector<HTMLEntry> table = vd->GetTable();
  const auto adjusted = vd->GetAdjusted();
  std::vector<uint16_t> c0(512), c1(512);
  for (int i = 0; i < 512; ++i) {
    c0[i] = uint16_t(180 * std::min(i, 255) / 255);
    c1[i] = uint16_t(90 * std::min(i, 255) / 255);
  }
  auto line = Line();
  std::vector<uint8_t> out(kWidth / 2);
  int row = 0;
  for (auto _ : state) {
    uint8_t codes[2];
    for (int x = 0; x < kWidth; ++x) {
      const HTMLEntry& e = table[line[x]];
      const uint32_t t = v.s.data[size_t(row) * kScreen + x % kScreen];
      const int kind = t < e.f ? 2 : int16_t(t) < int16_t(e.m) ? 1 : 0;
      uint8_t code = kind == 2 ? e.upper : kind == 1 ? e.mid : e.lower;
      if (code) {
        const int c = kind == 2 ? adjusted[line[x]].value : kind == 1 ? adjusted[line[x]].mid : 255;
        const uint32_t vt = v.s.data[size_t((row + 7) % kScreen) * kScreen + (x + 5) % kScreen];
        code = uint8_t(code + (vt >= c0[c] ? 0 : vt >= c1[c] ? 4 : 8));
      }
      codes[x & 1] = code;
      if (x & 1) out[x / 2] = uint8_t(codes[0] << 4 | codes[1]);
    }
    row = (row + 1) % kScreen;
    benchmark::DoNotOptimize(out[0]);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kWidth);
}

}  // namespace

BENCHMARK(BM_PlainScreen2Bit);
BENCHMARK(BM_MLScreen);
BENCHMARK(BM_PlainMLErrDif);
BENCHMARK(BM_MLErrDif);
BENCHMARK(BM_PlainMLErrDifMtx);
BENCHMARK(BM_MLErrDifMtx);
BENCHMARK(BM_PlainMLErrDifScreen);
BENCHMARK(BM_MLErrDifScreen);
BENCHMARK(BM_PlainMLErrDifVarCoef);
BENCHMARK(BM_MLErrDifVarCoef);
BENCHMARK(BM_MLVDErrDif);
BENCHMARK(BM_PlainVDScreen);
BENCHMARK(BM_MLVDScreen);
BENCHMARK(BM_MLVDSScreen);
BENCHMARK_MAIN();
