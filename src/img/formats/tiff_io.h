// SPDX-License-Identifier: MIT
// libtiff over the kernel's file streams, with libtiff's messages routed to
// the Logger and its allocations bounded.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <string>

#include "klv/kernel_stream.h"

namespace klv::img::tiff {

// What libtiff's message handlers of one handle need: the file's name, and
// the count of unknown tags met, which are summed rather than logged one line
// each (a file may hold thousands). Must outlive the handle.
struct Messages {
  std::string name;
  uint32_t unknown_tags = 0;
  uint32_t warnings = 0;  // other warnings logged; past a few the rest are dropped
};

// Opens libtiff on `stream`, which libtiff then owns (closed by TIFFClose,
// or here when the open fails). `mode` is libtiff's ("r" or "w"). Null on failure.
TIFF* open_client(SFilemux* stream, Messages* messages, const char* mode);

// Logs "N unknown tags ignored" once when the directory read held any.
void report_unknown_tags(Messages* messages);

}  // namespace klv::img::tiff
