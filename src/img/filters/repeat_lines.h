// SPDX-License-Identifier: MIT
// The pattern lines of a step-and-repeat page: the whole pattern in memory,
// or, for a pattern too large to hold, the most recently used lines read on
// demand from the pattern stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "klv/img.h"

namespace klv::img {

class RepeatLines {
 public:
  // Lines of a pattern held in the cache when it is not held whole.
  static constexpr int kCacheLines = 15;
  // Lines read in one go on a miss.
  static constexpr int kReadAhead = 7;

  // `stream` stays the caller's. Holds the pattern whole when its size is at
  // most `hold_limit` bytes.
  void Setup(IMG_file* stream, int32_t lines, size_t line_bytes, uint64_t hold_limit);
  // Reads the whole pattern when it is held; false when a line cannot be read.
  bool Load();
  // Line n (0 .. lines - 1), or null when it cannot be read.
  const uint8_t* Line(int32_t n);
  bool Cached() const { return cached_; }
  // Lines read from the stream so far.
  int64_t Reads() const { return reads_; }

 private:
  int Oldest() const;
  const uint8_t* Miss(int32_t n);

  IMG_file* stream_ = nullptr;
  int32_t lines_ = 0;
  size_t bytes_ = 0;
  bool cached_ = false, loaded_ = false;
  std::vector<uint8_t> data_;  // the whole pattern, or kCacheLines slots
  int32_t tag_[kCacheLines] = {};
  uint64_t used_[kCacheLines] = {};
  uint64_t clock_ = 0;
  int32_t next_ = 0;  // the line the stream stands at
  int64_t reads_ = 0;
};

}  // namespace klv::img
