/* SPDX-License-Identifier: MIT */
/* OCF image references (image type 60).
 *
 * An OCF file holds no pixels: it names a source image and says how it is
 * delivered (printed size, resolution, sample layout, crop, colour chain,
 * calibration, 16-bit handling and bleed). It is a settings text block
 * `OCFImg { Width { ... } ... }`, kept as the member ".\\Info" of a volume
 * or as a plain file. Opened for reading it is a stream whose description is
 * known at once; the source is opened and the filter chain over it built only
 * when the first line or seek is asked for. OCF streams are read-only.
 * img_mux_open opens them with type 60, and type 5 (documents) recognises
 * them; types 0 and 1 (pictures) leave them out, so a caller that takes
 * either asks ocfimg_check first. */
#ifndef KLV_OCFIMG_H
#define KLV_OCFIMG_H

#include <stdint.h>

#include "klv/export.h"
#include "klv/img.h"
#include "klv/kernel_types.h"

KLV_BEGIN_C

#define KLV_OCF_PATH_SIZE 260
#define KLV_OCF_BLEED_PIXELS 12
/* The member of a volume that holds the description. */
#define KLV_OCF_MEMBER ".\\Info"

/* Bleed modes (ocfi_bleed.mode). */
enum {
  KLV_OCF_BLEED_COLOR = 0,  /* the margins take the bleed colour (bleed_pixel) */
  KLV_OCF_BLEED_REPEAT = 1, /* the edge pixels are repeated outwards */
  KLV_OCF_BLEED_MIRROR = 2  /* the image is mirrored at its edges */
};

/* The bleed record: margins added around the printed image. `outer` holds
 * the left, top, right and bottom margins in inches; `inner` and `values`
 * are kept for the layout tools that write them and do not change the
 * delivered image. */
typedef struct ocfi_bleed {
  int32_t mode;
  double outer[4];
  double inner[4];
  int32_t values[6];
} ocfi_bleed;

/* The OCF record. Paths are zero-terminated, at most 259 characters. */
typedef struct ocfi_info {
  SOVolume* volume;       /* the volume the OCF lives in (owned when loaded from one) */
  SOVolume* image_volume; /* the volume of the source image; null: host files */
  double width, height;   /* printed size, inches */
  double xres, yres;      /* pixels per inch */
  int32_t planar;         /* requested sample layout, KLV_PLANAR_* */
  int32_t samples, spot_samples, mask_samples;
  int32_t bits_per_sample;
  int32_t photometric;
  int32_t interpolate; /* interpolate when enlarging */
  char image_path[KLV_OCF_PATH_SIZE];
  char ucc_path[KLV_OCF_PATH_SIZE]; /* colour chain file; empty: none */
  char ccx_path[KLV_OCF_PATH_SIZE]; /* calibration file; ".\\name": a member of the OCF's volume */
  int32_t ccx_types, ccx_flags;
  int32_t ucc_gcr;       /* grey-component flag of the pixel transform */
  int32_t no_image_mask; /* 1: the source's mask samples are not delivered */
  crop_info crop;        /* fractions of the source (kind 0) */
  int32_t use_16bit;     /* read the source at 16 bits and dither down to 8 */
  ocfi_bleed bleed;
  int32_t bleed_on;
  uint32_t bleed_pixel[KLV_OCF_BLEED_PIXELS]; /* bleed colour, one value a sample */
} ocfi_info;

/* A zero-filled record (whole-image crop); null when memory is short. */
KLV_API ocfi_info* new_ocfi_info(void);
/* Closes the record's volume when it owns one and frees it. */
KLV_API void free_ocfi_info(ocfi_info* info);
/* Writes the record as the settings block: the member `path` of `volume`, or
 * a host file when volume is null; an earlier file is replaced only when the
 * new one is complete. 1, or 0 (logged) when it cannot be written. */
KLV_API int32_t save_ocfi_info(SOVolume* volume, const char* path, const ocfi_info* info);
/* Reads an OCF: `path` (a host file, or a member of `volume`) is opened as a
 * volume when it is one, and its ".\\Info" read (the record then owns that
 * volume); else it is read as a plain settings file. Null (logged) when it
 * cannot be read, does not begin with OCFImg or holds a bad value. */
KLV_API ocfi_info* load_ocfi_info(SOVolume* volume, const char* path);
/* The same from settings text held in memory (`length` bytes). */
KLV_API ocfi_info* parse_ocfi_info(const char* text, int32_t length);
/* 1 when `path` is an OCF: its text (or, for a volume, its ".\\Info")
 * begins with OCFImg, letter case ignored; else 0. Logs nothing, so that a
 * caller may ask before choosing how to open a file. */
KLV_API int32_t ocfimg_check(SOVolume* volume, const char* path);

/* The OCF stream. */
typedef struct ocfimg ocfimg;

/* Opens an OCF for reading (`mode` must hold 'r' or 'R'). Nothing of the
 * source is read: the description (printed size, resolution, samples,
 * layout, crop, bleed) comes from the OCF alone and is copied to `info`
 * (may be null). Null (logged) for another mode or an unreadable OCF. */
KLV_API ocfimg* ocfimg_open(const char* path, SOVolume* volume, const char* mode, image_info* info);
/* A stream over a record, which it owns from then on (freed on failure
 * too). `volume` (may be null) is the OCF's volume when the record does not
 * name one. build_now non-zero builds the chain at once, and a failure to
 * build then gives null. */
KLV_API ocfimg* ocfimg_open_ex(SOVolume* volume, ocfi_info* record, int32_t build_now);
/* The stream's description. */
KLV_API const image_info* ocfimg_info(const ocfimg* img);
/* The first call builds the chain over the source; when it cannot be built
 * (source missing or unreadable, bad colour chain) the read gives 0 lines
 * and the seek -1, now and on every later call (logged once). */
KLV_API int32_t ocfimg_read_line(void* img, uint8_t* buffer, int32_t count);
KLV_API int32_t ocfimg_seek_line(void* img, int32_t line, int32_t plane, int32_t page,
                                 int32_t whence);
/* Writing is refused (0 lines, logged). */
KLV_API int32_t ocfimg_write_line(void* img, uint8_t* buffer, int32_t count);
/* A copy of the delivered colour map (builds the chain); null for none. */
KLV_API image_cmap* ocfimg_get_cmap(void* img);
KLV_API int32_t ocfimg_close(void* img);
/* The stream as an IMG_file of type 60 that owns it; null (stream closed)
 * when memory is short. */
KLV_API IMG_file* ocfimg_to_img(ocfimg* img);

KLV_END_C

#endif
