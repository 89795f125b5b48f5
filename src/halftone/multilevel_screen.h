// SPDX-License-Identifier: MIT
// The screen a multi-level screen engine uses, shared by the plain and the
// variable-dot forms.
#pragma once

#include <cstdint>

#include "klv/halftone_screen.h"
#include "klv/log.h"

namespace klv::halftone {

// Copies the placement's screen for separation `sep` as the one-bit screen
// engines choose it (phase 0 below the number of screens, else a phase drawn
// from the separation's seed) and sets the engine's tone range: 256 for 8-bit thresholds, the
// screen's levels for 16-bit ones.
template <class T>
bool select_ml_screen(CHTPlacement* placement, int sep, CHTThreshTable<T>& screen,
                      uint32_t& range) {
  auto* p = dynamic_cast<CHTPlaceScreen<T>*>(placement);
  if (!p || p->GetNumScreens() == 0) {
    KLV_LOG(KLV_LOG_ERROR, "multi-level screen engine: the placement holds no screens");
    return false;
  }
  const int n = p->GetNumScreens();
  T** rows;
  uint32_t w, levels;
  uint16_t h, shift;
  if (!p->GetScreen(sep % n, rows, w, h, shift, levels) || !w || !h) return false;
  uint32_t cp = 0, rp = 0;
  if (sep >= n) {
    HTSeedPhase(placement->SepSeed(sep), w, h, cp, rp);
  }
  if (!screen.CopyPhase(rows, w, h, shift, levels, cp, rp)) {
    KLV_LOG(KLV_LOG_ERROR, "multi-level screen engine: no memory for a screen copy");
    return false;
  }
  if constexpr (sizeof(T) == 1) {
    range = 256;
  } else {
    if (levels < 2 || levels > 65536) return false;
    range = levels;
  }
  return true;
}

}  // namespace klv::halftone
