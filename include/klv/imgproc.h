/* SPDX-License-Identifier: MIT */
/* The image processing driver: one job, from its settings record and image,
 * to print files in the printer's resolution (colour converted and
 * screened), the print-file list that names them and the job's processing
 * record.
 *
 * Print files are named from the job's Printpath: its folder and base name,
 * extension dropped (written <base> below):
 *   <base>.B001, <base>.B002, ...  halftoned (screened) pages, from 1;
 *   <base>.C001, ...               contone pages (the first is the job's
 *                                  output name);
 *   <base>.BPGS, .CPGS, .RPGS      page lists.
 * The print-file list is written at Printpath itself:
 *   printfiles {
 *    "entry"
 *   }
 * A Printpath naming an existing folder (as `klvrip job new` stores it)
 * stands for "<folder>/<folder's name>.prt".
 *
 * Progress callback: function(context, code, argument) with
 *   KLV_PROC_CB_MESSAGE (0)  a message line (text);
 *   KLV_PROC_CB_STATUS (1)   a status message (text);
 *   KLV_PROC_CB_PERCENT (6)  progress as the text "%d.%d%%" in tenths of a
 *                            percent, sent only when the value changes;
 *   KLV_PROC_CB_POLL (-1)    a cancellation poll (argument null): a non-zero
 *                            answer cancels the job.
 * Failures are told as a status message and logged (source tag "ProcImg");
 * a failed or cancelled job leaves none of its print files behind. */
#ifndef KLV_IMGPROC_H
#define KLV_IMGPROC_H

#include <stdint.h>

#include "klv/export.h"
#include "klv/job_settings.h"
#include "klv/kernel_stral.h"
#include "klv/kernel_types.h"

KLV_BEGIN_C

enum {
  KLV_PROC_CB_POLL = -1,
  KLV_PROC_CB_MESSAGE = 0,
  KLV_PROC_CB_STATUS = 1,
  KLV_PROC_CB_PERCENT = 6
};

/* The extension the list takes for a Printpath naming a folder. */
#define KLV_PROC_LIST_EXT "prt"

typedef int32_t (*imgproc_callback)(void* context, int32_t code, const char* argument);
/* A plain progress display: value out of scale (1000). */
typedef void (*imgproc_progress)(int32_t value, int32_t scale, void* context);

/* Runs begin_img_proc with mode 1 through a callback that turns progress
 * texts into value (tenths of a percent) and scale 1000, ignores messages
 * and answers 0 to everything else. */
KLV_API int32_t start_img_proc(const char* job, settings* record, const char* name,
                               imgproc_progress progress, void* context);
/* Processes the job: `job` is its folder, volume or settings file; `record`
 * its settings (null: read from `job`); `name` the name announced (null or
 * empty: the job's name). `mode` is kept for callers (1 as start_img_proc
 * passes). Non-zero on success, 0 on failure or cancellation. Layout jobs
 * are refused with a message. */
KLV_API int32_t begin_img_proc(const char* job, settings* record, const char* name, int32_t mode,
                               imgproc_callback callback, void* context);
/* The outer steps of a layout job; layouts are not processed by this
 * library yet: 0 with a message. */
KLV_API int32_t need_img_proc(const char* job, settings* record, imgproc_callback callback,
                              void* context);

/* Writes the print-file list at the job's Printpath (replaced only once it
 * is whole): the entries of get_prt_stral with scales 1. 1, or 0 when the
 * list is empty or the file cannot be written. */
KLV_API int32_t proc_make_prt_file(SOVolume* volume, const settings* record, int32_t tiled);
/* The list's entries, one string each, owned by the caller (stral_free).
 * Not tiled: the page files <base>.B001, <base>.B002, ... that exist, in
 * page order (the contone pages <base>.C001, ... when there is no halftoned
 * page). Tiled (the job's Cropping block gives tile sizes and NoTiles
 * is 0): for every page file, its width and height in inches are cut into
 * columns by the widths TileX (then TileWidth) and rows by the heights TileY
 * (then TileHeight), the sizes first multiplied by x_scale and y_scale; a
 * rest at least a pixel wide is one more tile when it is wider than Overlap
 * or the only one. Each tile, row by row, gives "* <base>RRC.CCPNNN" when
 * the page has a contone file, "* <base>RRS.CCPNNN" when PrintType is 2 with
 * spot colours, and "* <base>RRB.CCPNNN" for the halftoned file (RR the row
 * and CC the column from 1, NNN the page). Null when there is none. */
KLV_API SSTRAL* get_prt_stral(SOVolume* volume, const settings* record, int32_t tiled,
                              double x_scale, double y_scale);
/* Printpath with its extension replaced by "C001", into `out` of `size`
 * bytes; 1, or 0 when it does not fit. */
KLV_API int32_t get_output_name(const settings* record, char* out, int32_t size);

/* The path the list is written at (a folder Printpath resolved as above). */
KLV_API int32_t imgproc_list_path(const settings* record, char* out, int32_t size);
/* The page file of `kind` ('B' or 'C') numbered `page` (from 1). */
KLV_API int32_t imgproc_page_name(const settings* record, char kind, int32_t page, char* out,
                                  int32_t size);
/* Removes a job's print files: the list; every <base>.B<n> and <base>.C<n>
 * (and <base>.R<n> when render_too); <base>.BPGS and .CPGS (and .RPGS when
 * render_too); and the host files named like Imagepath with the extension
 * "pr" and one more character. The number of files removed. */
KLV_API int32_t imgproc_remove_print_files(const settings* record, int32_t render_too);
/* Tenths of a percent of done out of total, rounded half up (0 to 1000). */
KLV_API int32_t imgproc_tenths(int64_t done, int64_t total);

KLV_END_C

#endif
