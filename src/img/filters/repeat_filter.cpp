// SPDX-License-Identifier: MIT
// CRepeatFilter: a page filled with copies of a pattern, made line by line.
//
// Attaching prepares the pattern (crop, tiles to lines, scaling to its size
// on the page in the page's layout, through the line filter and whatever
// colour transform the caller gives it) and works out the grid. Each page
// line is then built run by run: a run is the part of one column period that
// lies on the line, copied forwards or mirrored from one pattern line, with
// the gap colour repeated over the part beyond the pattern.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <vector>

#include "img/filters/repeat_geometry.h"
#include "img/filters/repeat_lines.h"
#include "klv/cimg_file.h"
#include "klv/cropfilter.h"
#include "klv/image_limits.h"
#include "klv/imgmux.h"
#include "klv/log.h"
#include "klv/repeat_cxx.h"
#include "klv/tilefilter.h"

namespace klv::img {

namespace {
std::atomic<uint64_t> g_hold_limit{50000000};
}

struct RepeatState {
  RepeatFilterInfo settings{};
  IMG_file* pattern = nullptr;  // owned: the prepared pattern stream
  image_info page{};
  RepeatGeometry g;
  RepeatLines lines;
  size_t pixel_bytes = 0;
  std::vector<uint8_t> gap_pixel;
  std::vector<uint8_t> gap_run;   // the gap pixel repeated over a whole period
  std::vector<uint8_t> mirrored;  // one pattern line reversed
  int32_t mirrored_line = -1;     // which
  bool loaded = false, has_transform = false;
  int32_t line = 0;

  ~RepeatState() { img_close(pattern); }
};

namespace {

// ---- attaching ----

// Bytes of one line of the page or of the scaled pattern; far beyond any
// real page (a 3 m line at 2880 dpi is under 2 MB).
constexpr uint64_t kMaxLineBytes = uint64_t(1) << 26;

// The page and the pattern within the image limits and the line bound.
bool sizes_allowed(const RepeatGeometry& g, const image_info& layout) {
  const uint64_t px = layout.samples + layout.mask_samples;
  if (uint64_t(g.page_w) * px > kMaxLineBytes || uint64_t(g.pattern_w) * px > kMaxLineBytes) {
    KLV_LOG(KLV_LOG_ERROR, "step and repeat: a page line of %d pixels is too long", g.page_w);
    return false;
  }
  return klv_image_limits_check("step and repeat", "page", uint64_t(g.page_w), uint64_t(g.page_h),
                                0) &&
         klv_image_limits_check("step and repeat", "pattern", uint64_t(g.pattern_w),
                                uint64_t(g.pattern_h), 0);
}

bool full_crop(const RepeatFilterInfo& s) {
  return s.CropLeft == 0 && s.CropTop == 0 && s.CropRight == 1 && s.CropBottom == 1;
}

// Tiles to lines and the crop; the stream is consumed (closed on failure).
IMG_file* crop_pattern(IMG_file* img, const RepeatFilterInfo& s) {
  if (img->info.planar & KLV_PLANAR_TILED) {
    img = tilefilter_attachtiledimg(img, 1);
    if (!img) return nullptr;
  }
  if (full_crop(s)) return img;
  const cropfltr_info c{s.CropLeft, s.CropTop, s.CropRight, s.CropBottom};
  cropfltr* f = cropfltr_attach(img, &c);
  if (!f) {
    img_close(img);
    return nullptr;
  }
  return cropfltr_to_img(f);
}

// The page's layout from the pattern's: 8 bits, light data (or CIELab),
// a palette as RGB, one mask sample kept when the pattern marks its mask.
image_info page_layout(const image_info& in) {
  image_info t;
  init_image_info(&t);
  t.bits_per_sample = 8;
  t.pages = 1;
  t.planar = KLV_PLANAR_PIXEL;
  const bool palette = in.photometric == KLV_PHOTO_PALETTE;
  t.samples = palette ? 3 : in.samples;
  t.spot_samples = palette ? 0 : in.spot_samples;
  t.hifi_mode = palette ? 0 : in.hifi_mode;
  t.photometric = in.photometric == KLV_PHOTO_CIELAB ? KLV_PHOTO_CIELAB : KLV_PHOTO_MINBLACK;
  t.mask_samples = (in.mask_samples > 0 && in.format_word1 == 1) ? 1 : 0;
  return t;
}

// The pattern at its pixel size in the page's layout; consumes `img`.
IMG_file* scale_pattern(IMG_file* img, image_info target, const RepeatGeometry& g,
                        const RepeatFilterInfo& s, const filter_info* options) {
  target.width = g.pattern_w;
  target.height = g.pattern_h;
  target.xres = g.xres;
  target.yres = g.yres;
  target.width_inches = s.PatternWidth;
  target.height_inches = s.PatternHeight;
  target.bytes_per_line = image_info_line_bytes(&target);
  filter_info opts{};
  if (options) opts = *options;
  opts.stretch = 1;
  opts.smooth = s.Interpolate ? 1 : 0;
  IMG_file* out = filter_img_attach(img, &target, &opts);
  if (out && (out->info.width != g.pattern_w || out->info.height != g.pattern_h ||
              out->info.bits_per_sample != 8 || out->info.planar != KLV_PLANAR_PIXEL)) {
    KLV_LOG(KLV_LOG_ERROR, "step and repeat: the pattern cannot be scaled to %dx%d", g.pattern_w,
            g.pattern_h);
    img_close(out);
    return nullptr;
  }
  return out;
}

void describe_page(RepeatState& st) {
  image_info p = st.pattern->info;
  p.cmap = nullptr;
  p.profile_word = nullptr;
  p.width = st.g.page_w;
  p.height = st.g.page_h;
  p.width_inches = st.settings.PageWidth;
  p.height_inches = st.settings.PageHeight;
  p.xres = st.g.xres;
  p.yres = st.g.yres;
  p.pages = 1;
  init_crop_info(&p.crop);
  p.bytes_per_line = image_info_line_bytes(&p);
  st.page = p;
  st.pixel_bytes = p.samples + p.mask_samples;
}

// ---- the gap colour ----

bool same_layout(const RepeatFilterInfo& s, const image_info& p) {
  return uint32_t(s.GapTotalSamples) == p.samples && uint32_t(s.GapSpotSamples) == p.spot_samples &&
         uint32_t(s.GapPhotometric) == p.photometric && uint32_t(s.GapHifiMode) == p.hifi_mode &&
         s.GapBitsPerSample == 8;
}

// One pixel of the gap colour in its own layout, as a stream.
class GapSource : public CIMG_file {
 public:
  GapSource(const image_info& info, const uint8_t* raw) {
    m_info = info;
    std::memcpy(raw_, raw, sizeof raw_);
  }
  int32_t ReadLine(unsigned char* buffer, int32_t count) override {
    if (count < 1 || m_line > 0) return 0;
    std::memcpy(buffer, raw_, m_info.bytes_per_line);
    ++m_line;
    return 1;
  }
  int32_t SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence) override {
    return SetSeekLine(line, plane, page, whence);
  }

 private:
  uint8_t raw_[2 * KLV_REPEAT_MAX_GAP_SAMPLES] = {};
};

// GapSamples in their own layout turned into one page pixel by a line filter
// over a one-pixel description; false when the layout cannot be converted.
bool convert_gap(const RepeatState& st, uint8_t* out) {
  const RepeatFilterInfo& s = st.settings;
  const int32_t bits = s.GapBitsPerSample ? s.GapBitsPerSample : 8;
  if ((bits != 8 && bits != 16) || s.GapTotalSamples < 1 ||
      s.GapTotalSamples > KLV_REPEAT_MAX_GAP_SAMPLES || s.GapSpotSamples < 0 ||
      s.GapSpotSamples > s.GapTotalSamples || s.GapPhotometric == KLV_PHOTO_PALETTE)
    return false;
  image_info in;
  init_image_info(&in);
  in.width = in.height = 1;
  in.samples = uint32_t(s.GapTotalSamples);
  in.spot_samples = uint32_t(s.GapSpotSamples);
  in.photometric = uint32_t(s.GapPhotometric);
  in.hifi_mode = uint32_t(s.GapHifiMode);
  in.bits_per_sample = uint32_t(bits);
  in.bytes_per_line = image_info_line_bytes(&in);
  uint8_t raw[2 * KLV_REPEAT_MAX_GAP_SAMPLES] = {};
  const int32_t most = bits == 8 ? 255 : 65535;
  for (int32_t k = 0; k < s.GapTotalSamples; ++k) {
    const int32_t v = std::clamp(k < s.GapSampleCount ? s.GapSamples[k] : 0, 0, most);
    if (bits == 8) {
      raw[k] = uint8_t(v);
    } else {
      const uint16_t w = uint16_t(v);
      std::memcpy(raw + 2 * k, &w, 2);
    }
  }
  image_info target = st.page;
  target.width = target.height = 1;
  target.width_inches = target.height_inches = 0;
  target.bytes_per_line = image_info_line_bytes(&target);
  auto* pixel = new (std::nothrow) GapSource(in, raw);
  IMG_file* src = pixel ? pixel->ToImg('r', 0) : nullptr;
  if (!src) return false;
  filter_info opts{};
  opts.stretch = 1;
  IMG_file* conv = filter_img_attach(src, &target, &opts);
  const bool ok = conv && conv->info.bytes_per_line == target.bytes_per_line &&
                  img_read_line(conv, out, 1) == 1;
  img_close(conv);
  return ok;
}

void white_pixel(const image_info& p, uint8_t* out, size_t n) {
  std::memset(out, 255, n);
  if (p.photometric == KLV_PHOTO_CIELAB && p.samples >= 3) out[1] = out[2] = 128;
}

// The gap colour; GapType 0 needs the pattern's first line.
bool make_gap(RepeatState& st) {
  const size_t n = st.pixel_bytes;
  st.gap_pixel.assign(n, 255);
  const RepeatFilterInfo& s = st.settings;
  if (s.GapType == KLV_REPEAT_GAP_SAMPLES) {
    if (same_layout(s, st.page)) {
      for (size_t k = 0; k < n; ++k)
        st.gap_pixel[k] =
            uint8_t(std::clamp(int32_t(k) < s.GapSampleCount ? s.GapSamples[k] : 255, 0, 255));
    } else if (!convert_gap(st, st.gap_pixel.data())) {
      KLV_LOG(KLV_LOG_WARNING,
              "step and repeat: the gap colour's layout cannot be converted; gaps are white");
      white_pixel(st.page, st.gap_pixel.data(), n);
    }
  } else if (s.GapType == KLV_REPEAT_GAP_FIRST_PIXEL) {
    const uint8_t* first = st.lines.Line(0);
    if (!first) return false;
    std::memcpy(st.gap_pixel.data(), first, n);
  } else {
    white_pixel(st.page, st.gap_pixel.data(), n);
  }
  const size_t run = size_t(st.g.page_w);
  st.gap_run.resize(run * n);
  for (size_t x = 0; x < run; ++x) std::memcpy(st.gap_run.data() + x * n, st.gap_pixel.data(), n);
  return true;
}

// ---- building a line ----

void fill_gap(const RepeatState& st, uint8_t* out, int64_t pixels) {
  while (pixels > 0) {
    const int64_t n = std::min<int64_t>(pixels, int64_t(st.gap_run.size() / st.pixel_bytes));
    std::memcpy(out, st.gap_run.data(), size_t(n) * st.pixel_bytes);
    out += size_t(n) * st.pixel_bytes;
    pixels -= n;
  }
}

// Pattern line `pl` (at `src`) with its pixel order reversed, kept for the
// next copies that want it: one reversal serves every mirrored copy of a
// page line.
const uint8_t* mirrored(RepeatState& st, int32_t pl, const uint8_t* src) {
  if (st.mirrored_line == pl) return st.mirrored.data();
  const size_t pb = st.pixel_bytes;
  const int32_t w = st.g.pattern_w;
  st.mirrored.resize(size_t(w) * pb);
  uint8_t* out = st.mirrored.data();
  const uint8_t* in = src + size_t(w - 1) * pb;
  if (pb == 3) {
    for (int32_t i = 0; i < w; ++i, in -= 3, out += 3)
      out[0] = in[0], out[1] = in[1], out[2] = in[2];
  } else {
    for (int32_t i = 0; i < w; ++i, in -= pb, out += pb) std::memcpy(out, in, pb);
  }
  st.mirrored_line = pl;
  return st.mirrored.data();
}

// The pattern line of a copy whose line within its period is `in_period`,
// or -1 in the vertical gap; `odd` mirrors it.
int32_t pattern_line(const RepeatGeometry& g, int64_t in_period, bool odd) {
  const int64_t l = in_period + g.skip_y;
  if (l >= g.pattern_h) return -1;
  return int32_t(g.flip_v && odd ? g.pattern_h - 1 - l : l);
}

// One run of a copy from page pixel x: `n` pixels from position `col` of
// the column period, taken from `src` (the pattern line, mirrored already
// when the copy is); src null puts the whole run in the gap.
void put_run(const RepeatState& st, const uint8_t* src, uint8_t* out, int64_t col, int64_t n) {
  const RepeatGeometry& g = st.g;
  const size_t pb = st.pixel_bytes;
  const int64_t first = col + g.skip_x;
  const int64_t in_pattern = src ? std::clamp<int64_t>(g.pattern_w - first, 0, n) : 0;
  if (in_pattern > 0) std::memcpy(out, src + size_t(first) * pb, size_t(in_pattern) * pb);
  fill_gap(st, out + size_t(in_pattern) * pb, n - in_pattern);
}

// The source of copy column c: the line, or its mirror in odd columns.
const uint8_t* copy_source(RepeatState& st, int32_t pl, const uint8_t* src, int64_t c) {
  return src && st.g.flip_h && (c & 1) ? mirrored(st, pl, src) : src;
}

// A page line of a grid whose rows are stepped sideways (or not stepped).
bool build_row_stepped(RepeatState& st, int64_t y, uint8_t* out) {
  const RepeatGeometry& g = st.g;
  const int64_t ry = y - g.row_offset;
  const int64_t r = floor_div(ry, g.period_y);
  const int32_t pl = pattern_line(g, ry - r * g.period_y, r & 1);
  const uint8_t* src = pl >= 0 ? st.lines.Line(pl) : nullptr;
  if (pl >= 0 && !src) return false;
  const int64_t shift = g.col_offset + int64_t(g.step) * r;
  for (int64_t x = 0; x < g.page_w;) {
    const int64_t px = x - shift;
    const int64_t c = floor_div(px, g.period_x);
    const int64_t col = px - c * g.period_x;
    const int64_t n = std::min<int64_t>(g.period_x - col, g.page_w - x);
    put_run(st, copy_source(st, pl, src, c), out + size_t(x) * st.pixel_bytes, col, n);
    x += n;
  }
  return true;
}

// A page line of a grid whose columns are stepped down (half-drop).
bool build_col_stepped(RepeatState& st, int64_t y, uint8_t* out) {
  const RepeatGeometry& g = st.g;
  for (int64_t x = 0; x < g.page_w;) {
    const int64_t px = x - g.col_offset;
    const int64_t c = floor_div(px, g.period_x);
    const int64_t col = px - c * g.period_x;
    const int64_t n = std::min<int64_t>(g.period_x - col, g.page_w - x);
    const int64_t ly = y - g.row_offset + int64_t(g.step) * c;
    const int64_t r = floor_div(ly, g.period_y);
    const int32_t pl = pattern_line(g, ly - r * g.period_y, c & 1);
    const uint8_t* src = pl >= 0 ? st.lines.Line(pl) : nullptr;
    if (pl >= 0 && !src) return false;
    put_run(st, copy_source(st, pl, src, c), out + size_t(x) * st.pixel_bytes, col, n);
    x += n;
  }
  return true;
}

bool first_read(RepeatState& st) {
  if (st.loaded) return true;
  if (!st.lines.Load() || !make_gap(st)) return false;
  st.loaded = true;
  return true;
}

}  // namespace

}  // namespace klv::img

using klv::img::RepeatState;

CRepeatFilter::CRepeatFilter() = default;
CRepeatFilter::~CRepeatFilter() = default;

bool CRepeatFilter::AttachImg(IMG_file* pattern, const RepeatFilterInfo* settings,
                              const filter_info* options) {
  using namespace klv::img;
  m_state.reset();
  if (!pattern || !settings) {
    KLV_LOG(KLV_LOG_ERROR, "step and repeat: no pattern stream or no settings");
    img_close(pattern);
    return false;
  }
  if (pattern->mode != 'r') {
    KLV_LOG(KLV_LOG_ERROR, "step and repeat: the pattern stream is not open for reading");
    img_close(pattern);
    return false;
  }
  auto st = std::unique_ptr<RepeatState>(new (std::nothrow) RepeatState);
  if (!st) {
    img_close(pattern);
    return false;
  }
  st->settings = *settings;
  const image_info layout = page_layout(pattern->info);
  IMG_file* cropped = crop_pattern(pattern, *settings);
  if (!cropped) {
    KLV_LOG(KLV_LOG_ERROR, "step and repeat: the pattern cannot be cropped to (%g, %g)-(%g, %g)",
            settings->CropLeft, settings->CropTop, settings->CropRight, settings->CropBottom);
    return false;
  }
  if (!repeat_geometry(*settings, cropped->info.width, cropped->info.height, &st->g)) {
    KLV_LOG(KLV_LOG_ERROR,
            "step and repeat: page %gx%g in, pattern %gx%g in: a size is 0 or out of range",
            settings->PageWidth, settings->PageHeight, settings->PatternWidth,
            settings->PatternHeight);
    img_close(cropped);
    return false;
  }
  if (!sizes_allowed(st->g, layout)) {
    img_close(cropped);
    return false;
  }
  st->pattern = scale_pattern(cropped, layout, st->g, *settings, options);
  if (!st->pattern) return false;
  st->has_transform = options && options->transform;
  describe_page(*st);
  st->lines.Setup(st->pattern, st->g.pattern_h, st->pattern->info.bytes_per_line, g_hold_limit);
  m_state = std::move(st);
  return true;
}

int32_t CRepeatFilter::ReadLine(uint8_t* buffer, int32_t count) {
  if (!m_state || !buffer || count < 1) return 0;
  RepeatState& st = *m_state;
  try {
    if (!klv::img::first_read(st)) return 0;
    int32_t done = 0;
    for (; done < count && st.line < st.page.height; ++done, ++st.line) {
      uint8_t* out = buffer + size_t(done) * st.page.bytes_per_line;
      const bool ok = st.g.step_vertical ? klv::img::build_col_stepped(st, st.line, out)
                                         : klv::img::build_row_stepped(st, st.line, out);
      if (!ok) break;
    }
    return done;
  } catch (const std::bad_alloc&) {
    KLV_LOG(KLV_LOG_ERROR, "step and repeat: out of memory");
    return 0;
  }
}

int32_t CRepeatFilter::SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence) {
  if (!m_state || plane != 0 || page != 0) return -1;
  RepeatState& st = *m_state;
  int64_t pos = line;
  if (whence == 1)
    pos += st.line;
  else if (whence == 2)
    pos += st.page.height - 1;
  else if (whence != 0)
    return -1;
  st.line = int32_t(std::clamp<int64_t>(pos, 0, st.page.height - 1));
  return st.line;
}

image_cmap* CRepeatFilter::GetCmap() {
  return nullptr;
}

image_profile* CRepeatFilter::GetProfile() {
  if (!m_state || m_state->has_transform) return nullptr;
  return img_get_profile(m_state->pattern);
}

IMG_file* CRepeatFilter::DetachImg() {
  if (!m_state) return nullptr;
  IMG_file* p = m_state->pattern;
  m_state->pattern = nullptr;
  m_state.reset();
  return p;
}

void CRepeatFilter::SetHoldLimit(uint64_t bytes) {
  klv::img::g_hold_limit = bytes;
}

const image_info* CRepeatFilter::Info() const {
  return m_state ? &m_state->page : nullptr;
}

bool CRepeatFilter::UsesLineCache() const {
  return m_state && m_state->lines.Cached();
}
