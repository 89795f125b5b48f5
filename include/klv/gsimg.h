/* SPDX-License-Identifier: MIT */
/* PDF, PostScript and EPS files as image streams (image types 2 and 68),
 * rendered page by page by a separate interpreter process ("gs", from the
 * Debian package "ghostscript"); the interpreter is never linked in.
 *
 * Files are recognised by content: "%PDF-", "%!PS" ("EPSF" on the first line
 * marks EPS) and the binary header of DOS EPS files. Opening reads the
 * description before anything is rendered: PDF pages and their sizes from a
 * short page-information run of the interpreter (media box, page rotation),
 * PostScript pages from the structuring comments (%%Pages, %%DocumentMedia,
 * %%BoundingBox), an EPS file as one page the size of its bounding box. A
 * PostScript page that makes itself larger than the stated size is cut to
 * it (the file's comments are all that is known before interpretation).
 * When the resolution is given (or the default is used), a PDF's page
 * report comes from the run that renders its first page; a resolution
 * fitted to a requested size needs the report first, from a run of its own.
 *
 * The stream: 8 bits per sample, pixel-interleaved; gray (1 sample,
 * photometric 1), RGB (3 samples, photometric 1) or CMYK (4 samples,
 * photometric 0, ink amounts). `pages` is the page count; a seek with
 * `whence` 0 or 2 names the page to deliver, `whence` 1 moves within the
 * current page. Every page is delivered at the stream's one size, the
 * largest width and height among the pages, a smaller page at the top left
 * on white, so that a line buffer fits every page.
 *
 * Rendering: each page is rendered by its own child process started without
 * a shell, with the file restrictions on (-dSAFER: the document can read no
 * file but itself and write none), in a private temporary folder; the stream
 * reads the page from a pipe as the child produces it. While a page is not
 * ready (its first bytes have not come), status(img, 0) answers 0; any
 * other `what` waits for it; reading waits too. The time limit bounds the
 * wait for the page and then each wait for further rows, not the caller's
 * pace in reading them. Failure
 * (the interpreter reports an error, crashes, produces no page or runs past
 * the time limit) answers -1, reads return 0 and the log says why. Seeking
 * back within a page or to another page starts that page again (a separated
 * page is kept whole in its file, so seeking back within it does not). Closing kills
 * a running child, reaps it and removes the temporary folder.
 *
 * The requested description chooses the form: `samples` 1 gray, 4 CMYK,
 * 4 + `spot_samples` (non-zero) CMYK with the page's spot separations,
 * anything else RGB; `xres`/`yres` the resolution, else a `width` or
 * `height` to fit (keeping the first page's aspect ratio), else 72 pixels
 * per inch. */
#ifndef KLV_GSIMG_H
#define KLV_GSIMG_H

#include <stddef.h>
#include <stdint.h>

#include "klv/export.h"
#include "klv/img.h"
#include "klv/kernel_types.h"

KLV_BEGIN_C

/* Colour forms. GSIMG_CMYK_SPOTS is CMYK followed by the page's spot
 * separations (spot_samples of them, ink amounts like the CMYK samples); the
 * separations are those of the stream's first page, which is rendered while
 * the stream opens so that the description is whole. */
enum { GSIMG_FROM_INFO = 0, GSIMG_GRAY = 1, GSIMG_RGB = 3, GSIMG_CMYK = 4, GSIMG_CMYK_SPOTS = 5 };

/* What to render; zero fields take the requested description's choice (or the
 * default). */
typedef struct gsimg_options {
  double xres, yres;     /* pixels per inch */
  int32_t color;         /* GSIMG_* */
  int32_t page;          /* the page the stream starts on (0 first) */
  int32_t time_limit_ms; /* per page: the open's page-information run and each page's render */
} gsimg_options;

/* The opener of types 2 and 68: reading only. Null when the file is not a
 * document the stream takes or it cannot be described (logged). */
KLV_API IMG_file* gsimg_open(const char* path, SOVolume* volume, const char* mode,
                             image_info* info);
/* As gsimg_open with explicit options; `type` is the type code the stream
 * carries (2 or 68). `info` (optional) is the requested description on entry
 * and receives the stream's. */
KLV_API IMG_file* gsimg_open_ex(const char* path, SOVolume* volume, image_info* info,
                                const gsimg_options* options, int32_t type);
/* The time limit of opens that do not give one, in milliseconds (120000 at
 * start); values below 1 restore it. Returns the previous limit. */
KLV_API int32_t gsimg_set_default_time_limit(int32_t ms);
/* The process id of a stream's running renderer, 0 when none runs (or the
 * stream is not one of these). */
KLV_API int32_t gsimg_child_pid(IMG_file* img);
/* 1 when the first `n` bytes of a file begin a document these streams take. */
KLV_API int32_t gsimg_probe(const uint8_t* head, size_t n);

KLV_END_C

#endif
