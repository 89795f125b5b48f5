// SPDX-License-Identifier: MIT
// Big-endian moves on kernel streams for the ICC classes: single numbers and
// whole arrays (read in one block and swapped, so large lookup tables do not
// cost a call per entry).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "klv/kernel_stream.h"

namespace klv::icc {

inline bool get8(SFilemux* s, uint8_t& v) {
  return Oread(s, &v, 1) == 1;
}
inline bool get16(SFilemux* s, uint16_t& v) {
  return OreadShortSwab(s, &v) == 1;
}
inline bool get32(SFilemux* s, uint32_t& v) {
  return OreadLongSwab(s, &v) == 1;
}
inline bool get32(SFilemux* s, int32_t& v) {
  uint32_t u = 0;
  if (!get32(s, u)) return false;
  v = static_cast<int32_t>(u);
  return true;
}
inline bool put8(SFilemux* s, uint8_t v) {
  return Owrite(s, &v, 1) == 1;
}
inline bool put16(SFilemux* s, uint16_t v) {
  return OwriteShortSwab(s, v) == 1;
}
inline bool put32(SFilemux* s, uint32_t v) {
  return OwriteLongSwab(s, v) == 1;
}
inline bool put32(SFilemux* s, int32_t v) {
  return put32(s, static_cast<uint32_t>(v));
}
inline bool put_bytes(SFilemux* s, const void* data, size_t n) {
  return n == 0 || Owrite(s, data, n) == n;
}
inline bool get_bytes(SFilemux* s, void* data, size_t n) {
  return n == 0 || Oread(s, data, n) == n;
}

// Reads `count` big-endian 16-bit numbers into `out` (resized).
bool get16_array(SFilemux* s, std::vector<uint16_t>& out, size_t count);
bool put16_array(SFilemux* s, const uint16_t* values, size_t count);

// The type signature and the reserved word that begin every tag body.
inline bool put_type(SFilemux* s, uint32_t type) {
  return put32(s, type) && put32(s, 0u);
}

}  // namespace klv::icc
