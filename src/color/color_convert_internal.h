// SPDX-License-Identifier: MIT
// Inside a colour conversion: the profile node, the calibration tables and
// the grid folded from them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "color/clut_grid.h"
#include "klv/cms.h"
#include "klv/color_convert_cxx.h"
#include "klv/ucc.h"

namespace klv {

namespace color_detail {
// A profile named as the conversion's setup names it: built-in ("*Lab") as
// it stands, else the file as given, along the search path or under
// "profiles/" there; "" when not found.
std::string find_profile(const std::string& name);
// The printer's own output profile ("Info/PRINTER.icc" in its folder), ""
// when it has none.
std::string printer_profile(const std::string& printer);

// The conversion's state and stages. A class of its own at namespace level,
// so that it stays hidden: members of the exported class's nested Impl
// would be exported with it.
struct Conversion {
  struct NodeFree {
    void operator()(cms_profnode* n) const;
  };

  ColorModel input = ColorModel::kRgb;
  ColorModel out_model = ColorModel::kCmyk;
  int intent = 0;
  uint32_t in_channels = 3, out_channels = 4;
  bool out_inverted = false;  // the engine hands inks over inverted
  std::unique_ptr<cms_profnode, NodeFree> node;
  std::vector<std::vector<uint16_t>> calibration;  // per output channel, 256 entries
  std::vector<uint8_t> output_profile;
  std::string description;
  std::string source, destination;  // the profiles as the engine opened them
  std::unique_ptr<color::ClutGrid> grid;
  // The same conversion as a colour chain (a printer profile node, then the
  // calibration node), when it could be built: the exact path then runs
  // through it. Freed before the node above.
  ucc_info* chain = nullptr;
  mutable ucc_request form{};

  ~Conversion();
  bool OpenNode(const std::string& source, const std::string& destination, std::string* error);
  bool LoadCalibration(const std::string& printer, const std::string& name, std::string* error);
  bool BuildChain(const std::string& source, const std::string& destination);
  bool Fold(uint32_t points, uint32_t lanes, std::string* error);
  bool Exact(const uint16_t* in, uint16_t* out, uint32_t count) const;
  // The exact path on a form of its own (`form` for lane 0), for a fold
  // over several threads.
  bool ExactOn(ucc_request* on, const uint16_t* in, uint16_t* out, uint32_t count) const;
  uint16_t Calibrate(uint32_t channel, uint16_t value) const;
};

}  // namespace color_detail

struct ColorConversion::Impl : color_detail::Conversion {};

}  // namespace klv
