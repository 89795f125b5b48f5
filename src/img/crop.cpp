// SPDX-License-Identifier: MIT
// The crop record and its arithmetic: edges are pixel-centre positions from 0
// to width-1 (height-1), extents are in pixels.
#include <cstring>

#include "klv/img.h"

namespace {

double last_index(uint32_t size) {
  return static_cast<double>(static_cast<uint32_t>(size - 1));
}

}  // namespace

extern "C" {

KLV_API double dcrop_x1(const crop_info* crop, uint32_t width, uint32_t height) {
  if (!crop) return 0;
  switch (crop->kind) {
    case 0:
      return last_index(width) * crop->x1;
    case 1:
      return last_index(height) * crop->x1;
    case 2:
      return crop->resolution * crop->x1;
    default:
      return 0;
  }
}

KLV_API double dcrop_x2(const crop_info* crop, uint32_t width, uint32_t height) {
  if (!crop) return 0;
  switch (crop->kind) {
    case 0:
      return last_index(width) * crop->x2;
    case 1:
      return last_index(height) * crop->x2;
    case 2:
      return (crop->width_inches + crop->x1) * crop->resolution - 1;
    default:
      return 0;
  }
}

KLV_API double dcrop_y1(const crop_info* crop, uint32_t, uint32_t height) {
  if (!crop) return 0;
  if (crop->kind == 2) return crop->resolution * crop->y1;
  return last_index(height) * crop->y1;
}

KLV_API double dcrop_y2(const crop_info* crop, uint32_t, uint32_t height) {
  if (!crop) return 0;
  if (crop->kind == 2) return (crop->height_inches + crop->y1) * crop->resolution - 1;
  return last_index(height) * crop->y2;
}

KLV_API double dcrop_width(const crop_info* crop, uint32_t width, uint32_t height) {
  if (!crop) return width;
  switch (crop->kind) {
    case 0:
      return (crop->x2 - crop->x1) * width;
    case 1:
      return (crop->x2 - crop->x1) * height;
    case 2:
      return width;
    default:
      return 1;
  }
}

KLV_API double dcrop_height(const crop_info* crop, uint32_t, uint32_t height) {
  if (!crop) return height;
  if (crop->kind == 2) return height;
  return (crop->y2 - crop->y1) * height;
}

KLV_API void init_crop_info(crop_info* crop) {
  if (!crop) return;
  crop->kind = 0;
  crop->x1 = crop->y1 = 0;
  crop->x2 = crop->y2 = 1;
}

KLV_API int32_t check_null_crop(const crop_info* crop) {
  return (crop && crop->kind == 0 && crop->x1 == 0.0 && crop->y1 == 0.0 && crop->x2 == 0.0 &&
          crop->y2 == 0.0)
             ? 1
             : 0;
}

KLV_API int32_t fill_inches_crop(crop_info* dst, const crop_info* src, const image_info* info) {
  if (!dst || !src || !info) return 0;
  if (src->kind == 2) {
    if (dst != src) *dst = *src;
    return 1;
  }
  uint32_t w = static_cast<uint32_t>(info->width), h = static_cast<uint32_t>(info->height);
  double x1 = dcrop_x1(src, w, h) / info->xres;
  double y1 = dcrop_y1(src, w, h) / info->yres;
  double wi = dcrop_x2(src, w, h) / info->xres - x1;
  double hi = dcrop_y2(src, w, h) / info->yres - y1;
  std::memset(dst, 0, sizeof *dst);
  dst->kind = 2;
  dst->x1 = x1;
  dst->y1 = y1;
  dst->width_inches = wi;
  dst->height_inches = hi;
  return 1;
}

KLV_API int32_t fill_abs_crop(crop_info* dst, const crop_info* src, const image_info* info) {
  if (!dst || !src || !info || info->width == 0 || info->height == 0) return 0;
  uint32_t w = static_cast<uint32_t>(info->width), h = static_cast<uint32_t>(info->height);
  double x1 = 0, x2 = 1, y1 = 0, y2 = 1;
  if (w >= 2) {
    x1 = dcrop_x1(src, w, h) / last_index(w);
    x2 = dcrop_x2(src, w, h) / last_index(w);
  }
  if (h >= 2) {
    y1 = dcrop_y1(src, w, h) / last_index(h);
    y2 = dcrop_y2(src, w, h) / last_index(h);
  }
  dst->kind = 0;
  dst->x1 = x1;
  dst->x2 = x2;
  dst->y1 = y1;
  dst->y2 = y2;
  return 1;
}

KLV_API int32_t fill_image_crop(crop_rect* rect, crop_info* crop, uint32_t width, uint32_t height) {
  if (!rect || !crop) return 0;
  if (check_null_crop(crop)) init_crop_info(crop);
  rect->x1 = static_cast<int32_t>(dcrop_x1(crop, width, height) + 0.5);
  rect->y1 = static_cast<int32_t>(dcrop_y1(crop, width, height) + 0.5);
  rect->x2 = static_cast<int32_t>(dcrop_x2(crop, width, height) + 0.5);
  rect->y2 = static_cast<int32_t>(dcrop_y2(crop, width, height) + 0.5);
  rect->width = rect->x2 - rect->x1 + 1;
  rect->height = rect->y2 - rect->y1 + 1;
  return 1;
}

}  // extern "C"
