// SPDX-License-Identifier: MIT
// The pixel movers of the rotation filter: reversing a row of units and
// scattering one source row into a column of a band of output lines. A unit
// is one pixel (pixel-interleaved rows) or one sample (a plane row); it is
// `per` samples of `bits` bits each. The mover is chosen once per row shape.
#pragma once

#include <cstddef>
#include <cstdint>

namespace klv::img {

struct RowShape {
  uint32_t bits = 8;  // bits per sample
  uint32_t per = 1;   // samples per unit
};

// Reverses the order of `n` units: out unit i = in unit n - 1 - i. Padding
// bits after the last unit are left as they are in `out`.
using ReverseFn = void (*)(const RowShape& shape, const uint8_t* in, uint8_t* out, uint32_t n);

// Scatters units of one source row into column `column` of the band lines
// [0, lines): band line k receives source unit first + k (step +1) or
// first - k (step -1). `band` is the first band line's row start, `stride` the
// bytes from one band line to the next.
using ScatterFn = void (*)(const RowShape& shape, const uint8_t* in, int64_t first, int32_t step,
                           uint8_t* band, size_t stride, uint32_t column, uint32_t lines);

ReverseFn pick_reverse(const RowShape& shape);
ScatterFn pick_scatter(const RowShape& shape);
// The names of the picked movers, for tests ("bytes4", "packed", ...).
const char* reverse_name(const RowShape& shape);
const char* scatter_name(const RowShape& shape);

}  // namespace klv::img
