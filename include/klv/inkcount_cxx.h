// SPDX-License-Identifier: MIT
// CInkCountHT: measures the ink a halftoned (printer-ready) image will use by
// handing its lines to the printer driver's ink counting commands
// (SP_CMD_INK_START, SP_CMD_INK_LINE, SP_CMD_INK_FINISH). It counts a whole
// image read from a stream or a file, a fractional rectangle of it, or the
// lines written into it as an image stream, and keeps the driver's counts per
// ink and per drop size as plain arrays.
//
// The input is line-interleaved (KLV_PLANAR_LINES) or has one sample, with 1,
// 2, 4 or 8 bits per sample. Fractions select the rectangle: pixels from
// trunc(x_start * (width - 1)) to trunc(x_end * (width - 1)) inclusive, lines
// from trunc(y_start * (height - 1)) up to but not including
// trunc(y_end * (height - 1)); (0, 1, 0, 1) is the whole image. The rectangle
// is cut bit-exactly, so a one-bit crop that starts inside a byte counts only
// its own pixels.
#pragma once

#include <cstdint>
#include <vector>

#include "klv/cimg_file.h"
#include "klv/export.h"
#include "klv/printer_driver.h"

// Progress of a count.
class KLV_API ICountCallback {
 public:
  virtual ~ICountCallback();
  // After line `done` of `total` (the image's height).
  virtual void Progress(int32_t done, int32_t total) = 0;
};

class KLV_API CInkCountHT : public CIMG_file {
 public:
  CInkCountHT() : CInkCountHT(nullptr, nullptr, nullptr) {}
  // The printer object and its info are not owned.
  CInkCountHT(SP_OBJECT* printer, SP_INFO* info, void* job);
  CInkCountHT(const CInkCountHT&) = delete;
  CInkCountHT& operator=(const CInkCountHT&) = delete;
  ~CInkCountHT() override;

  // Prepares counting the image described by `input` and sends the start
  // command. `text` goes to the driver's info text, `job_text` is copied into
  // the counter record. True when the driver accepts it.
  bool Open(const image_info& input, const char* text, const char* job_text, uint32_t flags,
            double x_start, double x_end, double y_start, double y_end);
  // Counts an open image stream (it stays open); the finish command is sent
  // in every case. True when every line was read and counted.
  bool CountImage(IMG_file* image, const char* text, const char* job_text, uint32_t flags,
                  ICountCallback* progress, double x_start = 0, double x_end = 1,
                  double y_start = 0, double y_end = 1);
  // Counts the whole image file (opened with img_mux_open, type 5).
  bool CountImage(SOVolume* volume, const char* file, const char* text, const char* job_text,
                  uint32_t flags, ICountCallback* progress);
  // The driver's totals (SP_command code 5). True when the driver gives them.
  bool GetInkCount(_SP_DOT_COUNT* out);
  // Sends the finish command once; 0.
  int32_t Close() override;
  // Counts whole input lines written into the stream after Open (lines
  // outside the rectangle are taken and skipped). The lines taken; it stops
  // at the first the driver refuses; 0 without a printer object.
  int32_t WriteLine(unsigned char* lines, int32_t count) override;
  IMG_file* ToImg(char mode, int type) override;

  // The counts of the last count: Dots()[ink] for every ink, and
  // DropCounts()[ink * DropLevels() + size - 1] for drop sizes 1 to
  // DropLevels() (2^bits - 1).
  uint32_t Inks() const { return counter_.samples; }
  uint32_t DropLevels() const { return counter_.drop_levels; }
  const uint64_t* Dots() const { return counter_.dots; }
  const uint64_t* DropCounts() const { return drops_.data(); }
  const SP_INK_COUNTER& Counter() const { return counter_; }
  // Lines of the rectangle and bytes sent per line.
  int32_t Lines() const { return lines_; }
  uint32_t BytesPerLine() const { return bytes_per_line_; }

 private:
  bool SendLine(const uint8_t* input_line);
  void Finish();

  SP_OBJECT* printer_;
  SP_INFO* info_;
  void* job_;
  uint32_t flags_ = 0;
  uint32_t bytes_per_line_ = 0;  // sent per line
  uint32_t row_bytes_ = 0;       // cropped bytes per sample row
  int32_t first_line_ = 0;
  int32_t lines_ = 0;
  uint32_t first_pixel_ = 0;
  bool crop_ = false;
  bool open_ = false;
  image_info input_{};
  SP_INK_COUNTER counter_{};
  std::vector<uint64_t> drops_;
  std::vector<uint8_t> packed_;
};
