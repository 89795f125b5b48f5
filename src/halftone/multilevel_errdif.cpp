// SPDX-License-Identifier: MIT
// Multi-level error diffusion in table mode: two coupled diffusions, one on the
// coverage of upper drops and one on the middle value, choose a drop code per
// pixel. The variable-dot form adds a code offset chosen by the variable-dot
// screen against the level's two coverage-dependent curves.
#include <algorithm>
#include <cstdlib>
#include <new>

#include "halftone/diffusion_kernel.h"
#include "klv/halftone_diffusion.h"
#include "klv/halftone_ml.h"
#include "klv/log.h"

using namespace klv::halftone;

namespace {

// What the coupled diffusions chose for a pixel.
enum Kind : uint8_t { kLower = 0, kMiddle = 1, kUpper = 2 };

struct Lines {
  int16_t* up_a;
  const int16_t* up_b;
  int16_t* mid_a;
  const int16_t* mid_b;
};

template <int Dir, bool Kinds>
void ml_row(const uint16_t* idx, const HTMLEntry* table, int n, Lines l, const int16_t* noise,
            const int16_t* limit, uint8_t* codes, uint8_t* kinds) {
  int16_t u1 = 0, u2 = 0, m1 = 0, m2 = 0;
  int x = Dir > 0 ? 0 : n - 1;
  for (int k = 0; k < n; ++k, x += Dir) {
    const HTMLEntry& e = table[idx[x]];
    const int f = e.f, m = e.m;
    const int raw = noise[k] - 128;
    int16_t* ua = l.up_a + x + 2;
    int16_t* ma = l.mid_a + x + 2;
    const int16_t su =
        int16_t(weighted(u1, u2, l.up_b + x + 2, ua) + clamp_noise(raw, limit[f]) + f);
    const bool upper = f != 0 && su >= 1029;
    int16_t eu = int16_t(su - (upper ? 2047 : 0));
    if (upper && f == 2047) eu = 1027;
    int16_t sm = int16_t(weighted(m1, m2, l.mid_b + x + 2, ma) + clamp_noise(raw, limit[m]) + m);
    // The middle value crosses its threshold: a middle drop unless an upper
    // drop took the pixel; either way the crossing is paid for.
    const bool hit = sm >= 1029;
    sm = int16_t(sm - (hit ? 2047 : 0));
    const uint8_t use_up = uint8_t(-int(upper)), use_mid = uint8_t(-int(hit));
    const uint8_t base = uint8_t((e.lower & ~use_mid) | (e.mid & use_mid));
    const uint8_t code = uint8_t((base & ~use_up) | (e.upper & use_up));
    const uint8_t kind = upper ? kUpper : hit ? kMiddle : kLower;
    *ua = eu;
    u2 = u1;
    u1 = eu;
    *ma = sm;
    m2 = m1;
    m1 = sm;
    codes[x] = code;
    if constexpr (Kinds) kinds[x] = kind;
  }
}

bool alloc_lines(uint32_t width, uint32_t range, std::vector<int16_t>* lines[4],
                 std::vector<int16_t>& limit) {
  try {
    for (int i = 0; i < 4; ++i) lines[i]->assign(size_t(width) + 4, 0);
    limit.resize(range);
  } catch (const std::bad_alloc&) {
    KLV_LOG(KLV_LOG_ERROR, "multi-level diffusion: no memory for error lines");
    return false;
  }
  for (uint32_t t = 0; t < range; ++t) limit[t] = int16_t(HTNoiseLimit(int(t)));
  return true;
}

const int16_t* noise_of(CHTPlacement* placement, uint32_t width) {
  auto* p = dynamic_cast<CHTPlaceErrDif*>(placement);
  if (!p || !p->Noise() || p->NoiseSize() < size_t(width) * 4) {
    KLV_LOG(KLV_LOG_ERROR, "multi-level diffusion: the placement has no noise table");
    return nullptr;
  }
  return p->Noise();
}

}  // namespace

// --- multi-level diffusion ----------------------------------------------------------

bool CHTRipMLErrDif::PostTable(CHTPlacement* placement) {
  noise_ = noise_of(placement, in_width_);
  random_.Seed(uint32_t(std::rand()));
  std::vector<int16_t>* lines[4] = {&up_a_, &up_b_, &mid_a_, &mid_b_};
  return noise_ && range_ == 2048 && alloc_lines(in_width_, range_, lines, limit_);
}

void CHTRipMLErrDif::ProcessTableLine() {
  const int16_t* noise = noise_ + noise_start(in_width_, random_);
  Lines l{up_a_.data(), up_b_.data(), mid_a_.data(), mid_b_.data()};
  if (right_to_left_)
    ml_row<-1, false>(idx_.data(), table_.data(), int(in_width_), l, noise, limit_.data(),
                      codes_.data(), nullptr);
  else
    ml_row<1, false>(idx_.data(), table_.data(), int(in_width_), l, noise, limit_.data(),
                     codes_.data(), nullptr);
  right_to_left_ = !right_to_left_;
  up_a_.swap(up_b_);
  mid_a_.swap(mid_b_);
}

// --- variable dot -------------------------------------------------------------------

const MLPROCCOLORINFO* CHTRipMLVD::TableRecord(CHTKlvPlacement* p, MLPROCCOLORINFO* buf) {
  const MLPROCCOLORINFO* rec = p->GetColorInfo(color_, curve_no_, buf);
  if (!rec) return nullptr;
  vd_rec_ = *rec;
  try {
    adjusted_.assign(size_, Adjusted{0, 0});
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  // The table is built in table mode: the level curves are kept aside.
  *buf = vd_rec_;
  buf->level_curves = 0;
  return buf;
}

uint16_t CHTRipMLVD::doCoverageAdjustment(const MLPROCCOLORINFO* rec, int level, int index,
                                          uint16_t value, uint16_t mid, uint16_t max) {
  if (index >= 0 && size_t(index) < adjusted_.size())
    adjusted_[size_t(index)] = Adjusted{value, doCalcMidval(value, mid, max)};
  return getCoverageLevel(rec, level, value, max);
}

uint16_t CHTRipMLVD::getCoverageLevel(const MLPROCCOLORINFO* rec, int level, uint16_t value,
                                      uint16_t max) {
  if (!rec || level < 0 || level >= KLV_MLPROC_LEVELS || max == 0) return value;
  const uint8_t(*pts)[2] = rec->coverage[level];
  if (pts[1][0] == 0) return value;  // no coverage curve for this level
  const double p = double(std::min(value, max)) * 255.0 / max;
  for (int k = 1; k < KLV_MLPROC_CURVE_PAIRS; ++k) {
    if (k > 1 && pts[k][0] == 0) break;
    if (pts[k][0] >= p) {
      const double x0 = pts[k - 1][0], x1 = pts[k][0], y0 = pts[k - 1][1], y1 = pts[k][1];
      const double y = x1 > x0 ? (p - x0) / (x1 - x0) * (y1 - y0) + y0 : y1;
      return uint16_t(max * y / 255.0);
    }
  }
  return value;
}

bool CHTRipMLVDErrDif::PostTable(CHTPlacement* placement) {
  noise_ = noise_of(placement, in_width_);
  random_.Seed(uint32_t(std::rand()));
  std::vector<int16_t>* lines[4] = {&up_a_, &up_b_, &mid_a_, &mid_b_};
  if (!noise_ || range_ != 2048 || !alloc_lines(in_width_, range_, lines, limit_)) return false;
  // The reduced top tone and its shift.
  uint32_t r = range_ - 1;
  vd_shift_ = 0;
  while (r > 511) {
    r >>= 1;
    ++vd_shift_;
  }
  vd_top_ = uint16_t(r);
  auto* ed = dynamic_cast<CHTPlaceErrDif*>(placement);
  CHTThreshArray<unsigned char>* vd = ed ? ed->VarDotScreens() : nullptr;
  const int n = std::clamp<int>(vd_rec_.levels, 1, KLV_MLPROC_LEVELS);
  if (!vd || vd->count == 0 || vd_rec_.level_curves != 2 * n) return true;  // no offsets
  // The variable-dot screen of the separation.
  const int count = int(vd->count);
  const CHTThreshTable<unsigned char>& src = vd->tables[sep_ % count];
  uint32_t cp = 0, rp = 0;
  if (sep_ >= count && src.width && src.height) {
    cp = uint32_t(std::rand()) % src.width;
    rp = uint32_t(std::rand()) % src.height;
  }
  if (!src.rows ||
      !vd_screen_.CopyPhase(src.rows, src.width, src.height, src.shift, src.levels, cp, rp))
    return false;
  // Each level curve as 512 entries over the reduced tone range.
  const int curves = vd_rec_.level_curves;
  vd_curves_.assign(size_t(curves) * 512, 0);
  for (int c = 0; c < curves; ++c) {
    uint16_t* out = vd_curves_.data() + size_t(c) * 512;
    int px = -1, py = 0;
    for (int k = 0; k < KLV_MLPROC_CURVE_PAIRS; ++k) {
      const int x = int(vd_rec_.curve[c][k][0]) * int(r) / 255, y = vd_rec_.curve[c][k][1];
      if (k > 0 && vd_rec_.curve[c][k][0] == 0) break;
      if (px < 0) {
        for (int i = 0; i <= x; ++i) out[i] = uint16_t(y);
      } else if (x > px) {
        for (int i = px; i <= x; ++i) out[i] = uint16_t(py + (y - py) * (i - px) / (x - px));
      }
      if (x > px) {
        px = x;
        py = y;
      }
    }
    for (int i = std::max(px + 1, 0); i < 512; ++i) out[i] = uint16_t(py);
  }
  // Each code's block: the first curve of the level whose upper code it is.
  level_block_.assign(256, -1);
  for (int l = 0; l < n; ++l) level_block_[vd_rec_.upper_code[l]] = 2 * l;
  // The code offsets; with the process record's bit 4 flag they move above
  // the record's code bits.
  const MLPROCINFO* proc = dynamic_cast<CHTKlvPlacement*>(placement)->ProcInfo();
  const int shift = (proc->flags2 & 0x10) && curve_no_ == 0 && proc->output_bits > proc->code_bits
                        ? proc->output_bits - proc->code_bits
                        : 0;
  for (int i = 0; i < 3; ++i) vd_offset_[i] = uint8_t((vd_rec_.vardot_values[i] & 0xFF) << shift);
  return true;
}

void CHTRipMLVDErrDif::ProcessTableLine() {
  const int16_t* noise = noise_ + noise_start(in_width_, random_);
  Lines l{up_a_.data(), up_b_.data(), mid_a_.data(), mid_b_.data()};
  std::vector<uint8_t> kinds(in_width_);
  if (right_to_left_)
    ml_row<-1, true>(idx_.data(), table_.data(), int(in_width_), l, noise, limit_.data(),
                     codes_.data(), kinds.data());
  else
    ml_row<1, true>(idx_.data(), table_.data(), int(in_width_), l, noise, limit_.data(),
                    codes_.data(), kinds.data());
  if (!vd_curves_.empty()) {
    const uint8_t* trow = vd_screen_.rows[vd_row_];
    const int n = int(in_width_);
    int x = right_to_left_ ? n - 1 : 0;
    const int dir = right_to_left_ ? -1 : 1;
    for (int k = 0; k < n; ++k, x += dir) {
      const uint32_t t = trow[vd_col_];
      if (++vd_col_ >= vd_screen_.width) vd_col_ = 0;
      const uint8_t code = codes_[size_t(x)];
      if (code == 0 || level_block_[code] < 0) continue;
      // The coverage of the chosen drop, on the reduced tone range.
      const Adjusted& a = adjusted_[idx_[size_t(x)]];
      uint32_t c = kinds[size_t(x)] == kUpper    ? uint32_t(a.value) >> vd_shift_
                   : kinds[size_t(x)] == kMiddle ? uint32_t(a.mid) >> vd_shift_
                                                 : vd_top_;
      if (c > 511) c = 511;
      const size_t i = c + 512u * uint32_t(level_block_[code]);
      uint8_t off;
      if (t >= vd_curves_[i])
        off = vd_offset_[0];
      else if (t < vd_curves_[i + 512])
        off = vd_offset_[2];
      else
        off = vd_offset_[1];
      codes_[size_t(x)] = uint8_t(code + off);
    }
    if (++vd_row_ >= vd_screen_.height) vd_row_ = 0;
  }
  right_to_left_ = !right_to_left_;
  up_a_.swap(up_b_);
  mid_a_.swap(mid_b_);
}
