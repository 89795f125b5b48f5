// SPDX-License-Identifier: MIT
// The null stream: accepts any image of a valid description and discards it.
#include <cstdlib>
#include <cstring>
#include <new>

#include "klv/log.h"
#include "klv/streams.h"

namespace {

struct NullState {
  image_info info;
};

bool null_info_ok(const image_info* info) {
  if (info->width <= 0 || info->height <= 0) {
    KLV_LOG(KLV_LOG_ERROR, "null stream: size %dx%d is empty", info->width, info->height);
    return false;
  }
  if (info->bits_per_sample < 1 || info->bits_per_sample > 8) {
    KLV_LOG(KLV_LOG_ERROR, "null stream: %u bits per sample (1 to 8 allowed)",
            info->bits_per_sample);
    return false;
  }
  if (info->samples < 1 || info->samples > 12) {
    KLV_LOG(KLV_LOG_ERROR, "null stream: %u samples (1 to 12 allowed)", info->samples);
    return false;
  }
  if (info->photometric > KLV_PHOTO_CIELAB) {
    KLV_LOG(KLV_LOG_ERROR, "null stream: photometric %u unknown", info->photometric);
    return false;
  }
  if (info->photometric == KLV_PHOTO_PALETTE && (info->samples != 1 || !info->cmap)) {
    KLV_LOG(KLV_LOG_ERROR, "null stream: a palette image needs one sample and a colour map");
    return false;
  }
  if (info->planar & KLV_PLANAR_TILED) {
    KLV_LOG(KLV_LOG_ERROR, "null stream: tiled layouts are not accepted");
    return false;
  }
  return true;
}

}  // namespace

extern "C" {

KLV_API void* null_open(const char*, SOVolume*, const char* mode, image_info* info) {
  if (!mode || std::strcmp(mode, "r") == 0) {
    KLV_LOG(KLV_LOG_ERROR, "null stream: cannot be opened for reading");
    return nullptr;
  }
  if (!info) {
    KLV_LOG(KLV_LOG_ERROR, "null stream: no description given");
    return nullptr;
  }
  if (!null_info_ok(info)) return nullptr;
  info->bytes_per_line = image_info_line_bytes(info);
  init_crop_info(&info->crop);
  auto* state = new (std::nothrow) NullState{*info};
  return state;
}

KLV_API int32_t null_read_line(void*, uint8_t*, int32_t) {
  return 0;
}

KLV_API int32_t null_write_line(void*, uint8_t*, int32_t count) {
  return count;
}

KLV_API int32_t null_seek_line(void*, int32_t line, int32_t, int32_t, int32_t) {
  return line;
}

KLV_API image_cmap* null_get_cmap(void*) {
  return nullptr;
}

KLV_API int32_t null_close(void* state) {
  delete static_cast<NullState*>(state);
  return 0;
}

KLV_API IMG_file* null_open_img(const char* path, SOVolume* volume, const char* mode,
                                image_info* info) {
  image_info local;
  if (!info) return nullptr;
  local = *info;
  void* state = null_open(path, volume, mode, &local);
  if (!state) return nullptr;
  auto* img = static_cast<IMG_file*>(std::calloc(1, sizeof(IMG_file)));
  if (!img) {
    null_close(state);
    return nullptr;
  }
  *info = local;
  img->handle = state;
  img->type = KLV_TYPE_NULLIMG;
  img->mode = mode[0];
  img->info = local;
  img->close = null_close;
  img->read_line = null_read_line;
  img->write_line = null_write_line;
  img->seek_line = null_seek_line;
  img->get_cmap = null_get_cmap;
  return img;
}

}  // extern "C"
