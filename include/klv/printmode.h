/* SPDX-License-Identifier: MIT */
/* Print modes: a print resolution and a dot pattern under which a media is
 * printed, the dot pattern names and the text forms of mode names and
 * resolution names.
 *
 * A mode name is "<rounded resolution> dpi, <pattern text>", for example
 * "720x1440 dpi, Stochastic" or "1440x720@720 dpi, Screen(85 lpi)". A pattern
 * text is the pattern's name followed by its option in brackets when the
 * option is not empty.
 *
 * Output texts are written into caller buffers of `size` bytes (truncated,
 * always terminated); KLV_PRINTMODE_TEXT bytes hold every name this library
 * makes from texts of ordinary length. */
#ifndef KLV_PRINTMODE_H
#define KLV_PRINTMODE_H

#include <stddef.h>
#include <stdint.h>

#include "klv/export.h"

#define KLV_PRINTMODE_TEXT 256

/* Dot pattern numbers. */
typedef enum DotPatterns {
  DP_FDRP_DIFFUSION = 0,
  DP_FDRP_LINE = 1,
  DP_FDRP_PLUS = 2,
  DP_ORDERED_DITHER = 3,
  DP_SCREEN = 4,
  DP_STOCHASTIC = 5,
  DP_HALFTONE = 6,
  DP_CONTONE = 7,
  DP_LINE_SCREEN = 8,
  DP_SMOOTH_SCREEN = 9,
  DP_CUSTOM = 10,
  DP_OEM = 11,
  DP_FDRP_ENHANCED = 12
} DotPatterns;

#define KLV_DOT_PATTERN_COUNT 13

#ifdef __cplusplus
/* The class is in klv/printmode_cxx.h. */
class CPrintMode;
#else
typedef struct CPrintMode CPrintMode;
#endif

KLV_BEGIN_C

/* Texts of a mode; "" (or pattern 0) for a null mode. */
KLV_API const char* printmode_name(const CPrintMode* mode);
KLV_API const char* printmode_res(const CPrintMode* mode);
KLV_API int32_t printmode_pattern(const CPrintMode* mode);
KLV_API const char* printmode_pattern_opt(const CPrintMode* mode);
/* The name a mode built from these values would have. */
KLV_API char* get_printmode_name(char* out, int32_t size, int32_t pattern, const char* option,
                                 const char* resolution);

/* Pattern table: the pattern text of a number (numbers outside 0..12 give
 * "Stochastic"), the number of a pattern text (case-insensitive match of the
 * text before "(", 5 when no name matches), and the option of a pattern text
 * (after the first "(", without a final ")"). */
KLV_API char* get_pattern_str(char* out, int32_t size, int32_t pattern, const char* option);
KLV_API int32_t get_pattern_num(const char* pattern_text);
KLV_API char* get_pattern_opt(char* out, int32_t size, const char* pattern_text);
/* The name of a pattern number, or null outside 0..12. */
KLV_API const char* get_pattern_name(int32_t pattern);
/* The display form of a resolution name: 720x720 -> 720, 1440x720@720x720 ->
 * 1440x720@720, 720x720-hq -> 720-hq. */
KLV_API char* get_rounded_res_string(char* out, int32_t size, const char* resolution);

KLV_END_C

#endif
