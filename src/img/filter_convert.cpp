// SPDX-License-Identifier: MIT
// Line filter pixel conversion: inversion, mask and spot samples, CIELab to
// RGB, colour sample conversions between gray, RGB, inverted CMYK (RGBW) and
// the extended ink sets, and depth changes. Attach picks one converter; the
// 8-bit common cases are table lookups only.
//
// Extended ink sets. The extra inks of a five- to seven-colour set are named
// by the colour count and hifi_mode: 5 colours: mode 1 orange, else red;
// 6: mode 1 green+blue, 2 orange+blue, 3 red+blue, else orange+green;
// 7: mode 1 orange+green+blue, else red+green+blue. Working on ink amounts
// (255 minus the light value), reduction to CMYK adds each extra ink to the
// process inks that mix it: red to magenta and yellow, green to cyan and
// yellow, blue to cyan and magenta, orange to yellow and half to magenta,
// clamped at full ink. Extension from CMYK takes each extra ink, in the set's
// order, as the common part of its process pair (orange: min(2 magenta,
// yellow)) and removes it from the pair, so reducing an extended pixel gives
// the CMYK pixel back. Gray and RGB become RGBW with all black in W:
// W = max(R, G, B) and each colour scaled by 255 / W (gray g gives 255, 255,
// 255, g), the inverse of the RGBW to RGB rule.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "img/filter_internal.h"
#include "klv/log.h"

namespace klv::img {

namespace {

enum Extra { kOrange, kRed, kGreen, kBlue };

int extras_of(uint32_t colors, uint32_t hifi, Extra* out) {
  switch (colors) {
    case 5:
      out[0] = hifi == 1 ? kOrange : kRed;
      return 1;
    case 6:
      if (hifi == 1) {
        out[0] = kGreen, out[1] = kBlue;
      } else if (hifi == 2) {
        out[0] = kOrange, out[1] = kBlue;
      } else if (hifi == 3) {
        out[0] = kRed, out[1] = kBlue;
      } else {
        out[0] = kOrange, out[1] = kGreen;
      }
      return 2;
    case 7:
      if (hifi == 1) {
        out[0] = kOrange, out[1] = kGreen, out[2] = kBlue;
      } else {
        out[0] = kRed, out[1] = kGreen, out[2] = kBlue;
      }
      return 3;
    default:
      return 0;
  }
}

// c: light samples in 0..M. Converts `from` colour samples to `to` in place.
void convert_colors(const FilterPlan& f, uint32_t* c, uint32_t from, uint32_t to, uint32_t M,
                    uint32_t in_hifi, uint32_t out_hifi) {
  if (from == to && from != 5 && from != 6 && from != 7) return;
  if (from == to && in_hifi == out_hifi) return;
  uint32_t k[12];
  // To RGBW (4) first.
  if (from >= 5 && from <= 7) {
    Extra ex[3];
    int n = extras_of(from, in_hifi, ex);
    uint32_t C = M - c[0], Mg = M - c[1], Y = M - c[2];
    for (int i = 0; i < n; ++i) {
      uint32_t e = M - c[4 + i];
      switch (ex[i]) {
        case kRed:
          Mg += e, Y += e;
          break;
        case kGreen:
          C += e, Y += e;
          break;
        case kBlue:
          C += e, Mg += e;
          break;
        case kOrange:
          Mg += e / 2, Y += e;
          break;
      }
    }
    c[0] = M - std::min(C, M), c[1] = M - std::min(Mg, M), c[2] = M - std::min(Y, M);
    from = 4;
  }
  if (to == 1 || to == 3 || to == 2) {
    if (from == 4) {
      uint64_t a = f.soft_a, b = f.soft_b;
      if (M != 255) a *= 257, b *= 257;
      uint64_t w = c[3] + a;
      for (int i = 0; i < 3; ++i) c[i] = static_cast<uint32_t>(c[i] * w / b);
      from = 3;
    }
    if (from == 3 && to == 1) {
      if (M == 255)
        c[0] = f.gr[c[0]] + f.gg[c[1]] + f.gb[c[2]];
      else
        c[0] = static_cast<uint32_t>((19661ull * c[0] + 38666ull * c[1] + 7209ull * c[2] + 32768) >>
                                     16);
      if (c[0] > M) c[0] = M;
      return;
    }
    if (from == 1 && to >= 2) {
      for (uint32_t i = 1; i < to; ++i) c[i] = c[0];
      return;
    }
    for (uint32_t i = from; i < to; ++i) c[i] = M;
    return;
  }
  // To four or more.
  if (from == 1) {
    c[3] = c[0];
    c[0] = c[1] = c[2] = M;
    from = 4;
  } else if (from == 3 || from == 2) {
    if (from == 2) c[2] = M;
    uint32_t w = std::max({c[0], c[1], c[2]});
    for (int i = 0; i < 3; ++i)
      c[i] = w ? static_cast<uint32_t>((uint64_t{c[i]} * M + w / 2) / w) : M;
    c[3] = w;
    from = 4;
  } else if (from > 7) {
    for (uint32_t i = 0; i < to; ++i) k[i] = i < from ? c[i] : M;
    std::memcpy(c, k, to * sizeof(uint32_t));
    return;
  }
  if (to >= 5 && to <= 7) {
    Extra ex[3];
    int n = extras_of(to, out_hifi, ex);
    uint32_t C = M - c[0], Mg = M - c[1], Y = M - c[2];
    for (int i = 0; i < n; ++i) {
      uint32_t e = 0;
      switch (ex[i]) {
        case kRed:
          e = std::min(Mg, Y), Mg -= e, Y -= e;
          break;
        case kGreen:
          e = std::min(C, Y), C -= e, Y -= e;
          break;
        case kBlue:
          e = std::min(C, Mg), C -= e, Mg -= e;
          break;
        case kOrange:
          e = std::min({2 * Mg, Y, M}), Mg -= e / 2, Y -= e;
          break;
      }
      c[4 + i] = M - e;
    }
    c[0] = M - C, c[1] = M - Mg, c[2] = M - Y;
  } else if (to > 7) {
    for (uint32_t i = 4; i < to; ++i) c[i] = M;
  }
}

template <typename TI, typename TO>
void generic(const filter_rec& f, const uint8_t* in8, uint8_t* out8, int32_t n) {
  const TI* in = reinterpret_cast<const TI*>(in8);
  TO* out = reinterpret_cast<TO*>(out8);
  const uint32_t M = (1u << f.dom) - 1;
  const bool widen = f.dom == 16 && f.dom_in == 8;
  const bool reduce = f.dom == 16 && f.work_bits == 8;
  const auto& wi = f.wi;
  const auto& wo = f.wo;
  const bool xform = f.opt.transform != nullptr;
  uint32_t v[16], c[16];
  // Transform pass: light colour and spot samples go through the transform in one call.
  if (xform) {
    auto* xi = const_cast<uint8_t*>(f.xin.data());
    auto* xo = const_cast<uint8_t*>(f.xout.data());
    for (int32_t p = 0; p < n; ++p)
      for (uint32_t s = 0; s < wi.samples; ++s) {
        uint32_t x = in[size_t(p) * wi.total + s];
        if (widen) x *= 257;
        if (wi.photo == 0) x = M - x;
        if (f.dom == 16)
          reinterpret_cast<uint16_t*>(xi)[size_t(p) * wi.samples + s] = uint16_t(x);
        else
          xi[size_t(p) * wi.samples + s] = uint8_t(x);
      }
    if (!f.opt.transform->apply(f.xstate, xi, xo, n)) f.xform_failed = true;
  }
  for (int32_t p = 0; p < n; ++p, in += wi.total, out += wo.total) {
    for (uint32_t s = 0; s < wi.total; ++s) v[s] = widen ? in[s] * 257u : in[s];
    if (wi.photo == 0)
      for (uint32_t s = 0; s < wi.samples; ++s) v[s] = M - v[s];
    if (xform) {
      for (uint32_t s = 0; s < wo.samples; ++s)
        c[s] = f.dom == 16
                   ? reinterpret_cast<const uint16_t*>(f.xout.data())[size_t(p) * wo.samples + s]
                   : f.xout[size_t(p) * wo.samples + s];
    } else {
      for (uint32_t s = 0; s < wi.colors; ++s) c[s] = v[s];
      if (f.lab && wo.photo != KLV_PHOTO_CIELAB) f.labt.convert(c);
      uint32_t from = f.lab ? 3 : wi.colors;
      convert_colors(f, c, from, wo.colors, M, wi.hifi, wo.hifi);
      for (uint32_t j = 0; j < wo.spots; ++j)
        c[wo.colors + j] = j < wi.spots ? v[wi.colors + j] : M;
      // Spot samples the output drops are blended into the colour samples:
      // a = strength * ink / 255, c = (M - a) * c / M + value * a / M.
      for (uint32_t j = wo.spots; j < wi.spots && j < f.spots.size(); ++j) {
        const filter_spot_color& d = f.spots[j];
        const uint64_t ink = M - v[wi.colors + j];
        const uint64_t a = d.strength * ink / 255;
        for (uint32_t s = 0; s < wo.colors && s < 12; ++s) {
          uint64_t val = uint32_t(d.value[s]) & 255;
          if (M != 255) val *= 257;
          c[s] = static_cast<uint32_t>((M - a) * c[s] / M + val * a / M);
        }
      }
    }
    for (uint32_t j = 0; j < wo.masks; ++j)
      c[wo.samples + j] = (j < wi.masks && !f.opt.mask_opaque) ? v[wi.samples + j] : M;
    if (wo.photo == 0)
      for (uint32_t s = 0; s < wo.samples; ++s) c[s] = M - c[s];
    for (uint32_t s = 0; s < wo.total; ++s) {
      uint32_t x = c[s] ^ f.invert_mask;
      out[s] = static_cast<TO>(reduce ? x >> 8 : x);
    }
  }
}

// Same sample counts, 8 bits or fewer: one table per value.
void lut_convert(const filter_rec& f, const uint8_t* in, uint8_t* out, int32_t n) {
  const size_t count = size_t(n) * f.wi.total;
  const auto& t = f.out_lut;
  for (size_t i = 0; i < count; ++i) out[i] = t[in[i]];
}

void rgb8_to_gray8(const filter_rec& f, const uint8_t* in, uint8_t* out, int32_t n) {
  const auto& r = f.lgr;
  const auto& g = f.lgg;
  const auto& b = f.lgb;
  const auto& o = f.out_lut;
  for (int32_t p = 0; p < n; ++p, in += 3) out[p] = o[r[in[0]] + g[in[1]] + b[in[2]]];
}

void rgbw8_to_rgb8(const filter_rec& f, const uint8_t* in, uint8_t* out, int32_t n) {
  const uint8_t* mul = f.mul.data();
  const auto& o = f.out_lut;
  for (int32_t p = 0; p < n; ++p, in += 4, out += 3) {
    const uint8_t* row = mul + size_t(in[3]) * 256;
    out[0] = o[row[in[0]]];
    out[1] = o[row[in[1]]];
    out[2] = o[row[in[2]]];
  }
}

void rgbw8_to_gray8(const filter_rec& f, const uint8_t* in, uint8_t* out, int32_t n) {
  const uint8_t* mul = f.mul.data();
  const auto& o = f.out_lut;
  for (int32_t p = 0; p < n; ++p, in += 4) {
    const uint8_t* row = mul + size_t(in[3]) * 256;
    out[p] = o[f.gr[row[in[0]]] + f.gg[row[in[1]]] + f.gb[row[in[2]]]];
  }
}

void lab8_to_rgb8(const filter_rec& f, const uint8_t* in, uint8_t* out, int32_t n) {
  const LabTables& t = f.labt;
  const int32_t *fy = t.fy.data(), *fa = t.fa.data(), *fb = t.fb.data();
  const uint16_t* enc = t.enc.data();
  for (int32_t p = 0; p < n; ++p, in += 3, out += 3) {
    const uint32_t L = in[0];
    const int32_t ix = fy[L] + fa[in[1]] - t.fx_lo, iz = fy[L] - fb[in[2]] - t.fz_lo;
    for (int k = 0; k < 3; ++k) {
      const int32_t lin = t.ylin[k][L] + t.xlin[k][ix] + t.zlin[k][iz];
      out[k] = static_cast<uint8_t>(enc[std::clamp(lin, 0, 65535)]);
    }
  }
}

// Gray weights and the black rule, shared by the pixel path and the spot
// colour definitions.
void plain_weights(FilterPlan& f) {
  f.soft_a = f.opt.soft_black ? 14 : 0;
  f.soft_b = f.opt.soft_black ? 269 : 255;
  for (int v = 0; v < 256; ++v) {
    f.gr[v] = static_cast<uint16_t>(0.3 * v + 0.5);
    f.gg[v] = static_cast<uint16_t>(0.59 * v + 0.5);
    f.gb[v] = static_cast<uint16_t>(0.11 * v + 0.5);
  }
}

}  // namespace

bool setup_conversion(FilterPlan& f) {
  const auto& wi = f.wi;
  const auto& wo = f.wo;
  plain_weights(f);
  if (f.lab && wo.photo != KLV_PHOTO_CIELAB && !f.opt.transform) f.labt.build(f.dom);
  const uint32_t M = (1u << f.dom) - 1;
  f.invert_mask =
      f.opt.flags[1] && !f.quantize ? (f.work_bits == 16 ? 0xFFFFu : (1u << f.work_bits) - 1) : 0;
  if (f.invert_mask && f.dom == 16 && f.work_bits == 8) f.invert_mask = 0xFFFF;
  const bool plain8 = f.dom == 8 && f.work_bits == 8 && !f.opt.transform && wi.masks == 0 &&
                      wo.masks == 0 && wi.spots == 0 && wo.spots == 0;
  // Final map from a light value to the output sample.
  for (uint32_t v = 0; v < 256; ++v) {
    uint32_t x = v;
    if (wo.photo == 0) x = 255 - x;
    if (f.opt.flags[1] && !f.quantize) x ^= 255;
    f.out_lut[v] = static_cast<uint8_t>(x);
  }
  auto light = [&](uint32_t v) { return wi.photo == 0 ? 255 - v : v; };
  if (f.dom <= 8 && !f.opt.transform && !f.lab && wi.total == wo.total && wi.colors == wo.colors &&
      wi.spots == wo.spots && wi.hifi == wo.hifi && f.work_bits == f.dom &&
      !(wo.masks && f.opt.mask_opaque)) {
    // Equal counts: only inversions remain.
    uint32_t m = (1u << f.dom) - 1;
    uint32_t flip = ((wi.photo == 0) != (wo.photo == 0)) ? m : 0;
    if (f.opt.flags[1] && !f.quantize) flip ^= m;
    for (uint32_t v = 0; v < 256; ++v) f.out_lut[v] = static_cast<uint8_t>((v ^ flip) & 0xFF);
    if (wi.masks) {
      f.conv = generic<uint8_t, uint8_t>;  // masks are not inverted
      f.conv_name = "generic8";
      for (uint32_t v = 0; v < 256; ++v) f.out_lut[v] = static_cast<uint8_t>(v);
    } else {
      f.conv = lut_convert;
      f.conv_name = "lut";
    }
    return true;
  }
  if (plain8 && !f.lab && wi.colors == 3 && wo.colors == 1) {
    for (int v = 0; v < 256; ++v) {
      uint32_t l = light(v);
      f.lgr[v] = f.gr[l], f.lgg[v] = f.gg[l], f.lgb[v] = f.gb[l];
    }
    f.conv = rgb8_to_gray8;
    f.conv_name = "rgb8_to_gray8";
    return true;
  }
  if (plain8 && f.lab && wi.total == 3 && wo.total == 3 && wo.photo == 1 && !f.opt.flags[1]) {
    f.conv = lab8_to_rgb8;
    f.conv_name = "lab8_to_rgb8";
    return true;
  }
  if (plain8 && !f.lab && wi.colors == 4 && (wo.colors == 3 || wo.colors == 1)) {
    f.mul.resize(256 * 256);
    for (uint32_t w = 0; w < 256; ++w)
      for (uint32_t v = 0; v < 256; ++v)
        f.mul[w * 256 + v] = static_cast<uint8_t>(light(v) * (light(w) + f.soft_a) / f.soft_b);
    f.conv = wo.colors == 3 ? rgbw8_to_rgb8 : rgbw8_to_gray8;
    f.conv_name = wo.colors == 3 ? "rgbw8_to_rgb8" : "rgbw8_to_gray8";
    return true;
  }
  (void)M;
  bool in16 = f.dom_in == 16, out16 = f.work_bits == 16;
  if (f.dom_in < 8 && f.dom != f.dom_in) return false;
  if (!in16 && !out16) f.conv = generic<uint8_t, uint8_t>;
  if (!in16 && out16) f.conv = generic<uint8_t, uint16_t>;
  if (in16 && !out16) f.conv = generic<uint16_t, uint8_t>;
  if (in16 && out16) f.conv = generic<uint16_t, uint16_t>;
  f.conv_name = "generic";
  return true;
}

bool convert_spot_colors(FilterPlan& f) {
  plain_weights(f);
  const uint32_t to = f.wo.colors;
  // Only the definitions of spot samples that the output drops are used.
  for (size_t j = f.wo.spots; j < f.wi.spots && j < f.spots.size(); ++j) {
    filter_spot_color& d = f.spots[j];
    const uint32_t depth = d.depth ? static_cast<uint32_t>(d.depth) : 8;
    if (d.channels == 0 || d.channels > 12 || d.depth < 0 || depth > 16 ||
        (d.color_space != 0 && d.color_space != 1 && d.color_space != 3) ||
        (d.color_space == 3 && d.channels != 3)) {
      KLV_LOG(KLV_LOG_ERROR,
              "line filter: spot colour %zu has %u channels of %d bits in colour space %u", j,
              d.channels, d.depth, d.color_space);
      return false;
    }
    const uint32_t top = (1u << depth) - 1;
    uint32_t c[16] = {};
    for (uint32_t k = 0; k < d.channels; ++k) {
      uint32_t v = static_cast<uint32_t>(std::clamp<int32_t>(d.value[k], 0, int32_t(top)));
      v = (v * 255 + top / 2) / top;
      c[k] = d.color_space == 0 ? 255 - v : v;
    }
    uint32_t from = d.channels;
    if (d.color_space == 3) {
      double rgb[3];
      lab_to_rgb_exact(c[0] * 100.0 / 255, double(c[1]) - 128, double(c[2]) - 128, rgb);
      for (int k = 0; k < 3; ++k) c[k] = static_cast<uint32_t>(rgb[k] * 255 + 0.5);
    }
    // A definition in an extended ink set is read in the input's set.
    convert_colors(f, c, from, to, 255, f.wi.hifi, f.wo.hifi);
    for (uint32_t k = 0; k < 12; ++k) d.value[k] = k < to ? static_cast<int32_t>(c[k]) : 0;
    d.depth = 8;
    d.channels = static_cast<uint8_t>(to);
    d.color_space = 1;
  }
  return true;
}

const char* converter_name(const FilterPlan& f) {
  return f.conv_name;
}

}  // namespace klv::img
