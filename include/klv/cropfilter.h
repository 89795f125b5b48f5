/* SPDX-License-Identifier: MIT */
/* The crop filter: a rectangle of another stream in the source's own sample
 * layout (pixel-interleaved, planar or line-interleaved, any bit depth,
 * packed samples included), pages and planes walked in order.
 *
 * The rectangle is given as fractions of the last pixel and line index. A
 * crop of the whole image, exactly (0, 0, 1, 1), makes the filter
 * transparent: every operation, writing included, goes straight to the
 * source. */
#ifndef KLV_CROPFILTER_H
#define KLV_CROPFILTER_H

#include <stdint.h>

#include "klv/export.h"
#include "klv/img.h"

KLV_BEGIN_C

/* Fractions of width - 1 (x) and height - 1 (y). */
typedef struct cropfltr_info {
  double x1, y1, x2, y2;
} cropfltr_info;

typedef struct cropfltr cropfltr;

/* A record set to (0, 0, 1, 1); null when memory is short. */
KLV_API cropfltr_info* cropfltr_malloc_info(void);
KLV_API void cropfltr_free_info(cropfltr_info* info);

/* Wraps `source`, which the filter owns from then on. Null for a null or
 * tiled source, fractions outside 0..1 or in the wrong order (the source is
 * then left open), or when memory is short (the source is closed). Null
 * fractions crop nothing. */
KLV_API cropfltr* cropfltr_attach(IMG_file* source, const cropfltr_info* fractions);
/* The filter as a stream of the source's type and mode, described as the
 * source with the crop's width, height, sizes in inches and bytes per line.
 * Null (and the filter closed) when memory is short. */
KLV_API IMG_file* cropfltr_to_img(cropfltr* filter);
/* Lines delivered; -1 for a null filter. */
KLV_API int32_t cropfltr_read_line(cropfltr* filter, uint8_t* buffer, int32_t count);
/* Passed to the source when transparent; otherwise 0 lines. */
KLV_API int32_t cropfltr_write_line(cropfltr* filter, uint8_t* buffer, int32_t count);
/* whence 0: from the start, 1: from the current position, 2: from the last
 * line of the last plane of the last page; the position is clamped to the
 * image. Returns the line within its plane, or -1. */
KLV_API int32_t cropfltr_seek_line(cropfltr* filter, int32_t line, int32_t plane, int32_t page,
                                   int32_t whence);
KLV_API image_cmap* cropfltr_get_cmap(cropfltr* filter);
/* The source's status. When the source becomes ready (1) after the filter
 * was wrapped, the crop is worked out again from its final description. */
KLV_API int32_t cropfltr_status(cropfltr* filter, int32_t what);
/* Closes the source and frees the filter; the source's close status. */
KLV_API int32_t cropfltr_close(cropfltr* filter);

KLV_END_C

#endif
