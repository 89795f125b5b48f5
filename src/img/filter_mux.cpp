// SPDX-License-Identifier: MIT
// The filtered openers: open (or take) an image and stack the tile,
// contiguous-image, rotation and line filters over it so that the caller
// receives lines in the size, layout and crop it asked for.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "klv/imgmux.h"
#include "klv/log.h"
#include "klv/rotate.h"
#include "klv/streams.h"
#include "klv/tilefilter.h"

namespace klv::img {
namespace {

struct Size {
  int32_t w = 0, h = 0;
};

// The delivered size for a cropped source extent (cw x ch) and a request
// (w x h): both 0 keeps the extent; one 0 follows the aspect ratio; both
// given with stretch are taken as they are; otherwise the largest size
// within both that keeps the aspect ratio.
Size fit_size(double cw, double ch, int32_t w, int32_t h, bool stretch) {
  auto round = [](double v) { return std::max<int32_t>(1, static_cast<int32_t>(v + 0.5)); };
  if (!(cw > 0) || !(ch > 0)) return {w, h};
  if (w <= 0 && h <= 0) return {round(cw - 0.5), round(ch - 0.5)};
  if (w <= 0) return {round(h * cw / ch), h};
  if (h <= 0) return {w, round(w * ch / cw)};
  if (stretch) return {w, h};
  Size s{w, round(w * ch / cw)};
  if (s.h > h) s = {round(h * cw / ch), h};
  while (s.w > w || s.h > h) {
    s.w = std::max(1, s.w - 1);
    s.h = round(s.w * ch / cw);
    if (s.w == 1) break;
  }
  return s;
}

// Where a kind-0 crop lands when the image is turned and mirrored as the
// rotation byte says.
void turn_crop(crop_info* c, uint32_t rotation) {
  auto map = [&](double u, double v, double* x, double* y) {
    const bool mirror = rotation & 4;
    switch (rotation & 3) {
      case 0:
        *x = mirror ? 1 - u : u, *y = v;
        break;
      case 1:
        *x = 1 - v, *y = mirror ? 1 - u : u;
        break;
      case 2:
        *x = mirror ? u : 1 - u, *y = 1 - v;
        break;
      default:
        *x = v, *y = mirror ? u : 1 - u;
        break;
    }
  };
  double ax, ay, bx, by;
  map(c->x1, c->y1, &ax, &ay);
  map(c->x2, c->y2, &bx, &by);
  c->x1 = std::min(ax, bx);
  c->x2 = std::max(ax, bx);
  c->y1 = std::min(ay, by);
  c->y2 = std::max(ay, by);
}

IMG_file* apply_rotation(IMG_file* img, uint32_t rotation) {
  rotate_request req{};
  req.turns = static_cast<uint8_t>(rotation & 3);
  req.mirror = (rotation & 4) ? 1 : 0;
  return rotate_to_file(rotate_attach(img, &req));
}

IMG_file* call_hook(IMG_file* img, const filter_info& opt, uint32_t stage, image_info* info) {
  if (!opt.hook || opt.hook_stage != stage) return img;
  IMG_file* out = opt.hook(img, opt.hook_arg);
  if (!out) {
    KLV_LOG(KLV_LOG_ERROR, "filtered open: the stage %u hook refused the stream", stage);
    return nullptr;
  }
  if (info) *info = out->info;
  return out;
}

bool has_planes(const image_info& i) {
  const uint32_t layout = i.planar & 7;
  return (layout == KLV_PLANAR_PLANES || layout == KLV_PLANAR_LINES) &&
         i.samples + i.mask_samples >= 2;
}

// Steps shared by every reading chain, from the palette map on: the stream
// is owned here and closed on every failure. `rotated` tells whether the
// requested rotation was applied in front of the line filter.
filter_rec* chain(IMG_file* img, image_info* info, const image_info& target_in,
                  const filter_info& opt, bool* rotated) {
  image_info target = target_in;
  target.cmap = nullptr;
  image_cmap* made_map = nullptr;
  if (target.photometric == KLV_PHOTO_PALETTE && img->info.photometric != KLV_PHOTO_PALETTE) {
    if (target_in.cmap) {
      target.cmap = target_in.cmap;
    } else {
      const uint32_t bits = std::clamp<uint32_t>(target.bits_per_sample, 1, 8);
      made_map = filter_create_cmap(1 << bits);
      if (!made_map) {
        KLV_LOG(KLV_LOG_ERROR, "filtered open: no colour map of %u entries", 1u << bits);
        img_close(img);
        return nullptr;
      }
      target.cmap = made_map;
    }
  } else {
    target.cmap = target_in.cmap;
  }
  auto fail = [&](IMG_file* open) -> filter_rec* {
    img_close(open);
    free_cmap(made_map);
    return nullptr;
  };
  if (img->mode == 'r') {
    if (img->info.planar & KLV_PLANAR_TILED) {
      img = tilefilter_attachtiledimg(img, 0);
      if (!img) return fail(nullptr);
    } else if (has_planes(img->info)) {
      contimg_filter* c = contimg_attach(img, nullptr, 0);
      if (!c) return fail(img);
      img = contimg_to_img(c);
      if (!img) return fail(nullptr);
    }
  }
  img = call_hook(img, opt, 2, info);
  if (!img) return fail(nullptr);

  crop_info crop = target.crop;
  if (check_null_crop(&crop)) init_crop_info(&crop);
  fill_abs_crop(&crop, &crop, &img->info);
  const uint32_t rotation = opt.rotation & 7;
  const int64_t src_px = int64_t(img->info.width) * img->info.height;
  *rotated = false;
  if (rotation) {
    bool here;
    const double cw = dcrop_width(&crop, img->info.width, img->info.height);
    const double ch = dcrop_height(&crop, img->info.width, img->info.height);
    if (rotation & 1) {
      const Size s = fit_size(ch, cw, target.width, target.height, opt.stretch);
      here = int64_t(s.w) * s.h >= src_px || (target.width <= 0 && target.height <= 0);
      if (!here) std::swap(target.width, target.height);
    } else {
      const Size s = fit_size(cw, ch, target.width, target.height, opt.stretch);
      here = src_px >= int64_t(s.w) * s.h;
    }
    if (here) {
      img = apply_rotation(img, rotation);
      if (!img) return fail(nullptr);
      turn_crop(&crop, rotation);
      *rotated = true;
    }
  }
  // A stream that already delivers the requested crop needs none from the filter.
  crop_rect have{}, want{};
  crop_info stream_crop = img->info.crop;
  fill_image_crop(&have, &stream_crop, target.width, target.height);
  fill_image_crop(&want, &crop, target.width, target.height);
  const bool same = std::memcmp(&have, &want, sizeof have) == 0;
  if (!same || *rotated)
    target.crop = crop;
  else
    init_crop_info(&target.crop);
  if (info) *info = img->info;
  filter_rec* f = filter_attach(img, &target, &opt);
  free_cmap(made_map);
  return f;
}

filter_rec* open_reading(const char* path, SOVolume* volume, const char* mode, image_info* info,
                         int32_t type, image_info* target, const filter_info& opt, bool* rotated) {
  if (!info || !target) {
    KLV_LOG(KLV_LOG_ERROR, "filtered open \"%s\": reading needs a description and a target", path);
    return nullptr;
  }
  info->width = target->width;
  info->height = target->height;
  info->crop = target->crop;
  info->tile_words[9] = target->tile_words[9];
  if (opt.rotation & 1) std::swap(info->width, info->height);
  IMG_file* img = img_mux_open(path, volume, mode, info, type);
  if (!img) return nullptr;
  img = call_hook(img, opt, 1, info);
  if (!img) return nullptr;
  return chain(img, info, *target, opt, rotated);
}

filter_rec* open_writing(const char* path, SOVolume* volume, const char* mode, image_info* info,
                         int32_t type, image_info* target, const filter_info& opt) {
  const image_info* given = target ? target : info;
  if (!given || given->width <= 0 || given->height <= 0) {
    KLV_LOG(KLV_LOG_ERROR, "filtered open \"%s\": writing needs a size", path);
    return nullptr;
  }
  image_info file = *given;
  image_info lines = info ? *info : *given;
  image_cmap* made_map = nullptr;
  if (file.photometric == KLV_PHOTO_PALETTE && !file.cmap &&
      lines.photometric != KLV_PHOTO_PALETTE) {
    const uint32_t bits = std::clamp<uint32_t>(file.bits_per_sample, 1, 8);
    made_map = filter_create_cmap(1 << bits);
    if (!made_map) {
      KLV_LOG(KLV_LOG_ERROR, "filtered open \"%s\": no colour map of %u entries", path, 1u << bits);
      return nullptr;
    }
    file.cmap = made_map;
  }
  if (info && target && info->width > 0 && info->height > 0) {
    const Size s = fit_size(info->width, info->height, target->width, target->height, opt.stretch);
    file.width = s.w;
    file.height = s.h;
  }
  IMG_file* img = img_mux_open(path, volume, mode, &file, type);
  filter_rec* f = img ? filter_attach(img, &lines, &opt) : nullptr;
  free_cmap(made_map);
  if (f && info) {
    const image_cmap* keep = info->cmap;
    *info = file;
    info->cmap = const_cast<image_cmap*>(keep);
  }
  return f;
}

filter_rec* mux_open(const char* path, SOVolume* volume, const char* mode, image_info* info,
                     int32_t type, image_info* target, const filter_info* options, bool* rotated) {
  *rotated = false;
  if (!path || !mode || !*mode) return nullptr;
  filter_info opt{};
  if (options) opt = *options;
  if (mode[0] == 'r') return open_reading(path, volume, mode, info, type, target, opt, rotated);
  return open_writing(path, volume, mode, info, type, target, opt);
}

IMG_file* finish(filter_rec* f, bool rotated, const filter_info* options) {
  if (!f) return nullptr;
  IMG_file* img = filter_to_img(f);
  if (img && img->mode == 'r' && options && (options->rotation & 7) && !rotated)
    img = apply_rotation(img, options->rotation & 7);
  return img;
}

}  // namespace
}  // namespace klv::img

using namespace klv::img;

extern "C" {

KLV_API filter_rec* filter_mux_open(const char* path, SOVolume* volume, const char* mode,
                                    image_info* info, int32_t type, image_info* target,
                                    const filter_info* options) {
  try {
    bool rotated = false;
    return mux_open(path, volume, mode, info, type, target, options, &rotated);
  } catch (...) {
    KLV_LOG(KLV_LOG_ERROR, "filtered open: out of memory");
    return nullptr;
  }
}

KLV_API IMG_file* filter_file_open(const char* path, SOVolume* volume, const char* mode,
                                   image_info* info, int32_t type, image_info* target,
                                   const filter_info* options) {
  try {
    bool rotated = false;
    filter_rec* f = mux_open(path, volume, mode, info, type, target, options, &rotated);
    return finish(f, rotated, options);
  } catch (...) {
    KLV_LOG(KLV_LOG_ERROR, "filtered open: out of memory");
    return nullptr;
  }
}

KLV_API IMG_file* filter_img_attach(IMG_file* img, image_info* target, const filter_info* options) {
  if (!img) return nullptr;
  if (img->mode == 'w' || !target) return img;
  try {
    filter_info opt{};
    if (options) opt = *options;
    bool rotated = false;
    filter_rec* f = chain(img, nullptr, *target, opt, &rotated);
    return finish(f, rotated, options);
  } catch (...) {
    KLV_LOG(KLV_LOG_ERROR, "filtered open: out of memory");
    return nullptr;
  }
}

}  // extern "C"
