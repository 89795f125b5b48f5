/* SPDX-License-Identifier: MIT */
/* KlvLib: every public C header. */
#ifndef KLV_KLV_H
#define KLV_KLV_H

#include "klv/export.h"
#include "klv/log.h"
#include "klv/kernel.h"
#include "klv/img.h"
#include "klv/bmp.h"
#include "klv/tiff.h"
#include "klv/printmode.h"
#include "klv/screen_setup.h"
#include "klv/prntinfo.h"

#endif
