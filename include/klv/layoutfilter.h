/* SPDX-License-Identifier: MIT */
/* Channel layout filters: any readable stream presented in one chosen sample
 * layout.
 *
 * - pxvfltr: pixel-interleaved lines (planar 0);
 * - lnvfltr: line-interleaved lines (planar 2); it also writes, taking
 *   pixel-interleaved lines and passing line-interleaved ones to a stream
 *   opened for writing;
 * - sepfltr: planes (planar 1), one plane row a line, plane after plane.
 *
 * The filters read their source in bands of lines (about 8 KB, at least 5
 * lines, at most the image) and re-lay them with the bit-field routines
 * below, which handle samples of 1 to 8 bits and of 16 bits. Bit positions
 * count from the most significant bit of a byte; the routines OR their bits
 * into a destination that the caller clears first. */
#ifndef KLV_LAYOUTFILTER_H
#define KLV_LAYOUTFILTER_H

#include <stdint.h>

#include "klv/export.h"
#include "klv/img.h"

KLV_BEGIN_C

/* One-word records that hold the filter objects. */
typedef struct pxvfltr pxvfltr;
typedef struct lnvfltr lnvfltr;
typedef struct sepfltr sepfltr;

/* The source must be opened for reading and not be a palette image; a tiled
 * source gets the tile filter first. Null on refusal (the source then stays
 * open) or when memory is short (the source is closed). */
KLV_API pxvfltr* pxvfltr_attach(IMG_file* source);
KLV_API int32_t pxvfltr_read_line(pxvfltr* filter, uint8_t* buffer, int32_t count);
/* plane and page must be 0. whence 0: `line` (a negative line keeps the
 * current one); 1: relative; 2: height - line. Returns the line or -1. */
KLV_API int32_t pxvfltr_seek_line(pxvfltr* filter, int32_t line, int32_t plane, int32_t page,
                                  int32_t whence);
/* The filter as a stream (the handle owns it); null, with the filter closed,
 * when memory is short. */
KLV_API IMG_file* pxvfltr_to_img(pxvfltr* filter);
/* Closes the source and frees the filter. */
KLV_API void pxvfltr_close(pxvfltr* filter);

/* The source must be opened for reading, or be a line-interleaved stream
 * opened for writing, and not be a palette image. On refusal the source is
 * closed. */
KLV_API lnvfltr* lnvfltr_attach(IMG_file* source);
KLV_API int32_t lnvfltr_read_line(lnvfltr* filter, uint8_t* buffer, int32_t count);
/* Takes pixel-interleaved lines and writes them line-interleaved; stops at
 * the height or at the first failed write. */
KLV_API int32_t lnvfltr_write_line(lnvfltr* filter, uint8_t* buffer, int32_t count);
KLV_API int32_t lnvfltr_seek_line(lnvfltr* filter, int32_t line, int32_t plane, int32_t page,
                                  int32_t whence);
KLV_API IMG_file* lnvfltr_to_img(lnvfltr* filter);
KLV_API void lnvfltr_close(lnvfltr* filter);

/* Like pxvfltr_attach. */
KLV_API sepfltr* sepfltr_attach(IMG_file* source);
/* Lines of the current plane, running on into the next plane. */
KLV_API int32_t sepfltr_read_line(sepfltr* filter, uint8_t* buffer, int32_t count);
/* page must be 0 and plane below the plane count. whence 0: `line` in
 * `plane` (negative values keep the current ones); 1: relative; 2: from the
 * last line of the last plane. Returns the line or -1. */
KLV_API int32_t sepfltr_seek_line(sepfltr* filter, int32_t line, int32_t plane, int32_t page,
                                  int32_t whence);
KLV_API IMG_file* sepfltr_to_img(sepfltr* filter);
KLV_API void sepfltr_close(sepfltr* filter);

/* Copies `count` samples of `bits` bits (1 to 8; other widths do nothing)
 * from src at bit src_bit to dst at bit dst_bit, inverted when `invert` is
 * set, each written replicate + 1 times; the source moves on by bits +
 * src_skip bits a sample. */
KLV_API void KelvCopyBits(uint8_t* dst, const uint8_t* src, uint32_t count, uint32_t dst_bit,
                          uint32_t src_bit, int32_t invert, uint32_t src_skip, uint32_t replicate,
                          uint32_t bits);
/* Interleaves `plane_count` plane rows into one pixel-interleaved row:
 * `count` pixels, each plane's sample at the shared source bit, inverted and
 * replicated as by KelvCopyBits. */
KLV_API void MakeContig(uint8_t* dst, const uint8_t* const* planes, uint32_t plane_count,
                        uint32_t count, uint32_t dst_bit, uint32_t src_bit, int32_t invert,
                        uint32_t replicate, uint32_t bits);
/* For each of `groups`: skip dst_skip_before destination samples, copy
 * `first` samples, skip dst_skip_between, copy `second`, then skip src_skip
 * source samples. Counts are in samples of `bits` bits (1 to 8 or 16). */
KLV_API void CopySkipBits(uint8_t* dst, const uint8_t* src, uint32_t groups, uint32_t first,
                          uint32_t second, uint32_t src_skip, uint32_t dst_skip_before,
                          uint32_t dst_skip_between, uint32_t bits);
/* Splits a pixel-interleaved row of `width` pixels into `planes` rows placed
 * row_bytes apart, and back. Samples of 1 to 8 or 16 bits. */
KLV_API void PxvToLnv(uint8_t* dst, const uint8_t* src, uint32_t planes, uint32_t row_bytes,
                      uint32_t width, uint32_t bits);
KLV_API void LnvToPxv(uint8_t* dst, const uint8_t* src, uint32_t planes, uint32_t row_bytes,
                      uint32_t width, uint32_t bits);

KLV_END_C

#endif
