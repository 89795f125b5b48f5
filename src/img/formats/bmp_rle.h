// SPDX-License-Identifier: MIT
// Run-length coding of BMP rows (RLE8 and RLE4): a decoder that carries runs,
// literals, deltas and end codes across lines, and a row encoder.
#pragma once

#include <cstdint>
#include <vector>

#include "klv/kernel_stream.h"

namespace klv::img::bmp {

// Buffered sequential reader over a stream, positioned by file offset. Codes of
// a compressed file are two bytes each, so they are not read one call each.
class CodeReader {
 public:
  explicit CodeReader(SFilemux* stream) : stream_(stream), buffer_(64 * 1024) {}
  // The next read starts at `offset`.
  void reset(int64_t offset) {
    start_ = offset;
    pos_ = len_ = 0;
  }
  // Moves exactly n bytes, or fails.
  bool read(uint8_t* dst, size_t n);
  // Copies n bytes found `ahead` bytes past the read position without
  // consuming them (ahead + n stays small).
  bool peek(size_t ahead, uint8_t* dst, size_t n);
  void skip(size_t n) { pos_ += n; }  // only over bytes that peek has seen
  int64_t offset() const { return start_ + static_cast<int64_t>(pos_); }

 private:
  bool fill();
  SFilemux* stream_;
  std::vector<uint8_t> buffer_;
  int64_t start_ = 0;  // file offset of buffer_[0]
  size_t pos_ = 0, len_ = 0;
};

// Decodes one image line at a time. Pixels of a run or literal that do not fit
// on the line stay pending for the next one.
class RleDecoder {
 public:
  // `pad_pixels` is how many pixels the row padding of the file holds: some
  // encoders code every row to its padded size, and pixels that spill into the
  // padding just before an end code are dropped rather than carried over.
  RleDecoder(SFilemux* stream, int bits, uint32_t width, uint32_t height, uint32_t pad_pixels)
      : reader_(stream),
        bits_(bits),
        width_(width),
        height_(height),
        pad_pixels_(pad_pixels),
        literal_(4096) {}
  // Starts again at `offset` with nothing pending.
  void restart(int64_t offset) {
    reader_.reset(offset);
    run_left_ = literal_left_ = 0;
  }
  // Decodes coded row `line` (counted in file order) into `out`
  // ((bits × width + 7) / 8 bytes). False when the data ends or is malformed.
  bool decode_line(uint8_t* out, uint32_t line);

  // Where decoding stands between two rows; restoring it continues from there.
  struct State {
    int64_t code_offset = 0;
    int64_t run_left = 0;
    uint64_t run_index = 0;
    uint8_t run_value = 0;
    uint32_t literal_left = 0, literal_pos = 0, literal_bytes = 0;
    int64_t literal_offset = 0;  // file offset of the pending literal's bytes
  };
  State save() const;
  bool restore(const State& state);

 private:
  void drop_padding();
  void put(uint8_t* out, uint32_t x, uint8_t index) const {
    if (bits_ == 8) {
      out[x] = index;
    } else {
      out[x >> 1] |= (x & 1) ? (index & 0x0f) : static_cast<uint8_t>(index << 4);
    }
  }
  CodeReader reader_;
  int bits_;
  uint32_t width_, height_;
  uint32_t pad_pixels_;
  std::vector<uint8_t> literal_;
  int64_t run_left_ = 0;  // pixels of the pending run
  uint8_t run_value_ = 0;
  uint64_t run_index_ = 0;  // pixels of the run delivered so far (nibble phase)
  uint32_t literal_left_ = 0;
  uint32_t literal_pos_ = 0;  // next pixel of the literal run
  uint32_t literal_bytes_ = 0;
  int64_t literal_offset_ = 0;
};

// Appends the run-length codes of one row of `width` pixels (8 or 4 bits per
// pixel, packed as in the file) to `out`, without an end code.
void encode_row(const uint8_t* row, uint32_t width, int bits, std::vector<uint8_t>& out);

}  // namespace klv::img::bmp
