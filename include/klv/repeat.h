/* SPDX-License-Identifier: MIT */
/* Step-and-repeat: a page filled with copies of one pattern image, delivered
 * line by line as an image stream (type 64).
 *
 * The pattern is scaled to its size on the page and repeated in rows and
 * columns, with optional gaps between copies (negative gaps overlap them),
 * rows stepped sideways (brick) or columns stepped down (half-drop), and
 * every other column or row mirrored. A settings file holds the block
 * `Repeat_Setup { FileName { ... } PageWidth { ... } ... }`; opening it as an
 * image (img_mux_open with type 0 or 64) gives the page. */
#ifndef KLV_REPEAT_H
#define KLV_REPEAT_H

#include <stdint.h>

#include "klv/export.h"
#include "klv/filter.h"
#include "klv/img.h"
#include "klv/kernel_types.h"

KLV_BEGIN_C

#define KLV_REPEAT_MAX_GAP_SAMPLES 12
#define KLV_REPEAT_NAME_SIZE 1024

/* Gap colours (RepeatFilterInfo.GapType). */
enum {
  KLV_REPEAT_GAP_FIRST_PIXEL = 0, /* the first pixel of the pattern */
  KLV_REPEAT_GAP_WHITE = 1,
  KLV_REPEAT_GAP_SAMPLES = 2 /* GapSamples in the GapTotalSamples... layout */
};

/* The repeat settings; sizes in inches, offsets and steps in fractions of a
 * period. Field order is that of the settings block. */
typedef struct RepeatFilterInfo {
  double PageWidth, PageHeight;
  double PatternWidth, PatternHeight;
  double XOffset, YOffset; /* shift of the grid, fractions of a column / row period */
  double StepAmount;       /* 0.5: half-drop or half-brick */
  int32_t StepVertical;    /* non-zero: columns stepped down; zero: rows stepped sideways */
  double XRes, YRes;       /* largest useful resolution, pixels per inch; 0 none */
  int32_t FlipHorizontal;  /* mirror every other column of copies */
  int32_t FlipVertical;    /* mirror every other row of copies */
  int32_t Interpolate;     /* smooth the scaling of the pattern */
  double GapHorizontal, GapVertical;  /* inches; negative overlaps */
  int32_t SwapHOverlap, SwapVOverlap; /* overlapping copies: the earlier one lies on top */
  double CropLeft, CropTop, CropRight, CropBottom; /* part of the pattern used, fractions */
  int32_t GapType;                                 /* KLV_REPEAT_GAP_* */
  int32_t GapSamples[KLV_REPEAT_MAX_GAP_SAMPLES];
  int32_t GapSampleCount; /* values held in GapSamples */
  int32_t GapTotalSamples, GapSpotSamples, GapPhotometric, GapHifiMode, GapBitsPerSample;
} RepeatFilterInfo;

/* The settings file record: the pattern image path and the settings. */
typedef struct RepeatFileInfo {
  char FileName[KLV_REPEAT_NAME_SIZE];
  RepeatFilterInfo settings;
} RepeatFileInfo;

/* Every field zero except CropRight and CropBottom (1.0). */
KLV_API void InitRepeatFilterInfo(RepeatFilterInfo* info);

/* A new record set by InitRepeatFilterInfo with an empty FileName; null when
 * memory is short. */
KLV_API RepeatFileInfo* new_repeat_info(void);
KLV_API void free_repeat_info(RepeatFileInfo* info);
/* Reads the settings file `path` (a host file when volume is null, else a
 * member) into `info`, set up first by InitRepeatFilterInfo. 1, or 0 (logged)
 * when the file cannot be read, does not begin with Repeat_Setup or holds a
 * bad value. */
KLV_API int32_t load_repeat_info(SOVolume* volume, const char* path, RepeatFileInfo* info);
/* The same from settings text held in memory (`length` bytes). */
KLV_API int32_t parse_repeat_info(const char* text, int32_t length, RepeatFileInfo* info);
/* Writes `info` as a settings file, replacing `path` only when complete. 1 or 0. */
KLV_API int32_t save_repeat_info(SOVolume* volume, const char* path, const RepeatFileInfo* info);
/* 1 when the file's first token is Repeat_Setup (letter case ignored), else 0. */
KLV_API int32_t repeat_file_check(SOVolume* volume, const char* path);

/* Opens a step-and-repeat page for reading. `name` is a settings file, or a
 * settings file and an image joined by "*:" (the image then replaces
 * FileName). A relative FileName is taken from the settings file's folder.
 * Returns a stream of type 64 and copies its description to `info` (may be
 * null); null (logged) on failure. `mode` must read. */
KLV_API IMG_file* repeat_open(const char* name, SOVolume* volume, const char* mode,
                              image_info* info);

/* The page as a stream over an open pattern stream, which it owns from then
 * on (closed with the page; closed too when the attach fails). Null (logged)
 * for a null stream or settings, a page or pattern size of 0, a stream not
 * open for reading, or when memory is short. */
KLV_API IMG_file* RPTFLTR_attach(IMG_file* pattern, const RepeatFilterInfo* settings);
/* The same with `options` (may be null) for the line filter that scales the
 * pattern: its transform slot carries a colour chain (ucc_filter_transform),
 * applied once per pattern line. */
KLV_API IMG_file* RPTFLTR_attach_ex(IMG_file* pattern, const RepeatFilterInfo* settings,
                                    const filter_info* options);
/* Takes the pattern stream back out of a page made by RPTFLTR_attach or
 * repeat_open and frees the page; the stream is returned with the filters
 * the page put over it (crop, scaling) still on it. Null for a null page. */
KLV_API IMG_file* RPTFLTR_detach_img(IMG_file* page);

KLV_END_C

#endif
