// SPDX-License-Identifier: MIT
// Inside the OCF stream: the state of its lazy build (for the tests) and the
// two filters it stacks over the line filter: the depth dither (16-bit lines
// down to 8 bits) and the bleed (margins around the printed image).
#pragma once

#include <cstdint>

#include "klv/img.h"
#include "klv/ocfimg.h"

namespace klv::img {

enum class OcfState { kPending, kBuilt, kFailed };

// Whether the chain of an OCF stream (type 60) is still to be built, built or
// failed; kFailed for any other stream.
OcfState ocf_state(const IMG_file* img);

// 16-bit pixel-interleaved lines of `source` as `bits` (8) bits a sample,
// with an ordered dither so that smooth 16-bit ramps keep their steps apart.
// Owns the source; null (source closed) when it cannot be attached.
IMG_file* ocf_depth_dither_attach(IMG_file* source, uint32_t bits);

// The bleed margins in pixels (left, top, right, bottom); zeros without bleed.
void ocf_bleed_margins(const ocfi_info& record, int32_t out[4]);

// `source` (pixel-interleaved, whole bytes a sample) within the record's
// bleed margins: filled with the bleed colour, the repeated edge pixels or
// the mirrored image. Owns the source; null (source closed) on failure.
IMG_file* ocf_bleed_attach(IMG_file* source, const ocfi_info& record);

}  // namespace klv::img
