/* SPDX-License-Identifier: MIT */
/* TGA files as image streams (image type 11) of 8-bit samples.
 *
 * Reading: colour-mapped (types 1 and 9, 8-bit indices), true-colour (types 2
 * and 10: 15/16-, 24- and 32-bit pixels) and gray (types 3 and 11, 8-bit)
 * images, raw or run-length encoded, rows stored top to bottom or bottom to
 * top, pixels left to right or right to left. Lines are delivered top row
 * first, left pixel first: indices or gray values as stored, 16-bit pixels as
 * R, G, B from their 5-bit fields (shifted left by 3), 24-bit pixels as R, G,
 * B, 32-bit pixels as R, G, B and 255 - alpha. Colour-mapped files read as
 * photometric 2 with their map (tga_get_cmap: entry i is the colour of pixel
 * value i), the others as photometric 1. Resolution is 100 pixels per inch.
 *
 * Writing: 8 bits per sample, pixel-interleaved, no mask samples, at most
 * 65535 pixels each way: a palette image (photometric 2, one sample, the map
 * in info->cmap) as type 1, one sample as type 3, three as type 2 with 24-bit
 * pixels, four as type 2 with 32-bit pixels whose alpha is 255 - the fourth
 * sample (so that what is written reads back unchanged). `compression`
 * non-zero writes the run-length types (9, 10, 11). Rows are written top to
 * bottom.
 *
 * The state record returned by tga_open is what the operations take as their
 * first argument; they match the operation slots of IMG_file. */
#ifndef KLV_TGA_H
#define KLV_TGA_H

#include <stddef.h>
#include <stdint.h>

#include "klv/export.h"
#include "klv/img.h"
#include "klv/kernel_types.h"

KLV_BEGIN_C

/* Opens `path` with Ovfopen(volume, path, mode). A mode containing 'r' reads
 * and fills `info` when given; any other mode writes a new file from `info`
 * (required) and updates it. Null on failure (logged). */
KLV_API void* tga_open(const char* path, SOVolume* volume, const char* mode, image_info* info);
/* Parses the header of an open stream and builds a read state that owns the
 * stream; on failure the stream is closed and null returned. */
KLV_API void* tga_read_vars(SFilemux* stream);
/* Writes the header (and the colour map from `cmap`) for `info` and builds a
 * write state that owns the stream; `info` is updated. On failure the stream
 * is closed and null returned. */
KLV_API void* tga_write_vars(SFilemux* stream, image_info* info, const image_cmap* cmap);
/* Fills `info` with the description of a read state. 1 or 0. */
KLV_API int32_t tga_get_info(void* state, image_info* info);
/* Raw bytes from or to the state's file at its current position: the count
 * moved. */
KLV_API size_t tga_read(void* state, void* buffer, size_t bytes);
KLV_API size_t tga_write(void* state, const void* buffer, size_t bytes);

KLV_API int32_t tga_read_line(void* state, uint8_t* buffer, int32_t count);
KLV_API int32_t tga_write_line(void* state, uint8_t* buffer, int32_t count);
KLV_API int32_t tga_seek_line(void* state, int32_t line, int32_t plane, int32_t page,
                              int32_t whence);
/* A new colour map (free_cmap) of a colour-mapped file, else null. */
KLV_API image_cmap* tga_get_cmap(void* state);
/* Frees the state and closes the file. 0, or -1 when written data was lost. */
KLV_API int32_t tga_close(void* state);
/* 1 when the first `n` bytes of a file (at most 18 are looked at) can begin a
 * TGA file this reader opens. */
KLV_API int32_t tga_probe(const uint8_t* head, size_t n);

KLV_END_C

#endif
