// SPDX-License-Identifier: MIT
// A member file of a volume behind an SFilemux. It streams through one chunk
// buffer: a read or write inside the buffered chunk is a copy, a whole aligned
// chunk goes straight between the caller's buffer and the database, and
// moving to another chunk stores the buffered one first when it changed. The
// member's size reaches the members table on flush and close. Every chunk
// below the size is stored, a gap as empty chunks; a chunk that fails its
// check fails the read (and every later call) with a log line.
#pragma once

#include <cstdint>
#include <vector>

#include "kernel/stream.h"
#include "kernel/volume.h"

namespace klv::kernel {

class MemberStream final : public SFilemux {
 public:
  MemberStream(SOVolume* volume, int64_t member, int64_t size, const OpenMode& mode);
  ~MemberStream() override;

  size_t read(void* buffer, size_t count) override;
  size_t write(const void* buffer, size_t count) override;
  bool seek(int64_t offset, int origin) override;
  int64_t tell() override { return pos_; }
  int64_t length() override { return size_; }
  bool flush() override;
  bool finish() override;
  int getc() override;
  SOVolume* volume() const override { return volume_; }

  // Called by the volume when it closes under an open stream: the stream
  // stores what it holds and fails every later call.
  bool orphan();

 private:
  bool store_buffer();
  bool fill_buffer(int64_t index);
  // Before a write past the end: stores the chunks between the end and pos_.
  bool fill_gap();
  bool flush_locked();

  SOVolume* volume_;
  int64_t member_;
  int64_t size_;
  int64_t pos_ = 0;
  bool can_read_;
  bool can_write_;
  bool append_;
  bool size_changed_ = false;
  bool failed_ = false;
  int64_t chunk_size_;
  std::vector<uint8_t> buffer_;  // one chunk, allocated on first use
  int64_t buffer_index_ = -1;    // the chunk held in buffer_, or -1
  bool buffer_dirty_ = false;
};

}  // namespace klv::kernel
