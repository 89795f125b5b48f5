// SPDX-License-Identifier: MIT
// A writable image stream that keeps every line written, by plane, for
// comparing what the halftone filter wrote.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "klv/cimg_file.h"

namespace klv::test {

struct CaptureData {
  image_info info{};
  std::vector<std::vector<uint8_t>> planes;  // one per plane of a planar image, else one
  int closes = 0;
  int refuse_after = -1;  // refuse lines once this many were written
  int written = 0;
};

class CaptureImg : public CIMG_file {
 public:
  CaptureImg(CaptureData* data, const image_info& info) : d_(data) {
    m_info = info;
    m_info.bytes_per_line = image_info_line_bytes(&m_info);
    d_->info = m_info;
    const size_t planes = info.planar == KLV_PLANAR_PLANES ? info.samples + info.mask_samples : 1;
    d_->planes.assign(planes,
                      std::vector<uint8_t>(size_t(info.height) * m_info.bytes_per_line, 0xEE));
  }
  ~CaptureImg() override { ++d_->closes; }
  int32_t WriteLine(unsigned char* buffer, int32_t count) override {
    const size_t bpl = m_info.bytes_per_line;
    int32_t n = 0;
    for (; n < count && m_line < m_info.height; ++n, ++m_line) {
      if (d_->refuse_after >= 0 && d_->written >= d_->refuse_after) break;
      std::memcpy(d_->planes[size_t(m_plane)].data() + size_t(m_line) * bpl, buffer + n * bpl, bpl);
      ++d_->written;
    }
    return n;
  }
  int32_t SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence) override {
    if (page != 0 || whence != 0 || plane < 0 || size_t(plane) >= d_->planes.size()) return -1;
    m_plane = plane;
    m_line = line;
    return line;
  }

 private:
  CaptureData* d_;
};

}  // namespace klv::test
