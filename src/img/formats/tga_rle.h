// SPDX-License-Identifier: MIT
// Run-length rows of TGA files: a decoder that reads packets through a
// 4096-byte buffer and can save and restore where it stands (a packet may run
// on into the next row), and the row encoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "klv/kernel_types.h"

namespace klv::img::tga {

class RleReader {
 public:
  // Where decoding stands: the file offset of the next unread byte and the
  // packet in progress (pixels left, whether it repeats one pixel, which).
  struct State {
    int64_t offset = 0;
    uint32_t left = 0;
    bool repeat = false;
    uint8_t pixel[4] = {};
  };

  RleReader(SFilemux* stream, uint32_t bytes_per_pixel, uint32_t width)
      : stream_(stream), bpp_(bytes_per_pixel), width_(width) {}

  // Decodes one stored row (width × bytes per pixel bytes, file order) into
  // `out`; false when the data ends first or cannot be read.
  bool decode_row(uint8_t* out);
  State save() const;
  void restore(const State& s);

 private:
  bool fill();
  bool take(uint8_t* out, size_t n);

  SFilemux* stream_;
  uint32_t bpp_, width_;
  uint8_t buf_[4096];
  int64_t buf_offset_ = 0;  // file offset of buf_[0]
  size_t len_ = 0, pos_ = 0;
  bool positioned_ = false;  // the stream stands at buf_offset_ + len_
  State packet_;
};

// Appends the run-length packets of one stored row (width pixels of
// `bytes_per_pixel` bytes) to `out`: repeat packets for runs of two or more
// equal pixels, literal packets for the rest, at most 128 pixels a packet.
void encode_row(const uint8_t* row, uint32_t width, uint32_t bytes_per_pixel,
                std::vector<uint8_t>& out);

}  // namespace klv::img::tga
