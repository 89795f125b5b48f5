// SPDX-License-Identifier: MIT
// A stream that delivers the lines of another stream converted by a colour
// conversion: each read takes the lines from below into a buffer of its own
// and converts them in one call.
#pragma once

#include <memory>

#include "klv/color_convert_cxx.h"
#include "klv/img.h"

namespace klvrip {

// A stream over `below` (whose lines hold the conversion's input at 8 or 16
// bits), described by `out` (the conversion's output at the same depth). It
// owns `below` and the conversion from then on, also on failure (null).
IMG_file* color_stream_open(IMG_file* below, std::unique_ptr<klv::ColorConversion> conversion,
                            const image_info& out);

}  // namespace klvrip
