// SPDX-License-Identifier: MIT
// The multiplexed stream: one stream written into several at once.
#include <algorithm>
#include <cstdlib>
#include <new>
#include <vector>

#include "klv/log.h"
#include "klv/streams.h"

namespace {

struct MultState {
  std::vector<IMG_file*> streams;
};

int32_t mult_write_line(void* handle, uint8_t* buffer, int32_t count) {
  auto* st = static_cast<MultState*>(handle);
  int32_t fewest = count;
  for (IMG_file* s : st->streams) fewest = std::min(fewest, img_write_line(s, buffer, count));
  return fewest;
}

int32_t mult_seek_line(void* handle, int32_t line, int32_t plane, int32_t page, int32_t whence) {
  auto* st = static_cast<MultState*>(handle);
  int32_t result = -1;
  bool refused = false;
  for (IMG_file* s : st->streams) {
    result = img_seek_line(s, line, plane, page, whence);
    if (result < 0) refused = true;
  }
  return refused ? -1 : result;
}

// Closes every stream; fails when any of them lost written data.
int32_t mult_close(void* handle) {
  auto* st = static_cast<MultState*>(handle);
  int32_t status = 0;
  for (IMG_file* s : st->streams)
    if (img_close_status(s) != 0) status = -1;
  delete st;
  return status;
}

bool agrees(const image_info& a, const image_info& b) {
  return a.width == b.width && a.height == b.height && a.pages == b.pages && a.planar == b.planar &&
         a.bits_per_sample == b.bits_per_sample && a.samples == b.samples &&
         a.photometric == b.photometric;
}

}  // namespace

extern "C" KLV_API IMG_file* mult_img_connect(IMG_file** streams) {
  if (!streams || !streams[0]) {
    KLV_LOG(KLV_LOG_ERROR, "multiplexed stream: no streams given");
    return nullptr;
  }
  const image_info& first = streams[0]->info;
  if (first.planar & KLV_PLANAR_TILED) {
    KLV_LOG(KLV_LOG_ERROR, "multiplexed stream: the first stream is tiled");
    return nullptr;
  }
  size_t n = 0;
  for (; streams[n]; ++n) {
    if (!agrees(first, streams[n]->info)) {
      KLV_LOG(KLV_LOG_ERROR,
              "multiplexed stream: stream %zu (%dx%d, %u bits, %u samples) differs from the "
              "first (%dx%d, %u bits, %u samples)",
              n, streams[n]->info.width, streams[n]->info.height, streams[n]->info.bits_per_sample,
              streams[n]->info.samples, first.width, first.height, first.bits_per_sample,
              first.samples);
      return nullptr;
    }
  }
  auto* st = new (std::nothrow) MultState;
  if (!st) return nullptr;
  try {
    st->streams.assign(streams, streams + n);
  } catch (...) {
    delete st;
    return nullptr;
  }
  auto* img = static_cast<IMG_file*>(std::calloc(1, sizeof(IMG_file)));
  if (!img) {
    delete st;
    return nullptr;
  }
  img->handle = st;
  img->type = KLV_TYPE_MULTIMG;
  img->mode = 'w';
  init_image_info(&img->info);
  image_info& info = img->info;
  info.width = first.width;
  info.height = first.height;
  info.pages = first.pages;
  info.planar = first.planar;
  info.bits_per_sample = first.bits_per_sample;
  info.samples = first.samples;
  info.spot_samples = first.spot_samples;
  info.mask_samples = first.mask_samples;
  info.photometric = first.photometric;
  info.bytes_per_line = first.bytes_per_line;
  info.xres = first.xres;
  info.yres = first.yres;
  if (info.xres > 0 && info.yres > 0) {
    info.width_inches = static_cast<uint32_t>(info.width) / info.xres;
    info.height_inches = static_cast<uint32_t>(info.height) / info.yres;
  }
  img->close = mult_close;
  img->write_line = mult_write_line;
  img->seek_line = mult_seek_line;
  return img;
}
