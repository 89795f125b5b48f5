// SPDX-License-Identifier: MIT
// Pieces shared by the diffusion and multi-level engines: reading a line of
// samples into table indices (with mirror and pixel step), the noise start of a
// line, the weighted error sum of the integer families, and packing per-pixel
// dots or drop codes into output bytes (most significant bits first).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "halftone/screen_kernel.h"
#include "klv/halftone_diffusion.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace klv::halftone {

// Index of output pixel x's sample: input pixel x, or width - 1 - x when
// mirrored. `step` is in samples; `last` is the last pixel's sample offset.
template <class In, class Out, class Map>
void read_line(const uint8_t* line, uint32_t width, uint32_t step, uint32_t last, bool mirror,
               uint32_t shift, Out* dst, Map map) {
  const In* in = reinterpret_cast<const In*>(line);
  if (!mirror) {
    if (step == 1)
      for (uint32_t x = 0; x < width; ++x) dst[x] = map(uint32_t(in[x] >> shift));
    else
      for (uint32_t x = 0; x < width; ++x) dst[x] = map(uint32_t(in[size_t(x) * step] >> shift));
  } else {
    const In* p = in + last;
    for (uint32_t x = 0; x < width; ++x) dst[x] = map(uint32_t(p[-ptrdiff_t(x) * step] >> shift));
  }
}

// The first noise entry of a line, drawn from the engine's own generator:
// the line's width entries lie inside a table of 4 x width entries.
inline size_t noise_start(uint32_t width, HTLineRandom& random) {
  return size_t(uint64_t(random.Next() % 10000) * width * 3 / 10000);
}

// Clamps the noise to -limit..limit.
inline int clamp_noise(int n, int limit) {
  return n < -limit ? -limit : n > limit ? limit : n;
}

// The running value of the integer families before noise and tone: with S the
// before-1 error plus the three previous-line neighbours (wrapped to 16 bits),
// (S + 2 (S + two-lines-up + before-2)) >> 4, i.e. weights 3/16 and 2/16.
inline int weighted(int16_t e1, int16_t e2, const int16_t* prev, const int16_t* up2) {
  int16_t s = int16_t(e1 + prev[-1] + prev[0] + prev[1]);
  return (s + 2 * (s + *up2 + e2)) >> 4;
}

// Packs one byte per pixel (0 or 0xFF) into bits, most significant first;
// bytes beyond the pixels are 0.
inline void pack_dots(const uint8_t* dots, size_t n, uint8_t* out, size_t out_bytes) {
  size_t full = n / 8 < out_bytes ? n / 8 : out_bytes;
  size_t i = 0;
#if defined(__SSE2__)
  const uint8_t* rev = kBitReverse.table;
  for (; i + 2 <= full; i += 2) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dots + i * 8));
    unsigned m = unsigned(_mm_movemask_epi8(v));
    out[i] = rev[m & 0xFF];
    out[i + 1] = rev[m >> 8];
  }
#endif
  for (; i < full; ++i) {
    const uint8_t* d = dots + i * 8;
    out[i] = uint8_t((d[0] & 0x80) | (d[1] & 0x40) | (d[2] & 0x20) | (d[3] & 0x10) | (d[4] & 0x08) |
                     (d[5] & 0x04) | (d[6] & 0x02) | (d[7] & 0x01));
  }
  if (i < out_bytes) {
    std::memset(out + i, 0, out_bytes - i);
    for (size_t x = i * 8; x < n && x / 8 < out_bytes; ++x)
      if (dots[x]) out[x / 8] |= uint8_t(0x80 >> (x & 7));
  }
}

// Packs drop codes of `bits` bits (1, 2, 4 or 8) a pixel, first pixel in the
// most significant bits; bytes beyond the pixels are 0.
inline void pack_codes(const uint8_t* codes, size_t n, int bits, uint8_t* out, size_t out_bytes) {
  std::memset(out, 0, out_bytes);
  const uint8_t mask = uint8_t((1u << bits) - 1);
  switch (bits) {
    case 8: {
      size_t m = n < out_bytes ? n : out_bytes;
      std::memcpy(out, codes, m);
      return;
    }
    case 4: {
      size_t full = n / 2 < out_bytes ? n / 2 : out_bytes;
      for (size_t i = 0; i < full; ++i)
        out[i] = uint8_t((codes[2 * i] & 0xF) << 4 | (codes[2 * i + 1] & 0xF));
      if ((n & 1) && full < out_bytes && n / 2 == full)
        out[full] = uint8_t((codes[n - 1] & 0xF) << 4);
      return;
    }
    case 2: {
      size_t full = n / 4 < out_bytes ? n / 4 : out_bytes;
      // Four codes read as one little-endian word: byte k moves to bits
      // 7 - 2k and 6 - 2k.
      for (size_t i = 0; i < full; ++i) {
        uint32_t c;
        std::memcpy(&c, codes + 4 * i, 4);
        c &= 0x03030303u;
        out[i] = uint8_t((c << 6) | (c >> 4) | (c >> 14) | (c >> 24));
      }
      for (size_t x = full * 4; x < n && x / 4 < out_bytes; ++x)
        out[x / 4] |= uint8_t((codes[x] & 3) << (6 - 2 * (x & 3)));
      return;
    }
    default:
      for (size_t x = 0; x < n && x * bits / 8 < out_bytes; ++x) {
        size_t bit = x * size_t(bits);
        out[bit / 8] |= uint8_t((codes[x] & mask) << (8 - bits - bit % 8));
      }
  }
}

// The next row of a matrix or screen after a line: at the table's height, row
// 0 with the phase moved on by the table's shift.
inline void advance_rows(const CHTThreshTable<unsigned short>& t, uint16_t& row, uint16_t& phase) {
  if (++row >= t.height) {
    row = 0;
    phase = uint16_t((phase + t.shift) % t.width);
  }
}

// The thresholds of a matrix diffusion engine: the placement's matrix for the
// separation (taken modulo the count for a level engine).
bool diffusion_matrix(CHTPlacement* placement, int sep, int curve_no,
                      CHTThreshTable<unsigned short>& table);
// The thresholds of a screen diffusion engine: the placement's screen for the
// separation (a level engine at a phase of its own) or its computed pattern.
bool diffusion_screen(CHTPlacement* placement, int sep, int color, int curve_no, uint32_t range,
                      CHTThreshTable<unsigned short>& table);

// The matrix family's decision for tone t, running value v and matrix value
// m; returns the error and sets `dot`.
inline int16_t mtx_decide(int t, int v, int m, bool& dot) {
  int val;
  if (t < 612) {
    int thr = m;
    if (t > 306) thr = 1028 - ((1028 - m) * (612 - t)) / 306;
    val = t + ((v - t) * t) / 612;
    dot = val > thr;
    if (dot) val -= (t * 2047) / 612;
  } else if (t <= 1435) {
    dot = v > 1028;
    val = dot ? v - 2047 : v;
  } else {
    if (m < 1435) m = 1435;
    const int thr = t < 1741 ? 1028 - ((1028 - m) * (t - 1435)) / 306 : m;
    val = t + ((v - t) * (2047 - t)) / 612;
    dot = val > thr;
    if (dot) val -= 2047;
  }
  return int16_t(val);
}

inline void invert_bytes(uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) p[i] = uint8_t(~p[i]);
}

}  // namespace klv::halftone
