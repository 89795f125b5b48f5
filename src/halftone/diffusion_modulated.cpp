// SPDX-License-Identifier: MIT
// Matrix-modulated and screen-modulated error diffusion.
#include <algorithm>

#include "halftone/diffusion_kernel.h"
#include "klv/halftone_diffusion.h"
#include "klv/log.h"

using namespace klv::halftone;

namespace klv::halftone {

// Copies screen `index` of the array as the screen engines do: phase 0 below
// the number of screens, else a phase drawn from `seed` so that extra
// separations never line up with the base screens.
bool copy_screen(const CHTThreshArray<unsigned short>& arr, int index, uint32_t seed,
                 CHTThreshTable<unsigned short>& table) {
  const int n = int(arr.count);
  const CHTThreshTable<unsigned short>& src = arr.tables[index % n];
  if (!src.rows || !src.width || !src.height) {
    KLV_LOG(KLV_LOG_ERROR, "diffusion engine: screen %d is empty", index % n);
    return false;
  }
  uint32_t cp = 0, rp = 0;
  if (index >= n) {
    HTSeedPhase(seed, src.width, src.height, cp, rp);
  }
  if (!table.CopyPhase(src.rows, src.width, src.height, src.shift, src.levels, cp, rp)) {
    KLV_LOG(KLV_LOG_ERROR, "diffusion engine: no memory for a screen copy");
    return false;
  }
  return true;
}

bool diffusion_matrix(CHTPlacement* placement, int sep, int curve_no,
                      CHTThreshTable<unsigned short>& table) {
  auto* p = dynamic_cast<CHTPlaceErrDifMtx*>(placement);
  CHTThreshArray<unsigned short>* arr = p ? p->Matrix() : nullptr;
  if (!arr || arr->count == 0) {
    KLV_LOG(KLV_LOG_ERROR, "matrix diffusion: the placement holds no matrix");
    return false;
  }
  const int n = int(arr->count);
  return copy_screen(*arr, curve_no ? sep % n : sep, placement->SepSeed(sep), table);
}

bool diffusion_screen(CHTPlacement* placement, int sep, int color, int curve_no, uint32_t range,
                      CHTThreshTable<unsigned short>& table) {
  auto* p = dynamic_cast<CHTPlaceErrDifScreen*>(placement);
  if (!p) {
    KLV_LOG(KLV_LOG_ERROR, "screen diffusion: the placement holds no screens");
    return false;
  }
  if (CHTThreshArray<unsigned short>* arr = p->Screens(); arr && arr->count) {
    const int n = int(arr->count);
    if (!curve_no) return copy_screen(*arr, sep, placement->SepSeed(sep), table);
    // A level engine takes its separation's screen at a phase of its own.
    const CHTThreshTable<unsigned short>& src = arr->tables[sep % n];
    if (!src.rows || !src.width || !src.height) return false;
    const uint32_t ph = 33u * uint32_t(curve_no) - 33u;
    return table.CopyPhase(src.rows, src.width, src.height, src.shift, src.levels, ph % src.width,
                           ph % src.height);
  }
  std::vector<uint16_t> pat;
  if (!p->Pattern(color, pat) || !table.Alloc(uint32_t(pat.size()), 1, 0, range)) {
    KLV_LOG(KLV_LOG_ERROR, "screen diffusion: no pattern of type %d", p->pattern_type);
    return false;
  }
  std::copy(pat.begin(), pat.end(), table.rows[0]);
  return true;
}

}  // namespace klv::halftone

namespace {

template <int Dir>
void mtx_row(const uint16_t* tones, int n, int16_t* a, const int16_t* b, const int16_t* noise,
             const int16_t* limit, const uint16_t* mrow, uint32_t mwidth, uint32_t col,
             uint8_t* dots) {
  int16_t e1 = 0, e2 = 0;
  int x = Dir > 0 ? 0 : n - 1;
  for (int k = 0; k < n; ++k, x += Dir) {
    const int t = tones[x];
    const int nz = clamp_noise(noise[k] - 128, limit[t]);
    int16_t* ax = a + x + 2;
    const int16_t v = int16_t(weighted(e1, e2, b + x + 2, ax) + nz + t);
    bool dot;
    const int16_t err = mtx_decide(t, v, mrow[col], dot);
    if (++col == mwidth) col = 0;
    *ax = err;
    e2 = e1;
    e1 = err;
    dots[x] = dot ? 0xFF : 0;
  }
}

template <int Dir>
void screen_row(const uint16_t* tones, int n, int16_t* a, const int16_t* b, const int16_t* noise,
                const int16_t* limit, const uint16_t* srow, uint32_t swidth, uint32_t phase,
                uint8_t* dots) {
  int16_t e1 = 0, e2 = 0;
  int x = Dir > 0 ? 0 : n - 1;
  uint32_t col = uint32_t((uint64_t(x) + phase) % swidth);
  for (int k = 0; k < n; ++k, x += Dir) {
    const int t = tones[x];
    const int nz = clamp_noise(noise[k] - 128, limit[t]);
    int16_t* ax = a + x + 2;
    const int16_t v = int16_t(weighted(e1, e2, b + x + 2, ax) + nz + t);
    const int thr = srow[col];
    if (Dir > 0) {
      if (++col == swidth) col = 0;
    } else {
      col = col == 0 ? swidth - 1 : col - 1;
    }
    int16_t err;
    bool dot;
    if (t == 2047) {
      dot = true;
      err = 0;
    } else if (v > thr) {
      err = int16_t(v - 2047);
      dot = t != 0;
    } else {
      err = v;
      dot = false;
    }
    *ax = err;
    e2 = e1;
    e1 = err;
    dots[x] = dot ? 0xFF : 0;
  }
}

}  // namespace

// --- matrix -----------------------------------------------------------------------

bool CHTRipErrDifMtx::Prepare(CHTPlacement* placement) {
  if (!CHTRipErrDif::Prepare(placement)) return false;
  row_ = phase_ = 0;
  return diffusion_matrix(placement, sep_, curve_no_, table_);
}

void CHTRipErrDifMtx::DiffuseLine(const int16_t* noise) {
  const uint16_t* mrow = table_.rows[row_];
  const uint32_t col = phase_ % table_.width;
  if (right_to_left_)
    mtx_row<-1>(tones_.data(), int(in_width_), err_a_.data(), err_b_.data(), noise, limit_.data(),
                mrow, table_.width, col, dots_.data());
  else
    mtx_row<1>(tones_.data(), int(in_width_), err_a_.data(), err_b_.data(), noise, limit_.data(),
               mrow, table_.width, col, dots_.data());
}

void CHTRipErrDifMtx::EndLine() {
  CHTRipErrDif::EndLine();
  advance_rows(table_, row_, phase_);
}

// --- screen -----------------------------------------------------------------------

bool CHTRipErrDifScreen::Prepare(CHTPlacement* placement) {
  try {
    err_a_.assign(size_t(in_width_) + 6, 0);
    err_b_.assign(size_t(in_width_) + 6, 0);
    limit_.resize(range_);
  } catch (const std::bad_alloc&) {
    KLV_LOG(KLV_LOG_ERROR, "diffusion engine: no memory for error lines");
    return false;
  }
  for (uint32_t t = 0; t < range_; ++t) limit_[t] = int16_t(HTNoiseLimit(int(t)));
  row_ = phase_ = 0;
  return diffusion_screen(placement, sep_, color_, curve_no_, range_, table_);
}

void CHTRipErrDifScreen::DiffuseLine(const int16_t* noise) {
  const uint16_t* srow = table_.rows[row_];
  if (right_to_left_)
    screen_row<-1>(tones_.data(), int(in_width_), err_a_.data(), err_b_.data(), noise,
                   limit_.data(), srow, table_.width, phase_, dots_.data());
  else
    screen_row<1>(tones_.data(), int(in_width_), err_a_.data(), err_b_.data(), noise, limit_.data(),
                  srow, table_.width, phase_, dots_.data());
}

void CHTRipErrDifScreen::EndLine() {
  CHTRipErrDif::EndLine();
  advance_rows(table_, row_, phase_);
}
