// SPDX-License-Identifier: MIT
// img_mux_open: opening an image by type code or by recognising its content,
// and the checks that an image can be opened and read to its end.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "img/img_mux_table.h"
#include "klv/image_limits.h"
#include "klv/imgmux.h"
#include "klv/kernel_stream.h"
#include "klv/log.h"

namespace klv::img {
namespace {

// The first bytes of the file, or false when it cannot be opened.
bool read_head(const char* path, SOVolume* volume, uint8_t* head, size_t* n) {
  SFilemux* s = Ovfopen(volume, path, "rb");
  if (!s) return false;
  *n = Oread(s, head, kProbeBytes);
  Oclose(s);
  return true;
}

// Whether a compressed image's file is large enough for the pixels it
// states, by the resource limits (the readers that know their format check
// this when they open; this covers every other type).
bool stated_size_is_credible(const char* path, SOVolume* volume, const image_info& info) {
  if (info.compression == 0 || info.width <= 0 || info.height <= 0) return true;
  SFilemux* s = Ovfopen(volume, path, "rb");
  if (!s) return true;  // not a plain file (a volume): nothing to weigh
  const int64_t length = Ofileleni64(s);
  Oclose(s);
  if (length <= 0) return true;
  return klv_image_limits_check("image", path, uint64_t(info.width), uint64_t(info.height),
                                uint64_t(length)) != 0;
}

// Fills the operation table of a stream opened by the row's opener.
void fill_ops(IMG_file* img, const MuxType& t) {
  img->close = t.close;
  img->get_cmap = t.get_cmap;
  img->get_profile = t.get_profile;
  if ((img->info.planar & KLV_PLANAR_TILED) && (t.read_tile || t.write_tile)) {
    img->read_tile = t.read_tile;
    img->write_tile = t.write_tile;
    img->seek_tile = t.seek_tile;
  } else {
    img->read_line = t.read_line;
    img->write_line = t.write_line;
    img->seek_line = t.seek_line;
  }
}

// Opens with one row of the table. `quiet` leaves the log to the caller
// (recognition: a refusal is expected there).
IMG_file* open_typed(const char* path, SOVolume* volume, const char* mode, image_info* info,
                     const MuxType& t, bool quiet) {
  if (!t.open && !t.open_img) {
    if (!quiet)
      KLV_LOG(KLV_LOG_ERROR, "open image \"%s\": no %s reader is built (type %d)", path, t.name,
              t.code);
    return nullptr;
  }
  image_info local;
  if (info)
    local = *info;
  else
    init_image_info(&local);
  if (t.open_img) {
    IMG_file* own = t.open_img(path, volume, mode, &local);
    if (own && info) *info = own->info;
    return own;
  }
  auto* img = static_cast<IMG_file*>(std::calloc(1, sizeof(IMG_file)));
  if (!img) {
    KLV_LOG(KLV_LOG_ERROR, "open image \"%s\": out of memory", path);
    return nullptr;
  }
  img->mode = mode[0];
  img->type = t.code;
  img->info = local;
  void* handle = t.open(path, volume, mode, &img->info);
  if (!handle) {
    img_close(img);
    return nullptr;
  }
  img->handle = handle;
  if (t.code == KLV_TYPE_PROC_INFO && img->info.format_words[2]) {
    // The processed-image reader reports the "ImgInfo" form (or a volume
    // created for writing) through this word.
    img->type = KLV_TYPE_IMG_INFO;
    img->info.format_words[2] = 0;
  }
  fill_ops(img, t);
  if (info) *info = img->info;
  return img;
}

IMG_file* recognise(const char* path, SOVolume* volume, const char* mode, image_info* info,
                    int32_t type) {
  const bool reading = mode[0] == 'r';
  uint8_t head[kProbeBytes] = {};
  size_t n = 0;
  if (reading && !read_head(path, volume, head, &n)) {
    KLV_LOG(KLV_LOG_ERROR, "open image \"%s\": the file cannot be opened", path);
    return nullptr;
  }
  for (int32_t code : recognition_order(type)) {
    const MuxType* t = find_mux_type(code);
    if (!t || (!t->open && !t->open_img)) continue;
    if (reading && t->probe && !t->probe(head, n)) continue;
    if (IMG_file* img = open_typed(path, volume, mode, info, *t, true)) return img;
  }
  KLV_LOG(KLV_LOG_ERROR, "open image \"%s\": no reader accepts the file", path);
  return nullptr;
}

}  // namespace
}  // namespace klv::img

using namespace klv::img;

extern "C" {

KLV_API IMG_file* img_mux_open(const char* path, SOVolume* volume, const char* mode,
                               image_info* info, int32_t type) {
  if (!path || !mode || !*mode) return nullptr;
  try {
    const bool recognising = type == KLV_TYPE_RECOGNISE || type == KLV_TYPE_RECOGNISE_NO_PS;
    if (std::strchr(mode, 'a') || std::strchr(mode, '+') ||
        (recognising && std::strchr(mode, 'w'))) {
      KLV_LOG(KLV_LOG_ERROR, "open image \"%s\": mode \"%s\" is not allowed with type %d", path,
              mode, type);
      return nullptr;
    }
    if (mode[0] != 'r' && mode[0] != 'w') {
      KLV_LOG(KLV_LOG_ERROR, "open image \"%s\": unknown mode \"%s\"", path, mode);
      return nullptr;
    }
    if (recognising || type == KLV_TYPE_RECOGNISE_DOC)
      return recognise(path, volume, mode, info, type);
    const MuxType* t = find_mux_type(type);
    if (!t) {
      KLV_LOG(KLV_LOG_ERROR, "open image \"%s\": unknown image type %d", path, type);
      return nullptr;
    }
    return open_typed(path, volume, mode, info, *t, false);
  } catch (...) {
    KLV_LOG(KLV_LOG_ERROR, "open image \"%s\": out of memory", path);
    return nullptr;
  }
}

KLV_API int32_t img_check_valid_ex(SOVolume* volume, const char* path, int32_t type,
                                   image_info* info) {
  if (!path) return 0;
  try {
    image_info local;
    init_image_info(&local);
    IMG_file* img = img_mux_open(path, volume, "r", &local, type);
    if (!img) return 0;
    if (info) *info = local;
    int32_t result = 0;
    const int32_t last = local.height - 1;
    if (!stated_size_is_credible(path, volume, local)) {
      // Reaching the last line would mean decoding more pixels than the data
      // can describe.
    } else if (local.planar & KLV_PLANAR_TILED) {
      // A tiled stream has no line operations: its last tile stands for the
      // last line.
      const int32_t tiles = static_cast<int32_t>(local.tile_words[KLV_TILE_PER_PLANE]);
      const size_t bytes = tile_bytes(local);
      if (tiles > 0 && bytes > 0 && bytes < (1u << 30)) {
        std::vector<uint8_t> tile(bytes);
        if (img_seek_tile(img, tiles - 1, 0, 0, 0) == tiles - 1 &&
            img_read_tile(img, tile.data(), 1) == 1)
          result = img->type;
      }
    } else if (local.height > 0 && local.bytes_per_line > 0 && local.bytes_per_line < (1u << 30)) {
      std::vector<uint8_t> line(local.bytes_per_line);
      if (img_seek_line(img, last, 0, 0, 0) == last && img_read_line(img, line.data(), 1) == 1)
        result = img->type;
    }
    img_close(img);
    return result;
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t img_check_valid(SOVolume* volume, const char* path, int32_t type) {
  return img_check_valid_ex(volume, path, type, nullptr);
}

KLV_API int32_t img_check_novol(SOVolume* volume, const char* path) {
  if (!path) return 0;
  SFilemux* s = Ovfopen(volume, path, "rb");
  if (!s) return 0;
  uint8_t head[4] = {};
  const size_t n = Oread(s, head, sizeof head);
  const bool host = KLV_IS_HOST_VOLUME(volume) && !Ovolume(s);
  Oclose(s);
  if (!host) return 0;
  if (n >= 4 && std::memcmp(head, "msid", 4) == 0) return KLV_TYPE_MRSID;
  if (n >= 2 && head[0] == 'e' && (head[1] == 1 || head[1] == 2)) return KLV_TYPE_ECW;
  return 0;
}

}  // extern "C"
