// SPDX-License-Identifier: MIT
// Threshold screening engines and the screen placement.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "halftone/screen_kernel.h"
#include "klv/halftone_ml.h"
#include "klv/halftone_screen.h"
#include "klv/log.h"

template <class T>
void CHTPlaceScreen<T>::SetScreens(CHTThreshArray<T>* array) {
  array_ = array;
  rows_.clear();
  count_ = array ? uint16_t(array->count) : 0;
}

template <class T>
void CHTPlaceScreen<T>::SetScreens(uint16_t count, T*** rows, const uint16_t* heights,
                                   const uint16_t* shifts, const uint32_t* widths,
                                   const uint32_t* levels) {
  array_ = nullptr;
  count_ = 0;
  rows_.clear();
  if (!rows || !heights || !shifts || !widths || !levels) return;
  rows_.assign(rows, rows + count);
  heights_.assign(heights, heights + count);
  shifts_.assign(shifts, shifts + count);
  widths_.assign(widths, widths + count);
  levels_.assign(levels, levels + count);
  count_ = count;
}

template <class T>
bool CHTPlaceScreen<T>::GetScreen(int i, T**& rows, uint32_t& width, uint16_t& height,
                                  uint16_t& shift, uint32_t& levels) const {
  if (i < 0 || i >= count_) return false;
  if (array_) {
    const CHTThreshTable<T>& t = array_->tables[i];
    rows = t.rows;
    width = t.width;
    height = t.height;
    shift = t.shift;
    levels = t.levels;
  } else {
    rows = rows_[i];
    width = widths_[i];
    height = heights_[i];
    shift = shifts_[i];
    levels = levels_[i];
  }
  return rows && width && height;
}

template <class T>
bool CHTPlaceScreen<T>::PreInitProcess(image_info* in, image_info* out) {
  if (count_ == 0 || (!array_ && rows_.empty())) {
    KLV_LOG(KLV_LOG_ERROR, "screen placement holds no screens");
    return false;
  }
  return CHTKlvPlacement::PreInitProcess(in, out);
}

template <class T>
CHTRip* CHTPlaceScreen<T>::CreateRip(int sep, int color, bool extra, int curve_no,
                                     MLPROCCURVES* curves, uint8_t* out_buf, unsigned long stride,
                                     unsigned long lines) {
  if (!in_ || !out_) return nullptr;
  const MLPROCINFO* rec = ProcInfo();
  const bool vd_flag = rec && (rec->flags & KLV_MLPROC_FLAG_VARDOT);
  // Level engines of a multi-level engine in curve mode (non-zero curve
  // number) are variable-dot engines for a variable-dot record with
  // multi-bit output, and one-bit engines otherwise: the multi-level engine
  // merges their dots into drop codes.
  const bool one_bit = curve_no == 0 ? GetSepOutputBits() == 1 && out_->bits_per_sample == 1
                                     : !vd_flag || rec->output_bits == 1;
  std::unique_ptr<CHTRip> rip;
  // Variable dot: the screen form when the placement asks for it.
  const bool vd = !one_bit && vd_flag;
  if (in_->bits_per_sample == 8) {
    if (one_bit)
      rip.reset(new (std::nothrow) CHTRipScreen<T>());
    else if (vd && vardot_screen)
      rip.reset(new (std::nothrow) CHTRipMLVDSScreen<T>());
    else if (vd)
      rip.reset(new (std::nothrow) CHTRipMLVDScreen<T>());
    else
      rip.reset(new (std::nothrow) CHTRipMLScreen<T>());
  } else if (in_->bits_per_sample == 16) {
    if (one_bit)
      rip.reset(new (std::nothrow) CHTRipScreen16<T>());
    else if (vd && vardot_screen)
      rip.reset(new (std::nothrow) CHTRipMLVDSScreen16<T>());
    else if (vd)
      rip.reset(new (std::nothrow) CHTRipMLVDScreen16<T>());
    else
      rip.reset(new (std::nothrow) CHTRipMLScreen16<T>());
  }
  if (!rip || !rip->Init(this, IsSepThreaded(sep), sep, color, extra, curve_no, curves, out_buf,
                         stride, lines))
    return nullptr;
  return rip.release();
}

template <class T>
CHTRipScreen<T>::~CHTRipScreen() {
  StopWorker();  // the worker must not screen while this engine's tables go
}

template <class T>
bool CHTRipScreen<T>::SelectScreen(CHTPlacement* placement, int sep, int curve_no) {
  auto* p = dynamic_cast<CHTPlaceScreen<T>*>(placement);
  if (!p || p->GetNumScreens() == 0) {
    KLV_LOG(KLV_LOG_ERROR, "screen engine: the placement holds no screens");
    return false;
  }
  const int n = p->GetNumScreens();
  int index = curve_no ? sep % n : sep;
  T** rows;
  uint32_t w, levels;
  uint16_t h, shift;
  if (!p->GetScreen(index % n, rows, w, h, shift, levels)) {
    KLV_LOG(KLV_LOG_ERROR, "screen engine: screen %d is empty", index % n);
    return false;
  }
  uint32_t cp = 0, rp = 0;
  if (index >= n) {
    // Extra separations reuse a screen at a phase drawn from their seed, so
    // that they never line up with the base screens.
    HTSeedPhase(placement->SepSeed(sep), w, h, cp, rp);
  }
  if (!table_.CopyPhase(rows, w, h, shift, levels, cp, rp)) {
    KLV_LOG(KLV_LOG_ERROR, "screen engine: no memory for a %ux%u screen", w, unsigned(h));
    return false;
  }
  if constexpr (sizeof(T) == 1) {
    range_ = 256;
  } else {
    if (levels < 2) {
      KLV_LOG(KLV_LOG_ERROR, "screen engine: screen %d has %u levels", index % n, levels);
      return false;
    }
    range_ = levels > 65536 ? 65536 : levels;
  }
  row_ = 0;
  phase_ = 0;
  return true;
}

template <class T>
bool CHTRipScreen<T>::PrepareRows() {
  constexpr T flip = T(sizeof(T) == 1 ? 0x80 : 0x8000);
  const uint32_t w = table_.width;
  period_ = w * ((16 + w - 1) / w);
  ext_stride_ = period_ + 16;
  try {
    ext_.resize(size_t(ext_stride_) * table_.height);
    tones_.assign((size_t(in_width_) + 15) / 16 * 16 + 16, flip);  // pad: the lowest tone
    biased_curve_.resize(curve_size_);
  } catch (const std::bad_alloc&) {
    KLV_LOG(KLV_LOG_ERROR, "screen engine: no memory for its line tables");
    return false;
  }
  for (uint32_t r = 0; r < table_.height; ++r) {
    T* e = ext_.data() + size_t(r) * ext_stride_;
    const T* src = table_.rows[r];
    for (uint32_t i = 0, c = 0; i < ext_stride_; ++i) {
      e[i] = T(src[c] ^ flip);
      if (++c == w) c = 0;
    }
  }
  for (uint32_t i = 0; i < curve_size_; ++i) biased_curve_[i] = T(T(curve_[i]) ^ flip);
  return FoldCurve();
}

// A dot prints where curve[v] > t. With a non-decreasing curve that is
// v > w(t), w(t) being the number of samples whose tone stays at or below t,
// less one: the lookup per pixel becomes part of the thresholds. A
// non-increasing curve (light values, or an inverted input) is folded the
// same way over the inverted sample 255 - v, which the line then carries.
template <class T>
bool CHTRipScreen<T>::FoldCurve() {
  constexpr T flip = T(sizeof(T) == 1 ? 0x80 : 0x8000);
  fold_ = false;
  folded_.clear();
  values_.clear();
  if (InputBits() != 8 || curve_size_ != 256 || in_shift_ != 0) return true;
  T tone[256];
  bool rising = true, falling = true;
  for (uint32_t i = 1; i < 256; ++i) {
    rising = rising && curve_[i] >= curve_[i - 1];
    falling = falling && curve_[i] <= curve_[i - 1];
  }
  if (!rising && !falling) return true;  // not monotone: look tones up
  fold_flip_ = rising ? 0 : 0xFF;
  for (uint32_t i = 0; i < 256; ++i) tone[i] = T(curve_[i ^ fold_flip_]);
  try {
    folded_.resize(ext_.size());
    values_.assign(tones_.size(), 0xFFFF);  // pad: -1, never above a threshold
  } catch (const std::bad_alloc&) {
    folded_.clear();
    values_.clear();
    return true;  // the lookup needs no more memory
  }
  for (size_t i = 0; i < ext_.size(); ++i) {
    const T t = T(ext_[i] ^ flip);
    const long white = std::upper_bound(tone, tone + 256, t) - tone;
    folded_[i] = uint16_t(int16_t(white - 1));
  }
  fold_ = true;
  return true;
}

// The line's samples, `step` apart, as 16-bit values, each XORed with `flip`
// (0 or 0xFF).
static void widen_samples(const uint8_t* in, uint32_t step, uint32_t n, bool mirror, uint32_t last,
                          uint8_t flip, uint16_t* out) {
  uint32_t x = 0;
  if (mirror) {
    const uint8_t* p = in + last;
    for (; x < n; ++x) out[x] = uint8_t(*(p - ptrdiff_t(x) * step) ^ flip);
    return;
  }
#if defined(__SSE2__)
  const __m128i low = _mm_set1_epi32(0xFF);
  const __m128i flip16 = _mm_set1_epi16(flip);
  if (step == 1) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i flip8 = _mm_set1_epi8(char(flip));
    for (; x + 16 <= n; x += 16) {
      const __m128i v =
          _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x)), flip8);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_unpacklo_epi8(v, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x + 8), _mm_unpackhi_epi8(v, zero));
    }
  } else if (step == 4) {
    // Sixteen pixels from four loads; the last load ends at the sample of
    // pixel x + 15 plus three bytes of that pixel, which stays inside the
    // line while pixel x + 16 exists.
    for (; x + 17 <= n; x += 16) {
      const uint8_t* p = in + size_t(x) * 4;
      auto quad = [&](int k) {
        return _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k)), low);
      };
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x),
                       _mm_xor_si128(_mm_packs_epi32(quad(0), quad(1)), flip16));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x + 8),
                       _mm_xor_si128(_mm_packs_epi32(quad(2), quad(3)), flip16));
    }
  }
#endif
  for (; x < n; ++x) out[x] = uint8_t(in[size_t(x) * step] ^ flip);
}

template <class T>
bool CHTRipScreen<T>::Init(CHTPlacement* placement, bool threaded, int sep, int color, bool extra,
                           int curve_no, MLPROCCURVES* curves, uint8_t* out_buf,
                           unsigned long stride, unsigned long lines) {
  if (!placement || !SelectScreen(placement, sep, curve_no)) return false;
  if (!placement->InImin() || placement->InImin()->bits_per_sample != InputBits()) {
    KLV_LOG(KLV_LOG_ERROR, "screen engine for %u-bit input given other input", InputBits());
    return false;
  }
  // The worker may only start once the tables it screens with exist.
  if (!CHTRipKlv::Init(placement, false, sep, color, extra, curve_no, curves, out_buf, stride,
                       lines) ||
      !PrepareRows())
    return false;
  if (threaded) StartWorker();
  return true;
}

// The samples against the folded thresholds.
template <class T>
void CHTRipScreen<T>::ScreenFolded(const uint8_t* in, uint32_t step) {
  uint16_t* values = values_.data();
  widen_samples(in, step, in_width_, mirror_, last_pixel_, fold_flip_, values);
  CompareRow(values, folded_.data() + size_t(row_) * ext_stride_);
}

// A row of values against a row of thresholds into the current output line.
template <class T>
template <class V>
void CHTRipScreen<T>::CompareRow(const V* values, const V* thresholds) {
  if (plain_)
    klv::halftone::screen_row_plain(values, in_width_, thresholds, phase_, period_, out_ptr_,
                                    out_bytes_per_line_);
  else
    klv::halftone::screen_row(values, in_width_, thresholds, phase_, period_, out_ptr_,
                              out_bytes_per_line_);
}

// Each sample's tone from the curve, then the tones against the thresholds.
template <class T>
template <class In>
void CHTRipScreen<T>::LookUpAndScreen(const In* in, uint32_t step) {
  const uint32_t n = in_width_;
  const uint32_t shift = in_shift_;
  T* tones = tones_.data();
  const T* bc = biased_curve_.data();
  if (!mirror_) {
    if (step == 1)
      for (uint32_t x = 0; x < n; ++x) tones[x] = bc[in[x] >> shift];
    else
      for (uint32_t x = 0; x < n; ++x) tones[x] = bc[in[size_t(x) * step] >> shift];
  } else {
    const In* last = in + last_pixel_;
    for (uint32_t x = 0; x < n; ++x) tones[x] = bc[*(last - ptrdiff_t(x) * step) >> shift];
  }
  CompareRow<T>(tones, ext_.data() + size_t(row_) * ext_stride_);
}

template <class T>
template <class In>
void CHTRipScreen<T>::ScreenLine() {
  const uint32_t step = in_step_ / sizeof(In);
  if (LineIsPaper())
    std::memset(out_ptr_, 0, out_bytes_per_line_);  // tone 0 is above no threshold
  else if (sizeof(In) == 1 && fold_)
    ScreenFolded(in_ptr_, step);
  else
    LookUpAndScreen(reinterpret_cast<const In*>(in_ptr_), step);
  if (invert_output_)
    for (uint32_t i = 0; i < out_bytes_per_line_; ++i) out_ptr_[i] = uint8_t(~out_ptr_[i]);
  if (++row_ >= table_.height) {
    row_ = 0;
    phase_ = uint16_t((phase_ + table_.shift) % table_.width);
  }
  out_ptr_ += out_stride_;
  ++out_line_;
}

template <class T>
void CHTRipScreen<T>::ProcessLine() {
  ScreenLine<uint8_t>();
}

template <class T>
void CHTRipScreen16<T>::ProcessLine() {
  this->template ScreenLine<uint16_t>();
}

template class CHTPlaceScreen<unsigned char>;
template class CHTPlaceScreen<unsigned short>;
template class CHTRipScreen<unsigned char>;
template class CHTRipScreen<unsigned short>;
template class CHTRipScreen16<unsigned char>;
template class CHTRipScreen16<unsigned short>;
