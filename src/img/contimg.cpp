// SPDX-License-Identifier: MIT
// The contiguous-image filter: reads a planar or line-interleaved source in
// bands and delivers pixel-interleaved lines.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "img/filter_bits.h"
#include "klv/log.h"
#include "klv/streams.h"

namespace {

constexpr uint32_t kDefaultBandBytes = 8192;
constexpr uint64_t kMaxBandBytes = uint64_t{64} << 20;

// Interleaves one row: planes[p] points at plane p's row; out receives
// width pixels of `count` samples each.
using InterleaveFn = void (*)(const uint8_t* const* planes, uint32_t count, uint32_t width,
                              uint32_t bits, uint8_t* out);

void interleave8(const uint8_t* const* planes, uint32_t count, uint32_t width, uint32_t,
                 uint8_t* out) {
  for (uint32_t p = 0; p < count; ++p) {
    const uint8_t* src = planes[p];
    uint8_t* dst = out + p;
    for (uint32_t x = 0; x < width; ++x, dst += count) *dst = src[x];
  }
}

void interleave16(const uint8_t* const* planes, uint32_t count, uint32_t width, uint32_t,
                  uint8_t* out) {
  for (uint32_t p = 0; p < count; ++p) {
    const uint8_t* src = planes[p];
    uint8_t* dst = out + 2 * p;
    for (uint32_t x = 0; x < width; ++x, dst += 2 * count) {
      dst[0] = src[2 * x];
      dst[1] = src[2 * x + 1];
    }
  }
}

// Samples narrower than a byte, packed from the most significant bit. Any
// width from 1 to 7: a sample may cross a byte boundary in the source row and
// in the output (3 bits of 3 samples, say).
void interleave_bits(const uint8_t* const* planes, uint32_t count, uint32_t width, uint32_t bits,
                     uint8_t* out) {
  const uint64_t out_bits = uint64_t{count} * width * bits;
  std::memset(out, 0, static_cast<size_t>((out_bits + 7) / 8));
  const uint64_t step = uint64_t{count} * bits;
  for (uint32_t p = 0; p < count; ++p) {
    const uint8_t* src = planes[p];
    uint64_t dst_bit = uint64_t{p} * bits;
    uint64_t src_bit = 0;
    for (uint32_t x = 0; x < width; ++x, dst_bit += step, src_bit += bits)
      klv::img::or_field(out, dst_bit, bits, klv::img::read_field(src, src_bit, bits));
  }
}

}  // namespace

struct contimg_filter {
  IMG_file* source = nullptr;
  bool pass_through = false;
  bool planar = false;  // planar source; else line-interleaved
  image_info in{};      // the source's description
  image_info out{};     // the pixel-interleaved description
  uint32_t planes = 0;
  uint32_t row_bytes = 0;  // one sample row of the source
  int32_t band_lines = 0;
  std::vector<uint8_t> band;
  std::vector<const uint8_t*> rows;
  int32_t band_start = 0, band_count = 0;  // lines held
  int32_t page_held = -1;
  int32_t line = 0, page = 0;
  InterleaveFn interleave = nullptr;

  bool LoadBand(int32_t first);
};

bool contimg_filter::LoadBand(int32_t first) {
  band_count = 0;
  int32_t want = std::min(band_lines, in.height - first);
  if (want <= 0) return false;
  int32_t got = want;
  uint32_t bpl = in.bytes_per_line;
  for (uint32_t p = 0; p < (planar ? planes : 1); ++p) {
    if (img_seek_line(source, first, static_cast<int32_t>(p), page, 0) != first) {
      KLV_LOG(KLV_LOG_ERROR, "contiguous image: source cannot seek to line %d of plane %u", first,
              p);
      return false;
    }
    uint8_t* dst = band.data() + size_t{p} * band_lines * bpl;
    got = std::min(got, img_read_line(source, dst, want));
    if (got <= 0) return false;
  }
  band_start = first;
  band_count = got;
  page_held = page;
  return true;
}

extern "C" {

KLV_API contimg_filter* contimg_attach(IMG_file* source, const image_info* info,
                                       int32_t band_lines) {
  if (!source) return nullptr;
  if (!info) info = &source->info;
  auto* f = new (std::nothrow) contimg_filter;
  if (!f) return nullptr;
  f->source = source;
  f->in = *info;
  const uint32_t all = info->samples + info->mask_samples;
  const bool is_planar = info->planar == KLV_PLANAR_PLANES && all >= 2;
  const bool is_lines = info->planar == KLV_PLANAR_LINES && all >= 2;
  if (source->mode != 'r' || (!is_planar && !is_lines)) {
    f->pass_through = true;
    return f;
  }
  const char* fault = nullptr;
  if (info->width <= 0 || info->height <= 0)
    fault = "empty size";
  else if (info->photometric == KLV_PHOTO_PALETTE && (info->samples != 1 || info->mask_samples))
    fault = "palette data with more than one sample";
  else if (info->bits_per_sample == 0 || (info->bits_per_sample > 8 && info->bits_per_sample != 16))
    fault = "bits per sample not 1 to 8 or 16";
  else if (info->photometric > KLV_PHOTO_CIELAB)
    fault = "unknown photometric";
  else if (info->samples - info->spot_samples == 2)
    fault = "two colour samples";
  else if (all > 64)
    fault = "too many samples";
  if (fault) {
    KLV_LOG(KLV_LOG_ERROR, "contiguous image: cannot interleave the source: %s", fault);
    delete f;
    return nullptr;
  }
  f->planar = is_planar;
  f->planes = all;
  f->row_bytes = static_cast<uint32_t>((uint64_t{info->bits_per_sample} * info->width + 7) / 8);
  f->in.bytes_per_line = image_info_line_bytes(info);
  f->out = *info;
  f->out.planar = KLV_PLANAR_PIXEL;
  f->out.bytes_per_line = image_info_line_bytes(&f->out);
  if (f->in.bytes_per_line == 0 || f->out.bytes_per_line == 0) {
    KLV_LOG(KLV_LOG_ERROR, "contiguous image: lines of %d pixels are too long", info->width);
    delete f;
    return nullptr;
  }
  const uint64_t bpl = f->in.bytes_per_line;
  const uint64_t per_line = bpl * (is_planar ? all : 1);
  int64_t lines = band_lines > 0 ? band_lines : std::max<int64_t>(1, kDefaultBandBytes / bpl);
  lines = std::min<int64_t>(lines, info->height);
  lines = std::max<int64_t>(1, std::min<int64_t>(lines, kMaxBandBytes / per_line));
  f->band_lines = static_cast<int32_t>(lines);
  try {
    f->band.resize(static_cast<size_t>(per_line * lines));
    f->rows.resize(all);
  } catch (...) {
    KLV_LOG(KLV_LOG_ERROR, "contiguous image: no memory for a band of %lld lines",
            static_cast<long long>(lines));
    delete f;
    return nullptr;
  }
  if (info->bits_per_sample == 8)
    f->interleave = interleave8;
  else if (info->bits_per_sample == 16)
    f->interleave = interleave16;
  else
    f->interleave = interleave_bits;
  return f;
}

KLV_API const image_info* contimg_info(const contimg_filter* filter) {
  if (!filter) return nullptr;
  return filter->pass_through ? &filter->in : &filter->out;
}

KLV_API int32_t contimg_read_line(void* handle, uint8_t* buffer, int32_t count) {
  auto* f = static_cast<contimg_filter*>(handle);
  if (!f || !buffer || count < 1) return 0;
  if (f->pass_through) return img_read_line(f->source, buffer, count);
  const uint32_t bpl = f->in.bytes_per_line;
  int32_t done = 0;
  while (done < count && f->line < f->in.height) {
    if (f->page_held != f->page || f->line < f->band_start ||
        f->line >= f->band_start + f->band_count) {
      if (!f->LoadBand(f->line)) break;
    }
    const int32_t r = f->line - f->band_start;
    for (uint32_t p = 0; p < f->planes; ++p) {
      f->rows[p] = f->planar
                       ? f->band.data() + (size_t{p} * f->band_lines + r) * bpl
                       : f->band.data() + static_cast<size_t>(r) * bpl + size_t{p} * f->row_bytes;
    }
    f->interleave(f->rows.data(), f->planes, static_cast<uint32_t>(f->in.width),
                  f->in.bits_per_sample,
                  buffer + static_cast<size_t>(done) * f->out.bytes_per_line);
    ++f->line;
    ++done;
  }
  return done;
}

KLV_API int32_t contimg_seek_line(void* handle, int32_t line, int32_t plane, int32_t page,
                                  int32_t whence) {
  auto* f = static_cast<contimg_filter*>(handle);
  if (!f) return -1;
  if (f->pass_through) return img_seek_line(f->source, line, plane, page, whence);
  if (page != 0 && f->in.pages < 2) return -1;
  const int64_t height = f->in.height;
  int64_t pos = int64_t{line} + int64_t{plane} * height;
  if (whence == 1)
    pos += f->line;
  else if (whence == 2)
    pos += height - 1;
  if (pos < 0 || pos > height) return -1;
  f->line = static_cast<int32_t>(pos);
  f->page = page;
  return f->line;
}

KLV_API image_cmap* contimg_get_cmap(void* handle) {
  auto* f = static_cast<contimg_filter*>(handle);
  return f ? img_get_cmap(f->source) : nullptr;
}

KLV_API int32_t contimg_close(void* handle) {
  auto* f = static_cast<contimg_filter*>(handle);
  if (!f) return 0;
  img_close(f->source);
  delete f;
  return 0;
}

}  // extern "C"

namespace {

int32_t contimg_status(IMG_file* img, int32_t what) {
  return img_status(static_cast<contimg_filter*>(img->handle)->source, what);
}

image_profile* contimg_get_profile(void* handle) {
  return img_get_profile(static_cast<contimg_filter*>(handle)->source);
}

}  // namespace

extern "C" KLV_API IMG_file* contimg_to_img(contimg_filter* filter) {
  if (!filter) return nullptr;
  if (filter->pass_through) {
    IMG_file* source = filter->source;
    delete filter;
    return source;
  }
  auto* img = static_cast<IMG_file*>(std::calloc(1, sizeof(IMG_file)));
  if (!img) {
    contimg_close(filter);
    return nullptr;
  }
  img->handle = filter;
  img->type = filter->source->type;
  img->mode = 'r';
  img->info = filter->out;
  img->close = contimg_close;
  img->status = contimg_status;
  img->read_line = contimg_read_line;
  img->seek_line = contimg_seek_line;
  img->get_cmap = contimg_get_cmap;
  img->get_profile = contimg_get_profile;
  return img;
}
