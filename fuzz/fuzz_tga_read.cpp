// SPDX-License-Identifier: MIT
// Arbitrary bytes as a TGA file: opened, read, sought and its colour map
// taken.
#include "fuzz_stream_file.h"
#include "klv/tga.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const fuzz::StreamOps ops = {
      "fuzz_tga_read", tga_open,  tga_read_line,
      tga_seek_line,   tga_close, [](void* rec) { free_cmap(tga_get_cmap(rec)); }};
  return fuzz::run_stream(ops, data, size);
}
