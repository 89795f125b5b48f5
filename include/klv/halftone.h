/* SPDX-License-Identifier: MIT */
/* Threshold screens for C callers: the screen record and its loaders.
 *
 * Screen files ("HTS") start with the magic "HSCR", width and height (16-bit),
 * eight unread bytes, the maximum value M (0 means width x height) and two
 * unread bytes; then planes of width x height 16-bit thresholds follow, row by
 * row, little-endian. Per-colour screen files ("SCR") hold a width byte, a
 * height byte and width x height bytes. Files are found on the program's search
 * path. Every loader returns null (logged) on a missing, short or malformed file. */
#ifndef KLV_HALFTONE_H
#define KLV_HALFTONE_H

#include <stdint.h>

#include "klv/export.h"
#include "klv/halftone_mlproc.h"

KLV_BEGIN_C

enum { KLV_HTSCREEN_MAX = 13 };

/* Up to 13 screens; data[i] holds widths[i] x heights[i] thresholds (bytes, or
 * 16-bit values from the "w" loaders) row by row plus one spare element, and
 * rows[i][r] = r x widths[i]. Released with free_htscreen / free_htwscreen. */
typedef struct htscreen {
  int32_t count;
  int32_t widths[KLV_HTSCREEN_MAX];
  int32_t heights[KLV_HTSCREEN_MAX];
  void* data[KLV_HTSCREEN_MAX];
  int32_t* rows[KLV_HTSCREEN_MAX];
} htscreen;

/* Four 8-bit screens from "HTSCRN0.SCR" .. "HTSCRN3.SCR". */
KLV_API htscreen* load_htscreen(void);
/* 8-bit thresholds from a screen file mapped through linearization tables
 * (table_count tables of 256 16-bit entries; null: one identity table scaled to
 * `scale`). screen_count 1..13; invert != 0 complements the thresholds; a null or
 * empty name means "BNMSK.HTS". */
KLV_API htscreen* load_lntb_htscreen(const uint16_t* tables, int32_t table_count,
                                     int32_t screen_count, int32_t scale, int32_t invert,
                                     const char* name);
/* The same with 16-bit thresholds. */
KLV_API htscreen* load_lntb_htwscreen(const uint16_t* tables, int32_t table_count,
                                      int32_t screen_count, int32_t scale, int32_t invert,
                                      const char* name);
/* 16-bit thresholds scaled linearly to 0..scale. */
KLV_API htscreen* load_htwscreen(int32_t screen_count, int32_t scale, const char* name);
/* Both accept null and return null. */
KLV_API htscreen* free_htscreen(htscreen* screen);
KLV_API htscreen* free_htwscreen(htscreen* screen);

/* Writes a screen file of `planes` planes of width x height 16-bit thresholds
 * (max_value 0 means width x height). The file is written beside the target and
 * renamed over it. Returns 1 on success, 0 on failure (logged). */
KLV_API int32_t save_htwscreen_file(const char* path, const uint16_t* data, int32_t width,
                                    int32_t height, int32_t planes, int32_t max_value);

KLV_END_C

#endif
