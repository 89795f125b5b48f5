/* SPDX-License-Identifier: MIT */
/* The image stream handle and the image description.
 *
 * Every image the library reads or writes, and every filter stacked on one, is
 * an IMG_file: a description (image_info) and a table of ten operations that
 * callers reach through the img_* dispatch functions. */
#ifndef KLV_IMG_H
#define KLV_IMG_H

#include <stddef.h>
#include <stdint.h>

#include "klv/export.h"
#include "klv/kernel_types.h"

KLV_BEGIN_C

/* Sample layouts (image_info.planar). KLV_PLANAR_TILED is added for tiled streams. */
enum {
  KLV_PLANAR_PIXEL = 0,  /* all samples of a pixel together */
  KLV_PLANAR_PLANES = 1, /* one plane of height lines per sample */
  KLV_PLANAR_LINES = 2,  /* one line holds every plane's row, each padded to a byte */
  KLV_PLANAR_TILED = 8
};

/* Photometric interpretations (image_info.photometric). */
enum {
  KLV_PHOTO_MINWHITE = 0, /* ink amounts: 0 = no ink */
  KLV_PHOTO_MINBLACK = 1, /* light amounts: gray, RGB, inverted inks */
  KLV_PHOTO_PALETTE = 2,
  KLV_PHOTO_CIELAB = 3
};

/* Indices into image_info.tile_words used by tiled streams. */
enum {
  KLV_TILE_WIDTH = 0,
  KLV_TILE_HEIGHT = 1,
  KLV_TILE_XOFFSET = 2, /* offset of the image inside its first tile */
  KLV_TILE_YOFFSET = 3,
  KLV_TILE_ACROSS = 4, /* tiles in one tile row */
  KLV_TILE_DOWN = 5,   /* tile rows */
  KLV_TILE_PER_PLANE = 6
};

/* A rectangle within an image. kind 0: fractions of the last pixel index
 * (x of width-1, y of height-1); kind 1: fractions of height-1 on both axes;
 * kind 2: inches (x1/y1 from the origin, width_inches/height_inches). */
typedef struct crop_info {
  uint8_t kind;
  double x1, y1, x2, y2;
  double width_inches, height_inches;
  double resolution;
} crop_info;

/* Pixel rectangle made by fill_image_crop; edges are inclusive indices. */
typedef struct crop_rect {
  int32_t width, height, x1, y1, x2, y2;
} crop_rect;

/* A colour map: up to four channel arrays of `entries` bytes each. */
typedef struct image_cmap {
  uint8_t* channel[4];
  uint32_t channels;
  uint32_t entries;
  uint8_t photometric;
} image_cmap;

/* An ICC profile in one block: a byte count followed by the profile data. */
typedef struct image_profile {
  uint32_t size;
  uint8_t data[];
} image_profile;

/* The image description ("imin"). Field order is fixed. */
typedef struct image_info {
  int32_t width;  /* pixels per line (unsigned in arithmetic) */
  int32_t height; /* lines per plane (unsigned in arithmetic) */
  double width_inches;
  double height_inches;
  uint32_t pages;
  uint32_t planar; /* KLV_PLANAR_*, plus KLV_PLANAR_TILED for tiled streams */
  uint32_t bits_per_sample;
  uint32_t samples;      /* colour samples, spot samples included */
  uint32_t spot_samples; /* how many of `samples` are spot channels */
  uint32_t mask_samples; /* further samples beyond `samples` */
  uint32_t format_word1; /* stream's own (TIFF: mask flag); copied unchanged */
  uint32_t photometric;  /* KLV_PHOTO_* */
  uint32_t hifi_mode;    /* extended ink set code, 0 none */
  uint32_t format_word2; /* stream's own (TIFF: colour-order code); copied unchanged */
  uint32_t bytes_per_line;
  uint32_t compression;
  uint32_t format_word3;    /* copied by filters from below; readers set 0 */
  uint32_t format_words[3]; /* stream's own (TIFF: copy count, option bits) */
  double xres;              /* pixels per inch, 0 unknown */
  double yres;
  uint32_t tile_words[10]; /* tile grid of tiled streams (KLV_TILE_*) */
  crop_info crop;
  image_cmap* cmap;   /* palette images; owned by a free-standing description */
  void* profile_word; /* reserved: null, all ones for "file holds a profile", or a block */
} image_info;

typedef struct IMG_file IMG_file;

typedef int32_t (*img_close_fn)(void* handle);
typedef int32_t (*img_status_fn)(IMG_file* img, int32_t what);
typedef int32_t (*img_read_fn)(void* handle, uint8_t* buffer, int32_t count);
typedef int32_t (*img_write_fn)(void* handle, uint8_t* buffer, int32_t count);
typedef int32_t (*img_seek_fn)(void* handle, int32_t pos, int32_t plane, int32_t page,
                               int32_t whence);
typedef image_cmap* (*img_cmap_fn)(void* handle);
typedef image_profile* (*img_profile_fn)(void* handle);

/* One image stream. Allocated zero-filled by whoever opens it; released by img_close. */
struct IMG_file {
  void* handle; /* the implementation's private record */
  int32_t type; /* image type code; -1 marks an invalid handle */
  char mode;    /* 'r' read, 'w' written */
  image_info info;
  img_close_fn close; /* 0 when everything written was kept, -1 when data was lost */
  img_status_fn status;
  img_read_fn read_line;
  img_write_fn write_line;
  img_seek_fn seek_line;
  img_read_fn read_tile;
  img_write_fn write_tile;
  img_seek_fn seek_tile;
  img_cmap_fn get_cmap;
  img_profile_fn get_profile;
};

/* Dispatch. Null handles and empty slots give the neutral result. */
KLV_API IMG_file* img_close(IMG_file* img);
/* Closes and frees a stream like img_close and says whether everything written
 * into it was kept: 0 when it was (and for streams that were only read, a null
 * img, or a handle without a close operation), -1 when written data was lost:
 * a write failed at any time on the stream, or finishing the file failed
 * (flushing, writing headers, closing the file). Filters, the multiplexed
 * stream and the threaded write stage pass on the status of the streams they
 * close. Callers that write files check this before they keep the file. */
KLV_API int32_t img_close_status(IMG_file* img);
KLV_API int32_t img_status(IMG_file* img, int32_t what);
KLV_API int32_t img_read_line(IMG_file* img, uint8_t* buffer, int32_t count);
KLV_API int32_t img_write_line(IMG_file* img, uint8_t* buffer, int32_t count);
/* Lends the next lines of a stream open for reading in place, without a copy,
 * when the stream can: up to `count` whole lines, bytes_per_line apart from
 * *lines, valid until the next operation on the stream or its close. Streams
 * lend only bytes that need no decoding or conversion (an uncompressed file
 * on disk, through filters that leave lines unchanged). Returns the lines
 * lent, after which the stream stands behind them; 0 when the stream cannot
 * lend here (read the lines with img_read_line instead); -1 on failure. */
KLV_API int32_t img_lend_lines(IMG_file* img, const uint8_t** lines, int32_t count);
KLV_API int32_t img_seek_line(IMG_file* img, int32_t line, int32_t plane, int32_t page,
                              int32_t whence);
KLV_API int32_t img_read_tile(IMG_file* img, uint8_t* buffer, int32_t count);
KLV_API int32_t img_write_tile(IMG_file* img, uint8_t* buffer, int32_t count);
KLV_API int32_t img_seek_tile(IMG_file* img, int32_t tile, int32_t plane, int32_t page,
                              int32_t whence);
KLV_API image_cmap* img_get_cmap(IMG_file* img);
KLV_API image_profile* img_get_profile(IMG_file* img);

/* Handles and descriptions. */
KLV_API IMG_file* new_invalid_img(void);
KLV_API void init_image_info(image_info* info);
KLV_API image_info* alloc_image_info(void);
KLV_API int32_t free_image_info(image_info* info);
/* bytes_per_line of a description by its sample layout. */
KLV_API uint32_t image_info_line_bytes(const image_info* info);

/* Colour maps. */
KLV_API image_cmap* copy_cmap(const image_cmap* map);
KLV_API int32_t free_cmap(image_cmap* map);
KLV_API int32_t cmap_equal(const image_cmap* a, const image_cmap* b);

/* Profiles. Blocks from load_image_profile and get_profile are shared: give them
 * back with checkin_image_profile. */
KLV_API image_profile* copy_image_profile(const image_profile* p);
KLV_API int32_t free_image_profile(image_profile* p);
KLV_API int32_t checkin_image_profile(image_profile* p);
KLV_API image_profile* load_image_profile(SOVolume* volume, const char* path);
/* The cache key of a profile kept in or loaded from `path` ("ImgICC~...", at most
 * 80 characters). Writes into key (size >= 81) and returns it. */
KLV_API char* image_profile_cache_key(SOVolume* volume, const char* path, char* key);

/* Crop arithmetic. */
KLV_API double dcrop_x1(const crop_info* crop, uint32_t width, uint32_t height);
KLV_API double dcrop_x2(const crop_info* crop, uint32_t width, uint32_t height);
KLV_API double dcrop_y1(const crop_info* crop, uint32_t width, uint32_t height);
KLV_API double dcrop_y2(const crop_info* crop, uint32_t width, uint32_t height);
KLV_API double dcrop_width(const crop_info* crop, uint32_t width, uint32_t height);
KLV_API double dcrop_height(const crop_info* crop, uint32_t width, uint32_t height);
KLV_API void init_crop_info(crop_info* crop);
KLV_API int32_t check_null_crop(const crop_info* crop);
KLV_API int32_t fill_inches_crop(crop_info* dst, const crop_info* src, const image_info* info);
KLV_API int32_t fill_abs_crop(crop_info* dst, const crop_info* src, const image_info* info);
KLV_API int32_t fill_image_crop(crop_rect* rect, crop_info* crop, uint32_t width, uint32_t height);

KLV_END_C

#endif
