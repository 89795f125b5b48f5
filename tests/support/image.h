// SPDX-License-Identifier: MIT
// In-memory image streams for the suites: descriptions, a readable image of
// any line layout with pages and planes that counts its seeks and reads, a
// tiled image, and a sink that records what is written to it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "klv/cimg_file.h"

namespace klv::test {

// An 8-bit-friendly description at 100 dpi: `planar` is the line layout.
image_info describe(int32_t w, int32_t h, uint32_t samples, uint32_t bits, int32_t photo,
                    uint32_t planar = KLV_PLANAR_PIXEL);
// The same with `masks` mask samples after the colour samples.
image_info describe_masked(int32_t w, int32_t h, uint32_t samples, uint32_t bits, int32_t photo,
                           uint32_t masks);
// Layout first, for the layout tables: black-is-zero samples at 100x200 dpi
// (unequal, so that rotations that forget to swap the resolutions show).
image_info make_info(int32_t w, int32_t h, uint32_t bits, uint32_t samples, uint32_t planar,
                     uint32_t pages = 1);

// Planes a line-oriented image of this description is stored in.
uint32_t planes_of(const image_info& info);
// Sample k of pixel x in one line of the given layout (for planar images the
// line is already the plane's row and k must be 0).
uint32_t get_sample(const image_info& info, const uint8_t* line, uint32_t x, uint32_t k);
// Deterministic bytes that differ between neighbouring chunks and between seeds.
std::vector<uint8_t> pattern_bytes(size_t size, uint32_t seed = 1);

// Lines held in memory: every page, then every plane of the page, then every
// line of the plane. Readable and seekable; counts seeks and lines read.
class MemImage : public CIMG_file {
 public:
  // Filled with pattern_bytes.
  explicit MemImage(const image_info& info);
  // `data` in the order above; missing bytes read as 0.
  MemImage(const image_info& info, std::vector<uint8_t> data);

  const uint8_t* Line(uint32_t page, uint32_t plane, uint32_t line) const;
  int32_t ReadLine(unsigned char* buffer, int32_t count) override;
  int32_t SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence) override;
  // Counters that outlive the object (the handle deletes it at close).
  void Count(int64_t* seeks, int64_t* reads) {
    seeks_ = seeks;
    reads_ = reads;
  }

 private:
  std::vector<uint8_t> data_;
  int32_t page_ = 0;
  int64_t own_seeks_ = 0, own_reads_ = 0;
  int64_t* seeks_ = &own_seeks_;
  int64_t* reads_ = &own_reads_;
};

// A tiled 8-bit image: the full picture in pixel-interleaved (layout 8) or
// planar (layout 9) form, cut into tiles on demand; partial edge tiles are
// padded with 0xEE so that stray padding shows in results. Written tiles land
// in `sink` when the stream is written to.
class MemTiles : public CIMG_file {
 public:
  // `pixels`: width*height*spp bytes in pixel-interleaved order.
  MemTiles(int w, int h, int spp, int tw, int th, bool planar, std::vector<uint8_t> pixels);
  // Tiles hold line-interleaved rows (layout 10): each tile row is every
  // plane's run of the row in turn.
  void line_interleaved();
  int32_t ReadTile(unsigned char* buffer, int32_t count) override;
  int32_t WriteTile(unsigned char* buffer, int32_t count) override;
  int32_t SeekTile(int32_t tile, int32_t plane, int32_t page, int32_t whence) override {
    return SetSeekTile(tile, plane, page, whence);
  }

  std::vector<uint8_t> m_pixels;
  std::vector<uint8_t>* sink = nullptr;
  int m_spp;
  bool m_planar;
  bool m_lines = false;
  int reads = 0;

 private:
  int unit() const { return m_planar || m_lines ? 1 : m_spp; }
  size_t at(int u, int v, int s) const;
  int channel(int s) const { return m_planar ? m_plane : s; }
  int samples_in_tile() const { return m_lines ? m_spp : unit(); }
};

// What a Sink was given; it outlives the stream.
struct SinkLog {
  image_info info{};                         // the sink's description
  std::vector<uint8_t> bytes;                // every line taken, in order
  std::vector<std::vector<uint8_t>> planes;  // lines by plane and position, 0xEE where none came
  int closes = 0;
  int seeks = 0;
  int written = 0;        // lines taken
  int refuse_after = -1;  // lines taken before writes are refused
  bool refuse_seeks = false;
};

// A writable stream that records lines into a SinkLog. Lines past the
// described height are refused.
class Sink : public CIMG_file {
 public:
  Sink(const image_info& info, SinkLog* log);
  // Shares the log; a sink that fails after `fail_after` lines refuses seeks too.
  Sink(const image_info& info, std::shared_ptr<SinkLog> log, int fail_after = -1);
  ~Sink() override;
  int32_t WriteLine(unsigned char* buffer, int32_t count) override;
  int32_t SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence) override;

 private:
  std::shared_ptr<SinkLog> shared_;
  SinkLog* log_;
};

}  // namespace klv::test
