// SPDX-License-Identifier: MIT
// A stream over lines kept in memory, for the opening and rotation tests. It
// can claim to be compressed (so that readers of it make temporary copies)
// and counts the seeks made on it.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "klv/cimg_file.h"
#include "klv/img.h"

namespace opening_test {

inline image_info make_info(int32_t w, int32_t h, uint32_t bits, uint32_t samples, uint32_t planar,
                            uint32_t pages = 1) {
  image_info i;
  init_image_info(&i);
  i.width = w;
  i.height = h;
  i.bits_per_sample = bits;
  i.samples = samples;
  i.planar = planar;
  i.pages = pages;
  i.photometric = KLV_PHOTO_MINBLACK;
  i.xres = 100;
  i.yres = 200;
  i.bytes_per_line = image_info_line_bytes(&i);
  return i;
}

inline uint32_t planes_of(const image_info& i) {
  return (i.planar & 7) == KLV_PLANAR_PLANES ? i.samples + i.mask_samples : 1;
}

// Sample k of pixel x in one line of the given layout (for planar images the
// line is already the plane's row and k must be 0).
inline uint32_t get_sample(const image_info& i, const uint8_t* line, uint32_t x, uint32_t k) {
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

class MemImage : public CIMG_file {
 public:
  // Lines of every page, plane and line in order, filled with a pattern.
  explicit MemImage(const image_info& info) {
    m_info = info;
    const size_t n = size_t(planes_of(info)) * info.height * std::max(1u, info.pages);
    data_.resize(n * info.bytes_per_line);
    uint32_t seed = 12345;
    for (auto& b : data_) {
      seed = seed * 1103515245 + 12345;
      b = static_cast<uint8_t>(seed >> 16);
    }
  }
  const uint8_t* Line(uint32_t page, uint32_t plane, uint32_t line) const {
    const size_t index = (size_t(page) * planes_of(m_info) + plane) * m_info.height + line;
    return data_.data() + index * m_info.bytes_per_line;
  }
  int32_t ReadLine(unsigned char* buffer, int32_t count) override {
    int32_t done = 0;
    for (; done < count; ++done) {
      if (m_line >= m_info.height) break;
      std::memcpy(buffer + size_t(done) * m_info.bytes_per_line, Line(page_, m_plane, m_line),
                  m_info.bytes_per_line);
      ++m_line;
      ++*reads_;
    }
    return done;
  }
  int32_t SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence) override {
    ++*seeks_;
    if (page < 0 || page >= int32_t(std::max(1u, m_info.pages)) || plane < 0 ||
        plane >= int32_t(planes_of(m_info)))
      return -1;
    if (line < 0 || line >= m_info.height || whence != 0) return -1;
    page_ = page;
    m_plane = plane;
    m_line = line;
    return line;
  }
  // Counters that outlive the object (the stream deletes it at close).
  void Count(int64_t* seeks, int64_t* reads) {
    seeks_ = seeks;
    reads_ = reads;
  }

 private:
  std::vector<uint8_t> data_;
  int32_t page_ = 0;
  int64_t own_seeks_ = 0, own_reads_ = 0;
  int64_t* seeks_ = &own_seeks_;
  int64_t* reads_ = &own_reads_;
};

}  // namespace opening_test
