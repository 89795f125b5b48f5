/* SPDX-License-Identifier: MIT */
/* The output image (type 50): the library's own container for rendered and
 * intermediate images. It is a volume holding
 *   ".\\image_info"  the description (64 bytes, below),
 *   "color_map"      the palette of a palette image,
 *   "pg%d_sep%d"     the lines of one separation of one page (both from 0),
 *                    raw or, when `compression` is non-zero, through the
 *                    kernel's compression layer with that parameter.
 * A planar image has samples + mask_samples separations per page, any other
 * layout one. A member that does not exist reads as blank lines (255 for
 * photometric 1, else 0).
 *
 * ".\\image_info", little-endian: "IMIN", width, height, pages, planar,
 * bits_per_sample, samples, mask_samples, photometric, bytes_per_line (32-bit
 * each), xres, yres (doubles), compression, format_word1 (32-bit each). The
 * last word may be missing (a 60-byte member); it then reads as 0.
 *
 * "color_map": "CMAP", channels, entries (32-bit each), the map's photometric
 * (one byte), then per entry its `channels` values, one byte each. */
#ifndef KLV_OUTIMG_H
#define KLV_OUTIMG_H

#include <stdint.h>

#include "klv/export.h"
#include "klv/img.h"
#include "klv/kernel_types.h"

KLV_BEGIN_C

enum { KLV_OUTIMG_INFO_BYTES = 64, KLV_OUTIMG_INFO_MIN_BYTES = 60 };

/* Opens `path` (a host file, or a member of `volume`) for reading (mode
 * beginning with 'r': `info` receives the stored description) or creates it
 * for writing (mode beginning with 'w': `info` gives the description; pages 0
 * becomes 1; bytes_per_line is set by the layout rule). Modes with 'a' or '+'
 * fail. Null on failure (logged), with everything opened released. */
KLV_API void* outimg_open(const char* path, SOVolume* volume, const char* mode, image_info* info);
/* Lines from the current (line, separation, page) on, running on into the
 * next separation and page; fewer at the end of the last page or when a
 * member cannot be read or sought. */
KLV_API int32_t outimg_read_line(void* state, uint8_t* buffer, int32_t count);
KLV_API int32_t outimg_write_line(void* state, uint8_t* buffer, int32_t count);
/* whence 0: absolute, a negative value keeps that part of the position;
 * whence 1: relative to the current position; whence 2: from the last line of
 * the last separation of the last page. Positions run on through separations
 * and pages. Returns the new line, or -1 (position unchanged) when it lies
 * outside the image. A compressed member being written can only go back to
 * its line 0; the refusal shows when lines are next written. */
KLV_API int32_t outimg_seek_line(void* state, int32_t line, int32_t separation, int32_t page,
                                 int32_t whence);
/* A copy of the stored colour map (free with free_cmap), or null. */
KLV_API image_cmap* outimg_get_cmap(void* state);
/* Ends every compressed member, closes the members and the volume (which
 * commits a written image). 0, or -1 when written data could not be kept. */
KLV_API int32_t outimg_close(void* state);
/* outimg_open wrapped in an IMG_file of type 50, or null. */
KLV_API IMG_file* outimg_open_img(const char* path, SOVolume* volume, const char* mode,
                                  image_info* info);

KLV_END_C

#endif
