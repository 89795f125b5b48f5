// SPDX-License-Identifier: MIT
// A picture of screened dots as a person sees them printed.
#pragma once

namespace klv {
class ColorConversion;
}

namespace klvrip {

// Reads the dot image at `dots_path` (of image type `dots_type`; 0 to
// recognise it by its content, which output images are not) (1 or 4 ink separations of 1, 2 or 4
// bits, ink values) and writes an RGB PNG of it to `png_path`, composited in
// the ink colours and reduced so that its longer side is at most `max_side`
// pixels (each preview pixel shows the ink coverage of the dots under it).
// Four separations are shown through `proof` when given (the printer's CMYK
// profile to sRGB: the colours the profile says the inks print); otherwise,
// and for one separation, ideal inks cover the paper and coverage mixes in
// linear light, as dots too small to see do.
// Returns false, with a message on stderr, when either file fails; the
// messages call the files `dots_name` and `png_name` (the paths may be
// temporaries).
bool write_dot_preview(const char* dots_path, int dots_type, const char* dots_name,
                       const char* png_path, const char* png_name, int max_side,
                       const klv::ColorConversion* proof = nullptr);

}  // namespace klvrip
