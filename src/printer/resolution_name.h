// SPDX-License-Identifier: MIT
// Resolution names: X or XxY, optionally followed by @PxQ or #PxQ, for
// example 720x1440, 1440x720@720x720 or 360x360#720x720, possibly with a
// "-suffix" (720x720-hq).
#pragma once

#include <string>
#include <string_view>

namespace klv::printer {

// The number at the start of a text (leading blanks skipped), 0 when there is
// none. Locale-independent.
double leading_number(std::string_view text);

struct ResolutionName {
  double x = 0;          // process X: the number at the start
  double y = 0;          // process Y: after the first "x" before "@" (or "#")
  double printed_x = 0;  // the printed part (after "@", then after "#")
  double printed_y = 0;
  double print_x = 0;  // the numbers after "@" (process X/Y when there is none)
  double print_y = 0;
};

ResolutionName parse_resolution_name(std::string_view name);

// The display text: "%lu" or "%lux%lu", then "@P" or "@PxQ" when the printed
// numbers differ, then the "-suffix" unchanged.
std::string rounded_resolution_text(std::string_view name);

}  // namespace klv::printer
