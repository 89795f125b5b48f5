/* SPDX-License-Identifier: MIT */
/* Halftoning a whole page: creating a placement by method number, configuring
 * it, and the halftone filter, a stream opened for writing that screens every
 * line written into it, one engine per separation, and writes the dot lines
 * into an output image.
 *
 * The caller's order: HTPlaceAlloc; optionally HTPlaceSetDetachDelete,
 * HTPlaceSetSpecialMedia, HTPlaceSetLinearization and the thread flags of
 * HTPlaceGetThreadFlagArray; HTPlace_GetDupFactor to size the output;
 * HTPlace_AttachImg with the output image; img_write_line for every line;
 * img_close. Closing the stream flushes the last lines, closes the output
 * image and detaches the placement (which destroys it when detach-delete is
 * set; otherwise the caller frees it with HTPlaceFree). */
#ifndef KLV_HTPLACE_H
#define KLV_HTPLACE_H

#include <stdint.h>

#include "klv/export.h"
#include "klv/halftone_mlproc.h"
#include "klv/img.h"
#include "klv/screen_setup.h"

KLV_BEGIN_C

/* Placement methods of HTPlaceAlloc. */
enum {
  KLV_HTMETHOD_ERRDIF = 0,         /* plain error diffusion */
  KLV_HTMETHOD_ERRDIF_SCREEN = 1,  /* diffusion modulated by a computed pattern */
  KLV_HTMETHOD_ERRDIF_MTX = 2,     /* diffusion modulated by a matrix file */
  KLV_HTMETHOD_SCREEN_ORD = 3,     /* generated ordered-dither screens */
  KLV_HTMETHOD_SCREEN_BUILTIN = 4, /* the four built-in 16-bit screens */
  KLV_HTMETHOD_SCREEN_FILE = 5,    /* a screen file */
  KLV_HTMETHOD_SCREEN_SPOT = 6,    /* generated spot screens */
  KLV_HTMETHOD_SCREEN_LINE = 8,    /* generated line screens */
  KLV_HTMETHOD_SCREEN_FUZZY = 9,   /* generated fuzzy-dot screens */
  KLV_HTMETHOD_SCREEN_BUILTIN2 = 10,
  KLV_HTMETHOD_OEM = 11,    /* an OEM dot-processing library */
  KLV_HTMETHOD_VARCOEF = 12 /* and every higher number: variable-coefficient diffusion */
};

typedef struct HTPLACE HTPLACE; /* a CHTPlacement */

/* Creates a placement by method (see the enum). screens: screens to load for
 * method 5; xres, yres: device resolution; oem_a, oem_b, oem_flags: passed to
 * the OEM placement; levels: non-zero makes a method-5 screen file 2048
 * levels; setup: a screen setup for the screened methods (3, 4, 6, 8, 9 and
 * 10 generate its screens; 5 loads "<name>.HTS"; 11 takes its OEM
 * configuration); a setup whose screens cannot be generated fails the
 * placement. colors: the job's colour names as an SSTRAL* (one array per
 * colour, the name first, or one array of all names), or null. A setup's
 * per-colour entries are used only with a colour list and a setup name that
 * is neither a number nor "Default"; otherwise four screens are made from the
 * name (a number is the ruling in lines per inch, e.g. "150lpi").
 * default_name: the matrix file of method 2 or the screen file of method 5;
 * thresh_out: receives the threshold array method 5 loaded (the caller then
 * owns it and frees it with HTThreshFree), else null. Null (logged) on
 * failure. */
KLV_API HTPLACE* HTPlaceAlloc(uint32_t screens, double xres, double yres, double oem_a,
                              double oem_b, uint32_t levels, uint32_t method,
                              const _SCREENSETUP* setup, const void* colors,
                              const char* default_name, void** thresh_out, uint32_t oem_flags);
/* Destroys the placement; null is accepted. Returns 0. */
KLV_API int32_t HTPlaceFree(HTPLACE* placement);
/* Linearization tables (count tables of 256 entries, kept by the caller) and an
 * optional multi-level process record (copied). A variable-dot record loads
 * the variable-dot thresholds "VarDot.HTS" from the search path (or its
 * "screens" folders). 1 on success, else 0 (logged). */
KLV_API int32_t HTPlaceSetLinearization(HTPLACE* placement, int32_t count, uint16_t (*tables)[256],
                                        const MLPROCINFO* record);
/* Sets the seed that every random choice of the placement and its engines is
 * drawn from (diffusion noise and line starts, the phase of screens reused
 * for extra separations); each separation mixes in its own index. Without a
 * call the seed is a fixed default, so that a page screened twice gives the
 * same dots; a different seed gives different dots. Set it before
 * HTPlace_AttachImg. Returns 0, or -1 for a null placement. */
KLV_API int32_t HTPlaceSetSeed(HTPLACE* placement, uint32_t seed);
/* Sets the detach-delete flag to flag != 0 and returns it (0 for null). */
KLV_API int32_t HTPlaceSetDetachDelete(HTPLACE* placement, int32_t flag);
KLV_API void HTPlaceSetSpecialMedia(HTPLACE* placement, int32_t flag);
/* The 13 thread flags (a non-zero flag runs that separation's engine on its
 * own thread), or null. */
KLV_API uint8_t* HTPlaceGetThreadFlagArray(HTPLACE* placement);
KLV_API int32_t HTPlaceIsThreaded(HTPLACE* placement);
/* Creates the halftone filter over `output` (open for writing; its
 * description gives the dot layout) for lines described by `input`, and
 * returns it as a stream opened for writing. buffer_lines >= 1: output lines
 * buffered; 0: 256 KiB of lines; negative: -buffer_lines bytes of lines.
 * staging_lines > 0 copies the caller's lines into a buffer of that many lines
 * first. Null on failure: `output` is closed and the placement detached. */
KLV_API IMG_file* HTPlace_AttachImg(HTPLACE* placement, IMG_file* output, image_info* input,
                                    int32_t buffer_lines, int32_t staging_lines);
/* Stores the duplication factors (output pixels per input pixel across and
 * down) and returns the one down; 0 for null. */
KLV_API int32_t HTPlace_GetDupFactor(HTPLACE* placement, int32_t* x, int32_t* y);

/* The four built-in 16-bit screens (255 levels) as a screen file's thresholds:
 * screen i has widths[i] x heights[i] values, shifted right by shifts[i] per
 * repeat down. Returns the screen's thresholds (static), or null for i out of
 * 0..3. */
KLV_API const uint16_t* HTBuiltinScreen(int32_t i, int32_t* width, int32_t* height, int32_t* shift);

KLV_END_C

/* The halftone filter and the OEM placement classes are in klv/htplace_cxx.h. */

#endif
