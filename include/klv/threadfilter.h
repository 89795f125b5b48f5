/* SPDX-License-Identifier: MIT */
/* The threaded write stage: an IMG_file opened for writing that copies the
 * lines written into it into a ring and returns at once while there is room;
 * a worker thread of its own drains the ring into the output stream.
 *
 * Every way the stage ends joins the worker and closes the output once: the
 * worker closes it after the output's last line (or when a write fails), and
 * closing the stage waits for the worker to write what it holds. Closing the
 * stage before the output's last line was written stops the worker once the
 * ring is drained and closes the output all the same. The stage's close
 * status (img_close_status) fails when a write of the worker failed or when
 * closing the output lost data. */
#ifndef KLV_THREADFILTER_H
#define KLV_THREADFILTER_H

#include <stdint.h>

#include "klv/export.h"
#include "klv/img.h"

KLV_BEGIN_C

/* Puts a write stage with a ring of `buffer_bytes` (whole lines) in front of
 * `output`, which must be open for writing and pixel- or line-interleaved.
 * Returns the stage (mode 'w', type 0), which owns `output`; on failure null,
 * and `output` is closed. */
KLV_API IMG_file* threadfilter_attach(IMG_file* output, uint32_t buffer_bytes);

KLV_END_C

/* The stage as a C++ stream class is in klv/threadfilter_cxx.h. */

#endif
