// SPDX-License-Identifier: MIT
// Colour descriptions: the driver's own when it has the entry, else a default
// description built from its numbered information (items 0, 7 and 8); colour
// setup checks and the printable area text.
#include <cstdio>
#include <cstring>

#include "klv/log.h"
#include "klv/printer_driver.h"
#include "printer/driver_calls.h"

using klv::printer::sp::action;

namespace {

enum Ink { kC, kM, kY, kK, kR, kG, kB, kLc, kLm, kLk, kO, kW, kInks };

struct InkText {
  int32_t message;
  const char* english;
  const char* abbreviation;
  uint8_t rgb[3];
  uint8_t flags;
};

constexpr InkText kInkText[kInks] = {
    {KLV_MSG_INK_CYAN, "Cyan", "C", {0, 255, 255}, SP_CHANNEL_PROCESS},
    {KLV_MSG_INK_MAGENTA, "Magenta", "M", {255, 0, 255}, SP_CHANNEL_PROCESS},
    {KLV_MSG_INK_YELLOW, "Yellow", "Y", {255, 255, 0}, SP_CHANNEL_PROCESS},
    {KLV_MSG_INK_BLACK, "Black", "K", {0, 0, 0}, SP_CHANNEL_PROCESS},
    {KLV_MSG_INK_RED, "Red", "R", {255, 0, 0}, SP_CHANNEL_PROCESS},
    {KLV_MSG_INK_GREEN, "Green", "G", {0, 255, 0}, SP_CHANNEL_PROCESS},
    {KLV_MSG_INK_BLUE, "Blue", "B", {0, 0, 255}, SP_CHANNEL_PROCESS},
    {KLV_MSG_INK_LIGHT_CYAN,
     "Light Cyan",
     "Lc",
     {128, 255, 255},
     SP_CHANNEL_PROCESS | SP_CHANNEL_LIGHT},
    {KLV_MSG_INK_LIGHT_MAGENTA,
     "Light Magenta",
     "Lm",
     {255, 128, 255},
     SP_CHANNEL_PROCESS | SP_CHANNEL_LIGHT},
    {KLV_MSG_INK_LIGHT_BLACK,
     "Light Black",
     "Lk",
     {128, 128, 128},
     SP_CHANNEL_PROCESS | SP_CHANNEL_LIGHT},
    {KLV_MSG_INK_ORANGE, "Orange", "O", {255, 128, 0}, SP_CHANNEL_PROCESS},
    {KLV_MSG_INK_WHITE, "White", "W", {255, 255, 255}, SP_CHANNEL_PROCESS},
};

// The inks of `process` process channels; kind 1 makes three channels red,
// green and blue, kind 2 prefers orange and green as extra inks over light ones.
int ink_set(int32_t process, int32_t kind, Ink* out) {
  static const Ink k1[] = {kK};
  static const Ink k3[] = {kC, kM, kY};
  static const Ink k3rgb[] = {kR, kG, kB};
  static const Ink k4[] = {kC, kM, kY, kK};
  static const Ink k5[] = {kC, kM, kY, kK, kLk};
  static const Ink k5x[] = {kC, kM, kY, kK, kO};
  static const Ink k6[] = {kC, kM, kY, kK, kLc, kLm};
  static const Ink k6x[] = {kC, kM, kY, kK, kO, kG};
  static const Ink k7[] = {kC, kM, kY, kK, kLc, kLm, kLk};
  static const Ink k7x[] = {kC, kM, kY, kK, kLc, kLm, kO};
  static const Ink k8[] = {kC, kM, kY, kK, kLc, kLm, kLk, kO};
  static const Ink k8x[] = {kC, kM, kY, kK, kLc, kLm, kO, kG};
  const Ink* set = nullptr;
  const bool extra = kind == 2;
  switch (process) {
    case 1:
      set = k1;
      break;
    case 3:
      set = kind == 1 ? k3rgb : k3;
      break;
    case 4:
      set = k4;
      break;
    case 5:
      set = extra ? k5x : k5;
      break;
    case 6:
      set = extra ? k6x : k6;
      break;
    case 7:
      set = extra ? k7x : k7;
      break;
    case 8:
      set = extra ? k8x : k8;
      break;
    default:
      return 0;
  }
  std::memcpy(out, set, sizeof(Ink) * process);
  return process;
}

enum class Names { kLocalised, kEnglish, kAbbreviated };

int32_t build(SP_COLOR_INFO* info, int32_t channels, int32_t spots, int32_t kind, Names names) {
  if (!info || channels <= 0 || spots < 0 || spots > channels || channels > SP_MAX_CHANNELS)
    return 0;
  Ink inks[8];
  const int32_t process = channels - spots;
  if (process < 0 || process > 8 || ink_set(process, kind, inks) != process) return 0;
  std::memset(info, 0, sizeof *info);
  info->size = sizeof *info;
  info->channels = static_cast<uint32_t>(channels);
  info->spot_channels = static_cast<uint32_t>(spots);
  info->kind = static_cast<uint32_t>(kind);
  for (int32_t i = 0; i < process; ++i) {
    const InkText& ink = kInkText[inks[i]];
    SP_CHANNEL_INFO& ch = info->channel[i];
    const char* name = names == Names::kLocalised ? klv_message(ink.message)
                       : names == Names::kEnglish ? ink.english
                                                  : ink.abbreviation;
    std::snprintf(ch.name, sizeof ch.name, "%s", name);
    std::memcpy(ch.rgb, ink.rgb, 3);
    ch.flags = ink.flags;
  }
  for (int32_t s = 0; s < spots; ++s) {
    SP_CHANNEL_INFO& ch = info->channel[process + s];
    std::snprintf(ch.name, sizeof ch.name, names == Names::kAbbreviated ? "S%u" : "Spot%u",
                  static_cast<unsigned>(s + 1));
    ch.rgb[0] = ch.rgb[1] = ch.rgb[2] = 128;
    ch.flags = SP_CHANNEL_SPOT;
  }
  return 1;
}

struct ColourItems {
  int32_t result;
  int32_t channels;
  int32_t spots;
  int32_t kind;
};

ColourItems read_items(SP_OBJECT* object, const void* a, const void* b) {
  ColourItems items{};
  items.result = SP_get_info_num(object, &items.channels, nullptr, a, b, 0);
  SP_get_info_num(object, &items.spots, nullptr, a, b, 8);
  SP_get_info_num(object, &items.kind, nullptr, a, b, 7);
  if (object) object->status = items.result;
  return items;
}

}  // namespace

KLV_API int32_t SP_get_default_color_info(SP_COLOR_INFO* info, int32_t channels, int32_t spots,
                                          int32_t kind) {
  return build(info, channels, spots, kind, Names::kLocalised);
}

KLV_API int32_t SP_get_default_ENU_color_info(SP_COLOR_INFO* info, int32_t channels, int32_t spots,
                                              int32_t kind) {
  return build(info, channels, spots, kind, Names::kEnglish);
}

KLV_API int32_t SP_get_abreviated_color_info(SP_COLOR_INFO* info, int32_t channels, int32_t spots,
                                             int32_t kind) {
  return build(info, channels, spots, kind, Names::kAbbreviated);
}

KLV_API int32_t SP_get_color_info(SP_OBJECT* object, const void* a, const void* b,
                                  SP_COLOR_INFO* out) {
  if (!object) return SP_ERR_ARGUMENT;
  if (object->funcs.get_color_info)
    return action(object, &printer_funcs::get_color_info, SP_OK, a, b, out);
  const ColourItems items = read_items(object, a, b);
  if (items.result != 0) return items.result;
  if (!out) return object->status = SP_ERR_ARGUMENT;
  if (!SP_get_default_color_info(out, items.channels, items.spots, items.kind)) {
    KLV_LOG(KLV_LOG_ERROR, "no default colour description for %d channels with %d spots",
            items.channels, items.spots);
    return object->status = SP_ERR_COLOR_SETUP;
  }
  return SP_OK;
}

KLV_API int32_t SP_validate_color_setup(SP_OBJECT* object, const void* a, const void* b,
                                        SP_COLOR_SETUP* setup) {
  if (!object) return SP_ERR_ARGUMENT;
  if (object->funcs.validate_color_setup)
    return action(object, &printer_funcs::validate_color_setup, SP_OK, a, b, setup);
  const ColourItems items = read_items(object, a, b);
  if (items.result != 0) return items.result;
  if (!setup) return object->status = SP_ERR_ARGUMENT;
  if (setup->channels != items.channels || setup->spot_channels != items.spots)
    return object->status = SP_ERR_COLOR_SETUP;
  setup->kind = static_cast<uint8_t>(items.kind);
  return object->status = SP_OK;
}

KLV_API int32_t SP_get_printable_area(SP_OBJECT* object, char* text) {
  if (!object) return SP_ERR_ARGUMENT;
  if (object->funcs.get_printable_area)
    return action(object, &printer_funcs::get_printable_area, SP_OK, text);
  if (!text) return object->status = SP_ERR_ARGUMENT;
  const SP_CAPABILITIES* caps = object->capabilities;
  std::snprintf(text, 80, "%fx%f", caps ? caps->max_width : 0.0, caps ? caps->max_length : 0.0);
  return object->status = SP_OK;
}
