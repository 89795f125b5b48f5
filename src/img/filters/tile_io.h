// SPDX-License-Identifier: MIT
// Tile access for the tile filter: CTileReader fetches whole tiles of a tiled
// stream by index (turned by CTileRotator when a rotation is asked for),
// CTileWriter stores whole tiles. Both describe the tile grid as the filter
// sees it: tile size, tiles across and down, and the image's offset inside its
// first tile.
#pragma once

#include <cstdint>
#include <vector>

#include "klv/img.h"

namespace klv::img {

struct TileGrid {
  uint32_t tile_w = 0, tile_h = 0;
  uint32_t x_off = 0, y_off = 0;   // image offset inside the first tile
  uint32_t across = 0, down = 0;   // smallest grid that holds the image
  uint32_t stride = 0;             // tiles per row in the stream's numbering
  uint32_t width = 0, height = 0;  // image size
  uint32_t bits = 0;
  uint32_t unit = 0;    // samples per pixel in one run (all for interleaved, else 1)
  uint32_t planes = 1;  // tile planes (planar sources), else 1
  uint32_t segs = 1;    // runs in one tile row: every plane's for line-interleaved, else 1

  // One run of a tile row (padded to a whole byte) and a whole tile row.
  uint64_t seg_bytes() const { return (uint64_t{bits} * unit * tile_w + 7) / 8; }
  uint64_t row_bytes() const { return seg_bytes() * segs; }
  uint64_t tile_bytes() const { return row_bytes() * tile_h; }
};

// Reads the grid from a tiled description; false (with a log line) when the
// tile words are unusable.
bool tile_grid_from_info(const image_info& info, TileGrid* grid);

// Turns tiles by quarter turns clockwise (bits 0-1) with an optional mirror
// (bit 2, left-right after turning).
class CTileRotator {
 public:
  CTileRotator(const TileGrid& source, int rotation);
  const TileGrid& Grid() const { return m_out; }
  // Source tile (column, row) that holds presented tile (col, row).
  void SourceTile(uint32_t col, uint32_t row, uint32_t* scol, uint32_t* srow) const;
  // Turns one source tile into the presented tile at (col, row), or with `back`
  // the presented tile at (col, row) into its source tile.
  void Turn(const uint8_t* src, uint8_t* dst, uint32_t col, uint32_t row, bool back = false) const;

 private:
  // Presented grid position to source grid position.
  void Inverse(uint64_t x, uint64_t y, uint64_t* sx, uint64_t* sy) const;
  TileGrid m_in, m_out;
  int m_turns, m_mirror;
};

class CTileReader {
 public:
  // Takes no ownership of `source`.
  bool Open(IMG_file* source, int rotation);
  const TileGrid& Grid() const { return m_rot ? m_rotator->Grid() : m_grid; }
  // Fills `out` (Grid().tile_bytes()) with presented tile (col, row) of a plane.
  bool ReadTile(uint32_t col, uint32_t row, uint32_t plane, uint8_t* out);

 private:
  IMG_file* m_src = nullptr;
  TileGrid m_grid;
  bool m_rot = false;
  std::vector<CTileRotator> m_rotator_store;
  CTileRotator* m_rotator = nullptr;
  std::vector<uint8_t> m_tmp;
};

class CTileWriter {
 public:
  // Takes no ownership of `destination`. With a rotation the caller's tiles are
  // the turned image's; they are turned back before they are stored, which
  // needs a destination that can seek to any tile.
  bool Open(IMG_file* destination, int rotation = 0);
  const TileGrid& Grid() const { return m_rot ? m_rotator->Grid() : m_grid; }
  // Stores presented tile (col, row) of a plane (Grid().tile_bytes()).
  bool WriteTile(uint32_t col, uint32_t row, uint32_t plane, uint8_t* tile);

 private:
  IMG_file* m_dst = nullptr;
  TileGrid m_grid;
  bool m_rot = false;
  std::vector<CTileRotator> m_rotator_store;
  CTileRotator* m_rotator = nullptr;
  std::vector<uint8_t> m_tmp;
};

}  // namespace klv::img
