// SPDX-License-Identifier: MIT
// The option table of klvrip screen, and --lpi/--angle as a screen setup and
// colour list.
#include "screen_options.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace klvrip {

const CommandHelp kScreenHelp = {
    "screen", "screen IN OUT [options]",
    "  methods: screen (4, built-in screens), ordered (3), spot (6), line (8), fuzzy (9),\n"
    "           diffusion (0), varcoef (12), or a method number\n"
    "  --lpi L --angle A: screens generated at L lines per inch (2.5 up to half the lower\n"
    "           resolution) for the screened methods 3, 4, 6, 8, 9 and 10; black and gray\n"
    "           at A degrees (default 45), cyan at A-30, magenta at A+30, yellow at A-45\n"
    "  colours: RGB and L*a*b* input is converted through the input profile (its\n"
    "           embedded one, else sRGB or Lab) to the output profile (--printer's, else\n"
    "           klv_cmyk.icc) and the printer's --calibration; gray input likewise when\n"
    "           any colour option is given, else it is screened as one black separation;\n"
    "           CMYK input is screened as it is, through --calibration when given\n"
    "  --threads N: N > 1 screens every separation on a thread of its own and reads\n"
    "           the input on another\n"
    "  OUT ending in .tif or .tiff is written as TIFF, anything else as an output image;\n"
    "  OUT and the preview are written under a temporary name beside them and appear\n"
    "  only when complete\n",
    2, 2};

int screen_method_of(const char* text) {
  static const struct {
    const char* name;
    int method;
  } kNames[] = {{"screen", 4}, {"ordered", 3},   {"spot", 6},    {"line", 8},
                {"fuzzy", 9},  {"diffusion", 0}, {"varcoef", 12}};
  for (const auto& n : kNames)
    if (!std::strcmp(text, n.name)) return n.method;
  char* end;
  const long v = std::strtol(text, &end, 10);
  return *text && !*end && v >= 0 && v < 1000 ? int(v) : -1;
}

bool screen_method_is_screened(int method) {
  return method == 3 || method == 4 || method == 6 || method == 8 || method == 9 || method == 10;
}

std::vector<Option> screen_option_table(ScreenArgs* a) {
  std::vector<Option> table = {
      {"--method", "NAME|N", "placement method (below; default screen)",
       [a](const char* v) -> std::string {
         a->method = screen_method_of(v);
         return a->method < 0 ? std::string("no method \"") + v + "\"" : "";
       }},
      {"--lpi", "L", "generated screens of L lines per inch", take_number(&a->lpi, 0, 1e6)},
      {"--angle", "A", "screen angle of black in degrees (needs --lpi)",
       [a](const char* v) {
         a->have_angle = true;
         return take_number(&a->angle, -HUGE_VAL, HUGE_VAL)(v);
       }},
      {"--res", "XxY", "output resolution in dots per inch, e.g. 720x720",
       [a](const char* v) -> std::string {
         char tail = 0;
         if (std::sscanf(v, "%lfx%lf%c", &a->xres, &a->yres, &tail) != 2 ||
             !std::isfinite(a->xres) || !std::isfinite(a->yres) || a->xres <= 0 || a->yres <= 0)
           return "wants XxY, e.g. 720x720";
         return "";
       }},
      {"--width", "W", "output width in pixels", take_integer(&a->width, 1, 1000000)},
      {"--height", "H", "output height in pixels", take_integer(&a->height, 1, 1000000)},
      {"--bits", "1|2|4", "bits per dot (default 1)",
       [a](const char* v) -> std::string {
         std::string fault = take_integer(&a->bits, 1, 4)(v);
         if (fault.empty() && a->bits == 3) fault = "must be 1, 2 or 4";
         return fault;
       }},
      {"--threads", "N", "screen separations and read the input on N threads",
       take_integer(&a->threads, 1, 64)},
      {"--preview", "FILE.png", "also write a PNG of the dots as printed (at most 1600 pixels)",
       take_text(&a->preview)},
  };
  add_color_options(&table, &a->color);
  return table;
}

Parsed parse_screen_args(int argc, char** argv, ScreenArgs* args) {
  const std::vector<Option> table = screen_option_table(args);
  std::vector<const char*> files;
  const Parsed parsed = parse_options(kScreenHelp, table, argc, argv, &files);
  if (parsed != Parsed::kRun) return parsed;
  args->in = files[0];
  args->out = files[1];
  if (args->have_angle && args->lpi <= 0) {
    report(Exit::kUsage, "screen", "--angle needs --lpi");
    return Parsed::kUsageError;
  }
  if (const std::string fault = check_color_args(args->color); !fault.empty()) {
    report(Exit::kUsage, "screen", "%s", fault.c_str());
    return Parsed::kUsageError;
  }
  if (args->lpi > 0 && !screen_method_is_screened(args->method)) {
    report(Exit::kUsage, "screen",
           "--lpi applies to the screened methods 3, 4, 6, 8, 9 and 10, not to method %d",
           args->method);
    return Parsed::kUsageError;
  }
  return Parsed::kRun;
}

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
