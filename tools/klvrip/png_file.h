// SPDX-License-Identifier: MIT
// Writing 8-bit RGB pictures as PNG files, for previews and plots.
#pragma once

#include <cstdint>
#include <vector>

namespace klvrip {

// Writes `rgb` (width x height pixels, 3 bytes each, rows top to bottom) to
// `path` as an 8-bit RGB PNG; false when the file cannot be written whole.
bool write_png(const char* path, int width, int height, const std::vector<uint8_t>& rgb);

}  // namespace klvrip
