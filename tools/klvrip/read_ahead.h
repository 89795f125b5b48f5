// SPDX-License-Identifier: MIT
// Reading an image's lines ahead on a thread of its own, so that reading the
// next lines overlaps screening the ones before.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "klv/img.h"

namespace klvrip {

// Reads `height` lines of `in` in chunks of up to `chunk` lines into a ring
// of `slots` buffers. The stream is only touched by the reading thread until
// the ReadAhead is destroyed.
class ReadAhead {
 public:
  ReadAhead(IMG_file* in, int32_t height, int32_t chunk, int slots = 3);
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The next chunk's lines and their count; 0 at the end, -1 when a read
  // failed. The lines stay valid until the following call.
  int32_t Next(const uint8_t** lines);

 private:
  struct Slot {
    std::vector<uint8_t> lines;
    int32_t count = 0;
    bool full = false;
  };
  void Run();

  IMG_file* in_;
  const int32_t height_, chunk_;
  const size_t line_bytes_;
  std::vector<Slot> slots_;
  size_t take_ = 0;       // the slot Next hands out next
  bool holding_ = false;  // the caller holds slot take_ - 1
  bool stop_ = false;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::thread thread_;
};

}  // namespace klvrip
