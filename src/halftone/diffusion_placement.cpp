// SPDX-License-Identifier: MIT
// The diffusion placements: the noise table, the matrix and screen thresholds
// and the choice of engine per separation.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "klv/halftone_diffusion.h"
#include "klv/halftone_ml.h"
#include "klv/log.h"

bool CHTPlaceErrDif::PreInitProcess(image_info* in, image_info* out) {
  if (!CHTKlvPlacement::PreInitProcess(in, out)) return false;
  if (noise_modulus < 1 || noise_modulus > 32768) {
    KLV_LOG(KLV_LOG_ERROR, "diffusion placement: noise modulus %d is out of range", noise_modulus);
    return false;
  }
  const size_t n = size_t(in->width) * 4;
  try {
    noise_.assign(n ? n : 4, 0);
  } catch (const std::bad_alloc&) {
    KLV_LOG(KLV_LOG_ERROR, "diffusion placement: no memory for %zu noise entries", n);
    return false;
  }
  const int centre = centred_ ? noise_centre : 0;
  HTLineRandom random;
  random.Seed(HTSeedMix(Seed(), 0xD1FFu));
  for (int16_t& v : noise_) v = int16_t(int(random.Next() % uint32_t(noise_modulus)) - centre);
  return PrepareFamily();
}

CHTRip* CHTPlaceErrDif::Finish(CHTRip* raw, int sep, int color, bool extra, int curve_no,
                               MLPROCCURVES* curves, uint8_t* out_buf, unsigned long stride,
                               unsigned long lines) {
  std::unique_ptr<CHTRip> rip(raw);
  if (!rip) {
    KLV_LOG(KLV_LOG_ERROR, "diffusion placement: no engine for separation %d", sep);
    return nullptr;
  }
  if (!rip->Init(this, IsSepThreaded(sep), sep, color, extra, curve_no, curves, out_buf, stride,
                 lines))
    return nullptr;
  return rip.release();
}

CHTRip* CHTPlaceErrDif::CreateRip(int sep, int color, bool extra, int curve_no,
                                  MLPROCCURVES* curves, uint8_t* out_buf, unsigned long stride,
                                  unsigned long lines) {
  if (!in_ || !out_) return nullptr;
  if (in_->bits_per_sample != 8 && in_->bits_per_sample != 16) {
    KLV_LOG(KLV_LOG_ERROR, "diffusion placement: %u-bit input", in_->bits_per_sample);
    return nullptr;
  }
  const bool in16 = in_->bits_per_sample == 16;
  const MLPROCINFO* rec = ProcInfo();
  const bool vardot = rec && (rec->flags & KLV_MLPROC_FLAG_VARDOT);
  CHTRip* rip = nullptr;
  if (curve_no == 0) {
    if (GetSepOutputBits() == 1 && out_->bits_per_sample == 1)
      rip = NewSingleLevel(in16);
    else
      rip = NewMultiLevel(in16, vardot);
  } else if (vardot && !((!rec && out_->bits_per_sample == 1) || (rec && rec->output_bits == 1))) {
    rip = NewMultiLevel(in16, true);
  } else {
    // A level of a multi-level engine in curve mode: an ordinary one-bit
    // engine whose dots the multi-level engine merges into drop codes.
    rip = NewSingleLevel(in16);
  }
  return Finish(rip, sep, color, extra, curve_no, curves, out_buf, stride, lines);
}

CHTRip* CHTPlaceErrDif::NewSingleLevel(bool in16) {
  return in16 ? static_cast<CHTRip*>(new (std::nothrow) CHTRipErrDif16())
              : new (std::nothrow) CHTRipErrDif();
}

CHTRip* CHTPlaceErrDif::NewMultiLevel(bool in16, bool vardot) {
  if (vardot)
    return in16 ? static_cast<CHTRip*>(new (std::nothrow) CHTRipMLVDErrDif16())
                : new (std::nothrow) CHTRipMLVDErrDif();
  return in16 ? static_cast<CHTRip*>(new (std::nothrow) CHTRipMLErrDif16())
              : new (std::nothrow) CHTRipMLErrDif();
}

// --- matrix-modulated -----------------------------------------------------------

void CHTPlaceErrDifMtx::SetMatrixFile(const char* name) {
  file_.assign(name ? name : "");
  if (file_.size() > 63) file_.resize(63);
}

bool CHTPlaceErrDifMtx::PrepareFamily() {
  if (external_ || array_) return true;
  auto arr = std::make_unique<CHTThreshArray<unsigned short>>();
  if (file_.empty() || !arr->Load(file_.c_str(), 0, 2047)) {
    KLV_LOG(KLV_LOG_ERROR, "matrix diffusion: the matrix file \"%s\" cannot be loaded",
            file_.c_str());
    return false;
  }
  array_ = std::move(arr);
  return true;
}

void CHTPlaceErrDifMtx::BeginProcess() {
  CHTPlaceErrDif::BeginProcess();
  array_.reset();  // every engine holds its own copy by now
}

CHTRip* CHTPlaceErrDifMtx::NewSingleLevel(bool in16) {
  return in16 ? static_cast<CHTRip*>(new (std::nothrow) CHTRipErrDifMtx16())
              : new (std::nothrow) CHTRipErrDifMtx();
}

CHTRip* CHTPlaceErrDifMtx::NewMultiLevel(bool in16, bool vardot) {
  if (vardot)
    return in16 ? static_cast<CHTRip*>(new (std::nothrow) CHTRipMLVDErrDifMtx16())
                : new (std::nothrow) CHTRipMLVDErrDifMtx();
  return in16 ? static_cast<CHTRip*>(new (std::nothrow) CHTRipMLErrDifMtx16())
              : new (std::nothrow) CHTRipMLErrDifMtx();
}

// --- screen-modulated -----------------------------------------------------------

bool CHTPlaceErrDifScreen::Pattern(int color, std::vector<uint16_t>& out) const {
  const int range = pattern_range > 1 ? pattern_range : 2048;
  const int a = int(int64_t(amp_a) * range / 2048), b = int(int64_t(amp_b) * range / 2048);
  const int mid = range / 2;
  switch (pattern_type) {
    case 0:
      out = {uint16_t(mid - a), uint16_t(mid + b), uint16_t(mid - b), uint16_t(mid + a)};
      break;
    case 1:
      out = {uint16_t(mid - a), uint16_t(mid - b), uint16_t(mid + b), uint16_t(mid + a)};
      break;
    case 2:
      out = {uint16_t(mid - a), uint16_t(mid), uint16_t(mid + a)};
      break;
    case 3: {
      const int m = (a + b) / 2;
      out = {uint16_t(mid + m), uint16_t(mid - b),     uint16_t(mid + b / 2), uint16_t(mid - a),
             uint16_t(mid + a), uint16_t(mid - b / 2), uint16_t(mid + b),     uint16_t(mid - m)};
      break;
    }
    default:
      return false;
  }
  // One colour runs the pattern backwards so that two inks do not share it.
  int process = in_ ? int(in_->samples - in_->spot_samples) : 4;
  int reversed = process == 1 ? 1 : process == 3 ? -1 : 4;
  if (color == reversed) std::reverse(out.begin(), out.end());
  return true;
}

CHTRip* CHTPlaceErrDifScreen::NewSingleLevel(bool in16) {
  return in16 ? static_cast<CHTRip*>(new (std::nothrow) CHTRipErrDifScreen16())
              : new (std::nothrow) CHTRipErrDifScreen();
}

CHTRip* CHTPlaceErrDifScreen::NewMultiLevel(bool in16, bool vardot) {
  if (vardot)
    return in16 ? static_cast<CHTRip*>(new (std::nothrow) CHTRipMLVDErrDifScreen16())
                : new (std::nothrow) CHTRipMLVDErrDifScreen();
  return in16 ? static_cast<CHTRip*>(new (std::nothrow) CHTRipMLErrDifScreen16())
              : new (std::nothrow) CHTRipMLErrDifScreen();
}

// --- variable-coefficient ---------------------------------------------------------

CHTRip* CHTPlaceErrDifVarCoef::NewSingleLevel(bool in16) {
  return in16 ? static_cast<CHTRip*>(new (std::nothrow) CHTRipErrDifVarCoef16())
              : new (std::nothrow) CHTRipErrDifVarCoef();
}

CHTRip* CHTPlaceErrDifVarCoef::NewMultiLevel(bool in16, bool vardot) {
  if (vardot)
    return in16 ? static_cast<CHTRip*>(new (std::nothrow) CHTRipMLVDErrDifVarCoef16())
                : new (std::nothrow) CHTRipMLVDErrDifVarCoef();
  return in16 ? static_cast<CHTRip*>(new (std::nothrow) CHTRipMLErrDifVarCoef16())
              : new (std::nothrow) CHTRipMLErrDifVarCoef();
}
