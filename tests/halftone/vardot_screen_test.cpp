// SPDX-License-Identifier: MIT
// Variable-dot screening (CHTRipMLVDScreen, CHTRipMLVDSScreen) against a plain
// loop written from the rules, the offset step with other curve counts, and
// the mean drop of flat patches.
#include <gtest/gtest.h>

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
#include "preview.h"

namespace {

namespace fs = std::filesystem;

struct Screen8 {
  std::vector<uint8_t> data;
  std::vector<uint8_t*> rows;
  uint8_t** rp;
  uint16_t h, shift;
  uint32_t w, levels = 256;
  Screen8(int width, int height, int sh, unsigned seed)
      : h(uint16_t(height)), shift(uint16_t(sh)), w(uint32_t(width)) {
    std::mt19937 rng(seed);
    data.resize(size_t(width) * height);
    for (auto& v : data) v = uint8_t(rng());
    for (int r = 0; r < height; ++r) rows.push_back(data.data() + r * width);
    rp = rows.data();
  }
  uint8_t at(int row, int col) const { return data[size_t(row) * w + size_t(col)]; }
};

// Level curves that fall from the first to the second, with a bend in each.
const uint8_t kCurve0[][2] = {{0, 40}, {128, 220}, {255, 150}};
const uint8_t kCurve1[][2] = {{0, 0}, {200, 90}, {255, 120}};
const uint8_t kCurve2[][2] = {{0, 0}, {255, 30}};

MLPROCINFO VarDotRecord(int per_level) {
  MLPROCINFO rec;
  MLProcSample(rec, false);
  rec.output_bits = 4;
  rec.flags = KLV_MLPROC_FLAG_VARDOT;
  for (auto& c : rec.color) {
    c.level_curves = uint8_t(3 * per_level);
    for (int k = 0; k < 3 * per_level; ++k) {
      if (k % per_level == 0)
        std::memcpy(c.curve[k], kCurve0, sizeof kCurve0);
      else if (k % per_level == 1)
        std::memcpy(c.curve[k], kCurve1, sizeof kCurve1);
      else
        std::memcpy(c.curve[k], kCurve2, sizeof kCurve2);
    }
    c.vardot_values[0] = 0;
    c.vardot_values[1] = 4;
    c.vardot_values[2] = 8;
    c.vardot_values[3] = 12;
  }
  return rec;
}

// A variable-dot screen file on a private search path for one placement.
class VarDotFile {
 public:
  VarDotFile() : dir_(fs::temp_directory_path() / ("klv_vds_" + std::to_string(::getpid()))) {
    fs::create_directories(dir_);
    std::mt19937 rng(4);
    thr_.resize(16 * 8);
    for (auto& v : thr_) v = uint16_t(rng() % 256);
    ok_ = save_htwscreen_file((dir_ / "VarDot.HTS").c_str(), thr_.data(), 16, 8, 1, 255) == 1;
    old_ = std::getenv("KLV_PATH") ? std::getenv("KLV_PATH") : "";
    setenv("KLV_PATH", dir_.c_str(), 1);
  }
  ~VarDotFile() {
    setenv("KLV_PATH", old_.c_str(), 1);
    fs::remove_all(dir_);
  }
  bool ok() const { return ok_; }

 private:
  fs::path dir_;
  std::vector<uint16_t> thr_;
  std::string old_;
  bool ok_ = false;
};

// Exposes the variable-dot screen the engine loaded.
template <class Base>
class Probe : public Base {
 public:
  const CHTThreshTable<unsigned char>& VarDot() const { return this->vd_screen_; }
};

// A curve's value at reduced tone i (top r): straight lines between the
// break points, the first value before the first point, the last after.
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

uint8_t CodeAt(const uint8_t* line, int x, int bits) {
  int bit = x * bits;
  return uint8_t((line[bit / 8] >> (8 - bits - bit % 8)) & ((1 << bits) - 1));
}

struct VdCase {
  bool screen_form;
  int in_bits;
  bool mirror;
  bool invert;
};

class VarDotScreenExact : public ::testing::TestWithParam<VdCase> {};

TEST_P(VarDotScreenExact, MatchesPlainLoop) {
  const VdCase c = GetParam();
  const int width = 83, height = 11;
  VarDotFile file;
  ASSERT_TRUE(file.ok());
  Screen8 s(13, 3, c.screen_form ? 0 : 5, 11);
  image_info in{}, out{};
  in.width = out.width = width;
  in.height = out.height = height;
  in.samples = out.samples = 1;
  in.bits_per_sample = uint32_t(c.in_bits);
  in.bytes_per_line = uint32_t(width * c.in_bits / 8);
  out.bits_per_sample = 4;
  out.photometric = c.invert ? 1 : 0;
  CHTPlaceScreen<unsigned char> place;
  place.SetScreens(1, &s.rp, &s.h, &s.shift, &s.w, &s.levels);
  place.vardot_screen = c.screen_form;
  MLPROCINFO rec = VarDotRecord(2);
  for (auto& col : rec.color) col.mid_code[1] = 3;  // a middle drop of its own in level 1
  ASSERT_TRUE(place.SetLinearization(0, nullptr, &rec));
  ASSERT_TRUE(place.PreInitProcess(&in, &out));
  place.mirror = c.mirror;
  // The placement picks the form the flag asks for.
  std::unique_ptr<CHTRip> made(place.CreateRip(0, 0, false, 0, nullptr, nullptr, 0, 1));
  ASSERT_TRUE(made);
  EXPECT_EQ(c.screen_form, dynamic_cast<CHTRipMLVDSScreen<unsigned char>*>(made.get()) != nullptr);
  EXPECT_TRUE(dynamic_cast<CHTRipMLVDScreen<unsigned char>*>(made.get()));
  EXPECT_EQ(c.in_bits == 16,
            c.screen_form
                ? dynamic_cast<CHTRipMLVDSScreen16<unsigned char>*>(made.get()) != nullptr
                : dynamic_cast<CHTRipMLVDScreen16<unsigned char>*>(made.get()) != nullptr);

  std::unique_ptr<CHTRipMLVDScreen<unsigned char>> rip;
  const CHTThreshTable<unsigned char>* vd = nullptr;
  if (c.screen_form && c.in_bits == 16)
    rip = std::make_unique<CHTRipMLVDSScreen16<unsigned char>>();
  else if (c.screen_form)
    rip = std::make_unique<CHTRipMLVDSScreen<unsigned char>>();
  else if (c.in_bits == 16)
    rip = std::make_unique<Probe<CHTRipMLVDScreen16<unsigned char>>>();
  else
    rip = std::make_unique<Probe<CHTRipMLVDScreen<unsigned char>>>();
  ASSERT_TRUE(rip->Init(&place, false, 0, 0, false, 0, nullptr, nullptr, 0, height));
  ASSERT_TRUE(rip->HasOffsets());
  if (!c.screen_form) {
    vd = c.in_bits == 16
             ? &static_cast<Probe<CHTRipMLVDScreen16<unsigned char>>*>(rip.get())->VarDot()
             : &static_cast<Probe<CHTRipMLVDScreen<unsigned char>>*>(rip.get())->VarDot();
    ASSERT_TRUE(vd->rows);
  }

  std::mt19937 rng(3);
  std::vector<uint16_t> input(size_t(width) * height);
  for (auto& v : input) v = uint16_t(c.in_bits == 8 ? rng() & 255 : rng() & 65535);
  std::vector<uint8_t> bytes;
  if (c.in_bits == 8) {
    for (uint16_t v : input) bytes.push_back(uint8_t(v));
  } else {
    bytes.assign(reinterpret_cast<uint8_t*>(input.data()),
                 reinterpret_cast<uint8_t*>(input.data()) + input.size() * 2);
  }
  ASSERT_EQ(rip->StartProcessLine(bytes.data(), height), unsigned(height));

  const auto& table = rip->GetTable();
  const auto& adjusted = rip->GetAdjusted();
  const int r = 255;  // 8-bit screens: range 256, no shift
  int row = 0, phase = 0;
  for (int y = 0; y < height; ++y) {
    const uint8_t* line = rip->GetOutBuf() + y * rip->GetBytesPerLine();
    for (int x = 0; x < width; ++x) {
      const int px = c.mirror ? width - 1 - x : x;
      const uint32_t idx =
          c.in_bits == 8 ? input[size_t(y) * width + px] : input[size_t(y) * width + px] >> 4;
      const HTMLEntry& e = table[idx];
      const uint32_t t = s.at(row, (phase + x) % int(s.w));
      int kind = t < e.f ? 2 : int16_t(t) < int16_t(e.m) ? 1 : 0;
      uint8_t code = kind == 2 ? e.upper : kind == 1 ? e.mid : e.lower;
      if (code) {
        int level = code - 1;  // the sample record's codes 1..3 are levels 0..2's upper drops
        int cov = kind == 2 ? adjusted[idx].value : kind == 1 ? adjusted[idx].mid : r;
        cov = std::min(cov, 511);
        uint32_t vt = c.screen_form ? s.at((y + s.h / 2) % s.h, (x + int(s.w) / 2) % int(s.w))
                                    : vd->rows[y % vd->height][x % vd->width];
        const int c0 = CurveAt(kCurve0, 3, r, cov), c1 = CurveAt(kCurve1, 3, r, cov);
        (void)level;
        const int off = vt >= uint32_t(c0) ? 0 : vt >= uint32_t(c1) ? 4 : 8;
        code = uint8_t(code + off);
      }
      const uint8_t got = uint8_t(CodeAt(line, x, 4) ^ (c.invert ? 15 : 0));
      ASSERT_EQ(got, code) << "line " << y << " pixel " << x << " form " << c.screen_form
                           << " bits " << c.in_bits << " mirror " << c.mirror;
    }
    if (++row == s.h) {
      row = 0;
      phase = (phase + s.shift) % int(s.w);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Forms, VarDotScreenExact,
    ::testing::Values(VdCase{false, 8, false, false}, VdCase{false, 8, true, true},
                      VdCase{false, 16, false, true}, VdCase{true, 8, false, false},
                      VdCase{true, 16, true, false}, VdCase{true, 8, true, true}));

TEST(VarDotSteps, OtherCurveCountsPerLevel) {
  // One, two and three curves per level: the first curve the threshold
  // reaches picks the offset, below all of them the last offset.
  for (int k : {1, 2, 3}) {
    MLPROCINFO rec = VarDotRecord(k);
    HTVarDotSteps steps;
    steps.Reduce(256);
    ASSERT_TRUE(steps.Build(rec.color[0], &rec, 0)) << k;
    EXPECT_EQ(steps.per_level, k);
    const int cov = 100;
    const int c0 = CurveAt(kCurve0, 3, 255, cov), c1 = CurveAt(kCurve1, 3, 255, cov);
    ASSERT_GT(c0, c1);
    EXPECT_EQ(steps.Offset(1, cov, 255), 0);
    EXPECT_EQ(steps.Offset(1, cov, uint32_t(c0)), 0);
    EXPECT_EQ(steps.Offset(2, cov, uint32_t(c0 - 1)), k == 1 ? 4 : 4);
    EXPECT_EQ(steps.Offset(3, cov, uint32_t(c1 - 1)), k == 1 ? 4 : 8);
    if (k == 3) {
      EXPECT_EQ(steps.Offset(3, cov, 0), 12);  // below the third curve too
    }
    EXPECT_EQ(steps.Offset(0, cov, 0), 0);  // code 0 is no level's upper drop
  }
  // A curve count that does not divide among the levels adds no offsets.
  MLPROCINFO rec = VarDotRecord(2);
  rec.color[0].level_curves = 5;
  HTVarDotSteps steps;
  steps.Reduce(2048);
  EXPECT_EQ(steps.shift, 2);
  EXPECT_EQ(steps.top, 511);
  EXPECT_FALSE(steps.Build(rec.color[0], &rec, 0));
  EXPECT_FALSE(steps.Active());
}

TEST(VarDotScreen, FlatPatchesRampAndWithoutCurvesNoOffsets) {
  VarDotFile file;
  ASSERT_TRUE(file.ok());
  const int width = 128, height = 64;
  Screen8 s(16, 16, 0, 9);
  image_info in{}, out{};
  in.width = out.width = width;
  in.height = out.height = height;
  in.samples = out.samples = 1;
  in.bits_per_sample = 8;
  in.bytes_per_line = uint32_t(width);
  out.bits_per_sample = 4;
  for (bool curves : {true, false}) {
    for (bool form : {false, true}) {
      CHTPlaceScreen<unsigned char> place;
      place.SetScreens(1, &s.rp, &s.h, &s.shift, &s.w, &s.levels);
      place.vardot_screen = form;
      MLPROCINFO rec = VarDotRecord(2);
      if (!curves) {
        for (auto& col : rec.color) col.level_curves = 0;
      }
      ASSERT_TRUE(place.SetLinearization(0, nullptr, &rec));
      ASSERT_TRUE(place.PreInitProcess(&in, &out));
      std::unique_ptr<CHTRip> rip(place.CreateRip(0, 0, false, 0, nullptr, nullptr, 0, height));
      ASSERT_TRUE(rip);
      EXPECT_EQ(curves, static_cast<CHTRipMLVDScreen<unsigned char>*>(rip.get())->HasOffsets());
      double last = -1;
      int offsets = 0;
      for (int g = 0; g < 256; g += 15) {
        std::vector<uint8_t> flat(size_t(width) * height, uint8_t(g));
        rip->ResetOutBuf();
        rip->StartProcessLine(flat.data(), height);
        double sum = 0;
        for (int y = 0; y < height; ++y)
          for (int x = 0; x < width; ++x) {
            const int code = CodeAt(rip->GetOutBuf() + y * rip->GetBytesPerLine(), x, 4);
            sum += code & 3;
            if (code & 12) ++offsets;
            if ((code & 3) == 0) {
              EXPECT_EQ(code, 0);  // no drop, no offset
            }
          }
        const double mean = sum / (double(width) * height);
        EXPECT_GE(mean, last) << "gray " << g;
        last = mean;
      }
      EXPECT_EQ(last, 3.0);
      EXPECT_EQ(curves, offsets > 0);
    }
  }
}

// Ramps through the multi-level diffusion families and the variable-dot
// engines, drawn as 3x3 cells: base drop code c gives 2c dots, each step of
// variable-dot offset one more, so larger and fuller drops look darker.
TEST(VarDotPreview, Ramps) {
  VarDotFile file;
  ASSERT_TRUE(file.ok());
  const int w = 320, h = 80;
  auto ramp = klv::test::GrayRamp(w, h);
  image_info in{}, out{};
  in.width = out.width = w;
  in.height = out.height = h;
  in.samples = out.samples = 1;
  in.bits_per_sample = 8;
  in.bytes_per_line = uint32_t(w);
  auto draw = [&](CHTRip& rip, int bits, const char* name) {
    rip.StartProcessLine(ramp.data(), h);
    klv::test::DotImage img;
    img.width = 3 * w;
    img.height = 3 * h;
    img.bytes_per_line = size_t(img.width + 7) / 8;
    img.bits.assign(img.bytes_per_line * img.height, 0);
    static const int order[9][2] = {{1, 1}, {0, 0}, {2, 2}, {2, 0}, {0, 2},
                                    {1, 0}, {1, 2}, {0, 1}, {2, 1}};
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const int code = CodeAt(rip.GetOutBuf() + y * rip.GetBytesPerLine(), x, bits);
        const int dots = std::min(9, 2 * (code & 3) + (code >> 2));
        for (int k = 0; k < dots; ++k) {
          const int px = 3 * x + order[k][0], py = 3 * y + order[k][1];
          img.bits[size_t(py) * img.bytes_per_line + px / 8] |= uint8_t(0x80 >> (px % 8));
        }
      }
    EXPECT_FALSE(klv::test::WritePreview(img, name).empty());
  };
  // Multi-level diffusion of the modulated families, 2-bit codes.
  auto matrix = std::make_unique<CHTThreshArray<unsigned short>>();
  {
    Screen8 m(16, 16, 0, 5);
    matrix->Create(1, 2047);
    matrix->tables[0].Alloc(16, 16, 0, 2047);
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) matrix->tables[0].rows[y][x] = uint16_t(m.at(y, x) * 8);
  }
  MLPROCINFO plain;
  MLProcSample(plain, false);
  out.bits_per_sample = 2;
  {
    CHTPlaceErrDifMtx p;
    p.SetMatrix(matrix.get());
    p.SetLinearization(0, nullptr, &plain);
    ASSERT_TRUE(p.PreInitProcess(&in, &out));
    std::unique_ptr<CHTRip> rip(p.CreateRip(0, 0, false, 0, nullptr, nullptr, 0, h));
    ASSERT_TRUE(rip);
    draw(*rip, 2, "ml_diffusion_matrix");
  }
  {
    CHTPlaceErrDifScreen p;
    p.SetLinearization(0, nullptr, &plain);
    ASSERT_TRUE(p.PreInitProcess(&in, &out));
    std::unique_ptr<CHTRip> rip(p.CreateRip(0, 0, false, 0, nullptr, nullptr, 0, h));
    ASSERT_TRUE(rip);
    draw(*rip, 2, "ml_diffusion_screen");
  }
  {
    CHTPlaceErrDifVarCoef p;
    p.SetLinearization(0, nullptr, &plain);
    ASSERT_TRUE(p.PreInitProcess(&in, &out));
    std::unique_ptr<CHTRip> rip(p.CreateRip(0, 0, false, 0, nullptr, nullptr, 0, h));
    ASSERT_TRUE(rip);
    draw(*rip, 2, "ml_diffusion_varcoef");
  }
  // Variable dot, 4-bit codes: diffusion and both screen forms.
  out.bits_per_sample = 4;
  const MLPROCINFO vd = VarDotRecord(2);
  {
    CHTPlaceErrDifVarCoef p;
    ASSERT_TRUE(p.SetLinearization(0, nullptr, &vd));
    ASSERT_TRUE(p.PreInitProcess(&in, &out));
    std::unique_ptr<CHTRip> rip(p.CreateRip(0, 0, false, 0, nullptr, nullptr, 0, h));
    ASSERT_TRUE(rip);
    draw(*rip, 4, "vd_diffusion_varcoef");
  }
  Screen8 s(16, 16, 0, 9);
  for (bool form : {false, true}) {
    CHTPlaceScreen<unsigned char> p;
    p.SetScreens(1, &s.rp, &s.h, &s.shift, &s.w, &s.levels);
    p.vardot_screen = form;
    ASSERT_TRUE(p.SetLinearization(0, nullptr, &vd));
    ASSERT_TRUE(p.PreInitProcess(&in, &out));
    std::unique_ptr<CHTRip> rip(p.CreateRip(0, 0, false, 0, nullptr, nullptr, 0, h));
    ASSERT_TRUE(rip);
    draw(*rip, 4, form ? "vd_sscreen" : "vd_screen");
  }
}

}  // namespace
