// SPDX-License-Identifier: MIT
// The nearest page size, resolution and mode rules. Each answers an index into
// the list it was given, or -1 when there is no answer.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "klv/printmode.h"
#include "klv/printmode_cxx.h"

namespace klv::printer {

using StrArray = std::vector<std::string>;
using StrList = std::vector<StrArray>;

// Page sizes: element [0] name, [1] width, [2] height (dimension texts). The
// smallest page that holds width x height (tolerance 0.0001 inch; the first of
// equal scores); when none holds it, the first page with a positive area.
int nearest_page_size(const StrList& pages, double width, double height);

// Resolutions: element [0] a resolution name.
int nearest_resolution(const StrList& resolutions, std::string_view wanted);

// Modes: by name, then by resolution and pattern, then by resolution distance.
int nearest_mode(const std::vector<CPrintMode>& modes, const CPrintMode& wanted);

// A page dimension text in inches: the leading number converted by the first
// localised unit name found in the text (mm, cm, dm, m); inches without one.
double dimension_inches(const char* text);

}  // namespace klv::printer
