// SPDX-License-Identifier: MIT
// Adjustment transforms of colour chains: HSV, colour replacement, spot
// replacement, and the nodes that pass colours through (masks, which need a
// pixel's position that a colour does not carry; destination, named-colour
// and grey markers); the transform factory and the pixel record's format word.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

#include "ucc_internal.h"

namespace klv::ucc {

IUccXform* make_profile_xform(int32_t type);
IUccXform* make_table_xform(int32_t type);

namespace {

class CHSV0UccXform : public IUccXform {
 public:
  bool bind(t_ucc_node* node) override {
    auto* r = static_cast<ucc_hsv*>(node->data);
    if (!r) return false;
    ucc_hsv copy = *r;
    ucc_hsv_curves(&copy);
    for (int k = 0; k < 2; ++k)
      for (int i = 0; i < 256; ++i) curves_[k][i] = copy.curves[k][i] / 65535.0f;
    for (int k = 0; k < 3; ++k)
      for (int h = 0; h < 360; ++h) hue_[k][h] = r->hue_tables[k][h];
    return true;
  }
  void apply(pixdef* px, const ucc_apply_context*) override {
    if (px->model == 3 || px->process < 3) return;
    for (uint32_t i = 0; i < px->count; ++i) adjust(px->pixel(i));
  }

 private:
  static float curve(const float* t, float x) {
    const float p = std::clamp(x, 0.0f, 1.0f) * 255.0f;
    const int k = std::min(static_cast<int>(p), 254);
    const float f = p - static_cast<float>(k);
    return t[k] * (1 - f) + t[k + 1] * f;
  }
  void adjust(uint16_t* v) const {
    const float r = v[0] / 65535.0f, g = v[1] / 65535.0f, b = v[2] / 65535.0f;
    const float mx = std::max({r, g, b}), mn = std::min({r, g, b}), d = mx - mn;
    float h = 0;
    if (d > 0) {
      if (mx == r)
        h = 60.0f * std::fmod((g - b) / d + 6.0f, 6.0f);
      else if (mx == g)
        h = 60.0f * ((b - r) / d + 2.0f);
      else
        h = 60.0f * ((r - g) / d + 4.0f);
    }
    float s = mx > 0 ? d / mx : 0, val = mx;
    const int hi = static_cast<int>(h) % 360;
    h = std::fmod(h + hue_[0][hi] + 360.0f, 360.0f);
    s = curve(curves_[0].data(), s + hue_[1][hi] / 65535.0f);
    val = curve(curves_[1].data(), val + hue_[2][hi] / 65535.0f);
    const float c = val * s, x = c * (1 - std::fabs(std::fmod(h / 60.0f, 2.0f) - 1)), m = val - c;
    float o[3];
    switch (static_cast<int>(h / 60.0f) % 6) {
      case 0:
        o[0] = c, o[1] = x, o[2] = 0;
        break;
      case 1:
        o[0] = x, o[1] = c, o[2] = 0;
        break;
      case 2:
        o[0] = 0, o[1] = c, o[2] = x;
        break;
      case 3:
        o[0] = 0, o[1] = x, o[2] = c;
        break;
      case 4:
        o[0] = x, o[1] = 0, o[2] = c;
        break;
      default:
        o[0] = c, o[1] = 0, o[2] = x;
        break;
    }
    for (int k = 0; k < 3; ++k)
      v[k] = static_cast<uint16_t>(std::clamp((o[k] + m) * 65535.0f + 0.5f, 0.0f, 65535.0f));
  }
  std::array<std::array<float, 256>, 2> curves_{};
  std::array<std::array<float, 360>, 3> hue_{};
};

// Replaces colours within an entry's tolerance by the entry's other colour.
class CCREPUccXform : public IUccXform {
 public:
  bool bind(t_ucc_node* node) override {
    crep_ = static_cast<ucc_crep*>(node->data);
    return crep_ != nullptr;
  }
  void apply(pixdef* px, const ucc_apply_context*) override {
    const uint32_t fmt = px->format();
    for (int32_t e = 0; crep_->entries && e < crep_->count; ++e) {
      const ucc_crep_entry& en = crep_->entries[e];
      if (!en.enabled || !en.from.values || !en.to.values) continue;
      if (en.from.v[0] && static_cast<uint32_t>(en.from.v[0]) != fmt) continue;
      const uint32_t n = std::min<uint32_t>(px->process, static_cast<uint32_t>(en.from.v[2]));
      const uint32_t m = std::min<uint32_t>(px->process, static_cast<uint32_t>(en.to.v[2]));
      for (uint32_t i = 0; i < px->count; ++i) {
        uint16_t* v = px->pixel(i);
        bool match = n > 0;
        for (uint32_t c = 0; c < n && match; ++c)
          match = std::abs(v[c] - en.from.values[c]) <= en.from.v[1];
        if (!match) continue;
        for (uint32_t c = 0; c < m; ++c)
          v[c] = static_cast<uint16_t>(std::clamp(en.to.values[c], 0, 65535));
      }
    }
  }

 private:
  ucc_crep* crep_ = nullptr;
};

// Blends enabled spot samples into the first three process values by the
// spot's shown colour and takes the spot ink away.
class CSREPUccXform : public IUccXform {
 public:
  bool bind(t_ucc_node* node) override {
    srep_ = static_cast<ucc_srep*>(node->data);
    return srep_ != nullptr;
  }
  void apply(pixdef* px, const ucc_apply_context*) override {
    const uint32_t spots = px->channels - px->process;
    if (px->model == 3 || px->process < 3 || spots == 0) return;
    for (uint32_t s = 0; s < spots && s < 11; ++s) {
      const ucc_spot_entry& e = srep_->spots[s];
      if (!e.enabled) continue;
      for (uint32_t i = 0; i < px->count; ++i) {
        uint16_t* v = px->pixel(i);
        const uint32_t amount = 65535u - v[px->process + s];
        for (int c = 0; c < 3; ++c) {
          const uint32_t absorb = amount * (255u - e.rgb[c]) / 255u;
          v[c] = static_cast<uint16_t>(v[c] * (65535u - absorb) / 65535u);
        }
        v[px->process + s] = 65535;
      }
    }
  }

 private:
  ucc_srep* srep_ = nullptr;
};

// Nodes whose transform passes colours through (see the file comment).
class CPassUccXform : public IUccXform {
 public:
  bool bind(t_ucc_node*) override { return true; }
  void apply(pixdef*, const ucc_apply_context*) override {}
};

}  // namespace

}  // namespace klv::ucc

using namespace klv::ucc;

IUccXform::~IUccXform() = default;

KLV_API IUccXform* ucc_make_xform(int32_t type) {
  if (IUccXform* x = make_profile_xform(type)) return x;
  if (IUccXform* x = make_table_xform(type)) return x;
  switch (type) {
    case UCC_HSV0:
      return new CHSV0UccXform;
    case UCC_CREP:
      return new CCREPUccXform;
    case UCC_SREP:
      return new CSREPUccXform;
    case UCC_DEST:
    case UCC_NCLR:
    case UCC_MKBF:
    case UCC_MKAF:
    case UCC_OGM1:
      return new CPassUccXform;
    default:
      return nullptr;
  }
}

uint32_t pixdef::format() const {
  uint32_t m = model == 0 ? CMS_FMT_INK : model == 3 ? CMS_FMT_LAB : 0;
  return (channels & 0xFF) | m | ((sub_mode & 7) << 12) | (((channels - process) & 0xFF) << 16);
}

void pixdef::set_format(uint32_t f) {
  channels = std::min<uint32_t>(CMS_FMT_CHANNELS(f), UCC_MAX_CHANNELS);
  const uint32_t spots = std::min<uint32_t>((f >> 16) & 0xFF, channels);
  process = channels - spots;
  const uint32_t m = f & CMS_FMT_MODEL_MASK;
  model = m == CMS_FMT_INK ? 0 : m == CMS_FMT_LAB ? 3 : 1;
  sub_mode = (f >> 12) & 7;
}

// CIELab (D50) to sRGB through XYZ with the Bradford-adapted matrix.
void ucc_lab16_to_rgb16(uint16_t* v) {
  const double L = v[0] * 100.0 / 65535.0, a = (v[1] - 32768) / 256.0, b = (v[2] - 32768) / 256.0;
  const double fy = (L + 16) / 116, fx = fy + a / 500, fz = fy - b / 200;
  auto finv = [](double t) {
    return t > 6.0 / 29 ? t * t * t : 3 * (6.0 / 29) * (6.0 / 29) * (t - 4.0 / 29);
  };
  const double X = 0.9642 * finv(fx), Y = finv(fy), Z = 0.8249 * finv(fz);
  const double lin[3] = {3.1339 * X - 1.6169 * Y - 0.4906 * Z,
                         -0.9788 * X + 1.9161 * Y + 0.0335 * Z,
                         0.0719 * X - 0.2290 * Y + 1.4052 * Z};
  for (int c = 0; c < 3; ++c) {
    const double l = std::clamp(lin[c], 0.0, 1.0);
    const double g = l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1 / 2.4) - 0.055;
    v[c] = static_cast<uint16_t>(g * 65535.0 + 0.5);
  }
}
