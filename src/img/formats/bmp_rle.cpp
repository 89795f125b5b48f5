// SPDX-License-Identifier: MIT
// Run-length coding of BMP rows.
#include "img/formats/bmp_rle.h"

#include <algorithm>
#include <cstring>

namespace klv::img::bmp {

bool CodeReader::fill() {
  start_ += static_cast<int64_t>(len_);
  pos_ = len_ = 0;
  if (Oseeki64(stream_, start_, 0) != 0) return false;
  len_ = Oread(stream_, buffer_.data(), buffer_.size());
  return len_ > 0;
}

bool CodeReader::read(uint8_t* dst, size_t n) {
  while (n > 0) {
    if (pos_ == len_ && !fill()) return false;
    size_t c = std::min(n, len_ - pos_);
    std::memcpy(dst, buffer_.data() + pos_, c);
    pos_ += c;
    dst += c;
    n -= c;
  }
  return true;
}

bool CodeReader::peek(size_t ahead, uint8_t* dst, size_t n) {
  if (len_ - pos_ < ahead + n) {
    // Move the tail to the front so that the bytes asked for fit in the buffer.
    size_t keep = len_ - pos_;
    std::memmove(buffer_.data(), buffer_.data() + pos_, keep);
    start_ += static_cast<int64_t>(pos_);
    pos_ = 0;
    len_ = keep;
    if (Oseeki64(stream_, start_ + static_cast<int64_t>(keep), 0) != 0) return false;
    len_ += Oread(stream_, buffer_.data() + keep, buffer_.size() - keep);
    if (len_ < ahead + n) return false;
  }
  std::memcpy(dst, buffer_.data() + pos_ + ahead, n);
  return true;
}

RleDecoder::State RleDecoder::save() const {
  State s;
  s.code_offset = reader_.offset();
  s.run_left = run_left_;
  s.run_index = run_index_;
  s.run_value = run_value_;
  s.literal_left = literal_left_;
  s.literal_pos = literal_pos_;
  s.literal_bytes = literal_bytes_;
  s.literal_offset = literal_offset_;
  return s;
}

bool RleDecoder::restore(const State& s) {
  run_left_ = s.run_left;
  run_index_ = s.run_index;
  run_value_ = s.run_value;
  literal_left_ = s.literal_left;
  literal_pos_ = s.literal_pos;
  literal_bytes_ = s.literal_bytes;
  literal_offset_ = s.literal_offset;
  if (literal_left_ > 0) {
    reader_.reset(literal_offset_);
    if (!reader_.read(literal_.data(), literal_bytes_)) return false;
  }
  reader_.reset(s.code_offset);
  return true;
}

void RleDecoder::drop_padding() {
  // Codes that only fill the row padding before an end code belong to no
  // image pixel: some encoders code each row to its padded size.
  int64_t total = run_left_ > 0 ? run_left_ : literal_left_;
  size_t ahead = 0;
  uint8_t code[2];
  while (total <= pad_pixels_ && reader_.peek(ahead, code, 2)) {
    if (code[0] == 0 && code[1] <= 1) {
      if (total == 0 && ahead == 0) return;
      reader_.skip(ahead);  // the end code itself is read with the next line
      run_left_ = literal_left_ = 0;
      return;
    }
    if (code[0] > 0) {
      total += code[0];
      ahead += 2;
    } else if (code[1] == 2) {
      return;
    } else {
      size_t bytes = bits_ == 8 ? code[1] : (code[1] + 1u) / 2;
      total += code[1];
      ahead += 2 + ((bytes + 1) & ~size_t{1});
    }
  }
}

bool RleDecoder::decode_line(uint8_t* out, uint32_t line) {
  if (bits_ == 4) std::memset(out, 0, (static_cast<size_t>(width_) + 1) / 2);
  uint32_t x = 0;
  while (x < width_) {
    if (run_left_ > 0) {
      uint32_t n = static_cast<uint32_t>(std::min<int64_t>(run_left_, width_ - x));
      if (bits_ == 8) {
        std::memset(out + x, run_value_, n);
      } else {
        const uint8_t hi = run_value_ >> 4, lo = run_value_ & 0x0f;
        for (uint32_t k = 0; k < n; ++k) put(out, x + k, ((run_index_ + k) & 1) ? lo : hi);
      }
      run_left_ -= n;
      run_index_ += n;
      x += n;
      continue;
    }
    if (literal_left_ > 0) {
      uint32_t n = std::min(literal_left_, width_ - x);
      if (bits_ == 8) {
        std::memcpy(out + x, literal_.data() + literal_pos_, n);
      } else {
        for (uint32_t k = 0; k < n; ++k) {
          uint32_t p = literal_pos_ + k;
          uint8_t b = literal_[p >> 1];
          put(out, x + k, (p & 1) ? (b & 0x0f) : (b >> 4));
        }
      }
      literal_left_ -= n;
      literal_pos_ += n;
      x += n;
      continue;
    }
    uint8_t code[2];
    if (!reader_.read(code, 2)) return false;
    if (code[0] > 0) {  // encoded run
      run_left_ = code[0];
      run_value_ = code[1];
      run_index_ = 0;
      continue;
    }
    run_value_ = 0;
    run_index_ = 0;
    switch (code[1]) {
      case 0:  // end of line: the rest of a started line is index 0
        if (x > 0) run_left_ = width_ - x;
        break;
      case 1:  // end of bitmap: every remaining pixel is index 0
        run_left_ = static_cast<int64_t>(height_ - line) * width_ - x;
        break;
      case 2: {  // delta: skipped pixels are index 0
        uint8_t d[2];
        if (!reader_.read(d, 2)) return false;
        run_left_ = static_cast<int64_t>(width_) * d[1] + d[0];
        break;
      }
      default: {  // literal run of code[1] pixels, padded to an even byte count
        uint32_t n = code[1];
        size_t bytes = bits_ == 8 ? n : (n + 1) / 2;
        bytes = (bytes + 1) & ~size_t{1};
        literal_offset_ = reader_.offset();
        literal_bytes_ = static_cast<uint32_t>(bytes);
        if (!reader_.read(literal_.data(), bytes)) return false;
        literal_left_ = n;
        literal_pos_ = 0;
        break;
      }
    }
  }
  drop_padding();
  return true;
}

namespace {

inline uint8_t pixel_at(const uint8_t* row, uint32_t i, int bits) {
  if (bits == 8) return row[i];
  return (i & 1) ? (row[i >> 1] & 0x0f) : (row[i >> 1] >> 4);
}

}  // namespace

void encode_row(const uint8_t* row, uint32_t width, int bits, std::vector<uint8_t>& out) {
  uint32_t i = 0;
  while (i < width) {
    const uint8_t v = pixel_at(row, i, bits);
    uint32_t j = i + 1;
    while (j < width && j - i < 255 && pixel_at(row, j, bits) == v) ++j;
    if (j - i >= 3) {
      out.push_back(static_cast<uint8_t>(j - i));
      out.push_back(bits == 8 ? v : static_cast<uint8_t>((v << 4) | v));
      i = j;
      continue;
    }
    // Gather a literal up to the next run of three equal pixels.
    uint32_t k = i;
    while (k < width && k - i < 255) {
      if (k > i && k + 2 < width) {
        uint8_t a = pixel_at(row, k, bits);
        if (a == pixel_at(row, k + 1, bits) && a == pixel_at(row, k + 2, bits)) break;
      }
      ++k;
    }
    const uint32_t n = k - i;
    if (n < 3) {  // too short for a literal: single-pixel runs
      for (uint32_t p = i; p < k; ++p) {
        uint8_t px = pixel_at(row, p, bits);
        out.push_back(1);
        out.push_back(bits == 8 ? px : static_cast<uint8_t>((px << 4) | px));
      }
    } else {
      out.push_back(0);
      out.push_back(static_cast<uint8_t>(n));
      size_t bytes = 0;
      if (bits == 8) {
        out.insert(out.end(), row + i, row + k);
        bytes = n;
      } else {
        for (uint32_t p = i; p < k; p += 2) {
          uint8_t hi = pixel_at(row, p, bits);
          uint8_t lo = p + 1 < k ? pixel_at(row, p + 1, bits) : 0;
          out.push_back(static_cast<uint8_t>((hi << 4) | lo));
          ++bytes;
        }
      }
      if (bytes & 1) out.push_back(0);
    }
    i = k;
  }
}

}  // namespace klv::img::bmp
