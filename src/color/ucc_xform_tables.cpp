// SPDX-License-Identifier: MIT
// Table-driven transforms of colour chains: RGB levels, density tables,
// curves and the calibration. Each expands its node's 256-entry tables into
// 4,096-entry 16-bit working tables when it binds and then looks every value
// of a run up in them (light values by v >> 4, ink amounts by (65535 - v) >> 4).
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "ucc_internal.h"

namespace klv::ucc {

namespace {

using Table = std::array<uint16_t, 4096>;

inline uint16_t light(const Table& t, uint16_t v) {
  return t[v >> 4];
}
inline uint16_t ink(const Table& t, uint16_t v) {
  return static_cast<uint16_t>(65535 - t[(65535 - v) >> 4]);
}

// Runs `fn(table, value)` over channel c of every pixel.
template <typename Fn>
void channel_loop(pixdef* px, uint32_t c, const Table& t, Fn fn) {
  uint16_t* v = px->values + c;
  for (uint32_t i = 0; i < px->count; ++i, v += px->stride) *v = fn(t, *v);
}

class CRGB0UccXform : public IUccXform {
 public:
  bool bind(t_ucc_node* node) override {
    auto* r = static_cast<ucc_rgb_levels*>(node->data);
    if (!r) return false;
    for (int c = 0; c < 4; ++c) InterpLut8(tables_[c].data(), 4096, r->tables[c], 256, 0, 255);
    return true;
  }
  void apply(pixdef* px, const ucc_apply_context*) override {
    if (px->model == 3) return;
    const uint32_t n = std::min<uint32_t>(px->process, 4);
    for (uint32_t c = 0; c < n; ++c) channel_loop(px, c, tables_[c], light);
  }

 private:
  [[maybe_unused]] int32_t scale_ = 4096;  // working-table scale
  std::array<Table, 4> tables_{};
};

class CDNTBUccXform : public IUccXform {
 public:
  bool bind(t_ucc_node* node) override {
    auto* d = static_cast<ucc_density*>(node->data);
    if (!d) return false;
    for (int c = 0; c < 4; ++c) InterpLut8(tables_[c].data(), 4096, d->tables[c], 256, 0, 255);
    return true;
  }
  void apply(pixdef* px, const ucc_apply_context* ctx) override {
    if (px->model == 3) {
      for (uint32_t i = 0; i < px->count; ++i) ucc_lab16_to_rgb16(px->pixel(i));
      px->model = 1;
    }
    if (ctx->special_channel) {
      if (px->process < 4) return;
      const uint32_t k = std::min<uint32_t>(ctx->special_channel, 4) - 1;
      channel_loop(px, 3, tables_[k], ink);
      return;
    }
    for (uint32_t c = 0; c < px->process; ++c) {
      uint32_t t = c;
      if (c >= 3 && px->process == 3) t = 0;
      if (c >= 4) t = 3;
      channel_loop(px, c, tables_[t], ink);
    }
  }

 private:
  [[maybe_unused]] int32_t scale_ = 4096;  // working-table scale
  std::array<Table, 4> tables_{};
};

class CCRV1UccXform : public IUccXform {
 public:
  bool bind(t_ucc_node* node) override {
    auto* set = static_cast<ucc_curves*>(node->data);
    if (!set) return false;
    used_ = std::min<int>(set->used, 12);
    ink_ = set->mode == 2;
    for (int c = 0; c < used_; ++c)
      InterpLutSigned16(tables_[c].data(), 4096, set->curves[c].table, 256, 0, 255);
    return true;
  }
  void apply(pixdef* px, const ucc_apply_context*) override {
    if (px->model == 3 || used_ == 0) return;
    for (uint32_t c = 0; c < px->process; ++c) {
      run(px, c, tables_[0]);
      if (c + 1 < static_cast<uint32_t>(used_)) run(px, c, tables_[c + 1]);
    }
  }

 private:
  void run(pixdef* px, uint32_t c, const Table& t) const {
    if (ink_)
      channel_loop(px, c, t, ink);
    else
      channel_loop(px, c, t, light);
  }
  int used_ = 0;
  bool ink_ = true;
  std::array<Table, 12> tables_{};
};

// Calibration: emulation profile, total ink limit, grey balance and
// linearization, in this order, on ink amounts.
class CCTB0UccXform : public IUccXform {
 public:
  bool bind(t_ucc_node* node) override {
    calb_ = static_cast<ucc_calb*>(node->data);
    if (!calb_ || (!calb_->limit && !calb_->linear && !calb_->grey && !calb_->emulation))
      return false;
    grey_.clear();
    linear_.clear();
    if (calb_->grey)
      for (int32_t c = 0; c < calb_->grey->count; ++c)
        grey_.push_back(expand(calb_->grey->tables[c], 255));
    if (calb_->linear) {
      const int bits = calb_->linear_bits > 0 ? std::min(calb_->linear_bits, 16) : 8;
      for (int c = 0; c < calb_->linear->count; ++c)
        linear_.push_back(expand(calb_->linear->tables[c], (1 << bits) - 1));
    }
    limit_ = 0;
    if (calb_->limit && calb_->limit->scale > 0) limit_ = calb_->limit->scale * 65535.0;
    return true;
  }
  void apply(pixdef* px, const ucc_apply_context*) override {
    if (px->model == 3) return;
    emulate(px);
    if (limit_ > 0) limit(px);
    for (uint32_t c = 0; c < px->process && c < grey_.size(); ++c)
      channel_loop(px, c, grey_[c], ink);
    for (uint32_t c = 0; c < px->process && c < linear_.size(); ++c)
      if (!(calb_->ignore_channels & (1u << c))) channel_loop(px, c, linear_[c], ink);
  }

 private:
  static Table expand(const uint16_t* in, int32_t high) {
    Table t{};
    InterpLut16(t.data(), 4096, in, 256, 0, high);
    return t;
  }
  void emulate(pixdef* px) const {
    cms_profnode* e = calb_->emulation;
    if (!e || !e->xform || !e->xform->transform || px->format() != (e->in_format & ~CMS_FMT_STOP))
      return;
    uint32_t result = e->in_format;
    for (uint32_t i = 0; i < px->count; ++i)
      result = e->xform->transform(e->xform->handle, e->in_format, px->pixel(i));
    px->set_format(result & ~CMS_FMT_STOP);
  }
  // Scales the inks of a pixel down so that their total stays within the limit.
  void limit(pixdef* px) const {
    for (uint32_t i = 0; i < px->count; ++i) {
      uint16_t* v = px->pixel(i);
      double total = 0;
      for (uint32_t c = 0; c < px->process; ++c) total += 65535 - v[c];
      if (total <= limit_) continue;
      const double f = limit_ / total;
      for (uint32_t c = 0; c < px->process; ++c)
        v[c] = static_cast<uint16_t>(65535 - static_cast<uint32_t>((65535 - v[c]) * f));
    }
  }
  ucc_calb* calb_ = nullptr;
  double limit_ = 0;
  std::vector<Table> grey_, linear_;
};

}  // namespace

IUccXform* make_table_xform(int32_t type) {
  switch (type) {
    case UCC_RGB0:
      return new CRGB0UccXform;
    case UCC_DNTB:
      return new CDNTBUccXform;
    case UCC_CRV1:
      return new CCRV1UccXform;
    case UCC_CTB0:
      return new CCTB0UccXform;
    default:
      return nullptr;
  }
}

}  // namespace klv::ucc
