// SPDX-License-Identifier: MIT
#include "png_file.h"

#include <png.h>

#include <cstdio>

namespace klvrip {

bool write_png(const char* path, int width, int height, const std::vector<uint8_t>& rgb) {
  if (width < 1 || height < 1 || rgb.size() < size_t(width) * height * 3) return false;
  FILE* f = std::fopen(path, "wb");
  if (!f) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  bool ok = false;
  if (png && info && !setjmp(png_jmpbuf(png))) {
    png_init_io(png, f);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y)
      png_write_row(png, const_cast<png_bytep>(rgb.data() + size_t(y) * width * 3));
    png_write_end(png, nullptr);
    ok = true;
  }
  png_destroy_write_struct(&png, &info);
  return (std::fclose(f) == 0) && ok;
}

}  // namespace klvrip
