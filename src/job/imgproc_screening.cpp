// SPDX-License-Identifier: MIT
// How pages are screened: the number of screening threads and the
// placement method of a dot pattern, shared by the job driver and the print
// frames that screen at print time.
#include <algorithm>
#include <thread>

#include "imgproc_internal.h"
#include "klv/printmode.h"
#include "klv/registry.h"

namespace klv::proc {

int threads_of(const ProcOptions& options) {
  if (options.threads > 0) return options.threads;
  if (klv_registry_get_int("MultiThreadedProcess", 0) <= 0) return 1;
  return int(std::max(1u, std::thread::hardware_concurrency()));
}

// The diffusions diffuse, the screens screen (the job's screen setup, else
// the built-in screens), and patterns without a method of their own take
// the built-in screens.
uint32_t method_of(int pattern) {
  switch (pattern) {
    case DP_FDRP_DIFFUSION:
    case DP_STOCHASTIC:
      return KLV_HTMETHOD_ERRDIF;
    case DP_FDRP_LINE:
    case DP_FDRP_PLUS:
      return KLV_HTMETHOD_ERRDIF_SCREEN;
    case DP_ORDERED_DITHER:
      return KLV_HTMETHOD_SCREEN_ORD;
    case DP_HALFTONE:
      return KLV_HTMETHOD_SCREEN_SPOT;
    case DP_LINE_SCREEN:
      return KLV_HTMETHOD_SCREEN_LINE;
    case DP_SMOOTH_SCREEN:
      return KLV_HTMETHOD_SCREEN_FUZZY;
    case DP_FDRP_ENHANCED:
      return KLV_HTMETHOD_VARCOEF;
    default:
      return KLV_HTMETHOD_SCREEN_BUILTIN;
  }
}

}  // namespace klv::proc
