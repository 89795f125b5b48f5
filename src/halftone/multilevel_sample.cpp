// SPDX-License-Identifier: MIT
// A sample multi-level process record: a 2-bit printer with three drop sizes.
#include <cstring>

#include "klv/halftone_ml.h"

void MLProcSample(MLPROCINFO& rec, bool level_curves) {
  std::memset(&rec, 0, sizeof rec);
  rec.code_bits = 2;
  rec.output_bits = 2;
  rec.colors = KLV_MLPROC_COLORS;
  for (MLPROCCOLORINFO& c : rec.color) {
    if (level_curves) {
      // Curve mode: one curve per drop size over the tone axis. The small
      // drop rises to full cover at a third of the range and gives way to the
      // medium drop, which gives way to the large one; each curve falls to 0
      // after its last point.
      c.levels = 3;
      c.level_curves = 3;
      const uint8_t small[][2] = {{0, 0}, {85, 255}, {170, 255}, {255, 255}};
      const uint8_t medium[][2] = {{0, 0}, {85, 0}, {170, 255}, {255, 255}};
      const uint8_t large[][2] = {{0, 0}, {170, 0}, {255, 255}};
      std::memcpy(c.curve[0], small, sizeof small);
      std::memcpy(c.curve[1], medium, sizeof medium);
      std::memcpy(c.curve[2], large, sizeof large);
    } else {
      c.levels = 3;
    }
    for (int l = 0; l < 3; ++l) {
      c.upper_code[l] = uint8_t(l + 1);
      c.mid_code[l] = uint8_t(l);  // no middle drop: the lower drop of the level
      c.width[l] = 85;
    }
  }
}
