// SPDX-License-Identifier: MIT
// Transforms of the profile-list nodes: each CMS profile node whose input
// format the run has (or has but for the ink inversion, or but for one and
// four channels) converts the run through the engine's exact per-pixel entry.
#include <algorithm>

#include "ucc_internal.h"

namespace klv::ucc {

namespace {

// When a profile-list transform acts on a run.
enum class Gate { Three, Four, Many, Lab, Always };

class CProfileListXform : public IUccXform {
 public:
  CProfileListXform(Gate gate, uint32_t flag) : gate_(gate), flag_(flag) {}
  bool bind(t_ucc_node* node) override {
    list_ = static_cast<ucc_proflist*>(node->data);
    return list_ != nullptr;
  }
  void apply(pixdef* px, const ucc_apply_context* ctx) override {
    if (!acts(px, ctx)) return;
    for (cms_profnode* n = list_->first; n && !px->stop; n = n->next) run_node(n, px);
  }

 private:
  bool acts(const pixdef* px, const ucc_apply_context* ctx) const {
    if (flag_ && (ctx->flags & flag_)) return false;
    switch (gate_) {
      case Gate::Three:
        return ctx->entry_process == 3;
      case Gate::Four:
        return ctx->entry_process == 4;
      case Gate::Many:
        return ctx->entry_process >= 5;
      case Gate::Lab:
        return px->model == 3;
      case Gate::Always:
        return true;
    }
    return false;
  }

  static void invert(pixdef* px, uint32_t channels) {
    for (uint32_t i = 0; i < px->count; ++i) {
      uint16_t* v = px->pixel(i);
      for (uint32_t c = 0; c < channels; ++c) v[c] = static_cast<uint16_t>(65535 - v[c]);
    }
  }

  // One and four channels of the same model turn into each other.
  static void one_four(pixdef* px, uint32_t want) {
    const uint16_t pad = (px->format() & CMS_FMT_INK) ? 65535 : 0;
    for (uint32_t i = 0; i < px->count; ++i) {
      uint16_t* v = px->pixel(i);
      if (want == 4) {
        const uint16_t g = v[0];
        v[0] = v[1] = v[2] = pad;
        v[3] = g;
      } else {
        v[0] = v[3];
      }
    }
    px->channels = px->channels - px->process + want;
    px->process = want;
  }

  static void run_node(cms_profnode* n, pixdef* px) {
    if (!n->xform || !n->xform->transform) return;
    const uint32_t in = n->in_format & ~CMS_FMT_STOP;
    uint32_t fmt = px->format();
    if (fmt != in) {
      const uint32_t diff = fmt ^ in;
      if (diff == CMS_FMT_INK) {
        invert(px, px->process);
      } else if ((diff & ~0xFFu) == 0 && ((px->process == 1 && CMS_FMT_CHANNELS(in) == 4) ||
                                          (px->process == 4 && CMS_FMT_CHANNELS(in) == 1))) {
        one_four(px, CMS_FMT_CHANNELS(in));
      } else {
        return;
      }
    }
    const uint32_t width = std::min<uint32_t>(
        UCC_MAX_CHANNELS, std::max(CMS_FMT_CHANNELS(in), CMS_FMT_CHANNELS(n->out_format)));
    const uint16_t pad = (in & CMS_FMT_INK) ? 65535 : 0;
    uint32_t result = in;
    for (uint32_t i = 0; i < px->count; ++i) {
      uint16_t* v = px->pixel(i);
      for (uint32_t c = px->process; c < width; ++c) v[c] = pad;
      result = n->xform->transform(n->xform->handle, in, v);
    }
    if (result & CMS_FMT_STOP) px->stop = 1;
    px->set_format(result & ~CMS_FMT_STOP);
  }

  Gate gate_;
  uint32_t flag_;
  ucc_proflist* list_ = nullptr;
};

}  // namespace

IUccXform* make_profile_xform(int32_t type) {
  switch (type) {
    case UCC_ICG3:
    case UCC_PCG3:
      return new CProfileListXform(Gate::Three, UCC_REQ_NO_GENERIC);
    case UCC_ICG4:
    case UCC_PCG4:
      return new CProfileListXform(Gate::Four, UCC_REQ_NO_GENERIC);
    case UCC_ICGN:
    case UCC_PCGN:
      return new CProfileListXform(Gate::Many, UCC_REQ_NO_GENERIC);
    case UCC_ICI3:
    case UCC_PCI3:
      return new CProfileListXform(Gate::Three, UCC_REQ_NO_IMAGE);
    case UCC_ICI4:
    case UCC_PCI4:
      return new CProfileListXform(Gate::Four, UCC_REQ_NO_IMAGE);
    case UCC_ICIN:
    case UCC_PCIN:
      return new CProfileListXform(Gate::Many, UCC_REQ_NO_IMAGE);
    case UCC_ICIO:
    case UCC_PCIO:
      return new CProfileListXform(Gate::Lab, UCC_REQ_NO_IMAGE);
    case UCC_MCXF:
      return new CProfileListXform(Gate::Always, 0);
    default:
      return nullptr;
  }
}

}  // namespace klv::ucc
