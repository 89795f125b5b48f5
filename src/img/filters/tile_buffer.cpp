// SPDX-License-Identifier: MIT
// Tile row buffers of the tile filter.
#include "img/filters/tile_buffer.h"

#include <algorithm>

#include "img/filter_bits.h"
#include "klv/log.h"

namespace klv::img {

bool CTileBuffer::Setup(const TileGrid& grid, uint32_t first_col, uint32_t cols) {
  m_grid = grid;
  m_first_col = first_col;
  m_cols = cols;
  uint64_t bits = PixelBits() * grid.tile_w * cols;
  m_seg_bytes = (bits + 7) / 8;
  m_line_bytes = m_seg_bytes * grid.segs;
  uint64_t total = m_line_bytes * grid.tile_h;
  if (total > (uint64_t{1} << 31)) {
    KLV_LOG(KLV_LOG_ERROR, "tile filter: a tile row of %llu bytes is too large",
            static_cast<unsigned long long>(total));
    return false;
  }
  m_data.assign(total, 0);
  m_tile.assign(grid.tile_bytes(), 0);
  return true;
}

bool CTileReadBuffer::Load(CTileReader& reader, uint32_t row, uint32_t plane) {
  const uint64_t tile_bits = PixelBits() * m_grid.tile_w, row_bytes = m_grid.row_bytes();
  const uint64_t seg = m_grid.seg_bytes();
  for (uint32_t c = 0; c < m_cols; ++c) {
    if (!reader.ReadTile(m_first_col + c, row, plane, m_tile.data())) return false;
    for (uint32_t v = 0; v < m_grid.tile_h; ++v)
      for (uint32_t g = 0; g < m_grid.segs; ++g)
        copy_bits(Line(v) + g * m_seg_bytes, c * tile_bits, m_tile.data() + v * row_bytes + g * seg,
                  0, tile_bits);
  }
  return true;
}

void CTileReadBuffer::CopyLine(uint32_t v, uint8_t* dst, uint64_t start, uint64_t width) {
  const uint64_t nbits = width * PixelBits(), out_seg = (nbits + 7) / 8;
  for (uint32_t g = 0; g < m_grid.segs; ++g) {
    uint8_t* d = dst + g * out_seg;
    copy_bits(d, 0, Line(v) + g * m_seg_bytes, start * PixelBits(), nbits);
    if (nbits & 7) d[nbits / 8] &= static_cast<uint8_t>(0xFF00 >> (nbits & 7));
  }
}

void CTileReadBuffer::SpreadLine(uint32_t v, uint8_t* dst, uint64_t start, uint64_t width,
                                 uint32_t plane, uint32_t planes) {
  const uint8_t* src = Line(v);
  const unsigned bits = m_grid.bits;
  if (bits == 8) {
    const uint8_t* s = src + start;
    uint8_t* d = dst + plane;
    for (uint64_t x = 0; x < width; ++x) d[x * planes] = s[x];
    return;
  }
  for (uint64_t x = 0; x < width; ++x)
    put_sample(dst, x * planes + plane, bits, get_sample(src, start + x, bits));
}

void CTileWriteBuffer::Clear() {
  std::fill(m_data.begin(), m_data.end(), 0);
}

void CTileWriteBuffer::PutLine(uint32_t v, const uint8_t* src, uint64_t start, uint64_t width) {
  const uint64_t nbits = width * PixelBits(), in_seg = (nbits + 7) / 8;
  for (uint32_t g = 0; g < m_grid.segs; ++g)
    copy_bits(Line(v) + g * m_seg_bytes, start * PixelBits(), src + g * in_seg, 0, nbits);
}

void CTileWriteBuffer::GatherLine(uint32_t v, const uint8_t* src, uint64_t start, uint64_t width,
                                  uint32_t plane, uint32_t planes) {
  uint8_t* dst = Line(v);
  for (uint64_t x = 0; x < width; ++x)
    put_sample(dst, start + x, m_grid.bits, get_sample(src, x * planes + plane, m_grid.bits));
}

bool CTileWriteBuffer::Flush(CTileWriter& writer, uint32_t row, uint32_t plane) {
  const uint64_t tile_bits = PixelBits() * m_grid.tile_w, row_bytes = m_grid.row_bytes();
  const uint64_t seg = m_grid.seg_bytes();
  for (uint32_t c = 0; c < m_cols; ++c) {
    std::fill(m_tile.begin(), m_tile.end(), 0);
    for (uint32_t v = 0; v < m_grid.tile_h; ++v)
      for (uint32_t g = 0; g < m_grid.segs; ++g)
        copy_bits(m_tile.data() + v * row_bytes + g * seg, 0, Line(v) + g * m_seg_bytes,
                  c * tile_bits, tile_bits);
    if (!writer.WriteTile(m_first_col + c, row, plane, m_tile.data())) return false;
  }
  return true;
}

}  // namespace klv::img
