// SPDX-License-Identifier: MIT
// Mapping a stream whole: forwards to the stream object.
#include "kernel/stream_map.h"

#include "kernel/stream.h"

namespace klv::kernel {

const uint8_t* map_all(SFilemux* stream, int64_t* length) {
  return stream ? stream->map_all(length) : nullptr;
}

void release_map(SFilemux* stream, int64_t offset, int64_t length) {
  if (stream) stream->release_map(offset, length);
}

}  // namespace klv::kernel
