// SPDX-License-Identifier: MIT
// Parses arbitrary bytes as a BMP file through a memory stream, reads every
// line, seeks back and forth and takes the colour map.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "klv/bmp.h"
#include "klv/kernel_layers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A few hundred executions a second: an input may state at most 2^18
  // pixels, so no input costs more than decoding that many.
  static const bool limited = setenv("MaxImagePixels", "262144", 1) == 0;
  (void)limited;
  SFilemux* mem = Omemopen(data, size);
  if (!mem) return 0;
  void* st = bmp_read_vars(mem);  // owns the stream from here on
  if (!st) return 0;
  image_info info;
  init_image_info(&info);
  bmp_get_info(st, &info);
  std::vector<uint8_t> line(info.bytes_per_line);
  // Bounded: a lying header may announce millions of lines of zeros.
  for (int64_t y = 0; y < info.height && y * int64_t{info.bytes_per_line} < (int64_t{16} << 20);
       ++y)
    if (bmp_read_line(st, line.data(), 1) != 1) break;
  if (bmp_seek_line(st, 0, 0, 0, 2) >= 0) bmp_read_line(st, line.data(), 1);
  if (bmp_seek_line(st, 0, 0, 0, 0) >= 0) bmp_read_line(st, line.data(), 1);
  free_cmap(bmp_get_cmap(st));
  bmp_close(st);
  return 0;
}
