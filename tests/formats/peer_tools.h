// SPDX-License-Identifier: MIT
// Running other programs in the format tests: whether a tool is installed,
// running a shell line, netpbm files (PBM, PGM, PPM and PAM up to 16 bits)
// for handing samples to and from them, and reading a whole image through
// the library's opener.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "klv/img.h"

namespace klv::test {

// True when `tool` is on the PATH.
bool have_tool(const std::string& tool);
// Runs `command` with /bin/sh; true when it exits with 0.
bool run_shell(const std::string& command);

// A netpbm raster: `depth` samples per pixel, values up to `maxval`.
struct Raster {
  int width = 0, height = 0, depth = 0;
  uint32_t maxval = 255;
  std::vector<uint16_t> samples;  // row by row, pixel by pixel
  uint16_t at(int x, int y, int c) const { return samples[(size_t(y) * width + x) * depth + c]; }
};
// P4 (1 is black: read as gray 0), P5, P6 or P7; empty on failure.
Raster read_netpbm(const std::string& path);
// Writes P5 (depth 1), P6 (depth 3) or P7 with `tupltype` (any depth).
bool write_netpbm(const std::string& path, const Raster& r, const std::string& tupltype = "");

// A whole image read through img_mux_open (type 0 recognises the file).
struct Decoded {
  int32_t type = 0;
  image_info info{};
  std::vector<uint8_t> lines;  // every line, bytes_per_line each
  std::vector<uint8_t> map;    // palette files: R, G, B per entry
  bool profile = false;
  uint32_t profile_size = 0;
};
// False when the file cannot be opened or a line cannot be read.
bool decode_file(const std::string& path, int32_t type, Decoded* out);

}  // namespace klv::test
