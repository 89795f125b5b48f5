// SPDX-License-Identifier: MIT
// Quarter turns through a temporary file of tiles: one pass cuts the source
// plane into turned tiles, then each band is read back from its tiles.
//
// Tile (band j, strip i) holds output lines of band j and output columns of
// strip i, already turned. Tiles of one band are stored one after another,
// so a band is one sequential read. The file is removed from its folder as
// soon as it is open: it disappears with the filter whatever happens.
#include "img/filters/rotate_tiles.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "klv/kernel_volume.h"
#include "klv/log.h"
#include "klv/platform.h"

namespace klv::img {
namespace {

TileLimits g_limits;

uint64_t unit_bits(const TurnShape& t) {
  return uint64_t(t.shape.bits) * t.shape.per;
}

size_t tile_row_bytes(const TurnShape& t, uint32_t strip) {
  return size_t((uint64_t(strip) * unit_bits(t) + 7) / 8) * t.segments.size();
}

}  // namespace

TileLimits tile_limits() {
  return g_limits;
}

void set_tile_limits(const TileLimits& limits) {
  g_limits = limits;
}

TilePlan plan_tiles(const TurnShape& t, uint64_t budget) {
  TilePlan p;
  const uint64_t half = std::max<uint64_t>(1, budget / 2);
  const uint64_t rows = t.src_height;
  uint64_t strip = half / std::max<size_t>(1, t.src_bpl) / 8 * 8;
  strip = std::clamp<uint64_t>(strip, 8, std::max<uint64_t>(8, (rows + 7) / 8 * 8));
  p.strip = static_cast<uint32_t>(strip);
  // A tile is at most an eighth of the budget, so that the strip (or the
  // band) and one tile stay within it.
  const uint64_t row = std::max<size_t>(1, tile_row_bytes(t, p.strip));
  uint64_t band = std::min(half / std::max<size_t>(1, t.out_bpl), budget / 8 / row);
  band = std::clamp<uint64_t>(band, 1, std::max<uint32_t>(1, t.src_width));
  p.band = static_cast<uint32_t>(band);
  p.strips = static_cast<uint32_t>((rows + p.strip - 1) / p.strip);
  p.bands = static_cast<uint32_t>((uint64_t(t.src_width) + p.band - 1) / p.band);
  return p;
}

TiledTurn::TiledTurn(const TurnShape& shape, const TilePlan& plan, int32_t plane_count)
    : t_(shape), plan_(plan) {
  seg_bytes_ = size_t((uint64_t(plan_.strip) * unit_bits(t_) + 7) / 8);
  tile_row_ = seg_bytes_ * t_.segments.size();
  tile_bytes_ = tile_row_ * plan_.band;
  prepared_.assign(size_t(std::max(1, plane_count)), 0);
}

TiledTurn::~TiledTurn() {
  if (file_) Oclose(file_);
}

uint32_t TiledTurn::BandLines(uint32_t band) const {
  return std::min(plan_.band, t_.src_width - band * plan_.band);
}

uint32_t TiledTurn::StripLines(uint32_t strip) const {
  return std::min(plan_.strip, t_.src_height - strip * plan_.strip);
}

uint64_t TiledTurn::TileOffset(int32_t index, uint32_t band, uint32_t strip) const {
  return ((uint64_t(index) * plan_.bands + band) * plan_.strips + strip) * tile_bytes_;
}

bool TiledTurn::OpenFile() {
  if (file_) return true;
  const std::string name = platform::TempFileName("OVR", ".tiles");
  if (name.empty()) return false;
  file_ = Ovfopen(nullptr, name.c_str(), "w+b");
  // Unlinked at once: the open file lives on until it is closed.
  VRemove(nullptr, name.c_str());
  if (!file_) KLV_LOG(KLV_LOG_ERROR, "rotation: cannot open the tile file \"%s\"", name.c_str());
  return file_ != nullptr;
}

// Turns the strip's lines (in strip_buf_) into one tile per band and stores
// them. Line k of the strip becomes column k of the strip's tiles (counted
// from the right when the left-to-right order is not kept).
bool TiledTurn::CutStrip(uint32_t strip, uint32_t lines, int32_t index) {
  const int32_t W = static_cast<int32_t>(t_.src_width);
  for (uint32_t b = 0; b < plan_.bands; ++b) {
    const uint32_t n = BandLines(b);
    const int32_t b0 = static_cast<int32_t>(b * plan_.band);
    const int64_t first = t_.reverse_tb ? b0 : W - 1 - b0;
    const int32_t step = t_.reverse_tb ? 1 : -1;
    const size_t bytes = size_t(n) * tile_row_;
    std::memset(tile_buf_.data(), 0, bytes);
    for (uint32_t k = 0; k < lines; ++k) {
      const uint8_t* line = strip_buf_.data() + size_t(k) * t_.src_bpl;
      const uint32_t column = t_.keep_lr ? k : lines - 1 - k;
      for (size_t s = 0; s < t_.segments.size(); ++s)
        t_.scatter(t_.shape, line + t_.segments[s].src_off, first, step,
                   tile_buf_.data() + s * seg_bytes_, tile_row_, column, n);
    }
    if (Oseeki64(file_, static_cast<int64_t>(TileOffset(index, b, strip)), 0) != 0 ||
        Owrite(file_, tile_buf_.data(), bytes) != bytes) {
      KLV_LOG(KLV_LOG_ERROR, "rotation: cannot write %zu bytes to the tile file", bytes);
      return false;
    }
  }
  return true;
}

bool TiledTurn::Prepare(IMG_file* source, int32_t index, TileProgress progress, void* ctx) {
  if (!OpenFile()) return false;
  strip_buf_.resize(size_t(plan_.strip) * t_.src_bpl);
  tile_buf_.resize(tile_bytes_);
  const int64_t H = t_.src_height;
  int64_t done = 0;
  bool ok = true;
  // Source lines are read top to bottom; when the left-to-right order flips
  // the top lines make the last strip.
  for (uint32_t k = 0; ok && k < plan_.strips; ++k) {
    const uint32_t strip = t_.keep_lr ? k : plan_.strips - 1 - k;
    const uint32_t lines = StripLines(strip);
    for (uint32_t got = 0; ok && got < lines;) {
      const int32_t n = img_read_line(source, strip_buf_.data() + size_t(got) * t_.src_bpl,
                                      static_cast<int32_t>(lines - got));
      if (n <= 0) {
        KLV_LOG(KLV_LOG_ERROR, "rotation: source line %lld cannot be read",
                static_cast<long long>(done + got));
        ok = false;
      }
      got += static_cast<uint32_t>(std::max(n, 0));
    }
    ok = ok && CutStrip(strip, lines, index);
    done += lines;
    ok = ok && (!progress || progress(ctx, done, H));
  }
  std::vector<uint8_t>().swap(strip_buf_);  // the bands need the memory now
  if (ok) prepared_[size_t(index)] = 1;
  return ok;
}

bool TiledTurn::LoadBand(int32_t index, uint32_t band, uint8_t* out) {
  const uint32_t n = BandLines(band);
  const size_t bytes = size_t(n) * tile_row_;
  tile_buf_.resize(tile_bytes_);
  if (Oseeki64(file_, static_cast<int64_t>(TileOffset(index, band, 0)), 0) != 0) return false;
  for (uint32_t i = 0; i < plan_.strips; ++i) {
    if (Oread(file_, tile_buf_.data(), bytes) != bytes) {
      KLV_LOG(KLV_LOG_ERROR, "rotation: the tile file gave fewer than %zu bytes", bytes);
      return false;
    }
    if (i + 1 < plan_.strips && bytes != tile_bytes_ &&
        Oseeki64(file_, static_cast<int64_t>(TileOffset(index, band, i + 1)), 0) != 0)
      return false;
    const size_t at = size_t(uint64_t(i) * plan_.strip * unit_bits(t_) / 8);
    const size_t copy = size_t((uint64_t(StripLines(i)) * unit_bits(t_) + 7) / 8);
    for (uint32_t k = 0; k < n; ++k) {
      const uint8_t* row = tile_buf_.data() + size_t(k) * tile_row_;
      uint8_t* dst = out + size_t(k) * t_.out_bpl;
      for (size_t s = 0; s < t_.segments.size(); ++s)
        std::memcpy(dst + t_.segments[s].dst_off + at, row + s * seg_bytes_, copy);
    }
  }
  return true;
}

}  // namespace klv::img
