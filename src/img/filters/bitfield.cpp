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

#if defined(__x86_64__)
#include <immintrin.h>
#define KLV_HAVE_AVX2_PATH 1
#elif defined(__SSE2__)
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
#if defined(__SSE2__) || defined(KLV_HAVE_AVX2_PATH)
  // Three rounds of byte unpacking sort 16 pixels into runs of 8 samples of
  // one plane; 64-bit unpacks join the runs of the two halves.
  for (; x + 16 <= width; x += 16) {
    const auto* s = reinterpret_cast<const __m128i*>(src + size_t(x) * 4);
    const __m128i a0 = _mm_loadu_si128(s), a1 = _mm_loadu_si128(s + 1);
    const __m128i a2 = _mm_loadu_si128(s + 2), a3 = _mm_loadu_si128(s + 3);
    const __m128i b0 = _mm_unpacklo_epi8(a0, a1), b1 = _mm_unpackhi_epi8(a0, a1);
    const __m128i b2 = _mm_unpacklo_epi8(a2, a3), b3 = _mm_unpackhi_epi8(a2, a3);
    const __m128i c0 = _mm_unpacklo_epi8(b0, b1), c1 = _mm_unpackhi_epi8(b0, b1);
    const __m128i c2 = _mm_unpacklo_epi8(b2, b3), c3 = _mm_unpackhi_epi8(b2, b3);
    const __m128i d0 = _mm_unpacklo_epi8(c0, c1), d1 = _mm_unpackhi_epi8(c0, c1);
    const __m128i d2 = _mm_unpacklo_epi8(c2, c3), d3 = _mm_unpackhi_epi8(c2, c3);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d[0] + x), _mm_unpacklo_epi64(d0, d2));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d[1] + x), _mm_unpackhi_epi64(d0, d2));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d[2] + x), _mm_unpacklo_epi64(d1, d3));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d[3] + x), _mm_unpackhi_epi64(d1, d3));
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

#if defined(KLV_HAVE_AVX2_PATH)
// Two 16-byte runs into the halves of one register.
#define KLV_LOAD2(lo, hi)                                                            \
  _mm256_inserti128_si256(                                                           \
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lo))), \
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(hi)), 1)

// The same four 8-bit planes with 256-bit registers: 32 pixels a step. The
// byte unpacks work within 128-bit halves, so each half is loaded with its
// own run of 16 pixels and the halves come out as consecutive runs.
__attribute__((target("avx2"))) void split_bytes4_avx2(uint8_t* dst, const uint8_t* src,
                                                       uint32_t planes, uint32_t row_bytes,
                                                       uint32_t width, uint32_t bits) {
  uint8_t* d[4] = {dst, dst + row_bytes, dst + 2 * size_t(row_bytes), dst + 3 * size_t(row_bytes)};
  uint32_t x = 0;

  for (; x + 32 <= width; x += 32) {
    const uint8_t* s = src + size_t(x) * 4;
    const __m256i a0 = KLV_LOAD2(s, s + 64), a1 = KLV_LOAD2(s + 16, s + 80);
    const __m256i a2 = KLV_LOAD2(s + 32, s + 96), a3 = KLV_LOAD2(s + 48, s + 112);
    const __m256i b0 = _mm256_unpacklo_epi8(a0, a1), b1 = _mm256_unpackhi_epi8(a0, a1);
    const __m256i b2 = _mm256_unpacklo_epi8(a2, a3), b3 = _mm256_unpackhi_epi8(a2, a3);
    const __m256i c0 = _mm256_unpacklo_epi8(b0, b1), c1 = _mm256_unpackhi_epi8(b0, b1);
    const __m256i c2 = _mm256_unpacklo_epi8(b2, b3), c3 = _mm256_unpackhi_epi8(b2, b3);
    const __m256i e0 = _mm256_unpacklo_epi8(c0, c1), e1 = _mm256_unpackhi_epi8(c0, c1);
    const __m256i e2 = _mm256_unpacklo_epi8(c2, c3), e3 = _mm256_unpackhi_epi8(c2, c3);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d[0] + x), _mm256_unpacklo_epi64(e0, e2));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d[1] + x), _mm256_unpackhi_epi64(e0, e2));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d[2] + x), _mm256_unpacklo_epi64(e1, e3));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d[3] + x), _mm256_unpackhi_epi64(e1, e3));
  }
  if (x < width) split_bytes4(d[0] + x, src + size_t(x) * 4, planes, row_bytes, width - x, bits);
}

__attribute__((target("avx2"))) void join_bytes4_avx2(uint8_t* dst, const uint8_t* src,
                                                      uint32_t planes, uint32_t row_bytes,
                                                      uint32_t width, uint32_t bits) {
  const uint8_t* s[4] = {src, src + row_bytes, src + 2 * size_t(row_bytes),
                         src + 3 * size_t(row_bytes)};
  uint32_t x = 0;
  for (; x + 32 <= width; x += 32) {
    const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s[0] + x));
    const __m256i m = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s[1] + x));
    const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s[2] + x));
    const __m256i k = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s[3] + x));
    const __m256i cm_lo = _mm256_unpacklo_epi8(c, m), cm_hi = _mm256_unpackhi_epi8(c, m);
    const __m256i yk_lo = _mm256_unpacklo_epi8(y, k), yk_hi = _mm256_unpackhi_epi8(y, k);
    // Halves: p0 = pixels 0-3 | 16-19, p1 = 4-7 | 20-23, p2 = 8-11 | 24-27, p3 = 12-15 | 28-31.
    const __m256i p0 = _mm256_unpacklo_epi16(cm_lo, yk_lo),
                  p1 = _mm256_unpackhi_epi16(cm_lo, yk_lo);
    const __m256i p2 = _mm256_unpacklo_epi16(cm_hi, yk_hi),
                  p3 = _mm256_unpackhi_epi16(cm_hi, yk_hi);
    auto* d = reinterpret_cast<__m256i*>(dst + size_t(x) * 4);
    _mm256_storeu_si256(d + 0, _mm256_permute2x128_si256(p0, p1, 0x20));
    _mm256_storeu_si256(d + 1, _mm256_permute2x128_si256(p2, p3, 0x20));
    _mm256_storeu_si256(d + 2, _mm256_permute2x128_si256(p0, p1, 0x31));
    _mm256_storeu_si256(d + 3, _mm256_permute2x128_si256(p2, p3, 0x31));
  }
  if (x < width) {
    // The plain tail works on rows that start at pixel x.
    const uint8_t* t = s[0] + x;
    join_bytes4(dst + size_t(x) * 4, t, planes, row_bytes, width - x, bits);
  }
}

#undef KLV_LOAD2

bool has_avx2() {
  static const bool yes = __builtin_cpu_supports("avx2");
  return yes;
}
#endif

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
#if defined(KLV_HAVE_AVX2_PATH)
  if (bits == 8 && planes == 4 && has_avx2())
    return {split_bytes4_avx2, join_bytes4_avx2, "bytes4_avx2"};
#endif
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

bool relay_fills(uint32_t planes, uint32_t bits) {
  return planes >= 1 && (bits == 8 || bits == 16);
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
