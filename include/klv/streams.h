/* SPDX-License-Identifier: MIT */
/* Small streams that the rest of the library builds on: the null stream
 * (type 51), which accepts any image and discards it; the multiplexed stream
 * (type 53), which writes the same lines into several streams; and the
 * contiguous-image filter, which presents a planar or line-interleaved source
 * as pixel-interleaved lines. */
#ifndef KLV_STREAMS_H
#define KLV_STREAMS_H

#include <stdint.h>

#include "klv/export.h"
#include "klv/img.h"
#include "klv/imgmux.h"
#include "klv/kernel_types.h"

KLV_BEGIN_C

/* The type codes of these streams are those of the type table in klv/imgmux.h:
 * KLV_TYPE_OUTIMG (50), KLV_TYPE_NULLIMG (51) and KLV_TYPE_MULTIMG (53). */

/* ---- Null stream ------------------------------------------------------ */

/* Opens a stream that discards what is written. Any mode but exactly "r";
 * `info` needs a non-zero size, 1 to 8 bits per sample, 1 to 12 samples,
 * photometric 0 to 3 (a palette needs one sample and a colour map) and no
 * tiled layout. Its bytes_per_line is set by the layout rule and its crop to
 * the full image. Path and volume are not used. Null when refused (logged). */
KLV_API void* null_open(const char* path, SOVolume* volume, const char* mode, image_info* info);
KLV_API int32_t null_read_line(void* state, uint8_t* buffer, int32_t count);  /* 0 */
KLV_API int32_t null_write_line(void* state, uint8_t* buffer, int32_t count); /* count */
KLV_API int32_t null_seek_line(void* state, int32_t line, int32_t plane, int32_t page,
                               int32_t whence); /* line */
KLV_API image_cmap* null_get_cmap(void* state); /* null */
KLV_API int32_t null_close(void* state);
/* null_open wrapped in an IMG_file of type 51 (mode from `mode`), or null. */
KLV_API IMG_file* null_open_img(const char* path, SOVolume* volume, const char* mode,
                                image_info* info);

/* ---- Multiplexed stream ----------------------------------------------- */

/* Joins a null-terminated list of streams opened for writing into one stream
 * of type 53: each line written goes to every stream in turn, a seek seeks
 * every stream, closing closes them all. The streams must agree with the
 * first in width, height, pages, planar, bits_per_sample, samples and
 * photometric, and the first must not be tiled; otherwise null and the
 * caller keeps its streams. On success the new stream owns them.
 *
 * A write returns the fewest lines any stream took, and a seek -1 when any
 * stream refused it, so that a failing stream is never hidden behind one
 * that succeeded. */
KLV_API IMG_file* mult_img_connect(IMG_file** streams);

/* ---- Contiguous-image filter ------------------------------------------ */

/* Reads a planar or line-interleaved source in bands of lines and delivers
 * pixel-interleaved lines with the same samples. */
typedef struct contimg_filter contimg_filter;

/* Attaches to `source` (opened for reading). `info` is the source's
 * description (null takes source->info). band_lines <= 0 picks 8192 bytes'
 * worth of source lines (at least one). A source that is neither planar with
 * at least two planes nor line-interleaved with at least two samples is
 * passed through: contimg_to_img then hands the source back unchanged. Null
 * when the description cannot be interleaved (logged); the caller then keeps
 * the source. The filter owns the source from a successful attach on. */
KLV_API contimg_filter* contimg_attach(IMG_file* source, const image_info* info,
                                       int32_t band_lines);
/* The filter as a stream of the source's type with a pixel-interleaved
 * description, or the source itself for a pass-through filter. The filter is
 * consumed either way (null and everything closed when memory is short). */
KLV_API IMG_file* contimg_to_img(contimg_filter* filter);
KLV_API int32_t contimg_read_line(void* filter, uint8_t* buffer, int32_t count);
/* One plane: whence 0 from the first line, 1 from the current one, 2 from the
 * last; returns the new line (height = one past the last is allowed) or -1. */
KLV_API int32_t contimg_seek_line(void* filter, int32_t line, int32_t plane, int32_t page,
                                  int32_t whence);
KLV_API image_cmap* contimg_get_cmap(void* filter);
/* Frees the filter and closes the source. */
KLV_API int32_t contimg_close(void* filter);
/* The pixel-interleaved description the filter delivers (owned by the filter). */
KLV_API const image_info* contimg_info(const contimg_filter* filter);

KLV_END_C

#endif
