// SPDX-License-Identifier: MIT
// CHTRipML: the per-value table of table mode, the level engines of curve mode,
// and the line flow shared by the multi-level engines.
#include <algorithm>
#include <cmath>
#include <new>

#include "halftone/diffusion_kernel.h"
#include "klv/halftone_ml.h"
#include "klv/inkrestrict.h"
#include "klv/log.h"

using namespace klv::halftone;

namespace {

// Borrows the single-level tone curve (linear, linearized or through an
// ink-restriction curve) to find each input value's tone in a given range.
class ToneProbe final : public CHTRipKlv {
 public:
  explicit ToneProbe(uint32_t range) { range_ = range; }
  void ProcessLine() override {}
};

}  // namespace

CHTRipML::CHTRipML() = default;

CHTRipML::~CHTRipML() {
  StopWorker();
}

const MLPROCCOLORINFO* CHTRipML::TableRecord(CHTKlvPlacement* p, MLPROCCOLORINFO* buf) {
  const MLPROCINFO* proc = p->ProcInfo();
  if (curve_no_ == 0) {
    if (color_ < proc->colors && color_ < KLV_MLPROC_COLORS && !extra_) return &proc->color[color_];
    // One level over the whole range: no ink up to the largest code.
    *buf = MLPROCCOLORINFO{};
    buf->levels = 1;
    buf->upper_code[0] = uint8_t((1u << out_bits_) - 1);
    buf->width[0] = 255;
    return buf;
  }
  return p->GetColorInfo(color_, curve_no_, buf);
}

bool CHTRipML::Init(CHTPlacement* placement, bool threaded, int sep, int color, bool extra,
                    int curve_no, MLPROCCURVES* curves, uint8_t* out_buf, unsigned long stride,
                    unsigned long lines) {
  auto* klv = dynamic_cast<CHTKlvPlacement*>(placement);
  if (!klv || !klv->ProcInfo()) {
    KLV_LOG(KLV_LOG_ERROR, "multi-level engine: the placement has no process record");
    return false;
  }
  if (curve_no && !klv->ProcInfo()->vardot_ext) {
    KLV_LOG(KLV_LOG_ERROR, "multi-level engine: level %d needs the variable-dot extension",
            curve_no);
    return false;
  }
  if (!CHTRip::Init(placement, false, sep, color, extra, curve_no, curves, out_buf, stride, lines))
    return false;
  // The output bits come from the process record.
  out_bits_ = uint32_t(klv->GetSepOutputBits());
  if (out_bits_ != 1 && out_bits_ != 2 && out_bits_ != 4 && out_bits_ != 8) {
    KLV_LOG(KLV_LOG_ERROR, "multi-level engine: %u output bits per pixel", out_bits_);
    return false;
  }
  out_bytes_per_line_ = uint32_t((uint64_t(out_width_) * out_bits_ + 7) / 8);
  if (!out_buf && !SetOutBuf(nullptr, 0, lines)) return false;
  mirror_ = klv->mirror;
  invert_output_ = klv->invert_output;
  invert_mask_ = klv->invert_mask;
  if (in_->bits_per_sample != (Input16() ? 16u : 8u)) {
    KLV_LOG(KLV_LOG_ERROR, "multi-level engine for %d-bit input given %u-bit input",
            Input16() ? 16 : 8, in_->bits_per_sample);
    return false;
  }
  size_ = Input16() ? 4096 : 256;
  in_shift_ = Input16() ? 4 : 0;
  if (Input16()) invert_mask_ >>= 4;
  invert_mask_ &= uint16_t(size_ - 1);
  direct_indices_ = DirectIndices() && !Input16() && in_step_ == 1 && !mirror_;
  try {
    idx_.assign(in_width_ + 1, 0);
    codes_.assign(in_width_ + 8, 0);
  } catch (const std::bad_alloc&) {
    KLV_LOG(KLV_LOG_ERROR, "multi-level engine: no memory for a %u-pixel line", in_width_);
    return false;
  }

  const MLPROCCOLORINFO* rec =
      color_ < KLV_MLPROC_COLORS ? &klv->ProcInfo()->color[color_] : nullptr;
  if (!AllowCurveMode()) {
  } else if (curve_no_ == 0 && subs_.empty() && rec && rec->level_curves) {
    if (!BuildCurves(klv)) return false;
  } else if (curve_no_ == 0 && subs_.empty() && rec && rec->inkrestrict_link && !curves) {
    auto ch = kelv::inkrestrict::findChannelLink(rec->inkrestrict_link);
    if (ch && ch->getCount() > 1 && !BuildCurves(klv)) return false;
  }
  if (subs_.empty()) {
    MLPROCCOLORINFO buf;
    const MLPROCCOLORINFO* trec = TableRecord(klv, &buf);
    if (!trec) {
      KLV_LOG(KLV_LOG_ERROR, "multi-level engine: no colour record for colour %d", color);
      return false;
    }
    if (!PreTable(placement) || !BuildTable(placement, trec) || !PostTable(placement)) return false;
  }
  if (threaded) StartWorker();
  return true;
}

bool CHTRipML::BuildCurves(CHTKlvPlacement* p) {
  const MLPROCCOLORINFO& rec = p->ProcInfo()->color[color_];
  int count = 0;
  if (rec.level_curves && !rec.inkrestrict_link) {
    level_curves_ = MLProcCurvesBuild(rec, 12, 12);
    if (!level_curves_) return false;
    count = level_curves_->count;
  } else if (auto ch = kelv::inkrestrict::findChannelLink(rec.inkrestrict_link)) {
    count = ch->getCount();
  }
  count = std::min(count, 8);
  for (int i = 0; i < count; ++i) {
    std::unique_ptr<CHTRip> sub(
        p->CreateRip(sep_, color_, extra_, i + 1, level_curves_.get(), nullptr, 0, 1));
    if (!sub) {
      KLV_LOG(KLV_LOG_ERROR, "multi-level engine: level engine %d cannot be made", i + 1);
      subs_.clear();
      return false;
    }
    subs_.push_back(std::move(sub));
  }
  // What each level engine gives a pixel: one bit from a one-level engine,
  // a drop code of 1 or 2 bits from a multi-level one.
  sub_bits_ = 1;
  for (auto& sub : subs_) {
    const int b = dynamic_cast<CHTRipML*>(sub.get()) ? sub->GetOutBits() : 1;
    if (b != 1 && b != 2) {
      KLV_LOG(KLV_LOG_ERROR, "multi-level engine: a level engine gives %d bits a pixel", b);
      subs_.clear();
      return false;
    }
    if (&sub != &subs_.front() && b != sub_bits_) {
      KLV_LOG(KLV_LOG_ERROR, "multi-level engine: level engines of %d and %d bits", sub_bits_, b);
      subs_.clear();
      return false;
    }
    sub_bits_ = uint8_t(b);
  }
  xlate_ = HTMLMergeTable(count, sub_bits_, int(out_bits_));
  if (xlate_.empty()) {
    subs_.clear();
    return false;
  }
  return true;
}

std::vector<uint8_t> HTMLMergeTable(int subs, int sub_bits, int out_bits) {
  if (subs < 1 || subs > 8 || (sub_bits != 1 && sub_bits != 2) || out_bits < 1 || out_bits > 8)
    return {};
  const unsigned per = (1u << sub_bits) - 1;  // codes of one level engine
  const unsigned top = per * unsigned(subs);  // the largest natural code
  const unsigned maxcode = (1u << out_bits) - 1;
  std::vector<uint8_t> table(size_t(1) << (subs * sub_bits), 0);
  for (size_t i = 1; i < table.size(); ++i) {
    // The highest level engine that printed decides: its band starts above
    // every code of the engines below it.
    unsigned natural = 0;
    for (int s = subs - 1; s >= 0; --s) {
      const unsigned v = unsigned(i >> (s * sub_bits)) & per;
      if (v) {
        natural = per * unsigned(s) + v;
        break;
      }
    }
    // Scaled to the output codes when there are more natural codes than
    // output codes, rounding up so that any drop prints at least code 1.
    const unsigned code = top <= maxcode ? natural : (natural * maxcode + top - 1) / top;
    table[i] = uint8_t(code);
  }
  return table;
}

bool CHTRipML::BuildTable(CHTPlacement* placement, const MLPROCCOLORINFO* rec) {
  ToneProbe probe(range_);
  if (!probe.Init(placement, false, sep_, color_, extra_, curve_no_, nullptr, nullptr, 0, 1))
    return false;
  const uint16_t* tone = probe.GetCurve();
  const int n = std::clamp<int>(rec->levels, 1, KLV_MLPROC_LEVELS);
  uint32_t start[KLV_MLPROC_LEVELS + 1] = {};
  uint8_t lower[KLV_MLPROC_LEVELS] = {};
  for (int l = 0; l < n; ++l) {
    start[l + 1] = start[l] + uint32_t(rec->width[l]) * range_ / 255;
    if (l + 1 < n) lower[l + 1] = rec->upper_code[l];
  }
  try {
    table_.assign(size_, HTMLEntry{});
  } catch (const std::bad_alloc&) {
    KLV_LOG(KLV_LOG_ERROR, "multi-level engine: no memory for its value table");
    return false;
  }
  const uint32_t full = range_ - 1;
  for (uint32_t i = 0; i < size_; ++i) {
    const uint32_t u = tone[i];
    int l = 0;
    while (l + 1 < n && u >= start[l + 1]) ++l;
    const uint32_t len = start[l + 1] > start[l] ? start[l + 1] - start[l] : 0;
    const uint32_t w = len ? len - 1 : 0;
    double q = u >= start[l] ? double(std::min(u - start[l], w)) : 0.0;
    const int g = rec->bend[l];
    if (g != 0) q = w == 0 ? 0.0 : std::round(q * (q * g / 256.0 / w + 1.0 - g / 256.0));
    const uint32_t big = w ? uint32_t(q * full / w + 0.5) : full;
    const uint8_t mid = rec->mid_code[l], up = rec->upper_code[l];
    uint32_t f = big, b = big;
    if (mid != up && mid != lower[l]) {
      b = std::min(full, 2 * big);
      f = 2 * big > full ? 2 * big - full : 0;
    }
    uint16_t fv = doCoverageAdjustment(rec, l, int(i), uint16_t(f), uint16_t(b), uint16_t(full));
    uint16_t m = doCalcMidval(fv, uint16_t(b), uint16_t(full));
    if (!exact_curve_) {
      if (fv < full / 150) fv = 0;
      if (i == 1 && fv && m == 0) fv = 0;
    }
    table_[i] = HTMLEntry{mid, up, fv, m, lower[l], uint8_t(uint64_t(u) * 255 / range_)};
  }
  return true;
}

uint16_t CHTRipML::doCalcMidval(uint16_t f, uint16_t b, uint16_t c) {
  if (midval_direct_) return b;
  if (f >= b || c <= f) return 0;
  return uint16_t(uint32_t(b - f) * c / uint32_t(c - f));
}

uint16_t CHTRipML::doCoverageAdjustment(const MLPROCCOLORINFO*, int, int, uint16_t value, uint16_t,
                                        uint16_t) {
  return value;
}

uint16_t CHTRipML::getCoverageLevel(const MLPROCCOLORINFO*, int, uint16_t value, uint16_t) {
  return value;
}

void CHTRipML::ReadIndices() {
  const uint32_t step = Input16() ? in_step_ / 2 : in_step_;
  auto id = [](uint32_t i) { return uint16_t(i); };
  if (Input16())
    read_line<uint16_t>(in_ptr_, in_width_, step, last_pixel_, mirror_, in_shift_, idx_.data(), id);
  else
    read_line<uint8_t>(in_ptr_, in_width_, step, last_pixel_, mirror_, 0, idx_.data(), id);
}

void CHTRipML::ProcessCurves() {
  uint8_t* line = const_cast<uint8_t*>(in_ptr_);
  for (auto& s : subs_) s->StartProcessLine(line, 1);
  for (auto& s : subs_) s->CheckProcAvail();
  // Gather each level engine's bits (or 2-bit codes) into an index per
  // pixel, engine s at bit s x bits. The level engines complement their bytes
  // as this engine does; undo it.
  const uint8_t inv = invert_output_ ? 0xFF : 0;
  std::vector<uint16_t>& index = idx_;
  std::fill(index.begin(), index.end(), 0);
  for (size_t s = 0; s < subs_.size(); ++s) {
    const uint8_t* bits = subs_[s]->GetOutBuf();
    if (sub_bits_ == 1) {
      const uint16_t bit = uint16_t(1u << s);
      for (uint32_t x = 0; x < in_width_; ++x)
        if ((bits[x >> 3] ^ inv) & (0x80 >> (x & 7))) index[x] |= bit;
    } else {
      const unsigned at = unsigned(2 * s);
      for (uint32_t x = 0; x < in_width_; ++x) {
        const unsigned v = unsigned((bits[x >> 2] ^ inv) >> (6 - 2 * (x & 3))) & 3u;
        index[x] = uint16_t(index[x] | (v << at));
      }
    }
  }
  const uint8_t* xl = xlate_.data();
  for (uint32_t x = 0; x < in_width_; ++x) codes_[x] = xl[index[x]];
  for (auto& s : subs_) s->ResetOutBuf();
}

void CHTRipML::ProcessLine() {
  if (!subs_.empty()) {
    ProcessCurves();
  } else {
    if (!direct_indices_) ReadIndices();
    ProcessTableLine();
  }
  pack_codes(codes_.data(), in_width_, int(out_bits_), out_ptr_, out_bytes_per_line_);
  if (invert_output_) invert_bytes(out_ptr_, out_bytes_per_line_);
  out_ptr_ += out_stride_;
  ++out_line_;
}
