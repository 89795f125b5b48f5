// SPDX-License-Identifier: MIT
// File streams over host files.
#pragma once

#include "kernel/stream.h"

namespace klv::kernel {

// Opens a host file; null (and a log line) when it cannot be opened.
SFilemux* open_host_file(const char* path, const OpenMode& mode);

}  // namespace klv::kernel
