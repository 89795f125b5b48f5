// SPDX-License-Identifier: MIT
// The rows of the image type table and the recognition orders.
#include <algorithm>
#include <cstring>

#include "img/img_mux_table.h"
#include "img/lend_lines.h"
#include "klv/bmp.h"
#include "klv/gsimg.h"
#include "klv/imgmux.h"
#include "klv/jpeg.h"
#include "klv/pngimg.h"
#include "klv/tga.h"
#include "klv/outimg.h"
#include "klv/ocfimg.h"
#include "klv/repeat.h"
#include "klv/streams.h"
#include "klv/tiff.h"

namespace klv::img {
namespace {

bool probe_tiff(const uint8_t* h, size_t n) {
  if (n < 4) return false;
  const bool ii = h[0] == 'I' && h[1] == 'I' && (h[2] == 42 || h[2] == 43) && h[3] == 0;
  const bool mm = h[0] == 'M' && h[1] == 'M' && h[2] == 0 && (h[3] == 42 || h[3] == 43);
  return ii || mm;
}

bool probe_bmp(const uint8_t* h, size_t n) {
  return n >= 2 && h[0] == 'B' && h[1] == 'M';
}

bool probe_png(const uint8_t* h, size_t n) {
  static const uint8_t kSig[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  return n >= 8 && std::memcmp(h, kSig, 8) == 0;
}

bool probe_tga(const uint8_t* h, size_t n) {
  return tga_probe(h, n) != 0;
}

bool probe_jpeg(const uint8_t* h, size_t n) {
  return n >= 3 && h[0] == 0xFF && h[1] == 0xD8 && h[2] == 0xFF;
}

bool probe_volume(const uint8_t* h, size_t n) {
  return n >= 16 && std::memcmp(h, "SQLite format 3", 16) == 0;
}

// Settings text that begins with block `name` (lower case; letters in the
// file may be either case), after white space, or with a comment. A file too
// short to tell passes: the opener decides.
bool probe_settings_block(const uint8_t* h, size_t n, const char* name) {
  size_t i = 0;
  while (i < n && h[i] <= ' ') ++i;
  if (i < n && h[i] == ';') return true;
  for (; i < n && *name; ++i, ++name)
    if ((h[i] | 0x20) != *name && !(*name == '_' && h[i] == '_')) return false;
  return true;
}

// Step-and-repeat settings begin with their block name (or a comment).
bool probe_repeat(const uint8_t* h, size_t n) {
  return probe_settings_block(h, n, "repeat_setup");
}

bool probe_gs(const uint8_t* h, size_t n) {
  return gsimg_probe(h, n) != 0;
}

// Type 68 is opened by its code only: recognition leaves documents to type 2,
// so that type 1 (no PostScript) never renders one.
bool probe_never(const uint8_t*, size_t) {
  return false;
}

IMG_file* open_gs_proxy(const char* path, SOVolume* volume, const char* mode, image_info* info) {
  if (!mode || mode[0] != 'r') return nullptr;
  return gsimg_open_ex(path, volume, info, nullptr, KLV_TYPE_PS_PROXY);
}

// OCF references: settings text that begins with OCFImg, or a volume (its
// ".\\Info" member is checked by the opener).
bool probe_ocf(const uint8_t* h, size_t n) {
  return probe_volume(h, n) || probe_settings_block(h, n, "ocfimg");
}

void* open_ocf(const char* path, SOVolume* volume, const char* mode, image_info* info) {
  return ocfimg_open(path, volume, mode, info);
}

// The TIFF opener takes the volume first.
void* open_tiff(const char* path, SOVolume* volume, const char* mode, image_info* info) {
  return tif_open(volume, path, mode, info);
}

// A row for a type whose reader is not built.
constexpr MuxType unbuilt(int32_t code, const char* name) {
  return MuxType{.code = code, .name = name};
}

int32_t lend_filter(void* handle, const uint8_t** lines, int32_t count) {
  return filter_lend_lines(static_cast<filter_rec*>(handle), lines, count);
}

const MuxType kTypes[] = {
    // PDF, PostScript and EPS rendered by an interpreter child process.
    MuxType{.code = KLV_TYPE_POSTSCRIPT,
            .name = "PostScript/PDF",
            .probe = probe_gs,
            .open_img = gsimg_open},
    // Uncompressed TIFF on a host file lends its rows from the mapped file.
    MuxType{.code = KLV_TYPE_TIFF,
            .name = "TIFF",
            .probe = probe_tiff,
            .open = open_tiff,
            .close = tif_close,
            .read_line = tif_read_line,
            .write_line = tif_write_line,
            .seek_line = tif_seek_line,
            .get_cmap = tif_get_cmap,
            .get_profile = tif_get_profile,
            .read_tile = tif_read_tile,
            .write_tile = tif_write_tile,
            .seek_tile = tif_seek_tile,
            .lend_lines = tif_lend_lines},
    // TGA files have no signature: the probe checks that the header is one.
    MuxType{.code = KLV_TYPE_TGA,
            .name = "TGA",
            .probe = probe_tga,
            .open = tga_open,
            .close = tga_close,
            .read_line = tga_read_line,
            .write_line = tga_write_line,
            .seek_line = tga_seek_line,
            .get_cmap = tga_get_cmap},
    unbuilt(KLV_TYPE_HS, "HS"),
    MuxType{.code = KLV_TYPE_BMP,
            .name = "BMP",
            .probe = probe_bmp,
            .open = bmp_open,
            .close = bmp_close,
            .read_line = bmp_read_line,
            .write_line = bmp_write_line,
            .seek_line = bmp_seek_line,
            .get_cmap = bmp_get_cmap},
    MuxType{.code = KLV_TYPE_JPEG,
            .name = "JPEG",
            .probe = probe_jpeg,
            .open = jpg_open,
            .close = jpg_close,
            .read_line = jpg_read_line,
            .write_line = jpg_write_line,
            .seek_line = jpg_seek_line,
            .get_profile = jpg_get_profile},
    unbuilt(KLV_TYPE_PSD, "PSD"),
    unbuilt(KLV_TYPE_GIF, "GIF"),
    unbuilt(KLV_TYPE_PCX, "PCX"),
    unbuilt(KLV_TYPE_EIJF, "extracted job image"),
    unbuilt(KLV_TYPE_JPEG2000, "JPEG 2000"),
    MuxType{.code = KLV_TYPE_PNG,
            .name = "PNG",
            .probe = probe_png,
            .open = pngimg_open,
            .close = pngimg_close,
            .read_line = pngimg_read_line,
            .write_line = pngimg_write_line,
            .seek_line = pngimg_seek_line,
            .get_cmap = pngimg_get_cmap,
            .get_profile = pngimg_get_profile},
    unbuilt(KLV_TYPE_PCD, "Photo CD"),
    unbuilt(KLV_TYPE_LAYOUT_DOC, "layout document"),
    unbuilt(KLV_TYPE_MRSID, "MrSID"),
    unbuilt(KLV_TYPE_ECW, "ECW"),
    MuxType{.code = KLV_TYPE_OUTIMG,
            .name = "output image",
            .probe = probe_volume,
            .open = outimg_open,
            .close = outimg_close,
            .read_line = outimg_read_line,
            .write_line = outimg_write_line,
            .seek_line = outimg_seek_line,
            .get_cmap = outimg_get_cmap},
    MuxType{.code = KLV_TYPE_NULLIMG,
            .name = "null stream",
            .open = null_open,
            .close = null_close,
            .read_line = null_read_line,
            .write_line = null_write_line,
            .seek_line = null_seek_line,
            .get_cmap = null_get_cmap},
    // The multiplexed stream is made from open streams, never opened by name.
    unbuilt(KLV_TYPE_MULTIMG, "multiplexed stream"),
    unbuilt(KLV_TYPE_LAYOUT_FILE, "layout file"),
    unbuilt(KLV_TYPE_DRAWN, "drawn layout object"),
    MuxType{.code = KLV_TYPE_OCF,
            .name = "OCF image reference",
            .probe = probe_ocf,
            .open = open_ocf,
            .close = ocfimg_close,
            .read_line = ocfimg_read_line,
            .write_line = ocfimg_write_line,
            .seek_line = ocfimg_seek_line,
            .get_cmap = ocfimg_get_cmap},
    unbuilt(KLV_TYPE_TEMPLATE, "template image"),
    unbuilt(KLV_TYPE_PROC_INFO, "processed image"),
    unbuilt(KLV_TYPE_IMG_INFO, "processed image"),
    MuxType{.code = KLV_TYPE_REPEAT,
            .name = "step-and-repeat",
            .probe = probe_repeat,
            .open_img = repeat_open},
    unbuilt(KLV_TYPE_SWATCH, "swatch image"),
    MuxType{.code = KLV_TYPE_PS_PROXY,
            .name = "PostScript (separate process)",
            .probe = probe_never,
            .open_img = open_gs_proxy},
    unbuilt(KLV_TYPE_SPOT, "spot-colour image"),
};

// Recognition tries the readers with the surest signatures first.
constexpr int32_t kOrderAll[] = {
    KLV_TYPE_TIFF,        KLV_TYPE_PNG,       KLV_TYPE_TGA,      KLV_TYPE_HS,
    KLV_TYPE_BMP,         KLV_TYPE_PROC_INFO, KLV_TYPE_PS_PROXY, KLV_TYPE_JPEG,
    KLV_TYPE_JPEG2000,    KLV_TYPE_MRSID,     KLV_TYPE_ECW,      KLV_TYPE_PCD,
    KLV_TYPE_POSTSCRIPT,  KLV_TYPE_PSD,       KLV_TYPE_GIF,      KLV_TYPE_PCX,
    KLV_TYPE_EIJF,        KLV_TYPE_REPEAT,    KLV_TYPE_SWATCH,   KLV_TYPE_SPOT,
    KLV_TYPE_LAYOUT_FILE, KLV_TYPE_DRAWN,     KLV_TYPE_TEMPLATE, KLV_TYPE_LAYOUT_DOC};
// As kOrderAll without PostScript.
constexpr int32_t kOrderNoPs[] = {
    KLV_TYPE_TIFF,     KLV_TYPE_PNG,       KLV_TYPE_TGA,       KLV_TYPE_HS,
    KLV_TYPE_BMP,      KLV_TYPE_PROC_INFO, KLV_TYPE_PS_PROXY,  KLV_TYPE_JPEG,
    KLV_TYPE_JPEG2000, KLV_TYPE_MRSID,     KLV_TYPE_ECW,       KLV_TYPE_PCD,
    KLV_TYPE_PSD,      KLV_TYPE_GIF,       KLV_TYPE_PCX,       KLV_TYPE_EIJF,
    KLV_TYPE_REPEAT,   KLV_TYPE_SWATCH,    KLV_TYPE_SPOT,      KLV_TYPE_LAYOUT_FILE,
    KLV_TYPE_DRAWN,    KLV_TYPE_TEMPLATE,  KLV_TYPE_LAYOUT_DOC};
// Documents and the library's own containers, for reading or writing.
constexpr int32_t kOrderDoc[] = {KLV_TYPE_TIFF, KLV_TYPE_PROC_INFO, KLV_TYPE_PS_PROXY,
                                 KLV_TYPE_OCF,  KLV_TYPE_OUTIMG,    KLV_TYPE_LAYOUT_FILE,
                                 KLV_TYPE_DRAWN};

// Streams stacked over another carry the type of the stream below, so they
// are known by their line reader rather than by a row.
struct StackedLender {
  img_read_fn read_line;
  LendFn lend_lines;
};
const StackedLender kStackedLenders[] = {{filter_read_line, lend_filter}};

}  // namespace

const MuxType* find_mux_type(int32_t code) {
  for (const auto& t : kTypes)
    if (t.code == code) return &t;
  return nullptr;
}

std::span<const MuxType> mux_types() {
  return kTypes;
}

LendFn lend_operation(const IMG_file* img) {
  const MuxType* row = find_mux_type(img->type);
  if (row && row->lend_lines && row->read_line == img->read_line) return row->lend_lines;
  for (const auto& s : kStackedLenders)
    if (s.read_line == img->read_line) return s.lend_lines;
  return nullptr;
}

std::span<const int32_t> recognition_order(int32_t type) {
  switch (type) {
    case KLV_TYPE_RECOGNISE:
      return kOrderAll;
    case KLV_TYPE_RECOGNISE_NO_PS:
      return kOrderNoPs;
    case KLV_TYPE_RECOGNISE_DOC:
      return kOrderDoc;
    default:
      return {};
  }
}

}  // namespace klv::img

namespace klv::img {

size_t tile_bytes(const image_info& info) {
  const uint64_t tw = info.tile_words[KLV_TILE_WIDTH], th = info.tile_words[KLV_TILE_HEIGHT];
  const uint64_t per_pixel =
      (info.planar & 7) == KLV_PLANAR_PLANES
          ? info.bits_per_sample
          : uint64_t(info.samples + info.mask_samples) * info.bits_per_sample;
  const uint64_t computed = th * ((tw * per_pixel + 7) / 8);
  const uint64_t given = info.tile_words[TIF_TILE_BYTES];
  const uint64_t bytes = std::max(computed, given);
  return bytes > (uint64_t(1) << 31) ? 0 : static_cast<size_t>(bytes);
}

}  // namespace klv::img
