// SPDX-License-Identifier: MIT
// --lpi/--angle of klvrip screen as a screen setup and colour list.
#include "screen_options.h"

#include <cmath>
#include <cstdio>

namespace klvrip {

bool screen_ruling_ok(double lpi, double angle, double xres, double yres) {
  if (!std::isfinite(lpi) || !std::isfinite(angle) || std::fabs(angle) > 360) return false;
  const double res = xres < yres ? xres : yres;
  return lpi >= kMinLpi && lpi <= res / 2;
}

_SCREENSETUP* screen_setup_of(double lpi, double angle) {
  _SCREENSETUP* setup = new_screen_setup(kOptionSetupName);
  if (!setup) return nullptr;
  char ruling[32];
  std::snprintf(ruling, sizeof ruling, "%.6g", lpi * kRulingScale);
  for (const ColourAngle& c : kColourAngles) {
    double a = std::fmod(angle + c.offset, 360.0);
    if (a < 0) a += 360;
    char degrees[32];
    std::snprintf(degrees, sizeof degrees, "%.6g", a);
    // Dot shape 0: the conversion's default round-square dot.
    if (stral_addv(setup->entries, c.colour, ruling, degrees, "0",
                   static_cast<const char*>(nullptr)) < 0) {
      free_screen_settings(setup);
      return nullptr;
    }
  }
  return setup;
}

SSTRAL* screen_colours_of(int separations) {
  SSTRAL* list = _stral_new();
  if (!list) return nullptr;
  bool ok = true;
  if (separations == 1) {
    ok = stral_addv(list, "Black", static_cast<const char*>(nullptr)) >= 0;
  } else {
    for (const ColourAngle& c : kColourAngles)
      ok = ok && stral_addv(list, c.colour, static_cast<const char*>(nullptr)) >= 0;
  }
  if (!ok) {
    stral_free(list);
    return nullptr;
  }
  return list;
}

}  // namespace klvrip
