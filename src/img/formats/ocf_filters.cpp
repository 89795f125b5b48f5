// SPDX-License-Identifier: MIT
// The two filters the OCF stream puts over its line filter: the depth
// dither (16 bits a sample down to 8 with a 4 x 4 ordered dither) and the
// bleed (margins around the printed image: a colour, the repeated edge or
// the mirrored image).
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "img/formats/ocf_stream.h"
#include "klv/cimg_file.h"
#include "klv/imgmux.h"
#include "klv/log.h"

namespace klv::img {
namespace {

// ---- Depth dither -------------------------------------------------------------

// Thresholds of a 4 x 4 ordered dither, as 16-bit offsets below one 8-bit step.
constexpr uint8_t kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

class DepthDither : public CIMG_file {
 public:
  explicit DepthDither(IMG_file* source) : source_(source) {
    m_info = source->info;
    m_info.bits_per_sample = 8;
    m_info.bytes_per_line = image_info_line_bytes(&m_info);
    samples_ = source->info.samples + source->info.mask_samples;
    wide_.resize(source->info.bytes_per_line / 2 + 1);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 4; ++x) threshold_[y][x] = uint32_t(kBayer[y][x] * 65535u + 32767u) / 16;
  }
  ~DepthDither() override { img_close(source_); }

  int32_t ReadLine(unsigned char* buffer, int32_t count) override {
    int32_t done = 0;
    for (; done < count; ++done) {
      if (img_read_line(source_, reinterpret_cast<uint8_t*>(wide_.data()), 1) != 1) break;
      Narrow(buffer + size_t(done) * m_info.bytes_per_line, m_line++);
    }
    return done;
  }
  int32_t SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence) override {
    const int32_t at = img_seek_line(source_, line, plane, page, whence);
    if (at >= 0) m_line = at;
    return at;
  }
  image_cmap* GetCmap() override { return img_get_cmap(source_); }

 private:
  // One line: v8 = (v16 * 255 + t) / 65535 with t the pixel's threshold.
  void Narrow(uint8_t* out, int32_t y) const {
    const uint32_t* t = threshold_[y & 3];
    const uint16_t* in = wide_.data();
    const int32_t width = m_info.width;
    for (int32_t x = 0; x < width; ++x) {
      const uint32_t tx = t[x & 3];
      for (uint32_t s = 0; s < samples_; ++s)
        *out++ = static_cast<uint8_t>((uint32_t(*in++) * 255u + tx) / 65535u);
    }
  }

  IMG_file* source_;
  uint32_t samples_ = 0;
  uint32_t threshold_[4][4] = {};
  std::vector<uint16_t> wide_;
};

// ---- Bleed ------------------------------------------------------------------------

// The source index for an index `i` outside [0, n): the edge (repeat) or the
// reflection (mirror, repeated for margins wider than the image).
int32_t fold(int32_t i, int32_t n, bool mirror) {
  if (i >= 0 && i < n) return i;
  if (!mirror) return i < 0 ? 0 : n - 1;
  const int64_t period = 2 * int64_t(n);
  int64_t k = i % period;
  if (k < 0) k += period;
  return int32_t(k < n ? k : period - 1 - k);
}

class Bleed : public CIMG_file {
 public:
  Bleed(IMG_file* source, const ocfi_info& r, const int32_t margins[4])
      : source_(source), mode_(r.bleed.mode) {
    std::copy(margins, margins + 4, margin_);
    m_info = source->info;
    m_info.width += margin_[0] + margin_[2];
    m_info.height += margin_[1] + margin_[3];
    if (m_info.xres > 0) m_info.width_inches = m_info.width / m_info.xres;
    if (m_info.yres > 0) m_info.height_inches = m_info.height / m_info.yres;
    m_info.bytes_per_line = image_info_line_bytes(&m_info);
    pixel_ = (source->info.samples + source->info.mask_samples) * source->info.bits_per_sample / 8;
    line_.resize(source->info.bytes_per_line);
    colour_.resize(pixel_);
    for (uint32_t s = 0; s < pixel_ / (m_info.bits_per_sample / 8); ++s) {
      const uint32_t v = s < KLV_OCF_BLEED_PIXELS ? r.bleed_pixel[s] : 0;
      if (m_info.bits_per_sample == 16) {
        const uint16_t w = static_cast<uint16_t>(v);
        std::memcpy(&colour_[2 * s], &w, 2);
      } else {
        colour_[s] = static_cast<uint8_t>(v);
      }
    }
  }
  ~Bleed() override { img_close(source_); }

  int32_t ReadLine(unsigned char* buffer, int32_t count) override {
    int32_t done = 0;
    for (; done < count && m_line < m_info.height; ++done, ++m_line)
      if (!MakeLine(buffer + size_t(done) * m_info.bytes_per_line, m_line)) break;
    return done;
  }
  int32_t SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence) override {
    return SetSeekLine(line, plane, page, whence);
  }
  image_cmap* GetCmap() override { return img_get_cmap(source_); }

 private:
  bool Fetch(int32_t y) {
    if (y == held_) return true;
    if (y != next_ && img_seek_line(source_, y, 0, 0, 0) != y) return false;
    if (img_read_line(source_, line_.data(), 1) != 1) return false;
    held_ = y;
    next_ = y + 1;
    return true;
  }

  bool MakeLine(uint8_t* out, int32_t y_out) {
    const int32_t h = source_->info.height, w = source_->info.width;
    const int32_t y = y_out - margin_[1];
    const bool inside = y >= 0 && y < h;
    if (!inside && mode_ == KLV_OCF_BLEED_COLOR) {
      for (int32_t x = 0; x < m_info.width; ++x)
        std::memcpy(out + size_t(x) * pixel_, colour_.data(), pixel_);
      return true;
    }
    if (!Fetch(fold(y, h, mode_ == KLV_OCF_BLEED_MIRROR))) return false;
    const bool mirror = mode_ == KLV_OCF_BLEED_MIRROR;
    for (int32_t x = 0; x < margin_[0]; ++x) Edge(out, x, x - margin_[0], w, mirror);
    std::memcpy(out + size_t(margin_[0]) * pixel_, line_.data(), size_t(w) * pixel_);
    for (int32_t x = margin_[0] + w; x < m_info.width; ++x) Edge(out, x, x - margin_[0], w, mirror);
    return true;
  }

  void Edge(uint8_t* out, int32_t x_out, int32_t x, int32_t w, bool mirror) const {
    const uint8_t* from = mode_ == KLV_OCF_BLEED_COLOR
                              ? colour_.data()
                              : line_.data() + size_t(fold(x, w, mirror)) * pixel_;
    std::memcpy(out + size_t(x_out) * pixel_, from, pixel_);
  }

  IMG_file* source_;
  int32_t mode_;
  int32_t margin_[4] = {};
  uint32_t pixel_ = 0;
  std::vector<uint8_t> line_, colour_;
  int32_t held_ = -1, next_ = 0;
};

}  // namespace

void ocf_bleed_margins(const ocfi_info& r, int32_t out[4]) {
  for (int i = 0; i < 4; ++i)
    out[i] =
        r.bleed_on ? static_cast<int32_t>(r.bleed.outer[i] * ((i % 2) ? r.yres : r.xres) + 0.5) : 0;
}

IMG_file* ocf_depth_dither_attach(IMG_file* source, uint32_t bits) {
  if (!source) return nullptr;
  if (bits != 8 || source->info.bits_per_sample != 16 || (source->info.planar & 15) != 0) {
    KLV_LOG(KLV_LOG_ERROR, "OCF depth dither: needs 16-bit pixel-interleaved lines");
    img_close(source);
    return nullptr;
  }
  auto* f = new (std::nothrow) DepthDither(source);
  if (!f) {
    img_close(source);
    return nullptr;
  }
  return f->ToImg('r', source->type);
}

IMG_file* ocf_bleed_attach(IMG_file* source, const ocfi_info& r) {
  if (!source) return nullptr;
  const image_info& in = source->info;
  if ((in.bits_per_sample != 8 && in.bits_per_sample != 16) || (in.planar & 15) != 0 ||
      in.width <= 0 || in.height <= 0) {
    KLV_LOG(KLV_LOG_ERROR, "OCF bleed: needs pixel-interleaved lines of 8 or 16 bits a sample");
    img_close(source);
    return nullptr;
  }
  int32_t m[4];
  ocf_bleed_margins(r, m);
  if (int64_t(in.width) + m[0] + m[2] > INT32_MAX || int64_t(in.height) + m[1] + m[3] > INT32_MAX) {
    KLV_LOG(KLV_LOG_ERROR, "OCF bleed: the margins make the image too large");
    img_close(source);
    return nullptr;
  }
  auto* f = new (std::nothrow) Bleed(source, r, m);
  if (!f) {
    img_close(source);
    return nullptr;
  }
  return f->ToImg('r', source->type);
}

}  // namespace klv::img
