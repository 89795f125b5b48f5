// SPDX-License-Identifier: MIT
// Dispatch of the ten stream operations through an IMG_file.
#include <cstdlib>

#include "img/img_mux_table.h"
#include "img/lend_lines.h"
#include "klv/img.h"
#include "klv/tiff.h"

extern "C" {

KLV_API IMG_file* img_close(IMG_file* img) {
  img_close_status(img);
  return nullptr;
}

KLV_API int32_t img_close_status(IMG_file* img) {
  if (!img) return 0;
  int32_t status = 0;
  if (img->handle && img->close) status = img->close(img->handle) < 0 ? -1 : 0;
  std::free(img);
  return status;
}

KLV_API int32_t img_status(IMG_file* img, int32_t what) {
  if (!img || !img->handle) return -1;
  if (!img->status) return 1;
  return img->status(img, what);
}

KLV_API int32_t img_read_line(IMG_file* img, uint8_t* buffer, int32_t count) {
  return (img && img->read_line) ? img->read_line(img->handle, buffer, count) : 0;
}

KLV_API int32_t img_lend_lines(IMG_file* img, const uint8_t** lines, int32_t count) {
  if (!img || !img->handle || img->mode != 'r' || !lines || count < 1 || !img->read_line) return 0;
  if (const klv::img::LendFn lend = klv::img::lend_operation(img))
    return lend(img->handle, lines, count);
  return cimg_lend_lines(img, lines, count);
}

KLV_API int32_t img_write_line(IMG_file* img, uint8_t* buffer, int32_t count) {
  return (img && img->write_line) ? img->write_line(img->handle, buffer, count) : 0;
}

KLV_API int32_t img_seek_line(IMG_file* img, int32_t line, int32_t plane, int32_t page,
                              int32_t whence) {
  return (img && img->seek_line) ? img->seek_line(img->handle, line, plane, page, whence) : -1;
}

KLV_API int32_t img_read_tile(IMG_file* img, uint8_t* buffer, int32_t count) {
  return (img && img->read_tile) ? img->read_tile(img->handle, buffer, count) : 0;
}

KLV_API int32_t img_write_tile(IMG_file* img, uint8_t* buffer, int32_t count) {
  return (img && img->write_tile) ? img->write_tile(img->handle, buffer, count) : 0;
}

KLV_API int32_t img_seek_tile(IMG_file* img, int32_t tile, int32_t plane, int32_t page,
                              int32_t whence) {
  return (img && img->seek_tile) ? img->seek_tile(img->handle, tile, plane, page, whence) : -1;
}

KLV_API image_cmap* img_get_cmap(IMG_file* img) {
  return (img && img->get_cmap) ? img->get_cmap(img->handle) : nullptr;
}

KLV_API image_profile* img_get_profile(IMG_file* img) {
  return (img && img->get_profile) ? img->get_profile(img->handle) : nullptr;
}

KLV_API IMG_file* new_invalid_img(void) {
  auto* img = static_cast<IMG_file*>(std::calloc(1, sizeof(IMG_file)));
  if (img) img->type = -1;
  return img;
}

}  // extern "C"
