// SPDX-License-Identifier: MIT
// Bit-level helpers for packed samples (most significant bit first), shared by
// the line filter and the tile filter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace klv::img {

// Copies `nbits` bits from src (starting at bit src_bit) to dst (starting at
// dst_bit). Bits of dst outside the range are kept. Byte-aligned runs are a
// memcpy.
inline void copy_bits(uint8_t* dst, uint64_t dst_bit, const uint8_t* src, uint64_t src_bit,
                      uint64_t nbits) {
  if (nbits == 0) return;
  if ((dst_bit & 7) == 0 && (src_bit & 7) == 0) {
    uint8_t* d = dst + dst_bit / 8;
    const uint8_t* s = src + src_bit / 8;
    size_t whole = nbits / 8;
    std::memcpy(d, s, whole);
    unsigned rest = nbits & 7;
    if (rest) {
      uint8_t mask = static_cast<uint8_t>(0xFF00 >> rest);
      d[whole] = static_cast<uint8_t>((d[whole] & ~mask) | (s[whole] & mask));
    }
    return;
  }
  for (uint64_t i = 0; i < nbits; ++i) {
    uint64_t sb = src_bit + i, db = dst_bit + i;
    unsigned bit = (src[sb >> 3] >> (7 - (sb & 7))) & 1;
    uint8_t m = static_cast<uint8_t>(0x80 >> (db & 7));
    if (bit)
      dst[db >> 3] |= m;
    else
      dst[db >> 3] &= static_cast<uint8_t>(~m);
  }
}

// The `bits`-bit field (1..8) that starts `bit` bits into p. A field crosses
// at most one byte boundary, and the second byte is touched only when it
// does, so a row's last field never reads past the row.
inline uint32_t read_field(const uint8_t* p, uint64_t bit, unsigned bits) {
  const uint8_t* b = p + (bit >> 3);
  const unsigned off = static_cast<unsigned>(bit & 7);
  const uint32_t mask = (1u << bits) - 1;
  if (off + bits <= 8) return (uint32_t{b[0]} >> (8 - bits - off)) & mask;
  const uint32_t pair = (uint32_t{b[0]} << 8) | b[1];
  return (pair >> (16 - bits - off)) & mask;
}

// Sets the bits of v (`bits` wide, 1..8) into the field at `bit` of p by OR:
// the field must be zero before.
inline void or_field(uint8_t* p, uint64_t bit, unsigned bits, uint32_t v) {
  uint8_t* b = p + (bit >> 3);
  const unsigned off = static_cast<unsigned>(bit & 7);
  if (off + bits <= 8) {
    b[0] |= static_cast<uint8_t>(v << (8 - bits - off));
    return;
  }
  const uint32_t pair = v << (16 - bits - off);
  b[0] |= static_cast<uint8_t>(pair >> 8);
  b[1] |= static_cast<uint8_t>(pair);
}

// Replaces the field at `bit` of p (`bits` wide, 1..8) with the low bits of v.
inline void write_field(uint8_t* p, uint64_t bit, unsigned bits, uint32_t v) {
  uint8_t* b = p + (bit >> 3);
  const unsigned off = static_cast<unsigned>(bit & 7);
  const uint32_t mask = (1u << bits) - 1;
  v &= mask;
  if (off + bits <= 8) {
    const unsigned shift = 8 - bits - off;
    b[0] = static_cast<uint8_t>((b[0] & ~(mask << shift)) | (v << shift));
    return;
  }
  const unsigned shift = 16 - bits - off;
  const uint32_t pair = (((uint32_t{b[0]} << 8) | b[1]) & ~(mask << shift)) | (v << shift);
  b[0] = static_cast<uint8_t>(pair >> 8);
  b[1] = static_cast<uint8_t>(pair);
}

// Reads the sample of `bits` bits (1..16; 16 as a native uint16_t) at index i.
inline uint32_t get_sample(const uint8_t* p, uint64_t i, unsigned bits) {
  switch (bits) {
    case 8:
      return p[i];
    case 16: {
      uint16_t v;
      std::memcpy(&v, p + 2 * i, 2);
      return v;
    }
    default: {
      uint64_t bit = i * bits;
      if (bits < 8) return read_field(p, bit, bits);
      uint32_t v = 0;  // 9 to 15 bits: up to three bytes
      for (unsigned k = 0; k < bits; ++k, ++bit)
        v = (v << 1) | ((p[bit >> 3] >> (7 - (bit & 7))) & 1);
      return v;
    }
  }
}

inline void put_sample(uint8_t* p, uint64_t i, unsigned bits, uint32_t v) {
  switch (bits) {
    case 8:
      p[i] = static_cast<uint8_t>(v);
      return;
    case 16: {
      uint16_t s = static_cast<uint16_t>(v);
      std::memcpy(p + 2 * i, &s, 2);
      return;
    }
    default: {
      uint64_t bit = i * bits;
      if (bits < 8) {
        write_field(p, bit, bits, v);
        return;
      }
      for (int k = static_cast<int>(bits) - 1; k >= 0; --k, ++bit) {  // 9 to 15 bits
        uint8_t m = static_cast<uint8_t>(0x80 >> (bit & 7));
        if ((v >> k) & 1)
          p[bit >> 3] |= m;
        else
          p[bit >> 3] &= static_cast<uint8_t>(~m);
      }
    }
  }
}

}  // namespace klv::img
