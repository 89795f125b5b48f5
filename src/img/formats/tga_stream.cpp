// SPDX-License-Identifier: MIT
// TGA files as image streams: header parsing and writing, raw and
// run-length rows, pixel conversion, seeking and the colour map.
#include "klv/tga.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "img/formats/tga_rle.h"
#include "klv/image_limits.h"
#include "klv/kernel_stream.h"
#include "klv/log.h"

namespace {

using klv::img::tga::RleReader;

constexpr uint32_t kHeaderSize = 18;
constexpr uint8_t kTopToBottom = 0x20;
constexpr uint8_t kRightToLeft = 0x10;
constexpr size_t kBlockBytes = size_t{16} << 20;
// What the identification field of written files begins with.
constexpr char kSignature[] = "KlvLib";

uint16_t get16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
void put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

struct TgaHeader {
  uint8_t id_length = 0, map_type = 0, image_type = 0;
  uint16_t map_first = 0, map_length = 0;
  uint8_t map_entry_bits = 0;
  uint16_t width = 0, height = 0;
  uint8_t depth = 0, descriptor = 0;
};

void parse_header(const uint8_t* h, TgaHeader* t) {
  t->id_length = h[0];
  t->map_type = h[1];
  t->image_type = h[2];
  t->map_first = get16(h + 3);
  t->map_length = get16(h + 5);
  t->map_entry_bits = h[7];
  t->width = get16(h + 12);
  t->height = get16(h + 14);
  t->depth = h[16];
  t->descriptor = h[17];
}

bool valid_depth(uint32_t d) {
  return d == 8 || d == 15 || d == 16 || d == 24 || d == 32;
}

bool mapped_type(uint32_t type) {
  return (type & 7) == 1;
}

// The checks a header must pass, with the reason it fails (null when it is
// acceptable). The first 16 bytes decide everything but the pixel depth.
const char* header_fault(const TgaHeader& t, bool have_depth) {
  const uint32_t base = t.image_type & 7;
  if (t.map_type > 1) return "colour map type is not 0 or 1";
  if ((t.image_type & ~8u) > 3 || base == 0) return "image type is not 1, 2, 3, 9, 10 or 11";
  if (mapped_type(t.image_type) && t.map_type != 1) return "colour-mapped image without a map";
  if (t.map_type == 1) {
    if (t.map_length == 0) return "colour map without entries";
    if (!valid_depth(t.map_entry_bits)) return "colour map entry size is not 8, 15, 16, 24 or 32";
  }
  if (t.width == 0 || t.height == 0) return "image size is zero";
  if (!have_depth) return nullptr;
  if (!valid_depth(t.depth)) return "pixel depth is not 8, 15, 16, 24 or 32";
  if ((base == 1 || base == 3) && t.depth != 8) return "mapped or gray pixels are not 8 bits";
  if (base == 2 && t.depth == 8) return "true-colour pixels of 8 bits";
  return nullptr;
}

struct TgaState {
  SFilemux* stream = nullptr;
  char mode = 'r';
  TgaHeader h;
  uint32_t width = 0, height = 0;
  uint32_t bpp = 1;      // bytes per file pixel
  uint32_t samples = 1;  // samples per delivered pixel
  bool rle = false;
  bool top_to_bottom = true, right_to_left = false;
  size_t row_size = 0, line_bytes = 0;
  int64_t first_row = 0;  // file offset of the first stored row
  uint32_t current_line = 0;
  uint32_t lines_done = 0;
  std::vector<uint8_t> row;  // one stored row
  // The colour map: entry i (R, G, B, A) is the colour of pixel value i.
  uint32_t map_channels = 0, map_entries = 0;
  std::vector<uint8_t> map;
  // Run-length reading: stored rows are decoded a block of block_span rows at
  // a time from checkpoints taken at the start of every block, so that
  // bottom-to-top files and seeks backwards do not decode from the start.
  std::unique_ptr<RleReader> reader;
  uint32_t block_span = 1;
  std::vector<RleReader::State> checkpoints;  // state at stored row k × block_span
  std::vector<uint8_t> block;
  int64_t block_index = -1;
  uint32_t block_rows = 0;
  std::vector<uint8_t> encoded;  // run-length codes of the row being written

  TgaState() = default;
  TgaState(const TgaState&) = delete;
  TgaState& operator=(const TgaState&) = delete;
  ~TgaState() {
    if (stream) Oclose(stream);
  }
  bool load_block(uint32_t index);
  bool stored_row(uint32_t file_row, const uint8_t** raw);
};

TgaState* as_state(void* p) {
  return static_cast<TgaState*>(p);
}

bool TgaState::load_block(uint32_t index) {
  block_index = -1;
  while (checkpoints.size() <= index) {
    // Scan the block before to find where this one starts.
    const uint32_t from = static_cast<uint32_t>(checkpoints.size() - 1) * block_span;
    reader->restore(checkpoints.back());
    for (uint32_t r = from; r < from + block_span; ++r)
      if (!reader->decode_row(block.data())) return false;
    checkpoints.push_back(reader->save());
  }
  reader->restore(checkpoints[index]);
  const uint32_t first = index * block_span;
  const uint32_t rows = std::min(block_span, height - first);
  block_rows = 0;
  for (uint32_t r = 0; r < rows; ++r) {
    if (!reader->decode_row(block.data() + size_t{r} * row_size)) break;
    ++block_rows;
  }
  if (block_rows == rows && index + 1 == checkpoints.size() && first + rows < height)
    checkpoints.push_back(reader->save());
  block_index = index;
  return block_rows > 0;
}

// The stored bytes of one row, in file order.
bool TgaState::stored_row(uint32_t file_row, const uint8_t** raw) {
  if (rle) {
    const uint32_t index = file_row / block_span;
    if (block_index != index && !load_block(index)) return false;
    const uint32_t r = file_row % block_span;
    if (r >= block_rows) return false;
    *raw = block.data() + size_t{r} * row_size;
    return true;
  }
  if (Oseeki64(stream, first_row + int64_t(file_row) * int64_t(row_size), 0) != 0 ||
      Oread(stream, row.data(), row_size) != row_size)
    return false;
  *raw = row.data();
  return true;
}

// One stored pixel as delivered samples.
void convert_pixel(const uint8_t* p, uint32_t bpp, uint8_t* out) {
  switch (bpp) {
    case 1:
      out[0] = p[0];
      break;
    case 2: {
      const uint32_t v = get16(p);
      out[0] = static_cast<uint8_t>(((v >> 10) & 31) << 3);
      out[1] = static_cast<uint8_t>(((v >> 5) & 31) << 3);
      out[2] = static_cast<uint8_t>((v & 31) << 3);
      break;
    }
    case 3:
      out[0] = p[2];
      out[1] = p[1];
      out[2] = p[0];
      break;
    default:
      out[0] = p[2];
      out[1] = p[1];
      out[2] = p[0];
      out[3] = static_cast<uint8_t>(255 - p[3]);
      break;
  }
}

void convert_row(const TgaState& st, const uint8_t* raw, uint8_t* out) {
  if (st.bpp == 1 && !st.right_to_left) {
    std::memcpy(out, raw, st.width);
    return;
  }
  for (uint32_t x = 0; x < st.width; ++x) {
    const uint32_t from = st.right_to_left ? st.width - 1 - x : x;
    convert_pixel(raw + size_t{from} * st.bpp, st.bpp, out + size_t{x} * st.samples);
  }
}

bool read_line(TgaState* st, uint8_t* out) {
  const uint32_t y = st->current_line;
  const uint32_t file_row = st->top_to_bottom ? y : st->height - 1 - y;
  const uint8_t* raw = nullptr;
  if (!st->stored_row(file_row, &raw)) return false;
  convert_row(*st, raw, out);
  return true;
}

// ---- reading the header ----

// One colour map entry of `bytes` bytes as R, G, B, A.
void map_entry(const uint8_t* p, uint32_t bytes, uint8_t* rgba) {
  rgba[3] = 0;
  switch (bytes) {
    case 1:
      rgba[0] = rgba[1] = rgba[2] = p[0];
      break;
    case 2:
      convert_pixel(p, 2, rgba);
      break;
    default:
      rgba[0] = p[2];
      rgba[1] = p[1];
      rgba[2] = p[0];
      if (bytes == 4) rgba[3] = p[3];
      break;
  }
}

bool read_map(TgaState* st) {
  const TgaHeader& h = st->h;
  const uint32_t bytes = (h.map_entry_bits + 7u) / 8u;
  std::vector<uint8_t> raw(size_t{h.map_length} * bytes);
  if (Oseeki64(st->stream, kHeaderSize + h.id_length, 0) != 0 ||
      Oread(st->stream, raw.data(), raw.size()) != raw.size()) {
    KLV_LOG(KLV_LOG_ERROR, "TGA: colour map cut short");
    return false;
  }
  if (!mapped_type(h.image_type)) return true;  // a map beside true-colour data is skipped
  // Stored entry k is the colour of pixel value first + k.
  st->map_channels = bytes == 4 ? 4 : 3;
  st->map_entries = std::min<uint32_t>(uint32_t{h.map_first} + h.map_length, 256);
  st->map.assign(size_t{st->map_entries} * 4, 0);
  for (uint32_t k = 0; k < h.map_length && h.map_first + k < st->map_entries; ++k)
    map_entry(&raw[size_t{k} * bytes], bytes, &st->map[size_t{h.map_first + k} * 4]);
  return true;
}

bool read_vars(TgaState* st, const char* path) {
  uint8_t head[kHeaderSize];
  if (Oread(st->stream, head, kHeaderSize) != kHeaderSize) {
    KLV_LOG(KLV_LOG_DEBUG, "TGA: file shorter than a header");
    return false;
  }
  parse_header(head, &st->h);
  const TgaHeader& h = st->h;
  if (const char* fault = header_fault(h, true)) {
    KLV_LOG(KLV_LOG_DEBUG, "TGA \"%s\": %s", path ? path : "", fault);
    return false;
  }
  st->mode = 'r';
  st->width = h.width;
  st->height = h.height;
  st->bpp = (h.depth + 7u) / 8u;
  st->samples = h.depth == 32 ? 4 : (h.depth == 8 ? 1 : 3);
  st->rle = (h.image_type & 8) != 0;
  st->top_to_bottom = (h.descriptor & kTopToBottom) != 0;
  st->right_to_left = (h.descriptor & kRightToLeft) != 0;
  st->row_size = size_t{st->width} * st->bpp;
  st->line_bytes = size_t{st->width} * st->samples;
  const uint64_t map_bytes =
      h.map_type ? uint64_t{h.map_length} * ((h.map_entry_bits + 7u) / 8u) : 0;
  st->first_row = static_cast<int64_t>(kHeaderSize + h.id_length + map_bytes);
  const int64_t file_len = Ofileleni64(st->stream);
  const uint64_t needed =
      uint64_t(st->first_row) + (st->rle ? 1 : uint64_t{st->height} * st->row_size);
  if (file_len < 0 || needed > uint64_t(file_len)) {
    KLV_LOG(KLV_LOG_ERROR, "TGA \"%s\": %ux%u pixels need %llu bytes, file has %lld",
            path ? path : "", st->width, st->height, static_cast<unsigned long long>(needed),
            static_cast<long long>(file_len));
    return false;
  }
  if (!klv_image_limits_check("TGA", path, st->width, st->height, st->rle ? uint64_t(file_len) : 0))
    return false;
  if (h.map_type == 1 && !read_map(st)) return false;
  st->row.assign(st->row_size, 0);
  if (st->rle) {
    st->reader = std::make_unique<RleReader>(st->stream, st->bpp, st->width);
    st->checkpoints.push_back(RleReader::State{st->first_row});
    st->block_span = static_cast<uint32_t>(std::clamp<size_t>(kBlockBytes / st->row_size, 1, 64));
    st->block.assign(size_t{st->block_span} * st->row_size, 0);
  }
  return true;
}

void fill_info(const TgaState& st, image_info* info) {
  info->width = static_cast<int32_t>(st.width);
  info->height = static_cast<int32_t>(st.height);
  info->pages = 1;
  info->planar = KLV_PLANAR_PIXEL;
  info->bits_per_sample = 8;
  info->samples = st.samples;
  info->spot_samples = 0;
  info->mask_samples = 0;
  info->format_word1 = 0;
  info->photometric = mapped_type(st.h.image_type) ? KLV_PHOTO_PALETTE : KLV_PHOTO_MINBLACK;
  info->bytes_per_line = static_cast<uint32_t>(st.line_bytes);
  info->compression = st.rle ? 1 : 0;
  info->format_word3 = 0;
  info->xres = info->yres = 100;
  info->width_inches = st.width / 100.0;
  info->height_inches = st.height / 100.0;
  init_crop_info(&info->crop);
}

// ---- writing ----

bool check_write(const image_info* info, const image_cmap* cmap) {
  const bool palette = info->photometric == KLV_PHOTO_PALETTE;
  const bool ok = info->bits_per_sample == 8 && info->width >= 1 && info->height >= 1 &&
                  info->width <= 65535 && info->height <= 65535 && info->pages <= 1 &&
                  info->mask_samples == 0 && info->planar == KLV_PLANAR_PIXEL &&
                  (palette ? info->samples == 1 && cmap && cmap->entries > 0
                           : info->samples == 1 || info->samples == 3 || info->samples == 4);
  if (!ok)
    KLV_LOG(KLV_LOG_ERROR,
            "TGA: cannot write %dx%d pixels of %u samples of %u bits, photometric %u, layout %u, "
            "%u mask samples%s",
            info->width, info->height, info->samples, info->bits_per_sample, info->photometric,
            info->planar, info->mask_samples, palette && !cmap ? ", no colour map" : "");
  return ok;
}

std::vector<uint8_t> map_bytes(const image_cmap* cmap, uint32_t* entries, uint32_t* channels) {
  *entries = std::min<uint32_t>(cmap->entries, 256);
  *channels = cmap->channels == 4 ? 4 : (cmap->channels == 1 ? 1 : 3);
  const bool invert = cmap->photometric != 1;
  std::vector<uint8_t> out;
  for (uint32_t i = 0; i < *entries; ++i) {
    uint8_t v[4] = {};
    for (uint32_t c = 0; c < *channels; ++c) {
      const uint8_t* ch = cmap->channel[c];
      v[c] = ch ? ch[i] : 0;
      if (invert) v[c] = static_cast<uint8_t>(255 - v[c]);
    }
    if (*channels == 1) {
      out.push_back(v[0]);
      continue;
    }
    out.insert(out.end(), {v[2], v[1], v[0]});
    if (*channels == 4) out.push_back(v[3]);
  }
  return out;
}

bool write_vars(TgaState* st, image_info* info, const image_cmap* cmap) {
  if (!check_write(info, cmap)) return false;
  const bool palette = info->photometric == KLV_PHOTO_PALETTE;
  TgaHeader& h = st->h;
  st->mode = 'w';
  h.image_type = palette ? 1 : (info->samples == 1 ? 3 : 2);
  if (info->compression != 0) h.image_type = static_cast<uint8_t>(h.image_type + 8);
  h.depth = static_cast<uint8_t>(info->samples * 8);
  h.descriptor = kTopToBottom | (info->samples == 4 ? 8 : 0);
  st->width = h.width = static_cast<uint16_t>(info->width);
  st->height = h.height = static_cast<uint16_t>(info->height);
  st->bpp = (h.depth + 4u) / 8u;
  st->samples = info->samples;
  st->rle = info->compression != 0;
  st->row_size = size_t{st->width} * st->bpp;
  st->line_bytes = size_t{st->width} * st->samples;
  char id[32];
  std::snprintf(id, sizeof id, "%s%u", kSignature, unsigned{h.image_type});
  h.id_length = static_cast<uint8_t>(std::strlen(id));
  std::vector<uint8_t> table;
  if (palette) {
    uint32_t entries = 0, channels = 0;
    table = map_bytes(cmap, &entries, &channels);
    h.map_type = 1;
    h.map_length = static_cast<uint16_t>(entries);
    h.map_entry_bits = static_cast<uint8_t>(channels * 8);
  }
  uint8_t head[kHeaderSize] = {};
  head[0] = h.id_length;
  head[1] = h.map_type;
  head[2] = h.image_type;
  put16(head + 5, h.map_length);
  head[7] = h.map_entry_bits;
  put16(head + 12, h.width);
  put16(head + 14, h.height);
  head[16] = h.depth;
  head[17] = h.descriptor;
  if (Owrite(st->stream, head, kHeaderSize) != kHeaderSize ||
      Owrite(st->stream, id, h.id_length) != h.id_length ||
      (!table.empty() && Owrite(st->stream, table.data(), table.size()) != table.size())) {
    KLV_LOG(KLV_LOG_ERROR, "TGA: cannot write the header");
    return false;
  }
  st->first_row = kHeaderSize + h.id_length + static_cast<int64_t>(table.size());
  st->row.assign(st->row_size, 0);
  info->pages = 1;
  info->bytes_per_line = static_cast<uint32_t>(st->line_bytes);
  info->compression = st->rle ? 1 : 0;
  init_crop_info(&info->crop);
  if (info->xres > 0 && info->yres > 0) {
    info->width_inches = st->width / info->xres;
    info->height_inches = st->height / info->yres;
  }
  return true;
}

// One line as stored pixels: B, G, R (and alpha = 255 - fourth sample).
void store_row(const TgaState& st, const uint8_t* in, uint8_t* out) {
  if (st.bpp == 1) {
    std::memcpy(out, in, st.width);
    return;
  }
  for (uint32_t x = 0; x < st.width; ++x, in += st.samples, out += st.bpp) {
    out[0] = in[2];
    out[1] = in[1];
    out[2] = in[0];
    if (st.bpp == 4) out[3] = static_cast<uint8_t>(255 - in[3]);
  }
}

bool write_line(TgaState* st, const uint8_t* in) {
  store_row(*st, in, st->row.data());
  const uint8_t* out = st->row.data();
  size_t bytes = st->row_size;
  if (st->rle) {
    st->encoded.clear();
    klv::img::tga::encode_row(st->row.data(), st->width, st->bpp, st->encoded);
    out = st->encoded.data();
    bytes = st->encoded.size();
  } else if (Oseeki64(st->stream, st->first_row + int64_t(st->current_line) * int64_t(st->row_size),
                      0) != 0) {
    return false;
  }
  return Owrite(st->stream, out, bytes) == bytes;
}

template <typename Fn>
void* make_state(SFilemux* stream, Fn&& fill) {
  if (!stream) return nullptr;
  TgaState* st = new (std::nothrow) TgaState;
  if (!st) {
    Oclose(stream);
    return nullptr;
  }
  st->stream = stream;  // closed with the state from here on
  try {
    if (fill(st)) return st;
  } catch (...) {
    KLV_LOG(KLV_LOG_ERROR, "TGA: out of memory");
  }
  delete st;
  return nullptr;
}

}  // namespace

extern "C" {

KLV_API int32_t tga_probe(const uint8_t* head, size_t n) {
  if (!head || n < 16) return 0;
  TgaHeader t;
  uint8_t full[kHeaderSize] = {};
  std::memcpy(full, head, std::min<size_t>(n, kHeaderSize));
  parse_header(full, &t);
  return header_fault(t, n >= 17) == nullptr ? 1 : 0;
}

KLV_API void* tga_read_vars(SFilemux* stream) {
  return make_state(stream, [](TgaState* st) { return read_vars(st, nullptr); });
}

KLV_API void* tga_write_vars(SFilemux* stream, image_info* info, const image_cmap* cmap) {
  if (stream && !info) {
    Oclose(stream);
    return nullptr;
  }
  return make_state(stream, [&](TgaState* st) { return write_vars(st, info, cmap); });
}

KLV_API int32_t tga_get_info(void* state, image_info* info) {
  if (!state || !info || as_state(state)->mode != 'r') return 0;
  fill_info(*as_state(state), info);
  return 1;
}

KLV_API void* tga_open(const char* path, SOVolume* volume, const char* mode, image_info* info) {
  if (!path || !mode) return nullptr;
  const bool reading = std::strchr(mode, 'r') != nullptr;
  if (!reading && !info) {
    KLV_LOG(KLV_LOG_ERROR, "TGA \"%s\": writing needs a description", path);
    return nullptr;
  }
  SFilemux* stream = Ovfopen(volume, path, reading ? "rb" : "wb");
  if (!reading) return tga_write_vars(stream, info, info->cmap);
  void* st = make_state(stream, [&](TgaState* s) { return read_vars(s, path); });
  if (st && info) tga_get_info(st, info);
  return st;
}

KLV_API size_t tga_read(void* state, void* buffer, size_t bytes) {
  TgaState* st = as_state(state);
  return st && buffer ? Oread(st->stream, buffer, bytes) : 0;
}

KLV_API size_t tga_write(void* state, const void* buffer, size_t bytes) {
  TgaState* st = as_state(state);
  return st && buffer ? Owrite(st->stream, buffer, bytes) : 0;
}

KLV_API int32_t tga_read_line(void* state, uint8_t* buffer, int32_t count) {
  TgaState* st = as_state(state);
  if (!st || !buffer || count < 1 || st->mode != 'r') return 0;
  int32_t done = 0;
  try {
    while (done < count && st->current_line < st->height) {
      if (!read_line(st, buffer)) {
        KLV_LOG(KLV_LOG_ERROR, "TGA: line %u cannot be read", st->current_line);
        break;
      }
      buffer += st->line_bytes;
      ++st->current_line;
      ++done;
    }
  } catch (...) {
    KLV_LOG(KLV_LOG_ERROR, "TGA: out of memory");
  }
  return done;
}

KLV_API int32_t tga_write_line(void* state, uint8_t* buffer, int32_t count) {
  TgaState* st = as_state(state);
  if (!st || !buffer || count < 1 || st->mode != 'w') return 0;
  int32_t done = 0;
  try {
    while (done < count && st->current_line < st->height) {
      if (!write_line(st, buffer)) {
        KLV_LOG(KLV_LOG_ERROR, "TGA: line %u cannot be written", st->current_line);
        break;
      }
      buffer += st->line_bytes;
      ++st->current_line;
      ++st->lines_done;
      ++done;
    }
  } catch (...) {
    KLV_LOG(KLV_LOG_ERROR, "TGA: out of memory");
  }
  return done;
}

KLV_API int32_t tga_seek_line(void* state, int32_t line, int32_t plane, int32_t page,
                              int32_t whence) {
  TgaState* st = as_state(state);
  if (!st || plane != 0 || page != 0) return -1;
  int64_t target = line;
  if (whence == 1)
    target += st->current_line;
  else if (whence == 2)
    target += int64_t{st->height} - 1;
  target = std::clamp<int64_t>(target, 0, int64_t{st->height} - 1);
  // Run-length rows are written in order only.
  if (st->mode == 'w' && st->rle && target != st->current_line) return -1;
  st->current_line = static_cast<uint32_t>(target);
  return static_cast<int32_t>(target);
}

KLV_API image_cmap* tga_get_cmap(void* state) {
  TgaState* st = as_state(state);
  if (!st || st->map.empty()) return nullptr;
  auto* map = static_cast<image_cmap*>(std::calloc(1, sizeof(image_cmap)));
  if (!map) return nullptr;
  map->channels = st->map_channels;
  map->entries = st->map_entries;
  map->photometric = 1;
  for (uint32_t c = 0; c < 4; ++c) {
    map->channel[c] = static_cast<uint8_t*>(std::calloc(st->map_entries, 1));
    if (!map->channel[c]) {
      free_cmap(map);
      return nullptr;
    }
    for (uint32_t i = 0; i < st->map_entries; ++i) map->channel[c][i] = st->map[size_t{i} * 4 + c];
  }
  return map;
}

KLV_API int32_t tga_close(void* state) {
  TgaState* st = as_state(state);
  if (!st) return 0;
  const bool writing = st->mode == 'w';
  SFilemux* file = st->stream;
  st->stream = nullptr;
  delete st;
  const bool lost = file && Oclose(file) != 0 && writing;
  if (lost) KLV_LOG(KLV_LOG_ERROR, "TGA: written data was lost (the file is incomplete)");
  return lost ? -1 : 0;
}

}  // extern "C"
