// SPDX-License-Identifier: MIT
// Arbitrary bytes as a PNG file: opened, read, sought, its colour map and
// profile taken.
#include "fuzz_stream_file.h"
#include "klv/pngimg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const fuzz::StreamOps ops = {"fuzz_png_read",
                                      pngimg_open,
                                      pngimg_read_line,
                                      pngimg_seek_line,
                                      pngimg_close,
                                      [](void* rec) {
                                        free_cmap(pngimg_get_cmap(rec));
                                        checkin_image_profile(pngimg_get_profile(rec));
                                      }};
  return fuzz::run_stream(ops, data, size);
}
