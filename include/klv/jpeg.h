/* SPDX-License-Identifier: MIT */
/* JPEG files as image streams (image type 14), decoded and encoded by libjpeg.
 *
 * Every JPEG stream carries 8-bit pixel-interleaved light data (photometric
 * 1): gray, RGB, or four-sample CMYK in inverted form (0 is full ink), which
 * is how Adobe CMYK files store it; a CMYK file without the Adobe marker is
 * inverted on reading so that it reads the same way.
 *
 * Reading fills the description: resolution from the Photoshop resolution
 * resource when the file has one, else from the JFIF density; the profile word
 * is all ones when the file embeds an ICC profile (jpg_get_profile hands it
 * out). The decoder runs forwards only: a seek backwards decodes again from
 * the start, except that a seek back to the line just read is answered from a
 * kept copy once it has happened once.
 *
 * Writing needs width, height, 8 bits, photometric 1, 1, 3 or 4 samples and
 * the pixel-interleaved layout. `compression` picks the quality: 0 gives 100,
 * 1 to 20 give 50, 21 and above are the quality itself (at most 100). A
 * profile block in the profile word is embedded. A stream closed before its
 * last line leaves an unfinished file.
 *
 * A corrupt or truncated file is an error of the call that meets it (logged);
 * libjpeg never ends the process. */
#ifndef KLV_JPEG_H
#define KLV_JPEG_H

#include <stdint.h>

#include "klv/export.h"
#include "klv/img.h"
#include "klv/kernel_types.h"

KLV_BEGIN_C

/* Opens `path` in `volume`: mode 'r...' reads and fills `info` when given;
 * any other mode writes a new file from `info` (required) and updates it.
 * Null on failure (logged). */
KLV_API void* jpg_open(const char* path, SOVolume* volume, const char* mode, image_info* info);
/* Ends decoding or encoding and closes the file. 0, or -1 when a finished
 * file could not be written out. */
KLV_API int32_t jpg_close(void* record);
/* Lines moved. A read at or past the last line or one that fails to decode
 * fills that line (255 for RGB, else 0) and ends the call. */
KLV_API int32_t jpg_read_line(void* record, uint8_t* buffer, int32_t count);
KLV_API int32_t jpg_write_line(void* record, uint8_t* buffer, int32_t count);
/* Read streams only: the new line or -1. */
KLV_API int32_t jpg_seek_line(void* record, int32_t line, int32_t plane, int32_t page,
                              int32_t whence);
/* The embedded ICC profile as a shared block (checkin_image_profile), or null. */
KLV_API image_profile* jpg_get_profile(void* record);

KLV_END_C

#ifdef __cplusplus
class CIMG_file;
/* An image object over jpg_open that copies the description in and back.
 * Null on failure. */
KLV_API CIMG_file* jpg_img_open(SOVolume* volume, const char* path, const char* mode,
                                image_info* info);
#endif

#endif
