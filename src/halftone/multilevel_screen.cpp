// SPDX-License-Identifier: MIT
// Multi-level threshold screening in table mode.
#include <cstdlib>

#include "klv/halftone_ml.h"
#include "klv/log.h"

template <class T>
bool CHTRipMLScreen<T>::PreTable(CHTPlacement* placement) {
  auto* p = dynamic_cast<CHTPlaceScreen<T>*>(placement);
  if (!p || p->GetNumScreens() == 0) {
    KLV_LOG(KLV_LOG_ERROR, "multi-level screen engine: the placement holds no screens");
    return false;
  }
  // The screen of the separation, as the one-bit screen engines choose it.
  const int n = p->GetNumScreens();
  const int index = sep_;
  T** rows;
  uint32_t w, levels;
  uint16_t h, shift;
  if (!p->GetScreen(index % n, rows, w, h, shift, levels)) return false;
  uint32_t cp = 0, rp = 0;
  if (index >= n) {
    cp = uint32_t(std::rand()) % w;
    rp = uint32_t(std::rand()) % h;
  }
  if (!screen_.CopyPhase(rows, w, h, shift, levels, cp, rp)) {
    KLV_LOG(KLV_LOG_ERROR, "multi-level screen engine: no memory for a screen copy");
    return false;
  }
  if constexpr (sizeof(T) == 1) {
    this->range_ = 256;
  } else {
    if (levels < 2 || levels > 65536) return false;
    this->range_ = levels;
  }
  row_ = phase_ = 0;
  return true;
}

template <class T>
void CHTRipMLScreen<T>::ProcessTableLine() {
  const T* row = screen_.rows[row_];
  const uint32_t w = screen_.width;
  uint32_t col = phase_ % w;
  const HTMLEntry* table = this->table_.data();
  const uint16_t* idx = this->idx_.data();
  uint8_t* codes = this->codes_.data();
  const uint32_t n = this->in_width_;
  for (uint32_t x = 0; x < n; ++x) {
    const HTMLEntry& e = table[idx[x]];
    const uint32_t t = row[col];
    if (++col == w) col = 0;
    codes[x] = t < e.f ? e.upper : int16_t(t) < int16_t(e.m) ? e.mid : e.lower;
  }
  if (++row_ >= screen_.height) {
    row_ = 0;
    phase_ = uint16_t((phase_ + screen_.shift) % w);
  }
}

template class CHTRipMLScreen<unsigned char>;
template class CHTRipMLScreen<unsigned short>;
template class CHTRipMLScreen16<unsigned char>;
template class CHTRipMLScreen16<unsigned short>;
