/* SPDX-License-Identifier: MIT */
/* The line filter: delivers a source stream in another description (size,
 * crop, depth, sample counts, colour interpretation, palette), or, for a stream
 * opened for writing, converts the caller's lines into the file's form. */
#ifndef KLV_FILTER_H
#define KLV_FILTER_H

#include <stdint.h>

#include "klv/export.h"
#include "klv/img.h"

KLV_BEGIN_C

/* What a colour transform is told when a filter sets it up. Working bits are 8
 * or 16; photometric is 3 for CIELab input, else 1 (light values). */
typedef struct filter_xform_setup {
  uint32_t arg; /* filter_info.transform_arg */
  uint32_t in_bits, out_bits;
  uint32_t in_photometric;
  uint32_t in_hifi_mode, out_hifi_mode;
  uint32_t in_samples, in_spot_samples, in_mask_samples;
  uint32_t out_samples, out_spot_samples, out_mask_samples;
} filter_xform_setup;

/* A pixel transform the filter calls once per line. Pixels enter as light
 * values with in_samples samples (colour then spot) at in_bits (uint8_t or
 * uint16_t per sample) and leave with out_samples samples at out_bits. Mask
 * samples are handled by the filter and never reach the transform. */
typedef struct filter_transform {
  /* Returns the per-filter state, or null to refuse the set-up. */
  void* (*setup)(void* self, const filter_xform_setup* setup);
  /* Converts `count` pixels; returns non-zero on success. */
  int32_t (*apply)(void* state, const void* in, void* out, int32_t count);
  void (*release)(void* state);
  void* self; /* passed to setup */
} filter_transform;

/* A spot colour definition used to blend spot samples the output drops.
 * Colour-space codes: 0 ink values, 1 light values, 3 CIELab (3 channels; at 8
 * bits L 0..255, a and b offset by 128). Values have `depth` bits (0 means 8,
 * at most 16). At attach each used definition becomes 8-bit light values of
 * the output's colour samples (code 1); an unusable one refuses the attach. */
typedef struct filter_spot_color {
  int32_t value[12];
  int32_t depth;
  uint8_t channels;
  uint8_t color_space;
  uint8_t strength;
  uint8_t reserved;
} filter_spot_color;

typedef IMG_file* (*filter_hook_fn)(IMG_file* img, uint32_t arg);

/* Options of one filter; a zero record means plain conversion. */
typedef struct filter_info {
  uint8_t stretch;    /* scale to exactly the requested size */
  uint8_t smooth;     /* resample in front when reading; interpolate enlargements */
  uint8_t average;    /* average dropped lines into the kept one */
  uint8_t soft_black; /* RGBW to RGB darkens by (W + 14) / 269 */
  filter_transform* transform;
  uint32_t transform_arg;
  uint8_t flags[4]; /* flags[1]: invert every sample once more */
  uint32_t cube_size;
  uint32_t spot_count;
  filter_spot_color* spot_colors;
  uint8_t dither;
  uint8_t double_buffer;
  uint8_t mask_opaque;
  uint8_t rotation; /* bits 0-1 quarter turns, bit 2 mirror */
  uint32_t hook_stage;
  filter_hook_fn hook;
  uint32_t hook_arg;
} filter_info;

typedef struct filter_rec filter_rec;

typedef int32_t (*filter_progress_fn)(void* context, int32_t done, int32_t total);

KLV_API filter_rec* filter_attach(IMG_file* source, image_info* target, const filter_info* options);
KLV_API IMG_file* filter_to_img(filter_rec* filter);
KLV_API int32_t filter_read_line(void* filter, uint8_t* buffer, int32_t count);
KLV_API int32_t filter_write_line(void* filter, uint8_t* buffer, int32_t count);
KLV_API int32_t filter_seek_line(void* filter, int32_t line, int32_t plane, int32_t page,
                                 int32_t whence);
KLV_API image_cmap* filter_get_cmap(void* filter);
KLV_API int32_t filter_close(void* filter);
KLV_API int32_t filter_detach(filter_rec* filter);
KLV_API IMG_file* filter_detach_img(IMG_file* img);
KLV_API int32_t filter_buf_to_buf(filter_rec* filter, const uint8_t* source_line, uint8_t* output,
                                  int32_t width);
/* With double_buffer the lines alternate between two buffers the filter owns:
 * a line handed to the destination stays untouched while the next one is made,
 * so a destination that finishes it on another thread may keep the pointer
 * until its following write; its status is asked at the end (negative fails). */
KLV_API int32_t filter_read_to_img(filter_rec* filter, IMG_file* destination,
                                   filter_progress_fn progress, void* context);
KLV_API image_cmap* filter_create_cmap(int32_t entries);

/* The resampling filter: a stream of width x height that owns `source`
 * (area averaging when reducing, bicubic when enlarging). stretch 0 keeps the
 * aspect ratio within the box. Null on failure (the source is then closed). */
KLV_API IMG_file* scaleimg_create(IMG_file* source, int32_t width, int32_t height, int32_t stretch);

KLV_END_C

#endif
