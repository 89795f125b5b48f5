// SPDX-License-Identifier: MIT
// BMP files as image streams: header parsing and writing, line reading and
// writing, seeking and the colour map.
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "img/formats/bmp_rle.h"
#include "klv/bmp.h"
#include "klv/image_limits.h"
#include "klv/kernel_stream.h"
#include "klv/log.h"

namespace {

using klv::img::bmp::RleDecoder;

constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kCoreHeaderSize = 12;
// Sizes beyond these are taken as a lying header rather than an image.
constexpr int64_t kMaxDimension = int64_t{1} << 24;
constexpr uint64_t kMaxLineBytes = uint64_t{1} << 28;

uint16_t get16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t get32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
void put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
  put16(p, v);
  put16(p + 2, v >> 16);
}

// Swaps blue and red of each 3-byte pixel while copying.
void copy_swap_rgb_plain(uint8_t* dst, const uint8_t* src, uint32_t pixels) {
  for (uint32_t i = 0; i < pixels; ++i, dst += 3, src += 3) {
    const uint8_t b = src[0], g = src[1], r = src[2];
    dst[0] = r;
    dst[1] = g;
    dst[2] = b;
  }
}

#if defined(__x86_64__) || defined(__i386__)
// Five pixels per byte shuffle: 16 bytes are loaded and stored and the next
// step starts 15 bytes on, so the 16th byte written is rewritten by the next
// step. The loop stops while 16 bytes still lie inside both rows.
__attribute__((target("ssse3"))) void copy_swap_rgb_ssse3(uint8_t* dst, const uint8_t* src,
                                                          uint32_t pixels) {
  const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
  uint32_t i = 0;
  for (; i + 6 <= pixels; i += 5, src += 15, dst += 15) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_shuffle_epi8(v, order));
  }
  copy_swap_rgb_plain(dst, src, pixels - i);
}

using SwapFn = void (*)(uint8_t*, const uint8_t*, uint32_t);
SwapFn pick_copy_swap_rgb() {
  __builtin_cpu_init();  // may run before the compiler's own start-up code
  return __builtin_cpu_supports("ssse3") ? copy_swap_rgb_ssse3 : copy_swap_rgb_plain;
}
const SwapFn copy_swap_rgb = pick_copy_swap_rgb();
#else
constexpr auto copy_swap_rgb = copy_swap_rgb_plain;
#endif

struct BmpState {
  SFilemux* stream = nullptr;
  char mode = 'r';
  uint32_t width = 0, height = 0;
  int bits = 0;
  uint16_t samples = 1;
  bool compressed = false;
  uint32_t colours = 0;
  double xres = 100, yres = 100;
  std::vector<uint8_t> row;  // one file row, padding included
  // Uncompressed reading moves many rows per read, in the order the lines
  // come: rows [cache_first, cache_first + cache_len) of the file's data.
  std::vector<uint8_t> cache;
  int64_t cache_first = 0;
  int64_t cache_len = 0;
  int64_t data_start = 0;
  std::vector<uint8_t> palette;  // blue, green, red, 0 per entry
  uint32_t row_size = 0, bytes_per_line = 0;
  std::unique_ptr<RleDecoder> decoder;
  // Bottom-up compressed files code the last image line first. Their rows are
  // decoded a block of block_span rows at a time from checkpoints taken at the
  // start of every block.
  bool coded_bottom_up = false;
  uint32_t block_span = 1;
  std::vector<RleDecoder::State> checkpoints;  // state at file row k × block_span
  std::vector<uint8_t> block;                  // decoded rows of one block
  int64_t block_index = -1;
  uint32_t block_rows = 0;       // rows of the block that decoded
  std::vector<uint8_t> encoded;  // run-length codes of the row being written
  int64_t line_step = 0;
  int64_t cur_offset = 0, first_offset = 0;
  int64_t stream_pos = -1;  // where the stream stands, -1 unknown
  uint32_t current_line = 0;
  uint64_t lines_written = 0;
  // Uncompressed writing gathers the rows of one window of file rows and
  // writes the contiguous run [pending_lo, pending_hi) with one call, so that
  // bottom-up files, whose lines go to descending offsets, are not written row
  // by row.
  std::vector<uint8_t> pending;
  int64_t pending_base = 0, pending_lo = 0, pending_hi = 0;  // file rows

  BmpState() = default;
  BmpState(const BmpState&) = delete;
  BmpState& operator=(const BmpState&) = delete;
  ~BmpState() {
    if (stream) Oclose(stream);
  }

  bool seek_to(int64_t offset) {
    if (stream_pos == offset) return true;
    stream_pos = -1;
    if (Oseeki64(stream, offset, 0) != 0) return false;
    stream_pos = offset;
    return true;
  }
  bool read_row(uint8_t* out);
  bool read_bottom_up_row(uint8_t* out);
  bool load_block(uint32_t index);
  bool write_row(const uint8_t* in);
  bool flush_pending();
};

constexpr size_t kBlockBytes = size_t{16} << 20;

bool BmpState::load_block(uint32_t index) {
  block_index = -1;
  // Scan forward from the last checkpoint until this block's checkpoint exists.
  while (checkpoints.size() <= index) {
    const uint32_t from = static_cast<uint32_t>(checkpoints.size() - 1) * block_span;
    if (!decoder->restore(checkpoints.back())) return false;
    for (uint32_t r = from; r < from + block_span; ++r)
      if (!decoder->decode_line(block.data(), r)) return false;
    checkpoints.push_back(decoder->save());
  }
  if (!decoder->restore(checkpoints[index])) return false;
  const uint32_t first = index * block_span;
  const uint32_t rows = std::min(block_span, height - first);
  block_rows = 0;
  for (uint32_t r = 0; r < rows; ++r) {
    if (!decoder->decode_line(block.data() + size_t{r} * bytes_per_line, first + r)) break;
    ++block_rows;
  }
  block_index = index;
  return block_rows > 0;
}

bool BmpState::read_bottom_up_row(uint8_t* out) {
  const uint32_t file_row = height - 1 - current_line;
  const uint32_t index = file_row / block_span;
  if (block_index != index && !load_block(index)) return false;
  const uint32_t r = file_row % block_span;
  if (r >= block_rows) return false;
  std::memcpy(out, block.data() + size_t{r} * bytes_per_line, bytes_per_line);
  return true;
}

constexpr size_t kCacheBytes = size_t{1} << 20;
constexpr size_t kPendingBytes = size_t{1} << 20;

bool BmpState::read_row(uint8_t* out) {
  if (coded_bottom_up) return read_bottom_up_row(out);
  if (compressed) return decoder->decode_line(out, current_line);
  const int64_t file_row = (cur_offset - data_start) / row_size;
  if (file_row < cache_first || file_row >= cache_first + cache_len) {
    // Load a block of rows that holds this one and the lines after it.
    const int64_t rows = std::max<int64_t>(1, int64_t(kCacheBytes / row_size));
    int64_t first = line_step > 0 ? file_row : file_row - rows + 1;
    first = std::max<int64_t>(first, 0);
    const int64_t last = std::min<int64_t>(first + rows, height);
    cache.resize(size_t(last - first) * row_size);
    cache_len = 0;
    if (!seek_to(data_start + first * row_size)) return false;
    const size_t got = Oread(stream, cache.data(), cache.size());
    stream_pos = -1;
    cache_first = first;
    cache_len = int64_t(got / row_size);  // whole rows only
    if (file_row >= cache_first + cache_len) return false;
  }
  const uint8_t* src = cache.data() + size_t(file_row - cache_first) * row_size;
  if (bits == 24)
    copy_swap_rgb(out, src, width);
  else
    std::memcpy(out, src, bytes_per_line);
  cur_offset += line_step;
  return true;
}

bool BmpState::write_row(const uint8_t* in) {
  if (compressed) {
    encoded.clear();
    klv::img::bmp::encode_row(in, width, bits, encoded);
    encoded.push_back(0);
    encoded.push_back(current_line + 1 == height ? 1 : 0);  // end of bitmap after the last row
    if (!seek_to(cur_offset)) return false;
    if (Owrite(stream, encoded.data(), encoded.size()) != encoded.size()) {
      stream_pos = -1;
      return false;
    }
    stream_pos += static_cast<int64_t>(encoded.size());
    cur_offset = stream_pos;
    return true;
  }
  const int64_t file_row = (cur_offset - data_start) / row_size;
  const int64_t window = static_cast<int64_t>(pending.size() / row_size);
  const bool joins = pending_lo < pending_hi && file_row >= pending_base &&
                     file_row < pending_base + window && file_row >= pending_lo - 1 &&
                     file_row <= pending_hi;
  if (!joins) {
    if (!flush_pending()) return false;
    pending_base = file_row - file_row % window;
    pending_lo = pending_hi = file_row;
  }
  uint8_t* dst = pending.data() + size_t(file_row - pending_base) * row_size;
  if (bits == 24)
    copy_swap_rgb(dst, in, width);
  else
    std::memcpy(dst, in, bytes_per_line);
  std::memset(dst + bytes_per_line, 0, row_size - bytes_per_line);
  pending_lo = std::min(pending_lo, file_row);
  pending_hi = std::max(pending_hi, file_row + 1);
  cur_offset += line_step;
  return true;
}

bool BmpState::flush_pending() {
  if (pending_lo >= pending_hi) return true;
  const size_t bytes = size_t(pending_hi - pending_lo) * row_size;
  const uint8_t* src = pending.data() + size_t(pending_lo - pending_base) * row_size;
  const int64_t at = data_start + pending_lo * row_size;
  const int64_t lo = pending_lo, hi = pending_hi;
  pending_lo = pending_hi = 0;
  if (!seek_to(at) || Owrite(stream, src, bytes) != bytes) {
    stream_pos = -1;
    KLV_LOG(KLV_LOG_ERROR, "BMP: file rows %lld to %lld cannot be written",
            static_cast<long long>(lo), static_cast<long long>(hi - 1));
    return false;
  }
  stream_pos = at + static_cast<int64_t>(bytes);
  return true;
}

BmpState* as_state(void* p) {
  return static_cast<BmpState*>(p);
}

uint64_t row_bytes(uint64_t bits, uint64_t width) {
  return (bits * width + 31) / 32 * 4;
}

// What the file and information headers state.
struct BmpHeader {
  uint32_t size = 0;  // of the information header: 40 or 12
  int64_t width = 0, height = 0;
  uint32_t bits = 0, compression = 0, colours_used = 0;
  int32_t xppm = 0, yppm = 0;
  bool top_down = false;
  uint64_t line_bytes = 0, row_size = 0, table_bytes = 0, data_start = 0;
  uint32_t entry = 4;        // bytes of one colour table entry
  uint32_t data_offset = 0;  // where the file header puts the pixel data, 0 not given
};

// Stage 1: the signature and the information header, as stated. Decides
// nothing but whether the headers are there.
bool read_headers(SFilemux* stream, BmpHeader* h) {
  uint8_t fh[kFileHeaderSize];
  if (Oread(stream, fh, sizeof fh) != sizeof fh || fh[0] != 'B' || fh[1] != 'M') {
    KLV_LOG(KLV_LOG_DEBUG, "BMP: no \"BM\" file header");
    return false;
  }
  h->data_offset = get32(fh + 10);
  uint8_t hdr[kInfoHeaderSize] = {};
  if (Oread(stream, hdr, 4) != 4) {
    KLV_LOG(KLV_LOG_ERROR, "BMP: file ends before the information header");
    return false;
  }
  h->size = get32(hdr);
  if (h->size != kInfoHeaderSize && h->size != kCoreHeaderSize) {
    KLV_LOG(KLV_LOG_ERROR, "BMP: information header of %u bytes is not supported (40 or 12)",
            h->size);
    return false;
  }
  if (Oread(stream, hdr + 4, h->size - 4) != h->size - 4) {
    KLV_LOG(KLV_LOG_ERROR, "BMP: information header cut short");
    return false;
  }
  if (h->size == kInfoHeaderSize) {
    h->width = static_cast<int32_t>(get32(hdr + 4));
    h->height = static_cast<int32_t>(get32(hdr + 8));
    h->bits = get16(hdr + 14);
    h->compression = get32(hdr + 16);
    h->xppm = static_cast<int32_t>(get32(hdr + 24));
    h->yppm = static_cast<int32_t>(get32(hdr + 28));
    h->colours_used = get32(hdr + 32);
  } else {
    h->width = get16(hdr + 4);
    h->height = get16(hdr + 6);
    h->bits = get16(hdr + 10);
    h->compression = 0;
    h->xppm = h->yppm = 3937;
    h->colours_used = h->bits <= 8 ? (1u << h->bits) : 0;
  }
  return true;
}

// Where the pixel data starts: at the offset the file header gives, which
// may leave a gap after the colour table or cut a table that states more
// colours than fit before the data. A file header that gives no offset (0)
// has the data right after the table.
bool place_data(BmpHeader* h) {
  const uint64_t headers = kFileHeaderSize + h->size;
  const uint64_t after_table = headers + h->table_bytes;
  if (h->data_offset == 0) {
    h->data_start = after_table;
    return true;
  }
  if (h->data_offset < headers) {
    KLV_LOG(KLV_LOG_ERROR, "BMP: pixel data offset %u lies inside the headers (%llu bytes)",
            h->data_offset, static_cast<unsigned long long>(headers));
    return false;
  }
  h->data_start = h->data_offset;
  if (h->data_offset < after_table && h->bits <= 8) {
    h->colours_used = static_cast<uint32_t>((h->data_offset - headers) / h->entry);
    h->table_bytes = uint64_t{h->colours_used} * h->entry;
  }
  return true;
}

// Stage 2: whether this reader handles the stated pixel format and size, and
// the row geometry that follows from them.
bool check_format(BmpHeader* h) {
  if (h->bits != 1 && h->bits != 4 && h->bits != 8 && h->bits != 24) {
    KLV_LOG(KLV_LOG_ERROR, "BMP: %u bits per pixel is not supported (1, 4, 8 or 24)", h->bits);
    return false;
  }
  if (h->compression != 0 && h->bits != 4 && h->bits != 8) {
    KLV_LOG(KLV_LOG_ERROR, "BMP: run-length compression with %u bits per pixel", h->bits);
    return false;
  }
  h->top_down = h->height <= 0;
  if (h->top_down) h->height = -h->height;
  if (h->width < 1 || h->height < 1 || h->width > kMaxDimension || h->height > kMaxDimension) {
    KLV_LOG(KLV_LOG_ERROR, "BMP: image size %lldx%lld is out of range",
            static_cast<long long>(h->width), static_cast<long long>(h->height));
    return false;
  }
  h->line_bytes = (uint64_t{h->bits} * h->width + 7) / 8;
  h->row_size = row_bytes(h->bits, h->width);
  if (h->row_size > kMaxLineBytes) {
    KLV_LOG(KLV_LOG_ERROR, "BMP: rows of %llu bytes are out of range",
            static_cast<unsigned long long>(h->row_size));
    return false;
  }
  if (h->colours_used == 0 && h->bits <= 8) h->colours_used = 1u << h->bits;
  h->entry = h->size == kInfoHeaderSize ? 4 : 3;
  h->table_bytes = uint64_t{h->colours_used} * h->entry;
  return place_data(h);
}

// Stage 3: whether the file can hold the image it states. Uncompressed rows
// must all be in the file, padding included; compressed
// data must start and stay within the resource limits, which bound the pixels
// a few bytes of codes may claim.
bool check_data_covers(SFilemux* stream, const BmpHeader& h, const char* path) {
  const int64_t file_len = Ofileleni64(stream);
  const bool compressed = h.compression != 0;
  if (h.data_offset != 0 && file_len >= 0 && h.data_start >= static_cast<uint64_t>(file_len)) {
    KLV_LOG(KLV_LOG_ERROR, "BMP \"%s\": pixel data offset %llu lies outside the file of %lld bytes",
            path ? path : "", static_cast<unsigned long long>(h.data_start),
            static_cast<long long>(file_len));
    return false;
  }
  const uint64_t needed = h.data_start + (compressed ? 2 : uint64_t(h.height) * h.row_size);
  if (file_len < 0 || needed > static_cast<uint64_t>(file_len)) {
    KLV_LOG(KLV_LOG_ERROR,
            "BMP \"%s\": %lldx%lld pixels of %u bits need %llu bytes%s, file has %lld",
            path ? path : "", static_cast<long long>(h.width), static_cast<long long>(h.height),
            h.bits, static_cast<unsigned long long>(needed),
            compressed ? " before the first code" : " to hold every row",
            static_cast<long long>(file_len));
    return false;
  }
  return klv_image_limits_check("BMP", path, uint64_t(h.width), uint64_t(h.height),
                                compressed ? uint64_t(file_len) : 0) != 0;
}

// Stage 4: the colour table, entries beyond what the bit count can index
// skipped with the table.
bool read_colour_table(BmpState* st, const BmpHeader& h) {
  if (h.bits > 8) return true;
  st->colours = std::min(h.colours_used, 1u << h.bits);
  st->palette.assign(size_t{st->colours} * 4, 0);
  std::vector<uint8_t> table(static_cast<size_t>(st->colours * h.entry));
  if (Oseeki64(st->stream, kFileHeaderSize + h.size, 0) != 0 ||
      Oread(st->stream, table.data(), table.size()) != table.size()) {
    KLV_LOG(KLV_LOG_ERROR, "BMP: colour table cut short");
    return false;
  }
  for (uint32_t i = 0; i < st->colours; ++i)
    std::memcpy(&st->palette[size_t{i} * 4], &table[i * h.entry], 3);
  return true;
}

// Stage 5: the reading state: geometry, resolutions, and where line 0 is (the
// first code of compressed data, whose bottom-up rows are decoded in blocks).
void start_reading(BmpState* st, const BmpHeader& h) {
  st->compressed = h.compression != 0;
  st->width = static_cast<uint32_t>(h.width);
  st->height = static_cast<uint32_t>(h.height);
  st->bits = static_cast<int>(h.bits);
  st->samples = h.bits <= 15 ? 1 : (h.bits <= 24 ? 3 : 4);
  st->row_size = static_cast<uint32_t>(h.row_size);
  st->bytes_per_line = static_cast<uint32_t>(h.line_bytes);
  st->xres = h.xppm > 0 ? h.xppm * 254.0 / 10000.0 : 100.0;
  st->yres = h.yppm > 0 ? h.yppm * 254.0 / 10000.0 : 100.0;
  st->line_step = h.top_down ? int64_t{st->row_size} : -int64_t{st->row_size};
  st->row.assign(st->row_size, 0);
  st->data_start = static_cast<int64_t>(h.data_start);
  if (!st->compressed) {
    st->first_offset = st->data_start + (h.top_down ? 0 : int64_t{st->height - 1} * st->row_size);
    st->cur_offset = st->first_offset;
    return;
  }
  st->first_offset = st->data_start;
  st->cur_offset = st->first_offset;
  const uint32_t pad_pixels =
      static_cast<uint32_t>((h.row_size * 8 - h.bits * uint64_t(h.width)) / h.bits);
  st->decoder =
      std::make_unique<RleDecoder>(st->stream, st->bits, st->width, st->height, pad_pixels);
  st->decoder->restart(st->first_offset);
  if (!h.top_down) {
    st->coded_bottom_up = true;
    st->checkpoints.push_back(st->decoder->save());
    st->block_span =
        static_cast<uint32_t>(std::clamp<size_t>(kBlockBytes / st->bytes_per_line, 1, 64));
    st->block.assign(size_t{st->block_span} * st->bytes_per_line, 0);
  }
}

// Parses the headers into `st`, which owns the stream.
bool read_vars(BmpState* st, const char* path) {
  st->mode = 'r';
  BmpHeader h;
  if (!read_headers(st->stream, &h) || !check_format(&h) ||
      !check_data_covers(st->stream, h, path) || !read_colour_table(st, h))
    return false;
  start_reading(st, h);
  return true;
}

void fill_info(const BmpState& st, image_info* info) {
  info->width = static_cast<int32_t>(st.width);
  info->height = static_cast<int32_t>(st.height);
  info->pages = 1;
  info->planar = KLV_PLANAR_PIXEL;
  info->samples = st.bits == 24 ? 3 : 1;
  info->spot_samples = 0;
  info->mask_samples = 0;
  info->format_word1 = 0;
  info->bits_per_sample = st.bits == 24 ? 8 : static_cast<uint32_t>(st.bits);
  info->bytes_per_line = st.bytes_per_line;
  info->xres = st.xres;
  info->yres = st.yres;
  info->width_inches = st.width / st.xres;
  info->height_inches = st.height / st.yres;
  info->compression = st.compressed ? 1 : 0;
  info->photometric = st.bits == 24 ? KLV_PHOTO_MINBLACK : KLV_PHOTO_PALETTE;
  init_crop_info(&info->crop);
}

bool write_vars(BmpState* st, image_info* info, const image_cmap* cmap) {
  SFilemux* stream = st->stream;
  st->mode = 'w';
  const uint32_t bps = info->bits_per_sample;
  const bool palette = info->photometric == KLV_PHOTO_PALETTE && info->samples == 1;
  const bool rgb = info->photometric == KLV_PHOTO_MINBLACK && info->samples == 3;
  if ((bps != 1 && bps != 4 && bps != 8) || (info->samples != 1 && bps != 8) || info->pages > 1 ||
      info->planar != KLV_PLANAR_PIXEL || !(palette || rgb) || info->mask_samples != 0 ||
      (palette && !cmap)) {
    KLV_LOG(KLV_LOG_ERROR,
            "BMP: cannot write %u samples of %u bits, photometric %u, layout %u, %u mask "
            "samples%s",
            info->samples, bps, info->photometric, info->planar, info->mask_samples,
            palette && !cmap ? ", no colour map" : "");
    return false;
  }
  if (info->width < 1 || info->height < 1 || info->width > kMaxDimension ||
      info->height > kMaxDimension) {
    KLV_LOG(KLV_LOG_ERROR, "BMP: cannot write an image of %dx%d pixels", info->width, info->height);
    return false;
  }
  st->width = static_cast<uint32_t>(info->width);
  st->height = static_cast<uint32_t>(info->height);
  st->bits = static_cast<int>(bps * info->samples);
  st->samples = info->samples == 1 ? 1 : 3;
  // Run-length coding exists for 4- and 8-bit palettes only; other images that
  // ask for compression are written top-down and uncompressed.
  const bool top_down = info->compression != 0;
  st->compressed = top_down && palette && (bps == 4 || bps == 8);
  st->colours = palette ? (1u << bps) : 0;
  st->xres = info->xres;
  st->yres = info->yres;
  st->row_size = static_cast<uint32_t>(row_bytes(st->bits, st->width));
  st->bytes_per_line = static_cast<uint32_t>((uint64_t{uint32_t(st->bits)} * st->width + 7) / 8);
  const uint32_t data_offset = kFileHeaderSize + kInfoHeaderSize + 4 * st->colours;

  uint8_t head[kFileHeaderSize + kInfoHeaderSize] = {};
  head[0] = 'B';
  head[1] = 'M';
  put32(head + 10, data_offset);
  uint8_t* ih = head + kFileHeaderSize;
  put32(ih, kInfoHeaderSize);
  put32(ih + 4, st->width);
  put32(ih + 8, top_down ? static_cast<uint32_t>(-int64_t{st->height}) : st->height);
  put16(ih + 12, 1);
  put16(ih + 14, static_cast<uint32_t>(st->bits));
  put32(ih + 16, st->compressed ? (bps == 4 ? 2 : 1) : 0);
  put32(ih + 24, static_cast<uint32_t>(static_cast<int32_t>(info->xres * 10000 / 254 + 0.5)));
  put32(ih + 28, static_cast<uint32_t>(static_cast<int32_t>(info->yres * 10000 / 254 + 0.5)));
  put32(ih + 32, st->colours);
  std::vector<uint8_t> table(size_t{st->colours} * 4, 0);
  for (uint32_t i = 0; i < st->colours && i < cmap->entries; ++i) {
    for (int c = 0; c < 3; ++c) {
      const uint8_t* ch = cmap->channel[2 - c];
      table[size_t{i} * 4 + c] = ch ? ch[i] : 0;
    }
  }
  st->palette = table;
  if (Owrite(stream, head, sizeof head) != sizeof head ||
      (!table.empty() && Owrite(stream, table.data(), table.size()) != table.size())) {
    KLV_LOG(KLV_LOG_ERROR, "BMP: cannot write the headers");
    return false;
  }
  st->stream_pos = data_offset;
  st->line_step = top_down ? int64_t{st->row_size} : -int64_t{st->row_size};
  st->first_offset = data_offset + (top_down ? 0 : int64_t{st->height - 1} * st->row_size);
  st->cur_offset = st->first_offset;
  st->row.assign(st->row_size, 0);
  st->data_start = data_offset;
  if (!st->compressed) {
    const size_t rows = std::clamp<size_t>(kPendingBytes / st->row_size, 1, st->height);
    st->pending.assign(rows * st->row_size, 0);
  }

  info->pages = 1;
  info->planar = KLV_PLANAR_PIXEL;
  info->bits_per_sample = info->samples == 1 ? bps : 8;
  info->bytes_per_line = st->bytes_per_line;
  info->compression = st->compressed ? 1 : 0;
  info->format_word3 = 0;
  init_crop_info(&info->crop);
  if (info->xres != 0 && info->yres != 0) {
    info->width_inches = st->width / info->xres;
    info->height_inches = st->height / info->yres;
  }
  return true;
}

// The reading state over `stream` (closed on failure); `path` names the file
// in messages when it is known.
void* read_state(SFilemux* stream, const char* path) {
  if (!stream) return nullptr;
  BmpState* st = new (std::nothrow) BmpState;
  if (!st) {
    Oclose(stream);
    return nullptr;
  }
  st->stream = stream;  // closed with the state from here on
  try {
    if (read_vars(st, path)) return st;
  } catch (...) {
    KLV_LOG(KLV_LOG_ERROR, "BMP: out of memory reading the headers");
  }
  delete st;
  return nullptr;
}

}  // namespace

extern "C" {

KLV_API void* bmp_read_vars(SFilemux* stream) {
  return read_state(stream, nullptr);
}

KLV_API void* bmp_write_vars(SFilemux* stream, image_info* info, const image_cmap* cmap) {
  if (!stream) return nullptr;
  if (!info) {
    Oclose(stream);
    return nullptr;
  }
  BmpState* st = new (std::nothrow) BmpState;
  if (!st) {
    Oclose(stream);
    return nullptr;
  }
  st->stream = stream;  // closed with the state from here on
  try {
    if (write_vars(st, info, cmap)) return st;
  } catch (...) {
    KLV_LOG(KLV_LOG_ERROR, "BMP: out of memory writing the headers");
  }
  delete st;
  return nullptr;
}

KLV_API int32_t bmp_get_info(void* state, image_info* info) {
  if (!state || !info) return 0;
  fill_info(*as_state(state), info);
  return 1;
}

KLV_API void* bmp_open(const char* path, SOVolume* volume, const char* mode, image_info* info) {
  if (!path || !mode) return nullptr;
  const bool reading = std::strchr(mode, 'r') != nullptr;
  if (!reading && !info) {
    KLV_LOG(KLV_LOG_ERROR, "BMP \"%s\": writing needs a description", path);
    return nullptr;
  }
  SFilemux* stream = Ovfopen(volume, path, mode);
  if (!stream) return nullptr;
  if (reading) {
    void* st = read_state(stream, path);
    if (st && info) bmp_get_info(st, info);
    return st;
  }
  return bmp_write_vars(stream, info, info->cmap);
}

KLV_API int32_t bmp_read_line(void* state, uint8_t* buffer, int32_t count) {
  BmpState* st = as_state(state);
  if (!st || !buffer || count < 1 || st->mode != 'r') return 0;
  int32_t done = 0;
  try {
    while (done < count && st->current_line < st->height) {
      if (!st->read_row(buffer)) {
        KLV_LOG(KLV_LOG_ERROR, "BMP: line %u cannot be read", st->current_line);
        break;
      }
      buffer += st->bytes_per_line;
      ++st->current_line;
      ++done;
    }
  } catch (...) {
  }
  return done;
}

KLV_API int32_t bmp_write_line(void* state, uint8_t* buffer, int32_t count) {
  BmpState* st = as_state(state);
  if (!st || !buffer || count < 1 || st->mode != 'w') return 0;
  int32_t done = 0;
  try {
    while (done < count && st->current_line < st->height) {
      if (!st->write_row(buffer)) {
        KLV_LOG(KLV_LOG_ERROR, "BMP: line %u cannot be written", st->current_line);
        break;
      }
      buffer += st->bytes_per_line;
      ++st->current_line;
      ++st->lines_written;
      ++done;
    }
  } catch (...) {
  }
  return done;
}

KLV_API int32_t bmp_seek_line(void* state, int32_t line, int32_t plane, int32_t page,
                              int32_t whence) {
  BmpState* st = as_state(state);
  if (!st) return -1;
  if (whence == 1 ? (plane != 0 || page != 0) : (plane > 0 || page > 0)) return -1;
  int64_t target = line;
  if (whence == 1)
    target += st->current_line;
  else if (whence == 2)
    target += int64_t{st->height} - 1;
  target = std::clamp<int64_t>(target, 0, int64_t{st->height} - 1);
  if (!st->compressed || st->coded_bottom_up) {
    st->cur_offset = st->first_offset + st->line_step * target;
    st->current_line = static_cast<uint32_t>(target);
    return static_cast<int32_t>(target);
  }
  // A compressed file written in order cannot be repositioned.
  if (st->mode != 'r') return target == st->current_line ? static_cast<int32_t>(target) : -1;
  try {
    if (target < st->current_line) {
      st->decoder->restart(st->first_offset);
      st->current_line = 0;
    }
    while (st->current_line < target) {
      if (!st->decoder->decode_line(st->row.data(), st->current_line)) {
        KLV_LOG(KLV_LOG_ERROR, "BMP: cannot decode line %u while seeking", st->current_line);
        return -1;
      }
      ++st->current_line;
    }
  } catch (...) {
    return -1;
  }
  return static_cast<int32_t>(target);
}

KLV_API image_cmap* bmp_get_cmap(void* state) {
  BmpState* st = as_state(state);
  if (!st || st->palette.empty() || st->colours == 0) return nullptr;
  auto* map = static_cast<image_cmap*>(std::calloc(1, sizeof(image_cmap)));
  if (!map) return nullptr;
  map->channels = 3;
  map->entries = st->colours;
  map->photometric = 1;
  for (int c = 0; c < 4; ++c) {
    map->channel[c] = static_cast<uint8_t*>(std::calloc(st->colours, 1));
    if (!map->channel[c]) {
      free_cmap(map);
      return nullptr;
    }
  }
  for (uint32_t i = 0; i < st->colours; ++i) {
    map->channel[0][i] = st->palette[size_t{i} * 4 + 2];
    map->channel[1][i] = st->palette[size_t{i} * 4 + 1];
    map->channel[2][i] = st->palette[size_t{i} * 4 + 0];
  }
  return map;
}

KLV_API int32_t bmp_close(void* state) {
  BmpState* st = as_state(state);
  if (!st) return 0;
  if (st->mode != 'w') {
    delete st;
    return 0;
  }
  bool ok = true;
  try {
    if (!st->compressed && !st->flush_pending()) ok = false;
    // The file size in the header is patched once every line is in.
    if (ok && st->lines_written >= st->height) {
      uint8_t size[4];
      const int64_t len = Ofileleni64(st->stream);
      put32(size, len > 0 && len <= UINT32_MAX ? static_cast<uint32_t>(len) : 0);
      if (Oseeki64(st->stream, 2, 0) != 0 || Owrite(st->stream, size, 4) != 4) {
        KLV_LOG(KLV_LOG_ERROR, "BMP: cannot patch the file size");
        ok = false;
      }
    }
  } catch (...) {
    ok = false;
  }
  // Closing the file reports any write that failed on it, earlier ones too.
  SFilemux* file = st->stream;
  st->stream = nullptr;
  delete st;
  if (file && Oclose(file) != 0) ok = false;
  if (!ok) KLV_LOG(KLV_LOG_ERROR, "BMP: written data was lost (the file is incomplete)");
  return ok ? 0 : -1;
}

}  // extern "C"
