// SPDX-License-Identifier: MIT
// The file driver's output of one job: a multi-page TIFF of separations (one
// page per print, one plane per separation, 1, 2 or 4 bits a sample) and a PNG
// preview of each print, plus the dot counts per separation.
#pragma once

#include <tiffio.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "buffered_file.h"

namespace klvdrv {

inline constexpr int kMaxChannels = 16;
inline constexpr int kPreviewSide = 400;

// What one print looks like.
struct PrintShape {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t bits = 1;
  uint32_t channels = 1;
  double xres = 0;
  double yres = 0;
  size_t PlaneBytes() const { return (static_cast<size_t>(bits) * width + 7) / 8; }
  size_t LineBytes() const { return PlaneBytes() * channels; }
};

// One separation as the driver receives it: its name and display colour.
struct Separation {
  std::string name;
  uint8_t rgb[3] = {0, 0, 0};
};

// Counts the non-zero samples of one plane of a line, by a per-byte table;
// the unused bits at the end of the last byte are not counted.
class DotCounter {
 public:
  // The byte table alone (tests compare it with the population count).
  void SetPlain(bool plain) { plain_ = plain; }
  void SetShape(uint32_t bits, uint32_t width);
  uint64_t Count(const uint8_t* plane) const;

 private:
  bool plain_ = false, popcnt_ = false;
  std::array<uint8_t, 256> table_{};
  size_t bytes_ = 0;
  uint8_t tail_mask_ = 0xFF;  // the used bits of the last byte
};

// Counts the samples of one row of packed samples by value: counts[v - 1]
// for each value v from 1 to 2^bits - 1 (the drop sizes). Tables are built
// by SetShape; a row is counted a byte at a time.
class DropCounter {
 public:
  // False for bits other than 1, 2, 4 and 8.
  bool SetShape(uint32_t bits, uint32_t width);
  uint32_t Levels() const { return levels_; }
  size_t RowBytes() const { return bytes_; }
  // Adds the row's counts to counts[0 .. Levels() - 1]; gives the dots.
  uint64_t Count(const uint8_t* row, uint64_t* counts) const;

 private:
  uint32_t bits_ = 1, levels_ = 1;
  size_t bytes_ = 0;
  uint8_t tail_mask_ = 0xFF;
  // 1 and 2 bits: per byte, the count of each value in 16-bit fields.
  std::array<uint64_t, 256> packed_{};
};

// Accumulates a reduced RGB picture of a print, its longer side at most 400
// pixels, and writes it as PNG.
class Preview {
 public:
  // The plain per-pixel counting instead of the pair tables (tests compare
  // the two).
  void SetPlain(bool plain) { plain_ = plain; }
  bool Start(const PrintShape& shape, const std::vector<Separation>& separations);
  void AddLine(uint32_t row, const uint8_t* line);
  // Adds the lines counted but not yet summed (called by WritePng).
  void Flush();
  bool WritePng(const std::string& path);
  // The PNG's bytes (what WritePng writes), replacing `out`'s.
  bool EncodePng(std::vector<uint8_t>* out);
  // The same PNG made as the lines come: started (after Start) into `out`;
  // EncodeRows encodes the preview rows up to `end` (all of them done), and
  // EndPng flushes the counts and encodes the rest. False when libpng
  // failed. FinishPng is EndPng after Flush (which another thread may have
  // made): counting and encoding may go on beside each other, as long as
  // only rows done are encoded.
  bool BeginPng(std::vector<uint8_t>* out);
  void EncodeRows(uint32_t end);
  bool EndPng();
  bool FinishPng();
  // The preview rows whose sums are final.
  uint32_t RowsDone() const;

  Preview();
  ~Preview();
  Preview(const Preview&) = delete;
  Preview& operator=(const Preview&) = delete;

 private:
  // Lines whose channels' codes fit one byte (channels * bits <= 8) are
  // counted by combination of codes per preview pixel, 8 / bits pixels of a
  // plane a step through byte tables, and summed once per preview row.
  void AddLineByCombination(uint32_t row, const uint8_t* line);
  // The combination of codes of every pixel of a line into combo_.
  void Combine(const uint8_t* line);
  // With at most 16 combinations and spans of at most 254 pixels: pixels
  // are counted two at a time through a table of per-combination counts in
  // byte fields, summed per span and added to 16-bit fields per preview
  // pixel (pairs_).
  void AddLineByPairs();
  // One-bit samples and an even factor: the pair indices come straight from
  // the plane bytes (four pairs a byte through pair_spread_), no combination
  // bytes in between.
  void AddLineByPlanePairs(const uint8_t* line);
  void CountPairs(const uint8_t* pairs);
  // Adds the byte fields of bytes_ to pairs_ and clears them.
  void SpreadBytes();
  void SumCombinations();
  PrintShape shape_;
  uint32_t factor_ = 1, width_ = 0, height_ = 0;
  // Per channel and code, the factor each of R, G and B is multiplied by.
  std::vector<std::array<float, 3>> ink_;  // [channel * codes + code]
  uint32_t codes_ = 2;
  std::vector<float> sum_;       // width_ * height_ * 3
  std::vector<uint32_t> count_;  // width_ * height_
  std::vector<float> pixel_;     // one line of RGB
  uint32_t combos_ = 0;          // 2^(channels * bits) when counted by combination, else 0
  std::vector<std::array<float, 3>> combo_rgb_;  // the colour of each combination
  std::array<uint64_t, 256> spread_{};           // a plane byte's codes, one a byte of the word
  std::vector<uint8_t> combo_;                   // one line's combination per pixel (+ 8 spare)
  std::vector<uint32_t> hist_;                   // preview row: [pixel * combos_ + combination]
  int64_t hist_row_ = -1;                        // the preview row hist_ belongs to
  bool plain_ = false;
  bool by_pairs_ = false;
  // Byte-field counts of a pair of pixels [combo a | combo b << 4] and of
  // one pixel: [0] combinations 0-7, [1] 8-15.
  std::vector<std::array<uint64_t, 2>> pair_counts_, one_counts_;
  // Per preview pixel, 16-bit fields: [0] even and [1] odd combinations of
  // 0-7, [2] and [3] those of 8-15.
  std::vector<std::array<uint64_t, 4>> pairs_;
  bool plane_pairs_ = false;
  std::array<uint32_t, 256> pair_spread_{};  // byte k: pixel 2k | pixel 2k + 1 << 4
  std::vector<uint8_t> pair_index_;          // one line's pair indices (+ 4 spare)
  // Per preview pixel, byte fields as pair_counts_'s, of byte_lines_ lines
  // (at most max_byte_lines_).
  std::vector<std::array<uint64_t, 2>> bytes_;
  uint32_t byte_lines_ = 0, max_byte_lines_ = 1;
  bool ssse3_ = false;  // pair indices spread by byte shuffles
  // The PNG being made: libpng's state, the rows encoded so far.
  struct Png;
  std::unique_ptr<Png> png_;
  uint32_t png_rows_ = 0;
  bool png_failed_ = false;
  uint32_t next_row_ = 0;  // the row after the last one added
  void EndPngState();
};

// Writes `bytes` as the file `path`; false when they did not all reach it.
bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);

// Appends the PackBits code of one row to `out` (room for
// PackBitsBound(size) bytes), byte for byte as libtiff's encoder makes it;
// returns the end of the code. Runs of single bytes are copied a stretch at
// a time.
uint8_t* PackBitsRow(const uint8_t* row, size_t size, uint8_t* out);
inline size_t PackBitsBound(size_t size) {
  return size + size / 64 + 8;
}

// The multi-page TIFF of one job.
class TiffPages {
 public:
  ~TiffPages() { Close(); }
  TiffPages() = default;
  TiffPages(const TiffPages&) = delete;
  TiffPages& operator=(const TiffPages&) = delete;
  // Strips encoded by libtiff itself instead of PackBitsRow, and written by
  // libtiff's own file calls (tests compare the two).
  void SetPlain(bool plain) { plain_ = plain; }
  bool Open(const std::string& path);
  bool StartPage(const PrintShape& shape, const std::vector<Separation>& separations,
                 const std::string& page_name, uint16_t page);
  // Rows in order from 0.
  bool WriteLine(uint32_t row, const uint8_t* line);
  // Fills the rows not sent with zeros and finishes the page.
  bool EndPage();
  // False when the file's last bytes could not be written.
  bool Close();
  bool IsOpen() const { return tif_ != nullptr; }

 private:
  TIFF* tif_ = nullptr;
  BufferedFile file_;  // under tif_ (but for the plain path)
  PrintShape shape_;
  uint32_t rows_written_ = 0;
  std::vector<uint8_t> zero_;
  static constexpr uint32_t kStripRows = 32;
  std::vector<uint8_t> band_;  // kStripRows rows of each separation
  bool plain_ = false;
  // Encoded rows of the strip being filled, per separation.
  std::vector<std::vector<uint8_t>> coded_;
  std::vector<size_t> coded_size_;
  bool FlushCoded(uint32_t row);
};

}  // namespace klvdrv
