// SPDX-License-Identifier: MIT
// Quarter turns of planes too large for one band in memory: the plane is read
// once, in strips of source lines, and each strip is turned into tiles (one
// per band of output lines) that go to a temporary file in band order. A band
// is then put together from its tiles with one sequential read. The work is
// two passes over the pixels whatever the size, and the memory is the strip
// or the band, never the image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "img/filters/rotate_kernels.h"
#include "klv/img.h"
#include "klv/kernel_stream.h"

namespace klv::img {

// Where one plane row sits in a source line and in an output line.
struct RowSegment {
  size_t src_off, dst_off;
};

// What the turned plane looks like; fixed at attach.
struct TurnShape {
  RowShape shape;
  ScatterFn scatter = nullptr;
  std::vector<RowSegment> segments;
  uint32_t src_width = 0;   // units per source row: the output height
  uint32_t src_height = 0;  // source lines per plane: the output width
  size_t src_bpl = 0, out_bpl = 0;
  bool keep_lr = true, reverse_tb = false;
};

// Strip and band sizes for a byte budget: strips of source lines a multiple
// of 8 (so that every tile starts on a byte in the output line), bands of
// output lines, each about half the budget.
struct TilePlan {
  uint32_t strip = 8, band = 1;
  uint32_t strips = 1, bands = 1;
};
TilePlan plan_tiles(const TurnShape& t, uint64_t budget);

// Planes at least this large whose turn needs more than `max_passes` bands
// go through tiles; smaller ones are read again for each band, which costs
// less than a file. Tests lower the limits to reach the tiled path with
// small images; {0, 0} makes every multi-band turn tiled.
struct TileLimits {
  uint64_t min_plane_bytes = uint64_t(4) << 20;
  int32_t max_passes = 2;
};
TileLimits tile_limits();
void set_tile_limits(const TileLimits& limits);

// Told the source lines done out of the plane's after each strip; false aborts.
using TileProgress = bool (*)(void* ctx, int64_t done, int64_t total);

class TiledTurn {
 public:
  TiledTurn(const TurnShape& shape, const TilePlan& plan, int32_t plane_count);
  ~TiledTurn();
  TiledTurn(const TiledTurn&) = delete;
  TiledTurn& operator=(const TiledTurn&) = delete;

  // True once plane `index` (page × planes + plane) has been cut into tiles.
  bool Prepared(int32_t index) const { return prepared_[size_t(index)]; }
  // Reads the source plane (already positioned at its line 0) in strips and
  // stores its tiles. False on a read, write or progress failure (logged).
  bool Prepare(IMG_file* source, int32_t index, TileProgress progress, void* ctx);
  // Puts together band `band` of plane `index` into `out` (band lines of
  // out_bpl bytes; the last band may be shorter).
  bool LoadBand(int32_t index, uint32_t band, uint8_t* out);

 private:
  bool OpenFile();
  bool CutStrip(uint32_t strip, uint32_t lines, int32_t index);
  uint64_t TileOffset(int32_t index, uint32_t band, uint32_t strip) const;
  uint32_t BandLines(uint32_t band) const;
  uint32_t StripLines(uint32_t strip) const;

  TurnShape t_;
  TilePlan plan_;
  size_t seg_bytes_ = 0;  // one segment's part of a tile row
  size_t tile_row_ = 0;   // one tile row: every segment's part
  size_t tile_bytes_ = 0;
  std::vector<uint8_t> prepared_;
  std::vector<uint8_t> strip_buf_, tile_buf_;
  SFilemux* file_ = nullptr;
};

}  // namespace klv::img
