/* SPDX-License-Identifier: MIT */
/* The rotation filter: a readable stream turned clockwise by quarter turns,
 * optionally mirrored left to right first.
 *
 * Mirrors and half turns work line by line. Quarter turns exchange width and
 * height: the output is built in bands of lines that fit the byte budget.
 * Small planes are read once per band; a large plane that needs several bands
 * is read once and cut into turned tiles in a temporary file (under TMPDIR,
 * removed at once and gone at close), from which each band is read back. A
 * source that would be read bottom to top but is compressed is first copied
 * to a temporary image. */
#ifndef KLV_ROTATE_H
#define KLV_ROTATE_H

#include <stdint.h>

#include "klv/export.h"
#include "klv/img.h"

KLV_BEGIN_C

/* Called with the percentage of the current pass, the pass (from 1) and the
 * number of passes; an answer of 0 aborts. */
typedef int32_t (*rotate_progress_fn)(int32_t percent, int32_t pass, int32_t passes, void* arg);

/* A rotation request; every field may be zero. */
typedef struct rotate_request {
  uint8_t turns;  /* quarter turns clockwise; only the low two bits count */
  uint8_t mirror; /* non-zero: mirror left to right before turning */
  uint8_t reserved[2];
  uint32_t budget;       /* bytes for the band buffer; 0: sized from the machine
                            (a sixteenth of its memory, 8 MB to 256 MB) */
  const char* temp_path; /* temporary copy; null or "" makes one in the temp folder */
  uint32_t own_temp;     /* non-zero: delete temp_path at close as well */
  rotate_progress_fn progress;
  void* progress_arg;
} rotate_request;

enum { ROTATE_DEFAULT_BUDGET = 8000000 };

typedef struct rotate_filter rotate_filter;

/* Attaches to `source`, which must be opened for reading and which the filter
 * owns from then on (a null request turns nothing). Null on failure, with the
 * source closed. */
KLV_API rotate_filter* rotate_attach(IMG_file* source, const rotate_request* request);
/* The filter as a stream of the source's type, mode 'r'; null (and the filter
 * closed) when memory is short. */
KLV_API IMG_file* rotate_to_file(rotate_filter* filter);
/* Closes the source and the temporary copy, deletes the temporary file when
 * the filter owns it, frees the filter. Returns null. */
KLV_API rotate_filter* rotate_close(rotate_filter* filter);

KLV_API int32_t rotate_read_line(void* filter, uint8_t* buffer, int32_t count);
/* whence 0: absolute, negative parts keep the current line, plane or page;
 * 1: relative; 2: from the last line of the last plane of the last page.
 * Returns the new line or -1. */
KLV_API int32_t rotate_seek_line(void* filter, int32_t line, int32_t plane, int32_t page,
                                 int32_t whence);
KLV_API image_cmap* rotate_get_cmap(void* filter);
KLV_API int32_t rotate_status(IMG_file* img, int32_t what);

/* The output description (owned by the filter), passes over each source
 * plane (the bands, or 1 when the plane is turned through tiles) and the
 * temporary copy's path ("" when there is none). */
KLV_API const image_info* rotate_info(const rotate_filter* filter);
KLV_API int32_t rotate_passes(const rotate_filter* filter);
KLV_API const char* rotate_temp_path(const rotate_filter* filter);

KLV_END_C

#endif
