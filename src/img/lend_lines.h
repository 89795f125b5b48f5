// SPDX-License-Identifier: MIT
// The streams that can lend lines in place, for img_lend_lines.
#pragma once

#include <cstdint>

#include "klv/img.h"
#include "klv/imgmux.h"

// A stream written as a CIMG_file: its LendLines; 0 for other streams.
int32_t cimg_lend_lines(IMG_file* img, const uint8_t** lines, int32_t count);

extern "C" {
// A line filter that passes lines unchanged: its source's lines.
int32_t filter_lend_lines(filter_rec* f, const uint8_t** lines, int32_t count);
}
