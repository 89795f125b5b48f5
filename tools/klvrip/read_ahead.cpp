// SPDX-License-Identifier: MIT
// ReadAhead: one reading thread filling a ring of line buffers.
#include "read_ahead.h"

#include <algorithm>

namespace klvrip {

ReadAhead::ReadAhead(IMG_file* in, int32_t height, int32_t chunk, int slots)
    : in_(in),
      height_(height),
      chunk_(std::max(1, chunk)),
      line_bytes_(in->info.bytes_per_line),
      slots_(size_t(std::max(2, slots))) {
  for (Slot& s : slots_) s.lines.resize(line_bytes_ * size_t(chunk_));
  thread_ = std::thread(&ReadAhead::Run, this);
}

ReadAhead::~ReadAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  cv_.notify_all();
  thread_.join();
}

void ReadAhead::Run() {
  size_t put = 0;
  for (int32_t done = 0; done < height_;) {
    Slot& s = slots_[put];
    {
      std::unique_lock<std::mutex> lock(mutex_);
      cv_.wait(lock, [&] { return stop_ || !s.full; });
      if (stop_) return;
    }
    const int32_t want = std::min(chunk_, height_ - done);
    const int32_t got = img_read_line(in_, s.lines.data(), want);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      s.count = got == want ? got : -1;
      s.full = true;
    }
    cv_.notify_all();
    if (got != want) return;
    done += got;
    put = (put + 1) % slots_.size();
  }
  // The end: an empty chunk.
  Slot& s = slots_[put];
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait(lock, [&] { return stop_ || !s.full; });
  s.count = 0;
  s.full = true;
  cv_.notify_all();
}

int32_t ReadAhead::Next(const uint8_t** lines) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (holding_) {
    // The chunk handed out last time goes back to the reader.
    slots_[(take_ + slots_.size() - 1) % slots_.size()].full = false;
    holding_ = false;
    cv_.notify_all();
  }
  Slot& s = slots_[take_];
  cv_.wait(lock, [&] { return s.full; });
  *lines = s.lines.data();
  if (s.count <= 0) return s.count;  // stays full: later calls see the same end
  take_ = (take_ + 1) % slots_.size();
  holding_ = true;
  return s.count;
}

}  // namespace klvrip
