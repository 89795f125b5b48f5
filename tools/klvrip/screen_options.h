// SPDX-License-Identifier: MIT
// The options of `klvrip screen`: their table and checks, and the screen
// ruling and angle of --lpi L --angle A as a screen setup for HTPlaceAlloc.
#pragma once

#include <vector>

#include "cli.h"
#include "color_options.h"
#include "klv/kernel_stral.h"
#include "klv/screen_setup.h"

namespace klvrip {

// What `klvrip screen` was asked to do.
struct ScreenArgs {
  const char* in = nullptr;
  const char* out = nullptr;
  int method = 4;  // placement method number
  int bits = 1;    // bits per dot
  int threads = 1;
  double xres = 0, yres = 0;  // 0: the input's resolution (72 when unknown)
  int width = 0, height = 0;  // 0: the input's size at the output resolution
  const char* preview = nullptr;
  double lpi = 0;  // 0: the method's own screens
  double angle = 45;
  bool have_angle = false;
  ColorArgs color;  // gray, RGB and L*a*b* go through these to the printer's CMYK
};

extern const CommandHelp kScreenHelp;

// The method number of a name ("screen", "diffusion", ...) or a number
// below 1000; -1 for anything else.
int screen_method_of(const char* text);
// Whether a method screens with generated screens (--lpi applies).
bool screen_method_is_screened(int method);
// The option table of `klvrip screen`, storing into `args`.
std::vector<Option> screen_option_table(ScreenArgs* args);
// Parses the arguments after "screen" into `args` and checks how the options
// go together (--angle needs --lpi; --lpi only for screened methods).
// kUsageError has printed its message; kHelp the help.
Parsed parse_screen_args(int argc, char** argv, ScreenArgs* args);

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
