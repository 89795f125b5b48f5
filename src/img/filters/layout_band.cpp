// SPDX-License-Identifier: MIT
// The band engine of the channel layout filters.
//
// A band is n_ lines of the target layout. Loading it reads the source once
// for those lines in whatever order its layout allows (a planar source plane
// by plane), then re-lays each line with the row movers picked at attach.
#include "img/filters/layout_band.h"

#include <algorithm>
#include <cstring>

#include "klv/log.h"
#include "klv/tilefilter.h"

namespace klv::img {
namespace {

constexpr uint64_t kBandBytes = 8192;
constexpr uint32_t kMinBandLines = 5;

}  // namespace

LayoutBand::~LayoutBand() {
  img_close(src_);
}

int32_t LayoutBand::Close() {
  IMG_file* s = src_;
  src_ = nullptr;
  return img_close_status(s);
}

uint32_t LayoutBand::BandLines(uint64_t line_bytes, int32_t height) {
  const uint64_t n =
      std::max<uint64_t>(kMinBandLines, kBandBytes / std::max<uint64_t>(1, line_bytes));
  return static_cast<uint32_t>(std::min<uint64_t>(n, uint64_t(std::max(1, height))));
}

bool LayoutBand::Attach(IMG_file* source) {
  src_ = source;
  if (src_->info.planar & KLV_PLANAR_TILED) {
    src_ = tilefilter_attachtiledimg(src_, 0);
    if (!src_) return false;
  }
  in_ = src_->info;
  in_.cmap = nullptr;
  writing_ = src_->mode != 'r';
  planes_ = in_.samples + in_.mask_samples;
  bits_ = in_.bits_per_sample;
  width_ = static_cast<uint32_t>(in_.width);
  height_ = in_.height;
  const uint32_t layout = SourceLayout();
  if (in_.width <= 0 || in_.height <= 0 || planes_ == 0 || layout > KLV_PLANAR_LINES ||
      !((bits_ >= 1 && bits_ <= 8) || bits_ == 16)) {
    KLV_LOG(KLV_LOG_ERROR,
            "layout filter: cannot re-lay a %dx%d image of %u samples at %u bits (layout %u)",
            in_.width, in_.height, planes_, bits_, in_.planar);
    return false;
  }
  row_ = (uint64_t(width_) * bits_ + 7) / 8;
  pxv_ = (uint64_t(planes_) * bits_ * width_ + 7) / 8;
  lnv_ = row_ * planes_;
  split_ = pick_pxv_to_lnv(planes_, bits_);
  join_ = pick_lnv_to_pxv(planes_, bits_);
  fills_ = relay_fills(planes_, bits_);
  out_ = in_;
  switch (target_) {
    case LayoutTarget::kPixel:
      out_.planar = KLV_PLANAR_PIXEL;
      out_.bytes_per_line = static_cast<uint32_t>(pxv_);
      band_ln_ = pxv_;
      break;
    case LayoutTarget::kLines:
      out_.planar = writing_ ? KLV_PLANAR_PIXEL : KLV_PLANAR_LINES;
      out_.bytes_per_line = static_cast<uint32_t>(writing_ ? pxv_ : lnv_);
      band_ln_ = lnv_;
      break;
    case LayoutTarget::kPlanes:
      out_.planar = KLV_PLANAR_PLANES;
      out_.bytes_per_line = static_cast<uint32_t>(row_);
      band_ln_ = lnv_;
      break;
  }
  const size_t src_bpl = std::max<size_t>(in_.bytes_per_line, layout == KLV_PLANAR_PIXEL   ? pxv_
                                                              : layout == KLV_PLANAR_LINES ? lnv_
                                                                                           : row_);
  if (writing_) {
    line_.assign(lnv_, 0);
    return true;
  }
  n_ = BandLines(band_ln_, height_);
  band_.assign(size_t(n_) * band_ln_, 0);
  if (target_ == LayoutTarget::kPixel && layout != KLV_PLANAR_PIXEL)
    conv_.assign(size_t(n_) * lnv_, 0);
  if (target_ != LayoutTarget::kPixel && layout == KLV_PLANAR_PIXEL) line_.assign(src_bpl, 0);
  line_.resize(std::max(line_.size(), src_bpl));
  loaded_.assign(planes_, 0);
  next_src_ = -1;
  return true;
}

// Reads n source lines from line `first` into dst, the source's own line
// size apart; valid_ counts the lines that came.
bool LayoutBand::ReadSource(uint8_t* dst, int32_t first, uint32_t n) {
  if (next_src_ != first && img_seek_line(src_, first, 0, 0, 0) != first) {
    next_src_ = -1;
    KLV_LOG(KLV_LOG_ERROR, "layout filter: the source cannot seek to line %d", first);
    return false;
  }
  next_src_ = first;
  valid_ = 0;
  const size_t bpl = in_.bytes_per_line;
  while (valid_ < n) {
    const int32_t got = img_read_line(src_, dst + valid_ * bpl, static_cast<int32_t>(n - valid_));
    if (got <= 0) {
      next_src_ = -1;
      return false;
    }
    valid_ += static_cast<uint32_t>(got);
    next_src_ += got;
  }
  return true;
}

// One plane's rows of the band's lines, each into row `plane` of a
// line-interleaved line at dst.
bool LayoutBand::LoadPlane(uint32_t plane, uint32_t n, uint8_t* dst) {
  next_src_ = -1;
  if (img_seek_line(src_, first_, static_cast<int32_t>(plane), 0, 0) != first_) return false;
  for (uint32_t k = 0; k < n; ++k) {
    if (img_read_line(src_, line_.data(), 1) != 1) {
      valid_ = std::min(valid_, k);
      return false;
    }
    std::memcpy(dst + size_t(k) * lnv_ + plane * row_, line_.data(), row_);
  }
  return true;
}

// The band's lines in line-interleaved form at dst (n lines, lnv_ apart).
bool LayoutBand::LoadLines(uint32_t n, uint8_t* dst) {
  switch (SourceLayout()) {
    case KLV_PLANAR_LINES:
      if (in_.bytes_per_line == lnv_) return ReadSource(dst, first_, n);
      for (uint32_t k = 0; k < n; ++k) {
        if (!ReadSource(line_.data(), first_ + int32_t(k), 1)) return valid_ = k, false;
        std::memcpy(dst + k * lnv_, line_.data(), lnv_);
      }
      valid_ = n;
      return true;
    case KLV_PLANAR_PLANES:
      valid_ = n;
      for (uint32_t p = 0; p < planes_; ++p)
        if (!LoadPlane(p, n, dst)) return false;
      return true;
    default:
      for (uint32_t k = 0; k < n; ++k) {
        if (!ReadSource(line_.data(), first_ + int32_t(k), 1)) return valid_ = k, false;
        uint8_t* d = dst + size_t(k) * lnv_;
        if (!fills_) std::memset(d, 0, lnv_);
        split_(d, line_.data(), planes_, static_cast<uint32_t>(row_), width_, bits_);
      }
      valid_ = n;
      return true;
  }
}

bool LayoutBand::LoadPixel(uint32_t n) {
  if (SourceLayout() == KLV_PLANAR_PIXEL) {
    if (in_.bytes_per_line == pxv_) return ReadSource(band_.data(), first_, n);
    for (uint32_t k = 0; k < n; ++k) {
      if (!ReadSource(line_.data(), first_ + int32_t(k), 1)) return valid_ = k, false;
      std::memcpy(band_.data() + k * pxv_, line_.data(), pxv_);
    }
    valid_ = n;
    return true;
  }
  const bool ok = LoadLines(n, conv_.data());
  for (uint32_t k = 0; k < valid_; ++k) {
    uint8_t* d = band_.data() + size_t(k) * pxv_;
    if (!fills_) std::memset(d, 0, pxv_);
    join_(d, conv_.data() + size_t(k) * lnv_, planes_, static_cast<uint32_t>(row_), width_, bits_);
  }
  return ok;
}

bool LayoutBand::Load(int32_t first) {
  first_ = first;
  const uint32_t n = static_cast<uint32_t>(std::min<int32_t>(int32_t(n_), height_ - first));
  valid_ = 0;
  switch (target_) {
    case LayoutTarget::kPixel:
      return LoadPixel(n);
    case LayoutTarget::kLines:
      return LoadLines(n, band_.data());
    case LayoutTarget::kPlanes:
      if (SourceLayout() == KLV_PLANAR_PLANES) {
        valid_ = n;
        const bool ok = LoadPlane(static_cast<uint32_t>(plane_), n, band_.data());
        loaded_[size_t(plane_)] = valid_;
        return ok;
      }
      {
        const bool ok = LoadLines(n, band_.data());
        std::fill(loaded_.begin(), loaded_.end(), valid_);
        return ok;
      }
  }
  return false;
}

int32_t LayoutBand::ReadRows(uint8_t* buffer, int32_t count) {
  const size_t out = out_.bytes_per_line;
  int32_t done = 0;
  while (done < count && cur_ < height_) {
    if (first_ < 0 || cur_ < first_ || cur_ >= first_ + int32_t(valid_)) {
      Load(cur_ - cur_ % int32_t(n_));
      if (cur_ >= first_ + int32_t(valid_)) break;
    }
    std::memcpy(buffer + size_t(done) * out, band_.data() + size_t(cur_ - first_) * band_ln_, out);
    ++cur_;
    ++done;
  }
  return done;
}

int32_t LayoutBand::ReadPlaneRows(uint8_t* buffer, int32_t count) {
  int32_t done = 0;
  while (done < count && plane_ < int32_t(planes_)) {
    if (cur_ >= height_) {
      cur_ = 0;
      ++plane_;
      continue;
    }
    const int32_t want = cur_ - cur_ % int32_t(n_);
    if (first_ != want) {
      std::fill(loaded_.begin(), loaded_.end(), 0);
      first_ = want;
    }
    if (cur_ - first_ >= int32_t(loaded_[size_t(plane_)])) {
      Load(want);
      if (cur_ - first_ >= int32_t(loaded_[size_t(plane_)])) break;
    }
    std::memcpy(buffer + size_t(done) * row_,
                band_.data() + size_t(cur_ - first_) * band_ln_ + size_t(plane_) * row_, row_);
    ++cur_;
    ++done;
  }
  if (plane_ >= int32_t(planes_)) {  // stays behind the last line of the last plane
    plane_ = int32_t(planes_) - 1;
    cur_ = height_;
  }
  return done;
}

int32_t LayoutBand::Read(uint8_t* buffer, int32_t count) {
  if (writing_ || !buffer || count < 1) return 0;
  return target_ == LayoutTarget::kPlanes ? ReadPlaneRows(buffer, count) : ReadRows(buffer, count);
}

int32_t LayoutBand::Write(uint8_t* buffer, int32_t count) {
  if (!writing_ || !buffer || count < 1) return 0;
  int32_t done = 0;
  for (; done < count && cur_ < height_; ++done, ++cur_) {
    if (!fills_) std::memset(line_.data(), 0, lnv_);
    split_(line_.data(), buffer + size_t(done) * pxv_, planes_, static_cast<uint32_t>(row_), width_,
           bits_);
    if (img_write_line(src_, line_.data(), 1) != 1) break;
  }
  return done;
}

int32_t LayoutBand::Seek(int32_t line, int32_t plane, int32_t page, int32_t whence) {
  if (plane >= 1 || page >= 1) return -1;
  int64_t target;
  switch (whence) {
    case 0:
      target = line < 0 ? cur_ : line;
      break;
    case 1:
      target = int64_t(cur_) + line;
      break;
    case 2:
      target = int64_t(height_) - line;
      break;
    default:
      return -1;
  }
  if (target < 0 || target >= height_) return -1;
  if (writing_) return target == cur_ ? cur_ : -1;
  const int32_t t = static_cast<int32_t>(target);
  const int32_t band = t - t % int32_t(n_);
  if (band != first_) {
    first_ = -1;  // loaded on the next read
    if (target_ == LayoutTarget::kLines && img_seek_line(src_, band, 0, 0, 0) != band) return -1;
    next_src_ = target_ == LayoutTarget::kLines ? band : -1;
  }
  cur_ = t;
  return t;
}

int32_t LayoutBand::SeekPlanes(int32_t line, int32_t plane, int32_t page, int32_t whence) {
  const int64_t H = height_, P = planes_;
  if (page > 0 || plane >= int32_t(P)) return -1;
  int64_t l, p;
  if (whence == 0) {
    l = line < 0 ? std::min<int64_t>(cur_, H - 1) : line;
    p = plane < 0 ? plane_ : plane;
  } else if (whence == 1 || whence == 2) {
    int64_t pos = H * plane + line;
    pos += whence == 1 ? int64_t(plane_) * H + cur_ : H * P - 1;
    if (pos < 0 || pos >= H * P) return -1;
    p = pos / H;
    l = pos % H;
  } else {
    return -1;
  }
  if (l < 0 || l >= H || p < 0 || p >= P) return -1;
  cur_ = static_cast<int32_t>(l);
  plane_ = static_cast<int32_t>(p);
  const int32_t band = cur_ - cur_ % int32_t(n_);
  if (band != first_) {
    std::fill(loaded_.begin(), loaded_.end(), 0);
    first_ = band;
  }
  return cur_;
}

}  // namespace klv::img
