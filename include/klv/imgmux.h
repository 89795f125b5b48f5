/* SPDX-License-Identifier: MIT */
/* Opening images by type code, recognising files by their content, checking
 * that an image can be read, copying one stream into another, and the
 * filtered openers that stack the standard filters over an opened image.
 *
 * Type code 0 (and 1, which never tries the PostScript reader) recognises the
 * file: the readers are tried in a fixed order and the first that accepts the
 * file wins. Code 5 tries its own shorter list, for reading or writing. A
 * reader that is not built keeps its row in the type table and refuses every
 * file, so recognition passes over it. */
#ifndef KLV_IMGMUX_H
#define KLV_IMGMUX_H

#include <stdint.h>

#include "klv/export.h"
#include "klv/filter.h"
#include "klv/img.h"
#include "klv/kernel_types.h"

KLV_BEGIN_C

/* Image type codes. */
enum {
  KLV_TYPE_RECOGNISE = 0,
  KLV_TYPE_RECOGNISE_NO_PS = 1,
  KLV_TYPE_POSTSCRIPT = 2,
  KLV_TYPE_RECOGNISE_DOC = 5,
  KLV_TYPE_TIFF = 10,
  KLV_TYPE_TGA = 11,
  KLV_TYPE_HS = 12,
  KLV_TYPE_BMP = 13,
  KLV_TYPE_JPEG = 14,
  KLV_TYPE_PSD = 15,
  KLV_TYPE_GIF = 16,
  KLV_TYPE_PCX = 17,
  KLV_TYPE_EIJF = 18,
  KLV_TYPE_JPEG2000 = 19,
  KLV_TYPE_PNG = 20,
  KLV_TYPE_PCD = 30,
  KLV_TYPE_LAYOUT_DOC = 31,
  KLV_TYPE_MRSID = 34,
  KLV_TYPE_ECW = 35,
  KLV_TYPE_OUTIMG = 50,
  KLV_TYPE_NULLIMG = 51,
  KLV_TYPE_MULTIMG = 53,
  KLV_TYPE_LAYOUT_FILE = 54,
  KLV_TYPE_DRAWN = 55,
  KLV_TYPE_OCF = 60,
  KLV_TYPE_TEMPLATE = 61,
  KLV_TYPE_PROC_INFO = 62,
  KLV_TYPE_IMG_INFO = 63,
  KLV_TYPE_REPEAT = 64,
  KLV_TYPE_SWATCH = 65,
  KLV_TYPE_PS_PROXY = 68,
  KLV_TYPE_SPOT = 69
};

/* Opens `path` (a host file, or a member of `volume`) as an image of `type`.
 * `mode` is a C mode string: 'r' reads, 'w' writes; modes with 'a' or '+'
 * fail, and so does writing with a recognising type (0 or 1). `info` is
 * optional: on entry the requested description (a writer creates its file
 * from it), on return the stream's description. Null on failure (logged). */
KLV_API IMG_file* img_mux_open(const char* path, SOVolume* volume, const char* mode,
                               image_info* info, int32_t type);

/* The stream's type code when the image opens for reading and its last line
 * can be read, else 0. `info`, when given, receives the description. */
KLV_API int32_t img_check_valid_ex(SOVolume* volume, const char* path, int32_t type,
                                   image_info* info);
KLV_API int32_t img_check_valid(SOVolume* volume, const char* path, int32_t type);
/* 34 when a plain host file begins with "msid", 35 when its first byte is 'e'
 * and its second 1 or 2; 0 for anything else and for members of volumes. */
KLV_API int32_t img_check_novol(SOVolume* volume, const char* path);

/* Copies every line (or tile) of every plane of `src` into `dst`. The two
 * must agree in layout, size, bytes_per_line and tile grid. progress (may be
 * null) is told (context, done, total) after each line or tile; an answer of
 * 0 stops the copy. 1 when everything was copied, else 0. */
KLV_API int32_t copy_img_to_img(IMG_file* dst, IMG_file* src, void* context,
                                filter_progress_fn progress);
/* Writes `src` into a new file of `type` with src's description (and colour
 * map), then closes it. spot_options asks for the spot-colour converter,
 * which is not built: a non-null value fails. A failed copy removes the file.
 * The result of the copy (1 or 0). `src` stays open. */
KLV_API int32_t save_img_as(const char* path, SOVolume* volume, int32_t type, IMG_file* src,
                            const void* spot_options, void* context, filter_progress_fn progress);

/* Opens `path` and stacks the tile, contiguous-image, rotation and line
 * filters so that lines arrive as `target` describes (size, layout, crop,
 * colour interpretation). Reading needs both `info` and `target`; writing
 * takes the file's description from `target` (or `info`). `options` may be
 * null. Null on failure, with everything opened released. */
KLV_API filter_rec* filter_mux_open(const char* path, SOVolume* volume, const char* mode,
                                    image_info* info, int32_t type, image_info* target,
                                    const filter_info* options);
/* filter_mux_open as a stream, with a rotation the filter could not place in
 * front of itself applied after it. */
KLV_API IMG_file* filter_file_open(const char* path, SOVolume* volume, const char* mode,
                                   image_info* info, int32_t type, image_info* target,
                                   const filter_info* options);
/* The same chain over an open stream (which it owns from then on). A stream
 * opened for writing, or a null target, is returned as it is. */
KLV_API IMG_file* filter_img_attach(IMG_file* img, image_info* target, const filter_info* options);

KLV_END_C

#endif
