// SPDX-License-Identifier: MIT
// The inner loops of threshold screening. Tones and thresholds arrive with
// their sign bit flipped (value ^ 0x80 or ^ 0x8000), so that a signed compare
// gives the unsigned order; a tone prints when it is greater than its
// threshold. Thresholds come from a row repeated to `period` (a multiple of the
// screen width, at least 16) plus 16 more entries, starting at `q` < period.
// The tone line is padded to a multiple of 16 with the lowest value, which
// never prints. Output bits are packed most significant first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace klv::halftone {

// Bit order reversal of a byte: mask bit k (pixel k) becomes bit 7 - k.
struct BitReverse {
  uint8_t table[256];
  constexpr BitReverse() : table() {
    for (int i = 0; i < 256; ++i) {
      int r = 0;
      for (int b = 0; b < 8; ++b)
        if (i & (1 << b)) r |= 0x80 >> b;
      table[i] = uint8_t(r);
    }
  }
};
inline constexpr BitReverse kBitReverse{};

template <class T>
using SignedOf = std::conditional_t<sizeof(T) == 1, int8_t, int16_t>;

// One pixel at a time, the threshold position wrapped by comparison.
template <class T>
void screen_row_plain(const T* tones, size_t n, const T* ext, uint32_t q, uint32_t period,
                      uint8_t* out, size_t out_bytes) {
  std::memset(out, 0, out_bytes);
  if (n > out_bytes * 8) n = out_bytes * 8;
  for (size_t x = 0; x < n; ++x) {
    if (SignedOf<T>(tones[x]) > SignedOf<T>(ext[q])) out[x >> 3] |= uint8_t(0x80 >> (x & 7));
    if (++q == period) q = 0;
  }
}

// Sixteen pixels a step.
template <class T>
void screen_row(const T* tones, size_t n, const T* ext, uint32_t q, uint32_t period, uint8_t* out,
                size_t out_bytes) {
#if defined(__SSE2__)
  const size_t chunks = (n + 15) / 16;
  const size_t full = out_bytes / 2 < chunks ? out_bytes / 2 : chunks;
  const uint8_t* rev = kBitReverse.table;
  size_t c = 0;
  auto mask_at = [&](size_t k) -> unsigned {
    const T* t = tones + k * 16;
    const T* h = ext + q;
    if constexpr (sizeof(T) == 1) {
      __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t));
      __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h));
      return unsigned(_mm_movemask_epi8(_mm_cmpgt_epi8(a, b)));
    } else {
      __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t));
      __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + 8));
      __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h));
      __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + 8));
      return unsigned(
          _mm_movemask_epi8(_mm_packs_epi16(_mm_cmpgt_epi16(a0, b0), _mm_cmpgt_epi16(a1, b1))));
    }
  };
  for (; c < full; ++c) {
    unsigned m = mask_at(c);
    out[2 * c] = rev[m & 0xFF];
    out[2 * c + 1] = rev[m >> 8];
    q += 16;
    if (q >= period) q -= period;
  }
  size_t done = 2 * c;
  if (c < chunks && done < out_bytes) {
    unsigned m = mask_at(c);
    out[done++] = rev[m & 0xFF];
    if (done < out_bytes) out[done++] = rev[m >> 8];
  }
  if (done < out_bytes) std::memset(out + done, 0, out_bytes - done);
#else
  screen_row_plain(tones, n, ext, q, period, out, out_bytes);
#endif
}

}  // namespace klv::halftone
