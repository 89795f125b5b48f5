// SPDX-License-Identifier: MIT
// The arithmetic of a step-and-repeat page: the pattern's and the page's
// pixel sizes, the periods, gaps, step and grid offsets, and where each page
// pixel falls in the grid of copies.
#pragma once

#include <cstdint>

#include "klv/repeat.h"

namespace klv::img {

struct RepeatGeometry {
  int32_t pattern_w = 0, pattern_h = 0;  // one copy, pixels
  int32_t page_w = 0, page_h = 0;
  double xres = 0, yres = 0;           // page pixels per inch
  int32_t gap_x = 0, gap_y = 0;        // pixels and lines; negative overlaps
  int32_t period_x = 0, period_y = 0;  // Pc in pixels, Pr in lines (at least 1)
  int32_t step = 0;                    // lines (vertical step) or pixels (horizontal step)
  int32_t col_offset = 0, row_offset = 0;
  bool step_vertical = false;
  bool flip_h = false, flip_v = false;
  int32_t skip_x = 0,
          skip_y = 0;  // pattern columns/lines hidden at the start of an overlapped copy
};

// Floor division and the matching remainder (0 .. d - 1) for d > 0.
inline int64_t floor_div(int64_t a, int64_t d) {
  return a >= 0 ? a / d : -((-a + d - 1) / d);
}

// The page and pattern sizes for a pattern image of src_w x src_h (already
// cropped), the periods and the step. False when a size comes out as 0 or
// beyond 2^31 pixels.
bool repeat_geometry(const RepeatFilterInfo& s, int32_t src_w, int32_t src_h, RepeatGeometry* g);

// XOffset/YOffset brought into the open interval -1 .. 1.
double repeat_wrap_offset(double v);

}  // namespace klv::img
