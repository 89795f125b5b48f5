// SPDX-License-Identifier: MIT
// Multi-level threshold screening in table mode.
#include <algorithm>
#include <cstdlib>
#include <new>

#include "halftone/multilevel_screen.h"
#include "klv/halftone_ml.h"
#include "klv/log.h"

template <class T>
bool CHTRipMLScreen<T>::PreTable(CHTPlacement* placement) {
  row_ = phase_ = 0;
  return klv::halftone::select_ml_screen(placement, sep_, screen_, range_);
}

namespace {

// Codes of one threshold row segment: the largest code whose threshold test
// passes, chosen without branches.
template <class T, class Index>
void screen_codes(const Index* idx, const HTMLEntry* table, const T* thr, uint32_t n,
                  uint8_t* codes) {
  for (uint32_t i = 0; i < n; ++i) {
    const HTMLEntry& e = table[idx[i]];
    const uint32_t t = thr[i];
    // Masks instead of branches: the thresholds are noise to a predictor.
    const uint8_t use_mid = uint8_t(-int(int16_t(t) < int16_t(e.m)));
    const uint8_t use_up = uint8_t(-int(t < e.f));
    uint8_t c = uint8_t((e.lower & ~use_mid) | (e.mid & use_mid));
    codes[i] = uint8_t((c & ~use_up) | (e.upper & use_up));
  }
}

// Codes of a row segment from the (sample, threshold) table.
template <class Index>
void pair_codes(const Index* idx, const uint8_t* pairs, const uint8_t* thr, uint32_t n,
                uint8_t* codes) {
  for (uint32_t i = 0; i < n; ++i) codes[i] = pairs[size_t(idx[i]) << 8 | thr[i]];
}

}  // namespace

template <class T>
bool CHTRipMLScreen<T>::PostTable(CHTPlacement*) {
  pair_codes_.clear();
  if constexpr (sizeof(T) == 1) {
    if (this->table_.size() != 256) return true;
    try {
      pair_codes_.resize(size_t(256) * 256);
    } catch (const std::bad_alloc&) {
      return true;  // the per-entry path needs no more memory
    }
    uint8_t thr[256];
    for (int t = 0; t < 256; ++t) thr[t] = uint8_t(t);
    for (uint16_t v = 0; v < 256; ++v) {
      uint16_t idx[256];
      std::fill(idx, idx + 256, v);
      screen_codes(idx, this->table_.data(), thr, 256, pair_codes_.data() + size_t(v) * 256);
    }
  }
  return true;
}

template <class T>
void CHTRipMLScreen<T>::ProcessTableLine() {
  const T* row = screen_.rows[row_];
  const uint32_t w = screen_.width;
  uint32_t col = phase_ % w;
  const HTMLEntry* table = this->table_.data();
  uint8_t* codes = this->codes_.data();
  const uint32_t n = this->in_width_;
  // The threshold row is walked in runs up to its end, so that no wrap test
  // happens per pixel.
  for (uint32_t x = 0; x < n;) {
    const uint32_t run = std::min(n - x, w - col);
    if constexpr (sizeof(T) == 1) {
      if (!pair_codes_.empty()) {
        if (this->direct_indices_)
          pair_codes(this->in_ptr_ + x, pair_codes_.data(), row + col, run, codes + x);
        else
          pair_codes(this->idx_.data() + x, pair_codes_.data(), row + col, run, codes + x);
        x += run;
        col = 0;
        continue;
      }
    }
    if (this->direct_indices_)
      screen_codes(this->in_ptr_ + x, table, row + col, run, codes + x);
    else
      screen_codes(this->idx_.data() + x, table, row + col, run, codes + x);
    x += run;
    col = 0;
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
