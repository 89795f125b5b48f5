// SPDX-License-Identifier: MIT
// The OCF description: the `OCFImg { ... }` settings block, read with a
// field table (multi-number entries by their own readers), checked, and
// written line by line in its fixed order.
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "klv/image_limits.h"
#include "klv/kernel_layers.h"
#include "klv/kernel_settings.h"
#include "klv/kernel_stream.h"
#include "klv/kernel_util.h"
#include "klv/kernel_volume.h"
#include "klv/log.h"
#include "klv/ocfimg.h"

namespace {

constexpr const char* kBlock = "OCFImg";
constexpr int32_t kMaxSamples = 16;

// ---- Reading --------------------------------------------------------------

// `{ n1 n2 ... }` with exactly `count` numbers.
bool read_numbers(SFPARSE* fp, const char* key, double* out, int32_t count) {
  int32_t n = 0;
  char** list = get_char_list(fp, &n);
  bool ok = list && n == count;
  for (int32_t i = 0; ok && i < n; ++i) {
    const char* end = nullptr;
    out[i] = OatofEx(list[i], &end);
    ok = end != list[i] && *end == 0 && std::isfinite(out[i]);
  }
  free_char_list(list);
  if (!ok) KLV_LOG(KLV_LOG_ERROR, "OCF line %d: %s takes %d numbers", fp_line(fp), key, count);
  return ok;
}

// A number read as a double that must be a whole value within [low, high].
bool whole(double v, double low, double high) {
  return v == std::floor(v) && v >= low && v <= high;
}

int32_t read_crop(SFPARSE* fp, const off_field* f, void* record) {
  auto* r = static_cast<ocfi_info*>(record);
  double v[4];
  if (!read_numbers(fp, f->key, v, 4)) return 0;
  r->crop.kind = 0;
  r->crop.x1 = v[0];
  r->crop.y1 = v[1];
  r->crop.x2 = v[2];
  r->crop.y2 = v[3];
  return 1;
}

int32_t read_bleed(SFPARSE* fp, const off_field* f, void* record) {
  auto* r = static_cast<ocfi_info*>(record);
  double v[15];
  if (!read_numbers(fp, f->key, v, 15)) return 0;
  bool ok = whole(v[0], INT32_MIN, INT32_MAX);
  for (int i = 9; i < 15; ++i) ok = ok && whole(v[i], INT32_MIN, INT32_MAX);
  if (!ok) {
    KLV_LOG(KLV_LOG_ERROR, "OCF line %d: Bleed holds a mode and six integers", fp_line(fp));
    return 0;
  }
  r->bleed.mode = int32_t(v[0]);
  for (int i = 0; i < 4; ++i) r->bleed.outer[i] = v[1 + i];
  for (int i = 0; i < 4; ++i) r->bleed.inner[i] = v[5 + i];
  for (int i = 0; i < 6; ++i) r->bleed.values[i] = int32_t(v[9 + i]);
  r->bleed_on = 1;
  return 1;
}

int32_t read_bleed_pixel(SFPARSE* fp, const off_field* f, void* record) {
  auto* r = static_cast<ocfi_info*>(record);
  double v[KLV_OCF_BLEED_PIXELS];
  if (!read_numbers(fp, f->key, v, KLV_OCF_BLEED_PIXELS)) return 0;
  for (int i = 0; i < KLV_OCF_BLEED_PIXELS; ++i) {
    if (!whole(v[i], 0, UINT32_MAX)) {
      KLV_LOG(KLV_LOG_ERROR, "OCF line %d: BleedPixel takes values from 0 to %u", fp_line(fp),
              UINT32_MAX);
      return 0;
    }
    r->bleed_pixel[i] = uint32_t(v[i]);
  }
  return 1;
}

#define OCF_F(key, kind, field)                                   \
  off_field {                                                     \
    key, kind, 0, offsetof(ocfi_info, field), 0, nullptr, nullptr \
  }
#define OCF_S(key, field)                                                               \
  off_field {                                                                           \
    key, OFF_STRING, 0, offsetof(ocfi_info, field), KLV_OCF_PATH_SIZE, nullptr, nullptr \
  }
#define OCF_C(key, reader)                    \
  off_field {                                 \
    key, OFF_CUSTOM, 0, 0, 0, reader, nullptr \
  }

// Sorted by key without regard to letter case.
const off_field kFields[] = {
    OCF_C("Bleed", read_bleed),
    OCF_C("BleedPixel", read_bleed_pixel),
    OCF_F("BPS", OFF_INT32, bits_per_sample),
    OCF_F("CCXFlags", OFF_INT32, ccx_flags),
    OCF_S("CCXPath", ccx_path),
    OCF_F("CCXTypes", OFF_INT32, ccx_types),
    OCF_C("Crop", read_crop),
    OCF_F("Height", OFF_DOUBLE, height),
    OCF_S("ImgPath", image_path),
    OCF_F("Interp", OFF_INT32, interpolate),
    OCF_F("MaskSamples", OFF_INT32, mask_samples),
    OCF_F("NoImgMask", OFF_INT32, no_image_mask),
    OCF_F("Photo", OFF_INT32, photometric),
    OCF_F("Planar", OFF_INT32, planar),
    OCF_F("Samples", OFF_INT32, samples),
    OCF_F("Spots", OFF_INT32, spot_samples),
    OCF_F("UCCIGcr", OFF_INT32, ucc_gcr),
    OCF_S("UCCPath", ucc_path),
    OCF_F("Use16Bit", OFF_INT32, use_16bit),
    OCF_F("Width", OFF_DOUBLE, width),
    OCF_F("XRes", OFF_DOUBLE, xres),
    OCF_F("YRes", OFF_DOUBLE, yres),
};

#undef OCF_F
#undef OCF_S
#undef OCF_C

constexpr int32_t kFieldCount = int32_t(sizeof kFields / sizeof kFields[0]);

void set_defaults(ocfi_info* r) {
  std::memset(r, 0, sizeof *r);
  init_crop_info(&r->crop);
}

// What the stream will be asked to deliver must describe an image.
bool valid_description(const ocfi_info& r) {
  const char* fault = nullptr;
  if (!(r.width > 0 && r.height > 0) || !std::isfinite(r.width) || !std::isfinite(r.height))
    fault = "Width and Height must be above 0";
  else if (!(r.xres > 0 && r.yres > 0) || !std::isfinite(r.xres) || !std::isfinite(r.yres))
    fault = "XRes and YRes must be above 0";
  else if (r.width * r.xres + 0.5 >= 2147483647.0 || r.height * r.yres + 0.5 >= 2147483647.0 ||
           r.width * r.xres + 0.5 < 1 || r.height * r.yres + 0.5 < 1)
    fault = "the printed size in pixels is out of range";
  else if (r.samples < 1 || r.samples > kMaxSamples || r.spot_samples < 0 ||
           r.spot_samples > r.samples || r.mask_samples < 0 ||
           r.samples + r.mask_samples > kMaxSamples)
    fault = "Samples, Spots or MaskSamples out of range";
  else if (r.bits_per_sample != 1 && r.bits_per_sample != 2 && r.bits_per_sample != 4 &&
           r.bits_per_sample != 8 && r.bits_per_sample != 16)
    fault = "BPS must be 1, 2, 4, 8 or 16";
  else if (r.planar < KLV_PLANAR_PIXEL || r.planar > KLV_PLANAR_LINES)
    fault = "Planar must be 0, 1 or 2";
  else if (r.photometric < KLV_PHOTO_MINWHITE || r.photometric > KLV_PHOTO_CIELAB)
    fault = "Photo must be 0 to 3";
  else if (r.photometric == KLV_PHOTO_PALETTE && r.samples + r.mask_samples != 1)
    fault = "a palette image has one sample";
  else if (!std::isfinite(r.crop.x1) || !std::isfinite(r.crop.y1) || !std::isfinite(r.crop.x2) ||
           !std::isfinite(r.crop.y2) || r.crop.x1 < 0 || r.crop.y1 < 0 || r.crop.x2 > 1 ||
           r.crop.y2 > 1 || r.crop.x1 >= r.crop.x2 || r.crop.y1 >= r.crop.y2)
    fault = "Crop must lie within 0 and 1, left above right, top above bottom";
  else if (r.bleed_on &&
           (r.bleed.mode < KLV_OCF_BLEED_COLOR || r.bleed.mode > KLV_OCF_BLEED_MIRROR))
    fault = "the bleed mode must be 0, 1 or 2";
  else if (r.bleed_on && r.bits_per_sample < 8)
    fault = "bleed needs 8 or 16 bits a sample";
  else if (r.bleed_on)
    for (double d : r.bleed.outer)
      if (!(d >= 0 && d <= 1000)) fault = "bleed margins must be 0 to 1000 inches";
  if (!fault && r.image_path[0] == 0) fault = "ImgPath is empty";
  if (fault) {
    KLV_LOG(KLV_LOG_ERROR, "OCF: %s", fault);
    return false;
  }
  return true;
}

// The first token must name the block; then its entries.
bool read_block(SFPARSE* fp, ocfi_info* out) {
  char word[64];
  if (fp_get_token(fp, word, sizeof word) != KLV_FP_WORD || Ostricmp(word, kBlock) != 0) {
    KLV_LOG(KLV_LOG_ERROR, "OCF: the file does not begin with %s", kBlock);
    return false;
  }
  if (fp_get_token(fp, nullptr, 0) != KLV_FP_OPEN) {
    KLV_LOG(KLV_LOG_ERROR, "OCF line %d: \"{\" expected after %s", fp_line(fp), kBlock);
    return false;
  }
  set_defaults(out);
  if (!off_load_struct(fp, kFields, kFieldCount, out)) return false;
  if (!out->bleed_on) std::memset(out->bleed_pixel, 0, sizeof out->bleed_pixel);
  return valid_description(*out);
}

// Reads and closes `fp`; a new record or null.
ocfi_info* parse(SFPARSE* fp) {
  if (!fp) return nullptr;
  auto* r = static_cast<ocfi_info*>(std::calloc(1, sizeof(ocfi_info)));
  bool ok = false;
  if (r) {
    try {
      ok = read_block(fp, r);
    } catch (...) {
      ok = false;
    }
  }
  fp_close(fp);
  if (!ok) {
    std::free(r);
    return nullptr;
  }
  return r;
}

// ---- Writing --------------------------------------------------------------

// "%.15f" without regard to the locale.
std::string fixed15(double v) {
  char buf[400];
  const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 15);
  return res.ec == std::errc() ? std::string(buf, res.ptr) : std::string("0");
}

bool put(SFilemux* s, const std::string& line) {
  return Oputs(s, line.c_str()) >= 0;
}

bool put_real(SFilemux* s, const char* key, double v) {
  return put(s, std::string("  ") + key + " { " + fixed15(v) + " }\n");
}

bool write_bleed(SFilemux* s, const ocfi_info& r) {
  std::string line = "  Bleed { " + std::to_string(r.bleed.mode);
  for (double d : r.bleed.outer) line += " " + fixed15(d);
  for (double d : r.bleed.inner) line += " " + fixed15(d);
  for (int32_t v : r.bleed.values) line += " " + std::to_string(v);
  if (!put(s, line + " }\n")) return false;
  if (r.bleed.mode != KLV_OCF_BLEED_COLOR) return true;
  line = "  BleedPixel {";
  for (uint32_t v : r.bleed_pixel) line += " " + std::to_string(v);
  return put(s, line + " }\n");
}

bool write_block(SFilemux* s, const ocfi_info& r) {
  bool ok = off_put_open(s, 0, kBlock) != 0;
  ok = ok && put_real(s, "Width", r.width) && put_real(s, "Height", r.height);
  ok = ok && put_real(s, "XRes", r.xres) && put_real(s, "YRes", r.yres);
  ok = ok && off_put_int(s, 1, "BPS", r.bits_per_sample);
  ok = ok && off_put_int(s, 1, "Samples", r.samples);
  ok = ok && off_put_int(s, 1, "Spots", r.spot_samples);
  ok = ok && off_put_int(s, 1, "MaskSamples", r.mask_samples);
  ok = ok && off_put_int(s, 1, "NoImgMask", r.no_image_mask);
  ok = ok && off_put_int(s, 1, "Planar", r.planar);
  ok = ok && off_put_int(s, 1, "Interp", r.interpolate);
  ok = ok && off_put_int(s, 1, "Photo", r.photometric);
  ok = ok && off_put_string(s, 1, "ImgPath", r.image_path);
  ok = ok && off_put_int(s, 1, "UCCIGcr", r.ucc_gcr);
  ok = ok && off_put_string(s, 1, "UCCPath", r.ucc_path);
  ok = ok && off_put_int(s, 1, "CCXFlags", r.ccx_flags);
  ok = ok && off_put_string(s, 1, "CCXPath", r.ccx_path);
  ok = ok && off_put_int(s, 1, "CCXTypes", r.ccx_types);
  if (r.use_16bit) ok = ok && off_put_int(s, 1, "Use16Bit", r.use_16bit);
  ok = ok && put(s, "  Crop { " + fixed15(r.crop.x1) + " " + fixed15(r.crop.y1) + " " +
                        fixed15(r.crop.x2) + " " + fixed15(r.crop.y2) + " }\n");
  if (r.bleed_on) ok = ok && write_bleed(s, r);
  return ok && off_put_close(s, 0) != 0;
}

// Paths are kept to their field's size, terminated, whatever the caller put there.
bool paths_terminated(const ocfi_info& r) {
  return std::memchr(r.image_path, 0, sizeof r.image_path) &&
         std::memchr(r.ucc_path, 0, sizeof r.ucc_path) &&
         std::memchr(r.ccx_path, 0, sizeof r.ccx_path);
}

}  // namespace

extern "C" {

KLV_API ocfi_info* new_ocfi_info(void) {
  auto* r = static_cast<ocfi_info*>(std::calloc(1, sizeof(ocfi_info)));
  if (r) init_crop_info(&r->crop);
  return r;
}

KLV_API void free_ocfi_info(ocfi_info* info) {
  if (!info) return;
  if (info->volume) VClose(info->volume);
  std::free(info);
}

KLV_API int32_t save_ocfi_info(SOVolume* volume, const char* path, const ocfi_info* info) {
  if (!path || !info) return 0;
  if (!paths_terminated(*info)) {
    KLV_LOG(KLV_LOG_ERROR, "OCF \"%s\": a path of the record is not terminated", path);
    return 0;
  }
  SFSAVE* save = fp_save_begin(volume, path);
  if (!save) {
    KLV_LOG(KLV_LOG_ERROR, "OCF \"%s\" cannot be created", path);
    return 0;
  }
  bool ok = false;
  try {
    ok = write_block(fp_save_stream(save), *info);
  } catch (...) {
    ok = false;
  }
  if (!fp_save_end(save, ok ? 1 : 0) || !ok) {
    KLV_LOG(KLV_LOG_ERROR, "OCF \"%s\" could not be written", path);
    return 0;
  }
  return 1;
}

KLV_API ocfi_info* load_ocfi_info(SOVolume* volume, const char* path) {
  if (!path) return nullptr;
  SOVolume* own = VIsVolume(volume, path) ? VOpen(volume, path, KLV_VOL_READ) : nullptr;
  SFPARSE* fp = own ? fp_open(own, KLV_OCF_MEMBER, 0) : fp_open(volume, path, 0);
  if (!fp) {
    KLV_LOG(KLV_LOG_ERROR, "OCF \"%s\": %s cannot be opened", path,
            own ? "its member .\\Info" : "the file");
    if (own) VClose(own);
    return nullptr;
  }
  ocfi_info* r = parse(fp);
  if (!r) {
    KLV_LOG(KLV_LOG_ERROR, "OCF \"%s\" cannot be read", path);
    if (own) VClose(own);
    return nullptr;
  }
  r->volume = own;
  return r;
}

KLV_API ocfi_info* parse_ocfi_info(const char* text, int32_t length) {
  if (!text || length < 0) return nullptr;
  SFilemux* stream = Omemopen(text, size_t(length));
  if (!stream) return nullptr;
  ocfi_info* r = parse(fp_attach(stream));
  Oclose(stream);
  if (!r) KLV_LOG(KLV_LOG_ERROR, "OCF text cannot be read");
  return r;
}

KLV_API int32_t ocfimg_check(SOVolume* volume, const char* path) {
  if (!path) return 0;
  SOVolume* own = VIsVolume(volume, path) ? VOpen(volume, path, KLV_VOL_READ) : nullptr;
  SFPARSE* fp = own ? fp_open(own, KLV_OCF_MEMBER, 0) : fp_open(volume, path, 0);
  char word[64];
  const bool ok =
      fp && fp_get_token(fp, word, sizeof word) == KLV_FP_WORD && Ostricmp(word, kBlock) == 0;
  if (fp) fp_close(fp);
  if (own) VClose(own);
  return ok ? 1 : 0;
}

}  // extern "C"
