/* SPDX-License-Identifier: MIT */
/* The threaded write stage: an IMG_file opened for writing that copies the
 * lines written into it into a ring and returns at once while there is room;
 * a worker thread of its own drains the ring into the output stream.
 *
 * Every way the stage ends joins the worker and closes the output once: the
 * worker closes it after the output's last line (or when a write fails), and
 * closing the stage waits for the worker to write what it holds. Closing the
 * stage before the output's last line was written stops the worker once the
 * ring is drained and closes the output all the same. The stage's close
 * status (img_close_status) fails when a write of the worker failed or when
 * closing the output lost data. */
#ifndef KLV_THREADFILTER_H
#define KLV_THREADFILTER_H

#include <stdint.h>

#include "klv/export.h"
#include "klv/img.h"

KLV_BEGIN_C

/* Puts a write stage with a ring of `buffer_bytes` (whole lines) in front of
 * `output`, which must be open for writing and pixel- or line-interleaved.
 * Returns the stage (mode 'w', type 0), which owns `output`; on failure null,
 * and `output` is closed. */
KLV_API IMG_file* threadfilter_attach(IMG_file* output, uint32_t buffer_bytes);

KLV_END_C

#ifdef __cplusplus

#include <memory>
#include <vector>

#include "klv/cimg_file.h"
#include "klv/platform.h"

// The ring between the producer and the worker. It owns the output stream
// from construction on.
class KLV_API CSyncBuffer {
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

// The stage as an image stream object.
class KLV_API CImgThreadFilter : public CIMG_file {
 public:
  CImgThreadFilter() = default;
  ~CImgThreadFilter() override;

  int32_t WriteLine(unsigned char* buffer, int32_t count) override;
  int32_t GetStatus(int32_t what) override;
  image_cmap* GetCmap() override;
  image_profile* GetProfile() override;
  // Writes what the ring holds, ends the worker and closes the output; 0 when
  // the output kept every line, -1 when a write or its close failed.
  int32_t Close() override;
  // Puts the stage in front of `output`. On success the stage owns it; on
  // failure (false) the caller still does.
  virtual bool Attach(IMG_file* output, uint32_t buffer_bytes);

 private:
  std::unique_ptr<CSyncBuffer> buffer_;
};

#endif

#endif
