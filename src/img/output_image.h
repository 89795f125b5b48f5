// SPDX-License-Identifier: MIT
// The output image's private state, and the coding of its description member.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "klv/img.h"
#include "klv/kernel_layers.h"
#include "klv/kernel_types.h"

namespace klv::img {

// One "pg%d_sep%d" member, opened on first use.
struct OutMember {
  SFilemux* stream = nullptr;
  SLZW* lzw = nullptr;
  bool missing = false;  // reading: the member does not exist; blank lines
  int64_t pos = 0;       // line the member stands at; -1 when not known
};

struct OutImage {
  SOVolume* volume = nullptr;
  image_info info{};
  image_cmap* cmap = nullptr;
  bool writing = false;
  bool write_failed = false;  // a member write failed: closing reports lost data
  uint32_t seps = 1;          // separations per page
  std::unordered_map<uint64_t, OutMember> members;
  int32_t line = 0, sep = 0, page = 0;
  std::vector<uint8_t> scratch;  // lines decoded and dropped while seeking

  OutImage() = default;
  OutImage(const OutImage&) = delete;
  OutImage& operator=(const OutImage&) = delete;
  ~OutImage() { Close(); }

  // Ends every member and closes the volume; false when written data was lost,
  // now or by a write that failed earlier.
  bool Close();
  // The member of (page, sep), opened on first use; null when it cannot be
  // opened for writing.
  OutMember* Member(int32_t page, int32_t sep);
  // Moves a member to `line`; false when it cannot go there.
  bool SeekMember(OutMember& m, int64_t line);
};

// Limits on descriptions read from a volume.
inline constexpr uint32_t kOutMaxPages = 1u << 16;
inline constexpr uint32_t kOutMaxSamples = 64;
inline constexpr uint32_t kOutMaxLineBytes = 1u << 28;
inline constexpr uint32_t kOutMaxMapEntries = 1u << 16;

// Writes the 64-byte description member for `info`.
void outimg_encode_info(const image_info& info, uint8_t out[64]);
// Reads a description member of `size` bytes into `info` (zeroed first) and
// checks it; false with a log line naming the fault.
bool outimg_decode_info(const uint8_t* data, size_t size, image_info* info);

}  // namespace klv::img
