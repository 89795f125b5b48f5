// SPDX-License-Identifier: MIT
// The colour options shared by klvrip convert and screen.
#include "color_options.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "klv/cms.h"

namespace klvrip {

int intent_of(const char* text) {
  static const char* const kNames[] = {"perceptual", "relative", "saturation", "absolute"};
  for (int i = 0; i < 4; ++i)
    if (!std::strcmp(text, kNames[i])) return i;
  return text[0] >= '0' && text[0] <= '3' && !text[1] ? text[0] - '0' : -1;
}

void add_color_options(std::vector<Option>* table, ColorArgs* a) {
  table->push_back({"--input-profile", "FILE",
                    "profile of the input (default: the embedded one, else sRGB, gray or Lab)",
                    take_text(&a->input_profile)});
  table->push_back({"--output-profile", "FILE",
                    "profile of the output (default: the printer's, else klv_cmyk.icc)",
                    take_text(&a->output_profile)});
  table->push_back({"--intent", "NAME", "perceptual (default), relative, saturation or absolute",
                    [a](const char* v) -> std::string {
                      a->intent = intent_of(v);
                      return a->intent < 0 ? std::string("no intent \"") + v + "\"" : "";
                    }});
  table->push_back({"--calibration", "NAME",
                    "the printer's linearization applied to the inks, e.g. "
                    "\"Linear1~Glossy Photo~720x720~4\"",
                    take_text(&a->calibration)});
  table->push_back({"--printer", "P", "the printer whose profile and calibration are used",
                    take_text(&a->printer)});
}

std::string check_color_args(const ColorArgs& a) {
  if (a.calibration && !a.printer) return "--calibration needs --printer";
  return "";
}

bool color_model_of(const image_info& info, klv::ColorModel* model) {
  const uint32_t colours = info.samples - std::min(info.spot_samples, info.samples);
  if (info.photometric == KLV_PHOTO_CIELAB && colours == 3)
    *model = klv::ColorModel::kLab;
  else if (info.photometric == KLV_PHOTO_PALETTE)
    *model = klv::ColorModel::kRgb;
  else if (colours == 1)
    *model = klv::ColorModel::kGray;
  else if (colours == 3 && info.photometric == KLV_PHOTO_MINBLACK)
    *model = klv::ColorModel::kRgb;
  else if (colours == 4)
    *model = klv::ColorModel::kCmyk;
  else
    return false;
  return true;
}

std::vector<uint8_t> embedded_profile(IMG_file* img) {
  image_profile* p = img_get_profile(img);
  if (!p) return {};
  std::vector<uint8_t> bytes(p->data, p->data + p->size);
  checkin_image_profile(p);
  return bytes;
}

image_info lines_of(const image_info& src, klv::ColorModel model, uint32_t bits) {
  image_info t = src;
  t.samples = model == klv::ColorModel::kGray ? 1 : model == klv::ColorModel::kCmyk ? 4 : 3;
  t.spot_samples = 0;
  t.mask_samples = 0;
  t.bits_per_sample = bits;
  t.photometric = model == klv::ColorModel::kLab    ? KLV_PHOTO_CIELAB
                  : model == klv::ColorModel::kCmyk ? KLV_PHOTO_MINWHITE
                                                    : KLV_PHOTO_MINBLACK;
  t.hifi_mode = 0;
  t.planar = KLV_PLANAR_PIXEL;
  t.compression = 0;
  t.cmap = nullptr;
  t.profile_word = nullptr;
  t.bytes_per_line = image_info_line_bytes(&t);
  return t;
}

std::unique_ptr<klv::ColorConversion> open_conversion(const char* command, const ColorArgs& a,
                                                      klv::ColorModel model,
                                                      std::vector<uint8_t> embedded,
                                                      bool calibration_only) {
  klv::ColorConversionSetup s;
  s.input = model;
  s.input_profile = a.input_profile ? a.input_profile : "";
  s.embedded = std::move(embedded);
  s.output_profile = a.output_profile ? a.output_profile : "";
  s.intent = a.intent;
  s.printer = a.printer ? a.printer : "";
  s.calibration = a.calibration ? a.calibration : "";
  s.calibration_only = calibration_only;
  std::string error;
  auto conversion = klv::ColorConversion::Open(s, &error);
  if (!conversion) report(Exit::kFailure, command, "no colour conversion: %s", error.c_str());
  return conversion;
}

ColorServiceStop::~ColorServiceStop() {
  cms_terminate(nullptr, nullptr);
}

}  // namespace klvrip
