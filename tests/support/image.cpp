// SPDX-License-Identifier: MIT
#include "support/image.h"

#include <algorithm>
#include <cstring>

namespace klv::test {

image_info describe(int32_t w, int32_t h, uint32_t samples, uint32_t bits, int32_t photo,
                    uint32_t planar) {
  image_info i;
  init_image_info(&i);
  i.width = w;
  i.height = h;
  i.samples = samples;
  i.bits_per_sample = bits;
  i.photometric = photo;
  i.planar = planar;
  i.pages = 1;
  i.xres = i.yres = 100;
  i.bytes_per_line = image_info_line_bytes(&i);
  return i;
}

image_info describe_masked(int32_t w, int32_t h, uint32_t samples, uint32_t bits, int32_t photo,
                           uint32_t masks) {
  image_info i = describe(w, h, samples, bits, photo);
  i.mask_samples = masks;
  i.bytes_per_line = image_info_line_bytes(&i);
  return i;
}

image_info make_info(int32_t w, int32_t h, uint32_t bits, uint32_t samples, uint32_t planar,
                     uint32_t pages) {
  image_info i = describe(w, h, samples, bits, KLV_PHOTO_MINBLACK, planar);
  i.pages = pages;
  i.yres = 200;
  return i;
}

uint32_t planes_of(const image_info& i) {
  return (i.planar & 7) == KLV_PLANAR_PLANES ? i.samples + i.mask_samples : 1;
}

uint32_t get_sample(const image_info& i, const uint8_t* line, uint32_t x, uint32_t k) {
  const uint32_t all = i.samples + i.mask_samples, bits = i.bits_per_sample;
  uint64_t index = x;
  const uint8_t* row = line;
  if ((i.planar & 7) == KLV_PLANAR_PIXEL) index = uint64_t(x) * all + k;
  if ((i.planar & 7) == KLV_PLANAR_LINES) row = line + k * ((bits * uint32_t(i.width) + 7) / 8);
  if (bits == 16) {
    uint16_t v;
    std::memcpy(&v, row + index * 2, 2);
    return v;
  }
  const uint64_t pos = index * bits;
  uint32_t v = 0;
  for (uint32_t b = 0; b < bits; ++b) {
    const uint64_t p = pos + b;
    v = (v << 1) | ((row[p >> 3] >> (7 - (p & 7))) & 1);
  }
  return v;
}

std::vector<uint8_t> pattern_bytes(size_t size, uint32_t seed) {
  std::vector<uint8_t> out(size);
  uint32_t x = seed * 2654435761u + 12345u;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1664525u + 1013904223u;
    out[i] = static_cast<uint8_t>(x >> 24);
  }
  return out;
}

namespace {

size_t image_bytes(const image_info& info) {
  return size_t(planes_of(info)) * size_t(std::max(0, info.height)) * std::max(1u, info.pages) *
         info.bytes_per_line;
}

}  // namespace

MemImage::MemImage(const image_info& info) : MemImage(info, pattern_bytes(image_bytes(info))) {}

MemImage::MemImage(const image_info& info, std::vector<uint8_t> data) : data_(std::move(data)) {
  m_info = info;
  if (data_.size() < image_bytes(info)) data_.resize(image_bytes(info), 0);
}

const uint8_t* MemImage::Line(uint32_t page, uint32_t plane, uint32_t line) const {
  const size_t index = (size_t(page) * planes_of(m_info) + plane) * m_info.height + line;
  return data_.data() + index * m_info.bytes_per_line;
}

int32_t MemImage::ReadLine(unsigned char* buffer, int32_t count) {
  const int32_t planes = int32_t(planes_of(m_info));
  int32_t done = 0;
  for (; done < count && m_plane < planes && m_line < m_info.height; ++done, ++m_line) {
    std::memcpy(buffer + size_t(done) * m_info.bytes_per_line,
                Line(uint32_t(page_), uint32_t(m_plane), uint32_t(m_line)), m_info.bytes_per_line);
    ++*reads_;
  }
  return done;
}

int32_t MemImage::SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence) {
  ++*seeks_;
  if (page < 0 || page >= int32_t(std::max(1u, m_info.pages))) return -1;
  if (whence == 0 &&
      (line < 0 || line >= m_info.height || plane < 0 || plane >= int32_t(planes_of(m_info))))
    return -1;
  const int32_t at = SetSeekLine(line, plane, page, whence);
  if (at >= 0) page_ = page;
  return at;
}

MemTiles::MemTiles(int w, int h, int spp, int tw, int th, bool planar, std::vector<uint8_t> pixels)
    : m_pixels(std::move(pixels)), m_spp(spp), m_planar(planar) {
  m_info = describe(w, h, uint32_t(spp), 8, 1);
  m_info.planar = (planar ? KLV_PLANAR_PLANES : KLV_PLANAR_PIXEL) + KLV_PLANAR_TILED;
  m_info.tile_words[KLV_TILE_WIDTH] = tw;
  m_info.tile_words[KLV_TILE_HEIGHT] = th;
  m_info.tile_words[KLV_TILE_ACROSS] = (w + tw - 1) / tw;
  m_info.tile_words[KLV_TILE_DOWN] = (h + th - 1) / th;
  m_info.tile_words[KLV_TILE_PER_PLANE] =
      m_info.tile_words[KLV_TILE_ACROSS] * m_info.tile_words[KLV_TILE_DOWN];
  if (m_pixels.empty()) m_pixels.assign(size_t(w) * h * spp, 0);
}

void MemTiles::line_interleaved() {
  m_lines = true;
  m_info.planar = KLV_PLANAR_LINES + KLV_PLANAR_TILED;
}

size_t MemTiles::at(int u, int v, int s) const {
  const int tw = m_info.tile_words[0];
  if (m_lines) return (size_t(v) * m_spp + s) * tw + u;
  return (size_t(v) * tw + u) * unit() + s;
}

int32_t MemTiles::ReadTile(unsigned char* buffer, int32_t count) {
  if (count < 1) return 0;
  const int tw = m_info.tile_words[0], th = m_info.tile_words[1];
  const int across = m_info.tile_words[KLV_TILE_ACROSS];
  const int col = m_tile % across, row = m_tile / across;
  for (int v = 0; v < th; ++v)
    for (int u = 0; u < tw; ++u)
      for (int s = 0; s < samples_in_tile(); ++s) {
        const int x = col * tw + u, y = row * th + v;
        uint8_t val = 0xEE;
        if (x < m_info.width && y < m_info.height)
          val = m_pixels[(size_t(y) * m_info.width + x) * m_spp + channel(s)];
        buffer[at(u, v, s)] = val;
      }
  ++reads;
  return 1;
}

int32_t MemTiles::WriteTile(unsigned char* buffer, int32_t count) {
  if (count < 1) return 0;
  const int tw = m_info.tile_words[0], th = m_info.tile_words[1];
  const int across = m_info.tile_words[KLV_TILE_ACROSS];
  const int col = m_tile % across, row = m_tile / across;
  for (int v = 0; v < th; ++v)
    for (int u = 0; u < tw; ++u)
      for (int s = 0; s < samples_in_tile(); ++s) {
        const int x = col * tw + u, y = row * th + v;
        if (x < m_info.width && y < m_info.height)
          (*sink)[(size_t(y) * m_info.width + x) * m_spp + channel(s)] = buffer[at(u, v, s)];
      }
  return 1;
}

Sink::Sink(const image_info& info, SinkLog* log) : log_(log) {
  m_info = info;
  m_info.bytes_per_line = image_info_line_bytes(&m_info);
  log_->info = m_info;
  log_->planes.assign(
      planes_of(m_info),
      std::vector<uint8_t>(size_t(std::max(0, m_info.height)) * m_info.bytes_per_line, 0xEE));
}

Sink::Sink(const image_info& info, std::shared_ptr<SinkLog> log, int fail_after)
    : Sink(info, log.get()) {
  shared_ = std::move(log);
  log_->refuse_after = fail_after;
  log_->refuse_seeks = fail_after >= 0;
}

Sink::~Sink() {
  ++log_->closes;
}

int32_t Sink::WriteLine(unsigned char* buffer, int32_t count) {
  const size_t bpl = m_info.bytes_per_line;
  int32_t n = 0;
  for (; n < count && m_line < m_info.height; ++n, ++m_line) {
    if (log_->refuse_after >= 0 && log_->written >= log_->refuse_after) break;
    const uint8_t* line = buffer + size_t(n) * bpl;
    log_->bytes.insert(log_->bytes.end(), line, line + bpl);
    if (size_t(m_plane) < log_->planes.size())
      std::memcpy(log_->planes[size_t(m_plane)].data() + size_t(m_line) * bpl, line, bpl);
    ++log_->written;
  }
  return n;
}

int32_t Sink::SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence) {
  ++log_->seeks;
  if (log_->refuse_seeks) return -1;
  return SetSeekLine(line, plane, page, whence);
}

}  // namespace klv::test
