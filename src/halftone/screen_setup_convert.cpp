// SPDX-License-Identifier: MIT
// Screen setups into generated screens: per-colour entries or four screens
// from a numeric setup name, with the precise angle search.
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "klv/halftone_setup.h"
#include "klv/kernel_stral.h"
#include "klv/log.h"
#include "klv/kernel_util.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTolerance = 0.05;  // degrees
constexpr int kSteps = 1000;

double round_half_up(double v) {
  return std::floor(v + 0.5);
}

// The entry array of a setup whose first text is `color`, or null.
const char* const* find_entry(const SSTRAL* entries, const char* color, int32_t* count) {
  const int32_t n = entries ? stral_count(entries) : 0;
  for (int32_t i = 0; i < n; ++i) {
    const char* const* a = stral_get(entries, i, count);
    if (a && *count >= 4 && a[0] && Ostricmp(a[0], color) == 0) return a;
  }
  return nullptr;
}

// Whether the name starts with a number; its value.
bool read_number(const char* name, double& value) {
  char* end = nullptr;
  value = std::strtod(name, &end);
  return end && end != name;
}

// The four screens of one ruling: 45 degrees, the two 17-degree screens and
// 90 degrees, with the cell vectors the generators round to.
void four_screens(double s, double out[4][2]) {
  const double r17 = 17.0 * kPi / 180.0;
  const double c = round_half_up(s / std::sqrt(2.0));
  const double a = round_half_up(s * std::cos(r17));
  const double b = round_half_up(s * std::sin(r17));
  const double specs[4][2] = {
      {90.0 + std::atan2(b, a) * 180 / kPi, std::sqrt(a * a + b * b)},
      {90.0 - std::atan2(a - c, b + c) * 180 / kPi,
       std::sqrt((a - c) * (a - c) + (b + c) * (b + c))},
      {90.0, round_half_up(s)},
      {45.0, c * std::sqrt(2.0)},
  };
  std::memcpy(out, specs, sizeof specs);
}

}  // namespace

bool HTPreciseAngle(double angle, double cell, double& angle_out, double& cell_out) {
  angle_out = angle;
  cell_out = cell;
  if (!(cell >= 1) || !std::isfinite(angle)) return false;
  const double rad = angle * kPi / 180.0;
  const double cs = std::cos(rad), sn = std::sin(rad);
  double best_err = 1e9;
  for (int k = 0; k < kSteps; ++k) {
    const double len = cell + 0.5 * k;
    const double x = round_half_up(len * cs), y = round_half_up(len * sn);
    if (x == 0 && y == 0) continue;
    const double a = std::atan2(y, x) * 180.0 / kPi;
    double err = std::fabs(std::remainder(a - angle, 360.0));
    if (err < best_err) {
      best_err = err;
      // The vector's own angle, kept in the turn the caller asked for.
      angle_out = angle + std::remainder(a - angle, 360.0);
      cell_out = std::sqrt(x * x + y * y);
    }
    if (err < kTolerance) return true;
  }
  return false;
}

bool HTScreenSetupPlan(int kind, const _SCREENSETUP* setup, int ncolors, const char* const* colors,
                       double xres, double yres, HTSetupPlan& plan) {
  plan = HTSetupPlan{};
  if (kind < 1 || kind > 5 || !(xres > 0) || !(yres > 0)) {
    KLV_LOG(KLV_LOG_ERROR, "screen setup: kind %d at %gx%g cannot be generated", kind, xres, yres);
    return false;
  }
  const double d = 8.0 * std::min(xres, yres);
  const char* name = setup ? setup->name : "";
  double number = 0;
  const bool numeric = read_number(name, number);

  if (setup && !numeric && ncolors > 0 && colors && Ostricmp(name, "Default") != 0) {
    plan.per_colour = true;
    double cell = d / 90.0;
    for (int i = 0; i < ncolors; ++i) {
      HTSetupScreen s;
      s.kind = kind;
      s.angle = 45.0;
      int32_t n = 0;
      const char* color = colors[i] ? colors[i] : "";
      const char* const* e = find_entry(setup->entries, color, &n);
      if (!e) e = find_entry(setup->entries, "Default", &n);
      if (!e) e = find_entry(setup->entries, "Black", &n);
      if (e) {
        if (kind == 4) {
          s.kind = std::atoi(e[3]);
          if (s.kind == 0) s.kind = 2;
        }
        const char* ruling = e[1] ? e[1] : "";
        if (!*ruling) {
          cell = d / 60.0;
        } else {
          const double lpi = std::atof(ruling);
          cell = lpi >= 20 ? d / lpi : d / 20.0;
        }
        s.angle = e[2] ? std::atof(e[2]) : 45.0;
        if (kind == 1) cell = 32;
        if (n >= 6) {
          s.shape = e[4] ? std::atoi(e[4]) : 0;
          s.mode = e[5] ? std::atoi(e[5]) : 0;
        }
      }
      s.cell = cell;
      plan.screens.push_back(s);
    }
    return true;
  }

  // Four screens from the setup name.
  const int gen_kind = kind == 4 ? 2 : kind;
  double cell = d / 90.0;
  int shape = 0, mode = 0;
  if (numeric && number != 0) {
    cell = number >= 20 ? d / number : d / 20.0;
    const std::string n(name);
    const std::string tail = "lpi-Precision";
    if (n.size() >= tail.size() && Ostricmp(n.c_str() + n.size() - tail.size(), tail.c_str()) == 0)
      plan.precise = true;
    if (const char* opt = std::strstr(name, "lpi-<")) {
      for (const char* p = opt + 5; *p && *p != '>'; ++p) {
        switch (std::toupper(static_cast<unsigned char>(*p))) {
          case 'H':
            shape = 2;
            break;
          case 'L':
            shape = 1;
            break;
          case 'N':
            mode = 2;
            break;
          case 'O':
            mode = 1;
            break;
          case 'P':
            plan.precise = true;
            break;
          default:
            break;
        }
      }
    }
  }
  double specs[4][2];
  four_screens(cell, specs);
  for (auto& sp : specs) {
    HTSetupScreen s;
    s.kind = gen_kind;
    s.angle = sp[0];
    s.cell = sp[1];
    s.shape = shape;
    s.mode = mode;
    plan.screens.push_back(s);
  }
  if (plan.precise) {
    // The search works in the generator's pixels (k device pixels of the
    // lower resolution when the resolutions differ).
    int xs, ys;
    const int k = HTStretchFactors(xres, yres, xs, ys);
    for (HTSetupScreen& s : plan.screens) {
      double a, c;
      HTPreciseAngle(s.angle, s.cell / k, a, c);
      s.angle = a;
      s.cell = c * k;
    }
  }
  return true;
}

bool HTScreenSetupApply(CHTPlaceKlvScreen& place, int kind, const _SCREENSETUP* setup, int ncolors,
                        const char* const* colors, double xres, double yres) {
  HTSetupPlan plan;
  if (!HTScreenSetupPlan(kind, setup, ncolors, colors, xres, yres, plan)) return false;
  for (const HTSetupScreen& s : plan.screens) {
    // An angle or ruling text such as "inf" or "nan" reads as a number the
    // generators cannot fold.
    if (!std::isfinite(s.angle) || !std::isfinite(s.cell)) {
      KLV_LOG(KLV_LOG_ERROR, "screen setup \"%s\": angle %g or cell %g is not a finite number",
              setup ? setup->name : "", s.angle, s.cell);
      return false;
    }
    if (!place.AddScreen(s.kind, s.angle, s.cell, s.shape, xres, yres)) {
      KLV_LOG(KLV_LOG_ERROR,
              "screen setup \"%s\": a screen of kind %d at %g degrees, cell %g "
              "cannot be generated",
              setup ? setup->name : "", s.kind, s.angle, s.cell);
      return false;
    }
  }
  return true;
}
