// SPDX-License-Identifier: MIT
// CSyncBuffer: the ring between a producer and the worker that drains it
// into the output stream.
#include <algorithm>
#include <array>
#include <cstring>

#include "klv/log.h"
#include "klv/threadfilter.h"
#include "img/sync_buffer.h"

using klv::platform::Event;
using klv::platform::Lock;

CSyncBuffer::CSyncBuffer(IMG_file* output, uint32_t capacity_lines, uint32_t line_bytes)
    : capacity_(capacity_lines),
      line_bytes_(line_bytes),
      ring_(size_t{capacity_lines} * line_bytes),
      height_(output ? static_cast<uint32_t>(output->info.height) : 0),
      output_(output) {}

CSyncBuffer::~CSyncBuffer() {
  Finish();
}

int32_t CSyncBuffer::Finish() {
  if (!finished_) {
    finished_ = true;
    {
      Lock guard(lock_);
      if (output_ && total_ < height_) abort_.Set();
    }
    thread_.Join();
    CloseOutput();
  }
  Lock guard(lock_);
  return failed_ || close_failed_ ? -1 : 0;
}

bool CSyncBuffer::Start() {
  return thread_.Start([this] { run_result_ = Run(); });
}

IMG_file* CSyncBuffer::ReleaseOutput() {
  Lock guard(lock_);
  IMG_file* out = output_;
  output_ = nullptr;
  return out;
}

bool CSyncBuffer::Failed() const {
  Lock guard(lock_);
  return failed_;
}

void CSyncBuffer::CloseOutput() {
  IMG_file* out;
  {
    Lock guard(lock_);
    out = output_;
    output_ = nullptr;
  }
  if (!out) return;
  int32_t status;
  {
    Lock guard(output_lock_);
    status = img_close_status(out);
  }
  if (status != 0) {
    Lock guard(lock_);
    close_failed_ = true;
  }
}

int32_t CSyncBuffer::Write(const uint8_t* lines, int32_t count) {
  if (!lines || count < 1) return 0;
  {
    Lock guard(lock_);
    if (failed_) return 0;
    uint64_t left = height_ > total_ ? height_ - total_ : 0;
    if (static_cast<uint64_t>(count) > left) count = static_cast<int32_t>(left);
  }
  const std::array<Event*, 2> waits{&space_available_, &abort_};
  int32_t accepted = 0;
  while (accepted < count) {
    uint32_t n = 0, at = 0;
    {
      Lock guard(lock_);
      if (failed_) return 0;
      uint32_t free_lines = capacity_ - filled_;
      if (free_lines) {
        n = std::min(
            {static_cast<uint32_t>(count - accepted), free_lines, capacity_ - write_index_});
        at = write_index_;
      }
    }
    if (n == 0) {
      if (Event::WaitAny(waits) == 1) {
        abort_.Set();  // let other waiters see it too
        return 0;
      }
      continue;
    }
    // The free part of the ring is the producer's alone.
    std::memcpy(ring_.data() + size_t{at} * line_bytes_,
                lines + static_cast<size_t>(accepted) * line_bytes_, size_t{n} * line_bytes_);
    {
      Lock guard(lock_);
      write_index_ = (write_index_ + n) % capacity_;
      filled_ += n;
      total_ += n;
    }
    data_available_.Set();
    accepted += static_cast<int32_t>(n);
  }
  return accepted;
}

bool CSyncBuffer::Run() {
  const std::array<Event*, 2> waits{&data_available_, &abort_};
  for (;;) {
    uint32_t n = 0, at = 0;
    IMG_file* out = nullptr;
    {
      Lock guard(lock_);
      if (filled_ == 0 && total_ >= height_) {
        closed_normally_ = true;
      } else if (filled_) {
        n = std::min(filled_, capacity_ - read_index_);
        at = read_index_;
        out = output_;
      }
    }
    if (n == 0) {
      bool done;
      {
        Lock guard(lock_);
        done = closed_normally_;
      }
      if (done) {
        CloseOutput();
        return true;
      }
      if (Event::WaitAny(waits) == 1) {
        // Stopped before the output's last line: write nothing more.
        CloseOutput();
        abort_.Set();
        return true;
      }
      continue;
    }
    int32_t written = 0;
    if (out) {
      Lock guard(output_lock_);
      // The filled part of the ring is the worker's alone.
      written =
          img_write_line(out, ring_.data() + size_t{at} * line_bytes_, static_cast<int32_t>(n));
    }
    if (written <= 0) {
      uint64_t drained;
      {
        Lock guard(lock_);
        failed_ = true;
        drained = total_ - filled_;
      }
      KLV_LOG(KLV_LOG_ERROR, "write stage: the output took no lines after %llu lines",
              static_cast<unsigned long long>(drained));
      CloseOutput();
      abort_.Set();
      return false;
    }
    {
      Lock guard(lock_);
      read_index_ = (read_index_ + static_cast<uint32_t>(written)) % capacity_;
      filled_ -= static_cast<uint32_t>(written);
    }
    space_available_.Set();
  }
}

int32_t CSyncBuffer::GetStatus(int32_t what) {
  {
    Lock guard(lock_);
    if (failed_ || close_failed_) return -1;
  }
  Lock guard(output_lock_);
  IMG_file* out;
  {
    Lock inner(lock_);
    out = output_;
  }
  return out ? img_status(out, what) : 1;
}

image_profile* CSyncBuffer::GetProfile() {
  Lock guard(output_lock_);
  IMG_file* out;
  {
    Lock inner(lock_);
    out = output_;
  }
  return out ? img_get_profile(out) : nullptr;
}

image_cmap* CSyncBuffer::GetCmap() {
  Lock guard(output_lock_);
  IMG_file* out;
  {
    Lock inner(lock_);
    out = output_;
  }
  return out ? img_get_cmap(out) : nullptr;
}
