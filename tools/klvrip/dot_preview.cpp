// SPDX-License-Identifier: MIT
// Dot previews: ink coverage per preview pixel, shown through the printer's
// profile or composited subtractively in linear light.
#include "dot_preview.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "klv/color_convert_cxx.h"
#include "klv/imgmux.h"
#include "klv/img.h"
#include "png_file.h"

namespace klvrip {

namespace {

// sRGB code of a linear-light reflectance.
uint8_t srgb_code(double linear) {
  const double v = linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
  return uint8_t(std::clamp(v, 0.0, 1.0) * 255 + 0.5);
}

}  // namespace

bool write_dot_preview(const char* dots_path, int dots_type, const char* dots_name,
                       const char* png_path, const char* png_name, int max_side,
                       const klv::ColorConversion* proof) {
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
  // Coverage of a preview row as 16-bit ink amounts, and its sRGB proof.
  std::vector<uint16_t> cover(proof ? size_t(pw) * 4 : 0), shown(proof ? size_t(pw) * 3 : 0);
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
    uint8_t* out_row = &rgb[size_t(py) * pw * 3];
    for (int px = 0; px < pw; ++px) {
      const int cols = std::min(width, (px + 1) * factor) - px * factor;
      const double full = double(rows) * cols * top;
      const uint32_t* box = &ink[size_t(px) * seps];
      if (proof && seps == 4) {
        for (uint32_t s = 0; s < 4; ++s)
          cover[px * 4 + s] = uint16_t(box[s] * 65535.0 / full + 0.5);
        continue;
      }
      double c = 0, m = 0, yv = 0, k = box[seps - 1] / full;
      if (seps == 4) c = box[0] / full, m = box[1] / full, yv = box[2] / full;
      uint8_t* out = out_row + size_t(px) * 3;
      out[0] = srgb_code((1 - c) * (1 - k));
      out[1] = srgb_code((1 - m) * (1 - k));
      out[2] = srgb_code((1 - yv) * (1 - k));
    }
    if (proof && seps == 4) {
      proof->Line16(cover.data(), shown.data(), uint32_t(pw));
      for (size_t i = 0; i < size_t(pw) * 3; ++i) out_row[i] = uint8_t((shown[i] + 128u) / 257u);
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
