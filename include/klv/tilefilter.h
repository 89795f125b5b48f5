/* SPDX-License-Identifier: MIT */
/* The tile filter: reads a tiled stream as lines (optionally turned by quarter
 * turns and cropped horizontally) and writes lines into a tiled stream. */
#ifndef KLV_TILEFILTER_H
#define KLV_TILEFILTER_H

#include "klv/export.h"
#include "klv/img.h"

KLV_BEGIN_C

/* rotation: bits 0-1 quarter turns clockwise, bit 2 a mirror (left-right, after
 * turning). interleave: deliver a planar source as pixel-interleaved lines.
 * start and extent: horizontal crop as fractions of the width. On failure the
 * source is closed and null returned. */
KLV_API IMG_file* tilefilter_attachtiledimg(IMG_file* source, int32_t interleave);
KLV_API IMG_file* tilefilter_attachtiledimg_rot(IMG_file* source, int32_t rotation,
                                                int32_t interleave);
KLV_API IMG_file* tilefilter_attachtiledimg_crop(IMG_file* source, int32_t rotation,
                                                 int32_t interleave, double start, double extent);

KLV_END_C

#endif
