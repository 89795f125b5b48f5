// SPDX-License-Identifier: MIT
// filter_attach: builds a line filter's plan in named stages (descriptions,
// working parameters, palettes, conversion, transform, geometry), then starts
// its run (line buffers) and fills in the descriptions the caller sees.
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

void build_palette(FilterPlan& p, const image_cmap* map) {
  p.pal_channels = std::min<uint32_t>(map->channels, 4);
  for (uint32_t i = 0; i < 256; ++i)
    for (uint32_t c = 0; c < p.pal_channels; ++c)
      p.pal[i * 4 + c] = (i < map->entries && map->channel[c]) ? map->channel[c][i] : 0;
}

// Reading with `smooth`: resample in front to the full size of the request,
// so that a crop keeps the source's detail. False when the resampler cannot
// be made (it has consumed the source then).
bool put_resampler_in_front(const filter_info& opt, IMG_file*& source, const image_info& target) {
  image_info probe = source->info;
  crop_info crop = target.crop;
  if (check_null_crop(&crop)) init_crop_info(&crop);
  fill_abs_crop(&crop, &crop, &probe);
  SizePlan plan;
  if (!plan_size(probe.width, probe.height, &crop, target.width, target.height, true, opt.stretch,
                 &plan) ||
      (plan.full_w == probe.width && plan.full_h == probe.height))
    return true;
  IMG_file* scaled = scaleimg_create(source, plan.full_w, plan.full_h, 1);
  source = scaled;
  return scaled != nullptr;
}

// The filter works on pixel-interleaved lines only.
bool check_layout(const IMG_file& source) {
  if ((source.info.planar & 7) == KLV_PLANAR_PIXEL && !(source.info.planar & KLV_PLANAR_TILED))
    return true;
  KLV_LOG(KLV_LOG_ERROR, "line filter: the source is not pixel-interleaved (layout %u)",
          source.info.planar);
  return false;
}

// The description of what the caller asked for: the target (or, reading
// without one, the source's own form), with depth and samples filled in from
// the source and the size worked out from a resolution and a size in inches.
void complete_target(image_info& tgt, const image_info& src) {
  if (!tgt.bits_per_sample) tgt.bits_per_sample = src.bits_per_sample;
  if (!tgt.samples) tgt.samples = src.samples;
  if (tgt.xres > 0 && tgt.yres == 0) tgt.yres = tgt.xres;
  if (tgt.xres > 0 && (tgt.width_inches != 0 || tgt.height_inches != 0)) {
    tgt.width = static_cast<int32_t>(tgt.xres * tgt.width_inches + 0.5);
    tgt.height = static_cast<int32_t>(tgt.yres * tgt.height_inches + 0.5);
  }
  if (check_null_crop(&tgt.crop)) init_crop_info(&tgt.crop);
}

// The plan's input and output descriptions, owned copies with owned maps:
// reading, the source goes in and the target comes out; writing, the other
// way round. `crop` receives the crop in fractions of the input.
bool take_descriptions(FilterPlan& p, IMG_file& source, const image_info* target, bool reading,
                       crop_info* crop) {
  image_info src = source.info;
  src.cmap = nullptr;
  if (source.info.cmap) {
    src.cmap = copy_cmap(source.info.cmap);
  } else if (src.photometric == KLV_PHOTO_PALETTE && reading) {
    src.cmap = img_get_cmap(&source);
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
  complete_target(tgt, src);
  if (reading) {
    p.in = src;
    p.out = tgt;
    fill_abs_crop(crop, &tgt.crop, &src);
  } else {
    p.in = tgt;
    p.out = src;
    init_crop_info(crop);
    p.out.crop = *crop;
  }
  return true;
}

// One description's limits: the filter refuses what it cannot convert.
bool check_description(const image_info& d) {
  if (d.spot_samples > d.samples) {
    KLV_LOG(KLV_LOG_ERROR, "line filter: %u spot samples of %u samples", d.spot_samples, d.samples);
    return false;
  }
  if (d.photometric == KLV_PHOTO_PALETTE && (d.spot_samples || d.bits_per_sample > 8)) {
    KLV_LOG(KLV_LOG_ERROR, "line filter: palette data with spot samples or %u bits",
            d.bits_per_sample);
    return false;
  }
  if (d.mask_samples > 4) {
    KLV_LOG(KLV_LOG_ERROR, "line filter: %u mask samples (at most 4)", d.mask_samples);
    return false;
  }
  if (!depth_ok(d.bits_per_sample)) {
    KLV_LOG(KLV_LOG_ERROR, "line filter: %u bits per sample", d.bits_per_sample);
    return false;
  }
  if (d.samples - d.spot_samples > 12 || d.samples + d.mask_samples > 16) {
    KLV_LOG(KLV_LOG_ERROR, "line filter: %u samples are too many", d.samples);
    return false;
  }
  return true;
}

bool check_descriptions(const FilterPlan& p) {
  if (!p.in.bits_per_sample || !p.in.samples || !p.out.bits_per_sample || !p.out.samples) {
    KLV_LOG(KLV_LOG_ERROR, "line filter: a description lacks depth or sample counts");
    return false;
  }
  if (!check_description(p.in) || !check_description(p.out)) return false;
  if (p.in.photometric == KLV_PHOTO_PALETTE && !p.in.cmap) {
    KLV_LOG(KLV_LOG_ERROR, "line filter: palette image without a colour map");
    return false;
  }
  return true;
}

// Palettes: indices pass through between equal maps; otherwise a palette
// input is expanded to its map's colours and a palette output is quantised
// from 8-bit RGB.
bool plan_palettes(FilterPlan& p) {
  const image_info& in = p.in;
  const image_info& out = p.out;
  if (in.photometric == KLV_PHOTO_PALETTE) {
    if (out.photometric == KLV_PHOTO_PALETTE && cmap_equal(in.cmap, out.cmap) && !p.opt.transform) {
      p.pass_palette = true;
    } else {
      p.expand_palette = true;
      build_palette(p, in.cmap);
      p.wi.colors = p.wi.samples = p.pal_channels;
      p.wi.total = p.pal_channels + p.wi.masks;
      p.wi.bits = 8;
      p.wi.photo = in.cmap->photometric;
    }
  }
  if (out.photometric == KLV_PHOTO_PALETTE && !p.pass_palette) {
    if (!out.cmap || out.cmap->channels != 3 || out.cmap->photometric != 1) {
      KLV_LOG(KLV_LOG_ERROR, "line filter: a palette output needs a 3-channel RGB map");
      return false;
    }
    p.quantize = true;
    p.wo.colors = p.wo.samples = 3;
    p.wo.total = 3 + p.wo.masks;
    p.wo.bits = 8;
    p.wo.photo = 1;
    if (p.wo.masks) {
      KLV_LOG(KLV_LOG_ERROR, "line filter: a palette output cannot carry mask samples");
      return false;
    }
    if (!p.quant.build(out.cmap, p.opt.cube_size, p.opt.dither, out.bits_per_sample)) return false;
  }
  if (p.pass_palette) p.wi.photo = p.wo.photo = 1;  // indices travel untouched
  return true;
}

// Low-bit input that changes form is widened to 8 bits through a map, which
// also inverts it when the two sides disagree on ink and light.
void plan_low_bits(FilterPlan& p) {
  if (p.expand_palette || p.pass_palette || p.wi.bits >= 8) return;
  if (!p.opt.transform && p.wi.colors == p.wo.colors && p.wi.samples == p.wo.samples &&
      p.wi.bits == p.wo.bits)
    return;
  p.lowbit = true;
  const uint32_t levels = 1u << p.wi.bits;
  const bool flip = (p.wi.photo == 0) != (p.wo.photo == 0) && p.wo.photo <= 1 && p.wi.photo <= 1;
  for (uint32_t i = 0; i < levels; ++i) {
    const uint32_t v = i * 255 / (levels - 1);
    p.lowmap[i] = static_cast<uint8_t>(flip ? 255 - v : v);
  }
  p.wi.bits = 8;
  p.wi.photo = p.wo.photo == KLV_PHOTO_PALETTE ? 1 : p.wo.photo;
}

// The depth mode, whether pixels are converted at all, the bits the converter
// works in, and the converter with its tables.
bool plan_conversion(filter_rec& f) {
  const bool xf = f.opt.transform != nullptr;
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
  return true;
}

// Hands the colour transform its set-up record and keeps the state it gives.
bool set_up_transform(FilterPlan& p) {
  filter_xform_setup s{};
  s.arg = p.opt.transform_arg;
  s.in_bits = s.out_bits = (p.depth_mode == 1 || p.depth_mode == 3) ? 16 : 8;
  if (p.dom == 16) s.in_bits = s.out_bits = 16;
  s.in_photometric = p.lab ? 3 : 1;
  s.in_hifi_mode = p.wi.hifi;
  s.out_hifi_mode = p.wo.hifi;
  s.in_samples = p.wi.samples, s.in_spot_samples = p.wi.spots, s.in_mask_samples = p.wi.masks;
  s.out_samples = p.wo.samples, s.out_spot_samples = p.wo.spots, s.out_mask_samples = p.wo.masks;
  p.xstate = p.opt.transform->setup ? p.opt.transform->setup(p.opt.transform->self, &s) : nullptr;
  if (!p.xstate || !p.opt.transform->apply) {
    KLV_LOG(KLV_LOG_ERROR, "line filter: the colour transform refused its set-up");
    return false;
  }
  return true;
}

// Output size, crop window and the replication tables of both axes.
bool plan_geometry(FilterPlan& p, crop_info* crop, bool reading) {
  SizePlan& g = p.size;
  const uint32_t iw = static_cast<uint32_t>(p.in.width), ih = static_cast<uint32_t>(p.in.height);
  if (!plan_size(iw, ih, crop, p.out.width, p.out.height, reading, p.opt.stretch, &g)) return false;
  if (!build_axis(std::max<uint32_t>(g.crop_w, iw), g.full_w, g.window.x1, g.out_w, &p.hx) ||
      !build_axis(std::max<uint32_t>(g.crop_h, ih), g.full_h, g.window.y1, g.out_h, &p.vy)) {
    KLV_LOG(KLV_LOG_ERROR, "line filter: the crop leaves an empty input range");
    return false;
  }
  p.win_pixels = static_cast<int32_t>(p.hx.counts.size());
  p.copy_raw = !p.convert && !p.hx.scaled;
  const uint64_t out_px = uint64_t(p.wo.total) * (p.work_bits == 16 ? 2 : 1);
  p.work_line_bytes = static_cast<uint32_t>(uint64_t(g.out_w) * out_px);
  return true;
}

// Starts a run over the plan: the line buffers, sums and transform scratch,
// sized from the plan. False for lines too long to hold.
bool start_run(const FilterPlan& p, FilterRun& r) {
  const uint64_t in_bpl = image_info_line_bytes(&p.in);
  const uint64_t in_px = uint64_t(p.wi.total) * (p.dom_in == 16 ? 2 : 1);
  const uint64_t out_px = uint64_t(p.wo.total) * (p.work_bits == 16 ? 2 : 1);
  const uint64_t wide = std::max<uint64_t>(p.size.out_w, p.win_pixels);
  if (in_bpl == 0 || wide * std::max(in_px, out_px) > (uint64_t{1} << 31)) {
    KLV_LOG(KLV_LOG_ERROR, "line filter: lines of %llu pixels are too long",
            static_cast<unsigned long long>(wide));
    return false;
  }
  r.raw.assign(in_bpl + 8, 0);
  r.unpacked.assign(uint64_t(p.win_pixels) * in_px + 8, 0);
  r.picked.assign(wide * in_px + 8, 0);
  r.conv_buf.assign(wide * out_px + 8, 0);
  r.work.assign(p.work_line_bytes + 8, 0);
  r.held.assign(p.work_line_bytes + 8, 0);
  r.next_held.assign(p.work_line_bytes + 8, 0);
  if (p.opt.average) {
    if (p.work_bits == 8 && p.vy.max_group <= 257)
      r.sums16.assign(uint64_t(p.size.out_w) * p.wo.total, 0);
    else
      r.sums.assign(uint64_t(p.size.out_w) * p.wo.total, 0);
  }
  if (p.opt.transform) {
    r.xin.assign(wide * p.wi.samples * 2 + 8, 0);
    r.xout.assign(wide * p.wo.samples * 2 + 8, 0);
  }
  return true;
}

// Reading: the output description (and the caller's target) take the size,
// line length, pages and resolution of what the filter delivers.
void finish_reading_descriptions(FilterPlan& p, const image_info& source, image_info* target) {
  image_info& in = p.in;
  image_info& out = p.out;
  const SizePlan& g = p.size;
  out.width = g.out_w;
  out.height = g.out_h;
  out.bytes_per_line = static_cast<uint32_t>(
      (uint64_t(out.mask_samples + out.samples) * out.bits_per_sample * out.width + 7) / 8);
  out.pages = in.pages ? in.pages : 1;
  out.compression = source.compression;
  out.format_word3 = source.format_word3;
  out.planar = KLV_PLANAR_PIXEL;
  out.xres = in.xres * g.out_w / g.crop_w;
  out.yres = in.yres * g.out_h / g.crop_h;
  if (!target) return;
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

// Writing: the caller's description takes the line length of what it writes.
void finish_writing_descriptions(FilterPlan& p, image_info* target) {
  image_info& in = p.in;
  in.bytes_per_line = static_cast<uint32_t>(
      (uint64_t(in.mask_samples + in.samples) * in.bits_per_sample * in.width + 7) / 8);
  in.planar = KLV_PLANAR_PIXEL;
  target->bytes_per_line = in.bytes_per_line;
  if (!p.out.pages) p.out.pages = 1;
}

// The stages of attach, in order: what enters and leaves, the working
// parameters and conversion, the geometry, then the run's buffers. The
// source stays with the record from the moment it is known, so a failure at
// any stage closes it with the record.
bool attach(filter_rec& f, IMG_file*& source, image_info* target) {
  const bool reading = f.mode == 'r';
  if (reading && target && f.opt.smooth && !put_resampler_in_front(f.opt, source, *target))
    return false;
  f.src = source;
  crop_info crop;
  if (!check_layout(*source) || !take_descriptions(f, *source, target, reading, &crop) ||
      !check_descriptions(f))
    return false;
  f.spots.assign(f.opt.spot_colors, f.opt.spot_colors + (f.opt.spot_colors ? f.opt.spot_count : 0));
  f.wi = side_of(f.in);
  f.wo = side_of(f.out);
  f.raw_bits = f.in.bits_per_sample;
  f.raw_total = f.in.samples + f.in.mask_samples;
  if (!plan_palettes(f)) return false;
  plan_low_bits(f);
  // Spot colour definitions become light values of the output's colour samples.
  if (!f.spots.empty() && !convert_spot_colors(f)) return false;
  if (!plan_conversion(f)) return false;
  if (f.opt.transform && !set_up_transform(f)) return false;
  if (!plan_geometry(f, &crop, reading) || !start_run(f, f)) return false;
  if (reading) {
    finish_reading_descriptions(f, source->info, target);
    // Two output lines of the filter's own for filter_read_to_img.
    if (f.opt.double_buffer)
      for (auto& b : f.dbuf) b.assign(f.out.bytes_per_line + 8, 0);
  } else {
    finish_writing_descriptions(f, target);
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
