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
#else
uint32_t crc32c_hardware(uint32_t crc, const void* data, size_t length) {
  return crc32c_table(crc, data, length);
}

bool crc32c_hardware_available() {
  return false;
}
#endif

}  // namespace klv::kernel

extern "C" KLV_API uint32_t Ocrc32c(uint32_t crc, const void* data, size_t length) {
  using Fn = uint32_t (*)(uint32_t, const void*, size_t);
  static const Fn fn = klv::kernel::crc32c_hardware_available() ? klv::kernel::crc32c_hardware
                                                                : klv::kernel::crc32c_table;
  if (!data || !length) return crc;
  return fn(crc, data, length);
}
