// SPDX-License-Identifier: MIT
// CIMG_file: default operations, the IMG_file adapters and seek arithmetic.
#include "klv/cimg_file.h"

#include <cstdlib>
#include <exception>
#include <new>

#include "klv/log.h"

namespace {

CIMG_file* self(void* handle) {
  return static_cast<CIMG_file*>(handle);
}

// No exception leaves an adapter: an operation that throws is logged once and
// answers what the dispatcher answers for an empty slot (status: failed).
template <typename Result, typename Call>
Result guarded(const char* operation, Result neutral, Call&& call) noexcept {
  try {
    return call();
  } catch (const std::exception& e) {
    KLV_LOG(KLV_LOG_ERROR, "image stream object: %s failed: %s", operation, e.what());
  } catch (...) {
    KLV_LOG(KLV_LOG_ERROR, "image stream object: %s failed", operation);
  }
  return neutral;
}

int32_t adapt_close(void* handle) {
  CIMG_file* object = self(handle);
  const int32_t status = guarded("Close", int32_t{-1}, [&] { return object->Close(); });
  delete object;
  return status < 0 ? -1 : 0;
}
int32_t adapt_status(IMG_file* img, int32_t what) {
  return guarded("GetStatus", int32_t{-1}, [&] { return self(img->handle)->GetStatus(what); });
}
int32_t adapt_read_line(void* h, uint8_t* buffer, int32_t count) {
  return guarded("ReadLine", int32_t{0}, [&] { return self(h)->ReadLine(buffer, count); });
}
}  // namespace

int32_t cimg_lend_lines(IMG_file* img, const uint8_t** lines, int32_t count) {
  if (img->read_line != adapt_read_line) return 0;
  return guarded("LendLines", int32_t{0},
                 [&] { return self(img->handle)->LendLines(lines, count); });
}

namespace {
int32_t adapt_write_line(void* h, uint8_t* buffer, int32_t count) {
  return guarded("WriteLine", int32_t{0}, [&] { return self(h)->WriteLine(buffer, count); });
}
int32_t adapt_seek_line(void* h, int32_t line, int32_t plane, int32_t page, int32_t whence) {
  return guarded("SeekLine", int32_t{-1},
                 [&] { return self(h)->SeekLine(line, plane, page, whence); });
}
int32_t adapt_read_tile(void* h, uint8_t* buffer, int32_t count) {
  return guarded("ReadTile", int32_t{0}, [&] { return self(h)->ReadTile(buffer, count); });
}
int32_t adapt_write_tile(void* h, uint8_t* buffer, int32_t count) {
  return guarded("WriteTile", int32_t{0}, [&] { return self(h)->WriteTile(buffer, count); });
}
int32_t adapt_seek_tile(void* h, int32_t tile, int32_t plane, int32_t page, int32_t whence) {
  return guarded("SeekTile", int32_t{-1},
                 [&] { return self(h)->SeekTile(tile, plane, page, whence); });
}
image_cmap* adapt_get_cmap(void* h) {
  return guarded("GetCmap", static_cast<image_cmap*>(nullptr), [&] { return self(h)->GetCmap(); });
}
image_profile* adapt_get_profile(void* h) {
  return guarded("GetProfile", static_cast<image_profile*>(nullptr),
                 [&] { return self(h)->GetProfile(); });
}

// Shared position arithmetic of SetSeekLine and SetSeekTile. `per_plane` is
// the lines (or tiles) of one plane. Returns the new position within the
// plane, or -1; stores the new plane through `plane_out`.
int32_t seek_arith(int64_t pos_in, int32_t plane, int32_t whence, int64_t per_plane, int64_t planes,
                   int32_t cur_pos, int32_t cur_plane, int32_t* plane_out) {
  int64_t pos = pos_in + per_plane * plane;
  if (whence == 1)
    pos += int64_t{cur_plane} * per_plane + cur_pos;
  else if (whence == 2)
    pos += per_plane * planes - 1;
  if (pos < 0 || per_plane <= 0) return -1;
  int64_t new_plane = pos / per_plane;
  int64_t new_pos = pos % per_plane;
  if (new_plane > planes) return -1;
  *plane_out = static_cast<int32_t>(new_plane);
  return static_cast<int32_t>(new_pos);
}

}  // namespace

CIMG_file::CIMG_file() {
  init_image_info(&m_info);
}

CIMG_file::CIMG_file(const CIMG_file& other)
    : m_info(other.m_info), m_line(other.m_line), m_plane(other.m_plane), m_tile(other.m_tile) {}

CIMG_file& CIMG_file::operator=(const CIMG_file& other) {
  m_info = other.m_info;
  m_line = other.m_line;
  m_plane = other.m_plane;
  m_tile = other.m_tile;
  return *this;
}

CIMG_file::~CIMG_file() = default;

IMG_file* CIMG_file::ToImg(char mode, int type) {
  auto* img = static_cast<IMG_file*>(std::calloc(1, sizeof(IMG_file)));
  if (!img) {
    delete this;
    return nullptr;
  }
  img->handle = this;
  img->type = type;
  img->mode = mode;
  img->info = m_info;
  img->close = adapt_close;
  img->status = adapt_status;
  img->read_line = adapt_read_line;
  img->write_line = adapt_write_line;
  img->seek_line = adapt_seek_line;
  img->read_tile = adapt_read_tile;
  img->write_tile = adapt_write_tile;
  img->seek_tile = adapt_seek_tile;
  img->get_cmap = adapt_get_cmap;
  img->get_profile = adapt_get_profile;
  return img;
}

int32_t CIMG_file::ReadLine(unsigned char*, int32_t) {
  return 0;
}
int32_t CIMG_file::LendLines(const uint8_t**, int32_t) {
  return 0;
}
int32_t CIMG_file::WriteLine(unsigned char*, int32_t) {
  return 0;
}
int32_t CIMG_file::SeekLine(int32_t, int32_t, int32_t, int32_t) {
  return -1;
}
int32_t CIMG_file::ReadTile(unsigned char*, int32_t) {
  return 0;
}
int32_t CIMG_file::WriteTile(unsigned char*, int32_t) {
  return 0;
}
int32_t CIMG_file::SeekTile(int32_t, int32_t, int32_t, int32_t) {
  return -1;
}
int32_t CIMG_file::GetStatus(int32_t) {
  return 1;
}
image_cmap* CIMG_file::GetCmap() {
  return nullptr;
}
image_profile* CIMG_file::GetProfile() {
  return nullptr;
}
int32_t CIMG_file::Close() {
  return 0;
}

int32_t CIMG_file::SetSeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence) {
  if (page != 0 && m_info.pages < 2) return -1;
  int64_t planes = (m_info.planar == KLV_PLANAR_PIXEL || m_info.planar == KLV_PLANAR_LINES)
                       ? 1
                       : int64_t{m_info.samples} + m_info.mask_samples;
  int32_t new_plane = 0;
  int32_t pos = seek_arith(line, plane, whence, static_cast<uint32_t>(m_info.height), planes,
                           m_line, m_plane, &new_plane);
  if (pos < 0) return -1;
  m_plane = new_plane;
  m_line = pos;
  return pos;
}

int32_t CIMG_file::SetSeekTile(int32_t tile, int32_t plane, int32_t page, int32_t whence) {
  if (!(m_info.planar & KLV_PLANAR_TILED)) return -1;
  if (page != 0 && m_info.pages < 2) return -1;
  int64_t planes = (m_info.planar == (KLV_PLANAR_TILED | KLV_PLANAR_PIXEL) ||
                    m_info.planar == (KLV_PLANAR_TILED | KLV_PLANAR_LINES))
                       ? 1
                       : int64_t{m_info.samples} + m_info.mask_samples;
  int32_t new_plane = 0;
  int32_t pos = seek_arith(tile, plane, whence, m_info.tile_words[KLV_TILE_PER_PLANE], planes,
                           m_tile, m_plane, &new_plane);
  if (pos < 0) return -1;
  m_plane = new_plane;
  m_tile = pos;
  return pos;
}
