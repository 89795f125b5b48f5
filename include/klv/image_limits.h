/* SPDX-License-Identifier: MIT */
/* What one image file may cost to open: a bound on the pixels it states and,
 * for compressed data, on the pixels it states per byte of file. A few-KB file
 * that claims gigapixels is refused when it is opened instead of being decoded
 * for minutes; real images, however large, stay within the defaults.
 *
 * Both limits are registry values (klv/registry.h), so an environment
 * variable of the same name overrides the file:
 *
 *   MaxImagePixels    width × height of one image (default 2^40, about
 *                     1.1 terapixels: a 3 m × 50 m print at 1440 dpi is
 *                     0.48 terapixels)
 *   MaxPixelsPerByte  stated pixels per byte of a compressed file (default
 *                     65536; general-purpose codecs reach about 1400 per byte
 *                     on 8-bit data, 11000 on 1-bit data). Images of at most
 *                     KLV_RATIO_FREE_PIXELS pixels are not held to it.
 *
 * A value of 0 lifts the limit. */
#ifndef KLV_IMAGE_LIMITS_H
#define KLV_IMAGE_LIMITS_H

#include <stdint.h>

#include "klv/export.h"

KLV_BEGIN_C

#define KLV_DEFAULT_MAX_IMAGE_PIXELS (UINT64_C(1) << 40)
#define KLV_DEFAULT_MAX_PIXELS_PER_BYTE UINT64_C(65536)
#define KLV_RATIO_FREE_PIXELS (UINT64_C(1) << 24)

typedef struct klv_image_limits {
  uint64_t max_pixels;          /* MaxImagePixels; 0: no limit */
  uint64_t max_pixels_per_byte; /* MaxPixelsPerByte; 0: no limit */
} klv_image_limits;

/* The limits in force: the registry (or environment) values, else the
 * defaults. A value that is not a whole number is logged and the default kept. */
KLV_API void klv_image_limits_get(klv_image_limits* limits);

/* 1 when an image of width × height pixels may be opened; `file_bytes` is the
 * size of its file when its data is compressed, 0 when not. Otherwise logs one
 * line naming the format, the file, the limit, the values and how to raise it,
 * and returns 0. */
KLV_API int32_t klv_image_limits_check(const char* format, const char* path, uint64_t width,
                                       uint64_t height, uint64_t file_bytes);

KLV_END_C

#endif
