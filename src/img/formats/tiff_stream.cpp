// SPDX-License-Identifier: MIT
// TIFF files as image streams: the fields written and read, line and tile
// transfer with channel re-ordering, Lab conversion and sample reduction, and
// seeking.
#include <algorithm>
#include <array>
#include <iterator>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "img/formats/tiff_inks.h"
#include "img/formats/tiff_io.h"
#include "kernel/stream_map.h"
#include "klv/cimg_file.h"
#include "klv/image_limits.h"
#include "klv/kernel_memres.h"
#include "klv/log.h"
#include "klv/tiff.h"
#include "klv/kernel_util.h"

namespace {

using namespace klv::img::tiff;

constexpr uint64_t kMaxLineBytes = uint64_t{256} << 20;
constexpr const char* kSoftware = "KELV Tavlon Win32";
constexpr const char* kPrismoSoftware = "KELV Prismo RIP";
void* const kProfileInFile = reinterpret_cast<void*>(~uintptr_t{0});

enum class LabMode { kNone, kCie8, kCie16, kIcc16 };

bool iequals_prefix(const char* text, const char* prefix) {
  return Ostrnicmp(text, prefix, std::strlen(prefix)) == 0;
}

bool iequals(const std::string& a, const char* b) {
  return Ostricmp(a.c_str(), b) == 0;
}

// 16-bit Lab a/b: the library's unsigned form against the file's signed form,
// whose range is 255/256 of it. The file form has 65,281 steps for the
// library's 65,536, so some neighbouring values share a file value and a
// round trip can return a or b one off; L and 8-bit Lab come back exactly.
inline uint16_t lab16_to_file(uint16_t v) {
  return static_cast<uint16_t>(uint32_t{v} * 65280u / 65535u + 32768u);
}
inline uint16_t icc16_to_lib(uint16_t u) {
  uint32_t x = std::min<uint32_t>(u, 65280u);
  return static_cast<uint16_t>((x * 65535u + 65279u) / 65280u);
}
inline uint16_t lab16_to_lib(uint16_t v) {
  return icc16_to_lib(static_cast<uint16_t>(v - 32768u));
}

// What the stream knows of the page (the TIFF directory) it delivers; a
// new page starts from a fresh one.
struct TifPage {
  uint32_t width = 0, height = 0, bits = 0;
  uint32_t spp = 0;  // samples + mask_samples
  uint32_t samples = 0, spot = 0, mask = 0, mask_flag = 0;
  uint32_t layout = 0;  // 0 pixel, 1 planar, 2 line-interleaved
  bool tiled = false;
  bool separate = false;  // PlanarConfiguration 2 in the file
  uint32_t photometric = 0, hifi = 0, order_code = 0, compression = 0, copies = 0;
  double xres = 0, yres = 0;
  uint32_t line = 0, plane = 0, tile = 0;
  uint32_t line_bytes = 0;      // one delivered line
  uint32_t plane_row = 0;       // one sample's row, separate planes
  uint32_t file_line = 0;       // TIFFScanlineSize
  uint32_t rows_per_strip = 0;  // untiled files, clamped to 1..height
  uint32_t tile_w = 0, tile_h = 0, across = 0, down = 0, per_plane = 0;
  uint32_t tile_bytes = 0, file_tile = 0;
  LabMode lab = LabMode::kNone;
  int reduce_k = 0;
  std::array<uint8_t, 12> perm{};  // delivered channel k is file sample perm[k]
  bool permuted = false;
  std::vector<uint8_t> conv;
  // Decoded strips, one per file sample, so that separate planes gathered into
  // one line do not decode the same strip again.
  std::vector<std::unique_ptr<uint8_t[]>> strip;
  std::vector<size_t> strip_size;
  std::vector<int64_t> strip_index;
  std::vector<uint32_t> strip_rows;
  // Lending lines in place: 0 not yet checked, 1 possible, -1 not.
  int lend = 0;
  const uint8_t* lend_base = nullptr;  // the file's first row in the mapped file
  uint64_t lend_first = 0;             // its offset in the file
  uint64_t lend_kept = 0;              // rows' bytes before this are given back
  bool has_profile = false;
  std::string order_text, ink_names;
};

struct TifStream : TifPage {
  TIFF* tif = nullptr;
  Messages messages;  // libtiff's handlers' data; outlives the libtiff handle
  SOVolume* volume = nullptr;
  std::string path;
  char mode = 'r';
  uint64_t lines_written = 0;
  // Reading: the directory of each page (full-resolution images; reduced
  // copies such as thumbnails are left out), the page delivered, and the
  // first page's description, which every page is delivered as.
  std::vector<tdir_t> page_dirs;
  int32_t page = 0;
  image_info first{};

  ~TifStream() {
    if (tif) TIFFClose(tif);
  }
  uint32_t planes() const { return layout == 1 ? spp : 1; }
  uint32_t sample_bytes() const { return bits == 16 ? 2 : 1; }
};

TifStream* as_stream(void* p) {
  return static_cast<TifStream*>(p);
}

// ---- per-sample conversions on pixel data ----

// Re-orders the samples of `pixels` pixels: out[k] = in[table[k]] (to_file
// false) or out[table[k]] = in[k] (to_file true).
void permute_pixels(uint8_t* data, size_t pixels, uint32_t spp, uint32_t bytes,
                    const std::array<uint8_t, 12>& table, bool to_file) {
  uint8_t tmp[12 * 2];
  const size_t px = size_t{spp} * bytes;
  for (size_t i = 0; i < pixels; ++i, data += px) {
    std::memcpy(tmp, data, px);
    for (uint32_t k = 0; k < spp; ++k) {
      const uint32_t f = table[k];
      if (to_file)
        std::memcpy(data + f * bytes, tmp + k * bytes, bytes);
      else
        std::memcpy(data + k * bytes, tmp + f * bytes, bytes);
    }
  }
}

// Converts a and b of Lab samples: `count` values `stride` samples apart.
void convert_ab(uint8_t* data, size_t count, size_t stride, LabMode lab, bool to_file) {
  switch (lab) {
    case LabMode::kCie8:
      for (size_t i = 0; i < count; ++i) data[i * stride] ^= 0x80;
      break;
    case LabMode::kCie16:
    case LabMode::kIcc16: {
      auto* p = reinterpret_cast<uint16_t*>(data);
      for (size_t i = 0; i < count; ++i) {
        uint16_t& v = p[i * stride];
        if (to_file)
          v = lab16_to_file(v);
        else
          v = lab == LabMode::kCie16 ? lab16_to_lib(v) : icc16_to_lib(v);
      }
      break;
    }
    case LabMode::kNone:
      break;
  }
}

// Applies the conversions to `pixels` pixel-interleaved pixels.
void convert_pixels(TifStream& s, uint8_t* data, size_t pixels, bool to_file) {
  if (s.permuted && !to_file) permute_pixels(data, pixels, s.spp, s.sample_bytes(), s.perm, false);
  if (s.lab != LabMode::kNone) {
    const size_t step = s.sample_bytes();
    convert_ab(data + step, pixels, s.spp, s.lab, to_file);
    convert_ab(data + 2 * step, pixels, s.spp, s.lab, to_file);
  }
  if (s.permuted && to_file) permute_pixels(data, pixels, s.spp, s.sample_bytes(), s.perm, true);
}

// Applies the conversions to one row of delivered channel `channel`.
void convert_plane_row(TifStream& s, uint8_t* data, size_t pixels, uint32_t channel, bool to_file) {
  if (s.lab != LabMode::kNone && (channel == 1 || channel == 2))
    convert_ab(data, pixels, 1, s.lab, to_file);
}

void reduce_samples(uint8_t* data, size_t count, int k) {
  const int shift = 9 - k;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t v = data[i];
    data[i] = static_cast<uint8_t>((v >> shift) | (v != 0 ? 1 : 0));
  }
}

// ---- reading ----

// The strip holding row `row` of file sample `sample`. Computed here rather
// than by libtiff, whose strips-per-plane count is not yet right for separate
// planes before the first strip of a new file is written.
uint32_t strip_of(const TifStream& s, uint32_t row, uint32_t sample) {
  const uint32_t per_plane = (s.height + s.rows_per_strip - 1) / s.rows_per_strip;
  return row / s.rows_per_strip + (s.separate ? sample * per_plane : 0);
}

// The decoded row `row` of file sample `sample`, or null.
const uint8_t* strip_row(TifStream& s, uint32_t row, uint32_t sample) {
  const uint32_t index = strip_of(s, row, sample);
  const uint32_t rps = s.rows_per_strip;
  const uint32_t c = s.separate ? sample : 0;
  if (s.strip_index[c] != index) {
    s.strip_index[c] = -1;
    const tmsize_t size = TIFFStripSize(s.tif);
    if (size <= 0 || uint64_t(size) > kMaxLineBytes) {
      KLV_LOG(KLV_LOG_ERROR, "TIFF \"%s\": strips of %lld bytes are out of range", s.path.c_str(),
              static_cast<long long>(size));
      return nullptr;
    }
    // Not zero-filled: a lying file should cost no more than the allocation.
    if (s.strip_size[c] < size_t(size)) {
      s.strip[c].reset(new uint8_t[size_t(size)]);
      s.strip_size[c] = size_t(size);
    }
    const tmsize_t got = TIFFReadEncodedStrip(s.tif, index, s.strip[c].get(), size);
    if (got <= 0) return nullptr;
    s.strip_index[c] = index;
    s.strip_rows[c] = static_cast<uint32_t>(got / s.file_line);
  }
  const uint32_t r = row % rps;
  if (r >= s.strip_rows[c]) return nullptr;
  return s.strip[c].get() + size_t{r} * s.file_line;
}

// Row `row` of file sample `sample` into `out` (`bytes` bytes). Strips of one
// row are decoded straight into `out`; longer strips go through the strip
// cache.
bool read_row(TifStream& s, uint32_t row, uint32_t sample, uint8_t* out, uint32_t bytes) {
  if (s.rows_per_strip == 1) {
    return TIFFReadEncodedStrip(s.tif, strip_of(s, row, sample), out, bytes) == tmsize_t{bytes};
  }
  const uint8_t* src = strip_row(s, row, sample);
  if (!src) return false;
  std::memcpy(out, src, bytes);
  return true;
}

bool read_one_line(TifStream& s, uint8_t* out) {
  if (s.layout == 0) {
    if (!read_row(s, s.line, 0, out, s.line_bytes)) return false;
    convert_pixels(s, out, s.width, false);
    return true;
  }
  if (s.layout == 1) {
    if (!read_row(s, s.line, s.separate ? s.perm[s.plane] : 0, out, s.line_bytes)) return false;
    convert_plane_row(s, out, s.width, s.plane, false);
    return true;
  }
  for (uint32_t p = 0; p < s.spp; ++p) {
    uint8_t* dst = out + size_t{p} * s.plane_row;
    if (!read_row(s, s.line, s.separate ? s.perm[p] : 0, dst, s.plane_row)) return false;
    convert_plane_row(s, dst, s.width, p, false);
  }
  return true;
}

// Whether the delivered lines are the file's bytes as they stand, one row
// after another: then they can be lent straight from the mapped file. Every
// strip must lie where the one before ends and hold all its rows, and the
// rows must end inside the mapping.
SFilemux* file_of(const TifStream& s) {
  return static_cast<SFilemux*>(TIFFClientdata(s.tif));
}

bool can_lend(TifStream& s) {
  if (s.lend) return s.lend > 0;
  s.lend = -1;
  uint16_t fill = FILLORDER_MSB2LSB;
  TIFFGetFieldDefaulted(s.tif, TIFFTAG_FILLORDER, &fill);
  if (s.mode != 'r' || s.tiled || s.layout != 0 || (s.separate && s.spp > 1) ||
      s.compression != 0 || s.permuted || s.lab != LabMode::kNone || fill != FILLORDER_MSB2LSB ||
      (s.bits == 16 && TIFFIsByteSwapped(s.tif)) || s.file_line != s.line_bytes)
    return false;
  int64_t length = 0;
  const uint8_t* base = klv::kernel::map_all(file_of(s), &length);
  if (!base) return false;
  const uint32_t strips = (s.height + s.rows_per_strip - 1) / s.rows_per_strip;
  const uint64_t first = TIFFGetStrileOffset(s.tif, 0);
  const uint64_t strip_bytes = uint64_t(s.rows_per_strip) * s.file_line;
  for (uint32_t i = 0; i < strips; ++i) {
    const uint32_t rows = std::min(s.rows_per_strip, s.height - i * s.rows_per_strip);
    if (TIFFGetStrileOffset(s.tif, i) != first + i * strip_bytes ||
        TIFFGetStrileByteCount(s.tif, i) < uint64_t(rows) * s.file_line)
      return false;
  }
  if (first + uint64_t(s.height) * s.file_line > uint64_t(length)) return false;
  s.lend_base = base + first;
  s.lend_first = first;
  s.lend_kept = 0;
  s.lend = 1;
  return true;
}

// Row `row` of file sample `sample` from `data` (`bytes` bytes). Strips of one
// row are written whole, which leaves `data` untouched (libtiff differences a
// copy) and moves uncompressed rows to the file without a copy; longer strips
// are filled row by row, and there libtiff's differencing alters `data`.
bool write_row(TifStream& s, uint32_t row, uint32_t sample, const uint8_t* data, uint32_t bytes) {
  const auto smp = static_cast<uint16_t>(sample);
  if (s.rows_per_strip == 1) {
    return TIFFWriteEncodedStrip(s.tif, strip_of(s, row, sample), const_cast<uint8_t*>(data),
                                 bytes) == tmsize_t{bytes};
  }
  return TIFFWriteScanline(s.tif, const_cast<uint8_t*>(data), row, smp) == 1;
}

bool write_one_line(TifStream& s, const uint8_t* in) {
  // The caller's line is copied only when it must change on its way: samples
  // converted or reduced, or differenced in place by libtiff.
  const bool differenced = s.compression != 0 && (s.bits == 8 || s.bits == 16);
  const bool alters = s.rows_per_strip != 1 && differenced;
  const bool copy = s.permuted || s.lab != LabMode::kNone || s.reduce_k || alters;
  auto prepare = [&](const uint8_t* src, size_t bytes) -> const uint8_t* {
    if (!copy) return src;
    s.conv.assign(src, src + bytes);
    return s.conv.data();
  };
  if (s.layout == 0) {
    const uint8_t* buf = prepare(in, s.line_bytes);
    if (copy) {
      convert_pixels(s, s.conv.data(), s.width, true);
      if (s.reduce_k) reduce_samples(s.conv.data(), s.line_bytes, s.reduce_k);
    }
    return write_row(s, s.line, 0, buf, s.line_bytes);
  }
  const uint32_t first = s.layout == 1 ? s.plane : 0;
  const uint32_t last = s.layout == 1 ? s.plane + 1 : s.spp;
  for (uint32_t p = first; p < last; ++p) {
    const uint8_t* src = s.layout == 1 ? in : in + size_t{p} * s.plane_row;
    const uint8_t* buf = prepare(src, s.plane_row);
    if (copy) {
      convert_plane_row(s, s.conv.data(), s.width, p, true);
      if (s.reduce_k) reduce_samples(s.conv.data(), s.plane_row, s.reduce_k);
    }
    if (!write_row(s, s.line, s.separate ? s.perm[p] : 0, buf, s.plane_row)) return false;
  }
  return true;
}

// ---- opening for writing ----

std::string channel_names(const TifStream& s, uint32_t colours, bool light) {
  std::string names;
  const char* list = ink_list(colours, s.hifi, light);
  if (list) names = list;
  const bool prefix_n = light && !list;
  auto add = [&](const std::string& base, uint32_t n) {
    std::string name = base + (n ? std::to_string(n) : "");
    if (names.empty() && prefix_n) name = "N" + name;
    if (!names.empty()) names += '\t';
    names += name;
  };
  for (uint32_t i = 0; i < s.spot; ++i) add("Spot", i);
  uint32_t extras = s.mask;
  if (s.mask_flag && extras > 0) {
    add("Mask", 0);
    --extras;
  }
  for (uint32_t i = 0; i < extras; ++i) add("Extra", i);
  return names;
}

bool set_ink_names(TIFF* tif, const std::string& tabbed) {
  std::string nul = tabbed;
  std::replace(nul.begin(), nul.end(), '\t', '\0');
  nul.push_back('\0');
  return TIFFSetField(tif, TIFFTAG_INKNAMES, static_cast<int>(nul.size()), nul.c_str()) == 1;
}

// Stage 1 of writing: what in the description the file cannot hold, or null.
const char* write_fault(const image_info* info) {
  const uint32_t bits = info->bits_per_sample;
  const uint32_t total = info->samples + info->mask_samples;
  const uint32_t colours = info->samples - std::min(info->spot_samples, info->samples);
  const bool palette = info->photometric == KLV_PHOTO_PALETTE;
  const bool lab = info->photometric == KLV_PHOTO_CIELAB;
  if (info->width < 1 || info->height < 1) return "no size";
  if (bits == 0 || (bits > 8 && bits != 16)) return "bits per sample";
  if (info->samples == 0 || total > 12 || info->spot_samples > info->samples)
    return "sample counts";
  if (colours > 7 || colours == 2) return "colour sample count";
  if (info->photometric > KLV_PHOTO_CIELAB) return "photometric";
  if (palette && (info->samples != 1 || info->spot_samples || bits > 8 || !info->cmap))
    return "palette image";
  if (lab && (info->spot_samples || (bits != 8 && bits != 16) || colours != 3)) return "Lab image";
  return nullptr;
}

// Stage 2: the stream's record of what it writes, and the line sizes.
bool take_description(TifStream& s, const image_info* info) {
  s.width = static_cast<uint32_t>(info->width);
  s.height = static_cast<uint32_t>(info->height);
  s.bits = info->bits_per_sample;
  s.spp = info->samples + info->mask_samples;
  s.samples = info->samples;
  s.spot = info->spot_samples;
  s.mask = info->mask_samples;
  s.mask_flag = info->format_word1 && s.mask ? 1 : 0;
  s.tiled = (info->planar & KLV_PLANAR_TILED) != 0;
  s.layout = info->planar & ~uint32_t{KLV_PLANAR_TILED};
  if (s.layout > 2) {
    KLV_LOG(KLV_LOG_ERROR, "TIFF \"%s\": unknown sample layout %u", s.path.c_str(), s.layout);
    return false;
  }
  s.photometric = info->photometric;
  s.hifi = info->hifi_mode;
  s.order_code = info->format_word2;
  s.copies = info->format_words[0];
  s.compression = info->compression;
  s.line_bytes = image_info_line_bytes(info);
  s.plane_row = static_cast<uint32_t>((uint64_t{s.bits} * s.width + 7) / 8);
  if (s.line_bytes == 0 || s.line_bytes > kMaxLineBytes) {
    KLV_LOG(KLV_LOG_ERROR, "TIFF \"%s\": lines of %u bytes are out of range", s.path.c_str(),
            s.line_bytes);
    return false;
  }
  return true;
}

// Stage 3: size, samples, profile, extra samples, and the strip or tile
// layout (one line per strip when the option word asks, or for
// line-interleaved data).
bool write_layout(TifStream& s, const image_info* info) {
  TIFF* tif = s.tif;
  TIFFSetField(tif, TIFFTAG_SUBFILETYPE, 0);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, s.width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, s.height);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, s.bits);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, s.spp);
  if (info->profile_word && info->profile_word != kProfileInFile) {
    const auto* p = static_cast<const image_profile*>(info->profile_word);
    TIFFSetField(tif, TIFFTAG_ICCPROFILE, p->size, p->data);
  }
  const uint32_t extras = s.spot + s.mask;
  if (extras > 0) {
    std::vector<uint16_t> types(extras, EXTRASAMPLE_UNSPECIFIED);
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, static_cast<uint16_t>(extras), types.data());
  }
  if (!s.tiled) {
    s.separate = !(s.layout == 0 || s.spp == 1);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG,
                 s.separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    uint32_t rps = std::max<uint32_t>(32767 / (s.layout == 0 ? s.line_bytes : s.plane_row), 1);
    if (info->format_words[1] != 0 || s.layout == 2) rps = 1;
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rps);
    s.rows_per_strip = std::min(rps, s.height);
    return true;
  }
  s.tile_w = info->tile_words[KLV_TILE_WIDTH];
  s.tile_h = info->tile_words[KLV_TILE_HEIGHT];
  s.separate = s.layout != 0;
  const uint64_t tile_row_bits = uint64_t{s.tile_w} * s.bits * (s.separate ? 1 : s.spp);
  if (!s.tile_w || !s.tile_h || info->tile_words[KLV_TILE_XOFFSET] ||
      info->tile_words[KLV_TILE_YOFFSET] || tile_row_bits % 8 != 0) {
    KLV_LOG(KLV_LOG_ERROR, "TIFF \"%s\": tile size %ux%u (offsets %u,%u) cannot be written",
            s.path.c_str(), s.tile_w, s.tile_h, info->tile_words[KLV_TILE_XOFFSET],
            info->tile_words[KLV_TILE_YOFFSET]);
    return false;
  }
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, s.separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_TILEWIDTH, s.tile_w);
  TIFFSetField(tif, TIFFTAG_TILELENGTH, s.tile_h);
  return true;
}

// Stage 4: resolutions (100 when absent), Software and the copy count.
void write_resolution_and_texts(TifStream& s, const image_info* info) {
  TIFF* tif = s.tif;
  s.xres = info->xres != 0 ? info->xres : 100;
  s.yres = info->yres != 0 ? info->yres : s.xres;
  TIFFSetField(tif, TIFFTAG_XRESOLUTION, s.xres);
  TIFFSetField(tif, TIFFTAG_YRESOLUTION, s.yres);
  TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  TIFFSetField(tif, TIFFTAG_SOFTWARE, kSoftware);
  if (s.copies) {
    const std::string text = "Data for " + std::to_string(s.copies) + " copies";
    TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, text.c_str());
  }
}

// Stage 5: TargetPrinter, the channel order and the line-interleaved marker.
// Refuses an order that does not fit the samples.
bool write_target_printer(TifStream& s, const char* color_order) {
  static const char* const kOrders[] = {"WRGB", "WRMGBA", "BAGRMW"};
  if (s.order_code >= 1 && s.order_code <= 3) {
    s.order_text = kOrders[s.order_code - 1];
  } else if (s.order_code == 4) {
    if (!color_order || !*color_order) {
      KLV_LOG(KLV_LOG_ERROR, "TIFF \"%s\": custom colour order without its text", s.path.c_str());
      return false;
    }
    s.order_text = color_order;
  } else if (s.order_code != 0) {
    KLV_LOG(KLV_LOG_ERROR, "TIFF \"%s\": unknown colour-order code %u", s.path.c_str(),
            s.order_code);
    return false;
  }
  std::string target;
  if (s.order_code) {
    target = (s.order_code == 4 ? "CO=" : "") + s.order_text;
    if (!build_color_order(s.order_text, s.spp, &s.perm)) {
      KLV_LOG(KLV_LOG_ERROR, "TIFF \"%s\": colour order \"%s\" does not fit %u samples",
              s.path.c_str(), s.order_text.c_str(), s.spp);
      return false;
    }
    s.permuted = true;
    if (s.layout == 0 && s.bits != 8 && s.bits != 16) {
      KLV_LOG(KLV_LOG_ERROR, "TIFF \"%s\": a colour order needs 8- or 16-bit samples",
              s.path.c_str());
      return false;
    }
  } else {
    for (size_t k = 0; k < s.perm.size(); ++k) s.perm[k] = static_cast<uint8_t>(k);
  }
  if (s.layout == 2) target = target.empty() ? "LineInt" : target + " - LineInt";
  if (!target.empty()) TIFFSetField(s.tif, TIFFTAG_TARGETPRINTER, target.c_str());
  return true;
}

// Stage 6: Photometric, and the ink set and names that say what each channel is.
void write_photometric(TifStream& s, const image_info* info, const char* ink_names) {
  TIFF* tif = s.tif;
  const uint32_t colours = info->samples - std::min(info->spot_samples, info->samples);
  const bool light = info->photometric == KLV_PHOTO_MINBLACK;
  const bool others = s.spot || s.mask;
  const bool caller_names = (info->format_words[1] & TIF_OPT_INK_NAMES) && ink_names &&
                            split_names(ink_names).size() == s.spp;
  if (info->photometric == KLV_PHOTO_PALETTE) {
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE);
    const uint32_t entries = 1u << s.bits;
    std::vector<uint16_t> map(size_t{entries} * 3, 0);
    for (uint32_t c = 0; c < 3; ++c)
      for (uint32_t i = 0; i < entries && i < info->cmap->entries; ++i)
        if (info->cmap->channel[c]) map[c * entries + i] = info->cmap->channel[c][i] * 257;
    TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data() + entries, map.data() + 2 * entries);
  } else if (info->photometric == KLV_PHOTO_CIELAB) {
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_CIELAB);
    s.lab = s.bits == 8 ? LabMode::kCie8 : LabMode::kCie16;
  } else if (caller_names) {
    s.ink_names = ink_names;
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, light ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_INKSET, INKSET_MULTIINK);
    set_ink_names(tif, s.ink_names);
  } else if (colours == 1 && !others) {
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, light ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_MINISWHITE);
  } else if (colours == 3 && light && !others) {
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  } else if (colours == 4 && !light && !others) {
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_SEPARATED);
    TIFFSetField(tif, TIFFTAG_INKSET, INKSET_CMYK);
  } else {
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_SEPARATED);
    TIFFSetField(tif, TIFFTAG_INKSET, INKSET_MULTIINK);
    s.ink_names = channel_names(s, colours, light);
    if (!s.ink_names.empty()) set_ink_names(tif, s.ink_names);
  }
}

// Stage 7: compression, differencing, and the sample reduction of the
// reduced modes (8-bit samples other than palette indices).
void write_compression(TifStream& s, bool palette) {
  TIFF* tif = s.tif;
  if (s.compression == 0) {
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    return;
  }
  TIFFSetField(
      tif, TIFFTAG_COMPRESSION,
      (s.compression & TIF_COMPRESS_DEFLATE) ? COMPRESSION_ADOBE_DEFLATE : COMPRESSION_LZW);
  if (s.bits == 8 || s.bits == 16) TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  const uint32_t low = s.compression & 0xff;
  if (low >= 2 && low <= 5 && !palette && s.bits == 8) s.reduce_k = static_cast<int>(low);
}

// Stage 8: the sizes libtiff works out from the fields, and the description
// as written.
void finish_write(TifStream& s, image_info* info) {
  TIFF* tif = s.tif;
  s.file_line = static_cast<uint32_t>(TIFFScanlineSize(tif));
  if (s.tiled) {
    s.across = (s.width + s.tile_w - 1) / s.tile_w;
    s.down = (s.height + s.tile_h - 1) / s.tile_h;
    s.per_plane = s.across * s.down;
    s.file_tile = static_cast<uint32_t>(TIFFTileSize(tif));
    s.tile_bytes = s.layout == 2 ? s.file_tile * s.spp : s.file_tile;
  }
  info->pages = 1;
  info->bytes_per_line = s.line_bytes;
  info->format_word1 = s.mask_flag;
  if (s.tiled) {
    info->tile_words[KLV_TILE_ACROSS] = s.across;
    info->tile_words[KLV_TILE_DOWN] = s.down;
    info->tile_words[KLV_TILE_PER_PLANE] = s.per_plane;
    info->tile_words[TIF_TILE_BYTES] = s.tile_bytes;
  }
}

// The description was checked with write_fault before the file was created.
bool open_write(TifStream& s, image_info* info, const char* color_order, const char* ink_names) {
  if (!take_description(s, info) || !write_layout(s, info)) return false;
  write_resolution_and_texts(s, info);
  if (!write_target_printer(s, color_order)) return false;
  write_photometric(s, info, ink_names);
  write_compression(s, info->photometric == KLV_PHOTO_PALETTE);
  finish_write(s, info);
  return true;
}

// ---- opening for reading ----

// The ExtraSamples count as stored in the current directory, or -1. libtiff
// widens it for a gray photometric with more than one sample (every channel
// after the first becomes extra); the writer's own count keeps the split of a
// caller-named ink set into colour and other channels.
int stored_extra_samples(TIFF* tif) {
  auto* stream = static_cast<SFilemux*>(TIFFClientdata(tif));
  const bool big = TIFFIsBigTIFF(tif) != 0;
  const bool swap = TIFFIsByteSwapped(tif) != 0;
  auto value = [swap](const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= uint64_t{p[swap ? bytes - 1 - i : i]} << (8 * i);
    return v;
  };
  uint8_t buf[20];
  const int count_bytes = big ? 8 : 2;
  const size_t entry_bytes = big ? 20 : 12;
  if (Oseeki64(stream, static_cast<int64_t>(TIFFCurrentDirOffset(tif)), 0) != 0 ||
      Oread(stream, buf, size_t(count_bytes)) != size_t(count_bytes))
    return -1;
  const uint64_t entries = std::min<uint64_t>(value(buf, count_bytes), 4096);
  for (uint64_t i = 0; i < entries; ++i) {
    if (Oread(stream, buf, entry_bytes) != entry_bytes) return -1;
    if (value(buf, 2) == TIFFTAG_EXTRASAMPLES) {
      const uint64_t n = value(buf + 4, big ? 8 : 4);
      return n <= 12 ? static_cast<int>(n) : -1;
    }
  }
  return 0;
}

// The fields of the current directory that decide the layout of the data.
struct ReadFields {
  uint32_t width = 0, height = 0;
  uint16_t photo = 0, bits = 1, spp = 1, planar = PLANARCONFIG_CONTIG, comp = COMPRESSION_NONE;
  uint16_t extra_count = 0;
  uint16_t* extra_types = nullptr;
};

// Stage 1: size, photometric, sample format, layout and compression. Refuses
// what the stream cannot deliver.
bool read_layout(TifStream& s, ReadFields* f) {
  TIFF* tif = s.tif;
  if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &f->width) ||
      !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &f->height) || f->width == 0 || f->height == 0 ||
      f->width > INT32_MAX || f->height > INT32_MAX) {
    KLV_LOG(KLV_LOG_ERROR, "TIFF \"%s\": no usable image size", s.path.c_str());
    return false;
  }
  if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &f->photo)) {
    KLV_LOG(KLV_LOG_ERROR, "TIFF \"%s\": no Photometric field", s.path.c_str());
    return false;
  }
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &f->bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &f->spp);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &f->planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &f->comp);
  TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &f->extra_count, &f->extra_types);
  if (f->bits == 0 || (f->bits > 8 && f->bits != 16) || f->spp == 0 || f->spp > 12) {
    KLV_LOG(KLV_LOG_ERROR, "TIFF \"%s\": %u samples of %u bits are not supported", s.path.c_str(),
            f->spp, f->bits);
    return false;
  }
  s.width = f->width;
  s.height = f->height;
  s.bits = f->bits;
  s.spp = f->spp;
  s.tiled = TIFFIsTiled(tif) != 0;
  s.separate = f->planar == PLANARCONFIG_SEPARATE && f->spp > 1;
  s.layout = f->planar == PLANARCONFIG_SEPARATE ? 1 : 0;
  s.compression = f->comp == COMPRESSION_NONE ? 0
                  : (f->comp == COMPRESSION_ADOBE_DEFLATE || f->comp == COMPRESSION_DEFLATE)
                      ? TIF_COMPRESS_DEFLATE
                      : 1;
  return true;
}

// Stage 2: the copy count (ImageDescription "Data for N copies"), and from
// TargetPrinter the channel order and line interleaving.
void read_copies_and_order(TifStream& s) {
  TIFF* tif = s.tif;
  const char* text = nullptr;
  if (TIFFGetField(tif, TIFFTAG_IMAGEDESCRIPTION, &text) && text &&
      iequals_prefix(text, "Data for "))
    s.copies = static_cast<uint32_t>(std::strtoul(text + 9, nullptr, 10));
  for (size_t k = 0; k < s.perm.size(); ++k) s.perm[k] = static_cast<uint8_t>(k);
  if (!TIFFGetField(tif, TIFFTAG_TARGETPRINTER, &text) || !text) return;
  static const char* const kOrders[] = {"WRGB", "WRMGBA", "BAGRMW"};
  for (uint32_t i = 0; i < 3 && !s.order_code; ++i)
    if (iequals_prefix(text, kOrders[i])) {
      s.order_code = i + 1;
      s.order_text = kOrders[i];
    }
  if (!s.order_code && iequals_prefix(text, "CO=")) {
    s.order_code = 4;
    s.order_text = text + 3;
    s.order_text = s.order_text.substr(0, s.order_text.find_first_of(" \t"));
  }
  if (s.order_code) {
    const bool usable = (s.layout != 0 || s.bits == 8 || s.bits == 16) &&
                        build_color_order(s.order_text, s.spp, &s.perm);
    if (usable) {
      s.permuted = true;
    } else {
      KLV_LOG(KLV_LOG_WARNING, "TIFF \"%s\": colour order \"%s\" ignored for %u samples",
              s.path.c_str(), s.order_text.c_str(), s.spp);
      for (size_t k = 0; k < s.perm.size(); ++k) s.perm[k] = static_cast<uint8_t>(k);
    }
  }
  if (std::strstr(text, "LineInt")) {
    if (s.layout == 1 || s.spp == 1)
      s.layout = 2;
    else
      KLV_LOG(KLV_LOG_WARNING, "TIFF \"%s\": \"LineInt\" ignored on interleaved samples",
              s.path.c_str());
  }
}

// How the samples of a pixel divide into colours and other channels, and the
// order in which they are delivered (delivered k is file sample order[k]).
struct Channels {
  uint32_t extra = 0;  // ExtraSamples, at most the samples
  uint32_t colours = 0;
  bool light = false;
  bool named = false;  // InkNames decided the colours
  std::vector<std::string> names;
  uint32_t order[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  bool reordered = false;
};

// Stage 3: the ink names (InkSet and InkNames) and what they say about the
// colour channels.
void read_ink_names(TifStream& s, const ReadFields& f, Channels* c) {
  TIFF* tif = s.tif;
  c->extra = std::min<uint32_t>(f.extra_count, f.spp);
  c->colours = f.spp - c->extra;
  c->light = f.photo == PHOTOMETRIC_MINISBLACK || f.photo == PHOTOMETRIC_RGB;
  uint16_t inkset = INKSET_CMYK;
  TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &inkset);
  char* raw_names = nullptr;
  if (TIFFGetField(tif, TIFFTAG_INKNAMES, &raw_names) && raw_names) {
    // The names are NUL-separated; libtiff counts them into NumberOfInks.
    uint16_t inks = 1;
    TIFFGetField(tif, TIFFTAG_NUMBEROFINKS, &inks);
    std::string joined;
    const char* p = raw_names;
    for (uint32_t i = 0; i < std::min<uint32_t>(inks, f.spp); ++i) {
      if (i) joined += '\t';
      joined += p;
      p += std::strlen(p) + 1;
    }
    s.ink_names = joined;
    c->names = split_names(joined);
  }
  if (f.photo == PHOTOMETRIC_SEPARATED && inkset == INKSET_MULTIINK && !s.ink_names.empty()) {
    InkMatch m;
    if (match_ink_list(s.ink_names, &m)) {
      c->colours = m.colours;
      c->light = m.light;
      s.hifi = m.hifi_mode;
    } else {
      c->colours = f.spp - c->extra;
      c->light = s.ink_names[0] == 'N';
    }
    c->named = true;
  } else if (!s.ink_names.empty() &&
             (f.photo == PHOTOMETRIC_MINISWHITE || f.photo == PHOTOMETRIC_MINISBLACK)) {
    c->named = true;  // names the writer's caller supplied
    const int stored = f.spp > 1 ? stored_extra_samples(tif) : -1;
    if (stored >= 0 && uint32_t(stored) < f.spp) c->colours = f.spp - uint32_t(stored);
  }
  c->colours = std::min(c->colours, uint32_t{f.spp});
}

// Photoshop's alpha-channel names: the mask, extended-gamut colours and spot
// channels among the `beyond` channels after the colours.
void split_by_photoshop_names(TifStream& s, const std::vector<std::string>& ps, uint32_t beyond,
                              Channels* c) {
  int mask_at = -1;
  int found[4] = {-1, -1, -1, -1};  // RED, ORANGE, GREEN, BLUE
  static const char* const kHifi[4] = {"RED", "ORANGE", "GREEN", "BLUE"};
  for (uint32_t j = 0; j < beyond && j < ps.size(); ++j) {
    if (mask_at < 0 && (iequals(ps[j], "MASK") || iequals(ps[j], "Transparency"))) {
      mask_at = int(j);
      continue;
    }
    for (int k = 0; k < 4; ++k)
      if (found[k] < 0 && iequals(ps[j], kHifi[k])) found[k] = int(j);
  }
  std::vector<int> hifi_channels;
  if (c->colours == 4) {
    const int R = found[0], O = found[1], G = found[2], B = found[3];
    struct Rule {
      std::vector<int> ch;
      uint32_t mode;
    };
    const Rule rules[] = {{{R, G, B}, 0}, {{O, G, B}, 1}, {{G, B}, 1}, {{O, G}, 0},
                          {{O, B}, 2},    {{R, B}, 3},    {{R}, 0},    {{O}, 1}};
    for (const Rule& r : rules) {
      if (std::all_of(r.ch.begin(), r.ch.end(), [](int ch) { return ch >= 0; })) {
        hifi_channels = r.ch;
        s.hifi = r.mode;
        break;
      }
    }
  }
  const uint32_t colours = c->colours;
  uint32_t k = colours;
  for (int ch : hifi_channels) c->order[k++] = colours + uint32_t(ch);
  for (uint32_t j = 0; j < beyond; ++j) {
    if (int(j) == mask_at ||
        std::find(hifi_channels.begin(), hifi_channels.end(), int(j)) != hifi_channels.end())
      continue;
    c->order[k++] = colours + j;
  }
  if (mask_at >= 0) c->order[k++] = colours + uint32_t(mask_at);
  c->colours += static_cast<uint32_t>(hifi_channels.size());
  s.mask = mask_at >= 0 ? 1 : 0;
  s.mask_flag = s.mask;
  s.spot = s.spp - c->colours - s.mask;
  for (uint32_t j = 0; j < s.spp; ++j) c->reordered |= c->order[j] != j;
}

// Without ink names: Photoshop's names, an RGB image's fourth sample, or
// alpha channels declared as such decide the mask and spot channels.
void split_unnamed(TifStream& s, const ReadFields& f, uint32_t beyond, Channels* c) {
  TIFF* tif = s.tif;
  const char* software = nullptr;
  TIFFGetField(tif, TIFFTAG_SOFTWARE, &software);
  const bool prismo =
      software && std::strcmp(software, kPrismoSoftware) == 0 && c->extra == 1 && f.spp == 5;
  if (prismo) return;
  uint32_t ps_size = 0;
  uint8_t* ps_data = nullptr;
  std::vector<std::string> ps;
  if (s.layout == 0 && (f.bits == 8 || f.bits == 16) &&
      TIFFGetField(tif, TIFFTAG_PHOTOSHOP, &ps_size, &ps_data))
    ps = photoshop_alpha_names(ps_data, ps_size);
  if (!ps.empty() && beyond > 0) {
    split_by_photoshop_names(s, ps, beyond, c);
  } else if (f.photo == PHOTOMETRIC_RGB && f.spp == 4) {
    c->colours = 3;
    s.spot = 0;
    s.mask = 1;
    s.mask_flag = 1;
  } else if (f.extra_types) {
    // Alpha channels declared as such at the end of the pixel are masks.
    uint32_t alphas = 0;
    for (int j = int(c->extra) - 1; j >= 0; --j) {
      if (f.extra_types[j] != EXTRASAMPLE_ASSOCALPHA && f.extra_types[j] != EXTRASAMPLE_UNASSALPHA)
        break;
      ++alphas;
    }
    alphas = std::min(alphas, beyond);
    s.mask = alphas;
    s.mask_flag = alphas ? 1 : 0;
    s.spot = beyond - alphas;
  }
}

// Stage 4: the channels after the colours become spot, mask and extra
// channels, from the names or the other signs a file carries.
void split_channels(TifStream& s, const ReadFields& f, Channels* c) {
  const uint32_t beyond = f.spp - c->colours;
  s.spot = beyond;
  s.mask = 0;
  if (f.photo == PHOTOMETRIC_PALETTE || f.photo == PHOTOMETRIC_CIELAB ||
      f.photo == PHOTOMETRIC_ICCLAB) {
    s.spot = 0;
    s.mask = beyond;
  } else if (c->named && c->names.size() == f.spp) {
    // Trailing names: spot channels first, then the mask and extra channels.
    uint32_t i = 0;
    while (i < beyond) {
      const std::string& n = c->names[c->colours + i];
      if (n.find("Mask") != std::string::npos || n.rfind("Extra", 0) == 0 ||
          n.rfind("NExtra", 0) == 0)
        break;
      ++i;
    }
    s.spot = i;
    s.mask = beyond - i;
    for (uint32_t k = i; k < beyond; ++k)
      if (c->names[c->colours + k].find("Mask") != std::string::npos) s.mask_flag = 1;
  } else {
    split_unnamed(s, f, beyond, c);
  }
  if (c->reordered) {
    // Combine with the colour order: delivered k takes file sample perm[order[k]].
    std::array<uint8_t, 12> combined{};
    for (uint32_t k = 0; k < 12; ++k) combined[k] = s.perm[c->order[k]];
    s.perm = combined;
    s.permuted = true;
  }
  s.samples = c->colours + s.spot;
}

// Stage 5: the library's photometric code and Lab conversion. Refuses
// photometric interpretations the stream cannot deliver.
bool map_photometric(TifStream& s, const ReadFields& f, bool light) {
  switch (f.photo) {
    case PHOTOMETRIC_MINISWHITE:
      s.photometric = KLV_PHOTO_MINWHITE;
      break;
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_RGB:
      s.photometric = KLV_PHOTO_MINBLACK;
      break;
    case PHOTOMETRIC_SEPARATED:
      s.photometric = light ? KLV_PHOTO_MINBLACK : KLV_PHOTO_MINWHITE;
      break;
    case PHOTOMETRIC_PALETTE:
      s.photometric = KLV_PHOTO_PALETTE;
      break;
    case PHOTOMETRIC_CIELAB:
    case PHOTOMETRIC_ICCLAB:
      if (f.bits != 8 && f.bits != 16) {
        KLV_LOG(KLV_LOG_ERROR, "TIFF \"%s\": Lab data of %u bits", s.path.c_str(), f.bits);
        return false;
      }
      // a and b are converted in every pixel, so both must be there.
      if (f.spp < 3) {
        KLV_LOG(KLV_LOG_ERROR, "TIFF \"%s\": Lab data of %u samples (L, a and b are needed)",
                s.path.c_str(), f.spp);
        return false;
      }
      s.photometric = KLV_PHOTO_CIELAB;
      if (f.photo == PHOTOMETRIC_CIELAB)
        s.lab = f.bits == 8 ? LabMode::kCie8 : LabMode::kCie16;
      else
        s.lab = f.bits == 16 ? LabMode::kIcc16 : LabMode::kNone;
      break;
    default:
      KLV_LOG(KLV_LOG_ERROR, "TIFF \"%s\": photometric interpretation %u is not supported",
              s.path.c_str(), f.photo);
      return false;
  }
  if (s.permuted && s.layout == 0 && f.bits != 8 && f.bits != 16) s.permuted = false;
  return true;
}

// Stage 6: resolutions in pixels per inch (96 when absent or unusable), and
// whether the file holds a profile.
void read_resolution_and_profile(TifStream& s) {
  TIFF* tif = s.tif;
  float xr = 0, yr = 0;
  uint16_t unit = RESUNIT_INCH;
  TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xr);
  TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yr);
  TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
  s.xres = xr;
  s.yres = yr;
  if (unit == RESUNIT_CENTIMETER) {
    s.xres *= 2.54;
    s.yres *= 2.54;
  }
  if (!(s.xres >= 0.1)) s.xres = 96;
  if (!(s.yres >= 0.1)) s.yres = 96;
  uint32_t icc_len = 0;
  void* icc = nullptr;
  s.has_profile = TIFFGetField(tif, TIFFTAG_ICCPROFILE, &icc_len, &icc) && icc && icc_len > 0;
}

// Stage 7: the bytes of a delivered line, of the file's rows and of its
// strips or tiles. Refuses sizes beyond what one allocation may take.
bool size_lines(TifStream& s) {
  TIFF* tif = s.tif;
  const uint64_t plane_row = (uint64_t{s.bits} * s.width + 7) / 8;
  const uint64_t line = s.layout == 1   ? plane_row
                        : s.layout == 2 ? plane_row * s.spp
                                        : (uint64_t{s.bits} * s.spp * s.width + 7) / 8;
  if (line > kMaxLineBytes) {
    KLV_LOG(KLV_LOG_ERROR, "TIFF \"%s\": lines of %llu bytes are out of range", s.path.c_str(),
            static_cast<unsigned long long>(line));
    return false;
  }
  s.plane_row = static_cast<uint32_t>(plane_row);
  s.line_bytes = static_cast<uint32_t>(line);
  s.file_line = static_cast<uint32_t>(TIFFScanlineSize(tif));
  if (s.file_line == 0) return false;
  if (!s.tiled) {
    uint32_t rps = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rps);
    s.rows_per_strip = std::min(std::max(rps, 1u), s.height);
    const size_t caches = s.separate ? s.spp : 1;
    s.strip.resize(caches);
    s.strip_size.assign(caches, 0);
    s.strip_index.assign(caches, -1);
    s.strip_rows.assign(caches, 0);
    return true;
  }
  if (!TIFFGetField(tif, TIFFTAG_TILEWIDTH, &s.tile_w) ||
      !TIFFGetField(tif, TIFFTAG_TILELENGTH, &s.tile_h) || !s.tile_w || !s.tile_h) {
    KLV_LOG(KLV_LOG_ERROR, "TIFF \"%s\": tiled without a tile size", s.path.c_str());
    return false;
  }
  s.across = (s.width + s.tile_w - 1) / s.tile_w;
  s.down = (s.height + s.tile_h - 1) / s.tile_h;
  s.per_plane = s.across * s.down;
  const tmsize_t ft = TIFFTileSize(tif);
  if (ft <= 0 || uint64_t(ft) * (s.layout == 2 ? s.spp : 1) > kMaxLineBytes) {
    KLV_LOG(KLV_LOG_ERROR, "TIFF \"%s\": tiles of %lld bytes are out of range", s.path.c_str(),
            static_cast<long long>(ft));
    return false;
  }
  s.file_tile = static_cast<uint32_t>(ft);
  s.tile_bytes = s.layout == 2 ? s.file_tile * s.spp : s.file_tile;
  return true;
}

// Stage 8: whether the strips or tiles the directory lists cover the image.
// Each must lie in the file (libtiff leaves offset 0 for those a short
// StripOffsets did not give); uncompressed ones must hold all their rows. A
// file whose ImageLength outgrew its strips is refused here instead of being
// delivered with invented lines. The stated size is then held to the
// resource limits.
bool check_coverage(TifStream& s) {
  TIFF* tif = s.tif;
  const uint64_t file_len = static_cast<uint64_t>(Ofileleni64(file_of(s)));
  const uint32_t count = s.tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
  const uint64_t rows_per = s.tiled ? s.tile_h : s.rows_per_strip;
  const uint64_t row_bytes = s.tiled ? uint64_t{s.file_tile} / s.tile_h : s.file_line;
  const uint32_t per_plane =
      s.tiled ? s.per_plane : (s.height + s.rows_per_strip - 1) / s.rows_per_strip;
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t at = TIFFGetStrileOffset(tif, i);
    const uint64_t bytes = TIFFGetStrileByteCount(tif, i);
    // Rows the strip must hold: the last strip of a plane may be short.
    const uint32_t in_plane = i % per_plane;
    uint64_t rows = rows_per;
    if (!s.tiled) rows = std::min<uint64_t>(rows_per, s.height - uint64_t{in_plane} * rows_per);
    const uint64_t want = s.compression != 0 ? 1 : rows * row_bytes;
    if (at == 0 || bytes < want || at > file_len || file_len - at < want) {
      KLV_LOG(KLV_LOG_ERROR,
              "TIFF \"%s\": %ux%u image, but %s %u of %u (offset %llu, %llu bytes) is not in "
              "the file of %llu bytes; the %s do not cover the image",
              s.path.c_str(), s.width, s.height, s.tiled ? "tile" : "strip", i, count,
              static_cast<unsigned long long>(at), static_cast<unsigned long long>(bytes),
              static_cast<unsigned long long>(file_len), s.tiled ? "tiles" : "strips");
      return false;
    }
  }
  return klv_image_limits_check("TIFF", s.path.c_str(), s.width, s.height,
                                s.compression != 0 ? file_len : 0) != 0;
}

bool open_read(TifStream& s) {
  ReadFields f;
  if (!read_layout(s, &f)) return false;
  read_copies_and_order(s);
  Channels c;
  read_ink_names(s, f, &c);
  split_channels(s, f, &c);
  if (!map_photometric(s, f, c.light)) return false;
  read_resolution_and_profile(s);
  return size_lines(s) && check_coverage(s);
}

void fill_info(const TifStream& s, image_info* info) {
  info->width = static_cast<int32_t>(s.width);
  info->height = static_cast<int32_t>(s.height);
  info->pages = s.page_dirs.empty() ? 1 : static_cast<uint32_t>(s.page_dirs.size());
  info->planar = s.layout + (s.tiled ? KLV_PLANAR_TILED : 0);
  info->bits_per_sample = s.bits;
  info->samples = s.samples;
  info->spot_samples = s.spot;
  info->mask_samples = s.mask;
  info->format_word1 = s.mask_flag;
  info->photometric = s.photometric;
  info->hifi_mode = s.hifi;
  info->format_word2 = s.order_code;
  info->bytes_per_line = s.line_bytes;
  info->compression = s.compression;
  info->format_word3 = 0;
  info->format_words[0] = s.copies;
  info->xres = s.xres;
  info->yres = s.yres;
  for (auto& w : info->tile_words) w = 0;
  if (s.tiled) {
    info->tile_words[KLV_TILE_WIDTH] = s.tile_w;
    info->tile_words[KLV_TILE_HEIGHT] = s.tile_h;
    info->tile_words[KLV_TILE_ACROSS] = s.across;
    info->tile_words[KLV_TILE_DOWN] = s.down;
    info->tile_words[KLV_TILE_PER_PLANE] = s.per_plane;
    info->tile_words[TIF_TILE_BYTES] = s.tile_bytes;
  }
  info->profile_word = s.has_profile ? kProfileInFile : nullptr;
  init_crop_info(&info->crop);
  info->width_inches = s.width / s.xres;
  info->height_inches = s.height / s.yres;
}

// ---- tiles ----

bool transfer_tile(TifStream& s, uint8_t* buffer, bool reading) {
  const uint32_t t = s.tile;
  auto file_tile = [&](uint32_t sample) { return sample * s.per_plane + t; };
  if (s.layout == 0) {
    if (reading) {
      if (TIFFReadEncodedTile(s.tif, t, buffer, s.file_tile) < 0) return false;
      convert_pixels(s, buffer, size_t{s.file_tile} * 8 / (s.bits * s.spp), false);
      return true;
    }
    s.conv.assign(buffer, buffer + s.file_tile);
    convert_pixels(s, s.conv.data(), size_t{s.file_tile} * 8 / (s.bits * s.spp), true);
    if (s.reduce_k) reduce_samples(s.conv.data(), s.conv.size(), s.reduce_k);
    return TIFFWriteEncodedTile(s.tif, t, s.conv.data(), s.file_tile) >= 0;
  }
  const uint32_t first = s.layout == 1 ? s.plane : 0;
  const uint32_t last = s.layout == 1 ? s.plane + 1 : s.spp;
  const size_t pixels = size_t{s.tile_w} * s.tile_h;
  const size_t row = (size_t{s.tile_w} * s.bits + 7) / 8;
  s.conv.resize(s.file_tile);
  for (uint32_t p = first; p < last; ++p) {
    const uint32_t index = file_tile(s.separate ? s.perm[p] : 0);
    uint8_t* data = s.layout == 1 ? buffer : s.conv.data();
    if (reading) {
      if (TIFFReadEncodedTile(s.tif, index, data, s.file_tile) < 0) return false;
      convert_plane_row(s, data, pixels, p, false);
      if (s.layout == 2)
        for (uint32_t r = 0; r < s.tile_h; ++r)
          std::memcpy(buffer + (size_t{r} * s.spp + p) * row, data + r * row, row);
    } else {
      if (s.layout == 2) {
        for (uint32_t r = 0; r < s.tile_h; ++r)
          std::memcpy(data + r * row, buffer + (size_t{r} * s.spp + p) * row, row);
      } else {
        std::memcpy(s.conv.data(), buffer, s.file_tile);
        data = s.conv.data();
      }
      convert_plane_row(s, data, pixels, p, true);
      if (s.reduce_k) reduce_samples(data, s.file_tile, s.reduce_k);
      if (TIFFWriteEncodedTile(s.tif, index, data, s.file_tile) < 0) return false;
    }
  }
  return true;
}

int32_t move_tiles(TifStream* s, uint8_t* buffer, int32_t count, bool reading) {
  if (!s || !buffer || count < 1 || !s->tiled || (s->mode == 'r') != reading) return 0;
  int32_t done = 0;
  try {
    while (done < count && s->plane < s->planes()) {
      if (s->tile >= s->per_plane) {
        if (s->plane + 1 >= s->planes()) break;
        ++s->plane;
        s->tile = 0;
      }
      if (!transfer_tile(*s, buffer, reading)) break;
      buffer += s->tile_bytes;
      ++s->tile;
      ++done;
    }
  } catch (...) {
  }
  return done;
}

// The pages of a file being read: its first directory, then every later
// one that is not a reduced copy (a thumbnail or a preview). The stream is
// left at the first directory.
bool count_pages(TifStream& s) {
  constexpr size_t kMaxPages = 9999;
  s.page_dirs.assign(1, TIFFCurrentDirectory(s.tif));
  while (s.page_dirs.size() < kMaxPages && TIFFReadDirectory(s.tif)) {
    uint32_t kind = 0;
    if (TIFFGetField(s.tif, TIFFTAG_SUBFILETYPE, &kind) && (kind & FILETYPE_REDUCEDIMAGE)) continue;
    s.page_dirs.push_back(TIFFCurrentDirectory(s.tif));
  }
  // Always back: a directory that failed to read is libtiff's current one,
  // even when it is not a page.
  return TIFFSetDirectory(s.tif, s.page_dirs[0]);
}

// Whether two descriptions deliver lines (and tiles) alike.
bool same_lines(const image_info& a, const image_info& b) {
  return a.width == b.width && a.height == b.height && a.planar == b.planar &&
         a.bits_per_sample == b.bits_per_sample && a.samples == b.samples &&
         a.spot_samples == b.spot_samples && a.mask_samples == b.mask_samples &&
         a.photometric == b.photometric && a.bytes_per_line == b.bytes_per_line &&
         std::equal(std::begin(a.tile_words), std::end(a.tile_words), std::begin(b.tile_words));
}

// Reads directory `dir` as the stream's page; false when it cannot be
// delivered (logged).
bool read_page(TifStream& s, tdir_t dir) {
  static_cast<TifPage&>(s) = TifPage{};
  return TIFFSetDirectory(s.tif, dir) && open_read(s);
}

// Turns a stream being read to page `page` (from 0). Lines are delivered as
// the first page describes them, so a page whose lines differ is refused
// (logged) and the stream stays on the page it was on.
bool turn_to_page(TifStream& s, int32_t page) {
  if (page == s.page) return true;
  if (s.mode != 'r' || page < 0 || size_t(page) >= s.page_dirs.size()) return false;
  const int32_t was = s.page;
  bool ok = read_page(s, s.page_dirs[size_t(page)]);
  if (ok) {
    image_info now = s.first;
    fill_info(s, &now);
    ok = same_lines(now, s.first);
    if (!ok)
      KLV_LOG(KLV_LOG_ERROR,
              "TIFF \"%s\": page %d (%dx%d, %u samples of %u bits) is not laid out like page 1 "
              "(%dx%d, %u samples of %u bits) and cannot be read with it",
              s.path.c_str(), page + 1, now.width, now.height, now.samples, now.bits_per_sample,
              s.first.width, s.first.height, s.first.samples, s.first.bits_per_sample);
  } else {
    KLV_LOG(KLV_LOG_ERROR, "TIFF \"%s\": page %d cannot be read", s.path.c_str(), page + 1);
  }
  if (ok) {
    s.page = page;
    return true;
  }
  // Back to the page it was on, which was readable before.
  if (!read_page(s, s.page_dirs[size_t(was)])) s.page_dirs.clear();
  return false;
}

// Position arithmetic shared by the line and tile seeks: returns the position
// within its plane (stored with the plane), or -1.
int32_t seek_position(TifStream* s, int64_t pos, int32_t plane, int32_t page, int32_t whence,
                      uint32_t per_plane, uint32_t* cur) {
  // A seek from the start or the end names the page to deliver; a relative
  // one stays on the page.
  if (!s || (whence != 1 && !turn_to_page(*s, page))) return -1;
  per_plane = s->tiled ? s->per_plane : s->height;
  if (per_plane == 0) return -1;
  const int64_t planes = s->planes();
  if ((plane < 0 ? -int64_t{plane} : plane) >= planes) return -1;
  pos += int64_t{per_plane} * plane;
  if (whence == 1)
    pos += int64_t{s->plane} * per_plane + *cur;
  else if (whence == 2)
    pos += int64_t{per_plane} * planes - 1;
  pos = std::clamp<int64_t>(pos, 0, int64_t{per_plane} * planes - 1);
  s->plane = static_cast<uint32_t>(pos / per_plane);
  *cur = static_cast<uint32_t>(pos % per_plane);
  return static_cast<int32_t>(*cur);
}

int32_t release_profile(void* block) {
  return free_image_profile(static_cast<image_profile*>(block));
}

// An image object over the stream record.
class CTifImg final : public CIMG_file {
 public:
  explicit CTifImg(void* record) : record_(record) {}
  ~CTifImg() override {
    if (record_) tif_close(record_);
  }
  int32_t Close() override {
    void* record = record_;
    record_ = nullptr;
    return tif_close(record);
  }
  void set_info(const image_info& info) { m_info = info; }
  IMG_file* ToImg(char mode, int type) override {
    IMG_file* img = CIMG_file::ToImg(mode, type);
    if (img && (m_info.planar & KLV_PLANAR_TILED)) {
      img->read_line = nullptr;
      img->write_line = nullptr;
      img->seek_line = nullptr;
    } else if (img) {
      img->read_tile = nullptr;
      img->write_tile = nullptr;
      img->seek_tile = nullptr;
    }
    return img;
  }
  int32_t ReadLine(unsigned char* b, int32_t n) override { return tif_read_line(record_, b, n); }
  int32_t LendLines(const uint8_t** lines, int32_t n) override {
    return tif_lend_lines(record_, lines, n);
  }
  int32_t WriteLine(unsigned char* b, int32_t n) override { return tif_write_line(record_, b, n); }
  int32_t SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence) override {
    int32_t r = tif_seek_line(record_, line, plane, page, whence);
    if (r >= 0) {
      m_line = r;
      m_plane = static_cast<int32_t>(as_stream(record_)->plane);
    }
    return r;
  }
  int32_t ReadTile(unsigned char* b, int32_t n) override { return tif_read_tile(record_, b, n); }
  int32_t WriteTile(unsigned char* b, int32_t n) override { return tif_write_tile(record_, b, n); }
  int32_t SeekTile(int32_t tile, int32_t plane, int32_t page, int32_t whence) override {
    int32_t r = tif_seek_tile(record_, tile, plane, page, whence);
    if (r >= 0) {
      m_tile = r;
      m_plane = static_cast<int32_t>(as_stream(record_)->plane);
    }
    return r;
  }
  image_cmap* GetCmap() override { return tif_get_cmap(record_); }
  image_profile* GetProfile() override { return tif_get_profile(record_); }

 private:
  void* record_;
};

}  // namespace

extern "C" {

KLV_API void* tif_open_ex(SOVolume* volume, const char* path, const char* mode, image_info* info,
                          const char* color_order, const char* ink_names) {
  if (!path || !mode || !*mode) return nullptr;
  const bool reading = mode[0] == 'r';
  if (!reading && !info) {
    KLV_LOG(KLV_LOG_ERROR, "TIFF \"%s\": writing needs a description", path);
    return nullptr;
  }
  // A description the file cannot hold is refused before the file is
  // created, so that a good file at the path is not truncated for nothing.
  if (const char* fault = reading ? nullptr : write_fault(info)) {
    KLV_LOG(KLV_LOG_ERROR, "TIFF \"%s\": cannot write this description (%s)", path, fault);
    return nullptr;
  }
  try {
    auto s = std::make_unique<TifStream>();
    s->volume = volume;
    s->path = path;
    s->messages.name = path;
    s->mode = reading ? 'r' : 'w';
    SFilemux* stream = Ovfopen(volume, path, reading ? "rb" : "w+b");
    if (!stream) return nullptr;
    s->tif = open_client(stream, &s->messages, reading ? "r" : "w");
    if (!s->tif) return nullptr;
    if (reading) {
      if (!open_read(*s) || !count_pages(*s)) return nullptr;
      init_image_info(&s->first);
      fill_info(*s, &s->first);
      if (info) fill_info(*s, info);
    } else if (!open_write(*s, info, color_order, ink_names)) {
      return nullptr;
    }
    return s.release();
  } catch (...) {
    KLV_LOG(KLV_LOG_ERROR, "TIFF \"%s\": out of memory", path);
  }
  return nullptr;
}

KLV_API void* tif_open(SOVolume* volume, const char* path, const char* mode, image_info* info) {
  return tif_open_ex(volume, path, mode, info, nullptr, nullptr);
}

KLV_API int32_t tif_close(void* record) {
  TifStream* s = as_stream(record);
  if (!s) return 0;
  if (!s->tif || s->mode != 'w') {
    delete s;
    return 0;
  }
  // libtiff's own close drops the result of closing the file, which is where
  // a write that failed earlier on the stream shows: the handle is released
  // without its close procedure, and the file closed here.
  bool ok = true;
  try {
    ok = TIFFFlush(s->tif) != 0;
    SFilemux* file = static_cast<SFilemux*>(TIFFClientdata(s->tif));
    TIFFCleanup(s->tif);
    s->tif = nullptr;
    if (Oclose(file) != 0) ok = false;
    if (!ok)
      KLV_LOG(KLV_LOG_ERROR, "TIFF \"%s\": written data was lost (the file is incomplete)",
              s->path.c_str());
  } catch (...) {
    ok = false;
  }
  delete s;
  return ok ? 0 : -1;
}

KLV_API int32_t tif_read_line(void* record, uint8_t* buffer, int32_t count) {
  TifStream* s = as_stream(record);
  if (!s || !buffer || count < 1 || s->mode != 'r' || s->tiled) return 0;
  int32_t done = 0;
  try {
    while (done < count && s->line < s->height && s->plane < s->planes()) {
      if (!read_one_line(*s, buffer)) break;
      buffer += s->line_bytes;
      ++done;
      if (++s->line == s->height && s->plane + 1 < s->planes()) {
        s->line = 0;
        ++s->plane;
      }
    }
  } catch (...) {
  }
  return done;
}

KLV_API int32_t tif_lend_lines(void* record, const uint8_t** lines, int32_t count) {
  TifStream* s = as_stream(record);
  if (!s || !lines || count < 1) return 0;
  try {
    if (!can_lend(*s) || s->line >= s->height) return 0;
  } catch (...) {
    return 0;
  }
  const uint32_t n = std::min(uint32_t(count), s->height - s->line);
  const uint64_t at = uint64_t(s->line) * s->file_line;
  // Rows lent before are no longer the caller's: give their memory back now
  // and then, so that a large page does not stay resident as a whole.
  constexpr uint64_t kReleaseBytes = uint64_t{32} << 20;
  if (at >= s->lend_kept + kReleaseBytes || at < s->lend_kept) {
    if (at > s->lend_kept)
      klv::kernel::release_map(file_of(*s), int64_t(s->lend_first + s->lend_kept),
                               int64_t(at - s->lend_kept));
    s->lend_kept = at;
  }
  *lines = s->lend_base + at;
  s->line += n;
  return int32_t(n);
}

KLV_API int32_t tif_write_line(void* record, uint8_t* buffer, int32_t count) {
  TifStream* s = as_stream(record);
  if (!s || !buffer || count < 1 || s->mode != 'w' || s->tiled) return 0;
  int32_t done = 0;
  try {
    while (done < count && s->line < s->height && s->plane < s->planes()) {
      if (!write_one_line(*s, buffer)) break;
      buffer += s->line_bytes;
      ++done;
      ++s->lines_written;
      if (++s->line == s->height && s->plane + 1 < s->planes()) {
        s->line = 0;
        ++s->plane;
      }
    }
  } catch (...) {
  }
  return done;
}

KLV_API int32_t tif_seek_line(void* record, int32_t line, int32_t plane, int32_t page,
                              int32_t whence) {
  TifStream* s = as_stream(record);
  if (!s || s->tiled) return -1;
  return seek_position(s, line, plane, page, whence, s->height, &s->line);
}

KLV_API int32_t tif_read_tile(void* record, uint8_t* buffer, int32_t count) {
  return move_tiles(as_stream(record), buffer, count, true);
}

KLV_API int32_t tif_write_tile(void* record, uint8_t* buffer, int32_t count) {
  return move_tiles(as_stream(record), buffer, count, false);
}

KLV_API int32_t tif_seek_tile(void* record, int32_t tile, int32_t plane, int32_t page,
                              int32_t whence) {
  TifStream* s = as_stream(record);
  if (!s || !s->tiled) return -1;
  return seek_position(s, tile, plane, page, whence, s->per_plane, &s->tile);
}

KLV_API image_cmap* tif_get_cmap(void* record) {
  TifStream* s = as_stream(record);
  if (!s || s->mode != 'r' || s->photometric != KLV_PHOTO_PALETTE || s->bits > 8) return nullptr;
  uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
  if (!TIFFGetField(s->tif, TIFFTAG_COLORMAP, &r, &g, &b) || !r || !g || !b) return nullptr;
  const uint32_t entries = 1u << s->bits;
  auto* map = static_cast<image_cmap*>(std::calloc(1, sizeof(image_cmap)));
  if (!map) return nullptr;
  map->channels = 3;
  map->entries = entries;
  map->photometric = 1;
  const uint16_t* src[3] = {r, g, b};
  for (int c = 0; c < 3; ++c) {
    map->channel[c] = static_cast<uint8_t*>(std::malloc(entries));
    if (!map->channel[c]) {
      free_cmap(map);
      return nullptr;
    }
    for (uint32_t i = 0; i < entries; ++i)
      map->channel[c][i] = static_cast<uint8_t>(src[c][i] >> 8);
  }
  return map;
}

KLV_API image_profile* tif_get_profile(void* record) {
  TifStream* s = as_stream(record);
  if (!s || s->mode != 'r' || !s->has_profile) return nullptr;
  char key[96];
  image_profile_cache_key(s->volume, s->path.c_str(), key);
  void* slot = nullptr;
  if (void* cached = Memres_Checkout(key, release_profile, &slot))
    return static_cast<image_profile*>(cached);
  if (!slot) return nullptr;
  uint32_t len = 0;
  void* data = nullptr;
  image_profile* block = nullptr;
  if (TIFFGetField(s->tif, TIFFTAG_ICCPROFILE, &len, &data) && data && len) {
    block = static_cast<image_profile*>(std::malloc(sizeof(image_profile) + len));
    if (block) {
      block->size = len;
      std::memcpy(block->data, data, len);
    }
  }
  if (!block) {
    Memres_UndoCheckout(&slot);
    return nullptr;
  }
  if (!Memres_SetCheckoutSized(&slot, block, sizeof(image_profile) + len)) {
    std::free(block);
    return nullptr;
  }
  return block;
}

KLV_API const char* tif_get_color_order(void* record) {
  TifStream* s = as_stream(record);
  return s && s->order_code ? s->order_text.c_str() : nullptr;
}

KLV_API const char* tif_get_ink_names(void* record) {
  TifStream* s = as_stream(record);
  return s && !s->ink_names.empty() ? s->ink_names.c_str() : nullptr;
}

}  // extern "C"

KLV_API CIMG_file* tif_img_open(SOVolume* volume, const char* path, const char* mode,
                                image_info* info) {
  try {
    image_info local;
    init_image_info(&local);
    if (info) local = *info;
    const bool reading = mode && mode[0] == 'r';
    void* record = tif_open(volume, path, mode, (info || reading) ? &local : nullptr);
    if (!record) return nullptr;
    auto* img = new (std::nothrow) CTifImg(record);
    if (!img) {
      tif_close(record);
      return nullptr;
    }
    img->set_info(local);
    if (info) *info = local;
    return img;
  } catch (...) {
    return nullptr;
  }
}
