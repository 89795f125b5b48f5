// SPDX-License-Identifier: MIT
// The crop filter: a rectangle of a stream in the stream's own layout.
//
// Each source line is cut to the crop's columns: one cut for a pixel-
// interleaved or planar line, one per plane row for a line-interleaved line.
// A cut that starts inside a byte builds every output byte from two source
// bytes; the unused low bits of each cut's last byte are cleared.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "klv/cropfilter.h"
#include "klv/log.h"

namespace {

struct Geometry {
  int32_t first_line = 0, last_line = 0, first_px = 0, last_px = 0;
  int32_t width = 0, height = 0;
  int32_t planes = 1, pages = 1;
  uint64_t row_bits = 0;
  uint64_t start_byte = 0;
  uint32_t start_shift = 0;
  uint32_t segments = 1;
  size_t src_seg = 0, out_seg = 0;  // bytes of one segment in a source / output line
  size_t out_bpl = 0;
};

int32_t edge(int32_t size, double f) {
  return static_cast<int32_t>(std::trunc(double(size - 1) * f + 0.5));
}

}  // namespace

struct cropfltr {
  IMG_file* src = nullptr;  // owned
  IMG_file* img = nullptr;  // the handle made by cropfltr_to_img
  cropfltr_info frac{0, 0, 1, 1};
  bool transparent = false;
  int32_t status_at_wrap = 1;
  std::vector<uint8_t> line;
  Geometry g;
  int32_t line_no = 0, plane = 0, page = 0;
};

namespace {

void work_out(cropfltr& f) {
  const image_info& in = f.src->info;
  Geometry g;
  const uint32_t all = in.samples + in.mask_samples;
  const uint32_t layout = in.planar & 7;
  g.first_line = edge(in.height, f.frac.y1);
  g.last_line = edge(in.height, f.frac.y2);
  g.first_px = edge(in.width, f.frac.x1);
  g.last_px = static_cast<int32_t>(std::trunc(0.5 + double(in.width - 1) * f.frac.x2));
  g.width = std::max(0, g.last_px - g.first_px + 1);
  g.height = std::max(0, g.last_line - g.first_line + 1);
  g.planes = layout == KLV_PLANAR_PLANES ? static_cast<int32_t>(all) : 1;
  g.pages = std::max<int32_t>(1, static_cast<int32_t>(in.pages));
  const uint64_t k = layout == KLV_PLANAR_PIXEL ? all : 1;
  g.row_bits = uint64_t(in.bits_per_sample) * uint32_t(g.width) * k;
  const uint64_t start = uint64_t(in.bits_per_sample) * uint32_t(g.first_px) * k;
  g.start_byte = start / 8;
  g.start_shift = static_cast<uint32_t>(start % 8);
  g.segments = layout == KLV_PLANAR_LINES ? std::max(1u, all) : 1;
  g.src_seg = in.bytes_per_line / g.segments;
  g.out_seg = static_cast<size_t>((g.row_bits + 7) / 8);
  g.out_bpl = g.out_seg * g.segments;
  f.g = g;
  f.line.assign(std::max<size_t>(1, in.bytes_per_line), 0);
  f.line_no = f.plane = f.page = 0;
  img_seek_line(f.src, g.first_line, 0, 0, 0);
}

// Cuts the crop's bits out of one segment of the source line.
void cut(const Geometry& g, const uint8_t* src, uint8_t* out) {
  const uint8_t* s = src + g.start_byte;
  const size_t n = g.out_seg;
  if (n == 0) return;
  if (g.start_shift == 0) {
    std::memcpy(out, s, n);
  } else {
    const uint32_t sh = g.start_shift;
    // The second source byte is needed while bits remain beyond the first.
    for (size_t i = 0; i < n; ++i) {
      uint32_t b = uint32_t(s[i]) << sh;
      if (8 * uint64_t(i) + 8 - sh < g.row_bits) b |= s[i + 1] >> (8 - sh);
      out[i] = static_cast<uint8_t>(b);
    }
  }
  if (const uint32_t rest = g.row_bits % 8) out[n - 1] &= static_cast<uint8_t>(0xFF00u >> rest);
}

int32_t read_cropped(cropfltr& f, uint8_t* buffer, int32_t count) {
  const Geometry& g = f.g;
  int32_t done = 0;
  while (done < count && f.page < g.pages) {
    if (img_read_line(f.src, f.line.data(), 1) != 1) break;
    uint8_t* out = buffer + size_t(done) * g.out_bpl;
    for (uint32_t s = 0; s < g.segments; ++s)
      cut(g, f.line.data() + s * g.src_seg, out + s * g.out_seg);
    ++done;
    if (++f.line_no >= g.height) {
      f.line_no = 0;
      if (++f.plane >= g.planes) {
        f.plane = 0;
        ++f.page;
      }
      if (f.page >= g.pages) break;
      img_seek_line(f.src, g.first_line, f.plane, f.page, 0);
    }
  }
  return done;
}

int32_t seek_cropped(cropfltr& f, int32_t line, int32_t plane, int32_t page, int32_t whence) {
  const Geometry& g = f.g;
  const int64_t L = g.height, P = g.planes, G = g.pages;
  if (std::abs(int64_t(page)) >= G || L <= 0) return -1;
  int64_t pos = line + (P * page + plane) * L;
  if (whence == 1)
    pos += (int64_t(f.page) * P + f.plane) * L + f.line_no;
  else if (whence == 2)
    pos += L * P * G - 1;
  else if (whence != 0)
    return -1;
  pos = std::clamp<int64_t>(pos, 0, L * P * G - 1);
  f.page = static_cast<int32_t>(pos / (L * P));
  const int64_t rest = pos % (L * P);
  f.plane = static_cast<int32_t>(rest / L);
  f.line_no = static_cast<int32_t>(rest % L);
  img_seek_line(f.src, g.first_line + f.line_no, f.plane, f.page, 0);
  return f.line_no;
}

void describe(const cropfltr& f, image_info* info) {
  *info = f.src->info;
  info->cmap = nullptr;
  if (f.transparent) return;
  info->width = f.g.width;
  info->height = f.g.height;
  info->width_inches = info->xres > 0 ? f.g.width / info->xres : 0;
  info->height_inches = info->yres > 0 ? f.g.height / info->yres : 0;
  info->bytes_per_line = static_cast<uint32_t>(f.g.out_bpl);
}

bool valid(const cropfltr_info& c) {
  auto in01 = [](double v) { return v >= 0.0 && v <= 1.0; };
  return in01(c.x1) && in01(c.y1) && in01(c.x2) && in01(c.y2) && c.x1 <= c.x2 && c.y1 <= c.y2;
}

int32_t close_op(void* h) {
  return cropfltr_close(static_cast<cropfltr*>(h));
}
int32_t status_op(IMG_file* img, int32_t what) {
  return img ? cropfltr_status(static_cast<cropfltr*>(img->handle), what) : -1;
}
int32_t read_op(void* h, uint8_t* b, int32_t n) {
  return cropfltr_read_line(static_cast<cropfltr*>(h), b, n);
}
int32_t write_op(void* h, uint8_t* b, int32_t n) {
  return cropfltr_write_line(static_cast<cropfltr*>(h), b, n);
}
int32_t seek_op(void* h, int32_t l, int32_t p, int32_t g, int32_t w) {
  return cropfltr_seek_line(static_cast<cropfltr*>(h), l, p, g, w);
}
image_cmap* cmap_op(void* h) {
  return cropfltr_get_cmap(static_cast<cropfltr*>(h));
}

}  // namespace

extern "C" {

KLV_API cropfltr_info* cropfltr_malloc_info(void) {
  auto* c = static_cast<cropfltr_info*>(std::malloc(sizeof(cropfltr_info)));
  if (c) *c = cropfltr_info{0, 0, 1, 1};
  return c;
}

KLV_API void cropfltr_free_info(cropfltr_info* info) {
  std::free(info);
}

KLV_API cropfltr* cropfltr_attach(IMG_file* source, const cropfltr_info* fractions) {
  if (!source) return nullptr;
  if (source->info.planar & KLV_PLANAR_TILED) {
    KLV_LOG(KLV_LOG_ERROR, "crop filter: a tiled source cannot be cropped by lines");
    return nullptr;
  }
  const cropfltr_info c = fractions ? *fractions : cropfltr_info{0, 0, 1, 1};
  if (!valid(c)) {
    KLV_LOG(KLV_LOG_ERROR, "crop filter: the crop (%g, %g)-(%g, %g) is not inside the image", c.x1,
            c.y1, c.x2, c.y2);
    return nullptr;
  }
  auto* f = new (std::nothrow) cropfltr;
  if (!f) {
    img_close(source);
    return nullptr;
  }
  f->src = source;
  f->frac = c;
  f->transparent = c.x1 == 0.0 && c.y1 == 0.0 && c.x2 == 1.0 && c.y2 == 1.0;
  return f;
}

KLV_API IMG_file* cropfltr_to_img(cropfltr* f) {
  if (!f) return nullptr;
  auto* img = static_cast<IMG_file*>(std::calloc(1, sizeof(IMG_file)));
  try {
    if (img) {
      f->status_at_wrap = img_status(f->src, 0);
      if (!f->transparent) work_out(*f);
    }
  } catch (...) {
    std::free(img);
    img = nullptr;
  }
  if (!img) {
    KLV_LOG(KLV_LOG_ERROR, "crop filter: out of memory");
    cropfltr_close(f);
    return nullptr;
  }
  img->handle = f;
  img->type = f->src->type;
  img->mode = f->src->mode;
  describe(*f, &img->info);
  img->close = close_op;
  img->status = status_op;
  img->read_line = read_op;
  img->write_line = write_op;
  img->seek_line = seek_op;
  img->get_cmap = cmap_op;
  f->img = img;
  return img;
}

KLV_API int32_t cropfltr_read_line(cropfltr* f, uint8_t* buffer, int32_t count) {
  if (!f) return -1;
  if (f->transparent) return img_read_line(f->src, buffer, count);
  if (!buffer || count < 1 || f->line.empty()) return 0;
  return read_cropped(*f, buffer, count);
}

KLV_API int32_t cropfltr_write_line(cropfltr* f, uint8_t* buffer, int32_t count) {
  if (!f) return -1;
  return f->transparent ? img_write_line(f->src, buffer, count) : 0;
}

KLV_API int32_t cropfltr_seek_line(cropfltr* f, int32_t line, int32_t plane, int32_t page,
                                   int32_t whence) {
  if (!f) return -1;
  if (f->transparent) return img_seek_line(f->src, line, plane, page, whence);
  return seek_cropped(*f, line, plane, page, whence);
}

KLV_API image_cmap* cropfltr_get_cmap(cropfltr* f) {
  return f ? img_get_cmap(f->src) : nullptr;
}

KLV_API int32_t cropfltr_status(cropfltr* f, int32_t what) {
  if (!f) return -1;
  const int32_t answer = img_status(f->src, what);
  if (answer == 1 && f->status_at_wrap != 1) {
    f->status_at_wrap = 1;
    try {
      if (!f->transparent) work_out(*f);
      if (f->img) describe(*f, &f->img->info);
    } catch (...) {
      KLV_LOG(KLV_LOG_ERROR, "crop filter: out of memory");
    }
  }
  return answer;
}

KLV_API int32_t cropfltr_close(cropfltr* f) {
  if (!f) return 0;
  const int32_t status = img_close_status(f->src);
  delete f;
  return status;
}

}  // extern "C"
