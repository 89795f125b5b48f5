// SPDX-License-Identifier: MIT
// The rows of the image type table and the recognition orders.
#include <algorithm>
#include <cstring>

#include "img/img_mux_table.h"
#include "klv/bmp.h"
#include "klv/imgmux.h"
#include "klv/outimg.h"
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

bool probe_volume(const uint8_t* h, size_t n) {
  return n >= 16 && std::memcmp(h, "SQLite format 3", 16) == 0;
}

// The TIFF opener takes the volume first.
void* open_tiff(const char* path, SOVolume* volume, const char* mode, image_info* info) {
  return tif_open(volume, path, mode, info);
}

// A row for a type whose reader is not built.
constexpr MuxType unbuilt(int32_t code, const char* name) {
  return MuxType{code,    name,    nullptr, nullptr, nullptr, nullptr, nullptr,
                 nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
}

const MuxType kTypes[] = {
    unbuilt(KLV_TYPE_POSTSCRIPT, "PostScript/PDF"),
    MuxType{KLV_TYPE_TIFF, "TIFF", probe_tiff, open_tiff, nullptr, tif_close, tif_read_line,
            tif_write_line, tif_seek_line, tif_get_cmap, tif_get_profile, tif_read_tile,
            tif_write_tile, tif_seek_tile},
    unbuilt(KLV_TYPE_TGA, "TGA"),
    unbuilt(KLV_TYPE_HS, "HS"),
    MuxType{KLV_TYPE_BMP, "BMP", probe_bmp, bmp_open, nullptr, bmp_close, bmp_read_line,
            bmp_write_line, bmp_seek_line, bmp_get_cmap, nullptr, nullptr, nullptr, nullptr},
    unbuilt(KLV_TYPE_JPEG, "JPEG"),
    unbuilt(KLV_TYPE_PSD, "PSD"),
    unbuilt(KLV_TYPE_GIF, "GIF"),
    unbuilt(KLV_TYPE_PCX, "PCX"),
    unbuilt(KLV_TYPE_EIJF, "extracted job image"),
    unbuilt(KLV_TYPE_JPEG2000, "JPEG 2000"),
    unbuilt(KLV_TYPE_PNG, "PNG"),
    unbuilt(KLV_TYPE_PCD, "Photo CD"),
    unbuilt(KLV_TYPE_LAYOUT_DOC, "layout document"),
    unbuilt(KLV_TYPE_MRSID, "MrSID"),
    unbuilt(KLV_TYPE_ECW, "ECW"),
    MuxType{KLV_TYPE_OUTIMG, "output image", probe_volume, outimg_open, nullptr, outimg_close,
            outimg_read_line, outimg_write_line, outimg_seek_line, outimg_get_cmap, nullptr,
            nullptr, nullptr, nullptr},
    MuxType{KLV_TYPE_NULLIMG, "null stream", nullptr, null_open, nullptr, null_close,
            null_read_line, null_write_line, null_seek_line, null_get_cmap, nullptr, nullptr,
            nullptr, nullptr},
    // The multiplexed stream is made from open streams, never opened by name.
    unbuilt(KLV_TYPE_MULTIMG, "multiplexed stream"),
    unbuilt(KLV_TYPE_LAYOUT_FILE, "layout file"),
    unbuilt(KLV_TYPE_DRAWN, "drawn layout object"),
    unbuilt(KLV_TYPE_OCF, "OCF image reference"),
    unbuilt(KLV_TYPE_TEMPLATE, "template image"),
    unbuilt(KLV_TYPE_PROC_INFO, "processed image"),
    unbuilt(KLV_TYPE_IMG_INFO, "processed image"),
    unbuilt(KLV_TYPE_REPEAT, "step-and-repeat"),
    unbuilt(KLV_TYPE_SWATCH, "swatch image"),
    unbuilt(KLV_TYPE_PS_PROXY, "PostScript (separate process)"),
    unbuilt(KLV_TYPE_SPOT, "spot-colour image"),
};

constexpr int32_t kOrderAll[] = {10, 20, 11, 12, 13, 62, 68, 14, 19, 34, 35, 30,
                                 2,  15, 16, 17, 18, 64, 65, 69, 54, 55, 61, 31};
constexpr int32_t kOrderNoPs[] = {10, 20, 11, 12, 13, 62, 68, 14, 19, 34, 35, 30,
                                  15, 16, 17, 18, 64, 65, 69, 54, 55, 61, 31};
constexpr int32_t kOrderDoc[] = {10, 62, 68, 60, 50, 54, 55};

}  // namespace

const MuxType* find_mux_type(int32_t code) {
  for (const auto& t : kTypes)
    if (t.code == code) return &t;
  return nullptr;
}

std::span<const MuxType> mux_types() {
  return kTypes;
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
