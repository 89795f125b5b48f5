// SPDX-License-Identifier: MIT
// Tile reader, rotator and writer of the tile filter.
#include "img/filters/tile_io.h"

#include <algorithm>
#include <cstring>

#include "img/filter_bits.h"
#include "klv/log.h"

namespace klv::img {

namespace {
constexpr uint64_t kMaxTileBytes = uint64_t{1} << 30;
}

bool tile_grid_from_info(const image_info& info, TileGrid* g) {
  uint32_t layout = info.planar & ~uint32_t{KLV_PLANAR_TILED};
  g->tile_w = info.tile_words[KLV_TILE_WIDTH];
  g->tile_h = info.tile_words[KLV_TILE_HEIGHT];
  g->x_off = info.tile_words[KLV_TILE_XOFFSET];
  g->y_off = info.tile_words[KLV_TILE_YOFFSET];
  g->width = static_cast<uint32_t>(info.width);
  g->height = static_cast<uint32_t>(info.height);
  g->bits = info.bits_per_sample;
  uint32_t total = info.samples + info.mask_samples;
  g->unit = layout == KLV_PLANAR_PIXEL ? total : 1;
  g->planes = layout == KLV_PLANAR_PLANES ? total : 1;
  g->segs = layout == KLV_PLANAR_LINES ? total : 1;
  if (layout > KLV_PLANAR_LINES) {
    KLV_LOG(KLV_LOG_ERROR, "tile filter: unknown tile layout %u", info.planar);
    return false;
  }
  if (g->tile_w == 0 || g->tile_h == 0 || g->width == 0 || g->height == 0 || total == 0 ||
      (g->bits != 16 && (g->bits == 0 || g->bits > 8)) || g->x_off >= g->tile_w ||
      g->y_off >= g->tile_h) {
    KLV_LOG(KLV_LOG_ERROR, "tile filter: bad tile grid (tile %ux%u, offset %u,%u, image %ux%u)",
            g->tile_w, g->tile_h, g->x_off, g->y_off, g->width, g->height);
    return false;
  }
  uint64_t across = (uint64_t{g->x_off} + g->width + g->tile_w - 1) / g->tile_w;
  uint64_t down = (uint64_t{g->y_off} + g->height + g->tile_h - 1) / g->tile_h;
  // Tiles are numbered by the stream's own row length when it states one.
  uint64_t stride = info.tile_words[KLV_TILE_ACROSS];
  if (stride < across) stride = across;
  g->stride = static_cast<uint32_t>(stride);
  g->across = static_cast<uint32_t>(across);
  g->down = static_cast<uint32_t>(down);
  if (g->tile_bytes() > kMaxTileBytes) {
    KLV_LOG(KLV_LOG_ERROR, "tile filter: tile of %llu bytes is too large",
            static_cast<unsigned long long>(g->tile_bytes()));
    return false;
  }
  return true;
}

CTileRotator::CTileRotator(const TileGrid& source, int rotation)
    : m_in(source), m_out(source), m_turns(rotation & 3), m_mirror((rotation >> 2) & 1) {
  bool odd = m_turns & 1;
  if (odd) {
    std::swap(m_out.tile_w, m_out.tile_h);
    std::swap(m_out.across, m_out.down);
    std::swap(m_out.width, m_out.height);
  }
  // The image's presented offset: the smallest corner of its turned box. The
  // grid is the smallest that holds the image, so the offset stays inside the
  // first tile.
  uint64_t gw = uint64_t{m_out.across} * m_out.tile_w;
  uint64_t best_x = UINT64_MAX, best_y = UINT64_MAX;
  // Direct forward mapping of the source box's corners.
  uint64_t sx0 = m_in.x_off, sy0 = m_in.y_off;
  uint64_t sx1 = sx0 + m_in.width - 1, sy1 = sy0 + m_in.height - 1;
  uint64_t sgw = uint64_t{m_in.across} * m_in.tile_w, sgh = uint64_t{m_in.down} * m_in.tile_h;
  for (uint64_t sx : {sx0, sx1})
    for (uint64_t sy : {sy0, sy1}) {
      uint64_t x = sx, y = sy;
      switch (m_turns) {
        case 1:
          x = sgh - 1 - sy;
          y = sx;
          break;
        case 2:
          x = sgw - 1 - sx;
          y = sgh - 1 - sy;
          break;
        case 3:
          x = sy;
          y = sgw - 1 - sx;
          break;
        default:
          break;
      }
      if (m_mirror) x = gw - 1 - x;
      best_x = std::min(best_x, x);
      best_y = std::min(best_y, y);
    }
  m_out.x_off = static_cast<uint32_t>(best_x);
  m_out.y_off = static_cast<uint32_t>(best_y);
}

void CTileRotator::Inverse(uint64_t x, uint64_t y, uint64_t* sx, uint64_t* sy) const {
  uint64_t gw = uint64_t{m_out.across} * m_out.tile_w;
  uint64_t sgw = uint64_t{m_in.across} * m_in.tile_w, sgh = uint64_t{m_in.down} * m_in.tile_h;
  if (m_mirror) x = gw - 1 - x;
  switch (m_turns) {
    case 1:
      *sx = y;
      *sy = sgh - 1 - x;
      break;
    case 2:
      *sx = sgw - 1 - x;
      *sy = sgh - 1 - y;
      break;
    case 3:
      *sx = sgw - 1 - y;
      *sy = x;
      break;
    default:
      *sx = x;
      *sy = y;
  }
}

void CTileRotator::SourceTile(uint32_t col, uint32_t row, uint32_t* scol, uint32_t* srow) const {
  uint64_t sx, sy;
  Inverse(uint64_t{col} * m_out.tile_w, uint64_t{row} * m_out.tile_h, &sx, &sy);
  *scol = static_cast<uint32_t>(sx / m_in.tile_w);
  *srow = static_cast<uint32_t>(sy / m_in.tile_h);
}

void CTileRotator::Turn(const uint8_t* src, uint8_t* dst, uint32_t col, uint32_t row,
                        bool back) const {
  const uint64_t in_seg = m_in.seg_bytes(), out_seg = m_out.seg_bytes();
  const uint64_t in_row = m_in.row_bytes(), out_row = m_out.row_bytes();
  const unsigned bits = m_in.bits, unit = m_in.unit;
  for (uint32_t v = 0; v < m_out.tile_h; ++v) {
    for (uint32_t u = 0; u < m_out.tile_w; ++u) {
      uint64_t sx, sy;
      Inverse(uint64_t{col} * m_out.tile_w + u, uint64_t{row} * m_out.tile_h + v, &sx, &sy);
      const uint64_t spix = sx % m_in.tile_w;
      for (uint32_t g = 0; g < m_in.segs; ++g) {
        // Presented pixel u of row v <-> source pixel spix of row sy.
        const uint64_t pres = v * out_row + g * out_seg;
        const uint64_t orig = (sy % m_in.tile_h) * in_row + g * in_seg;
        uint8_t* to = dst + (back ? orig : pres);
        const uint8_t* from = src + (back ? pres : orig);
        const uint64_t to_px = back ? spix : u, from_px = back ? u : spix;
        if (bits % 8 == 0) {
          const uint64_t n = uint64_t{unit} * bits / 8;
          std::memcpy(to + to_px * n, from + from_px * n, n);
        } else {
          for (unsigned s = 0; s < unit; ++s)
            put_sample(to, to_px * unit + s, bits, get_sample(from, from_px * unit + s, bits));
        }
      }
    }
  }
}

bool CTileReader::Open(IMG_file* source, int rotation) {
  m_src = source;
  if (!tile_grid_from_info(source->info, &m_grid)) return false;
  m_rot = (rotation & 7) != 0;
  if (m_rot) {
    m_rotator_store.emplace_back(m_grid, rotation & 7);
    m_rotator = &m_rotator_store.back();
    m_tmp.resize(m_grid.tile_bytes());
  }
  return true;
}

bool CTileReader::ReadTile(uint32_t col, uint32_t row, uint32_t plane, uint8_t* out) {
  uint32_t scol = col, srow = row;
  if (m_rot) m_rotator->SourceTile(col, row, &scol, &srow);
  if (scol >= m_grid.across || srow >= m_grid.down) return false;
  int32_t index = static_cast<int32_t>(uint64_t{srow} * m_grid.stride + scol);
  uint8_t* dst = m_rot ? m_tmp.data() : out;
  if (img_seek_tile(m_src, index, static_cast<int32_t>(plane), 0, 0) < 0 ||
      img_read_tile(m_src, dst, 1) != 1) {
    KLV_LOG(KLV_LOG_ERROR, "tile filter: cannot read tile %d of plane %u", index, plane);
    return false;
  }
  if (m_rot) m_rotator->Turn(m_tmp.data(), out, col, row);
  return true;
}

bool CTileWriter::Open(IMG_file* destination, int rotation) {
  m_dst = destination;
  if (!tile_grid_from_info(destination->info, &m_grid)) return false;
  m_rot = (rotation & 7) != 0;
  if (m_rot) {
    m_rotator_store.emplace_back(m_grid, rotation & 7);
    m_rotator = &m_rotator_store.back();
    m_tmp.resize(m_grid.tile_bytes());
  }
  return true;
}

bool CTileWriter::WriteTile(uint32_t col, uint32_t row, uint32_t plane, uint8_t* tile) {
  uint32_t scol = col, srow = row;
  if (m_rot) {
    m_rotator->SourceTile(col, row, &scol, &srow);
    if (scol >= m_grid.across || srow >= m_grid.down) return false;
    std::fill(m_tmp.begin(), m_tmp.end(), 0);
    m_rotator->Turn(tile, m_tmp.data(), col, row, true);
    tile = m_tmp.data();
  }
  int32_t index = static_cast<int32_t>(uint64_t{srow} * m_grid.stride + scol);
  // Sequential writers may refuse seeks; the tiles arrive in their order then.
  // Turned tiles arrive out of order, so they need the seek.
  if (img_seek_tile(m_dst, index, static_cast<int32_t>(plane), 0, 0) < 0 && m_rot) {
    KLV_LOG(KLV_LOG_ERROR, "tile filter: cannot seek to tile %d of plane %u for a turned write",
            index, plane);
    return false;
  }
  if (img_write_tile(m_dst, tile, 1) != 1) {
    KLV_LOG(KLV_LOG_ERROR, "tile filter: cannot write tile %d of plane %u", index, plane);
    return false;
  }
  return true;
}

}  // namespace klv::img
