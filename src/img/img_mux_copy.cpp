// SPDX-License-Identifier: MIT
// Copying a whole image from one stream into another, line by line or tile
// by tile, and saving a stream as a new file.
#include <algorithm>
#include <cstring>
#include <vector>

#include "img/img_mux_table.h"
#include "klv/imgmux.h"
#include "klv/kernel_stream.h"
#include "klv/kernel_volume.h"
#include "klv/log.h"

namespace klv::img {
namespace {

bool same_shape(const image_info& a, const image_info& b) {
  return a.planar == b.planar && a.width == b.width && a.height == b.height &&
         a.bytes_per_line == b.bytes_per_line &&
         std::memcmp(a.tile_words, b.tile_words, sizeof a.tile_words) == 0;
}

// One run of `count` lines or tiles of one plane. `done` counts over the
// whole copy and `total` is what progress is told.
struct Run {
  IMG_file* dst;
  IMG_file* src;
  uint8_t* buffer;
  bool tiles;
  void* context;
  filter_progress_fn progress;
};

bool copy_plane(const Run& r, int32_t plane, int32_t count, int64_t* done, int32_t total,
                bool report_index) {
  auto seek = r.tiles ? img_seek_tile : img_seek_line;
  auto read = r.tiles ? img_read_tile : img_read_line;
  auto write = r.tiles ? img_write_tile : img_write_line;
  if (seek(r.src, 0, plane, 0, 0) != 0 || seek(r.dst, 0, plane, 0, 0) != 0) {
    KLV_LOG(KLV_LOG_ERROR, "copy image: cannot seek to plane %d", plane);
    return false;
  }
  for (int32_t i = 0; i < count; ++i) {
    if (read(r.src, r.buffer, 1) != 1) {
      KLV_LOG(KLV_LOG_ERROR, "copy image: %s %d of plane %d cannot be read",
              r.tiles ? "tile" : "line", i, plane);
      return false;
    }
    if (write(r.dst, r.buffer, 1) != 1) {
      KLV_LOG(KLV_LOG_ERROR, "copy image: %s %d of plane %d cannot be written",
              r.tiles ? "tile" : "line", i, plane);
      return false;
    }
    ++*done;
    const int32_t told = report_index ? i : static_cast<int32_t>(*done);
    if (r.progress && !r.progress(r.context, told, total)) {
      KLV_LOG(KLV_LOG_NOTICE, "copy image: stopped by the caller");
      return false;
    }
  }
  return true;
}

int32_t copy(IMG_file* dst, IMG_file* src, void* context, filter_progress_fn progress) {
  const image_info& si = src->info;
  if (!same_shape(dst->info, si)) {
    KLV_LOG(KLV_LOG_ERROR,
            "copy image: the streams differ (%dx%d layout %u, %u bytes a line against %dx%d "
            "layout %u, %u bytes)",
            si.width, si.height, si.planar, si.bytes_per_line, dst->info.width, dst->info.height,
            dst->info.planar, dst->info.bytes_per_line);
    return 0;
  }
  if (si.width <= 0 || si.height <= 0) return 0;
  const bool tiled = (si.planar & KLV_PLANAR_TILED) != 0;
  const uint32_t layout = si.planar & 7;
  // A tile can be larger than a line; the one buffer must hold either.
  const size_t bytes = std::max<size_t>(si.bytes_per_line, tiled ? tile_bytes(si) : 0);
  if (bytes == 0 || bytes > (size_t(1) << 31)) {
    KLV_LOG(KLV_LOG_ERROR, "copy image: %zu bytes a line or tile are out of range", bytes);
    return 0;
  }
  std::vector<uint8_t> buffer(bytes);
  Run r{dst, src, buffer.data(), tiled, context, progress};
  const int32_t planes = static_cast<int32_t>(si.samples + si.mask_samples);
  int64_t done = 0;
  if (tiled) {
    const int32_t tiles = static_cast<int32_t>(si.tile_words[KLV_TILE_PER_PLANE]);
    if (tiles <= 0) return 0;
    const int32_t n = layout == KLV_PLANAR_PLANES ? planes : 1;
    for (int32_t p = 0; p < n; ++p)
      if (!copy_plane(r, p, tiles, &done, tiles, true)) return 0;
    return 1;
  }
  if (layout == KLV_PLANAR_PLANES) {
    const int32_t total =
        static_cast<int32_t>(std::min<int64_t>(int64_t(si.height) * planes, INT32_MAX));
    for (int32_t p = 0; p < planes; ++p)
      if (!copy_plane(r, p, si.height, &done, total, false)) return 0;
    return 1;
  }
  return copy_plane(r, 0, si.height, &done, si.height, true) ? 1 : 0;
}

// A writer that refused the description may have created the file already;
// an empty file is not left behind (a file with data is never touched here).
void remove_if_empty(SOVolume* volume, const char* path) {
  SFilemux* s = Ovfopen(volume, path, "rb");
  if (!s) return;
  const int64_t length = Ofileleni64(s);
  Oclose(s);
  if (length == 0) Oremove(KLV_IS_HOST_VOLUME(volume) ? nullptr : volume, path);
}

}  // namespace
}  // namespace klv::img

extern "C" {

KLV_API int32_t copy_img_to_img(IMG_file* dst, IMG_file* src, void* context,
                                filter_progress_fn progress) {
  if (!dst || !src) return 0;
  try {
    return klv::img::copy(dst, src, context, progress);
  } catch (...) {
    KLV_LOG(KLV_LOG_ERROR, "copy image: out of memory");
    return 0;
  }
}

KLV_API int32_t save_img_as(const char* path, SOVolume* volume, int32_t type, IMG_file* src,
                            const void* spot_options, void* context, filter_progress_fn progress) {
  if (!path || !src) return 0;
  if (spot_options) {
    KLV_LOG(KLV_LOG_ERROR, "save image \"%s\": the spot-colour converter is not built", path);
    return 0;
  }
  image_info info = src->info;
  image_cmap* map = nullptr;
  if (info.photometric == KLV_PHOTO_PALETTE && !info.cmap) map = img_get_cmap(src);
  if (map) info.cmap = map;
  int32_t result = 0;
  IMG_file* dst = img_mux_open(path, volume, "w", &info, type);
  if (!dst) klv::img::remove_if_empty(volume, path);
  if (dst) {
    result = copy_img_to_img(dst, src, context, progress);
    img_close(dst);
    // A file that did not receive the whole image is not left behind.
    if (!result) Oremove(KLV_IS_HOST_VOLUME(volume) ? nullptr : volume, path);
  }
  free_cmap(map);
  return result;
}

}  // extern "C"
