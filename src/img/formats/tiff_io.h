// SPDX-License-Identifier: MIT
// libtiff over the kernel's file streams, with libtiff's messages routed to
// the Logger and its allocations bounded.
#pragma once

#include <tiffio.h>

#include "klv/kernel_stream.h"

namespace klv::img::tiff {

// Opens libtiff on `stream`, which libtiff then owns (closed by TIFFClose,
// or here when the open fails). `mode` is libtiff's ("r" or "w"). Null on failure.
TIFF* open_client(SFilemux* stream, const char* name, const char* mode);

}  // namespace klv::img::tiff
