// SPDX-License-Identifier: MIT
// Helpers shared by the calibration table files: little-endian moves over a
// kernel stream, owners for kernel handles, and the output precision rule.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "klv/calib.h"
#include "klv/kernel_settings.h"
#include "klv/kernel_stream.h"
#include "klv/kernel_volume.h"

namespace klv::calib {

// Byte layout of a chunk header: tag, length of the rest, channel count.
constexpr size_t kTagBytes = 4;
constexpr size_t kLengthBytes = 4;
constexpr size_t kHeaderBytes = kTagBytes + kLengthBytes;  // the count byte follows
constexpr size_t kTableBytes = KLV_CALB_ENTRIES * sizeof(uint16_t);
constexpr size_t kHmtbBytes = size_t{KLV_HMTB_ENTRIES} * sizeof(uint16_t);
constexpr size_t kDntbBytes = 4 * KLV_CALB_ENTRIES;
constexpr size_t kPointBytes = 2 * sizeof(double);
static_assert(kTableBytes == 512, "a channel table is 256 16-bit entries");
static_assert(kHmtbBytes == 393216, "an HMTB channel is 256 x 256 x 3 16-bit entries");
static_assert(kDntbBytes == 1024, "a DNTB chunk is four channels of 256 bytes");
static_assert(sizeof(GBPOINT) == kPointBytes && offsetof(GBPOINT, y) == 8, "a point is x, y");

struct StreamCloser {
  void operator()(SFilemux* s) const { Oclose(s); }
};
using StreamPtr = std::unique_ptr<SFilemux, StreamCloser>;
struct ParserCloser {
  void operator()(SFPARSE* fp) const { fp_close(fp); }
};
using ParserPtr = std::unique_ptr<SFPARSE, ParserCloser>;

inline uint16_t get16(const uint8_t* p) {
  return uint16_t(p[0] | (p[1] << 8));
}
inline uint32_t get32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void put16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline double get_double(const uint8_t* p) {
  uint64_t bits = uint64_t(get32(p)) | (uint64_t(get32(p + 4)) << 32);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}
inline void put_double(uint8_t* p, double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  put32(p, uint32_t(bits));
  put32(p + 4, uint32_t(bits >> 32));
}

inline bool read_exact(SFilemux* s, void* buf, size_t n) {
  return Oread(s, buf, n) == n;
}
inline bool write_exact(SFilemux* s, const void* buf, size_t n) {
  return Owrite(s, buf, n) == n;
}

// Reduces a 16-bit entry to `bits` of precision (1..16).
inline uint16_t to_bits(uint32_t v16, int32_t bits) {
  return bits >= 16 ? uint16_t(v16) : uint16_t(v16 >> (16 - bits));
}

// Opens a binary calibration file of a volume (or of the host); null with a
// log line when it is missing or cannot be opened.
SFilemux* open_table_file(SOVolume* volume, const char* path, const char* who);

// Copies text into a buffer of `size` bytes, never splitting a multi-byte
// character.
void copy_text(char* out, size_t size, std::string_view text);

}  // namespace klv::calib
