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
  int unit() const { return m_planar ? 1 : m_spp; }
  int32_t ReadTile(unsigned char* buffer, int32_t count) override {
    if (count < 1) return 0;
    int tw = m_info.tile_words[0], th = m_info.tile_words[1];
    int across = m_info.tile_words[KLV_TILE_ACROSS];
    int col = m_tile % across, row = m_tile / across;
    for (int v = 0; v < th; ++v)
      for (int u = 0; u < tw; ++u)
        for (int s = 0; s < unit(); ++s) {
          int x = col * tw + u, y = row * th + v;
          uint8_t val = 0xEE;
          if (x < m_info.width && y < m_info.height)
            val = m_pixels[(size_t(y) * m_info.width + x) * m_spp + (m_planar ? m_plane : s)];
          buffer[(size_t(v) * tw + u) * unit() + s] = val;
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
        for (int s = 0; s < unit(); ++s) {
          int x = col * tw + u, y = row * th + v;
          if (x < m_info.width && y < m_info.height)
            (*sink)[(size_t(y) * m_info.width + x) * m_spp + (m_planar ? m_plane : s)] =
                buffer[(size_t(v) * tw + u) * unit() + s];
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
  int reads = 0;
};

}  // namespace filters_test
