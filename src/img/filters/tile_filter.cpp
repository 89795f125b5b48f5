// SPDX-License-Identifier: MIT
// CTileFilter: reads a tiled stream line by line through one tile-row buffer
// per plane, or gathers written lines into tile rows and stores them.
#include "img/filters/tile_filter.h"

#include <cmath>
#include <cstring>
#include <new>

#include "klv/log.h"
#include "klv/tilefilter.h"

using klv::img::CTileReadBuffer;
using klv::img::CTileWriteBuffer;
using klv::img::TileGrid;

CTileFilter::~CTileFilter() {
  if (m_mode == 'w' && m_src) {
    // Tiles of a row still being gathered are stored on close.
    for (uint32_t p = 0; p < m_buffers.size(); ++p)
      if (m_held_row[p] >= 0) FlushRow(p);
  }
  if (m_src) img_close(m_src);
}

int32_t CTileFilter::Close() {
  bool ok = true;
  if (m_mode == 'w' && m_src)
    for (uint32_t p = 0; p < m_buffers.size(); ++p)
      if (m_held_row[p] >= 0 && !FlushRow(p)) ok = false;
  IMG_file* source = m_src;
  m_src = nullptr;
  if (img_close_status(source) != 0) ok = false;
  return ok ? 0 : -1;
}

bool CTileFilter::AttachScanlineImg(IMG_file* source) {
  KLV_LOG(KLV_LOG_ERROR, "tile filter: a line stream cannot be attached");
  if (source) img_close(source);
  return false;
}

bool CTileFilter::AttachTiledImg(IMG_file* source, int rotation, int interleave, double start,
                                 double extent) {
  if (!source) return false;
  m_src = source;
  if (!(source->info.planar & KLV_PLANAR_TILED)) {
    KLV_LOG(KLV_LOG_ERROR, "tile filter: the stream is not tiled (layout %u)", source->info.planar);
    return false;  // the destructor closes the source
  }
  m_mode = source->mode == 'w' ? 'w' : 'r';
  m_interleave = interleave != 0;
  const image_info& si = source->info;
  m_planes = si.samples + si.mask_samples;
  TileGrid grid;
  if (m_mode == 'r') {
    if (!m_reader.Open(source, rotation)) return false;
    grid = m_reader.Grid();
  } else {
    if (!m_writer.Open(source, rotation)) return false;
    grid = m_writer.Grid();
  }
  m_tile_planes = grid.planes;
  // Horizontal crop in pixels of the presented image.
  if (!(start >= 0 && start < 1)) start = 0;
  if (!(extent > 0 && extent <= 1)) extent = 1;
  uint64_t crop_px = static_cast<uint64_t>(start * grid.width + 0.5);
  if (crop_px >= grid.width) crop_px = grid.width - 1;
  uint64_t width = static_cast<uint64_t>(extent * grid.width + 0.5);
  if (width < 1) width = 1;
  if (width > grid.width - crop_px) width = grid.width - crop_px;
  if (m_mode == 'w' && (crop_px != 0 || width != grid.width)) {
    KLV_LOG(KLV_LOG_ERROR, "tile filter: a crop is supported for reading only");
    return false;
  }
  uint64_t left = grid.x_off + crop_px;
  m_first_col = static_cast<uint32_t>(left / grid.tile_w);
  m_across = static_cast<uint32_t>((left + width - 1) / grid.tile_w - m_first_col + 1);
  m_start_px = left - uint64_t{m_first_col} * grid.tile_w;
  m_tile_h = grid.tile_h;
  m_y_off = grid.y_off;
  m_first_lines = grid.tile_h - grid.y_off;

  uint32_t nbuf = m_tile_planes;
  m_buffers.clear();
  for (uint32_t p = 0; p < nbuf; ++p) {
    std::unique_ptr<klv::img::CTileBuffer> b;
    if (m_mode == 'r')
      b = std::make_unique<CTileReadBuffer>();
    else
      b = std::make_unique<CTileWriteBuffer>();
    if (!b->Setup(grid, m_first_col, m_across)) return false;
    m_buffers.push_back(std::move(b));
  }
  m_held_row.assign(nbuf, -1);

  // The description as lines.
  m_info = si;
  m_info.cmap = nullptr;
  uint32_t layout = si.planar & ~uint32_t{KLV_PLANAR_TILED};
  if (m_interleave && layout == KLV_PLANAR_PLANES) layout = KLV_PLANAR_PIXEL;
  if (layout != KLV_PLANAR_PLANES) m_interleave = m_tile_planes > 1;
  m_info.planar = layout;
  m_info.width = static_cast<int32_t>(width);
  m_info.height = static_cast<int32_t>(grid.height);
  if (rotation & 1) std::swap(m_info.xres, m_info.yres);
  if (m_info.xres > 0) m_info.width_inches = m_info.width / m_info.xres;
  if (m_info.yres > 0) m_info.height_inches = m_info.height / m_info.yres;
  m_info.bytes_per_line = image_info_line_bytes(&m_info);
  m_plane_line.assign(m_planes, 0);
  m_line = 0;
  m_plane = 0;
  return true;
}

void CTileFilter::Locate(int32_t line, uint32_t* row, uint32_t* tile_line) const {
  uint32_t l = static_cast<uint32_t>(line);
  if (l < m_first_lines) {
    *row = 0;
    *tile_line = l + m_y_off;
  } else {
    *row = (l - m_first_lines) / m_tile_h + 1;
    *tile_line = (l - m_first_lines) % m_tile_h;
  }
}

int32_t CTileFilter::ReadLine(unsigned char* buffer, int32_t count) {
  if (m_mode != 'r' || !buffer || count < 1) return 0;
  const int32_t height = m_info.height;
  const uint32_t line_planes = m_info.planar == KLV_PLANAR_PLANES ? m_planes : 1;
  int32_t done = 0;
  for (; done < count; ++done) {
    if (m_plane >= static_cast<int32_t>(line_planes)) break;
    int32_t line = m_plane_line[m_plane];
    if (line >= height) break;
    uint32_t row, tline;
    Locate(line, &row, &tline);
    uint8_t* out = buffer + uint64_t{m_info.bytes_per_line} * done;
    if (m_interleave) {
      for (uint32_t p = 0; p < m_tile_planes; ++p) {
        auto* b = static_cast<CTileReadBuffer*>(m_buffers[p].get());
        if (m_held_row[p] != row) {
          if (!b->Load(m_reader, row, p)) return done;
          m_held_row[p] = row;
        }
      }
      if (m_info.bits_per_sample < 8) std::memset(out, 0, m_info.bytes_per_line);
      for (uint32_t p = 0; p < m_tile_planes; ++p)
        static_cast<CTileReadBuffer*>(m_buffers[p].get())
            ->SpreadLine(tline, out, m_start_px, m_info.width, p, m_tile_planes);
      for (auto& l : m_plane_line) l = line + 1;
    } else {
      uint32_t bp = m_tile_planes > 1 ? m_plane : 0;
      auto* b = static_cast<CTileReadBuffer*>(m_buffers[bp].get());
      if (m_held_row[bp] != row) {
        if (!b->Load(m_reader, row, m_tile_planes > 1 ? m_plane : 0)) return done;
        m_held_row[bp] = row;
      }
      b->CopyLine(tline, out, m_start_px, m_info.width);
      m_plane_line[m_plane] = line + 1;
    }
    m_line = line + 1;
    if (m_line >= height) {
      // Move on to the next plane that is not finished.
      while (m_plane < static_cast<int32_t>(line_planes) && m_plane_line[m_plane] >= height)
        ++m_plane;
      m_line = m_plane < static_cast<int32_t>(line_planes) ? m_plane_line[m_plane] : height;
    }
  }
  return done;
}

bool CTileFilter::FlushRow(uint32_t plane) {
  auto* b = static_cast<CTileWriteBuffer*>(m_buffers[plane].get());
  bool ok = b->Flush(m_writer, static_cast<uint32_t>(m_held_row[plane]), plane);
  b->Clear();
  m_held_row[plane] = -1;
  return ok;
}

int32_t CTileFilter::WriteLine(unsigned char* buffer, int32_t count) {
  if (m_mode != 'w' || !buffer || count < 1) return 0;
  const int32_t height = m_info.height;
  const uint32_t line_planes = m_info.planar == KLV_PLANAR_PLANES ? m_planes : 1;
  int32_t done = 0;
  for (; done < count; ++done) {
    if (m_plane >= static_cast<int32_t>(line_planes)) break;
    int32_t line = m_plane_line[m_plane];
    if (line >= height) break;
    uint32_t row, tline;
    Locate(line, &row, &tline);
    const uint8_t* in = buffer + uint64_t{m_info.bytes_per_line} * done;
    uint32_t first = m_interleave ? 0 : (m_tile_planes > 1 ? m_plane : 0);
    uint32_t last = m_interleave ? m_tile_planes : first + 1;
    for (uint32_t p = first; p < last; ++p) {
      auto* b = static_cast<CTileWriteBuffer*>(m_buffers[p].get());
      if (m_held_row[p] >= 0 && m_held_row[p] != row && !FlushRow(p)) return done;
      m_held_row[p] = row;
      if (m_interleave)
        b->GatherLine(tline, in, m_start_px, m_info.width, p, m_tile_planes);
      else
        b->PutLine(tline, in, m_start_px, m_info.width);
      if (line + 1 >= height && !FlushRow(p)) return done;
    }
    if (m_interleave)
      for (auto& l : m_plane_line) l = line + 1;
    else
      m_plane_line[m_plane] = line + 1;
    m_line = line + 1;
    if (m_line >= height) {
      while (m_plane < static_cast<int32_t>(line_planes) && m_plane_line[m_plane] >= height)
        ++m_plane;
      m_line = m_plane < static_cast<int32_t>(line_planes) ? m_plane_line[m_plane] : height;
    }
  }
  return done;
}

int32_t CTileFilter::SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence) {
  int32_t r = SetSeekLine(line, plane, page, whence);
  if (r < 0) return -1;
  if (static_cast<uint32_t>(m_plane) < m_plane_line.size()) {
    m_plane_line[m_plane] = r;
    if (m_interleave)
      for (auto& l : m_plane_line) l = r;
  }
  return r;
}

int32_t CTileFilter::GetStatus(int32_t what) {
  return img_status(m_src, what);
}
image_cmap* CTileFilter::GetCmap() {
  return img_get_cmap(m_src);
}
image_profile* CTileFilter::GetProfile() {
  return img_get_profile(m_src);
}

namespace {

IMG_file* attach(IMG_file* source, int32_t rotation, int32_t interleave, double start,
                 double extent) {
  if (!source) return nullptr;
  std::unique_ptr<CTileFilter> f;
  try {
    f = std::make_unique<CTileFilter>();
  } catch (...) {
    img_close(source);
    return nullptr;
  }
  try {
    // From here on the filter owns the source and closes it on failure.
    if (!f->AttachTiledImg(source, rotation, interleave, start, extent)) return nullptr;
  } catch (...) {
    KLV_LOG(KLV_LOG_ERROR, "tile filter: out of memory");
    return nullptr;
  }
  int32_t type = source->type;
  char mode = f->Mode();
  return f.release()->ToImg(mode, type);
}

}  // namespace

extern "C" {

KLV_API IMG_file* tilefilter_attachtiledimg(IMG_file* source, int32_t interleave) {
  return attach(source, 0, interleave, 0, 1);
}

KLV_API IMG_file* tilefilter_attachtiledimg_rot(IMG_file* source, int32_t rotation,
                                                int32_t interleave) {
  return attach(source, rotation, interleave, 0, 1);
}

KLV_API IMG_file* tilefilter_attachtiledimg_crop(IMG_file* source, int32_t rotation,
                                                 int32_t interleave, double start, double extent) {
  return attach(source, rotation, interleave, start, extent);
}
}
