/* SPDX-License-Identifier: MIT */
/* Filling the halftone filter's input in place. A filter whose engines run on
 * threads keeps the lines it is given in chunks of its own; a caller that
 * reads or converts its lines anyway can produce them straight into the open
 * chunk instead of into a buffer that the filter then copies:
 *
 *   n = HTPlace_LendLines(filter, &room, want);   room for n lines (n <= want)
 *   ... read or convert n (or fewer) lines into room, bytes_per_line apart
 *   HTPlace_CommitLines(filter, done);             hands over the first `done`
 *
 * The lines go to the engines as if written with img_write_line. A lend ends
 * with the commit; img_write_line, another lend or closing the filter end it
 * too and drop the lines it held. Use from the thread that writes the filter. */
#ifndef KLV_HALFTONE_LEND_H
#define KLV_HALFTONE_LEND_H

#include <stdint.h>

#include "klv/export.h"
#include "klv/img.h"

KLV_BEGIN_C

/* Lends room for up to `count` lines of the filter's input description in
 * the filter's open chunk, waiting while every chunk is in use: *lines points
 * at the first line. Returns the lines lent (1 to count; fewer when the chunk
 * or the page has less room); 0 when this stream cannot lend (not a halftone
 * filter, engines not threaded, planar input, the page complete, count < 1,
 * null arguments): write lines with img_write_line then; -1 when the filter
 * failed (an engine or the output; img_status says -1 too). */
KLV_API int32_t HTPlace_LendLines(IMG_file* filter, uint8_t** lines, int32_t count);
/* Hands over the first `count` lines of the room lent (0 gives the lend
 * back). Returns `count`; -1 (logged) when they were not taken: nothing was
 * lent, `count` is more than was lent, or the filter failed. */
KLV_API int32_t HTPlace_CommitLines(IMG_file* filter, int32_t count);

KLV_END_C

#endif
