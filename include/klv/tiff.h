/* SPDX-License-Identifier: MIT */
/* TIFF files as image streams (image type 10), read and written through
 * libtiff, in lines or, for tiled files, in tiles.
 *
 * Besides the baseline photometric interpretations the stream carries the
 * library's ink sets: CMYK with extra inks (hifi_mode), inverted light forms,
 * spot, mask and extra channels (InkNames), the channel order of a target
 * printer and the line-interleaved layout (TargetPrinter), copy counts
 * (ImageDescription "Data for N copies") and embedded ICC profiles.
 *
 * The description's words that the stream gives a meaning:
 *   format_word1      1 when one of the mask_samples channels is a mask
 *   format_word2      colour-order code: 0 none, 1 "WRGB", 2 "WRMGBA",
 *                     3 "BAGRMW", 4 custom (text through tif_open_ex)
 *   format_words[0]   copy count
 *   format_words[1]   option bits: TIF_OPT_INK_NAMES, the caller supplies the
 *                     ink names; any non-zero value writes one line per strip
 *   compression       0 none; low byte 1 lossless, 2..5 samples reduced to
 *                     1..4 significant bits first (8-bit, non-palette);
 *                     TIF_COMPRESS_DEFLATE selects Deflate in place of LZW
 *   tile_words        KLV_TILE_WIDTH, KLV_TILE_HEIGHT (the offsets must be 0),
 *                     KLV_TILE_ACROSS, KLV_TILE_DOWN, KLV_TILE_PER_PLANE and
 *                     TIF_TILE_BYTES, the bytes of one tile
 *   profile_word      writing: an image_profile block to embed; reading: all
 *                     ones when the file holds a profile (tif_get_profile)
 *
 * Texts do not fit in the 32-bit words of the description, so the custom
 * colour order and the caller's ink names travel through tif_open_ex and come
 * back from tif_get_color_order and tif_get_ink_names.
 *
 * Lab data is delivered with a and b offset by 128 (8 bits) or as unsigned
 * 16-bit values (converted from the file's signed form). */
#ifndef KLV_TIFF_H
#define KLV_TIFF_H

#include <stdint.h>

#include "klv/export.h"
#include "klv/img.h"
#include "klv/kernel_types.h"

KLV_BEGIN_C

enum {
  TIF_OPT_INK_NAMES = 1 << 16,  /* format_words[1]: caller supplies ink names */
  TIF_COMPRESS_DEFLATE = 1 << 8 /* compression: Deflate in place of LZW */
};
enum { TIF_TILE_BYTES = 7 }; /* index into tile_words */

/* Opens `path` for reading (mode beginning with 'r'; `info` is filled when
 * given) or writing (any other mode; `info` required). Null on failure. */
KLV_API void* tif_open(SOVolume* volume, const char* path, const char* mode, image_info* info);
/* tif_open with the texts of a written file: the custom colour order (code 4)
 * and the caller's ink names (tab-separated, with TIF_OPT_INK_NAMES). Either
 * may be null. */
KLV_API void* tif_open_ex(SOVolume* volume, const char* path, const char* mode, image_info* info,
                          const char* color_order, const char* ink_names);
/* Finishes a written file, closes and frees. Returns 0. */
KLV_API int32_t tif_close(void* record);

KLV_API int32_t tif_read_line(void* record, uint8_t* buffer, int32_t count);
KLV_API int32_t tif_write_line(void* record, uint8_t* buffer, int32_t count);
KLV_API int32_t tif_seek_line(void* record, int32_t line, int32_t plane, int32_t page,
                              int32_t whence);
/* Lends up to `count` next lines in place (see img_lend_lines): only for an
 * uncompressed, pixel-interleaved file on a host file whose strips lie one
 * after another and need no conversion. */
KLV_API int32_t tif_lend_lines(void* record, const uint8_t** lines, int32_t count);
KLV_API int32_t tif_read_tile(void* record, uint8_t* buffer, int32_t count);
KLV_API int32_t tif_write_tile(void* record, uint8_t* buffer, int32_t count);
KLV_API int32_t tif_seek_tile(void* record, int32_t tile, int32_t plane, int32_t page,
                              int32_t whence);
/* Palette files: a new map of 2^bits entries (free with free_cmap); else null. */
KLV_API image_cmap* tif_get_cmap(void* record);
/* The embedded ICC profile as a shared block (give it back with
 * checkin_image_profile), or null. */
KLV_API image_profile* tif_get_profile(void* record);

/* The order text of the file's colour order ("WRGB", or the text after "CO="),
 * the ink names as tab-separated text, or null. Owned by the record. */
KLV_API const char* tif_get_color_order(void* record);
KLV_API const char* tif_get_ink_names(void* record);

KLV_END_C

#ifdef __cplusplus
class CIMG_file;
/* An image object over tif_open that copies the description in and back; its
 * ToImg makes an IMG_file with the line or tile operations. Null on failure. */
KLV_API CIMG_file* tif_img_open(SOVolume* volume, const char* path, const char* mode,
                                image_info* info);
#endif

#endif
