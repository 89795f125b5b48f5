// SPDX-License-Identifier: MIT
// The placement base classes: what every engine reads from its placement.
#include <algorithm>
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

namespace {

// Process colours (samples less spot samples) a placement screens: none, one,
// or three to seven.
bool process_colours_ok(const image_info* d) {
  const uint32_t p = d->samples - d->spot_samples;
  return d->spot_samples <= d->samples && (p == 0 || p == 1 || (p >= 3 && p <= 7));
}

// What makes an input and output pair unscreenable, or null when nothing does.
const char* layout_fault(const image_info* in, const image_info* out) {
  if (in->photometric > 1) return "input photometric is neither 0 nor 1";
  if (in->bits_per_sample != 8 && in->bits_per_sample != 16)
    return "input bits per sample are neither 8 nor 16";
  if (in->samples > 12 || out->samples > 12) return "more than 12 samples";
  if (!process_colours_ok(in)) return "input process colours are not 0, 1 or 3 to 7";
  if (!process_colours_ok(out)) return "output process colours are not 0, 1 or 3 to 7";
  if (out->samples > in->samples) return "more output samples than input samples";
  return nullptr;
}

}  // namespace

bool CHTKlvPlacement::PreInitProcess(image_info* in, image_info* out) {
  if (!CHTPlacement::PreInitProcess(in, out) || !in || !out) return false;
  if (const char* fault = layout_fault(in, out)) {
    KLV_LOG(KLV_LOG_ERROR,
            "halftone placement: %s (input %u samples, %u spot, %u bits, photometric %u; output "
            "%u samples, %u spot)",
            fault, in->samples, in->spot_samples, in->bits_per_sample, in->photometric,
            out->samples, out->spot_samples);
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

const MLPROCCOLORINFO* CHTKlvPlacement::GetColorInfo(int color, int curve_no,
                                                     MLPROCCOLORINFO* buf) {
  if (!proc_info_ || color < 0 || color >= KLV_MLPROC_COLORS) return nullptr;
  const MLPROCCOLORINFO& rec = proc_info_->color[color];
  if (!rec.inkrestrict_link || !buf) return &rec;
  // Linked to an ink-restriction channel: the channel decides the drops, so
  // the engine sees one level over the whole range up to the largest code.
  *buf = MLPROCCOLORINFO{};
  buf->levels = 1;
  buf->width[0] = 255;
  buf->mid_code[0] = 0;
  uint32_t upper =
      rec.levels ? rec.upper_code[std::min<int>(rec.levels, KLV_MLPROC_LEVELS) - 1] : 0;
  const int drop = int(proc_info_->code_bits) - int(proc_info_->output_bits);
  if (curve_no && drop > 0) upper >>= drop;
  buf->upper_code[0] = uint8_t(upper);
  buf->level_curves = rec.level_curves;
  buf->inkrestrict_link = rec.inkrestrict_link;
  if (rec.vardot_mode == 4 || rec.vardot_mode == 5) {
    buf->vardot_mode = rec.vardot_mode;
    std::memcpy(buf->vardot_values, rec.vardot_values, sizeof buf->vardot_values);
    // The blocks of the level this curve number stands for (level curve_no - 1).
    if (curve_no >= 1 && curve_no <= KLV_MLPROC_LEVELS) {
      std::memcpy(buf->curve[0], rec.curve[curve_no - 1], sizeof buf->curve[0]);
      std::memcpy(buf->coverage[0], rec.coverage[curve_no - 1], sizeof buf->coverage[0]);
    }
  }
  return buf;
}
