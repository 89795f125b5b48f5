// SPDX-License-Identifier: MIT
// Header of the interpreter's separated CMYK page file.
#include "img/formats/gs_psd.h"

#include <cstring>

namespace klv::img {
namespace {

constexpr uint16_t kModeCmyk = 4;
constexpr uint32_t kMaxChannels = 64;

uint32_t be32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}
uint16_t be16(const uint8_t* p) {
  return uint16_t(p[0] << 8 | p[1]);
}

}  // namespace

bool gs_parse_psd(const uint8_t* data, size_t n, GsPsd* out, const char** why) {
  if (!data || n < 26 || std::memcmp(data, "8BPS", 4) != 0 || be16(data + 4) != 1)
    return *why = "not a version 1 layered-image file", false;
  const uint32_t channels = be16(data + 12), height = be32(data + 14), width = be32(data + 18);
  if (be16(data + 22) != 8 || be16(data + 24) != kModeCmyk) return *why = "not 8-bit CMYK", false;
  if (channels < 4 || channels > kMaxChannels || width == 0 || height == 0)
    return *why = "channel count or size out of range", false;
  uint64_t at = 26;
  for (int section = 0; section < 3; ++section) {  // colour data, resources, layers
    if (at + 4 > n) return *why = "cut short in its sections", false;
    at += 4 + uint64_t(be32(data + at));
  }
  if (at + 2 > n) return *why = "cut short before its image data", false;
  if (be16(data + at) != 0) return *why = "compressed image data", false;
  at += 2;
  const uint64_t bytes = uint64_t(width) * height * channels;
  if (bytes > n || at > n - bytes) return *why = "image data cut short", false;
  out->width = width;
  out->height = height;
  out->channels = channels;
  out->data_offset = at;
  return true;
}

}  // namespace klv::img
