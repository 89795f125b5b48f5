// SPDX-License-Identifier: MIT
// Image descriptions and colour maps.
#include <cstdlib>
#include <cstring>

#include "klv/img.h"

extern "C" {

KLV_API void init_image_info(image_info* info) {
  if (!info) return;
  std::memset(info, 0, sizeof *info);
  init_crop_info(&info->crop);
}

KLV_API image_info* alloc_image_info(void) {
  auto* info = static_cast<image_info*>(std::malloc(sizeof(image_info)));
  if (info) init_image_info(info);
  return info;
}

KLV_API int32_t free_image_info(image_info* info) {
  if (!info) return 0;
  free_cmap(info->cmap);
  std::free(info);
  return 0;
}

KLV_API uint32_t image_info_line_bytes(const image_info* info) {
  if (!info) return 0;
  uint64_t width = static_cast<uint32_t>(info->width);
  uint64_t all = uint64_t{info->samples} + info->mask_samples;
  uint64_t bits = info->bits_per_sample;
  uint64_t bytes;
  switch (info->planar & ~uint32_t{KLV_PLANAR_TILED}) {
    case KLV_PLANAR_PLANES:
      bytes = (bits * width + 7) / 8;
      break;
    case KLV_PLANAR_LINES:
      bytes = all * ((bits * width + 7) / 8);
      break;
    default:
      bytes = (all * bits * width + 7) / 8;
      break;
  }
  return bytes > UINT32_MAX ? 0 : static_cast<uint32_t>(bytes);
}

KLV_API image_cmap* copy_cmap(const image_cmap* map) {
  if (!map) return nullptr;
  auto* copy = static_cast<image_cmap*>(std::calloc(1, sizeof(image_cmap)));
  if (!copy) return nullptr;
  copy->channels = map->channels;
  copy->entries = map->entries;
  copy->photometric = map->photometric;
  for (int c = 0; c < 4; ++c) {
    if (!map->channel[c]) continue;
    copy->channel[c] = static_cast<uint8_t*>(std::malloc(map->entries ? map->entries : 1));
    if (!copy->channel[c]) {
      free_cmap(copy);
      return nullptr;
    }
    if (static_cast<uint32_t>(c) < map->channels && map->entries)
      std::memcpy(copy->channel[c], map->channel[c], map->entries);
    else if (map->entries)
      std::memset(copy->channel[c], 0, map->entries);
  }
  return copy;
}

KLV_API int32_t free_cmap(image_cmap* map) {
  if (!map) return 0;
  for (auto* channel : map->channel) std::free(channel);
  std::free(map);
  return 0;
}

KLV_API int32_t cmap_equal(const image_cmap* a, const image_cmap* b) {
  if (a == b) return 1;
  if (!a || !b) return 0;
  if (a->channels != b->channels || a->photometric != b->photometric || a->entries != b->entries)
    return 0;
  for (uint32_t c = 0; c < a->channels && c < 4; ++c) {
    if (a->channel[c] == b->channel[c]) continue;
    if (!a->channel[c] || !b->channel[c]) return 0;
    if (std::memcmp(a->channel[c], b->channel[c], a->entries) != 0) return 0;
  }
  return 1;
}

}  // extern "C"
