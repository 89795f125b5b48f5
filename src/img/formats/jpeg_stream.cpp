// SPDX-License-Identifier: MIT
// JPEG files as image streams over libjpeg: opening, line reading and
// writing, seeking in the forward-only decoder, and the embedded profile.
//
// libjpeg reports errors through the error manager's error_exit, which here
// jumps back to the stream function that made the libjpeg call. Every such
// function is a small "guarded" stage whose locals are plain values, so that
// the jump skips no destructor.
#include "klv/jpeg.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>
// clang-format off
#include <jerror.h>
// clang-format on

#include "img/formats/jpeg_markers.h"
#include "img/formats/profile_cache.h"
#include "klv/cimg_file.h"
#include "klv/image_limits.h"
#include "klv/kernel_stream.h"
#include "klv/log.h"

namespace {

using klv::img::kProfileInFile;

constexpr size_t kIoBytes = size_t{64} << 10;
constexpr int kMaxRowsPerCall = 16;

struct ErrorMgr {
  jpeg_error_mgr pub;
  jmp_buf jump;
  const char* path;
};

[[noreturn]] void error_exit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorMgr*>(cinfo->err);
  char text[JMSG_LENGTH_MAX];
  (*cinfo->err->format_message)(cinfo, text);
  KLV_LOG(KLV_LOG_ERROR, "JPEG \"%s\": %s", err->path ? err->path : "", text);
  longjmp(err->jump, 1);
}

// Warnings that mean the coded data is damaged or cut short end the decoding
// as errors: libjpeg would otherwise deliver gray filler as if it were image.
bool damaged_data_warning(int code) {
  return code == JWRN_JPEG_EOF || code == JWRN_HUFF_BAD_CODE || code == JWRN_HIT_MARKER ||
         code == JWRN_MUST_RESYNC;
}

void emit_message(j_common_ptr cinfo, int level) {
  if (level >= 0) return;  // trace messages
  if (damaged_data_warning(cinfo->err->msg_code)) error_exit(cinfo);
  if (cinfo->err->num_warnings++ == 0) {
    auto* err = reinterpret_cast<ErrorMgr*>(cinfo->err);
    char text[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, text);
    KLV_LOG(KLV_LOG_WARNING, "JPEG \"%s\": %s", err->path ? err->path : "", text);
  }
}

void output_message(j_common_ptr cinfo) {
  char text[JMSG_LENGTH_MAX];
  (*cinfo->err->format_message)(cinfo, text);
  KLV_LOG(KLV_LOG_DEBUG, "JPEG: %s", text);
}

// ---- data source and destination over a kernel stream ----

struct Source {
  jpeg_source_mgr pub;
  SFilemux* file;
  JOCTET buffer[kIoBytes];
};

void init_source(j_decompress_ptr) {}
void term_source(j_decompress_ptr) {}

boolean fill_input_buffer(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<Source*>(cinfo->src);
  size_t n = Oread(src->file, src->buffer, kIoBytes);
  if (n == 0) {
    // The data ended before the end-of-image marker; the warning is turned
    // into an error by emit_message.
    WARNMS(cinfo, JWRN_JPEG_EOF);
    src->buffer[0] = 0xFF;
    src->buffer[1] = JPEG_EOI;
    n = 2;
  }
  src->pub.next_input_byte = src->buffer;
  src->pub.bytes_in_buffer = n;
  return TRUE;
}

void skip_input_data(j_decompress_ptr cinfo, long count) {
  auto* src = reinterpret_cast<Source*>(cinfo->src);
  if (count <= 0) return;
  while (count > static_cast<long>(src->pub.bytes_in_buffer)) {
    count -= static_cast<long>(src->pub.bytes_in_buffer);
    fill_input_buffer(cinfo);
  }
  src->pub.next_input_byte += count;
  src->pub.bytes_in_buffer -= static_cast<size_t>(count);
}

void reset_source(Source* src) {
  src->pub.next_input_byte = nullptr;
  src->pub.bytes_in_buffer = 0;
}

struct Dest {
  jpeg_destination_mgr pub;
  SFilemux* file;
  JOCTET buffer[kIoBytes];
};

void init_destination(j_compress_ptr cinfo) {
  auto* dst = reinterpret_cast<Dest*>(cinfo->dest);
  dst->pub.next_output_byte = dst->buffer;
  dst->pub.free_in_buffer = kIoBytes;
}

boolean empty_output_buffer(j_compress_ptr cinfo) {
  auto* dst = reinterpret_cast<Dest*>(cinfo->dest);
  if (Owrite(dst->file, dst->buffer, kIoBytes) != kIoBytes) ERREXIT(cinfo, JERR_FILE_WRITE);
  init_destination(cinfo);
  return TRUE;
}

void term_destination(j_compress_ptr cinfo) {
  auto* dst = reinterpret_cast<Dest*>(cinfo->dest);
  const size_t n = kIoBytes - dst->pub.free_in_buffer;
  if (n > 0 && Owrite(dst->file, dst->buffer, n) != n) ERREXIT(cinfo, JERR_FILE_WRITE);
}

// ---- the stream record ----

struct JpegStream {
  char mode = 'r';
  SOVolume* volume = nullptr;
  std::string path;
  SFilemux* file = nullptr;
  ErrorMgr err{};
  jpeg_decompress_struct d{};
  jpeg_compress_struct c{};
  bool created = false;
  Source* src = nullptr;
  Dest* dst = nullptr;
  uint32_t width = 0, height = 0, comps = 0;
  double xres = 100, yres = 100;
  size_t line_bytes = 0;
  uint32_t line = 0;    // the line the next read delivers
  bool failed = false;  // the decoder or encoder met an error
  bool invert = false;  // CMYK without the Adobe marker: stored as ink
  bool keep = false;    // keep a copy of every decoded line
  int64_t kept_line = -1;
  std::vector<uint8_t> kept;
  std::vector<uint8_t> icc;
  uint32_t written = 0;

  JpegStream() = default;
  JpegStream(const JpegStream&) = delete;
  JpegStream& operator=(const JpegStream&) = delete;
  ~JpegStream() {
    if (created) {
      if (mode == 'r')
        jpeg_destroy_decompress(&d);
      else
        jpeg_destroy_compress(&c);
    }
    delete src;
    delete dst;
    if (file) Oclose(file);
  }
  // Lines libjpeg has decoded so far.
  uint32_t decoded() const { return d.output_scanline; }
};

JpegStream* as_stream(void* p) {
  return static_cast<JpegStream*>(p);
}

void init_error(JpegStream* s) {
  jpeg_std_error(&s->err.pub);
  s->err.pub.error_exit = error_exit;
  s->err.pub.emit_message = emit_message;
  s->err.pub.output_message = output_message;
  s->err.path = s->path.c_str();
}

// ---- reading ----

// Output choices matching djpeg's defaults: the accurate integer DCT and
// fancy upsampling, output in the file's own colour family.
void set_decode_options(JpegStream* s) {
  s->d.dct_method = JDCT_ISLOW;
  if (s->d.jpeg_color_space == JCS_CMYK || s->d.jpeg_color_space == JCS_YCCK)
    s->d.out_color_space = JCS_CMYK;
}

// Creates the decompressor and reads the header with the markers the stream
// needs kept (ICC profile and Photoshop resources).
bool guarded_open_decoder(JpegStream* s) {
  if (setjmp(s->err.jump)) return false;
  s->d.err = &s->err.pub;
  jpeg_create_decompress(&s->d);
  s->created = true;
  s->d.src = &s->src->pub;
  jpeg_save_markers(&s->d, JPEG_APP0 + 2, 0xFFFF);
  jpeg_save_markers(&s->d, JPEG_APP0 + 13, 0xFFFF);
  jpeg_read_header(&s->d, TRUE);
  return true;
}

// Takes the profile out of the saved APP2 markers.
bool guarded_read_icc(JpegStream* s, JOCTET** data, unsigned* len) {
  if (setjmp(s->err.jump)) return false;
  return jpeg_read_icc_profile(&s->d, data, len) != 0;
}

bool guarded_start(JpegStream* s) {
  if (setjmp(s->err.jump)) return false;
  set_decode_options(s);
  jpeg_start_decompress(&s->d);
  return true;
}

void read_resolution(JpegStream* s) {
  double xr = 0, yr = 0;
  for (jpeg_saved_marker_ptr m = s->d.marker_list; m; m = m->next) {
    if (m->marker == JPEG_APP0 + 13 &&
        klv::img::jpeg::photoshop_resolution(m->data, m->data_length, &xr, &yr))
      break;
  }
  if (xr <= 0 || yr <= 0) {
    const double scale = s->d.density_unit == 2 ? 2.54 : 1.0;
    xr = s->d.X_density * scale;
    yr = s->d.Y_density * scale;
    if (s->d.density_unit == 0) {
      if (s->d.X_density == 1) xr = 72;
      if (s->d.Y_density == 1) yr = 72;
    }
  }
  s->xres = xr > 0 ? xr : 100;
  s->yres = yr > 0 ? yr : 100;
}

bool open_reading(JpegStream* s) {
  s->src = new Source{};
  s->src->file = s->file;
  s->src->pub.init_source = init_source;
  s->src->pub.fill_input_buffer = fill_input_buffer;
  s->src->pub.skip_input_data = skip_input_data;
  s->src->pub.resync_to_restart = jpeg_resync_to_restart;
  s->src->pub.term_source = term_source;
  reset_source(s->src);
  if (!guarded_open_decoder(s)) return false;
  const int64_t file_len = Ofileleni64(s->file);
  if (!klv_image_limits_check("JPEG", s->path.c_str(), s->d.image_width, s->d.image_height,
                              file_len > 0 ? uint64_t(file_len) : 1))
    return false;
  JOCTET* icc = nullptr;
  unsigned icc_len = 0;
  if (guarded_read_icc(s, &icc, &icc_len) && icc) s->icc.assign(icc, icc + icc_len);
  std::free(icc);
  if (!guarded_start(s)) return false;
  s->width = s->d.output_width;
  s->height = s->d.output_height;
  s->comps = static_cast<uint32_t>(s->d.output_components);
  if (s->comps != 1 && s->comps != 3 && s->comps != 4) {
    KLV_LOG(KLV_LOG_ERROR, "JPEG \"%s\": %u components are not supported (1, 3 or 4)",
            s->path.c_str(), s->comps);
    return false;
  }
  s->invert = s->comps == 4 && !s->d.saw_Adobe_marker;
  s->line_bytes = size_t{s->width} * s->comps;
  read_resolution(s);
  return true;
}

void fill_info(const JpegStream& s, image_info* info) {
  info->width = static_cast<int32_t>(s.width);
  info->height = static_cast<int32_t>(s.height);
  info->pages = 1;
  info->planar = KLV_PLANAR_PIXEL;
  info->bits_per_sample = 8;
  info->samples = s.comps;
  info->spot_samples = 0;
  info->mask_samples = 0;
  info->format_word1 = 0;
  info->photometric = KLV_PHOTO_MINBLACK;
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

JDIMENSION guarded_read_rows(JpegStream* s, JSAMPROW* rows, JDIMENSION n) {
  if (setjmp(s->err.jump)) {
    s->failed = true;
    return 0;
  }
  return jpeg_read_scanlines(&s->d, rows, n);
}

JDIMENSION guarded_skip_some(JpegStream* s, JDIMENSION n) {
  if (setjmp(s->err.jump)) {
    s->failed = true;
    return 0;
  }
  return jpeg_skip_scanlines(&s->d, n);
}

bool skip_lines(JpegStream* s, JDIMENSION n) {
  while (n > 0) {
    const JDIMENSION done = guarded_skip_some(s, n);
    if (done == 0) return false;
    n -= done;
  }
  return true;
}

// Back to line 0: the file from its start, a fresh header, a fresh start.
bool guarded_restart(JpegStream* s) {
  if (setjmp(s->err.jump)) {
    s->failed = true;
    return false;
  }
  jpeg_abort_decompress(&s->d);
  reset_source(s->src);
  jpeg_read_header(&s->d, TRUE);
  set_decode_options(s);
  jpeg_start_decompress(&s->d);
  s->failed = false;
  return true;
}

void invert_bytes(uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(~p[i]);
}

// Decodes `n` lines straight into the caller's buffer; the count decoded.
uint32_t decode_into(JpegStream* s, uint8_t* buffer, uint32_t n) {
  uint32_t done = 0;
  while (done < n && !s->failed) {
    JSAMPROW rows[kMaxRowsPerCall];
    const uint32_t ask = std::min<uint32_t>(n - done, kMaxRowsPerCall);
    for (uint32_t i = 0; i < ask; ++i) rows[i] = buffer + (done + i) * s->line_bytes;
    const JDIMENSION got = guarded_read_rows(s, rows, ask);
    if (got == 0) break;
    done += got;
  }
  if (s->invert) invert_bytes(buffer, size_t{done} * s->line_bytes);
  if (s->keep && done > 0) {
    std::memcpy(s->kept.data(), buffer + (done - 1) * s->line_bytes, s->line_bytes);
    s->kept_line = int64_t{s->decoded()} - 1;
  }
  return done;
}

// ---- writing ----

bool check_write_info(const image_info* info, const char* path) {
  const bool ok = info->width > 0 && info->height > 0 && info->width <= JPEG_MAX_DIMENSION &&
                  info->height <= JPEG_MAX_DIMENSION && info->bits_per_sample == 8 &&
                  info->photometric == KLV_PHOTO_MINBLACK &&
                  (info->samples == 1 || info->samples == 3 || info->samples == 4) &&
                  info->mask_samples == 0 && info->planar == KLV_PLANAR_PIXEL;
  if (!ok)
    KLV_LOG(KLV_LOG_ERROR,
            "JPEG \"%s\": cannot write %dx%d pixels of %u samples of %u bits, photometric %u, "
            "layout %u, %u mask samples",
            path, info->width, info->height, info->samples, info->bits_per_sample,
            info->photometric, info->planar, info->mask_samples);
  return ok;
}

int quality_for(uint32_t compression) {
  if (compression == 0) return 100;
  if (compression <= 20) return 50;
  return static_cast<int>(std::min<uint32_t>(compression, 100));
}

UINT16 density(double res) {
  return static_cast<UINT16>(std::clamp(std::lround(res), 1L, 65535L));
}

bool guarded_open_encoder(JpegStream* s, const image_info* info, const image_profile* profile) {
  if (setjmp(s->err.jump)) return false;
  s->c.err = &s->err.pub;
  jpeg_create_compress(&s->c);
  s->created = true;
  s->c.dest = &s->dst->pub;
  s->c.image_width = static_cast<JDIMENSION>(info->width);
  s->c.image_height = static_cast<JDIMENSION>(info->height);
  s->c.input_components = static_cast<int>(info->samples);
  s->c.in_color_space = info->samples == 1   ? JCS_GRAYSCALE
                        : info->samples == 3 ? JCS_RGB
                                             : JCS_CMYK;
  jpeg_set_defaults(&s->c);
  s->c.write_JFIF_header = TRUE;
  s->c.density_unit = 1;
  s->c.X_density = density(s->xres);
  s->c.Y_density = density(s->yres);
  jpeg_set_quality(&s->c, quality_for(info->compression), TRUE);
  jpeg_start_compress(&s->c, TRUE);
  if (profile && profile->size > 0) jpeg_write_icc_profile(&s->c, profile->data, profile->size);
  return true;
}

bool open_writing(JpegStream* s, image_info* info) {
  if (!check_write_info(info, s->path.c_str())) return false;
  s->xres = info->xres > 0 ? info->xres : 100;
  s->yres = info->yres > 0 ? info->yres : s->xres;
  s->dst = new Dest{};
  s->dst->file = s->file;
  s->dst->pub.init_destination = init_destination;
  s->dst->pub.empty_output_buffer = empty_output_buffer;
  s->dst->pub.term_destination = term_destination;
  if (!guarded_open_encoder(s, info, klv::img::profile_to_write(info))) return false;
  s->width = static_cast<uint32_t>(info->width);
  s->height = static_cast<uint32_t>(info->height);
  s->comps = info->samples;
  s->line_bytes = size_t{s->width} * s->comps;
  s->xres = s->c.X_density;
  s->yres = s->c.Y_density;
  info->xres = s->xres;
  info->yres = s->yres;
  info->pages = 1;
  info->mask_samples = 0;
  info->bytes_per_line = static_cast<uint32_t>(s->line_bytes);
  info->width_inches = s->width / s->xres;
  info->height_inches = s->height / s->yres;
  return true;
}

JDIMENSION guarded_write_rows(JpegStream* s, JSAMPROW* rows, JDIMENSION n) {
  if (setjmp(s->err.jump)) {
    s->failed = true;
    return 0;
  }
  return jpeg_write_scanlines(&s->c, rows, n);
}

bool guarded_finish_compress(JpegStream* s) {
  if (setjmp(s->err.jump)) return false;
  jpeg_finish_compress(&s->c);
  return true;
}

bool guarded_finish_decompress(JpegStream* s) {
  if (setjmp(s->err.jump)) return false;
  jpeg_finish_decompress(&s->d);
  return true;
}

void* open_stream(const char* path, SOVolume* volume, const char* mode, image_info* info) {
  const bool reading = mode[0] == 'r';
  auto* s = new JpegStream;
  s->mode = reading ? 'r' : 'w';
  s->volume = volume;
  s->path = path;
  init_error(s);
  s->file = Ovfopen(volume, path, reading ? "rb" : "wb");
  if (s->file && (reading ? open_reading(s) : open_writing(s, info))) {
    if (reading && info) fill_info(*s, info);
    return s;
  }
  delete s;
  return nullptr;
}

// An image object over the stream record.
class CJpgImg final : public CIMG_file {
 public:
  explicit CJpgImg(void* record) : record_(record) {}
  ~CJpgImg() override {
    if (record_) jpg_close(record_);
  }
  int32_t Close() override {
    void* record = record_;
    record_ = nullptr;
    return jpg_close(record);
  }
  void set_info(const image_info& info) { m_info = info; }
  int32_t ReadLine(unsigned char* b, int32_t n) override { return jpg_read_line(record_, b, n); }
  int32_t WriteLine(unsigned char* b, int32_t n) override { return jpg_write_line(record_, b, n); }
  int32_t SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence) override {
    const int32_t r = jpg_seek_line(record_, line, plane, page, whence);
    if (r >= 0) m_line = r;
    return r;
  }
  image_profile* GetProfile() override { return jpg_get_profile(record_); }

 private:
  void* record_;
};

}  // namespace

namespace klv::img::jpeg {

bool photoshop_resolution(const uint8_t* data, size_t len, double* xres, double* yres) {
  static const char kSig[] = "Photoshop 3.0";
  if (len < sizeof kSig || std::memcmp(data, kSig, sizeof kSig) != 0) return false;
  auto be16 = [&](size_t at) { return uint32_t(data[at] << 8 | data[at + 1]); };
  auto be32 = [&](size_t at) { return be16(at) << 16 | be16(at + 2); };
  size_t at = sizeof kSig;
  while (at + 12 <= len && std::memcmp(data + at, "8BIM", 4) == 0) {
    const uint32_t id = be16(at + 4);
    size_t name = 1 + size_t{data[at + 6]};  // Pascal string, padded to even
    name += name & 1;
    const size_t size_at = at + 6 + name;
    if (size_at + 4 > len) return false;
    const size_t size = be32(size_at);
    const size_t body = size_at + 4;
    if (size > len - body) return false;
    if (id == 1005 && size >= 16) {
      *xres = be32(body) / 65536.0;
      *yres = be32(body + 8) / 65536.0;
      return *xres > 0 && *yres > 0;
    }
    at = body + size + (size & 1);
  }
  return false;
}

}  // namespace klv::img::jpeg

extern "C" {

KLV_API void* jpg_open(const char* path, SOVolume* volume, const char* mode, image_info* info) {
  if (!path || !mode || !mode[0]) return nullptr;
  if (mode[0] != 'r' && !info) {
    KLV_LOG(KLV_LOG_ERROR, "JPEG \"%s\": writing needs a description", path);
    return nullptr;
  }
  try {
    return open_stream(path, volume, mode, info);
  } catch (...) {
    KLV_LOG(KLV_LOG_ERROR, "JPEG \"%s\": out of memory", path);
    return nullptr;
  }
}

KLV_API int32_t jpg_close(void* record) {
  JpegStream* s = as_stream(record);
  if (!s) return 0;
  bool ok = true;
  if (s->created && !s->failed) {
    if (s->mode == 'r') {
      if (s->decoded() >= s->height && !guarded_finish_decompress(s)) s->failed = true;
    } else if (s->written >= s->height) {
      ok = guarded_finish_compress(s);
    }
  }
  const bool writing = s->mode == 'w';
  SFilemux* file = s->file;
  s->file = nullptr;
  delete s;  // destroying the codec aborts what was not finished
  if (file && Oclose(file) != 0 && writing) ok = false;
  if (!ok) KLV_LOG(KLV_LOG_ERROR, "JPEG: the written file could not be finished");
  return ok ? 0 : -1;
}

KLV_API int32_t jpg_read_line(void* record, uint8_t* buffer, int32_t count) {
  JpegStream* s = as_stream(record);
  if (!s || !buffer || count < 1 || s->mode != 'r') return 0;
  uint32_t done = 0;
  while (done < uint32_t(count)) {
    uint8_t* out = buffer + done * s->line_bytes;
    if (s->keep && s->kept_line == s->line && s->line + 1 == s->decoded()) {
      std::memcpy(out, s->kept.data(), s->line_bytes);  // the line asked for again
      ++s->line;
      ++done;
      continue;
    }
    if (s->failed || s->line >= s->height) {
      std::memset(out, s->comps == 3 ? 255 : 0, s->line_bytes);
      break;
    }
    const uint32_t want = std::min<uint32_t>(uint32_t(count) - done, s->height - s->line);
    const uint32_t got = decode_into(s, out, want);
    s->line += got;
    done += got;
    if (got < want) {
      std::memset(out + got * s->line_bytes, s->comps == 3 ? 255 : 0, s->line_bytes);
      KLV_LOG(KLV_LOG_ERROR, "JPEG \"%s\": line %u cannot be decoded", s->path.c_str(), s->line);
      break;
    }
  }
  return static_cast<int32_t>(done);
}

KLV_API int32_t jpg_write_line(void* record, uint8_t* buffer, int32_t count) {
  JpegStream* s = as_stream(record);
  if (!s || !buffer || count < 1 || s->mode != 'w') return 0;
  uint32_t done = 0;
  while (done < uint32_t(count) && s->written < s->height && !s->failed) {
    JSAMPROW rows[kMaxRowsPerCall];
    const uint32_t ask =
        std::min<uint32_t>({uint32_t(count) - done, s->height - s->written, kMaxRowsPerCall});
    for (uint32_t i = 0; i < ask; ++i) rows[i] = buffer + (done + i) * s->line_bytes;
    const JDIMENSION got = guarded_write_rows(s, rows, ask);
    if (got == 0) break;
    done += got;
    s->written += got;
  }
  return static_cast<int32_t>(done);
}

KLV_API int32_t jpg_seek_line(void* record, int32_t line, int32_t plane, int32_t page,
                              int32_t whence) {
  JpegStream* s = as_stream(record);
  if (!s || s->mode != 'r' || plane != 0 || page != 0) return -1;
  int64_t target = line;
  if (whence == 1)
    target += s->line;
  else if (whence == 2)
    target += int64_t{s->height} - 1;
  target = std::clamp<int64_t>(target, 0, int64_t{s->height} - 1);
  const auto t = static_cast<uint32_t>(target);
  try {
    // The line just decoded, kept: delivered by the next read.
    if (s->keep && s->kept_line == target && t + 1 == s->decoded()) {
      s->line = t;
      return static_cast<int32_t>(t);
    }
    if (!s->failed && t == s->decoded()) {
      s->line = t;
      return static_cast<int32_t>(t);
    }
    if (s->failed || t < s->decoded()) {
      if (!s->keep && t + 1 == s->decoded()) {
        // From the second time on this line comes from the kept copy.
        s->kept.assign(s->line_bytes, 0);
        s->keep = true;
      }
      if (Oseeki64(s->file, 0, 0) != 0 || !guarded_restart(s)) return -1;
      s->kept_line = -1;
    }
    if (t > s->decoded() && !skip_lines(s, t - s->decoded())) {
      KLV_LOG(KLV_LOG_ERROR, "JPEG \"%s\": cannot decode up to line %u", s->path.c_str(), t);
      return -1;
    }
    s->kept_line = -1;
    s->line = t;
  } catch (...) {
    return -1;
  }
  return static_cast<int32_t>(t);
}

KLV_API image_profile* jpg_get_profile(void* record) {
  JpegStream* s = as_stream(record);
  if (!s || s->mode != 'r' || s->icc.empty()) return nullptr;
  return klv::img::checkout_file_profile(s->volume, s->path.c_str(), s->icc.data(), s->icc.size());
}

}  // extern "C"

KLV_API CIMG_file* jpg_img_open(SOVolume* volume, const char* path, const char* mode,
                                image_info* info) {
  try {
    image_info local;
    init_image_info(&local);
    if (info) local = *info;
    const bool reading = mode && mode[0] == 'r';
    void* record = jpg_open(path, volume, mode, (info || reading) ? &local : nullptr);
    if (!record) return nullptr;
    auto* img = new (std::nothrow) CJpgImg(record);
    if (!img) {
      jpg_close(record);
      return nullptr;
    }
    img->set_info(local);
    if (info) *info = local;
    return img;
  } catch (...) {
    return nullptr;
  }
}
