// SPDX-License-Identifier: MIT
// CRC-32C, reflected, polynomial 0x82F63B78, initial value and final XOR
// 0xFFFFFFFF: CRC-32C("123456789") = 0xE3069283.
//
// The hardware path runs three independent CRC32 instruction streams over
// three neighbouring blocks (the instruction has a latency of three cycles
// and a throughput of one, so one stream would leave two thirds of the unit
// idle) and joins the three results. Joining uses the linearity of the CRC
// register: the register after A followed by B equals the register after A
// moved on by |B| zero bytes, XOR the register of B started from zero. Moving
// a register on by a fixed count of zero bytes is a multiplication by
// x^(8 * count) modulo the polynomial, done with four byte tables per block
// size. Every table is computed by the compiler.
//
// Processors with 512-bit carry-less multiplication (VPCLMULQDQ) go faster
// still by folding: the buffer is a sum of 16-byte blocks, each weighted by
// x^(128 * blocks after it); a block B = H x^64 + L is replaced by
// H (x^(64 + 128d) mod P) + L (x^(128d) mod P), which keeps the sum's
// remainder and moves B d blocks on, where it is XORed into the block there.
// Sixteen blocks are carried in four 512-bit registers; at the end they are
// folded into one block, whose remainder the CRC32 instruction takes, and the
// bytes left over go through the instruction as well.
#include "kernel/crc32c.h"

#include <cstring>

#include "klv/kernel_util.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace klv::kernel {
namespace {

constexpr uint32_t kPoly = 0x82F63B78u;

struct ByteTables {
  uint32_t t[8][256];
};

// t[0] is the usual byte table; t[k] moves a byte through k more zero bytes,
// so that eight bytes are folded in one step (slicing by eight).
constexpr ByteTables make_byte_tables() {
  ByteTables tables{};
  for (uint32_t b = 0; b < 256; ++b) {
    uint32_t c = b;
    for (int i = 0; i < 8; ++i) c = c & 1 ? (c >> 1) ^ kPoly : c >> 1;
    tables.t[0][b] = c;
  }
  for (int k = 1; k < 8; ++k)
    for (uint32_t b = 0; b < 256; ++b) {
      const uint32_t prev = tables.t[k - 1][b];
      tables.t[k][b] = (prev >> 8) ^ tables.t[0][prev & 0xFF];
    }
  return tables;
}
constexpr ByteTables kBytes = make_byte_tables();

// Polynomials modulo kPoly, reflected: bit 31 is x^0, bit 0 is x^31.
constexpr uint32_t multiply_mod(uint32_t a, uint32_t b) {
  uint32_t product = 0;
  for (uint32_t m = 1u << 31; m != 0; m >>= 1) {
    if (a & m) product ^= b;
    b = b & 1 ? (b >> 1) ^ kPoly : b >> 1;
  }
  return product;
}

// x^(8 * bytes) modulo kPoly.
constexpr uint32_t x_to_8n(size_t bytes) {
  uint32_t result = 1u << 31;  // x^0
  uint32_t base = 1u << 23;    // x^8
  for (; bytes; bytes >>= 1) {
    if (bytes & 1) result = multiply_mod(base, result);
    base = multiply_mod(base, base);
  }
  return result;
}

struct ShiftTables {
  uint32_t t[4][256];
};

// t[k][b] is the register (b << 8k) moved on by `bytes` zero bytes.
constexpr ShiftTables make_shift_tables(size_t bytes) {
  ShiftTables tables{};
  const uint32_t x = x_to_8n(bytes);
  for (int k = 0; k < 4; ++k)
    for (uint32_t b = 0; b < 256; ++b) tables.t[k][b] = multiply_mod(x, b << (8 * k));
  return tables;
}

// Block sizes of the three-stream loops: long blocks for the bulk of a large
// buffer, short ones for what is left of it.
constexpr size_t kLong = 8192;
constexpr size_t kShort = 256;
[[maybe_unused]] constexpr ShiftTables kShiftLong = make_shift_tables(kLong);
[[maybe_unused]] constexpr ShiftTables kShiftShort = make_shift_tables(kShort);

static_assert(kBytes.t[0][1] == 0xF26B8303u);

// x^n modulo kPoly.
constexpr uint32_t x_to(uint64_t n) {
  uint32_t result = 1u << 31;  // x^0
  uint32_t base = 1u << 30;    // x^1
  for (; n; n >>= 1) {
    if (n & 1) result = multiply_mod(base, result);
    base = multiply_mod(base, base);
  }
  return result;
}
static_assert(x_to(8 * 300) == x_to_8n(300));

// The pair of multipliers that moves a block on by `blocks` 16-byte blocks,
// for the low and the high 64-bit half of a register loaded from memory (the
// low half holds the block's higher powers). A carry-less product of two
// reflected 64-bit values comes out one power short, so each exponent is one
// less; a 32-bit reflected value becomes a 64-bit one by moving up 32 bits.
struct FoldPair {
  uint64_t low_half, high_half;
};
constexpr FoldPair fold_pair(uint64_t blocks) {
  return {uint64_t{x_to(128 * blocks + 64 - 1)} << 32, uint64_t{x_to(128 * blocks - 1)} << 32};
}
[[maybe_unused]] constexpr FoldPair kFold16 = fold_pair(16);
[[maybe_unused]] constexpr FoldPair kFold4 = fold_pair(4);
[[maybe_unused]] constexpr FoldPair kFold3 = fold_pair(3);
[[maybe_unused]] constexpr FoldPair kFold2 = fold_pair(2);
[[maybe_unused]] constexpr FoldPair kFold1 = fold_pair(1);
// Below this many bytes the three-stream loop is as quick.
[[maybe_unused]] constexpr size_t kFoldMin = 1024;

inline uint64_t load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

[[maybe_unused]] inline uint32_t shift(const ShiftTables& s, uint32_t c) {
  return s.t[0][c & 0xFF] ^ s.t[1][(c >> 8) & 0xFF] ^ s.t[2][(c >> 16) & 0xFF] ^ s.t[3][c >> 24];
}

#if defined(__x86_64__)
// Three streams over blocks [p, p + n), [p + n, p + 2n), [p + 2n, p + 3n).
__attribute__((target("sse4.2"))) inline uint64_t three_streams(uint64_t c0, const uint8_t* p,
                                                                size_t n, const ShiftTables& s) {
  uint64_t c1 = 0, c2 = 0;
  for (const uint8_t* end = p + n; p < end; p += 8) {
    c0 = _mm_crc32_u64(c0, load64(p));
    c1 = _mm_crc32_u64(c1, load64(p + n));
    c2 = _mm_crc32_u64(c2, load64(p + 2 * n));
  }
  c0 = shift(s, static_cast<uint32_t>(c0)) ^ c1;
  return shift(s, static_cast<uint32_t>(c0)) ^ c2;
}

__attribute__((target("avx512f,vpclmulqdq"))) inline __m512i fold512(__m512i x, __m512i k,
                                                                     __m512i next) {
  return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(x, k, 0x00),
                                   _mm512_clmulepi64_epi128(x, k, 0x11), next, 0x96);
}

__attribute__((target("avx512f"))) inline __m512i load(const uint8_t* at) {
  return _mm512_loadu_si512(at);
}

__attribute__((target("avx512f"))) inline __m512i broadcast(const FoldPair& pair) {
  return _mm512_set4_epi64(
      static_cast<int64_t>(pair.high_half), static_cast<int64_t>(pair.low_half),
      static_cast<int64_t>(pair.high_half), static_cast<int64_t>(pair.low_half));
}

__attribute__((target("pclmul,sse4.2"))) inline __m128i fold128(__m128i x, const FoldPair& pair,
                                                                __m128i next) {
  const __m128i k =
      _mm_set_epi64x(static_cast<int64_t>(pair.high_half), static_cast<int64_t>(pair.low_half));
  return _mm_xor_si128(
      _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next);
}
#endif

}  // namespace

uint32_t crc32c_table(uint32_t crc, const void* data, size_t length) {
  const auto* p = static_cast<const uint8_t*>(data);
  uint32_t c = ~crc;
  const auto& t = kBytes.t;
  for (; length >= 8; length -= 8, p += 8) {
    // Bytes in memory order, whatever the processor's byte order.
    const uint32_t lo =
        c ^ (uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24);
    c = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
        t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
  }
  for (; length; --length) c = (c >> 8) ^ t[0][(c ^ *p++) & 0xFF];
  return ~c;
}

#if defined(__x86_64__)
__attribute__((target("sse4.2"))) uint32_t crc32c_hardware(uint32_t crc, const void* data,
                                                           size_t length) {
  const auto* p = static_cast<const uint8_t*>(data);
  uint64_t c = ~crc;
  for (; length && (reinterpret_cast<uintptr_t>(p) & 7); --length)
    c = _mm_crc32_u8(static_cast<uint32_t>(c), *p++);
  for (; length >= 3 * kLong; length -= 3 * kLong, p += 3 * kLong)
    c = three_streams(c, p, kLong, kShiftLong);
  for (; length >= 3 * kShort; length -= 3 * kShort, p += 3 * kShort)
    c = three_streams(c, p, kShort, kShiftShort);
  for (; length >= 8; length -= 8, p += 8) c = _mm_crc32_u64(c, load64(p));
  for (; length; --length) c = _mm_crc32_u8(static_cast<uint32_t>(c), *p++);
  return ~static_cast<uint32_t>(c);
}

bool crc32c_hardware_available() {
  __builtin_cpu_init();  // may run before the compiler's own start-up code
  return __builtin_cpu_supports("sse4.2");
}

__attribute__((target("avx512f,vpclmulqdq,pclmul,sse4.2"))) uint32_t crc32c_folding(
    uint32_t crc, const void* data, size_t length) {
  if (length < kFoldMin) return crc32c_hardware(crc, data, length);
  const auto* p = static_cast<const uint8_t*>(data);
  // The CRC so far starts the first block: XORed into its first four bytes.
  const __m128i start = _mm_cvtsi32_si128(static_cast<int>(~crc));
  __m512i x0 = _mm512_xor_si512(load(p), _mm512_zextsi128_si512(start));
  __m512i x1 = load(p + 64), x2 = load(p + 128), x3 = load(p + 192);
  p += 256;
  length -= 256;
  const __m512i k16 = broadcast(kFold16);
  for (; length >= 256; length -= 256, p += 256) {
    x0 = fold512(x0, k16, load(p));
    x1 = fold512(x1, k16, load(p + 64));
    x2 = fold512(x2, k16, load(p + 128));
    x3 = fold512(x3, k16, load(p + 192));
  }
  const __m512i k4 = broadcast(kFold4);
  x1 = fold512(x0, k4, x1);
  x2 = fold512(x1, k4, x2);
  x3 = fold512(x2, k4, x3);
  // Four blocks left in x3, the last one in its top lane.
  alignas(64) uint8_t lanes[64];
  _mm512_store_si512(lanes, x3);
  auto lane = [&lanes](int i) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(lanes) + i);
  };
  __m128i r = lane(3);
  r = fold128(lane(0), kFold3, r);
  r = fold128(lane(1), kFold2, r);
  r = fold128(lane(2), kFold1, r);
  for (; length >= 16; length -= 16, p += 16)
    r = fold128(r, kFold1, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
  uint64_t c = _mm_crc32_u64(0, static_cast<uint64_t>(_mm_cvtsi128_si64(r)));
  c = _mm_crc32_u64(c, static_cast<uint64_t>(_mm_extract_epi64(r, 1)));
  // The bytes left continue from that register (complemented, as a result).
  return crc32c_hardware(~static_cast<uint32_t>(c), p, length);
}

bool crc32c_folding_available() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("sse4.2") && __builtin_cpu_supports("pclmul") &&
         __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("vpclmulqdq");
}
#else
uint32_t crc32c_hardware(uint32_t crc, const void* data, size_t length) {
  return crc32c_table(crc, data, length);
}

bool crc32c_hardware_available() {
  return false;
}

uint32_t crc32c_folding(uint32_t crc, const void* data, size_t length) {
  return crc32c_table(crc, data, length);
}

bool crc32c_folding_available() {
  return false;
}
#endif

}  // namespace klv::kernel

extern "C" KLV_API uint32_t Ocrc32c(uint32_t crc, const void* data, size_t length) {
  using Fn = uint32_t (*)(uint32_t, const void*, size_t);
  using namespace klv::kernel;
  static const Fn fn = crc32c_folding_available()    ? crc32c_folding
                       : crc32c_hardware_available() ? crc32c_hardware
                                                     : crc32c_table;
  if (!data || !length) return crc;
  return fn(crc, data, length);
}
