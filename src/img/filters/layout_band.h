// SPDX-License-Identifier: MIT
// The shared engine of the channel layout filters: a band of source lines
// re-laid into one target layout (pixel-interleaved, line-interleaved or
// planes), loaded on demand, and the line-interleaved writer.
#pragma once

#include <cstdint>
#include <vector>

#include "img/filters/bitfield.h"
#include "klv/img.h"

namespace klv::img {

enum class LayoutTarget { kPixel, kLines, kPlanes };

class LayoutBand {
 public:
  explicit LayoutBand(LayoutTarget target) : target_(target) {}
  ~LayoutBand();
  LayoutBand(const LayoutBand&) = delete;
  LayoutBand& operator=(const LayoutBand&) = delete;

  // Takes the source (owned from here on, also when false is returned) and
  // works out the band; false (logged) when its shape cannot be handled or
  // memory is short.
  bool Attach(IMG_file* source);
  // Lines the band holds: about 8 KB worth, at least 5, at most the height.
  static uint32_t BandLines(uint64_t line_bytes, int32_t height);

  // Closes the source; its close status (-1: written data was lost).
  int32_t Close();
  int32_t Read(uint8_t* buffer, int32_t count);
  int32_t Write(uint8_t* buffer, int32_t count);
  int32_t Seek(int32_t line, int32_t plane, int32_t page, int32_t whence);
  int32_t SeekPlanes(int32_t line, int32_t plane, int32_t page, int32_t whence);

  // The delivered description (for a written filter: what callers write).
  const image_info& Out() const { return out_; }
  IMG_file* Source() const { return src_; }
  bool Writing() const { return writing_; }
  uint32_t Lines() const { return n_; }

 private:
  int32_t ReadRows(uint8_t* buffer, int32_t count);
  int32_t ReadPlaneRows(uint8_t* buffer, int32_t count);
  bool Load(int32_t first);
  bool LoadPixel(uint32_t n);
  bool LoadLines(uint32_t n, uint8_t* dst);
  bool LoadPlane(uint32_t plane, uint32_t n, uint8_t* dst);
  bool ReadSource(uint8_t* dst, int32_t first, uint32_t n);
  uint32_t SourceLayout() const { return in_.planar & 7; }

  LayoutTarget target_;
  IMG_file* src_ = nullptr;
  image_info in_{}, out_{};
  bool writing_ = false;
  uint32_t planes_ = 1, bits_ = 8;
  uint32_t width_ = 0;
  int32_t height_ = 0;
  size_t row_ = 0;      // one plane's row
  size_t pxv_ = 0;      // one pixel-interleaved line
  size_t lnv_ = 0;      // one line-interleaved line (planes x row)
  size_t band_ln_ = 0;  // one band line
  uint32_t n_ = 1;      // band lines
  RelayFn split_ = nullptr, join_ = nullptr;
  bool fills_ = false;  // the movers write every byte: no clearing first
  std::vector<uint8_t> band_, conv_, line_;
  int32_t first_ = -1;            // band's first line; -1: nothing loaded
  uint32_t valid_ = 0;            // lines of the band read from the source
  std::vector<uint32_t> loaded_;  // per plane: band lines loaded (target kPlanes)
  int32_t next_src_ = -1;         // line the source delivers next (-1 unknown)
  int32_t cur_ = 0, plane_ = 0;
};

}  // namespace klv::img
