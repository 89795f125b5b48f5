// SPDX-License-Identifier: MIT
// filter_attach: works out the input and output descriptions, the working
// parameters, the geometry and the tables of a line filter.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "img/filter_internal.h"
#include "klv/log.h"
#include "klv/tilefilter.h"

using klv::img::FilterSide;

filter_rec::~filter_rec() {
  if (xstate && opt.transform && opt.transform->release) opt.transform->release(xstate);
  if (in.cmap) free_cmap(in.cmap);
  if (out.cmap) free_cmap(out.cmap);
  if (src && !detached) img_close(src);
}

namespace klv::img {

namespace {

FilterSide side_of(const image_info& i) {
  FilterSide s;
  s.bits = i.bits_per_sample;
  s.samples = i.samples;
  s.spots = i.spot_samples;
  s.colors = i.samples - i.spot_samples;
  s.masks = i.mask_samples;
  s.total = i.samples + i.mask_samples;
  s.photo = i.photometric;
  s.hifi = i.hifi_mode;
  return s;
}

bool depth_ok(uint32_t bits) {
  return (bits >= 1 && bits <= 8) || bits == 16;
}

void build_palette(filter_rec& f, const image_cmap* map) {
  f.pal_channels = std::min<uint32_t>(map->channels, 4);
  for (uint32_t i = 0; i < 256; ++i)
    for (uint32_t c = 0; c < f.pal_channels; ++c)
      f.pal[i * 4 + c] = (i < map->entries && map->channel[c]) ? map->channel[c][i] : 0;
}

bool attach(filter_rec& f, IMG_file*& source, image_info* target) {
  const bool reading = f.mode == 'r';
  if (reading && target && f.opt.smooth) {
    // Resample in front to the full size of the request, so that a crop keeps
    // the source's detail.
    image_info probe = source->info;
    crop_info crop = target->crop;
    if (check_null_crop(&crop)) init_crop_info(&crop);
    fill_abs_crop(&crop, &crop, &probe);
    SizePlan plan;
    if (plan_size(probe.width, probe.height, &crop, target->width, target->height, true,
                  f.opt.stretch, &plan) &&
        (plan.full_w != probe.width || plan.full_h != probe.height)) {
      IMG_file* scaled = scaleimg_create(source, plan.full_w, plan.full_h, 1);
      if (!scaled) {
        source = nullptr;
        return false;
      }
      source = scaled;
    }
  }
  f.src = source;
  if ((source->info.planar & 7) != KLV_PLANAR_PIXEL || (source->info.planar & KLV_PLANAR_TILED)) {
    KLV_LOG(KLV_LOG_ERROR, "line filter: the source is not pixel-interleaved (layout %u)",
            source->info.planar);
    return false;
  }
  image_info src = source->info;
  src.cmap = nullptr;
  if (source->info.cmap) {
    src.cmap = copy_cmap(source->info.cmap);
  } else if (src.photometric == KLV_PHOTO_PALETTE && reading) {
    src.cmap = img_get_cmap(source);
  }
  image_info tgt;
  if (target) {
    tgt = *target;
    tgt.cmap = target->cmap ? copy_cmap(target->cmap) : nullptr;
  } else if (reading) {
    tgt = src;
    tgt.cmap = src.cmap ? copy_cmap(src.cmap) : nullptr;
  } else {
    if (src.cmap) free_cmap(src.cmap);
    KLV_LOG(KLV_LOG_ERROR, "line filter: writing needs a target description");
    return false;
  }
  if (!tgt.bits_per_sample) tgt.bits_per_sample = src.bits_per_sample;
  if (!tgt.samples) tgt.samples = src.samples;
  if (tgt.xres > 0 && tgt.yres == 0) tgt.yres = tgt.xres;
  if (tgt.xres > 0 && (tgt.width_inches != 0 || tgt.height_inches != 0)) {
    tgt.width = static_cast<int32_t>(tgt.xres * tgt.width_inches + 0.5);
    tgt.height = static_cast<int32_t>(tgt.yres * tgt.height_inches + 0.5);
  }
  if (check_null_crop(&tgt.crop)) init_crop_info(&tgt.crop);
  crop_info crop;
  if (reading) {
    f.in = src;
    f.out = tgt;
    fill_abs_crop(&crop, &tgt.crop, &src);
  } else {
    f.in = tgt;
    f.out = src;
    init_crop_info(&crop);
    f.out.crop = crop;
  }
  image_info& in = f.in;
  image_info& out = f.out;
  if (!in.bits_per_sample || !in.samples || !out.bits_per_sample || !out.samples) {
    KLV_LOG(KLV_LOG_ERROR, "line filter: a description lacks depth or sample counts");
    return false;
  }
  for (const image_info* d : {&in, &out}) {
    if (d->spot_samples > d->samples) {
      KLV_LOG(KLV_LOG_ERROR, "line filter: %u spot samples of %u samples", d->spot_samples,
              d->samples);
      return false;
    }
    if (d->photometric == KLV_PHOTO_PALETTE && (d->spot_samples || d->bits_per_sample > 8)) {
      KLV_LOG(KLV_LOG_ERROR, "line filter: palette data with spot samples or %u bits",
              d->bits_per_sample);
      return false;
    }
    if (d->mask_samples > 4) {
      KLV_LOG(KLV_LOG_ERROR, "line filter: %u mask samples (at most 4)", d->mask_samples);
      return false;
    }
    if (!depth_ok(d->bits_per_sample)) {
      KLV_LOG(KLV_LOG_ERROR, "line filter: %u bits per sample", d->bits_per_sample);
      return false;
    }
    if (d->samples - d->spot_samples > 12 || d->samples + d->mask_samples > 16) {
      KLV_LOG(KLV_LOG_ERROR, "line filter: %u samples are too many", d->samples);
      return false;
    }
  }
  if (in.photometric == KLV_PHOTO_PALETTE && !in.cmap) {
    KLV_LOG(KLV_LOG_ERROR, "line filter: palette image without a colour map");
    return false;
  }
  f.spots.assign(f.opt.spot_colors, f.opt.spot_colors + (f.opt.spot_colors ? f.opt.spot_count : 0));

  f.wi = side_of(in);
  f.wo = side_of(out);
  f.raw_bits = in.bits_per_sample;
  f.raw_total = in.samples + in.mask_samples;
  const bool xf = f.opt.transform != nullptr;
  if (in.photometric == KLV_PHOTO_PALETTE) {
    if (out.photometric == KLV_PHOTO_PALETTE && cmap_equal(in.cmap, out.cmap) && !xf) {
      f.pass_palette = true;
    } else {
      f.expand_palette = true;
      build_palette(f, in.cmap);
      f.wi.colors = f.wi.samples = f.pal_channels;
      f.wi.total = f.pal_channels + f.wi.masks;
      f.wi.bits = 8;
      f.wi.photo = in.cmap->photometric;
    }
  }
  if (out.photometric == KLV_PHOTO_PALETTE && !f.pass_palette) {
    if (!out.cmap || out.cmap->channels != 3 || out.cmap->photometric != 1) {
      KLV_LOG(KLV_LOG_ERROR, "line filter: a palette output needs a 3-channel RGB map");
      return false;
    }
    f.quantize = true;
    f.wo.colors = f.wo.samples = 3;
    f.wo.total = 3 + f.wo.masks;
    f.wo.bits = 8;
    f.wo.photo = 1;
    if (f.wo.masks) {
      KLV_LOG(KLV_LOG_ERROR, "line filter: a palette output cannot carry mask samples");
      return false;
    }
    if (!f.quant.build(out.cmap, f.opt.cube_size, f.opt.dither, out.bits_per_sample)) return false;
  }
  if (f.pass_palette) {
    f.wi.photo = f.wo.photo = 1;  // indices travel untouched
  }
  if (!f.expand_palette && !f.pass_palette && f.wi.bits < 8 &&
      (xf || f.wi.colors != f.wo.colors || f.wi.samples != f.wo.samples ||
       f.wi.bits != f.wo.bits)) {
    f.lowbit = true;
    uint32_t levels = 1u << f.wi.bits;
    bool flip = (f.wi.photo == 0) != (f.wo.photo == 0) && f.wo.photo <= 1 && f.wi.photo <= 1;
    for (uint32_t i = 0; i < levels; ++i) {
      uint32_t v = i * 255 / (levels - 1);
      f.lowmap[i] = static_cast<uint8_t>(flip ? 255 - v : v);
    }
    f.wi.bits = 8;
    f.wi.photo = f.wo.photo == KLV_PHOTO_PALETTE ? 1 : f.wo.photo;
  }
  // Spot colour definitions become light values of the output's colour samples.
  if (!f.spots.empty() && !convert_spot_colors(f)) return false;
  f.depth_mode = (f.wi.bits == 16 ? 2 : 0) + (f.wo.bits == 16 ? 1 : 0);
  f.lab = f.wi.photo == KLV_PHOTO_CIELAB;
  f.convert = f.wi.photo != f.wo.photo || f.wi.samples != f.wo.samples ||
              f.wi.spots != f.wo.spots || f.wi.total != f.wo.total || f.wi.bits != f.wo.bits ||
              xf || f.lab || f.expand_palette || f.opt.flags[1] || f.wi.hifi != f.wo.hifi ||
              f.lowbit || (f.wo.masks && f.opt.mask_opaque);
  if (f.pass_palette) f.convert = f.wi.bits != f.wo.bits;
  if (f.pass_palette && f.convert) {
    KLV_LOG(KLV_LOG_ERROR, "line filter: palette indices cannot change depth");
    return false;
  }
  f.dom_in = f.wi.bits;
  f.dom = f.depth_mode == 0 ? f.wi.bits : 16;
  f.work_bits =
      f.wo.bits == 16 ? 16 : (f.convert ? (f.dom == 16 ? 8 : std::min(8u, f.dom)) : f.wi.bits);
  if (f.convert && f.dom < 8 && f.wo.bits != f.dom) f.work_bits = f.dom;
  if (f.convert && !setup_conversion(f)) {
    KLV_LOG(KLV_LOG_ERROR, "line filter: no conversion for these descriptions");
    return false;
  }
  if (xf) {
    filter_xform_setup s{};
    s.arg = f.opt.transform_arg;
    s.in_bits = s.out_bits = (f.depth_mode == 1 || f.depth_mode == 3) ? 16 : 8;
    if (f.dom == 16) s.in_bits = s.out_bits = 16;
    s.in_photometric = f.lab ? 3 : 1;
    s.in_hifi_mode = f.wi.hifi;
    s.out_hifi_mode = f.wo.hifi;
    s.in_samples = f.wi.samples, s.in_spot_samples = f.wi.spots, s.in_mask_samples = f.wi.masks;
    s.out_samples = f.wo.samples, s.out_spot_samples = f.wo.spots, s.out_mask_samples = f.wo.masks;
    f.xstate = f.opt.transform->setup ? f.opt.transform->setup(f.opt.transform->self, &s) : nullptr;
    if (!f.xstate || !f.opt.transform->apply) {
      KLV_LOG(KLV_LOG_ERROR, "line filter: the colour transform refused its set-up");
      return false;
    }
  }

  // Geometry.
  SizePlan& p = f.size;
  if (!plan_size(static_cast<uint32_t>(in.width), static_cast<uint32_t>(in.height), &crop,
                 reading ? out.width : out.width, reading ? out.height : out.height, reading,
                 f.opt.stretch, &p))
    return false;
  uint32_t iw = static_cast<uint32_t>(in.width), ih = static_cast<uint32_t>(in.height);
  if (!build_axis(std::max<uint32_t>(p.crop_w, iw), p.full_w, p.window.x1, p.out_w, &f.hx) ||
      !build_axis(std::max<uint32_t>(p.crop_h, ih), p.full_h, p.window.y1, p.out_h, &f.vy)) {
    KLV_LOG(KLV_LOG_ERROR, "line filter: the crop leaves an empty input range");
    return false;
  }
  f.win_pixels = static_cast<int32_t>(f.hx.counts.size());
  f.copy_raw = !f.convert && !f.hx.scaled;

  // Buffers.
  const uint64_t in_bpl = image_info_line_bytes(&in);
  const uint64_t in_px = uint64_t(f.wi.total) * (f.dom_in == 16 ? 2 : 1);
  const uint64_t out_px = uint64_t(f.wo.total) * (f.work_bits == 16 ? 2 : 1);
  const uint64_t wide = std::max<uint64_t>(p.out_w, f.win_pixels);
  if (in_bpl == 0 || wide * std::max(in_px, out_px) > (uint64_t{1} << 31)) {
    KLV_LOG(KLV_LOG_ERROR, "line filter: lines of %llu pixels are too long",
            static_cast<unsigned long long>(wide));
    return false;
  }
  f.raw.assign(in_bpl + 8, 0);
  f.unpacked.assign(uint64_t(f.win_pixels) * in_px + 8, 0);
  f.picked.assign(wide * in_px + 8, 0);
  f.conv_buf.assign(wide * out_px + 8, 0);
  f.work_line_bytes = static_cast<uint32_t>(uint64_t(p.out_w) * out_px);
  f.work.assign(f.work_line_bytes + 8, 0);
  f.held.assign(f.work_line_bytes + 8, 0);
  f.next_held.assign(f.work_line_bytes + 8, 0);
  if (f.opt.average) {
    if (f.work_bits == 8 && f.vy.max_group <= 257)
      f.sums16.assign(uint64_t(p.out_w) * f.wo.total, 0);
    else
      f.sums.assign(uint64_t(p.out_w) * f.wo.total, 0);
  }
  if (xf) {
    f.xin.assign(wide * f.wi.samples * 2 + 8, 0);
    f.xout.assign(wide * f.wo.samples * 2 + 8, 0);
  }

  // Final descriptions.
  if (reading) {
    out.width = p.out_w;
    out.height = p.out_h;
    out.bytes_per_line = static_cast<uint32_t>(
        (uint64_t(out.mask_samples + out.samples) * out.bits_per_sample * out.width + 7) / 8);
    out.pages = in.pages ? in.pages : 1;
    out.compression = src.compression;
    out.format_word3 = src.format_word3;
    out.planar = KLV_PLANAR_PIXEL;
    out.xres = in.xres * p.out_w / p.crop_w;
    out.yres = in.yres * p.out_h / p.crop_h;
    if (target) {
      target->width = out.width;
      target->height = out.height;
      target->bytes_per_line = out.bytes_per_line;
      target->pages = out.pages;
      target->compression = out.compression;
      target->format_word3 = out.format_word3;
      double tx = target->xres, ty = target->yres ? target->yres : target->xres;
      if (tx > 0) target->width_inches = target->width / tx;
      if (ty > 0) target->height_inches = target->height / ty;
      if (!target->bits_per_sample) target->bits_per_sample = out.bits_per_sample;
      if (!target->samples) target->samples = out.samples;
    }
    // Two output lines of the filter's own for filter_read_to_img.
    if (f.opt.double_buffer)
      for (auto& b : f.dbuf) b.assign(out.bytes_per_line + 8, 0);
  } else {
    in.width = static_cast<int32_t>(iw);
    in.bytes_per_line = static_cast<uint32_t>(
        (uint64_t(in.mask_samples + in.samples) * in.bits_per_sample * in.width + 7) / 8);
    in.planar = KLV_PLANAR_PIXEL;
    target->bytes_per_line = in.bytes_per_line;
    if (!out.pages) out.pages = 1;
  }
  return true;
}

}  // namespace

}  // namespace klv::img

extern "C" KLV_API filter_rec* filter_attach(IMG_file* source, image_info* target,
                                             const filter_info* options) {
  if (!source) return nullptr;
  if (source->info.planar & KLV_PLANAR_TILED) {
    source = tilefilter_attachtiledimg(source, 0);
    if (!source) return nullptr;
  }
  std::unique_ptr<filter_rec> f;
  try {
    f = std::make_unique<filter_rec>();
  } catch (...) {
    img_close(source);
    return nullptr;
  }
  f->mode = source->mode == 'w' ? 'w' : 'r';
  if (options) f->opt = *options;
  try {
    IMG_file* s = source;
    bool ok = klv::img::attach(*f, s, target);
    if (!f->src && s) f->src = s;
    if (!ok) return nullptr;  // the record closes the source
  } catch (...) {
    KLV_LOG(KLV_LOG_ERROR, "line filter: out of memory");
    return nullptr;
  }
  if (filter_seek_line(f.get(), 0, 0, 0, 0) < 0) {
    KLV_LOG(KLV_LOG_ERROR, "line filter: the first seek failed");
    return nullptr;
  }
  return f.release();
}
