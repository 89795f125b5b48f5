// SPDX-License-Identifier: MIT
// Run-length rows of TGA files.
#include "img/formats/tga_rle.h"

#include <algorithm>
#include <cstring>

#include "klv/kernel_stream.h"

namespace klv::img::tga {

bool RleReader::fill() {
  const int64_t next = buf_offset_ + static_cast<int64_t>(len_);
  if (!positioned_ && Oseeki64(stream_, next, 0) != 0) return false;
  buf_offset_ = next;
  pos_ = 0;
  len_ = Oread(stream_, buf_, sizeof buf_);
  positioned_ = true;
  return len_ > 0;
}

bool RleReader::take(uint8_t* out, size_t n) {
  while (n > 0) {
    if (pos_ == len_ && !fill()) return false;
    const size_t k = std::min(n, len_ - pos_);
    std::memcpy(out, buf_ + pos_, k);
    pos_ += k;
    out += k;
    n -= k;
  }
  return true;
}

bool RleReader::decode_row(uint8_t* out) {
  uint32_t x = 0;
  while (x < width_) {
    if (packet_.left == 0) {
      uint8_t code = 0;
      if (!take(&code, 1)) return false;
      packet_.left = (code & 0x7Fu) + 1;
      packet_.repeat = (code & 0x80) != 0;
      if (packet_.repeat && !take(packet_.pixel, bpp_)) return false;
    }
    const uint32_t k = std::min(packet_.left, width_ - x);
    uint8_t* dst = out + size_t{x} * bpp_;
    if (packet_.repeat) {
      if (bpp_ == 1)
        std::memset(dst, packet_.pixel[0], k);
      else
        for (uint32_t i = 0; i < k; ++i) std::memcpy(dst + size_t{i} * bpp_, packet_.pixel, bpp_);
    } else if (!take(dst, size_t{k} * bpp_)) {
      return false;
    }
    packet_.left -= k;
    x += k;
  }
  return true;
}

RleReader::State RleReader::save() const {
  State s = packet_;
  s.offset = buf_offset_ + static_cast<int64_t>(pos_);
  return s;
}

void RleReader::restore(const State& s) {
  packet_ = s;
  const int64_t end = buf_offset_ + static_cast<int64_t>(len_);
  if (s.offset >= buf_offset_ && s.offset <= end) {
    pos_ = static_cast<size_t>(s.offset - buf_offset_);
    return;
  }
  buf_offset_ = s.offset;
  len_ = pos_ = 0;
  positioned_ = false;
}

void encode_row(const uint8_t* row, uint32_t width, uint32_t bpp, std::vector<uint8_t>& out) {
  auto same = [&](uint32_t a, uint32_t b) {
    return std::memcmp(row + size_t{a} * bpp, row + size_t{b} * bpp, bpp) == 0;
  };
  uint32_t x = 0;
  while (x < width) {
    uint32_t run = 1;
    while (x + run < width && run < 128 && same(x, x + run)) ++run;
    if (run >= 2) {
      out.push_back(static_cast<uint8_t>(0x80 | (run - 1)));
      out.insert(out.end(), row + size_t{x} * bpp, row + size_t{x + 1} * bpp);
      x += run;
      continue;
    }
    // A literal packet up to the next pair of equal pixels.
    uint32_t n = 1;
    while (x + n < width && n < 128 && !(x + n + 1 < width && same(x + n, x + n + 1))) ++n;
    out.push_back(static_cast<uint8_t>(n - 1));
    out.insert(out.end(), row + size_t{x} * bpp, row + size_t{x + n} * bpp);
    x += n;
  }
}

}  // namespace klv::img::tga
