// SPDX-License-Identifier: MIT
// In-memory streams for the filter tests: a line image, a tiled image that
// serves tiles by index, and sinks that collect written lines or tiles.
#pragma once

#include <cstring>
#include <vector>

#include "klv/cimg_file.h"

namespace filters_test {

inline image_info describe(int w, int h, int samples, int bits, int photo, int masks = 0) {
  image_info i;
  init_image_info(&i);
  i.width = w;
  i.height = h;
  i.samples = samples;
  i.mask_samples = masks;
  i.bits_per_sample = bits;
  i.photometric = photo;
  i.pages = 1;
  i.xres = i.yres = 100;
  i.bytes_per_line = image_info_line_bytes(&i);
  return i;
}

// Lines held in memory (one page), readable and seekable.
class MemLines : public CIMG_file {
 public:
  MemLines(const image_info& info, std::vector<uint8_t> data) : m_data(std::move(data)) {
    m_info = info;
  }
  int32_t ReadLine(unsigned char* buffer, int32_t count) override {
    int32_t done = 0;
    for (; done < count && m_line < m_info.height; ++done, ++m_line)
      std::memcpy(buffer + size_t(done) * m_info.bytes_per_line,
                  m_data.data() + size_t(m_line) * m_info.bytes_per_line, m_info.bytes_per_line);
    return done;
  }
  int32_t SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence) override {
    return SetSeekLine(line, plane, page, whence);
  }
  std::vector<uint8_t> m_data;
};

// Several pages of lines held in memory, readable and seekable by page.
class MemPages : public CIMG_file {
 public:
  MemPages(const image_info& info, std::vector<uint8_t> data) : m_data(std::move(data)) {
    m_info = info;
  }
  int32_t ReadLine(unsigned char* buffer, int32_t count) override {
    int32_t done = 0;
    const size_t bpl = m_info.bytes_per_line;
    for (; done < count && m_line < m_info.height; ++done, ++m_line)
      std::memcpy(buffer + done * bpl,
                  m_data.data() + (size_t(m_page) * m_info.height + m_line) * bpl, bpl);
    return done;
  }
  int32_t SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence) override {
    if (whence != 0 || plane != 0 || page < 0 || uint32_t(page) >= m_info.pages || line < 0 ||
        line >= m_info.height)
      return -1;
    m_page = page;
    return m_line = line;
  }
  std::vector<uint8_t> m_data;
  int32_t m_page = 0;
};

// Collects written lines.
class LineSink : public CIMG_file {
 public:
  explicit LineSink(const image_info& info, std::vector<uint8_t>* out) : m_out(out) {
    m_info = info;
  }
  int32_t WriteLine(unsigned char* buffer, int32_t count) override {
    m_out->insert(m_out->end(), buffer, buffer + size_t(count) * m_info.bytes_per_line);
    return count;
  }
  int32_t SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence) override {
    return SetSeekLine(line, plane, page, whence);
  }
  std::vector<uint8_t>* m_out;
};

// A tiled image: the full picture in pixel-interleaved (layout 8) or planar
// (layout 9) form, cut into tiles on demand; partial edge tiles are padded
// with 0xEE so that stray padding shows in results. Written tiles land in
// `tiles` when the stream is a sink.
class MemTiles : public CIMG_file {
 public:
  // `pixels`: width*height*spp bytes (8-bit) in pixel-interleaved order.
  MemTiles(int w, int h, int spp, int tw, int th, bool planar, std::vector<uint8_t> pixels)
      : m_pixels(std::move(pixels)), m_spp(spp), m_planar(planar) {
    m_info = describe(w, h, spp, 8, 1);
    m_info.planar = (planar ? KLV_PLANAR_PLANES : KLV_PLANAR_PIXEL) + KLV_PLANAR_TILED;
    m_info.tile_words[KLV_TILE_WIDTH] = tw;
    m_info.tile_words[KLV_TILE_HEIGHT] = th;
    m_info.tile_words[KLV_TILE_ACROSS] = (w + tw - 1) / tw;
    m_info.tile_words[KLV_TILE_DOWN] = (h + th - 1) / th;
    m_info.tile_words[KLV_TILE_PER_PLANE] =
        m_info.tile_words[KLV_TILE_ACROSS] * m_info.tile_words[KLV_TILE_DOWN];
    if (m_pixels.empty()) m_pixels.assign(size_t(w) * h * spp, 0);
  }
  // Tiles hold line-interleaved rows (layout 10): each tile row is every
  // plane's run of the row in turn.
  void line_interleaved() {
    m_lines = true;
    m_info.planar = KLV_PLANAR_LINES + KLV_PLANAR_TILED;
  }
  int unit() const { return m_planar || m_lines ? 1 : m_spp; }
  // Byte of tile sample (u, v, s) inside a tile.
  size_t at(int u, int v, int s) const {
    int tw = m_info.tile_words[0];
    if (m_lines) return (size_t(v) * m_spp + s) * tw + u;
    return (size_t(v) * tw + u) * unit() + s;
  }
  int channel(int s) const { return m_planar ? m_plane : s; }
  int samples_in_tile() const { return m_lines ? m_spp : unit(); }
  int32_t ReadTile(unsigned char* buffer, int32_t count) override {
    if (count < 1) return 0;
    int tw = m_info.tile_words[0], th = m_info.tile_words[1];
    int across = m_info.tile_words[KLV_TILE_ACROSS];
    int col = m_tile % across, row = m_tile / across;
    for (int v = 0; v < th; ++v)
      for (int u = 0; u < tw; ++u)
        for (int s = 0; s < samples_in_tile(); ++s) {
          int x = col * tw + u, y = row * th + v;
          uint8_t val = 0xEE;
          if (x < m_info.width && y < m_info.height)
            val = m_pixels[(size_t(y) * m_info.width + x) * m_spp + channel(s)];
          buffer[at(u, v, s)] = val;
        }
    ++reads;
    return 1;
  }
  int32_t WriteTile(unsigned char* buffer, int32_t count) override {
    if (count < 1) return 0;
    int tw = m_info.tile_words[0], th = m_info.tile_words[1];
    int across = m_info.tile_words[KLV_TILE_ACROSS];
    int col = m_tile % across, row = m_tile / across;
    for (int v = 0; v < th; ++v)
      for (int u = 0; u < tw; ++u)
        for (int s = 0; s < samples_in_tile(); ++s) {
          int x = col * tw + u, y = row * th + v;
          if (x < m_info.width && y < m_info.height)
            (*sink)[(size_t(y) * m_info.width + x) * m_spp + channel(s)] = buffer[at(u, v, s)];
        }
    return 1;
  }
  int32_t SeekTile(int32_t tile, int32_t plane, int32_t page, int32_t whence) override {
    return SetSeekTile(tile, plane, page, whence);
  }
  std::vector<uint8_t> m_pixels;
  std::vector<uint8_t>* sink = nullptr;
  int m_spp;
  bool m_planar;
  bool m_lines = false;
  int reads = 0;
};

}  // namespace filters_test
