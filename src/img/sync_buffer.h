// SPDX-License-Identifier: MIT
// The ring of the threaded write stage and its worker (sync_buffer.cpp).
#pragma once

#include <cstdint>
#include <vector>

#include "klv/img.h"
#include "klv/platform.h"

// The ring between the producer and the worker. It owns the output stream
// from construction on.
class CSyncBuffer {
 public:
  CSyncBuffer(IMG_file* output, uint32_t capacity_lines, uint32_t line_bytes);
  CSyncBuffer(const CSyncBuffer&) = delete;
  CSyncBuffer& operator=(const CSyncBuffer&) = delete;
  // Finish(), when it has not run.
  virtual ~CSyncBuffer();

  // Producer side: copies up to `count` lines into the ring, waiting while it
  // is full. Returns the lines accepted, limited to what the output still
  // needs; 0 once the output has failed.
  virtual int32_t Write(const uint8_t* lines, int32_t count);
  // The worker's body; true when the output was closed normally.
  virtual bool Run();
  // Asked of the output under the lock: -1 once a write of the output or its
  // close failed, 1 once it was closed after its last line.
  virtual int32_t GetStatus(int32_t what);
  virtual image_profile* GetProfile();
  virtual image_cmap* GetCmap();

  // Starts the worker. False when the thread cannot start.
  bool Start();
  // Hands the output back to the caller (only before Start).
  IMG_file* ReleaseOutput();
  // True once the worker has ended with a failing output.
  bool Failed() const;
  // Stops the worker when the output has not had all its lines (the lines
  // already accepted are still written), joins it and closes the output if
  // the worker has not. Returns 0 when the output kept every line written
  // into it, -1 when a write failed or closing the output lost data. Only the
  // first call does the work; later ones return the same status.
  int32_t Finish();
  uint32_t Capacity() const { return capacity_; }

 private:
  // Takes the output pointer under the lock and closes it (once).
  void CloseOutput();

  mutable klv::platform::Mutex lock_;  // counters, indices and the output pointer
  klv::platform::Mutex output_lock_;   // calls into the output stream
  klv::platform::Event space_available_{klv::platform::Event::Mode::kAutoReset};
  klv::platform::Event data_available_{klv::platform::Event::Mode::kAutoReset};
  klv::platform::Event abort_{klv::platform::Event::Mode::kAutoReset};
  const uint32_t capacity_;
  const uint32_t line_bytes_;
  std::vector<uint8_t> ring_;
  uint32_t write_index_ = 0;
  uint32_t read_index_ = 0;
  uint32_t filled_ = 0;
  uint64_t total_ = 0;
  uint64_t height_ = 0;
  bool failed_ = false;
  bool closed_normally_ = false;
  bool run_result_ = false;
  bool close_failed_ = false;  // the output's close reported lost data
  bool finished_ = false;
  IMG_file* output_;
  klv::platform::Thread thread_{"klv-writer"};
};
