// SPDX-License-Identifier: MIT
// The resource limits that every image reader applies when a file is opened.
#include "klv/image_limits.h"

#include <charconv>
#include <cinttypes>
#include <cstring>
#include <string>

#include "klv/log.h"
#include "klv/registry.h"

namespace {

constexpr const char* kMaxPixelsName = "MaxImagePixels";
constexpr const char* kMaxRatioName = "MaxPixelsPerByte";

// A registry value as a 64-bit whole number (the integer getter stops at 32
// bits, and an image area does not fit there); `fallback` when it is absent.
uint64_t registry_u64(const char* name, uint64_t fallback) {
  char text[64];
  if (!klv_registry_get_string(name, text, sizeof text)) return fallback;
  const char* b = text;
  const char* e = text + std::strlen(text);
  while (b != e && *b == ' ') ++b;
  while (e != b && e[-1] == ' ') --e;
  uint64_t v = 0;
  const auto r = std::from_chars(b, e, v, 10);
  if (b == e || r.ec != std::errc() || r.ptr != e) {
    KLV_LOG(KLV_LOG_WARNING, "registry value %s \"%s\" is not a whole number; using %" PRIu64, name,
            text, fallback);
    return fallback;
  }
  return v;
}

// One line naming the limit when the image is beyond it.
bool within_limits(const char* format, const char* path, uint64_t width, uint64_t height,
                   uint64_t file_bytes) {
  klv_image_limits limits;
  klv_image_limits_get(&limits);
  // "TIFF \"name\"", or the format alone when the caller has no name.
  std::string who = format ? format : "image";
  if (path && *path) who += std::string(" \"") + path + "\"";
  // Both sides are below 2^32, so the area fits.
  const uint64_t pixels = width * height;
  if (limits.max_pixels && pixels > limits.max_pixels) {
    KLV_LOG(KLV_LOG_ERROR,
            "%s: %" PRIu64 "x%" PRIu64 " is %" PRIu64 " pixels, above MaxImagePixels %" PRIu64
            "; set MaxImagePixels higher (registry or environment) to open it",
            who.c_str(), width, height, pixels, limits.max_pixels);
    return false;
  }
  if (file_bytes && limits.max_pixels_per_byte && pixels > KLV_RATIO_FREE_PIXELS &&
      pixels / file_bytes > limits.max_pixels_per_byte) {
    KLV_LOG(
        KLV_LOG_ERROR,
        "%s: %" PRIu64 "x%" PRIu64 " pixels from %" PRIu64 " bytes of compressed file is %" PRIu64
        " pixels per byte, above MaxPixelsPerByte %" PRIu64
        "; set MaxPixelsPerByte higher (registry or environment) to open it",
        who.c_str(), width, height, file_bytes, pixels / file_bytes, limits.max_pixels_per_byte);
    return false;
  }
  return true;
}

}  // namespace

extern "C" {

KLV_API void klv_image_limits_get(klv_image_limits* limits) {
  if (!limits) return;
  limits->max_pixels = registry_u64(kMaxPixelsName, KLV_DEFAULT_MAX_IMAGE_PIXELS);
  limits->max_pixels_per_byte = registry_u64(kMaxRatioName, KLV_DEFAULT_MAX_PIXELS_PER_BYTE);
}

KLV_API int32_t klv_image_limits_check(const char* format, const char* path, uint64_t width,
                                       uint64_t height, uint64_t file_bytes) {
  try {
    return within_limits(format, path, width, height, file_bytes) ? 1 : 0;
  } catch (...) {
    KLV_LOG(KLV_LOG_ERROR, "%s: out of memory checking the image limits",
            format ? format : "image");
    return 0;
  }
}

}  // extern "C"
