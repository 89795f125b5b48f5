// SPDX-License-Identifier: MIT
// Volumes: placeholder until the SQLite container lands; opening a member fails.
#include "kernel/volume_internal.h"
#include "klv/log.h"

namespace klv::kernel {

SFilemux* open_volume_member(SOVolume*, const char* path, const OpenMode&) {
  KLV_LOG(KLV_LOG_ERROR, "cannot open member \"%s\": volumes are not built yet", path);
  return nullptr;
}

}  // namespace klv::kernel
