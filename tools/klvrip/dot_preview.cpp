// SPDX-License-Identifier: MIT
// Dot previews: ink coverage per preview pixel, composited subtractively.
#include "dot_preview.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "klv/imgmux.h"
#include "klv/img.h"
#include "png_file.h"

namespace klvrip {

bool write_dot_preview(const char* dots_path, int dots_type, const char* dots_name,
                       const char* png_path, const char* png_name, int max_side) {
  image_info info;
  init_image_info(&info);
  IMG_file* img = img_mux_open(dots_path, nullptr, "r", &info, dots_type);
  if (!img) {
    std::fprintf(stderr, "klvrip: cannot read \"%s\" for a preview\n", dots_name);
    return false;
  }
  const uint32_t seps = info.samples;
  const uint32_t bits = info.bits_per_sample;
  const int width = info.width, height = info.height;
  if ((seps != 1 && seps != 4) || (bits != 1 && bits != 2 && bits != 4) ||
      info.planar != KLV_PLANAR_PIXEL || width < 1 || height < 1) {
    std::fprintf(stderr, "klvrip: a preview needs 1 or 4 separations of 1, 2 or 4 bits\n");
    img_close(img);
    return false;
  }
  const int factor = std::max(1, (std::max(width, height) + max_side - 1) / max_side);
  const int pw = (width + factor - 1) / factor, ph = (height + factor - 1) / factor;
  const uint32_t top = (1u << bits) - 1;

  // Per preview pixel and separation: summed ink over the box.
  std::vector<uint32_t> ink(size_t(pw) * seps);
  std::vector<uint8_t> rgb(size_t(pw) * ph * 3);
  std::vector<uint8_t> line(info.bytes_per_line);
  bool ok = true;
  for (int py = 0; py < ph && ok; ++py) {
    std::fill(ink.begin(), ink.end(), 0);
    const int y0 = py * factor, y1 = std::min(height, y0 + factor);
    for (int y = y0; y < y1; ++y) {
      if (img_read_line(img, line.data(), 1) != 1) {
        ok = false;
        break;
      }
      uint64_t bit = 0;
      for (int x = 0; x < width; ++x) {
        uint32_t* box = &ink[size_t(x / factor) * seps];
        for (uint32_t s = 0; s < seps; ++s, bit += bits) {
          uint32_t byte = line[bit >> 3];
          box[s] += (byte >> (8 - bits - (bit & 7))) & top;
        }
      }
    }
    const int rows = y1 - y0;
    for (int px = 0; px < pw; ++px) {
      const int cols = std::min(width, (px + 1) * factor) - px * factor;
      const double full = double(rows) * cols * top;
      const uint32_t* box = &ink[size_t(px) * seps];
      double c, m, yv, k;
      if (seps == 1) {
        c = m = yv = 0;
        k = box[0] / full;
      } else {
        c = box[0] / full, m = box[1] / full, yv = box[2] / full, k = box[3] / full;
      }
      uint8_t* out = &rgb[(size_t(py) * pw + px) * 3];
      out[0] = uint8_t(255 * (1 - c) * (1 - k) + 0.5);
      out[1] = uint8_t(255 * (1 - m) * (1 - k) + 0.5);
      out[2] = uint8_t(255 * (1 - yv) * (1 - k) + 0.5);
    }
  }
  img_close(img);
  if (!ok) {
    std::fprintf(stderr, "klvrip: \"%s\" ended early\n", dots_name);
    return false;
  }
  if (!write_png(png_path, pw, ph, rgb)) {
    std::fprintf(stderr, "klvrip: cannot write \"%s\" (the disk may be full)\n", png_name);
    return false;
  }
  return true;
}

}  // namespace klvrip
