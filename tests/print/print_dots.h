// SPDX-License-Identifier: MIT
// What the print tests compare frames with: contone CMYK pages made in code,
// and those pages screened by the halftone placement alone (as the job driver
// and `klvrip screen` screen them) into line-interleaved dot planes.
#pragma once

#include <cstdint>
#include <vector>

#include "klv/cimg_file.h"
#include "klv/htplace.h"
#include "klv/img.h"

namespace printtest {

// A stream opened for writing that keeps every line written into it.
class LineSink : public CIMG_file {
 public:
  explicit LineSink(const image_info& info, std::vector<uint8_t>* lines) : lines_(lines) {
    m_info = info;
  }
  int32_t WriteLine(unsigned char* buffer, int32_t count) override {
    lines_->insert(lines_->end(), buffer, buffer + size_t(count) * m_info.bytes_per_line);
    return count;
  }
  int32_t SeekLine(int32_t line, int32_t, int32_t, int32_t) override { return line; }

 private:
  std::vector<uint8_t>* lines_;
};

// 8-bit CMYK ink amounts (pixel-interleaved): ramps across and down, a
// different one per ink.
inline image_info contone_info(int32_t width, int32_t height, double res) {
  image_info info;
  init_image_info(&info);
  info.width = width;
  info.height = height;
  info.samples = 4;
  info.bits_per_sample = 8;
  info.planar = KLV_PLANAR_PIXEL;
  info.photometric = KLV_PHOTO_MINWHITE;
  info.xres = info.yres = res;
  info.bytes_per_line = image_info_line_bytes(&info);
  return info;
}

inline std::vector<uint8_t> contone_page(const image_info& info) {
  std::vector<uint8_t> page(size_t(info.bytes_per_line) * size_t(info.height));
  for (int32_t y = 0; y < info.height; ++y)
    for (int32_t x = 0; x < info.width; ++x) {
      uint8_t* px = &page[size_t(y) * info.bytes_per_line + size_t(x) * 4];
      px[0] = uint8_t(255 * x / std::max(1, info.width - 1));
      px[1] = uint8_t(255 * y / std::max(1, info.height - 1));
      px[2] = uint8_t((x + y) * 7);
      px[3] = uint8_t(x * y % 256);
    }
  return page;
}

// The page screened with the built-in screens, one thread: line-interleaved
// 1-bit planes C, M, Y, K of each line (empty on failure).
inline std::vector<uint8_t> screened(const image_info& contone, const uint8_t* lines) {
  std::vector<uint8_t> dots;
  HTPLACE* place = HTPlaceAlloc(4, contone.xres, contone.yres, 0, 0, 0, KLV_HTMETHOD_SCREEN_BUILTIN,
                                nullptr, nullptr, nullptr, nullptr, 0);
  if (!place) return dots;
  HTPlaceSetDetachDelete(place, 1);
  image_info out = contone;
  out.bits_per_sample = 1;
  out.planar = KLV_PLANAR_LINES;
  out.bytes_per_line = image_info_line_bytes(&out);
  IMG_file* sink = (new LineSink(out, &dots))->ToImg('w', 99);
  image_info in = contone;
  IMG_file* ht = HTPlace_AttachImg(place, sink, &in, 64, 0);
  if (!ht) return {};
  const int32_t n = img_write_line(ht, const_cast<uint8_t*>(lines), contone.height);
  if (img_close_status(ht) != 0 || n != contone.height) return {};
  return dots;
}

}  // namespace printtest
