/* SPDX-License-Identifier: MIT */
/* The multi-level process record that a printer driver hands to halftoning:
 * how each colour's tone range is split into drop-size levels, its level and
 * coverage curves and an optional link to an ink-restriction channel. The byte
 * layout is exchanged with driver libraries and is fixed (little-endian). */
#ifndef KLV_HALFTONE_MLPROC_H
#define KLV_HALFTONE_MLPROC_H

#include <stdint.h>

#include "klv/export.h"

KLV_BEGIN_C

enum {
  KLV_MLPROC_COLORS = 12,         /* colour records in one process record */
  KLV_MLPROC_LEVELS = 16,         /* levels per colour record */
  KLV_MLPROC_CURVE_PAIRS = 32,    /* (x, y) byte pairs per level curve */
  KLV_MLPROC_FLAG_VARDOT = 0x4000 /* MLPROCINFO.flags: variable-dot process */
};

#pragma pack(push, 1)
/* One colour of the process record (3656 bytes). */
typedef struct MLPROCCOLORINFO {
  uint8_t levels;                                                 /*    0 */
  uint8_t level_curves;                                           /*    1 */
  uint8_t mid_code[KLV_MLPROC_LEVELS];                            /*    2 */
  uint8_t upper_code[KLV_MLPROC_LEVELS];                          /*   18 */
  uint8_t width[KLV_MLPROC_LEVELS];                               /*   34: in 1/255 of the range */
  uint8_t bend[KLV_MLPROC_LEVELS];                                /*   50: in 1/256, 0 linear */
  uint8_t curve[32][KLV_MLPROC_CURVE_PAIRS][2];                   /*   66: level curves */
  uint8_t coverage[KLV_MLPROC_LEVELS][KLV_MLPROC_CURVE_PAIRS][2]; /* 2114 */
  uint16_t vardot_mode;                                           /* 3138 */
  uint16_t vardot_values[256];                                    /* 3140: n + 1 used */
  uint32_t inkrestrict_link; /* 3652: ink-restriction channel handle, 0 none */
} MLPROCCOLORINFO;

/* The whole record (43896 bytes). Fields not named are carried, not read. */
typedef struct MLPROCINFO {
  uint8_t code_bits;   /*  0: bits of the drop codes in the colour records */
  uint8_t output_bits; /*  1: output bits per separation pixel */
  uint8_t colors;      /*  2: colour records in use */
  uint8_t reserved1[5];
  uint32_t flags; /*  8: KLV_MLPROC_FLAG_* */
  uint8_t reserved2[4];
  uint8_t flags2; /* 16: bit 4 disables the cached variable-dot engines */
  uint8_t reserved3[3];
  MLPROCCOLORINFO color[KLV_MLPROC_COLORS]; /* 20 */
  uint32_t vardot_ext; /* 43892: handle of the variable-dot extension, 0 none */
} MLPROCINFO;
#pragma pack(pop)

KLV_END_C

#ifdef __cplusplus
#include <stddef.h>
static_assert(sizeof(MLPROCCOLORINFO) == 3656);
static_assert(offsetof(MLPROCCOLORINFO, mid_code) == 2);
static_assert(offsetof(MLPROCCOLORINFO, upper_code) == 18);
static_assert(offsetof(MLPROCCOLORINFO, width) == 34);
static_assert(offsetof(MLPROCCOLORINFO, bend) == 50);
static_assert(offsetof(MLPROCCOLORINFO, curve) == 66);
static_assert(offsetof(MLPROCCOLORINFO, coverage) == 2114);
static_assert(offsetof(MLPROCCOLORINFO, vardot_mode) == 3138);
static_assert(offsetof(MLPROCCOLORINFO, vardot_values) == 3140);
static_assert(offsetof(MLPROCCOLORINFO, inkrestrict_link) == 3652);
static_assert(offsetof(MLPROCINFO, flags) == 8);
static_assert(offsetof(MLPROCINFO, flags2) == 16);
static_assert(offsetof(MLPROCINFO, color) == 20);
static_assert(offsetof(MLPROCINFO, vardot_ext) == 43892);
static_assert(sizeof(MLPROCINFO) == 43896);
#endif

#endif
