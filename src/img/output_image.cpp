// SPDX-License-Identifier: MIT
// The output image: opening, the description and colour map members, closing.
#include "output_image.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "klv/kernel_stream.h"
#include "klv/kernel_volume.h"
#include "klv/log.h"
#include "klv/outimg.h"
#include "klv/streams.h"

namespace klv::img {
namespace {

constexpr char kInfoMember[] = ".\\image_info";
constexpr char kMapMember[] = "color_map";

void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t get32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
void putd(uint8_t* p, double d) {
  uint64_t v;
  std::memcpy(&v, &d, 8);
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
double getd(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v |= uint64_t{p[i]} << (8 * i);
  double d;
  std::memcpy(&d, &v, 8);
  return d;
}

struct StreamCloser {
  void operator()(SFilemux* s) const { Oclose(s); }
};
using StreamPtr = std::unique_ptr<SFilemux, StreamCloser>;

// Reads a whole small member; empty optional-like result on failure.
bool read_member(SOVolume* vol, const char* name, size_t max_bytes, std::vector<uint8_t>* out) {
  StreamPtr s(Ovfopen(vol, name, "rb"));
  if (!s) {
    KLV_LOG(KLV_LOG_ERROR, "output image: member \"%s\" missing", name);
    return false;
  }
  int64_t len = Ofileleni64(s.get());
  if (len < 0) {
    KLV_LOG(KLV_LOG_ERROR, "output image: length of \"%s\" unknown", name);
    return false;
  }
  size_t want = len > static_cast<int64_t>(max_bytes) ? max_bytes : static_cast<size_t>(len);
  out->resize(want);
  if (want && Oread(s.get(), out->data(), want) != want) {
    KLV_LOG(KLV_LOG_ERROR, "output image: short read of \"%s\"", name);
    return false;
  }
  return true;
}

bool write_member(SOVolume* vol, const char* name, const std::vector<uint8_t>& data) {
  SFilemux* s = Ovfopen(vol, name, "wb");
  if (!s) return false;
  bool ok = Owrite(s, data.data(), data.size()) == data.size();
  if (Oclose(s) != 0) ok = false;
  if (!ok) KLV_LOG(KLV_LOG_ERROR, "output image: cannot write \"%s\"", name);
  return ok;
}

image_cmap* decode_map(const std::vector<uint8_t>& d) {
  if (d.size() < 13 || std::memcmp(d.data(), "CMAP", 4) != 0) {
    KLV_LOG(KLV_LOG_ERROR, "output image: colour map has no \"CMAP\" header");
    return nullptr;
  }
  uint32_t channels = get32(&d[4]);
  uint32_t entries = get32(&d[8]);
  if (channels < 1 || channels > 4 || entries < 1 || entries > kOutMaxMapEntries) {
    KLV_LOG(KLV_LOG_ERROR, "output image: colour map of %u channels and %u entries", channels,
            entries);
    return nullptr;
  }
  size_t need = 13 + size_t{channels} * entries;
  if (d.size() < need) {
    KLV_LOG(KLV_LOG_ERROR, "output image: colour map needs %zu bytes, member has %zu", need,
            d.size());
    return nullptr;
  }
  auto* map = static_cast<image_cmap*>(std::calloc(1, sizeof(image_cmap)));
  if (!map) return nullptr;
  map->channels = channels;
  map->entries = entries;
  map->photometric = d[12];
  for (uint32_t c = 0; c < channels; ++c) {
    map->channel[c] = static_cast<uint8_t*>(std::malloc(entries));
    if (!map->channel[c]) {
      free_cmap(map);
      return nullptr;
    }
  }
  const uint8_t* p = &d[13];
  for (uint32_t e = 0; e < entries; ++e)
    for (uint32_t c = 0; c < channels; ++c) map->channel[c][e] = *p++;
  return map;
}

bool map_ok(const image_cmap* map) {
  if (!map || map->channels < 1 || map->channels > 4 || map->entries < 1 ||
      map->entries > kOutMaxMapEntries)
    return false;
  for (uint32_t c = 0; c < map->channels; ++c)
    if (!map->channel[c]) return false;
  return true;
}

std::vector<uint8_t> encode_map(const image_cmap* map) {
  std::vector<uint8_t> d(13 + size_t{map->channels} * map->entries);
  std::memcpy(d.data(), "CMAP", 4);
  put32(&d[4], map->channels);
  put32(&d[8], map->entries);
  d[12] = map->photometric;
  uint8_t* p = &d[13];
  for (uint32_t e = 0; e < map->entries; ++e)
    for (uint32_t c = 0; c < map->channels; ++c) *p++ = map->channel[c][e];
  return d;
}

void finish_info(image_info* info) {
  init_crop_info(&info->crop);
  if (info->xres > 0 && info->yres > 0) {
    info->width_inches = static_cast<uint32_t>(info->width) / info->xres;
    info->height_inches = static_cast<uint32_t>(info->height) / info->yres;
  }
}

uint32_t seps_of(const image_info& info) {
  return info.planar == KLV_PLANAR_PLANES ? info.samples + info.mask_samples : 1;
}

OutImage* open_read(const char* path, SOVolume* parent, image_info* info) {
  auto img = std::make_unique<OutImage>();
  img->volume = VOpen(parent, path, KLV_VOL_READ);
  if (!img->volume) {
    KLV_LOG(KLV_LOG_ERROR, "output image: \"%s\" is not a volume that can be read", path);
    return nullptr;
  }
  std::vector<uint8_t> d;
  if (!read_member(img->volume, kInfoMember, KLV_OUTIMG_INFO_BYTES, &d)) return nullptr;
  if (!outimg_decode_info(d.data(), d.size(), &img->info)) return nullptr;
  if (img->info.photometric == KLV_PHOTO_PALETTE) {
    // The map is read whole; its size is checked against what it claims.
    if (!read_member(img->volume, kMapMember, 13 + size_t{4} * kOutMaxMapEntries, &d))
      return nullptr;
    img->cmap = decode_map(d);
    if (!img->cmap) return nullptr;
  }
  img->seps = seps_of(img->info);
  finish_info(&img->info);
  if (info) {
    *info = img->info;
    info->cmap = nullptr;
  }
  return img.release();
}

OutImage* open_write(const char* path, SOVolume* parent, image_info* info) {
  if (!info) {
    KLV_LOG(KLV_LOG_ERROR, "output image \"%s\": no description to write", path);
    return nullptr;
  }
  image_info want = *info;
  if (want.pages == 0) want.pages = 1;
  const char* fault = nullptr;
  if (want.planar > KLV_PLANAR_LINES)
    fault = "layout not pixel-, line-interleaved or planar";
  else if (want.width <= 0 || want.height <= 0)
    fault = "empty size";
  else if (want.bits_per_sample == 0 || (want.bits_per_sample > 8 && want.bits_per_sample != 16))
    fault = "bits per sample not 1 to 8 or 16";
  else if (want.samples == 0 || want.samples + want.mask_samples > kOutMaxSamples)
    fault = "sample count out of range";
  else if (want.photometric > KLV_PHOTO_CIELAB)
    fault = "unknown photometric";
  else if (want.photometric == KLV_PHOTO_PALETTE && (want.samples != 1 || !map_ok(want.cmap)))
    fault = "palette image needs one sample and a colour map";
  else if (want.pages > kOutMaxPages)
    fault = "too many pages";
  if (!fault) {
    want.bytes_per_line = image_info_line_bytes(&want);
    if (want.bytes_per_line == 0 || want.bytes_per_line > kOutMaxLineBytes) fault = "line too long";
  }
  if (fault) {
    KLV_LOG(KLV_LOG_ERROR, "output image \"%s\": %s", path, fault);
    return nullptr;
  }
  SFilemux* f = Ovfopen(parent, path, "w+");
  if (!f) return nullptr;
  Oclose(f);
  auto img = std::make_unique<OutImage>();
  img->writing = true;
  img->volume = VOpen(parent, path, KLV_VOL_CREATE);
  if (!img->volume) {
    KLV_LOG(KLV_LOG_ERROR, "output image: cannot create volume \"%s\"", path);
    return nullptr;
  }
  finish_info(&want);
  img->info = want;
  img->info.cmap = nullptr;
  img->seps = seps_of(want);
  std::vector<uint8_t> d(KLV_OUTIMG_INFO_BYTES);
  outimg_encode_info(want, d.data());
  if (!write_member(img->volume, kInfoMember, d)) return nullptr;
  if (want.photometric == KLV_PHOTO_PALETTE) {
    img->cmap = copy_cmap(want.cmap);
    if (!img->cmap || !write_member(img->volume, kMapMember, encode_map(want.cmap))) return nullptr;
  }
  *info = want;
  return img.release();
}

}  // namespace

void outimg_encode_info(const image_info& info, uint8_t out[64]) {
  std::memcpy(out, "IMIN", 4);
  put32(out + 4, static_cast<uint32_t>(info.width));
  put32(out + 8, static_cast<uint32_t>(info.height));
  put32(out + 12, info.pages);
  put32(out + 16, info.planar);
  put32(out + 20, info.bits_per_sample);
  put32(out + 24, info.samples);
  put32(out + 28, info.mask_samples);
  put32(out + 32, info.photometric);
  put32(out + 36, info.bytes_per_line);
  putd(out + 40, info.xres);
  putd(out + 48, info.yres);
  put32(out + 56, info.compression);
  put32(out + 60, info.format_word1);
}

bool outimg_decode_info(const uint8_t* d, size_t size, image_info* info) {
  init_image_info(info);
  if (size < KLV_OUTIMG_INFO_MIN_BYTES) {
    KLV_LOG(KLV_LOG_ERROR, "output image: description member has %zu bytes, needs %d", size,
            KLV_OUTIMG_INFO_MIN_BYTES);
    return false;
  }
  if (std::memcmp(d, "IMIN", 4) != 0) {
    KLV_LOG(KLV_LOG_ERROR, "output image: description member has no \"IMIN\" header");
    return false;
  }
  uint32_t width = get32(d + 4), height = get32(d + 8);
  info->pages = get32(d + 12);
  info->planar = get32(d + 16);
  info->bits_per_sample = get32(d + 20);
  info->samples = get32(d + 24);
  info->mask_samples = get32(d + 28);
  info->photometric = get32(d + 32);
  info->bytes_per_line = get32(d + 36);
  info->xres = getd(d + 40);
  info->yres = getd(d + 48);
  info->compression = get32(d + 56);
  info->format_word1 = size >= KLV_OUTIMG_INFO_BYTES ? get32(d + 60) : 0;
  if (!std::isfinite(info->xres) || info->xres < 0) info->xres = 0;
  if (!std::isfinite(info->yres) || info->yres < 0) info->yres = 0;

  const char* fault = nullptr;
  if (width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX)
    fault = "size out of range";
  else if (info->pages == 0 || info->pages > kOutMaxPages)
    fault = "page count out of range";
  else if (info->planar > KLV_PLANAR_LINES)
    fault = "unknown sample layout";
  else if (info->bits_per_sample == 0 || (info->bits_per_sample > 8 && info->bits_per_sample != 16))
    fault = "bits per sample not 1 to 8 or 16";
  else if (info->samples == 0 || info->mask_samples > kOutMaxSamples ||
           info->samples + info->mask_samples > kOutMaxSamples)
    fault = "sample count out of range";
  else if (info->photometric > KLV_PHOTO_CIELAB)
    fault = "unknown photometric";
  else if (info->photometric == KLV_PHOTO_PALETTE && info->samples != 1)
    fault = "palette image with more than one sample";
  if (!fault) {
    info->width = static_cast<int32_t>(width);
    info->height = static_cast<int32_t>(height);
    uint32_t expect = image_info_line_bytes(info);
    if (expect == 0 || expect > kOutMaxLineBytes)
      fault = "line too long";
    else if (info->bytes_per_line != expect)
      fault = "bytes per line disagree with the layout";
  }
  if (fault) {
    KLV_LOG(KLV_LOG_ERROR,
            "output image: description %ux%u, %u pages, layout %u, %u bits, %u+%u samples, "
            "photometric %u, %u bytes per line: %s",
            width, height, info->pages, info->planar, info->bits_per_sample, info->samples,
            info->mask_samples, info->photometric, info->bytes_per_line, fault);
    return false;
  }
  return true;
}

bool OutImage::Close() {
  bool ok = !(writing && write_failed);
  for (auto& [key, m] : members) {
    if (m.lzw && LZWDetach(m.lzw) != 0 && writing) ok = false;
    m.lzw = nullptr;
    if (m.stream && Oclose(m.stream) != 0 && writing) ok = false;
    m.stream = nullptr;
  }
  members.clear();
  if (volume && VClose(volume) != 0) ok = false;
  volume = nullptr;
  free_cmap(cmap);
  cmap = nullptr;
  return ok;
}

}  // namespace klv::img

using klv::img::OutImage;

extern "C" {

KLV_API void* outimg_open(const char* path, SOVolume* volume, const char* mode, image_info* info) {
  if (!path || !*path || !mode) return nullptr;
  if (std::strpbrk(mode, "a+")) {
    KLV_LOG(KLV_LOG_ERROR, "output image \"%s\": mode \"%s\" not supported", path, mode);
    return nullptr;
  }
  try {
    if (mode[0] == 'r') return klv::img::open_read(path, volume, info);
    if (mode[0] == 'w') return klv::img::open_write(path, volume, info);
    KLV_LOG(KLV_LOG_ERROR, "output image \"%s\": mode \"%s\" not supported", path, mode);
  } catch (const std::bad_alloc&) {
    KLV_LOG(KLV_LOG_ERROR, "output image \"%s\": out of memory", path);
  } catch (...) {
    KLV_LOG(KLV_LOG_ERROR, "output image \"%s\": unexpected failure", path);
  }
  return nullptr;
}

KLV_API image_cmap* outimg_get_cmap(void* state) {
  if (!state) return nullptr;
  return copy_cmap(static_cast<OutImage*>(state)->cmap);
}

KLV_API int32_t outimg_close(void* state) {
  if (!state) return 0;
  auto* img = static_cast<OutImage*>(state);
  bool ok = false;
  try {
    ok = img->Close();
  } catch (...) {
  }
  if (!ok) KLV_LOG(KLV_LOG_ERROR, "output image: written data was lost (the image is incomplete)");
  delete img;
  return ok ? 0 : -1;
}

KLV_API IMG_file* outimg_open_img(const char* path, SOVolume* volume, const char* mode,
                                  image_info* info) {
  image_info local;
  if (info)
    local = *info;
  else
    init_image_info(&local);
  void* state = outimg_open(path, volume, mode, &local);
  if (!state) return nullptr;
  auto* img = static_cast<IMG_file*>(std::calloc(1, sizeof(IMG_file)));
  if (!img) {
    outimg_close(state);
    return nullptr;
  }
  if (info) *info = local;
  img->handle = state;
  img->type = KLV_TYPE_OUTIMG;
  img->mode = mode[0];
  img->info = local;
  img->close = outimg_close;
  img->read_line = outimg_read_line;
  img->write_line = outimg_write_line;
  img->seek_line = outimg_seek_line;
  img->get_cmap = outimg_get_cmap;
  return img;
}

}  // extern "C"
