// SPDX-License-Identifier: MIT
// One tile row of one plane, held as packed lines: the tiles of the row side
// by side, so that a line of the image is one run of bits inside a buffer line
// (for line-interleaved tiles, one run per plane, each padded to a whole byte).
#pragma once

#include <cstdint>
#include <vector>

#include "img/filters/tile_io.h"

namespace klv::img {

class CTileBuffer {
 public:
  virtual ~CTileBuffer() = default;
  // A row of `cols` tiles starting at tile column `first_col`.
  bool Setup(const TileGrid& grid, uint32_t first_col, uint32_t cols);
  uint8_t* Line(uint32_t v) { return m_data.data() + uint64_t{v} * m_line_bytes; }
  uint64_t PixelBits() const { return uint64_t{m_grid.bits} * m_grid.unit; }

 protected:
  TileGrid m_grid;
  uint32_t m_first_col = 0, m_cols = 0;
  uint64_t m_seg_bytes = 0;  // one plane's run of a buffer line
  uint64_t m_line_bytes = 0;
  std::vector<uint8_t> m_data;
  std::vector<uint8_t> m_tile;
};

class CTileReadBuffer : public CTileBuffer {
 public:
  bool Load(CTileReader& reader, uint32_t row, uint32_t plane);
  // Copies `width` pixels from pixel `start` of buffer line v into dst (packed
  // from bit 0, the unused low bits of the last byte cleared; line-interleaved
  // rows give one such run per plane).
  void CopyLine(uint32_t v, uint8_t* dst, uint64_t start, uint64_t width);
  // Writes this plane's samples into a pixel-interleaved line of `planes` samples.
  void SpreadLine(uint32_t v, uint8_t* dst, uint64_t start, uint64_t width, uint32_t plane,
                  uint32_t planes);
};

class CTileWriteBuffer : public CTileBuffer {
 public:
  void Clear();
  void PutLine(uint32_t v, const uint8_t* src, uint64_t start, uint64_t width);
  void GatherLine(uint32_t v, const uint8_t* src, uint64_t start, uint64_t width, uint32_t plane,
                  uint32_t planes);
  bool Flush(CTileWriter& writer, uint32_t row, uint32_t plane);
};

}  // namespace klv::img
