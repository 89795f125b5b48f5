// SPDX-License-Identifier: MIT
// Reading halftone screen files ("HSCR"): header checks, plane positions and
// plane reads through the kernel's file streams, shared by the threshold
// array loader and the C screen record loaders.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "klv/kernel_stream.h"

namespace klv::halftone {

// The folder of the data folders (KLV_PATH, the program's folder, share/klv)
// that holds the shipped screen files.
inline constexpr const char* kScreenFolder = "screens";

// Finds a screen file on the program's search path, a bare name also in the
// "screens" folder of each search folder; the name itself when the search
// finds nothing (so that the open reports the missing file).
std::string find_screen_file(const char* name);

class ScreenFileReader {
 public:
  static constexpr int64_t kHeaderSize = 20;

  ScreenFileReader() = default;
  ScreenFileReader(const ScreenFileReader&) = delete;
  ScreenFileReader& operator=(const ScreenFileReader&) = delete;
  ~ScreenFileReader();

  // Opens and checks the file; false (logged) when it is missing, the magic
  // differs, the header is short or the file holds no whole plane.
  bool Open(const char* name);

  uint32_t width() const { return width_; }
  uint32_t height() const { return height_; }
  // The header's maximum value, width x height when the header says 0.
  uint32_t max_value() const { return max_value_; }
  uint32_t planes() const { return planes_; }
  int64_t PlaneOffset(uint32_t plane) const {
    return kHeaderSize + int64_t(plane) * width_ * height_ * 2;
  }
  int64_t Tell() const;
  bool Seek(int64_t pos);
  // Reads width x height values from the current position (file order).
  bool ReadPlane(std::vector<uint16_t>& values);
  const std::string& path() const { return path_; }

 private:
  SFilemux* file_ = nullptr;
  std::string path_;
  uint32_t width_ = 0, height_ = 0, max_value_ = 0, planes_ = 0;
  std::vector<uint8_t> bytes_;
};

// A screen file's bytes: the header (magic, width, height, maximum value)
// and each plane's width x height values row by row, little-endian. False
// (logged) for an empty or oversized screen or a plane of another size.
bool WriteScreenFile(uint32_t width, uint32_t height, uint16_t max_value,
                     const std::vector<std::vector<uint16_t>>& planes, std::vector<uint8_t>& out);

// Index where the file value of row r, column c is stored under a phase.
inline uint32_t phased_index(uint32_t r, uint32_t c, uint32_t w, uint32_t h, uint32_t col_phase,
                             uint32_t row_phase) {
  uint32_t rr = r + row_phase;
  if (rr >= h) rr -= h;
  uint32_t cc = c + col_phase;
  if (cc >= w) cc -= w;
  return rr * w + cc;
}

}  // namespace klv::halftone
