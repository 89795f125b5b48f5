// SPDX-License-Identifier: MIT
// The screen ruling and angle of `klvrip screen --lpi L --angle A` as a
// screen setup for HTPlaceAlloc.
#pragma once

#include "klv/kernel_stral.h"
#include "klv/screen_setup.h"

namespace klvrip {

// Name of the setup built from --lpi/--angle (not a number, not "Default":
// the setup conversion then makes one screen per colour).
inline constexpr const char* kOptionSetupName = "klvrip";

// Angle of each colour's screen against the black angle: cyan 30 degrees
// below it, magenta 30 above, yellow 45 below (15, 75, 0 and 45 for black at
// 45). Gray is screened at the black angle.
struct ColourAngle {
  const char* colour;
  double offset;
};
inline constexpr ColourAngle kColourAngles[4] = {
    {"Cyan", -30}, {"Magenta", 30}, {"Yellow", -45}, {"Black", 0}};

// The setup conversion makes a cell of 8 x the lower resolution / ruling
// device pixels; a setup ruling of kRulingScale x L gives the cell of L lines
// per inch (lower resolution / L pixels).
inline constexpr double kRulingScale = 8;
// The conversion reads rulings below 20 as 20.
inline constexpr double kMinLpi = 20 / kRulingScale;

// Whether a ruling is usable at the device resolution: finite, at least
// kMinLpi and a screen cell of at least 2 device pixels (lpi <= lower
// resolution / 2). False also for a non-finite angle or one beyond +-360
// degrees.
bool screen_ruling_ok(double lpi, double angle, double xres, double yres);

// A setup with one entry per colour ("Cyan", "Magenta", "Yellow", "Black")
// whose screens have `lpi` lines per inch (setup ruling kRulingScale x lpi)
// and the colour's angle, angles brought into 0..360. Freed
// with free_screen_settings; null when memory runs out.
_SCREENSETUP* screen_setup_of(double lpi, double angle);

// The colour list that goes with it for `separations` output separations:
// "Black" alone for gray, else the four process colours in separation order.
// Freed with stral_free; null when memory runs out.
SSTRAL* screen_colours_of(int separations);

}  // namespace klvrip
