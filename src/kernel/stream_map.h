// SPDX-License-Identifier: MIT
// Mapping a stream whole, for readers elsewhere in the library that lend
// uncompressed data in place. Host files opened for reading only can be
// mapped; every other stream answers null and is read as usual.
#pragma once

#include <cstdint>

#include "klv/kernel_types.h"

namespace klv::kernel {

// The whole file mapped (kept until the stream closes) and its length, or null
// when the stream cannot be mapped.
const uint8_t* map_all(SFilemux* stream, int64_t* length);
// Gives back the pages of a mapped range that have been handed on.
void release_map(SFilemux* stream, int64_t offset, int64_t length);

}  // namespace klv::kernel
