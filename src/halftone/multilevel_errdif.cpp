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

using Family = HTDiffusionFamily;

// One line's inputs for the plain, matrix and screen families.
struct IntRow {
  const HTMLFast* table;
  int n;
  int16_t* up_a;
  const int16_t* up_b;
  int16_t* mid_a;
  const int16_t* mid_b;
  const int16_t* noise;
  const uint16_t* trow;  // matrix or screen row
  uint32_t twidth;
  uint32_t col;  // column of the first pixel of the scan
  uint8_t* codes;
  uint8_t* kinds;
};

// The decision of the family for one process at tone t (f for the upper
// process, m for the middle one) with running value v and threshold thr;
// returns the error, `dot` whether the process prints. The plain family's
// upper process prints only where f != 0 and then carries 1027 at full tone;
// its middle process prints (and pays) whenever the value reaches 1029. The
// matrix and screen families decide both processes as their single-level
// engines do.
template <Family F, bool Upper>
inline int16_t decide(int t, int16_t v, int thr, bool& dot) {
  if constexpr (F == Family::Matrix) {
    return mtx_decide(t, v, thr, dot);
  } else if constexpr (F == Family::Screen) {
    // Masks instead of branches: the crossings are noise to a predictor.
    const int full = -int(t == 2047);
    const int over = -int(v > thr);
    dot = ((over & -int(t != 0)) | full) != 0;
    return int16_t((int(v) - (2047 & over)) & ~full);
  } else if constexpr (Upper) {
    const int cross = -(int(t != 0) & int(v >= 1029));
    dot = cross != 0;
    const int err = int(v) - (2047 & cross);
    // A full tone that prints carries 1027 whatever its value.
    const int top = cross & -int(t == 2047);
    return int16_t((err & ~top) | (1027 & top));
  } else {
    const int cross = -int(v >= 1029);
    dot = cross != 0;
    return int16_t(int(v) - (2047 & cross));
  }
}

// One line of the coupled integer diffusions, Dir +1 (left to right) or -1.
// The upper process prints where f != 0 and its value crosses the family's
// threshold; the middle process then picks the middle or the lower drop.
// Both processes keep the error of their own decision whichever drop prints.
// The previous line's three neighbours are carried along in registers, so
// each pixel reads one new previous-line error per process.
template <Family F, int Dir, bool Kinds, class Index>
void int_row(const Index* __restrict idx, const IntRow& r) {
  const HTMLFast* __restrict table = r.table;
  int16_t* __restrict ua = r.up_a + 2;
  const int16_t* __restrict ub = r.up_b + 2;
  int16_t* __restrict ma = r.mid_a + 2;
  const int16_t* __restrict mb = r.mid_b + 2;
  const int16_t* __restrict noise = r.noise;
  uint8_t* __restrict codes = r.codes;
  uint8_t* __restrict kinds = r.kinds;
  const uint16_t* __restrict trow = r.trow;
  const uint32_t twidth = r.twidth;
  const int n = r.n;
  int u1 = 0, u2 = 0, m1 = 0, m2 = 0;
  int x = Dir > 0 ? 0 : n - 1;
  int ub_behind = ub[x - Dir], ub_here = ub[x];
  int mb_behind = mb[x - Dir], mb_here = mb[x];
  uint32_t col = r.col;
  for (int k = 0; k < n; ++k, x += Dir) {
    const HTMLFast& e = table[idx[x]];
    const int raw = noise[k] - 128;
    const int ub_ahead = ub[x + Dir], mb_ahead = mb[x + Dir];
    // Everything but the before-1 error is summed off the error chain: the
    // three previous-line neighbours, two-lines-up plus before-2, and the
    // clamped noise plus the tone.
    const int pu = ub_behind + ub_here + ub_ahead, pm = mb_behind + mb_here + mb_ahead;
    const int qu = ua[x] + u2, qm = ma[x] + m2;
    const int cu = std::min(std::max(raw, -int(e.lim_f)), int(e.lim_f)) + e.f;
    const int cm = std::min(std::max(raw, -int(e.lim_m)), int(e.lim_m)) + e.m;
    ub_behind = ub_here;
    ub_here = ub_ahead;
    mb_behind = mb_here;
    mb_here = mb_ahead;
    const int s_u = int16_t(u1 + pu), s_m = int16_t(m1 + pm);
    const int16_t su = int16_t(((3 * s_u + 2 * qu) >> 4) + cu);
    const int16_t sm = int16_t(((3 * s_m + 2 * qm) >> 4) + cm);
    int thr = 1028;
    if constexpr (F != Family::Plain) {
      thr = trow[col];
      if (F == Family::Screen && Dir < 0)
        col = col == 0 ? twidth - 1 : col - 1;
      else if (++col == twidth)
        col = 0;
    }
    bool upper, hit;
    int16_t eu;
    if constexpr (F == Family::Plain) {
      // The plain upper process with the entry's masks (no tone tests).
      const int cross = -int(su >= 1029) & e.may_print;
      upper = cross != 0;
      eu = int16_t((cross & e.full) ? 1027 : su - (2047 & cross));
    } else {
      eu = decide<F, true>(e.f, su, thr, upper);
    }
    const int16_t em = decide<F, false>(e.m, sm, thr, hit);
    ua[x] = eu;
    u2 = u1;
    u1 = eu;
    ma[x] = em;
    m2 = m1;
    m1 = em;
    codes[x] = e.code[2 * int(upper) + int(hit)];
    if constexpr (Kinds) kinds[x] = upper ? kUpper : hit ? kMiddle : kLower;
  }
}

// One process of the coupled variable-coefficient diffusions, by the rule of
// the single-level engine: 16-bit errors, the 12-bit fixed-point weights of
// the process's own tone, the shares rounded down, the error passed ahead
// carried in a register and the next line written by stores only (each entry
// takes the shares of the two pixels above it at once). `a` is what the line
// before passed down, `b` the next line; pixel x sits at x + 1.
template <int Dir>
struct VarCoefProcess {
  const int16_t* __restrict a;
  int16_t* __restrict b;
  int carry = 0;  // the error passed to the pixel ahead
  int below = 0;  // the share the pixel before left for the pixel below it

  // Pixel x at tone t (noise scale `scale`, weights w) with noise nz; true
  // when the value crossed.
  bool Step(int x, int t, int scale, HTVarCoefFixed w, int nz) {
    const int u = a[x + 1] + t + nz * scale / 128 + carry;
    const int on = -int(u > 1027);
    const int v = u - (2047 & on);
    // The share ahead from u rather than v: the multiply need not wait for
    // the crossing.
    const int c0 = (u * w.ahead - ((2047 * w.ahead) & on)) >> 12;
    const int c1 = (v * w.behind_below) >> 12;
    carry = c0;
    b[x + 1 - Dir] = int16_t(below + c1);
    below = v - c0 - c1;
    return on != 0;
  }
  // After the line's last pixel (x is one step past it).
  void End(int x) { b[x - Dir + 1] = int16_t(below); }
};

// One line of the coupled variable-coefficient diffusions. Each process
// prints where it crosses at a tone above 0.
template <int Dir, bool Kinds, class Index>
void varcoef_row(const Index* __restrict idx, int n, HTMLDiffusion& d,
                 const int16_t* __restrict noise, uint8_t* __restrict codes,
                 uint8_t* __restrict kinds) {
  const HTMLVarCoef* __restrict table = d.varcoef.data();
  VarCoefProcess<Dir> up{d.up_a.data(), d.up_b.data()};
  VarCoefProcess<Dir> mid{d.mid_a.data(), d.mid_b.data()};
  int x = Dir > 0 ? 0 : n - 1;
  for (int k = 0; k < n; ++k, x += Dir) {
    const HTMLVarCoef& e = table[idx[x]];
    const bool upper = up.Step(x, e.f, e.f_scale, e.f_w, noise[k]) && e.f != 0;
    const bool hit = mid.Step(x, e.m, e.m_scale, e.m_w, noise[k]) && e.m != 0;
    codes[x] = upper ? e.upper : hit ? e.mid : e.lower;
    if constexpr (Kinds) kinds[x] = upper ? kUpper : hit ? kMiddle : kLower;
  }
  if (n > 0) {
    up.End(x);
    mid.End(x);
  }
}

template <Family F, bool Kinds, class Index>
void int_line(const Index* idx, const IntRow& r, bool rtl) {
  if (rtl)
    int_row<F, -1, Kinds>(idx, r);
  else
    int_row<F, 1, Kinds>(idx, r);
}

template <bool Kinds, class Index>
void int_family_line(Family f, const Index* idx, const IntRow& r, bool rtl) {
  switch (f) {
    case Family::Matrix:
      return int_line<Family::Matrix, Kinds>(idx, r, rtl);
    case Family::Screen:
      return int_line<Family::Screen, Kinds>(idx, r, rtl);
    default:
      return int_line<Family::Plain, Kinds>(idx, r, rtl);
  }
}

// Screens one line into codes (and kinds) by the per-value tables built at
// attach, then moves the diffusion state on to the next line: lines swap,
// rows advance, the direction turns.
template <class Index>
void diffuse_line(HTMLDiffusion& d, const Index* idx, uint32_t width, uint8_t* codes, bool kinds) {
  const int16_t* noise = d.noise + noise_start(width, d.random);
  const int n = int(width);
  uint8_t* kd = kinds ? d.kinds.data() : nullptr;
  if (d.family == Family::VarCoef) {
    if (d.right_to_left)
      kinds ? varcoef_row<-1, true>(idx, n, d, noise, codes, kd)
            : varcoef_row<-1, false>(idx, n, d, noise, codes, kd);
    else
      kinds ? varcoef_row<1, true>(idx, n, d, noise, codes, kd)
            : varcoef_row<1, false>(idx, n, d, noise, codes, kd);
    // Every entry of the next line the line after reads was stored: it
    // needs no clearing.
    d.up_a.swap(d.up_b);
    d.mid_a.swap(d.mid_b);
    ++d.lines_done;
  } else {
    IntRow r{d.fast.data(),
             n,
             d.up_a.data(),
             d.up_b.data(),
             d.mid_a.data(),
             d.mid_b.data(),
             noise,
             nullptr,
             1,
             0,
             codes,
             kd};
    if (d.family != Family::Plain) {
      r.trow = d.table.rows[d.row];
      r.twidth = d.table.width;
      // The matrix is read from the phase on in scan order; the screen at the
      // pixel's own column.
      const uint32_t first = d.right_to_left ? width - 1 : 0;
      r.col = d.family == Family::Matrix ? d.phase % d.table.width
                                         : uint32_t((uint64_t(first) + d.phase) % d.table.width);
    }
    if (kinds)
      int_family_line<true>(d.family, idx, r, d.right_to_left);
    else
      int_family_line<false>(d.family, idx, r, d.right_to_left);
    d.up_a.swap(d.up_b);
    d.mid_a.swap(d.mid_b);
    if (d.family != Family::Plain) advance_rows(d.table, d.row, d.phase);
  }
  d.right_to_left = !d.right_to_left;
}

// Sets up the diffusion state of an engine after its value table is built.
struct Where {
  int sep, color, curve_no;
};
bool prepare(HTMLDiffusion& d, CHTPlacement* placement, Where w, uint32_t width, uint32_t range,
             const std::vector<HTMLEntry>& table, bool kinds) {
  auto* p = dynamic_cast<CHTPlaceErrDif*>(placement);
  if (!p || !p->Noise() || p->NoiseSize() < size_t(width) * 4) {
    KLV_LOG(KLV_LOG_ERROR, "multi-level diffusion: the placement has no noise table");
    return false;
  }
  if (range != 2048) return false;
  if (d.family == Family::VarCoef && !p->NoiseCentred()) {
    KLV_LOG(KLV_LOG_ERROR, "multi-level diffusion: variable coefficients need centred noise");
    return false;
  }
  d.noise = p->Noise();
  d.right_to_left = false;
  d.random.Seed(HTSeedMix(placement->SepSeed(w.sep), uint32_t(w.curve_no)));
  try {
    if (d.family == Family::VarCoef) {
      for (auto* v : {&d.up_a, &d.up_b, &d.mid_a, &d.mid_b}) v->assign(size_t(width) + 2, 0);
      d.varcoef.resize(table.size());
    } else {
      for (auto* v : {&d.up_a, &d.up_b, &d.mid_a, &d.mid_b}) v->assign(size_t(width) + 4, 0);
      d.fast.resize(table.size());
    }
    if (kinds) d.kinds.assign(width, 0);
  } catch (const std::bad_alloc&) {
    KLV_LOG(KLV_LOG_ERROR, "multi-level diffusion: no memory for error lines");
    return false;
  }
  for (size_t i = 0; i < d.fast.size(); ++i) {
    const HTMLEntry& e = table[i];
    d.fast[i] = HTMLFast{int16_t(e.f),
                         int16_t(e.m),
                         int16_t(HTNoiseLimit(std::min<int>(e.f, 2047))),
                         int16_t(HTNoiseLimit(std::min<int>(e.m, 2047))),
                         int16_t(e.f != 0 ? -1 : 0),
                         int16_t(e.f == 2047 ? -1 : 0),
                         {e.lower, e.mid, e.upper, e.upper}};
  }
  const HTVarCoefFixed* weights = HTVarCoefFixedTable();
  auto scale = [](int t) { return int16_t(std::min(128, std::min(t, 2047 - t))); };
  for (size_t i = 0; i < d.varcoef.size(); ++i) {
    const HTMLEntry& e = table[i];
    d.varcoef[i] = HTMLVarCoef{int16_t(e.f),
                               int16_t(e.m),
                               scale(e.f),
                               scale(e.m),
                               weights[std::min<int>(e.f, 2047)],
                               weights[std::min<int>(e.m, 2047)],
                               e.lower,
                               e.mid,
                               e.upper,
                               0};
  }
  d.height = p->InImin() ? uint32_t(p->InImin()->height) : 0;
  d.lines_done = 0;
  d.row = d.phase = 0;
  if (d.family == Family::Matrix) return diffusion_matrix(placement, w.sep, w.curve_no, d.table);
  if (d.family == Family::Screen)
    return diffusion_screen(placement, w.sep, w.color, w.curve_no, range, d.table);
  return true;
}

}  // namespace

// --- multi-level diffusion ----------------------------------------------------------

bool CHTRipMLErrDif::PostTable(CHTPlacement* placement) {
  return prepare(ed_, placement, {sep_, color_, curve_no_}, in_width_, range_, table_, false);
}

void CHTRipMLErrDif::ProcessTableLine() {
  if (direct_indices_)
    diffuse_line(ed_, in_ptr_, in_width_, codes_.data(), false);
  else
    diffuse_line(ed_, idx_.data(), in_width_, codes_.data(), false);
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
  if (!prepare(ed_, placement, {sep_, color_, curve_no_}, in_width_, range_, table_, true))
    return false;
  steps_ = HTVarDotSteps{};
  steps_.Reduce(range_);
  const int n = std::clamp<int>(vd_rec_.levels, 1, KLV_MLPROC_LEVELS);
  if (vd_rec_.level_curves < n) return true;  // no offsets
  if (!HTVarDotScreenFor(placement, sep_, vd_screen_)) return true;
  vd_col_ = 0;
  vd_row_ = 0;
  auto* klv = dynamic_cast<CHTKlvPlacement*>(placement);
  steps_.Build(vd_rec_, klv ? klv->ProcInfo() : nullptr, curve_no_);
  return true;
}

void CHTRipMLVDErrDif::ProcessTableLine() {
  // The direction of this line, before the diffusion turns it.
  const bool rtl = ed_.right_to_left;
  const bool vd = steps_.Active();
  // 8-bit samples read one a pixel serve as the indices themselves.
  if (direct_indices_)
    diffuse_line(ed_, in_ptr_, in_width_, codes_.data(), vd);
  else
    diffuse_line(ed_, idx_.data(), in_width_, codes_.data(), vd);
  if (!vd) return;
  const uint8_t* kinds = ed_.kinds.data();
  const uint8_t* trow = vd_screen_.rows[vd_row_];
  const int n = int(in_width_);
  int x = rtl ? n - 1 : 0;
  const int dir = rtl ? -1 : 1;
  // The variable-dot screen is read in scan order, one column per pixel.
  for (int k = 0; k < n; ++k, x += dir) {
    const uint32_t t = trow[vd_col_];
    if (++vd_col_ >= vd_screen_.width) vd_col_ = 0;
    const uint8_t code = codes_[size_t(x)];
    if (code == 0) continue;
    // The coverage of the chosen drop, on the reduced tone range.
    const Adjusted& a = adjusted_[direct_indices_ ? in_ptr_[x] : idx_[size_t(x)]];
    const uint32_t c = kinds[size_t(x)] == kUpper    ? uint32_t(a.value) >> steps_.shift
                       : kinds[size_t(x)] == kMiddle ? uint32_t(a.mid) >> steps_.shift
                                                     : steps_.top;
    codes_[size_t(x)] = uint8_t(code + steps_.Offset(code, c, t));
  }
  if (++vd_row_ >= vd_screen_.height) vd_row_ = 0;
}
