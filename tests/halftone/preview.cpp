// SPDX-License-Identifier: MIT
#include "preview.h"

#include <png.h>

#include <cstdio>
#include <filesystem>
#include <memory>

namespace klv::test {

DotImage ScreenGray(CHTPlacement& place, const std::vector<uint8_t>& input, int width, int height,
                    int sep) {
  image_info in{}, out{};
  in.width = out.width = width;
  in.height = out.height = height;
  in.samples = out.samples = 1;
  in.bits_per_sample = 8;
  in.bytes_per_line = uint32_t(width);
  out.bits_per_sample = 1;
  out.bytes_per_line = uint32_t((width + 7) / 8);
  DotImage img;
  if (!place.PreInitProcess(&in, &out)) return img;
  std::unique_ptr<CHTRip> rip(place.CreateRip(sep, 0, false, 0, nullptr, nullptr, 0, height));
  if (!rip) return img;
  rip->StartProcessLine(const_cast<uint8_t*>(input.data()), height);
  rip->CheckProcAvail();
  img.width = width;
  img.height = height;
  img.bytes_per_line = rip->GetBytesPerLine();
  img.bits.assign(rip->GetOutBuf(), rip->GetOutBuf() + img.bytes_per_line * height);
  return img;
}

std::vector<uint8_t> GrayRamp(int width, int height) {
  std::vector<uint8_t> v(size_t(width) * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) v[size_t(y) * width + x] = uint8_t(x * 255 / (width - 1));
  return v;
}

std::string WritePreview(const DotImage& img, const std::string& name, int scale) {
  if (img.width == 0) return {};
  std::filesystem::path dir = std::filesystem::path(KLV_BINARY_DIR) / "halftone_preview";
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  std::string path = (dir / (name + ".png")).string();
  FILE* volatile f = std::fopen(path.c_str(), "wb");  // kept across the longjmp of libpng
  if (!f) return {};
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return {};
  }
  png_init_io(png, f);
  const int w = img.width * scale, h = img.height * scale;
  png_set_IHDR(png, info, uint32_t(w), uint32_t(h), 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  std::vector<uint8_t> row(static_cast<size_t>(w));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) row[size_t(x)] = img.dot(x / scale, y / scale) ? 0 : 255;
    png_write_row(png, row.data());
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  std::fclose(f);
  return path;
}

}  // namespace klv::test
