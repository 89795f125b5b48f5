// SPDX-License-Identifier: MIT
// Recognition of arbitrary bytes: the bytes are written to a file that is
// opened with type 0 and, when a reader accepts it, read to its end.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "klv/gsimg.h"
#include "klv/imgmux.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A few hundred executions a second: an input may state at most 2^18
  // pixels, so no input costs more than decoding that many.
  static const bool limited = setenv("MaxImagePixels", "262144", 1) == 0;
  (void)limited;
  // PostScript inputs start an interpreter child: bound each page's render.
  static const int32_t gs_limit = gsimg_set_default_time_limit(2000);
  (void)gs_limit;
  static const std::string path = [] {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/fuzz_img_mux_open." +
           std::to_string(getpid());
  }();
  if (size > (1 << 20)) return 0;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  image_info info;
  init_image_info(&info);
  if (IMG_file* img = img_mux_open(path.c_str(), nullptr, "r", &info, 0)) {
    const bool tiled = info.planar & KLV_PLANAR_TILED;
    if (!tiled && info.bytes_per_line > 0 && info.bytes_per_line < (1u << 24) && info.height > 0) {
      std::vector<uint8_t> line(info.bytes_per_line);
      // Bound the work on huge claimed heights; the reader must stop by itself.
      for (int32_t y = 0; y < info.height && y < 4096; ++y)
        if (img_read_line(img, line.data(), 1) != 1) break;
    }
    img_close(img);
  }
  img_check_valid(nullptr, path.c_str(), 0);
  std::remove(path.c_str());
  return 0;
}
