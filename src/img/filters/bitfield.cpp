// SPDX-License-Identifier: MIT
// Bit-field routines of the channel layout filters: copying, interleaving
// and splitting rows of samples of 1 to 8 or 16 bits.
//
// Packed samples start at the most significant bit of a byte. Destinations
// are cleared by the caller; bits are ORed in. The common shapes have their
// own movers (8-bit and 16-bit samples as bytes and words, four 8-bit planes
// sixteen pixels at a time, four 1-bit planes eight pixels at a time through
// tables); every other shape goes sample by sample.
#include "img/filters/bitfield.h"

#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "img/filter_bits.h"
#include "klv/layoutfilter.h"

namespace klv::img {
namespace {

inline bool supported(uint32_t bits) {
  return (bits >= 1 && bits <= 8) || bits == 16;
}

// ORs sample v (bits 1..8 or 16) in at sample index i of p.
inline void or_sample(uint8_t* p, uint64_t i, uint32_t bits, uint32_t v) {
  if (bits == 8) {
    p[i] |= static_cast<uint8_t>(v);
  } else if (bits == 16) {
    uint16_t w;
    std::memcpy(&w, p + 2 * i, 2);
    w = static_cast<uint16_t>(w | v);
    std::memcpy(p + 2 * i, &w, 2);
  } else {
    or_field(p, i * bits, bits, v);
  }
}

// Pixels [x0, x1) sample by sample.
void pxv_to_lnv_range(uint8_t* dst, const uint8_t* src, uint32_t planes, uint32_t row_bytes,
                      uint32_t x0, uint32_t x1, uint32_t bits) {
  for (uint32_t x = x0; x < x1; ++x)
    for (uint32_t p = 0; p < planes; ++p)
      or_sample(dst + size_t(p) * row_bytes, x, bits,
                get_sample(src, uint64_t(x) * planes + p, bits));
}

void lnv_to_pxv_range(uint8_t* dst, const uint8_t* src, uint32_t planes, uint32_t row_bytes,
                      uint32_t x0, uint32_t x1, uint32_t bits) {
  for (uint32_t x = x0; x < x1; ++x)
    for (uint32_t p = 0; p < planes; ++p)
      or_sample(dst, uint64_t(x) * planes + p, bits,
                get_sample(src + size_t(p) * row_bytes, x, bits));
}

void pxv_to_lnv_fields(uint8_t* dst, const uint8_t* src, uint32_t planes, uint32_t row_bytes,
                       uint32_t width, uint32_t bits) {
  pxv_to_lnv_range(dst, src, planes, row_bytes, 0, width, bits);
}

void lnv_to_pxv_fields(uint8_t* dst, const uint8_t* src, uint32_t planes, uint32_t row_bytes,
                       uint32_t width, uint32_t bits) {
  lnv_to_pxv_range(dst, src, planes, row_bytes, 0, width, bits);
}

// --- whole bytes and words --------------------------------------------------

template <typename T>
void split_units(uint8_t* dst, const uint8_t* src, uint32_t planes, uint32_t row_bytes,
                 uint32_t width, uint32_t) {
  for (uint32_t p = 0; p < planes; ++p) {
    uint8_t* d = dst + size_t(p) * row_bytes;
    const uint8_t* s = src + size_t(p) * sizeof(T);
    for (uint32_t x = 0; x < width; ++x, s += size_t(planes) * sizeof(T))
      std::memcpy(d + size_t(x) * sizeof(T), s, sizeof(T));
  }
}

template <typename T>
void join_units(uint8_t* dst, const uint8_t* src, uint32_t planes, uint32_t row_bytes,
                uint32_t width, uint32_t) {
  for (uint32_t p = 0; p < planes; ++p) {
    const uint8_t* s = src + size_t(p) * row_bytes;
    uint8_t* d = dst + size_t(p) * sizeof(T);
    for (uint32_t x = 0; x < width; ++x, d += size_t(planes) * sizeof(T))
      std::memcpy(d, s + size_t(x) * sizeof(T), sizeof(T));
  }
}

void split_bytes3(uint8_t* dst, const uint8_t* src, uint32_t, uint32_t row_bytes, uint32_t width,
                  uint32_t) {
  uint8_t *a = dst, *b = dst + row_bytes, *c = dst + 2 * size_t(row_bytes);
  for (uint32_t x = 0; x < width; ++x, src += 3) {
    a[x] = src[0];
    b[x] = src[1];
    c[x] = src[2];
  }
}

void join_bytes3(uint8_t* dst, const uint8_t* src, uint32_t, uint32_t row_bytes, uint32_t width,
                 uint32_t) {
  const uint8_t *a = src, *b = src + row_bytes, *c = src + 2 * size_t(row_bytes);
  for (uint32_t x = 0; x < width; ++x, dst += 3) {
    dst[0] = a[x];
    dst[1] = b[x];
    dst[2] = c[x];
  }
}

// Four 8-bit planes (CMYK): sixteen pixels a step.
void split_bytes4(uint8_t* dst, const uint8_t* src, uint32_t, uint32_t row_bytes, uint32_t width,
                  uint32_t) {
  uint8_t* d[4] = {dst, dst + row_bytes, dst + 2 * size_t(row_bytes), dst + 3 * size_t(row_bytes)};
  uint32_t x = 0;
#if defined(__SSE2__)
  const __m128i low = _mm_set1_epi32(0xFF);
  for (; x + 16 <= width; x += 16) {
    const uint8_t* s = src + size_t(x) * 4;
    __m128i v[4];
    for (int i = 0; i < 4; ++i)
      v[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16 * i));
    for (int p = 0; p < 4; ++p) {
      __m128i w[4];
      for (int i = 0; i < 4; ++i) w[i] = _mm_and_si128(_mm_srli_epi32(v[i], 8 * p), low);
      const __m128i lo = _mm_packs_epi32(w[0], w[1]);
      const __m128i hi = _mm_packs_epi32(w[2], w[3]);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d[p] + x), _mm_packus_epi16(lo, hi));
    }
  }
#endif
  for (; x < width; ++x)
    for (int p = 0; p < 4; ++p) d[p][x] = src[size_t(x) * 4 + size_t(p)];
}

void join_bytes4(uint8_t* dst, const uint8_t* src, uint32_t, uint32_t row_bytes, uint32_t width,
                 uint32_t) {
  const uint8_t* s[4] = {src, src + row_bytes, src + 2 * size_t(row_bytes),
                         src + 3 * size_t(row_bytes)};
  uint32_t x = 0;
#if defined(__SSE2__)
  for (; x + 16 <= width; x += 16) {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s[0] + x));
    const __m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s[1] + x));
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s[2] + x));
    const __m128i k = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s[3] + x));
    const __m128i cm_lo = _mm_unpacklo_epi8(c, m), cm_hi = _mm_unpackhi_epi8(c, m);
    const __m128i yk_lo = _mm_unpacklo_epi8(y, k), yk_hi = _mm_unpackhi_epi8(y, k);
    auto* d = reinterpret_cast<__m128i*>(dst + size_t(x) * 4);
    _mm_storeu_si128(d + 0, _mm_unpacklo_epi16(cm_lo, yk_lo));
    _mm_storeu_si128(d + 1, _mm_unpackhi_epi16(cm_lo, yk_lo));
    _mm_storeu_si128(d + 2, _mm_unpacklo_epi16(cm_hi, yk_hi));
    _mm_storeu_si128(d + 3, _mm_unpackhi_epi16(cm_hi, yk_hi));
  }
#endif
  for (; x < width; ++x)
    for (int p = 0; p < 4; ++p) dst[size_t(x) * 4 + size_t(p)] = s[p][x];
}

// One plane: the row as it is, without the padding bits after its last sample.
void copy_one_plane(uint8_t* dst, const uint8_t* src, uint32_t, uint32_t, uint32_t width,
                    uint32_t bits) {
  const uint64_t total = uint64_t(width) * bits;
  std::memcpy(dst, src, total / 8);
  if (const uint32_t rest = total % 8)
    dst[total / 8] |= static_cast<uint8_t>(src[total / 8] & (0xFF00u >> rest));
}

// --- four 1-bit planes --------------------------------------------------------
//
// Four pixel-interleaved bytes hold eight pixels: c0 m0 y0 k0 c1 m1 y1 k1 ...
// kSplit1x4[b] puts the two bits plane p has in byte b into bits 1..0 of
// byte p of the word; kJoin1x4[v] spreads the eight bits of one plane byte to
// every fourth bit of a 32-bit word, first pixel at the top.

constexpr std::array<uint32_t, 256> make_split_table() {
  std::array<uint32_t, 256> t{};
  for (uint32_t b = 0; b < 256; ++b)
    for (uint32_t p = 0; p < 4; ++p)
      t[b] |= ((((b >> (7 - p)) & 1) << 1) | ((b >> (3 - p)) & 1)) << (8 * p);
  return t;
}

constexpr std::array<uint32_t, 256> make_join_table() {
  std::array<uint32_t, 256> t{};
  for (uint32_t v = 0; v < 256; ++v)
    for (uint32_t i = 0; i < 8; ++i) t[v] |= ((v >> (7 - i)) & 1) << (31 - 4 * i);
  return t;
}

constexpr std::array<uint32_t, 256> kSplit1x4 = make_split_table();
constexpr std::array<uint32_t, 256> kJoin1x4 = make_join_table();

void split_bits1x4(uint8_t* dst, const uint8_t* src, uint32_t planes, uint32_t row_bytes,
                   uint32_t width, uint32_t bits) {
  uint8_t* d[4] = {dst, dst + row_bytes, dst + 2 * size_t(row_bytes), dst + 3 * size_t(row_bytes)};
  const uint32_t whole = width / 8;
  for (uint32_t i = 0; i < whole; ++i, src += 4) {
    const uint32_t v = (kSplit1x4[src[0]] << 6) | (kSplit1x4[src[1]] << 4) |
                       (kSplit1x4[src[2]] << 2) | kSplit1x4[src[3]];
    d[0][i] |= static_cast<uint8_t>(v);
    d[1][i] |= static_cast<uint8_t>(v >> 8);
    d[2][i] |= static_cast<uint8_t>(v >> 16);
    d[3][i] |= static_cast<uint8_t>(v >> 24);
  }
  pxv_to_lnv_range(dst, src - size_t(whole) * 4, planes, row_bytes, whole * 8, width, bits);
}

void join_bits1x4(uint8_t* dst, const uint8_t* src, uint32_t planes, uint32_t row_bytes,
                  uint32_t width, uint32_t bits) {
  const uint8_t* s[4] = {src, src + row_bytes, src + 2 * size_t(row_bytes),
                         src + 3 * size_t(row_bytes)};
  const uint32_t whole = width / 8;
  uint8_t* d = dst;
  for (uint32_t i = 0; i < whole; ++i, d += 4) {
    const uint32_t v = kJoin1x4[s[0][i]] | (kJoin1x4[s[1][i]] >> 1) | (kJoin1x4[s[2][i]] >> 2) |
                       (kJoin1x4[s[3][i]] >> 3);
    d[0] |= static_cast<uint8_t>(v >> 24);
    d[1] |= static_cast<uint8_t>(v >> 16);
    d[2] |= static_cast<uint8_t>(v >> 8);
    d[3] |= static_cast<uint8_t>(v);
  }
  lnv_to_pxv_range(dst, src, planes, row_bytes, whole * 8, width, bits);
}

void do_nothing(uint8_t*, const uint8_t*, uint32_t, uint32_t, uint32_t, uint32_t) {}

struct Pick {
  RelayFn split, join;
  const char* name;
};

Pick pick(uint32_t planes, uint32_t bits) {
  if (!supported(bits) || planes == 0) return {do_nothing, do_nothing, "none"};
  if (planes == 1) return {copy_one_plane, copy_one_plane, "copy"};
  if (bits == 8 && planes == 3) return {split_bytes3, join_bytes3, "bytes3"};
  if (bits == 8 && planes == 4) return {split_bytes4, join_bytes4, "bytes4"};
  if (bits == 8) return {split_units<uint8_t>, join_units<uint8_t>, "bytes"};
  if (bits == 16) return {split_units<uint16_t>, join_units<uint16_t>, "words"};
  if (bits == 1 && planes == 4) return {split_bits1x4, join_bits1x4, "bits1x4"};
  return {pxv_to_lnv_fields, lnv_to_pxv_fields, "fields"};
}

}  // namespace

RelayFn pick_pxv_to_lnv(uint32_t planes, uint32_t bits) {
  return pick(planes, bits).split;
}

RelayFn pick_lnv_to_pxv(uint32_t planes, uint32_t bits) {
  return pick(planes, bits).join;
}

const char* pxv_to_lnv_name(uint32_t planes, uint32_t bits) {
  return pick(planes, bits).name;
}

const char* lnv_to_pxv_name(uint32_t planes, uint32_t bits) {
  return pick(planes, bits).name;
}

void pxv_to_lnv_plain(uint8_t* dst, const uint8_t* src, uint32_t planes, uint32_t row_bytes,
                      uint32_t width, uint32_t bits) {
  if (supported(bits)) pxv_to_lnv_fields(dst, src, planes, row_bytes, width, bits);
}

void lnv_to_pxv_plain(uint8_t* dst, const uint8_t* src, uint32_t planes, uint32_t row_bytes,
                      uint32_t width, uint32_t bits) {
  if (supported(bits)) lnv_to_pxv_fields(dst, src, planes, row_bytes, width, bits);
}

}  // namespace klv::img

using klv::img::read_field;

namespace {

// Writes v (already inverted when asked) replicate + 1 times from *dst_bit on.
inline void put_copies(uint8_t* dst, uint64_t* dst_bit, uint32_t bits, uint32_t replicate,
                       uint32_t v) {
  for (uint32_t r = 0; r <= replicate; ++r, *dst_bit += bits)
    klv::img::or_field(dst, *dst_bit, bits, v);
}

}  // namespace

extern "C" {

KLV_API void KelvCopyBits(uint8_t* dst, const uint8_t* src, uint32_t count, uint32_t dst_bit,
                          uint32_t src_bit, int32_t invert, uint32_t src_skip, uint32_t replicate,
                          uint32_t bits) {
  if (!dst || !src || bits < 1 || bits > 8) return;
  const uint32_t flip = invert ? (1u << bits) - 1 : 0;
  uint64_t s = src_bit, d = dst_bit;
  if (bits == 8 && replicate == 0 && src_skip == 0 && !invert && s % 8 == 0 && d % 8 == 0) {
    for (uint32_t i = 0; i < count; ++i) dst[d / 8 + i] |= src[s / 8 + i];
    return;
  }
  for (uint32_t i = 0; i < count; ++i, s += bits + src_skip)
    put_copies(dst, &d, bits, replicate, read_field(src, s, bits) ^ flip);
}

KLV_API void MakeContig(uint8_t* dst, const uint8_t* const* planes, uint32_t plane_count,
                        uint32_t count, uint32_t dst_bit, uint32_t src_bit, int32_t invert,
                        uint32_t replicate, uint32_t bits) {
  if (!dst || !planes || bits < 1 || bits > 8) return;
  for (uint32_t p = 0; p < plane_count; ++p)
    if (!planes[p]) return;
  const uint32_t flip = invert ? (1u << bits) - 1 : 0;
  uint64_t s = src_bit, d = dst_bit;
  for (uint32_t i = 0; i < count; ++i, s += bits)
    for (uint32_t p = 0; p < plane_count; ++p)
      put_copies(dst, &d, bits, replicate, read_field(planes[p], s, bits) ^ flip);
}

KLV_API void CopySkipBits(uint8_t* dst, const uint8_t* src, uint32_t groups, uint32_t first,
                          uint32_t second, uint32_t src_skip, uint32_t dst_skip_before,
                          uint32_t dst_skip_between, uint32_t bits) {
  if (!dst || !src || !klv::img::supported(bits)) return;
  uint64_t s = 0, d = 0;
  auto copy = [&](uint32_t n) {
    for (uint32_t i = 0; i < n; ++i, ++s, ++d)
      klv::img::or_sample(dst, d, bits, klv::img::get_sample(src, s, bits));
  };
  for (uint32_t g = 0; g < groups; ++g) {
    d += dst_skip_before;
    copy(first);
    d += dst_skip_between;
    copy(second);
    s += src_skip;
  }
}

KLV_API void PxvToLnv(uint8_t* dst, const uint8_t* src, uint32_t planes, uint32_t row_bytes,
                      uint32_t width, uint32_t bits) {
  if (dst && src) klv::img::pick_pxv_to_lnv(planes, bits)(dst, src, planes, row_bytes, width, bits);
}

KLV_API void LnvToPxv(uint8_t* dst, const uint8_t* src, uint32_t planes, uint32_t row_bytes,
                      uint32_t width, uint32_t bits) {
  if (dst && src) klv::img::pick_lnv_to_pxv(planes, bits)(dst, src, planes, row_bytes, width, bits);
}

}  // extern "C"
