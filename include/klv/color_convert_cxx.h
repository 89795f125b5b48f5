// SPDX-License-Identifier: MIT
// Colour conversion of whole lines: pixels of an image's colour model go
// through ICC profiles (the colour-management service and its engine) and,
// when asked, a printer's calibration into the output profile's colour
// space. The conversion is a pure function of the pixel, so it is folded once
// into a lookup grid and a line costs one interpolating call; the exact
// per-pixel path stays for comparison.
//
// Values are 8- or 16-bit: gray and RGB as light, ink models (CMYK) as ink
// amounts (0 no ink), L*a*b* as L 0..100 over the full range and a, b with
// -128 at 0 (8 bits: the a and b bytes are offset by 128).
#ifndef KLV_COLOR_CONVERT_CXX_H
#define KLV_COLOR_CONVERT_CXX_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "klv/export.h"

namespace klv {

enum class ColorModel { kGray, kRgb, kLab, kCmyk };

// What to convert and through what.
struct ColorConversionSetup {
  ColorModel input = ColorModel::kRgb;
  // The input profile: a file ("" for none); else `embedded` (the image's own
  // profile, when it describes the input's model); else the default profile
  // of the model ("klv_gray.icc", "klv_srgb.icc", L*a*b* built in,
  // "klv_cmyk.icc").
  std::string input_profile;
  std::vector<uint8_t> embedded;
  // The output profile: a file; "" the printer's profile ("Info/PRINTER.icc"
  // in the printer's folder) when a printer is named and has one, else
  // "klv_cmyk.icc". Profiles are found as named, along the search path, or
  // under "profiles/" there.
  std::string output_profile;
  int intent = 0;  // 0 perceptual, 1 relative colorimetric, 2 saturation, 3 absolute
  // A calibration name ("Linear1~Glossy Photo~720x720~4") searched in the
  // printer's calibration volume; its linearization is applied to the ink
  // amounts of the output. Needs `printer` and an ink output.
  std::string printer;
  std::string calibration;
  // No profiles: ink amounts pass through to the calibration alone (the
  // input model must be an ink model).
  bool calibration_only = false;
  // Points per grid axis; 0 for the default of the input (256, 65, 17).
  uint32_t grid_points = 0;
  // RGB to CMYK and calibration alone are built as a colour chain (a printer
  // profile node, then the calibration node) and folded from it; false
  // evaluates the profile node and the tables directly.
  bool use_chain = true;
  // Threads that fold the grid (the nodes shared out among them); the grid
  // is the same whatever the number.
  uint32_t threads = 1;
};

class KLV_API ColorConversion {
 public:
  // Opens the profiles (starting the colour-management service when it is
  // not running), loads the calibration and folds the grid. Null with
  // `error` saying what is wrong.
  static std::unique_ptr<ColorConversion> Open(const ColorConversionSetup& setup,
                                               std::string* error);
  ~ColorConversion();
  ColorConversion(const ColorConversion&) = delete;
  ColorConversion& operator=(const ColorConversion&) = delete;

  uint32_t InputChannels() const;
  uint32_t OutputChannels() const;
  // The output's model: ink amounts (CMYK and other inks), light (gray,
  // RGB) or L*a*b*.
  ColorModel OutputModel() const;
  // The bytes of the output profile (to embed in the file written), empty
  // for a calibration-only conversion.
  const std::vector<uint8_t>& OutputProfile() const;
  // A line of what was opened, for messages ("sRGB -> CMYK, perceptual").
  const std::string& Description() const;

  // `count` pixels through the grid; in and out do not overlap.
  void Line8(const uint8_t* in, uint8_t* out, uint32_t count) const;
  void Line16(const uint16_t* in, uint16_t* out, uint32_t count) const;
  // `count` pixels through the profiles and tables one at a time (slow).
  bool Exact16(const uint16_t* in, uint16_t* out, uint32_t count) const;

  struct Impl;

 private:
  explicit ColorConversion(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace klv

#endif
