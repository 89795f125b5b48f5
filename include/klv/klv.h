/* SPDX-License-Identifier: MIT */
/* KlvLib: every public C header. This header and everything it includes
 * compile as C, and as C++ without any C++ standard header. The C++ classes
 * and helpers are in headers of their own: the *_cxx.h companions of the C
 * headers (kernel_path_cxx.h, printmode_cxx.h, threadfilter_cxx.h,
 * htplace_cxx.h, usage_cxx.h), cimg_file.h, platform.h and the halftone engine headers.
 * A printer driver library needs only klv/printer_plugin.h. */
#ifndef KLV_KLV_H
#define KLV_KLV_H

#include "klv/export.h"
#include "klv/log.h"
#include "klv/kernel.h"
#include "klv/img.h"
#include "klv/filter.h"
#include "klv/tilefilter.h"
#include "klv/streams.h"
#include "klv/outimg.h"
#include "klv/threadfilter.h"
#include "klv/bmp.h"
#include "klv/tiff.h"
#include "klv/imgmux.h"
#include "klv/rotate.h"
#include "klv/printmode.h"
#include "klv/screen_setup.h"
#include "klv/halftone_mlproc.h"
#include "klv/halftone.h"
#include "klv/htplace.h"
#include "klv/prntinfo.h"
#include "klv/printer_driver.h"
#include "klv/calib.h"
#include "klv/icc.h"
#include "klv/cms.h"
#include "klv/ucc.h"
#include "klv/job_settings.h"
#include "klv/proc_info.h"
#include "klv/usage.h"
#include "klv/proflib.h"
#include "klv/script.h"
#include "klv/request.h"
#include "klv/proflib_request.h"
#include "klv/jpeg.h"
#include "klv/pngimg.h"
#include "klv/tga.h"
#include "klv/cropfilter.h"
#include "klv/layoutfilter.h"
#include "klv/repeat.h"
#include "klv/imgproc.h"
#include "klv/gsimg.h"
#include "klv/ocfimg.h"
#include "klv/halftone_lend.h"

#endif
