/* SPDX-License-Identifier: MIT */
/* ICC colour profiles: a small object model that reads, edits and writes
 * version 2 profile structures (all numbers big-endian on disk).
 *
 * A profile is the 128-byte header and a list of tag elements. Each element
 * is an object of a tag-type class that reads and writes its own body; the
 * types the RIP uses are understood ("curv", "text", "mluc", "sig ", "mft1",
 * "mft2", "desc", "XYZ ", "clrt") and every other type is carried as its raw
 * bytes, so a profile keeps its content through a load and a save. One
 * element may serve up to five tag signatures that share one body in the
 * file.
 *
 * From C: the colour space and channel layout queries at the end. The classes
 * are for C++ callers. */
#ifndef KLV_ICC_H
#define KLV_ICC_H

#include <stddef.h>
#include <stdint.h>

#include "klv/export.h"
#include "klv/kernel_types.h"

KLV_BEGIN_C

typedef uint32_t icSignature;
typedef uint32_t icTagSignature;
typedef uint32_t icTagTypeSignature;
typedef int32_t icS15Fixed16Number;

typedef struct icXYZNumber {
  icS15Fixed16Number X, Y, Z;
} icXYZNumber;

typedef struct icDateTimeNumber {
  uint16_t year, month, day, hours, minutes, seconds;
} icDateTimeNumber;

/* A four-character signature as a number: "RGB " is 0x52474220. */
#define KLV_ICC_SIG(a, b, c, d)                                                    \
  ((icSignature)(((uint32_t)(uint8_t)(a) << 24) | ((uint32_t)(uint8_t)(b) << 16) | \
                 ((uint32_t)(uint8_t)(c) << 8) | (uint32_t)(uint8_t)(d)))

/* The colour-space signature in the header of a profile file (a host file
 * when volume is null, else a volume member), read as a text-only profile;
 * 0 when it cannot be read. */
KLV_API icSignature GetVolIccProfileFileColorSpace(SOVolume* volume, const char* path);
KLV_API icSignature GetIccProfileFileColorSpace(const char* path);
/* The same for a profile held in memory. */
KLV_API icSignature GetIccProfileMemColorSpace(const void* memory, size_t size);

/* The channel layout of a profile: process and spot channel counts, colour
 * model (0 subtractive, 1 additive, 3 L*a*b*, 4 XYZ) and high-fidelity mode.
 * Every output is required. For CMYK and n-colour profiles the layout comes
 * from the description text (" -KLVHIFI=n", " -KLVSPOTS=n" and the older
 * " -...HIFI" markers) and the colorant names; the result is 1 when the
 * layout was worked out from them, else 0 (also for other colour spaces and
 * for a profile that cannot be loaded). */
KLV_API int32_t GetVolProfileColorFormat(SOVolume* volume, const char* path, int32_t* channels,
                                         int32_t* spots, int32_t* model, int32_t* hifi);
KLV_API int32_t GetProfileColorFormat(const char* path, int32_t* channels, int32_t* spots,
                                      int32_t* model, int32_t* hifi);

KLV_END_C

/* The profile and tag classes are in klv/icc_cxx.h. */

#endif
