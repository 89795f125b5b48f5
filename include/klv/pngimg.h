/* SPDX-License-Identifier: MIT */
/* PNG files as image streams (image type 20), decoded and encoded by libpng.
 *
 * Reading: every colour type and depth, interlaced or not. Gray of 1, 8 or 16
 * bits and palette indices of 1, 4 or 8 bits keep their depth; gray of 2 or 4
 * bits is scaled to 8 bits and palette indices of 2 bits widened to 8.
 * 16-bit samples stay 16-bit, in host byte order. Gray and RGB read as
 * photometric 1 with 1 or 3 samples, palette files as photometric 2 with
 * their colour map (png_get_cmap); an alpha channel is one mask sample after
 * the colour samples. Transparency chunks (tRNS) are not applied. The
 * resolution comes from pHYs in metres (100 pixels per inch without one); the
 * profile word is all ones when the file embeds an ICC profile (iCCP). An
 * interlaced file is decoded whole on the first read.
 *
 * Writing: photometric 1 with 1 or 3 samples and at most one mask sample
 * (alpha), 8 or 16 bits, or 1, 2 or 4 bits for gray without alpha;
 * photometric 2 with one sample of 1, 2, 4 or 8 bits and a colour map. The
 * resolution goes into pHYs, a profile block in the profile word into iCCP.
 * A stream closed before its last line leaves an unfinished file. */
#ifndef KLV_PNGIMG_H
#define KLV_PNGIMG_H

#include <stdint.h>

#include "klv/export.h"
#include "klv/img.h"
#include "klv/kernel_types.h"

KLV_BEGIN_C

/* Opens `path` in `volume`: a mode containing 'r' reads and fills `info` when
 * given; any other mode writes a new file from `info` (required; its cmap for
 * palette images) and updates it. Null on failure (logged). */
KLV_API void* pngimg_open(const char* path, SOVolume* volume, const char* mode, image_info* info);
/* Ends reading or writing and closes the file: 0, or -1 when a finished file
 * could not be written out. */
KLV_API int32_t pngimg_close(void* record);
/* Lines moved; a line that cannot be decoded or written ends the call. */
KLV_API int32_t pngimg_read_line(void* record, uint8_t* buffer, int32_t count);
KLV_API int32_t pngimg_write_line(void* record, uint8_t* buffer, int32_t count);
/* The new line or -1. Reading backwards decodes again from the start (an
 * interlaced file seeks freely once decoded); writing cannot move. */
KLV_API int32_t pngimg_seek_line(void* record, int32_t line, int32_t plane, int32_t page,
                                 int32_t whence);
/* A new colour map of a palette file (free_cmap), else null. */
KLV_API image_cmap* pngimg_get_cmap(void* record);
/* The embedded ICC profile as a shared block (checkin_image_profile), or null. */
KLV_API image_profile* pngimg_get_profile(void* record);

KLV_END_C

#endif
