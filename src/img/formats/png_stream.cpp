// SPDX-License-Identifier: MIT
// PNG files as image streams over libpng: opening, line reading and writing,
// seeking, the colour map and the embedded profile.
//
// libpng reports errors by jumping back to the setjmp of the stream function
// that called it. Every such function is a small "guarded" stage whose locals
// are plain values, so that the jump skips no destructor.
#include "klv/pngimg.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "img/formats/profile_cache.h"
#include "klv/image_limits.h"
#include "klv/kernel_stream.h"
#include "klv/log.h"

namespace {

using klv::img::kProfileInFile;

constexpr size_t kIoBytes = size_t{64} << 10;
constexpr double kMetresPerInch = 0.0254;

struct PngStream {
  char mode = 'r';
  SOVolume* volume = nullptr;
  std::string path;
  SFilemux* file = nullptr;
  png_structp png = nullptr;
  png_infop info = nullptr;
  uint32_t width = 0, height = 0;
  int color_type = 0, file_bits = 0;
  bool interlaced = false;
  uint32_t samples = 1, mask = 0, bits = 8, photometric = KLV_PHOTO_MINBLACK;
  size_t line_bytes = 0;
  double xres = 100, yres = 100;
  std::vector<uint8_t> icc;
  std::vector<uint8_t> palette;  // red, green, blue per entry
  uint32_t line = 0;             // next line to read or write
  bool failed = false;
  std::vector<uint8_t> whole;  // an interlaced image, decoded on the first read
  bool whole_ready = false;
  std::vector<uint8_t> scratch;  // a line decoded and dropped while seeking
  // Buffered file access: bytes [io_pos, io_len) of `io` are not yet consumed
  // (reading), or bytes [0, io_len) not yet written (writing).
  std::vector<uint8_t> io;
  size_t io_pos = 0, io_len = 0;
  bool io_failed = false;

  PngStream() = default;
  PngStream(const PngStream&) = delete;
  PngStream& operator=(const PngStream&) = delete;
  ~PngStream() {
    destroy_codec();
    if (file) Oclose(file);
  }
  void destroy_codec() {
    if (!png) return;
    if (mode == 'r')
      png_destroy_read_struct(&png, &info, nullptr);
    else
      png_destroy_write_struct(&png, &info);
    png = nullptr;
    info = nullptr;
  }
};

PngStream* as_stream(void* p) {
  return static_cast<PngStream*>(p);
}

void on_error(png_structp png, png_const_charp text) {
  auto* s = static_cast<PngStream*>(png_get_error_ptr(png));
  KLV_LOG(KLV_LOG_ERROR, "PNG \"%s\": %s", s ? s->path.c_str() : "", text);
  png_longjmp(png, 1);
}

void on_warning(png_structp png, png_const_charp text) {
  auto* s = static_cast<PngStream*>(png_get_error_ptr(png));
  KLV_LOG(KLV_LOG_DEBUG, "PNG \"%s\": %s", s ? s->path.c_str() : "", text);
}

void read_data(png_structp png, png_bytep out, size_t count) {
  auto* s = static_cast<PngStream*>(png_get_io_ptr(png));
  while (count > 0) {
    if (s->io_pos == s->io_len) {
      s->io_pos = 0;
      s->io_len = Oread(s->file, s->io.data(), s->io.size());
      if (s->io_len == 0) png_error(png, "the file ends early");
    }
    const size_t n = std::min(count, s->io_len - s->io_pos);
    std::memcpy(out, s->io.data() + s->io_pos, n);
    s->io_pos += n;
    out += n;
    count -= n;
  }
}

bool flush_io(PngStream* s) {
  if (s->io_len > 0 && Owrite(s->file, s->io.data(), s->io_len) != s->io_len) s->io_failed = true;
  s->io_len = 0;
  return !s->io_failed;
}

void write_data(png_structp png, png_bytep in, size_t count) {
  auto* s = static_cast<PngStream*>(png_get_io_ptr(png));
  while (count > 0) {
    if (s->io_len == s->io.size() && !flush_io(s)) png_error(png, "the file cannot be written");
    const size_t n = std::min(count, s->io.size() - s->io_len);
    std::memcpy(s->io.data() + s->io_len, in, n);
    s->io_len += n;
    in += n;
    count -= n;
  }
}

void flush_data(png_structp png) {
  auto* s = static_cast<PngStream*>(png_get_io_ptr(png));
  if (!flush_io(s)) png_error(png, "the file cannot be written");
}

// ---- reading ----

// Reads the chunks before the image data and asks libpng for the sample
// layout the stream delivers.
bool guarded_read_info(PngStream* s) {
  if (setjmp(png_jmpbuf(s->png))) return false;
  png_set_user_limits(s->png, 0x7fffffff, 0x7fffffff);
  png_set_read_fn(s->png, s, read_data);
  png_read_info(s->png, s->info);
  const int type = png_get_color_type(s->png, s->info);
  const int bits = png_get_bit_depth(s->png, s->info);
  if (bits == 16) png_set_swap(s->png);  // host order
  if (type == PNG_COLOR_TYPE_GRAY && (bits == 2 || bits == 4))
    png_set_expand_gray_1_2_4_to_8(s->png);
  if (type == PNG_COLOR_TYPE_PALETTE && bits == 2) png_set_packing(s->png);
  if (png_get_interlace_type(s->png, s->info) != PNG_INTERLACE_NONE)
    png_set_interlace_handling(s->png);
  png_read_update_info(s->png, s->info);
  return true;
}

// A fresh decoder at the start of the file.
bool begin_reading(PngStream* s) {
  s->destroy_codec();
  s->io_pos = s->io_len = 0;
  if (Oseeki64(s->file, 0, 0) != 0) return false;
  s->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, s, on_error, on_warning);
  if (!s->png) return false;
  s->info = png_create_info_struct(s->png);
  if (!s->info || !guarded_read_info(s)) return false;
  s->line = 0;
  s->failed = false;
  return true;
}

void read_resolution(PngStream* s) {
  png_uint_32 xppm = 0, yppm = 0;
  int unit = 0;
  if (png_get_pHYs(s->png, s->info, &xppm, &yppm, &unit) && unit == PNG_RESOLUTION_METER &&
      xppm > 0 && yppm > 0) {
    s->xres = xppm * kMetresPerInch;
    s->yres = yppm * kMetresPerInch;
  }
}

void read_extras(PngStream* s) {
  png_charp name = nullptr;
  int method = 0;
  png_bytep data = nullptr;
  png_uint_32 len = 0;
  if (png_get_iCCP(s->png, s->info, &name, &method, &data, &len) && data && len > 0)
    s->icc.assign(data, data + len);
  png_colorp plte = nullptr;
  int entries = 0;
  if (s->color_type == PNG_COLOR_TYPE_PALETTE && png_get_PLTE(s->png, s->info, &plte, &entries) &&
      plte) {
    for (int i = 0; i < entries; ++i)
      s->palette.insert(s->palette.end(), {plte[i].red, plte[i].green, plte[i].blue});
  }
}

bool open_reading(PngStream* s) {
  uint8_t sig[8];
  if (Oread(s->file, sig, 8) != 8 || png_sig_cmp(sig, 0, 8) != 0) {
    KLV_LOG(KLV_LOG_DEBUG, "PNG \"%s\": no PNG signature", s->path.c_str());
    return false;
  }
  if (!begin_reading(s)) return false;
  s->width = png_get_image_width(s->png, s->info);
  s->height = png_get_image_height(s->png, s->info);
  s->color_type = png_get_color_type(s->png, s->info);
  s->file_bits = png_get_bit_depth(s->png, s->info);
  s->interlaced = png_get_interlace_type(s->png, s->info) != PNG_INTERLACE_NONE;
  const int64_t file_len = Ofileleni64(s->file);
  if (!klv_image_limits_check("PNG", s->path.c_str(), s->width, s->height,
                              file_len > 0 ? uint64_t(file_len) : 1))
    return false;
  const int channels = png_get_channels(s->png, s->info);
  const bool alpha = (s->color_type & PNG_COLOR_MASK_ALPHA) != 0;
  s->mask = alpha ? 1 : 0;
  s->samples = static_cast<uint32_t>(channels) - s->mask;
  s->bits = png_get_bit_depth(s->png, s->info);
  s->photometric = s->color_type == PNG_COLOR_TYPE_PALETTE ? KLV_PHOTO_PALETTE : KLV_PHOTO_MINBLACK;
  s->line_bytes = png_get_rowbytes(s->png, s->info);
  read_resolution(s);
  read_extras(s);
  return true;
}

void fill_info(const PngStream& s, image_info* info) {
  info->width = static_cast<int32_t>(s.width);
  info->height = static_cast<int32_t>(s.height);
  info->pages = 1;
  info->planar = KLV_PLANAR_PIXEL;
  info->bits_per_sample = s.bits;
  info->samples = s.samples;
  info->spot_samples = 0;
  info->mask_samples = s.mask;
  info->format_word1 = 0;
  info->photometric = s.photometric;
  info->hifi_mode = 0;
  info->format_word2 = 0;
  info->bytes_per_line = static_cast<uint32_t>(s.line_bytes);
  info->compression = 0;
  info->format_word3 = 0;
  info->xres = s.xres;
  info->yres = s.yres;
  for (auto& w : info->tile_words) w = 0;
  info->profile_word = s.icc.empty() ? nullptr : kProfileInFile;
  init_crop_info(&info->crop);
  info->width_inches = s.width / s.xres;
  info->height_inches = s.height / s.yres;
}

bool guarded_read_row(PngStream* s, uint8_t* out) {
  if (setjmp(png_jmpbuf(s->png))) {
    s->failed = true;
    return false;
  }
  png_read_row(s->png, out, nullptr);
  return true;
}

bool guarded_read_image(PngStream* s, png_bytepp rows) {
  if (setjmp(png_jmpbuf(s->png))) {
    s->failed = true;
    return false;
  }
  png_read_image(s->png, rows);
  return true;
}

// Decodes an interlaced image whole, once.
bool load_whole(PngStream* s) {
  if (s->whole_ready) return true;
  if (s->failed) return false;
  s->whole.resize(s->line_bytes * s->height);
  std::vector<png_bytep> rows(s->height);
  for (uint32_t y = 0; y < s->height; ++y) rows[y] = s->whole.data() + y * s->line_bytes;
  s->whole_ready = guarded_read_image(s, rows.data());
  if (!s->whole_ready) std::vector<uint8_t>().swap(s->whole);
  return s->whole_ready;
}

// ---- writing ----

struct WriteForm {
  int color_type = 0;
  int bits = 8;
};

bool pick_write_form(const image_info* info, WriteForm* f) {
  const uint32_t b = info->bits_per_sample;
  if (info->planar != KLV_PLANAR_PIXEL || info->pages > 1 || info->width < 1 || info->height < 1 ||
      info->spot_samples != 0)
    return false;
  f->bits = static_cast<int>(b);
  if (info->photometric == KLV_PHOTO_PALETTE) {
    f->color_type = PNG_COLOR_TYPE_PALETTE;
    return info->samples == 1 && info->mask_samples == 0 && info->cmap && info->cmap->entries > 0 &&
           (b == 1 || b == 2 || b == 4 || b == 8);
  }
  if (info->photometric != KLV_PHOTO_MINBLACK || info->mask_samples > 1) return false;
  const bool alpha = info->mask_samples == 1;
  if (info->samples == 1) {
    f->color_type = alpha ? PNG_COLOR_TYPE_GRAY_ALPHA : PNG_COLOR_TYPE_GRAY;
    return b == 8 || b == 16 || (!alpha && (b == 1 || b == 2 || b == 4));
  }
  if (info->samples == 3) {
    f->color_type = alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB;
    return b == 8 || b == 16;
  }
  return false;
}

bool guarded_write_header(PngStream* s, const image_info* in, const WriteForm& f) {
  if (setjmp(png_jmpbuf(s->png))) return false;
  png_set_write_fn(s->png, s, write_data, flush_data);
  png_set_benign_errors(s->png, 1);  // an unusable profile is dropped, not fatal
  png_set_IHDR(s->png, s->info, s->width, s->height, f.bits, f.color_type, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (f.color_type == PNG_COLOR_TYPE_PALETTE) {
    png_color plte[256];
    const uint32_t n = std::min<uint32_t>(in->cmap->entries, 1u << f.bits);
    for (uint32_t i = 0; i < n; ++i) {
      const uint8_t* const* ch = in->cmap->channel;
      plte[i].red = ch[0] ? ch[0][i] : 0;
      plte[i].green = ch[1] ? ch[1][i] : plte[i].red;
      plte[i].blue = ch[2] ? ch[2][i] : plte[i].red;
    }
    png_set_PLTE(s->png, s->info, plte, static_cast<int>(n));
  }
  png_set_pHYs(s->png, s->info, static_cast<png_uint_32>(std::lround(s->xres / kMetresPerInch)),
               static_cast<png_uint_32>(std::lround(s->yres / kMetresPerInch)),
               PNG_RESOLUTION_METER);
  if (const image_profile* p = klv::img::profile_to_write(in))
    png_set_iCCP(s->png, s->info, "ICC Profile", PNG_COMPRESSION_TYPE_BASE, p->data, p->size);
  png_write_info(s->png, s->info);
  if (f.bits == 16) png_set_swap(s->png);
  return true;
}

bool open_writing(PngStream* s, image_info* info) {
  WriteForm f;
  if (!pick_write_form(info, &f)) {
    KLV_LOG(KLV_LOG_ERROR,
            "PNG \"%s\": cannot write %dx%d pixels of %u samples and %u mask samples of %u "
            "bits, photometric %u, layout %u%s",
            s->path.c_str(), info->width, info->height, info->samples, info->mask_samples,
            info->bits_per_sample, info->photometric, info->planar,
            info->photometric == KLV_PHOTO_PALETTE && !info->cmap ? ", no colour map" : "");
    return false;
  }
  s->width = static_cast<uint32_t>(info->width);
  s->height = static_cast<uint32_t>(info->height);
  s->xres = info->xres > 0 ? info->xres : 100;
  s->yres = info->yres > 0 ? info->yres : s->xres;
  s->samples = info->samples;
  s->mask = info->mask_samples;
  s->bits = info->bits_per_sample;
  s->line_bytes = (size_t{s->width} * (s->samples + s->mask) * s->bits + 7) / 8;
  s->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, s, on_error, on_warning);
  if (!s->png) return false;
  s->info = png_create_info_struct(s->png);
  if (!s->info || !guarded_write_header(s, info, f)) return false;
  info->pages = 1;
  info->bytes_per_line = static_cast<uint32_t>(s->line_bytes);
  info->xres = s->xres;
  info->yres = s->yres;
  info->width_inches = s->width / s->xres;
  info->height_inches = s->height / s->yres;
  init_crop_info(&info->crop);
  return true;
}

bool guarded_write_row(PngStream* s, const uint8_t* in) {
  if (setjmp(png_jmpbuf(s->png))) {
    s->failed = true;
    return false;
  }
  png_write_row(s->png, in);
  return true;
}

bool guarded_write_end(PngStream* s) {
  if (setjmp(png_jmpbuf(s->png))) return false;
  png_write_end(s->png, nullptr);
  return flush_io(s);
}

void* open_stream(const char* path, SOVolume* volume, const char* mode, image_info* info) {
  const bool reading = std::strchr(mode, 'r') != nullptr;
  auto* s = new PngStream;
  s->mode = reading ? 'r' : 'w';
  s->volume = volume;
  s->path = path;
  s->io.resize(kIoBytes);
  s->file = Ovfopen(volume, path, reading ? "rb" : "wb");
  if (s->file && (reading ? open_reading(s) : open_writing(s, info))) {
    if (reading && info) fill_info(*s, info);
    return s;
  }
  delete s;
  return nullptr;
}

bool read_one(PngStream* s, uint8_t* out) {
  if (s->interlaced) {
    if (!load_whole(s)) return false;
    std::memcpy(out, s->whole.data() + size_t{s->line} * s->line_bytes, s->line_bytes);
    return true;
  }
  return !s->failed && guarded_read_row(s, out);
}

}  // namespace

extern "C" {

KLV_API void* pngimg_open(const char* path, SOVolume* volume, const char* mode, image_info* info) {
  if (!path || !mode) return nullptr;
  if (!std::strchr(mode, 'r') && !info) {
    KLV_LOG(KLV_LOG_ERROR, "PNG \"%s\": writing needs a description", path);
    return nullptr;
  }
  try {
    return open_stream(path, volume, mode, info);
  } catch (...) {
    KLV_LOG(KLV_LOG_ERROR, "PNG \"%s\": out of memory", path);
    return nullptr;
  }
}

KLV_API int32_t pngimg_close(void* record) {
  PngStream* s = as_stream(record);
  if (!s) return 0;
  bool ok = true;
  if (s->mode == 'w' && s->png && !s->failed && s->line >= s->height) ok = guarded_write_end(s);
  const bool writing = s->mode == 'w';
  SFilemux* file = s->file;
  s->file = nullptr;
  delete s;
  if (file && Oclose(file) != 0 && writing) ok = false;
  if (!ok) KLV_LOG(KLV_LOG_ERROR, "PNG: the written file could not be finished");
  return ok ? 0 : -1;
}

KLV_API int32_t pngimg_read_line(void* record, uint8_t* buffer, int32_t count) {
  PngStream* s = as_stream(record);
  if (!s || !buffer || count < 1 || s->mode != 'r') return 0;
  int32_t done = 0;
  try {
    while (done < count && s->line < s->height) {
      if (!read_one(s, buffer)) {
        KLV_LOG(KLV_LOG_ERROR, "PNG \"%s\": line %u cannot be decoded", s->path.c_str(), s->line);
        break;
      }
      buffer += s->line_bytes;
      ++s->line;
      ++done;
    }
  } catch (...) {
    KLV_LOG(KLV_LOG_ERROR, "PNG \"%s\": out of memory", s->path.c_str());
  }
  return done;
}

KLV_API int32_t pngimg_write_line(void* record, uint8_t* buffer, int32_t count) {
  PngStream* s = as_stream(record);
  if (!s || !buffer || count < 1 || s->mode != 'w') return 0;
  int32_t done = 0;
  while (done < count && s->line < s->height && !s->failed) {
    if (!guarded_write_row(s, buffer)) break;
    buffer += s->line_bytes;
    ++s->line;
    ++done;
  }
  return done;
}

KLV_API int32_t pngimg_seek_line(void* record, int32_t line, int32_t plane, int32_t page,
                                 int32_t whence) {
  PngStream* s = as_stream(record);
  if (!s || plane != 0 || page != 0) return -1;
  int64_t target = line;
  if (whence == 1)
    target += s->line;
  else if (whence == 2)
    target += int64_t{s->height} - 1;
  target = std::clamp<int64_t>(target, 0, int64_t{s->height} - 1);
  const auto t = static_cast<uint32_t>(target);
  if (s->mode != 'r') return t == s->line ? static_cast<int32_t>(t) : -1;
  try {
    if (s->interlaced) {
      if (!load_whole(s)) return -1;
      s->line = t;
      return static_cast<int32_t>(t);
    }
    if ((t < s->line || s->failed) && !begin_reading(s)) {
      s->failed = true;
      return -1;
    }
    s->scratch.resize(s->line_bytes);
    while (s->line < t) {
      if (!read_one(s, s->scratch.data())) return -1;
      ++s->line;
    }
  } catch (...) {
    return -1;
  }
  return static_cast<int32_t>(t);
}

KLV_API image_cmap* pngimg_get_cmap(void* record) {
  PngStream* s = as_stream(record);
  if (!s || s->palette.empty()) return nullptr;
  const uint32_t entries = static_cast<uint32_t>(s->palette.size() / 3);
  auto* map = static_cast<image_cmap*>(std::calloc(1, sizeof(image_cmap)));
  if (!map) return nullptr;
  map->channels = 3;
  map->entries = entries;
  map->photometric = 1;
  for (int c = 0; c < 4; ++c) {
    map->channel[c] = static_cast<uint8_t*>(std::calloc(entries, 1));
    if (!map->channel[c]) {
      free_cmap(map);
      return nullptr;
    }
  }
  for (uint32_t i = 0; i < entries; ++i)
    for (int c = 0; c < 3; ++c) map->channel[c][i] = s->palette[size_t{i} * 3 + c];
  return map;
}

KLV_API image_profile* pngimg_get_profile(void* record) {
  PngStream* s = as_stream(record);
  if (!s || s->mode != 'r' || s->icc.empty()) return nullptr;
  return klv::img::checkout_file_profile(s->volume, s->path.c_str(), s->icc.data(), s->icc.size());
}

}  // extern "C"
