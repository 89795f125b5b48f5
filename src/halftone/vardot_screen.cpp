// SPDX-License-Identifier: MIT
// Variable-dot threshold screening: table-mode base codes from the
// placement's screen, then a code offset from the level's variable-dot curves
// against an offset threshold (the variable-dot screen, or in the screen form
// a second screen of the placement).
#include <algorithm>
#include <new>

#include "halftone/multilevel_screen.h"
#include "klv/halftone_ml.h"
#include "klv/log.h"

template <class T>
bool CHTRipMLVDScreen<T>::PreTable(CHTPlacement* placement) {
  row_ = phase_ = 0;
  return klv::halftone::select_ml_screen(placement, sep_, screen_, range_);
}

template <class T>
bool CHTRipMLVDScreen<T>::PostTable(CHTPlacement* placement) {
  steps_ = HTVarDotSteps{};
  steps_.Reduce(range_);
  const int n = std::clamp<int>(vd_rec_.levels, 1, KLV_MLPROC_LEVELS);
  // Without level curves or an offset screen the engine screens base codes.
  if (vd_rec_.level_curves < n || !SetupOffsetScreen(placement)) return true;
  try {
    vd_line_.assign(in_width_, 0);
  } catch (const std::bad_alloc&) {
    KLV_LOG(KLV_LOG_ERROR, "variable-dot screen engine: no memory for a %u-pixel line", in_width_);
    return false;
  }
  auto* klv = dynamic_cast<CHTKlvPlacement*>(placement);
  steps_.Build(vd_rec_, klv ? klv->ProcInfo() : nullptr, curve_no_);
  return true;
}

template <class T>
bool CHTRipMLVDScreen<T>::SetupOffsetScreen(CHTPlacement* placement) {
  vd_row_ = 0;
  return HTVarDotScreenFor(placement, sep_, vd_screen_);
}

template <class T>
void CHTRipMLVDScreen<T>::OffsetThresholds(uint8_t* out) {
  const uint8_t* row = vd_screen_.rows[vd_row_];
  const uint32_t w = vd_screen_.width;
  for (uint32_t x = 0; x < in_width_;) {
    const uint32_t run = std::min(in_width_ - x, w);
    std::copy(row, row + run, out + x);
    x += run;
  }
  if (++vd_row_ >= vd_screen_.height) vd_row_ = 0;
}

namespace {

// One line: base code per pixel against the screen, then the offset.
template <class T, class Index>
void vd_screen_line(const Index* idx, const HTMLEntry* table, const T* row, uint32_t w,
                    uint32_t col, uint32_t n, const CHTRipMLVD::Adjusted* adjusted,
                    const HTVarDotSteps& steps, const uint8_t* vt, uint8_t* codes) {
  const bool vd = steps.Active();
  for (uint32_t x = 0; x < n; ++x) {
    const HTMLEntry& e = table[idx[x]];
    const uint32_t t = row[col];
    if (++col == w) col = 0;
    const int kind = t < e.f ? 2 : int16_t(t) < int16_t(e.m) ? 1 : 0;
    uint8_t code = kind == 2 ? e.upper : kind == 1 ? e.mid : e.lower;
    if (vd && code) {
      const CHTRipMLVD::Adjusted& a = adjusted[idx[x]];
      const uint32_t c = kind == 2   ? uint32_t(a.value) >> steps.shift
                         : kind == 1 ? uint32_t(a.mid) >> steps.shift
                                     : steps.top;
      code = uint8_t(code + steps.Offset(code, c, vt[x]));
    }
    codes[x] = code;
  }
}

}  // namespace

template <class T>
void CHTRipMLVDScreen<T>::ProcessTableLine() {
  const T* row = screen_.rows[row_];
  const uint32_t w = screen_.width;
  if (steps_.Active()) OffsetThresholds(vd_line_.data());
  if (this->direct_indices_)
    vd_screen_line(this->in_ptr_, table_.data(), row, w, phase_ % w, in_width_, adjusted_.data(),
                   steps_, vd_line_.data(), codes_.data());
  else
    vd_screen_line(idx_.data(), table_.data(), row, w, phase_ % w, in_width_, adjusted_.data(),
                   steps_, vd_line_.data(), codes_.data());
  if (++row_ >= screen_.height) {
    row_ = 0;
    phase_ = uint16_t((phase_ + screen_.shift) % w);
  }
}

// --- screen form ---------------------------------------------------------------------

template <class T>
bool CHTRipMLVDSScreen<T>::SetupOffsetScreen(CHTPlacement* placement) {
  auto* p = dynamic_cast<CHTPlaceScreen<T>*>(placement);
  if (!p || p->GetNumScreens() == 0) return false;
  const int n = p->GetNumScreens();
  T** rows;
  uint32_t w, levels;
  uint16_t h, shift;
  // The next separation's screen; with one screen, the same one moved by
  // half its width and height.
  if (!p->GetScreen((this->sep_ + 1) % n, rows, w, h, shift, levels) || !w || !h) return false;
  const uint32_t cp = n > 1 ? 0 : w / 2, rp = n > 1 ? 0 : h / 2u;
  if (!second_.CopyPhase(rows, w, h, shift, levels, cp, rp)) {
    KLV_LOG(KLV_LOG_ERROR, "variable-dot screen engine: no memory for its second screen");
    return false;
  }
  second_row_ = second_phase_ = 0;
  return true;
}

template <class T>
void CHTRipMLVDSScreen<T>::OffsetThresholds(uint8_t* out) {
  const T* row = second_.rows[second_row_];
  const uint32_t w = second_.width;
  const uint32_t levels = second_.levels ? second_.levels : 256;
  uint32_t col = second_phase_ % w;
  for (uint32_t x = 0; x < this->in_width_; ++x) {
    out[x] = uint8_t(std::min<uint32_t>(255, uint32_t(row[col]) * 256 / levels));
    if (++col == w) col = 0;
  }
  if (++second_row_ >= second_.height) {
    second_row_ = 0;
    second_phase_ = uint16_t((second_phase_ + second_.shift) % w);
  }
}

template class CHTRipMLVDScreen<unsigned char>;
template class CHTRipMLVDScreen<unsigned short>;
template class CHTRipMLVDScreen16<unsigned char>;
template class CHTRipMLVDScreen16<unsigned short>;
template class CHTRipMLVDSScreen<unsigned char>;
template class CHTRipMLVDSScreen<unsigned short>;
template class CHTRipMLVDSScreen16<unsigned char>;
template class CHTRipMLVDSScreen16<unsigned short>;
