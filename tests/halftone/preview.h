// SPDX-License-Identifier: MIT
// Test helpers: screen a gray ramp with any engine and write dot images as PNG
// files for looking at (under the build folder, "halftone_preview").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "klv/halftone_rip.h"

namespace klv::test {

// A 1-bit image: `bytes_per_line` bytes a line, most significant bit first, 1 = dot.
struct DotImage {
  int width = 0, height = 0;
  size_t bytes_per_line = 0;
  std::vector<uint8_t> bits;
  bool dot(int x, int y) const {
    return bits[size_t(y) * bytes_per_line + size_t(x) / 8] & (0x80 >> (x % 8));
  }
};

// Screens `input` (8-bit gray, width x height) through the placement's engine
// for separation `sep`. The placement must be a one-channel screen placement.
DotImage ScreenGray(CHTPlacement& place, const std::vector<uint8_t>& input, int width, int height,
                    int sep = 0);
// A horizontal ramp from 0 to 255 (ink amounts), `height` lines.
std::vector<uint8_t> GrayRamp(int width, int height);
// Writes dots black on white; `scale` repeats each pixel. Returns the path or "".
std::string WritePreview(const DotImage& img, const std::string& name, int scale = 1);

}  // namespace klv::test
