// SPDX-License-Identifier: MIT
// The diffusion engine base (tone line, noise, serpentine scan, packing) and
// plain error diffusion.
#include <cstring>
#include <new>

#include "halftone/diffusion_kernel.h"
#include "klv/halftone_diffusion.h"
#include "klv/log.h"

using namespace klv::halftone;

CHTRipDiffusion::~CHTRipDiffusion() {
  StopWorker();  // the worker must not diffuse while the error lines go
}

bool CHTRipDiffusion::Init(CHTPlacement* placement, bool threaded, int sep, int color, bool extra,
                           int curve_no, MLPROCCURVES* curves, uint8_t* out_buf,
                           unsigned long stride, unsigned long lines) {
  if (!placement || !placement->InImin()) return false;
  if (placement->InImin()->bits_per_sample != (Input16() ? 16u : 8u)) {
    KLV_LOG(KLV_LOG_ERROR, "diffusion engine for %d-bit input given %u-bit input",
            Input16() ? 16 : 8, placement->InImin()->bits_per_sample);
    return false;
  }
  auto* p = dynamic_cast<CHTPlaceErrDif*>(placement);
  if (!p || !p->Noise()) {
    KLV_LOG(KLV_LOG_ERROR, "diffusion engine: the placement has no noise table");
    return false;
  }
  // The worker may only start once the error lines exist.
  if (!CHTRipKlv::Init(placement, false, sep, color, extra, curve_no, curves, out_buf, stride,
                       lines))
    return false;
  noise_ = p->Noise();
  noise_size_ = p->NoiseSize();
  if (noise_size_ < size_t(in_width_) * 4) {
    KLV_LOG(KLV_LOG_ERROR, "diffusion engine: %zu noise entries for %u pixels", noise_size_,
            in_width_);
    return false;
  }
  try {
    tones_.assign(in_width_ + 1, 0);
    dots_.assign(in_width_ + 16, 0);
  } catch (const std::bad_alloc&) {
    KLV_LOG(KLV_LOG_ERROR, "diffusion engine: no memory for a %u-pixel line", in_width_);
    return false;
  }
  right_to_left_ = false;
  random_.Seed(HTSeedMix(placement->SepSeed(sep), uint32_t(curve_no)));
  if (!Prepare(placement)) return false;
  if (threaded) StartWorker();
  return true;
}

void CHTRipDiffusion::ProcessLine() {
  const size_t start = noise_start(in_width_, random_);
  line_paper_ = SkipsBlankLines() && LineIsPaper();
  if (line_paper_ && ErrorsClear()) {
    // No ink and no error carried: the full path would print nothing and
    // leave the error lines zero.
    std::memset(out_ptr_, invert_output_ ? 0xFF : 0, out_bytes_per_line_);
    EndLine();
    right_to_left_ = !right_to_left_;
    out_ptr_ += out_stride_;
    ++out_line_;
    return;
  }
  const uint16_t* curve = curve_.get();
  auto map = [curve](uint32_t i) { return curve[i]; };
  const uint32_t step = Input16() ? in_step_ / 2 : in_step_;
  if (Input16())
    read_line<uint16_t>(in_ptr_, in_width_, step, last_pixel_, mirror_, in_shift_, tones_.data(),
                        map);
  else
    read_line<uint8_t>(in_ptr_, in_width_, step, last_pixel_, mirror_, 0, tones_.data(), map);
  DiffuseLine(noise_ + start);
  pack_dots(dots_.data(), in_width_, out_ptr_, out_bytes_per_line_);
  if (invert_output_) invert_bytes(out_ptr_, out_bytes_per_line_);
  EndLine();
  right_to_left_ = !right_to_left_;
  out_ptr_ += out_stride_;
  ++out_line_;
}

// --- plain ------------------------------------------------------------------------

bool CHTRipErrDif::Prepare(CHTPlacement*) {
  try {
    err_a_.assign(size_t(in_width_) + 4, 0);
    err_b_.assign(size_t(in_width_) + 4, 0);
    limit_.resize(range_);
  } catch (const std::bad_alloc&) {
    KLV_LOG(KLV_LOG_ERROR, "diffusion engine: no memory for error lines");
    return false;
  }
  for (uint32_t t = 0; t < range_; ++t) limit_[t] = int16_t(HTNoiseLimit(int(t)));
  errors_clear_ = true;
  return true;
}

namespace {

bool all_zero(const std::vector<int16_t>& v) {
  for (int16_t e : v)
    if (e) return false;
  return true;
}

// One line of plain diffusion; Dir is +1 (left to right) or -1. The chain
// from one pixel's error to the next is kept short and free of branches: the
// previous line's three neighbours, the noise and the tone are summed apart
// from it, and the dot is a mask (a branch on it would miss about every
// other pixel). At full tone the noise limit is 0, so the error of a dot
// there is 1027.
template <int Dir>
void plain_row(const uint16_t* tones, int n, int16_t* a, const int16_t* b, const int16_t* noise,
               const int16_t* limit, uint8_t* dots) {
  int e1 = 0, e2 = 0;
  int x = Dir > 0 ? 0 : n - 1;
  for (int k = 0; k < n; ++k, x += Dir) {
    const int t = tones[x];
    const int nz = clamp_noise(noise[k] - 128, limit[t]);
    int16_t* ax = a + x + 2;
    const int16_t* bx = b + x + 2;
    const int16_t above = int16_t(bx[-1] + bx[0] + bx[1]);
    const int rest = 2 * (*ax + e2);
    const int16_t s = int16_t(e1 + above);
    const int16_t v = int16_t(((3 * s + rest) >> 4) + nz + t);
    const int dot = -int(v > 1028);
    const int full = t == 2047 ? 1027 : v - 2047;
    const int err = int16_t((full & dot) | (v & ~dot));
    *ax = int16_t(err);
    e2 = e1;
    e1 = err;
    dots[x] = uint8_t(dot);
  }
}

}  // namespace

void CHTRipErrDif::DiffuseLine(const int16_t* noise) {
  if (right_to_left_)
    plain_row<-1>(tones_.data(), int(in_width_), err_a_.data(), err_b_.data(), noise, limit_.data(),
                  dots_.data());
  else
    plain_row<1>(tones_.data(), int(in_width_), err_a_.data(), err_b_.data(), noise, limit_.data(),
                 dots_.data());
  // Once a blank line leaves both error lines zero, the following blank lines
  // can be skipped.
  errors_clear_ = line_paper_ && all_zero(err_a_) && all_zero(err_b_);
}
