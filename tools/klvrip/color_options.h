// SPDX-License-Identifier: MIT
// The colour options `klvrip convert` and `klvrip screen` share, and what
// they make: the input's colour model and embedded profile, and the colour
// conversion (ICC profiles, intent, a printer's calibration) they ask for.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli.h"
#include "klv/color_convert_cxx.h"
#include "klv/img.h"

namespace klvrip {

struct ColorArgs {
  const char* input_profile = nullptr;
  const char* output_profile = nullptr;
  int intent = 0;  // 0 perceptual, 1 relative, 2 saturation, 3 absolute
  const char* calibration = nullptr;
  const char* printer = nullptr;
};

// Appends --input-profile, --output-profile, --intent, --calibration and
// --printer to an option table.
void add_color_options(std::vector<Option>* table, ColorArgs* args);
// How the options go together: "" when they do, else the fault
// (--calibration needs --printer).
std::string check_color_args(const ColorArgs& args);
// The intent of a name ("perceptual", "relative", "saturation", "absolute")
// or of its number 0..3; -1 for anything else.
int intent_of(const char* text);

// The colour model an image is converted from: gray, RGB (palette images
// too), L*a*b* or CMYK (ink or inverted), by its colour samples; false for
// other sample counts.
bool color_model_of(const image_info& info, klv::ColorModel* model);
// The image's embedded ICC profile, empty when it has none.
std::vector<uint8_t> embedded_profile(IMG_file* img);
// The description of lines of `model` at `bits` (8 or 16): the input's size
// and resolution, pixel-interleaved, no spot or mask samples, light values
// (gray, RGB), ink amounts (CMYK) or L*a*b*.
image_info lines_of(const image_info& src, klv::ColorModel model, uint32_t bits);

// Opens the conversion from `model` (and the embedded profile) through the
// options; null after a message naming the command.
std::unique_ptr<klv::ColorConversion> open_conversion(const char* command, const ColorArgs& args,
                                                      klv::ColorModel model,
                                                      std::vector<uint8_t> embedded,
                                                      bool calibration_only = false);

// Stops the colour-management service when the command is done with it
// (after its conversions are gone).
struct ColorServiceStop {
  ~ColorServiceStop();
};

}  // namespace klvrip
