// SPDX-License-Identifier: MIT
// The rotation filter: quarter turns and mirrors of a readable stream.
//
// Without an exchange of axes each output line is one source line, read from
// the top or the bottom and reversed when the left-to-right order flips. With
// an exchange the output is built in bands of lines: one pass over the source
// plane fills a band, each source line becoming one output column. Large
// planes that would need many such passes are turned through a temporary
// file of tiles instead (rotate_tiles): one pass over the source, whatever
// the size.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "img/filters/rotate_kernels.h"
#include "img/filters/rotate_tiles.h"
#include "klv/imgmux.h"
#include "klv/kernel_volume.h"
#include "klv/log.h"
#include "klv/platform.h"
#include "klv/rotate.h"
#include "klv/tilefilter.h"

namespace {

using Segment = klv::img::RowSegment;

// Source image layouts handled the same way: a line is one or more rows of
// units (pixels, or the samples of one plane).
struct Rows {
  klv::img::RowShape shape;
  std::vector<Segment> segments;
  klv::img::ReverseFn reverse = nullptr;
  klv::img::ScatterFn scatter = nullptr;
};

struct Flags {
  bool exchange, keep_lr, reverse_tb;
};

Flags flags_for(uint32_t turns, bool mirror) {
  static constexpr Flags kTable[2][4] = {
      {{false, true, false}, {true, false, true}, {false, false, true}, {true, true, false}},
      {{false, false, false}, {true, false, false}, {false, true, true}, {true, true, true}},
  };
  return kTable[mirror ? 1 : 0][turns & 3];
}

}  // namespace

struct rotate_filter {
  IMG_file* src = nullptr;   // owned
  IMG_file* copy = nullptr;  // temporary copy (owned), read in place of src
  std::string temp_name;
  bool own_temp = false;
  image_info in{}, out{};
  Flags fl{};
  Rows rows;
  rotate_progress_fn progress = nullptr;
  void* progress_arg = nullptr;
  std::vector<uint8_t> line;  // one source line
  std::vector<uint8_t> band;  // lines_per_band output lines
  int32_t lines_per_band = 0, bands = 0, passes = 0;
  std::unique_ptr<klv::img::TiledTurn> tiles;  // large planes: turned through a tile file
  int32_t band_first = -1, band_plane = 0, band_page = 0;
  int32_t tile_pct = 0;
  int32_t planes = 1, pages = 1;
  int32_t cur_line = 0, cur_plane = 0, cur_page = 0;
  // Where the reader stands after the last read (no exchange).
  int32_t next_src = -1, next_plane = 0, next_page = 0;

  ~rotate_filter() {
    img_close(copy);
    img_close(src);
    if (own_temp && !temp_name.empty()) VRemove(nullptr, temp_name.c_str());
  }
  IMG_file* reader() const { return copy ? copy : src; }
};

namespace {

bool tell(const rotate_filter& f, int32_t percent, int32_t pass, int32_t passes) {
  if (!f.progress) return true;
  if (f.progress(percent, pass, passes, f.progress_arg)) return true;
  KLV_LOG(KLV_LOG_NOTICE, "rotation: stopped by the caller");
  return false;
}

// Tells the rounded percentage of `done` out of `total` when it changed.
bool tell_step(const rotate_filter& f, int64_t done, int64_t total, int32_t pass, int32_t passes,
               int32_t* last) {
  if (!f.progress || total <= 0) return true;
  const int32_t pct = static_cast<int32_t>((done * 100 + total / 2) / total);
  if (pct == *last) return true;
  *last = pct;
  return tell(f, pct, pass, passes);
}

void plan_rows(rotate_filter& f) {
  const image_info& in = f.in;
  const uint32_t layout = in.planar & 7;
  const uint32_t all = in.samples + in.mask_samples;
  Rows& r = f.rows;
  r.shape.bits = in.bits_per_sample;
  if (layout == KLV_PLANAR_LINES) {
    r.shape.per = 1;
    const size_t in_row = (size_t(in.bits_per_sample) * uint32_t(in.width) + 7) / 8;
    const size_t out_row = (size_t(f.out.bits_per_sample) * uint32_t(f.out.width) + 7) / 8;
    for (uint32_t p = 0; p < all; ++p) r.segments.push_back({p * in_row, p * out_row});
  } else {
    r.shape.per = layout == KLV_PLANAR_PLANES ? 1 : all;
    r.segments.push_back({0, 0});
  }
  r.reverse = klv::img::pick_reverse(r.shape);
  r.scatter = klv::img::pick_scatter(r.shape);
}

// Copies every line of every plane and page of the source into a temporary
// image that can be read backwards cheaply, then reopens it for reading.
bool make_temp_copy(rotate_filter& f, const rotate_request* req) {
  if (req && req->temp_path && *req->temp_path) {
    f.temp_name = req->temp_path;
    f.own_temp = req->own_temp != 0;
  } else {
    f.temp_name = klv::platform::TempFileName("OVI");
    if (f.temp_name.empty()) return false;
    f.own_temp = true;
  }
  const int32_t type = f.src->type == KLV_TYPE_TIFF ? static_cast<int32_t>(KLV_TYPE_TIFF)
                                                    : static_cast<int32_t>(KLV_TYPE_OUTIMG);
  image_info desc = f.in;
  // The copy exists to be read backwards line by line: keep it uncompressed.
  desc.compression = 0;
  desc.cmap = desc.photometric == KLV_PHOTO_PALETTE ? img_get_cmap(f.src) : nullptr;
  init_crop_info(&desc.crop);
  IMG_file* w = img_mux_open(f.temp_name.c_str(), nullptr, "w", &desc, type);
  bool ok = w != nullptr && desc.bytes_per_line == f.in.bytes_per_line;
  const int32_t planes = f.planes;
  for (int32_t pg = 0; ok && pg < f.pages; ++pg) {
    for (int32_t p = 0; ok && p < planes; ++p) {
      ok = tell(f, 0, p + 1, planes) && img_seek_line(f.src, 0, p, pg, 0) == 0 &&
           img_seek_line(w, 0, p, pg, 0) == 0;
      int32_t last = 0;
      for (int32_t y = 0; ok && y < f.in.height; ++y) {
        ok = img_read_line(f.src, f.line.data(), 1) == 1 &&
             img_write_line(w, f.line.data(), 1) == 1 &&
             tell_step(f, y + 1, f.in.height, p + 1, planes, &last);
      }
    }
  }
  if (w) img_close(w);
  free_cmap(desc.cmap);
  if (!ok) {
    KLV_LOG(KLV_LOG_ERROR, "rotation: the temporary copy \"%s\" could not be written",
            f.temp_name.c_str());
    return false;
  }
  image_info back;
  init_image_info(&back);
  f.copy = img_mux_open(f.temp_name.c_str(), nullptr, "r", &back, type);
  if (!f.copy || back.bytes_per_line != f.in.bytes_per_line || back.height != f.in.height) {
    KLV_LOG(KLV_LOG_ERROR, "rotation: the temporary copy \"%s\" could not be reopened",
            f.temp_name.c_str());
    return false;
  }
  return true;
}

// The budget when the caller gives none: a sixteenth of the machine's
// memory, at least the historical 8 MB and at most 256 MB.
uint64_t default_budget() {
  const uint64_t floor = ROTATE_DEFAULT_BUDGET, ceiling = uint64_t(256) << 20;
  return std::clamp(klv::platform::PhysicalMemoryBytes() / 16, floor, ceiling);
}

klv::img::TurnShape turn_shape(const rotate_filter& f) {
  klv::img::TurnShape t;
  t.shape = f.rows.shape;
  t.scatter = f.rows.scatter;
  t.segments = f.rows.segments;
  t.src_width = static_cast<uint32_t>(f.in.width);
  t.src_height = static_cast<uint32_t>(f.in.height);
  t.src_bpl = f.in.bytes_per_line;
  t.out_bpl = f.out.bytes_per_line;
  t.keep_lr = f.fl.keep_lr;
  t.reverse_tb = f.fl.reverse_tb;
  return t;
}

// Bands of output lines within the budget, each filled by one pass over the
// source plane; a large plane that would need several passes is cut into
// tiles in one pass instead, and its bands are read back from them.
void plan_bands(rotate_filter& f, uint64_t budget) {
  const int64_t per_band = std::max<int64_t>(1, int64_t(budget / f.out.bytes_per_line));
  f.lines_per_band = static_cast<int32_t>(std::min<int64_t>(per_band, f.out.height));
  f.bands = (f.out.height + f.lines_per_band - 1) / f.lines_per_band;
  f.passes = f.bands * f.planes * f.pages;
  const klv::img::TileLimits lim = klv::img::tile_limits();
  const uint64_t plane_bytes = uint64_t(f.in.bytes_per_line) * uint32_t(f.in.height);
  if (f.bands > 1 && f.bands > lim.max_passes && plane_bytes >= lim.min_plane_bytes) {
    const klv::img::TurnShape t = turn_shape(f);
    const klv::img::TilePlan plan = klv::img::plan_tiles(t, budget);
    f.tiles = std::make_unique<klv::img::TiledTurn>(t, plan, f.planes * f.pages);
    f.lines_per_band = static_cast<int32_t>(plan.band);
    f.bands = static_cast<int32_t>(plan.bands);
    f.passes = f.planes * f.pages;
    return;  // the band buffer is made once the source pass is over
  }
  f.band.assign(size_t(f.lines_per_band) * f.out.bytes_per_line, 0);
}

bool attach(rotate_filter& f, const rotate_request* req) {
  const image_info& in = f.in;
  const uint32_t bits = in.bits_per_sample;
  const uint32_t all = in.samples + in.mask_samples;
  const uint32_t layout = in.planar & 7;
  if (in.width <= 0 || in.height <= 0 || all == 0 || layout > KLV_PLANAR_LINES ||
      !(bits == 16 || (bits >= 1 && bits <= 8)) || in.bytes_per_line == 0 ||
      in.bytes_per_line != image_info_line_bytes(&in)) {
    KLV_LOG(KLV_LOG_ERROR,
            "rotation: cannot turn a %dx%d image of %u samples at %u bits (layout %u, %u bytes a "
            "line)",
            in.width, in.height, all, bits, in.planar, in.bytes_per_line);
    return false;
  }
  f.fl = req ? flags_for(req->turns, req->mirror != 0) : flags_for(0, false);
  f.progress = req ? req->progress : nullptr;
  f.progress_arg = req ? req->progress_arg : nullptr;
  f.planes = layout == KLV_PLANAR_PLANES ? static_cast<int32_t>(all) : 1;
  f.pages = std::max<int32_t>(1, static_cast<int32_t>(in.pages));
  f.out = in;
  f.out.cmap = nullptr;
  if (f.fl.exchange) {
    std::swap(f.out.width, f.out.height);
    std::swap(f.out.width_inches, f.out.height_inches);
    std::swap(f.out.xres, f.out.yres);
    f.out.bytes_per_line = image_info_line_bytes(&f.out);
  }
  plan_rows(f);
  f.line.assign(in.bytes_per_line, 0);
  if (!f.fl.exchange && f.fl.reverse_tb && in.compression != 0 && !make_temp_copy(f, req))
    return false;
  if (f.fl.exchange) {
    plan_bands(f, req && req->budget ? req->budget : default_budget());
  } else if (!f.copy) {
    if (img_seek_line(f.src, 0, 0, 0, 0) != 0) {
      KLV_LOG(KLV_LOG_ERROR, "rotation: the source cannot seek to its first line");
      return false;
    }
    f.next_src = 0;
  }
  return true;
}

// Reads the output line (cur_line, cur_plane, cur_page) without an exchange.
bool read_plain(rotate_filter& f, uint8_t* out) {
  IMG_file* r = f.reader();
  const int32_t want = f.fl.reverse_tb ? f.in.height - 1 - f.cur_line : f.cur_line;
  if (want != f.next_src || f.cur_plane != f.next_plane || f.cur_page != f.next_page) {
    if (img_seek_line(r, want, f.cur_plane, f.cur_page, 0) != want) {
      f.next_src = -1;
      return false;
    }
  }
  uint8_t* dst = f.fl.keep_lr ? out : f.line.data();
  if (img_read_line(r, dst, 1) != 1) {
    f.next_src = -1;
    return false;
  }
  f.next_src = want + 1;
  f.next_plane = f.cur_plane;
  f.next_page = f.cur_page;
  if (!f.fl.keep_lr)
    for (const Segment& s : f.rows.segments)
      f.rows.reverse(f.rows.shape, f.line.data() + s.src_off, out + s.dst_off,
                     static_cast<uint32_t>(f.in.width));
  return true;
}

bool tile_progress(void* ctx, int64_t done, int64_t total) {
  auto* f = static_cast<rotate_filter*>(ctx);
  const int32_t pass = f->cur_page * f->planes + f->cur_plane + 1;
  return tell_step(*f, done, total, pass, f->passes, &f->tile_pct);
}

// Fills the band holding output line cur_line from the tile file, cutting
// the plane into tiles first when this is its first band.
bool fill_tiled_band(rotate_filter& f) {
  const int32_t index = f.cur_page * f.planes + f.cur_plane;
  f.band_first = -1;
  if (!f.tiles->Prepared(index)) {
    IMG_file* r = f.reader();
    if (!tell(f, 0, index + 1, f.passes)) return false;
    if (img_seek_line(r, 0, f.cur_plane, f.cur_page, 0) != 0) {
      KLV_LOG(KLV_LOG_ERROR, "rotation: the source cannot seek to plane %d", f.cur_plane);
      return false;
    }
    f.tile_pct = 0;
    if (!f.tiles->Prepare(r, index, tile_progress, &f)) return false;
  }
  const int32_t L = f.lines_per_band;
  const int32_t b0 = f.cur_line - f.cur_line % L;
  if (f.band.empty()) f.band.assign(size_t(L) * f.out.bytes_per_line, 0);
  if (!f.tiles->LoadBand(index, static_cast<uint32_t>(b0 / L), f.band.data())) return false;
  f.band_first = b0;
  f.band_plane = f.cur_plane;
  f.band_page = f.cur_page;
  return true;
}

// Fills the band holding output line cur_line of the current plane and page.
bool fill_band(rotate_filter& f) {
  if (f.tiles) return fill_tiled_band(f);
  const int32_t L = f.lines_per_band;
  const int32_t b0 = f.cur_line - f.cur_line % L;
  const int32_t b1 = std::min(b0 + L, f.out.height);
  const uint32_t n = static_cast<uint32_t>(b1 - b0);
  const int32_t pass = (f.cur_page * f.planes + f.cur_plane) * f.bands + b0 / L + 1;
  const int32_t W = f.in.width;
  const int32_t first = f.fl.reverse_tb ? b0 : W - 1 - b0;
  const int32_t step = f.fl.reverse_tb ? 1 : -1;
  const size_t stride = f.out.bytes_per_line;
  f.band_first = -1;
  IMG_file* r = f.reader();
  if (!tell(f, 0, pass, f.passes)) return false;
  if (img_seek_line(r, 0, f.cur_plane, f.cur_page, 0) != 0) {
    KLV_LOG(KLV_LOG_ERROR, "rotation: the source cannot seek to plane %d", f.cur_plane);
    return false;
  }
  int32_t last = 0;
  const int32_t H = f.in.height;
  for (int32_t s = 0; s < H; ++s) {
    if (img_read_line(r, f.line.data(), 1) != 1) {
      KLV_LOG(KLV_LOG_ERROR, "rotation: source line %d of plane %d cannot be read", s, f.cur_plane);
      return false;
    }
    const uint32_t column = static_cast<uint32_t>(f.fl.keep_lr ? s : H - 1 - s);
    for (const Segment& seg : f.rows.segments)
      f.rows.scatter(f.rows.shape, f.line.data() + seg.src_off, first, step,
                     f.band.data() + seg.dst_off, stride, column, n);
    if (!tell_step(f, s + 1, H, pass, f.passes, &last)) return false;
  }
  f.band_first = b0;
  f.band_plane = f.cur_plane;
  f.band_page = f.cur_page;
  return true;
}

bool read_exchanged(rotate_filter& f, uint8_t* out) {
  const int32_t L = f.lines_per_band;
  if (f.band_first < 0 || f.cur_plane != f.band_plane || f.cur_page != f.band_page ||
      f.cur_line < f.band_first || f.cur_line >= f.band_first + L) {
    if (!fill_band(f)) return false;
  }
  const size_t bpl = f.out.bytes_per_line;
  std::memcpy(out, f.band.data() + size_t(f.cur_line - f.band_first) * bpl, bpl);
  return true;
}

int32_t close_adapter(void* handle) {
  rotate_close(static_cast<rotate_filter*>(handle));
  return 0;
}

}  // namespace

extern "C" {

KLV_API rotate_filter* rotate_attach(IMG_file* source, const rotate_request* request) {
  if (!source) return nullptr;
  if (source->mode != 'r') {
    KLV_LOG(KLV_LOG_ERROR, "rotation: the source is not opened for reading");
    img_close(source);
    return nullptr;
  }
  if (source->info.planar & KLV_PLANAR_TILED) {
    source = tilefilter_attachtiledimg(source, 0);
    if (!source) return nullptr;
  }
  rotate_filter* f = new (std::nothrow) rotate_filter;
  if (!f) {
    img_close(source);
    return nullptr;
  }
  f->src = source;
  f->in = source->info;
  f->in.cmap = nullptr;
  try {
    if (attach(*f, request)) return f;
  } catch (...) {
    KLV_LOG(KLV_LOG_ERROR, "rotation: out of memory");
  }
  delete f;
  return nullptr;
}

KLV_API IMG_file* rotate_to_file(rotate_filter* filter) {
  if (!filter) return nullptr;
  auto* img = static_cast<IMG_file*>(std::calloc(1, sizeof(IMG_file)));
  if (!img) {
    rotate_close(filter);
    return nullptr;
  }
  img->handle = filter;
  img->type = filter->src->type;
  img->mode = 'r';
  img->info = filter->out;
  img->info.cmap = nullptr;
  img->close = close_adapter;
  img->read_line = rotate_read_line;
  img->seek_line = rotate_seek_line;
  img->get_cmap = rotate_get_cmap;
  img->status = rotate_status;
  return img;
}

KLV_API rotate_filter* rotate_close(rotate_filter* filter) {
  delete filter;
  return nullptr;
}

KLV_API int32_t rotate_read_line(void* handle, uint8_t* buffer, int32_t count) {
  auto* f = static_cast<rotate_filter*>(handle);
  if (!f || !buffer || count < 1) return 0;
  try {
    int32_t done = 0;
    while (done < count) {
      if (f->cur_line >= f->out.height) {
        // Planes and pages run on from one another.
        f->cur_line = 0;
        if (++f->cur_plane >= f->planes) {
          f->cur_plane = 0;
          ++f->cur_page;
        }
      }
      if (f->cur_page >= f->pages) {
        f->cur_page = f->pages - 1;
        f->cur_plane = f->planes - 1;
        f->cur_line = f->out.height;
        break;
      }
      uint8_t* out = buffer + size_t(done) * f->out.bytes_per_line;
      if (!(f->fl.exchange ? read_exchanged(*f, out) : read_plain(*f, out))) break;
      ++f->cur_line;
      ++done;
    }
    return done;
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t rotate_seek_line(void* handle, int32_t line, int32_t plane, int32_t page,
                                 int32_t whence) {
  auto* f = static_cast<rotate_filter*>(handle);
  if (!f) return -1;
  const int64_t H = f->out.height, P = f->planes, N = f->pages;
  if (whence == 0) {
    const int32_t l = line < 0 ? std::min<int32_t>(f->cur_line, f->out.height - 1) : line;
    const int32_t p = plane < 0 ? f->cur_plane : plane;
    const int32_t g = page < 0 ? f->cur_page : page;
    if (l >= H || p >= P || g >= N) return -1;
    f->cur_line = l;
    f->cur_plane = p;
    f->cur_page = g;
  } else if (whence == 1 || whence == 2) {
    int64_t pos = int64_t(page) * P * H + int64_t(plane) * H + line;
    if (whence == 1)
      pos += int64_t(f->cur_page) * P * H + int64_t(f->cur_plane) * H + f->cur_line;
    else
      pos += N * P * H - 1;
    if (pos < 0) pos = 0;
    const int64_t g = pos / (P * H);
    if (g >= N) return f->cur_line;
    const int64_t rest = pos % (P * H);
    f->cur_page = static_cast<int32_t>(g);
    f->cur_plane = static_cast<int32_t>(rest / H);
    f->cur_line = static_cast<int32_t>(rest % H);
  } else {
    return -1;
  }
  if (!f->fl.exchange && !f->fl.reverse_tb && !f->copy) {
    if (img_seek_line(f->src, f->cur_line, f->cur_plane, f->cur_page, 0) != f->cur_line) return -1;
    f->next_src = f->cur_line;
    f->next_plane = f->cur_plane;
    f->next_page = f->cur_page;
  }
  return f->cur_line;
}

KLV_API image_cmap* rotate_get_cmap(void* handle) {
  auto* f = static_cast<rotate_filter*>(handle);
  return f ? img_get_cmap(f->src) : nullptr;
}

KLV_API int32_t rotate_status(IMG_file* img, int32_t what) {
  if (!img || !img->handle) return -1;
  return img_status(static_cast<rotate_filter*>(img->handle)->src, what);
}

KLV_API const image_info* rotate_info(const rotate_filter* filter) {
  return filter ? &filter->out : nullptr;
}

KLV_API int32_t rotate_passes(const rotate_filter* filter) {
  if (!filter) return 0;
  return filter->tiles ? 1 : filter->bands;
}

KLV_API const char* rotate_temp_path(const rotate_filter* filter) {
  return filter ? filter->temp_name.c_str() : "";
}

}  // extern "C"
