// SPDX-License-Identifier: MIT
// The layered-image file the interpreter writes for a CMYK page with its spot
// separations: the header, and where the planes of uncompressed 8-bit data
// begin (one plane per channel, rows top first, samples stored as
// 255 - ink). Pure parsing of bytes in memory.
#pragma once

#include <cstddef>
#include <cstdint>

namespace klv::img {

struct GsPsd {
  uint32_t width = 0, height = 0, channels = 0;
  uint64_t data_offset = 0;  // the first byte of the first plane
};

// Reads the header of `n` bytes (the whole file); false with `why` set when
// the file is not an uncompressed 8-bit CMYK one or its planes do not fit.
bool gs_parse_psd(const uint8_t* data, size_t n, GsPsd* out, const char** why);

}  // namespace klv::img
