// SPDX-License-Identifier: MIT
// The placement base classes: what every engine reads from its placement.
#include <cstring>

#include "klv/halftone_rip.h"
#include "klv/halftone_thresh.h"
#include "klv/log.h"

CHTPlacement::~CHTPlacement() = default;

bool CHTPlacement::PreInitProcess(image_info* in, image_info* out) {
  in_ = in;
  out_ = out;
  return true;
}

void CHTPlacement::Detach() {
  if (detach_delete) delete this;
}

CHTKlvPlacement::~CHTKlvPlacement() = default;

bool CHTKlvPlacement::PreInitProcess(image_info* in, image_info* out) {
  if (!CHTPlacement::PreInitProcess(in, out) || !in || !out) return false;
  auto process_ok = [](const image_info* d) {
    uint32_t p = d->samples - d->spot_samples;
    return d->spot_samples <= d->samples && (p == 0 || p == 1 || (p >= 3 && p <= 7));
  };
  if (in->photometric > 1 || (in->bits_per_sample != 8 && in->bits_per_sample != 16) ||
      in->samples > 12 || out->samples > 12 || !process_ok(in) || !process_ok(out) ||
      out->samples > in->samples) {
    KLV_LOG(KLV_LOG_ERROR,
            "halftone placement: input %u samples of %u bits (photometric %u) cannot become "
            "%u output samples",
            in->samples, in->bits_per_sample, in->photometric, out->samples);
    return false;
  }
  bool light = in->photometric == 1;
  if (special_media) light = !light;
  invert_mask = light ? (in->bits_per_sample == 16 ? 0xFFFF : 0xFF) : 0;
  invert_output = out->photometric == 1;
  return true;
}

bool CHTKlvPlacement::SetLinearization(int count, uint16_t (*tables)[256],
                                       const MLPROCINFO* record) {
  lin_count_ = uint8_t(count < 0 ? 0 : count > 255 ? 255 : count);
  lin_tables_ = tables;
  if (!tables) lin_count_ = 0;
  if (record) {
    proc_info_ = std::make_unique<MLPROCINFO>();
    std::memcpy(proc_info_.get(), record, sizeof(MLPROCINFO));
    if ((record->flags & KLV_MLPROC_FLAG_VARDOT) && !vardot_) {
      auto arr = std::make_unique<CHTThreshArray<unsigned char>>();
      if (!arr->Load("VarDot.HTS", 0, 256)) return false;
      vardot_ = std::move(arr);
    }
  }
  return true;
}

bool CHTKlvPlacement::IsThreaded() {
  for (uint8_t f : thread_flags)
    if (f) return true;
  return false;
}

int CHTKlvPlacement::GetSepOutputBits() {
  return proc_info_ && proc_info_->output_bits ? proc_info_->output_bits : 1;
}

void CHTKlvPlacement::BeginProcess() {
  if (detach_delete) vardot_.reset();
}

const MLPROCCOLORINFO* CHTKlvPlacement::GetColorInfo(int color, int /*curve_no*/,
                                                     MLPROCCOLORINFO* /*buf*/) {
  if (!proc_info_ || color < 0 || color >= KLV_MLPROC_COLORS) return nullptr;
  return &proc_info_->color[color];
}
