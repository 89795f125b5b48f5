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
      unsigned shift = 8 - bits - (bit & 7);  // samples never straddle bytes for 1,2,4
      if (8 % bits == 0) return (p[bit >> 3] >> shift) & ((1u << bits) - 1);
      uint32_t v = 0;
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
      for (int k = static_cast<int>(bits) - 1; k >= 0; --k, ++bit) {
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
