// SPDX-License-Identifier: MIT
// The pages of one job as the file driver writes them: each page's TIFF
// strips, its preview and the dots of every separation. Lines are taken on
// the calling thread; when the process may use more than one core they are
// copied into a ring of bands and two worker threads take them from there
// (one encodes and writes the TIFF strips, the other counts the preview and
// the dots), while a third encodes the preview PNG as its rows are done; so
// the caller goes on reading its next lines meanwhile. The bytes written are the
// same either way.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "file_output.h"

namespace klvdrv {

// True when the process may run on more than one core.
bool SeveralCores();

class PageWriter {
 public:
  // `threaded`: pages are written by worker threads (else on the caller's).
  explicit PageWriter(bool threaded) : threaded_(threaded) {}
  ~PageWriter();
  PageWriter(const PageWriter&) = delete;
  PageWriter& operator=(const PageWriter&) = delete;

  bool Open(const std::string& path);
  // Stops a page in progress and closes the TIFF; false when its last
  // bytes could not be written.
  bool Close();
  bool IsOpen() const { return tiff_.IsOpen(); }

  bool StartPage(const PrintShape& shape, const std::vector<Separation>& separations,
                 const std::string& page_name, uint16_t page);
  // Takes `count` lines of the page, in order. False when the page's TIFF
  // could not be written (by this call, or earlier by the worker).
  bool AddLines(const uint8_t* lines, uint32_t count);
  enum class End { kDone, kTiffFailed, kPngFailed };
  // Ends the page: the rows not sent are blank, the page's directory is
  // written, then the preview goes to `png` (not when the TIFF failed).
  End EndPage(const std::string& png);
  // Stops the page in progress: the workers stop and nothing more of the
  // page is written.
  void StopPage();

  // The dots of each separation counted since the last reset (every line
  // taken so far counted).
  const uint64_t* Dots();
  void ResetDots();

  // The plain encoders and counters (tests compare the paths).
  void SetPlain(bool plain);

 private:
  // Bands of about 128 KB (at least a line, at most a strip of 32 lines):
  // enough of them that a worker the system let wait a few milliseconds
  // does not stop the caller.
  static constexpr uint32_t kBands = 16, kBandLines = 32;
  static constexpr size_t kBandBytes = 128 * 1024;
  struct Band {
    uint8_t* data = nullptr;  // in ring_
    uint32_t first = 0, lines = 0;
  };
  bool ReserveRing(size_t bytes);
  // The workers that take the bands, and the one that encodes the PNG.
  enum Worker { kTiff = 0, kPreview = 1, kWorkers = 2, kPng = 2 };

  // What each worker does with a band of lines.
  bool WriteTiff(const uint8_t* lines, uint32_t first, uint32_t count);
  void CountPreview(const uint8_t* lines, uint32_t first, uint32_t count);
  void Run(Worker worker);
  void RunPng();
  void StartPreview();
  bool StartWorkers();
  // Hands the band being filled to the workers.
  void Publish();
  // Waits until the band to fill next is free; false when the page stopped.
  bool WaitForRoom();
  // Waits until the workers have taken every band handed over.
  void Drain();
  // Ends the workers: after the bands handed over (`finish`), or at once.
  void JoinWorkers(bool finish);
  bool TiffFailed();

  const bool threaded_;
  TiffPages tiff_;
  Preview preview_;
  DotCounter counter_;
  PrintShape shape_;
  std::vector<Separation> separations_;
  uint32_t row_ = 0;
  uint32_t band_lines_ = kBandLines;
  std::array<uint64_t, kMaxChannels> dots_{};
  std::vector<uint8_t> png_;  // the preview, encoded by the preview worker
  bool png_begun_ = false, png_ok_ = false;

  // The ring: bands [produced_ - kBands, produced_) may be in the workers'
  // hands; consumed_[w] is the count worker w is done with.
  LargeBlockPtr ring_;
  size_t ring_bytes_ = 0;
  std::array<Band, kBands> bands_;
  std::array<std::thread, kWorkers + 1> threads_;
  // The page in progress: none (or failed, or stopped), written here, or by
  // the workers.
  enum class Mode { kNone, kHere, kThreaded } mode_ = Mode::kNone;
  std::mutex mutex_;
  std::condition_variable work_, room_, png_rows_;
  uint32_t png_ready_ = 0;     // the preview rows done
  bool preview_done_ = false;  // every line counted: the PNG can end
  uint64_t produced_ = 0;
  std::array<uint64_t, kWorkers> consumed_{};
  bool ending_ = false, stop_ = false, tiff_failed_ = false;
  bool tiff_ended_ = false;  // the page's end written
  Band* filling_ = nullptr;  // the band the caller is filling (caller's thread only)
};

}  // namespace klvdrv
