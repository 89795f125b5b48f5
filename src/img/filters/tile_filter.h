// SPDX-License-Identifier: MIT
// CTileFilter: a tiled stream read or written as lines.
#pragma once

#include <memory>
#include <vector>

#include "img/filters/tile_buffer.h"
#include "img/filters/tile_io.h"
#include "klv/cimg_file.h"

class CTileFilter : public CIMG_file {
 public:
  CTileFilter() = default;
  ~CTileFilter() override;
  CTileFilter(const CTileFilter&) = delete;
  CTileFilter& operator=(const CTileFilter&) = delete;

  // Takes ownership of `source` (closed on failure as well). rotation: bits 0-1
  // quarter turns, bit 2 mirror; start and extent: horizontal crop fractions.
  bool AttachTiledImg(IMG_file* source, int rotation, int interleave, double start, double extent);
  // Line streams are not for this filter.
  bool AttachScanlineImg(IMG_file* source);

  int32_t ReadLine(unsigned char* buffer, int32_t count) override;
  int32_t WriteLine(unsigned char* buffer, int32_t count) override;
  int32_t SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence) override;
  int32_t ReadTile(unsigned char*, int32_t) override { return 0; }
  int32_t WriteTile(unsigned char*, int32_t) override { return 0; }
  int32_t SeekTile(int32_t, int32_t, int32_t, int32_t) override { return -1; }
  int32_t GetStatus(int32_t what) override;
  image_cmap* GetCmap() override;
  image_profile* GetProfile() override;
  // Stores the tiles still being gathered and closes the source; -1 when a
  // tile could not be stored or the source lost written data.
  int32_t Close() override;

  char Mode() const { return m_mode; }

 private:
  void Locate(int32_t line, uint32_t* row, uint32_t* tile_line) const;
  bool FlushRow(uint32_t plane);

  IMG_file* m_src = nullptr;
  char m_mode = 'r';
  klv::img::CTileReader m_reader;
  klv::img::CTileWriter m_writer;
  std::vector<std::unique_ptr<klv::img::CTileBuffer>> m_buffers;
  uint32_t m_planes = 1;       // samples + mask_samples
  uint32_t m_tile_planes = 1;  // planes the tiles come in (planar sources)
  std::vector<int32_t> m_plane_line;
  std::vector<int64_t> m_held_row;  // tile row held by each buffer, -1 none
  uint32_t m_across = 0, m_first_col = 0;
  uint32_t m_tile_h = 0, m_first_lines = 0, m_y_off = 0;
  uint64_t m_start_px = 0;  // first delivered pixel inside the buffer line
  bool m_interleave = false;
};
