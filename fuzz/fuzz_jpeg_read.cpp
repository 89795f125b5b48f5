// SPDX-License-Identifier: MIT
// Arbitrary bytes as a JPEG file: opened, read, sought and its profile taken.
#include "fuzz_stream_file.h"
#include "klv/jpeg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const fuzz::StreamOps ops = {
      "fuzz_jpeg_read", jpg_open,  jpg_read_line,
      jpg_seek_line,    jpg_close, [](void* rec) { checkin_image_profile(jpg_get_profile(rec)); }};
  return fuzz::run_stream(ops, data, size);
}
