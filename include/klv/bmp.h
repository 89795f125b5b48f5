/* SPDX-License-Identifier: MIT */
/* BMP files as image streams (image type 13).
 *
 * Reading: 1-, 4-, 8- and 24-bit files with the 40- or 12-byte information
 * header, uncompressed or run-length compressed (RLE4, RLE8), bottom-up or
 * top-down. Palette files read as photometric 2 with their colour map, 24-bit
 * files as RGB (photometric 1, samples delivered red, green, blue).
 *
 * Writing: palette images of 1, 4 or 8 bits (photometric 2, one sample, the
 * map in info->cmap) and 24-bit RGB (photometric 1, three 8-bit samples). A
 * palette image of 4 or 8 bits whose description has `compression` 1 is written
 * top-down and run-length encoded (RLE4 or RLE8); a 1-bit image is always
 * written uncompressed, and its description says so on return.
 *
 * The state record returned by bmp_open is what the operations take as their
 * first argument; they match the operation slots of IMG_file. */
#ifndef KLV_BMP_H
#define KLV_BMP_H

#include <stdint.h>

#include "klv/export.h"
#include "klv/img.h"
#include "klv/kernel_types.h"

KLV_BEGIN_C

/* Opens `path` with Ovfopen(volume, path, mode). A mode containing 'r' reads
 * the file and fills `info` when it is given; any other mode writes a new file
 * from `info` (required) and updates it. Null on failure (logged). */
KLV_API void* bmp_open(const char* path, SOVolume* volume, const char* mode, image_info* info);
/* Parses the headers of an open stream and builds a read state. The stream
 * then belongs to the state; on failure it is closed and null returned. */
KLV_API void* bmp_read_vars(SFilemux* stream);
/* Writes the headers for `info` (and the colour table from `cmap`) and builds a
 * write state; `info` is updated to what the file holds. On failure the stream
 * is closed and null returned. */
KLV_API void* bmp_write_vars(SFilemux* stream, image_info* info, const image_cmap* cmap);
/* Fills `info` with the description of a state made by bmp_read_vars. 1 or 0. */
KLV_API int32_t bmp_get_info(void* state, image_info* info);

KLV_API int32_t bmp_read_line(void* state, uint8_t* buffer, int32_t count);
KLV_API int32_t bmp_write_line(void* state, uint8_t* buffer, int32_t count);
KLV_API int32_t bmp_seek_line(void* state, int32_t line, int32_t plane, int32_t page,
                              int32_t whence);
/* A new colour map (free it with free_cmap), or null when the file has none. */
KLV_API image_cmap* bmp_get_cmap(void* state);
/* Frees the state; a written file gets its size patched when every line was
 * written. Returns 0. */
KLV_API int32_t bmp_close(void* state);

KLV_END_C

#endif
