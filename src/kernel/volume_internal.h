// SPDX-License-Identifier: MIT
// What the stream layer needs from volumes.
#pragma once

#include "kernel/stream.h"

namespace klv::kernel {

// Opens a member of a volume as a stream; null (and a log line) on failure.
SFilemux* open_volume_member(SOVolume* volume, const char* path, const OpenMode& mode);

}  // namespace klv::kernel
