// SPDX-License-Identifier: MIT
// Turning a screen setup (klv/screen_setup.h) into generated screens.
//
// A setup whose name is not a number, used with a job's colour list and not
// called "Default", gives one screen per colour from the colour's own entry,
// else the "Default" entry, else the "Black" entry: cell size = 8 x the lower
// resolution / ruling (ruling below 20 counts as 20, an empty ruling as 60),
// the entry's angle, and for placement kind 4 the entry's dot-shape number as
// the generator kind. Otherwise four screens are made; a numeric name gives
// their ruling, and options follow it: "150lpi-Precision" asks for the precise
// angle search, "150lpi-<HLNOP>" sets the dot-shape selector (H 2, L 1), the
// generator mode (N 2, O 1) or the precise search (P).
#pragma once

#include <vector>

#include "klv/halftone_screenmtx.h"
#include "klv/screen_setup.h"

// One screen to generate.
struct HTSetupScreen {
  int kind = 0;       // generator kind (HTScreenMtxCreate)
  double angle = 45;  // degrees
  double cell = 0;    // cell size in device pixels of the lower resolution
  int shape = 0;      // dot-shape selector
  int mode = 0;       // generator mode (carried; the generators have one mode)
};

struct HTSetupPlan {
  std::vector<HTSetupScreen> screens;
  bool per_colour = false;
  bool precise = false;
};

// The screens a setup asks for, for placement kind 1..5, `ncolors` colour
// names (may be 0) and the device resolutions. With the precise search the
// angles and cells are already the refined ones. False for a bad kind or
// resolution (logged).
KLV_API bool HTScreenSetupPlan(int kind, const _SCREENSETUP* setup, int ncolors,
                               const char* const* colors, double xres, double yres,
                               HTSetupPlan& plan);

// The precise angle search: an integer cell vector whose angle lies within
// 0.05 degrees of `angle`, as close to `cell` pixels long as possible, tried
// at lengths growing from `cell` by half a pixel for up to 1000 steps. Gives
// the vector's exact angle and length (the best found when none is within the
// tolerance) and returns whether the tolerance was met.
KLV_API bool HTPreciseAngle(double angle, double cell, double& angle_out, double& cell_out);

// Generates the planned screens into `place` (16-bit tables). False when any
// screen fails; the placement then holds no screens from this call's failure
// onwards and must not be used.
KLV_API bool HTScreenSetupApply(CHTPlaceKlvScreen& place, int kind, const _SCREENSETUP* setup,
                                int ncolors, const char* const* colors, double xres, double yres);
