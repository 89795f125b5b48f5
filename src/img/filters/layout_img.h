// SPDX-License-Identifier: MIT
// The stream handle of a channel layout filter: a zero-filled IMG_file with
// the filter's description and the operations the filter has.
#pragma once

#include <cstdlib>

#include "klv/img.h"

namespace klv::img {

struct LayoutOps {
  img_close_fn close;
  img_read_fn read;
  img_write_fn write;  // null for filters that only read
  img_seek_fn seek;
};

// Null when memory is short (the caller then closes the filter).
inline IMG_file* layout_img(void* handle, const IMG_file& source, const image_info& info,
                            const LayoutOps& ops) {
  auto* img = static_cast<IMG_file*>(std::calloc(1, sizeof(IMG_file)));
  if (!img) return nullptr;
  img->handle = handle;
  img->type = source.type;
  img->mode = source.mode;
  img->info = info;
  img->info.cmap = nullptr;
  img->close = ops.close;
  img->read_line = ops.read;
  img->write_line = ops.write;
  img->seek_line = ops.seek;
  return img;
}

}  // namespace klv::img
