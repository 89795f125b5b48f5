// SPDX-License-Identifier: MIT
// CHTRipKlv: the tone curve of the single-level engines, and the level curves
// built from a multi-level process record.
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "klv/halftone_rip.h"
#include "klv/inkrestrict.h"
#include "klv/log.h"

namespace {

// The 256-entry linearization table resampled linearly onto `size` points
// (the last point taken as is), rounded.
std::vector<uint32_t> resample_table(const uint16_t* t, uint32_t size) {
  std::vector<uint32_t> out(size);
  if (size == 256) {
    for (uint32_t i = 0; i < 256; ++i) out[i] = t[i];
    return out;
  }
  for (uint32_t i = 0; i + 1 < size; ++i) {
    double pos = double(i) * 255.0 / double(size - 1);
    uint32_t k = uint32_t(pos);
    double f = pos - k;
    out[i] = uint32_t(std::lround(t[k] + (double(t[k + 1]) - t[k]) * f));
  }
  out[size - 1] = t[255];
  return out;
}

// The linearization table of a separation: its own, else a shared one chosen
// by how many tables the placement holds.
const uint16_t* lin_table_for(const CHTKlvPlacement& p, int sep) {
  int n = p.NumLinTables();
  if (n <= 0) return nullptr;
  if (sep < n) return p.LinTable(sep);
  int i = n == 1 ? 0 : n == 3 ? 2 : 3;
  if (i >= n) i = n - 1;  // two tables: no table 2 or 3 exists
  return p.LinTable(i);
}

}  // namespace

MLProcCurvesRef MLProcCurvesBuild(const MLPROCCOLORINFO& color, int input_bits, int output_bits) {
  if (color.level_curves == 0 || input_bits < 1 || input_bits > 16 || output_bits < 1 ||
      output_bits > 16)
    return nullptr;
  const uint32_t size = 1u << input_bits;
  const uint32_t maxout = (1u << output_bits) - 1;
  const int count = std::min<int>(color.level_curves, 32);
  struct Owner {
    MLPROCCURVES rec;
    std::vector<std::vector<uint16_t>> data;
    std::vector<uint16_t*> ptrs;
  };
  auto owner = std::make_shared<Owner>();
  owner->data.assign(count, std::vector<uint16_t>(size, 0));
  owner->ptrs.resize(count);
  for (int c = 0; c < count; ++c) {
    // The break points: the first pair, then pairs up to one whose x is 0;
    // a point that does not move right is skipped.
    std::vector<std::pair<uint32_t, uint32_t>> pts;
    for (int k = 0; k < KLV_MLPROC_CURVE_PAIRS; ++k) {
      uint32_t x = color.curve[c][k][0], y = color.curve[c][k][1];
      if (k > 0 && x == 0) break;
      uint32_t xs = x * (size - 1) / 255, ys = y * maxout / 255;
      if (!pts.empty() && xs <= pts.back().first) continue;
      pts.emplace_back(xs, ys);
    }
    std::vector<uint16_t>& v = owner->data[c];
    for (uint32_t i = 0; i <= pts[0].first; ++i) v[i] = uint16_t(pts[0].second);
    for (size_t k = 1; k < pts.size(); ++k) {
      auto [x0, y0] = pts[k - 1];
      auto [x1, y1] = pts[k];
      for (uint32_t i = x0; i <= x1; ++i)
        v[i] = uint16_t(int64_t(y0) + (int64_t(y1) - y0) * int64_t(i - x0) / int64_t(x1 - x0));
    }
    // After the last point the curve falls linearly to 0 at the last entry.
    auto [xl, yl] = pts.back();
    for (uint32_t i = xl + 1; i < size; ++i)
      v[i] = uint16_t(uint64_t(yl) * (size - 1 - i) / (size - 1 - xl));
    owner->ptrs[c] = v.data();
  }
  owner->rec.count = count;
  owner->rec.size = size;
  owner->rec.max_output = uint16_t(maxout);
  owner->rec.curves = owner->ptrs.data();
  return MLProcCurvesRef(owner, &owner->rec);
}

bool CHTRipKlv::Init(CHTPlacement* placement, bool threaded, int sep, int color, bool extra,
                     int curve_no, MLPROCCURVES* curves, uint8_t* out_buf,
                     unsigned long bytes_between_lines, unsigned long out_lines) {
  // The worker starts last, once the curve it screens with exists.
  if (!CHTRip::Init(placement, false, sep, color, extra, curve_no, curves, out_buf,
                    bytes_between_lines, out_lines))
    return false;
  auto* klv = dynamic_cast<CHTKlvPlacement*>(placement);
  if (klv) {
    mirror_ = klv->mirror;
    invert_output_ = klv->invert_output;
    invert_mask_ = klv->invert_mask;
  }
  if (in_->bits_per_sample == 8) {
    curve_size_ = 256;
    in_shift_ = 0;
  } else if (in_->bits_per_sample == 16) {
    curve_size_ = 4096;
    in_shift_ = 4;
    invert_mask_ >>= 4;
  } else {
    KLV_LOG(KLV_LOG_ERROR, "halftone engine: %u-bit input is not screened", in_->bits_per_sample);
    return false;
  }
  invert_mask_ &= uint16_t(curve_size_ - 1);
  if (!BuildCurve(klv, curves)) return false;
  FindPaper();
  if (threaded) StartWorker();
  return true;
}

void CHTRipKlv::FindPaper() {
  has_paper_ = false;
  if (!curve_ || curve_size_ == 0) return;
  if (curve_[0] == 0) {
    has_paper_ = true;
    paper_ = 0;
  } else if (curve_[curve_size_ - 1] == 0) {
    has_paper_ = true;
    paper_ = in_->bits_per_sample == 16 ? 0xFFFF : 0xFF;
  }
}

namespace {

// True when all n samples, `step` apart, equal v.
template <class In>
bool all_samples_are(const In* in, uint32_t step, uint32_t n, In v) {
  uint32_t x = 0;
  if (step == 1) {
    // Eight bytes a step while the line lasts.
    uint64_t word;
    std::memset(&word, int(v & 0xFF), sizeof word);
    if (sizeof(In) == 1 || In(v >> 8) == In(v & 0xFF)) {
      const uint8_t* b = reinterpret_cast<const uint8_t*>(in);
      const size_t bytes = size_t(n) * sizeof(In);
      size_t i = 0;
      for (; i + 8 <= bytes; i += 8) {
        uint64_t w;
        std::memcpy(&w, b + i, 8);
        if (w != word) return false;
      }
      x = uint32_t(i / sizeof(In));
    }
  }
  for (; x < n; ++x)
    if (in[size_t(x) * step] != v) return false;
  return true;
}

}  // namespace

bool CHTRipKlv::LineIsPaper() const {
  if (!blank_skip_ || !has_paper_ || !in_ptr_) return false;
  if (in_->bits_per_sample == 16)
    return all_samples_are(reinterpret_cast<const uint16_t*>(in_ptr_), in_step_ / 2, in_width_,
                           uint16_t(paper_));
  return all_samples_are(in_ptr_, in_step_, in_width_, uint8_t(paper_));
}

bool CHTRipKlv::BuildCurve(CHTKlvPlacement* klv, MLPROCCURVES* curves) {
  curve_.reset(new (std::nothrow) uint16_t[curve_size_]);
  if (!curve_) {
    KLV_LOG(KLV_LOG_ERROR, "no memory for a tone curve");
    return false;
  }
  const uint32_t maxin = curve_size_ - 1;
  const uint32_t top = range_ - 1;

  const MLPROCCOLORINFO* rec = nullptr;
  if (klv && klv->ProcInfo() && color_ < KLV_MLPROC_COLORS) rec = &klv->ProcInfo()->color[color_];

  std::vector<uint32_t> lin;
  if (klv && !extra_) {
    if (const uint16_t* t = lin_table_for(*klv, sep_)) lin = resample_table(t, curve_size_);
  }
  const bool use_lin = !lin.empty();

  std::shared_ptr<kelv::inkrestrict::SepCurve> restrict_curve;
  if (rec && rec->inkrestrict_link) {
    if (auto ch = kelv::inkrestrict::findChannelLink(rec->inkrestrict_link)) {
      int count = ch->getCount();
      int k = curve_no_ ? count - curve_no_ : 0;
      if (k > count - 1) k = count - 1;
      if (k < 0) k = 0;
      restrict_curve = ch->getSep(k);
    }
  }
  const uint16_t* level = nullptr;
  uint32_t level_max = 0, level_size = 0;
  if (!restrict_curve && curve_no_ && curves && curve_no_ <= curves->count && curves->max_output) {
    level = curves->curves[curve_no_ - 1];
    level_max = curves->max_output;
    level_size = curves->size;
  }

  for (uint32_t i = 0; i < curve_size_; ++i) {
    uint32_t j = i ^ invert_mask_;
    uint64_t v;
    if (restrict_curve) {
      uint32_t p = use_lin ? lin[j] * 100 / 65535 : j * 100 / maxin;
      double r = restrict_curve->getValue(float(p));
      double t = std::floor(double(top) * r / 100.0 + 0.5);
      v = t < 0 ? 0 : t > top ? top : uint64_t(t);
    } else if (level) {
      uint64_t idx =
          use_lin ? uint64_t(lin[j]) * level_max / 65535 : uint64_t(j) * level_max / maxin;
      if (idx >= level_size) idx = level_size - 1;
      v = uint64_t(level[idx]) * top / level_max;
    } else {
      v = use_lin ? uint64_t(lin[j]) * top / 65535 : uint64_t(j) * top / maxin;
    }
    curve_[i] = uint16_t(v);
  }
  if (!exact_curve_) {
    const uint32_t floor_value = range_ / 150;
    for (uint32_t i = 0; i < curve_size_; ++i)
      if (curve_[i] < floor_value) curve_[i] = 0;
  }
  return true;
}
