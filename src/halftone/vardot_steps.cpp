// SPDX-License-Identifier: MIT
// The variable-dot offset step shared by the variable-dot engines: the level
// curves as 512-entry tables, the code offsets, and the variable-dot screen
// of a separation.
#include <algorithm>
#include <cstdlib>
#include <new>

#include "klv/halftone_ml.h"
#include "klv/log.h"

void HTVarDotSteps::Reduce(uint32_t range) {
  uint32_t r = range ? range - 1 : 0;
  shift = 0;
  while (r > 511) {
    r >>= 1;
    ++shift;
  }
  top = uint16_t(r);
}

bool HTVarDotSteps::Build(const MLPROCCOLORINFO& rec, const MLPROCINFO* proc, int curve_no) {
  per_level = 0;
  const int n = std::clamp<int>(rec.levels, 1, KLV_MLPROC_LEVELS);
  const int count = std::min<int>(rec.level_curves, 32);
  if (count < n || count % n != 0) {
    KLV_LOG(KLV_LOG_WARNING, "variable-dot engine: %d level curves for %d levels; no offsets",
            count, n);
    return false;
  }
  const int k = count / n;
  try {
    curves.assign(size_t(count) * 512, 0);
    block.assign(256, -1);
  } catch (const std::bad_alloc&) {
    KLV_LOG(KLV_LOG_ERROR, "variable-dot engine: no memory for its curves");
    return false;
  }
  // Each curve's break points scaled to the reduced range and joined by
  // straight lines; entries after the last point repeat its value.
  const int r = top;
  for (int c = 0; c < count; ++c) {
    uint16_t* out = curves.data() + size_t(c) * 512;
    int px = -1, py = 0;
    for (int j = 0; j < KLV_MLPROC_CURVE_PAIRS; ++j) {
      if (j > 0 && rec.curve[c][j][0] == 0) break;
      const int x = int(rec.curve[c][j][0]) * r / 255, y = rec.curve[c][j][1];
      if (px < 0) {
        for (int i = 0; i <= x; ++i) out[i] = uint16_t(y);
      } else if (x > px) {
        for (int i = px; i <= x; ++i) out[i] = uint16_t(py + (y - py) * (i - px) / (x - px));
      }
      if (x > px) {
        px = x;
        py = y;
      }
    }
    for (int i = std::max(px + 1, 0); i < 512; ++i) out[i] = uint16_t(py);
  }
  for (int l = 0; l < n; ++l) block[rec.upper_code[l]] = int16_t(k * l);
  const int sh =
      proc && (proc->flags2 & 0x10) && curve_no == 0 && proc->output_bits > proc->code_bits
          ? proc->output_bits - proc->code_bits
          : 0;
  for (int j = 0; j <= k; ++j) offset[j] = uint8_t((rec.vardot_values[j] & 0xFF) << sh);
  per_level = k;
  return true;
}

bool HTVarDotScreenFor(CHTPlacement* placement, int sep, CHTThreshTable<unsigned char>& out) {
  auto* klv = dynamic_cast<CHTKlvPlacement*>(placement);
  CHTThreshArray<unsigned char>* vd = klv ? klv->VarDotScreens() : nullptr;
  if (!vd || vd->count == 0) return false;
  const int count = int(vd->count);
  const CHTThreshTable<unsigned char>& src = vd->tables[sep % count];
  if (!src.rows || !src.width || !src.height) return false;
  uint32_t cp = 0, rp = 0;
  if (sep >= count) {
    HTSeedPhase(placement->SepSeed(sep), src.width, src.height, cp, rp);
  }
  if (!out.CopyPhase(src.rows, src.width, src.height, src.shift, src.levels, cp, rp)) {
    KLV_LOG(KLV_LOG_ERROR, "variable-dot engine: no memory for its screen copy");
    return false;
  }
  return true;
}
