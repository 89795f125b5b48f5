// SPDX-License-Identifier: MIT
// Pattern lines held whole or through a small least-recently-used cache.
#include "img/filters/repeat_lines.h"

#include <algorithm>

#include "klv/log.h"

namespace klv::img {

void RepeatLines::Setup(IMG_file* stream, int32_t lines, size_t line_bytes, uint64_t hold_limit) {
  stream_ = stream;
  lines_ = lines;
  bytes_ = line_bytes;
  const uint64_t total = uint64_t(lines) * line_bytes;
  cached_ = total > hold_limit || total > 0xFFFFFFFFull;
  loaded_ = false;
  std::fill(std::begin(tag_), std::end(tag_), -1);
  std::fill(std::begin(used_), std::end(used_), 0);
  next_ = 0;
}

bool RepeatLines::Load() {
  if (loaded_) return true;
  if (cached_) {
    data_.assign(bytes_ * kCacheLines, 0);
    loaded_ = true;
    return true;
  }
  data_.assign(bytes_ * size_t(lines_), 0);
  img_seek_line(stream_, 0, 0, 0, 0);
  for (int32_t n = 0; n < lines_; ++n) {
    if (img_read_line(stream_, data_.data() + bytes_ * size_t(n), 1) != 1) {
      KLV_LOG(KLV_LOG_ERROR, "step and repeat: pattern line %d of %d cannot be read", n, lines_);
      return false;
    }
    ++reads_;
  }
  next_ = lines_;
  loaded_ = true;
  return true;
}

const uint8_t* RepeatLines::Line(int32_t n) {
  if (n < 0 || n >= lines_ || !loaded_) return nullptr;
  if (!cached_) return data_.data() + bytes_ * size_t(n);
  ++clock_;
  for (int i = 0; i < kCacheLines; ++i) {
    if (tag_[i] == n) {
      used_[i] = clock_;
      return data_.data() + bytes_ * size_t(i);
    }
  }
  return Miss(n);
}

int RepeatLines::Oldest() const {
  int oldest = 0;
  for (int i = 1; i < kCacheLines; ++i)
    if (used_[i] < used_[oldest]) oldest = i;
  return oldest;
}

// Reads line n and the few after it (one seek serves them all: a half-drop
// reads two runs of lines a half pattern apart, each in order).
const uint8_t* RepeatLines::Miss(int32_t n) {
  if (n != next_ && img_seek_line(stream_, n, 0, 0, 0) != n) {
    next_ = -1;
    KLV_LOG(KLV_LOG_ERROR, "step and repeat: cannot seek to pattern line %d", n);
    return nullptr;
  }
  const int32_t last = std::min(lines_, n + kReadAhead);
  int first_slot = -1;
  for (int32_t k = n; k < last; ++k) {
    const int slot = Oldest();
    uint8_t* dst = data_.data() + bytes_ * size_t(slot);
    if (img_read_line(stream_, dst, 1) != 1) {
      tag_[slot] = -1;
      next_ = -1;
      if (k > n) break;
      KLV_LOG(KLV_LOG_ERROR, "step and repeat: pattern line %d cannot be read", n);
      return nullptr;
    }
    ++reads_;
    next_ = k + 1;
    for (int i = 0; i < kCacheLines; ++i)
      if (tag_[i] == k) tag_[i] = -1, used_[i] = 0;
    tag_[slot] = k;
    used_[slot] = clock_;
    if (first_slot < 0) first_slot = slot;
  }
  return data_.data() + bytes_ * size_t(first_slot);
}

}  // namespace klv::img
