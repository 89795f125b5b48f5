// SPDX-License-Identifier: MIT
// Pieces of JPEG application markers the JPEG stream reads itself.
#pragma once

#include <cstddef>
#include <cstdint>

namespace klv::img::jpeg {

// The resolutions of the ResolutionInfo resource (1005) in the body of a
// Photoshop APP13 marker ("Photoshop 3.0" and its "8BIM" resources): true and
// both values (pixels per inch) when the marker holds one with non-zero values.
bool photoshop_resolution(const uint8_t* data, size_t len, double* xres, double* yres);

}  // namespace klv::img::jpeg
