// SPDX-License-Identifier: MIT
// CIELab to RGB for the line filter. The exact conversion (D50 CIELab to XYZ,
// Bradford-adapted to linear sRGB, sRGB encoding) is used at attach time; the
// per-pixel path is table-driven: f(Y) per L value, a/500 and b/200 offsets
// per a and b value, the linear R, G and B share of X, Y and Z per table
// index, and an encoding table indexed by the clamped linear value.
#include <algorithm>
#include <cmath>

#include "img/filter_internal.h"

namespace klv::img {

namespace {

constexpr double kWhiteX = 0.9642, kWhiteZ = 0.8249;
// D50 XYZ to linear sRGB (Bradford-adapted); rows R, G, B; columns X, Y, Z.
constexpr double kToRgb[3][3] = {{3.1338561, -1.6168667, -0.4906146},
                                 {-0.9787684, 1.9161415, 0.0334540},
                                 {0.0719453, -0.2289914, 1.4052427}};

double finv(double t) {
  constexpr double d = 6.0 / 29;
  return t > d ? t * t * t : 3 * d * d * (t - 4.0 / 29);
}

double encode(double v) {
  v = std::clamp(v, 0.0, 1.0);
  return v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
}

// Sample value to L (0..100) and to a or b (-128..127.x).
double lab_l(uint32_t v, uint32_t M) {
  return v * 100.0 / M;
}
double lab_ab(uint32_t v, uint32_t M) {
  return (M == 255 ? double(v) : v / 257.0) - 128.0;
}

}  // namespace

void lab_to_rgb_exact(double L, double a, double b, double rgb[3]) {
  double fy = (L + 16) / 116, fx = fy + a / 500, fz = fy - b / 200;
  double xyz[3] = {kWhiteX * finv(fx), finv(fy), kWhiteZ * finv(fz)};
  for (int c = 0; c < 3; ++c)
    rgb[c] = encode(kToRgb[c][0] * xyz[0] + kToRgb[c][1] * xyz[1] + kToRgb[c][2] * xyz[2]);
}

void LabTables::build(uint32_t bits) {
  max = (1u << bits) - 1;
  scale = bits == 16 ? 32768 : 8192;
  const uint32_t n = max + 1;
  fy.resize(n), fa.resize(n), fb.resize(n);
  for (int c = 0; c < 3; ++c) ylin[c].resize(n);
  int32_t fy_lo = INT32_MAX, fy_hi = INT32_MIN, fa_lo = INT32_MAX, fa_hi = INT32_MIN;
  int32_t fb_lo = INT32_MAX, fb_hi = INT32_MIN;
  for (uint32_t v = 0; v < n; ++v) {
    double L = lab_l(v, max), ab = lab_ab(v, max);
    double y = (L + 16) / 116;
    fy[v] = static_cast<int32_t>(std::lround(y * scale));
    fa[v] = static_cast<int32_t>(std::lround(ab / 500 * scale));
    fb[v] = static_cast<int32_t>(std::lround(ab / 200 * scale));
    fy_lo = std::min(fy_lo, fy[v]), fy_hi = std::max(fy_hi, fy[v]);
    fa_lo = std::min(fa_lo, fa[v]), fa_hi = std::max(fa_hi, fa[v]);
    fb_lo = std::min(fb_lo, fb[v]), fb_hi = std::max(fb_hi, fb[v]);
    double Y = finv(y);
    for (int c = 0; c < 3; ++c)
      ylin[c][v] = static_cast<int32_t>(std::lround(kToRgb[c][1] * Y * 65536));
  }
  // fx = fy + a/500 and fz = fy - b/200 in table units.
  fx_lo = fy_lo + fa_lo;
  fz_lo = fy_lo - fb_hi;
  const int32_t fx_n = fy_hi + fa_hi - fx_lo + 1, fz_n = fy_hi - fb_lo - fz_lo + 1;
  for (int c = 0; c < 3; ++c) xlin[c].resize(fx_n), zlin[c].resize(fz_n);
  for (int32_t i = 0; i < fx_n; ++i) {
    double X = kWhiteX * finv(double(i + fx_lo) / scale);
    for (int c = 0; c < 3; ++c)
      xlin[c][i] = static_cast<int32_t>(std::lround(kToRgb[c][0] * X * 65536));
  }
  for (int32_t i = 0; i < fz_n; ++i) {
    double Z = kWhiteZ * finv(double(i + fz_lo) / scale);
    for (int c = 0; c < 3; ++c)
      zlin[c][i] = static_cast<int32_t>(std::lround(kToRgb[c][2] * Z * 65536));
  }
  enc.resize(65536);
  for (uint32_t i = 0; i < 65536; ++i)
    enc[i] = static_cast<uint16_t>(encode(i / 65535.0) * max + 0.5);
}

void LabTables::convert(uint32_t* c) const {
  const uint32_t L = c[0], a = c[1], b = c[2];
  const int32_t ix = fy[L] + fa[a] - fx_lo, iz = fy[L] - fb[b] - fz_lo;
  for (int k = 0; k < 3; ++k) {
    int32_t lin = ylin[k][L] + xlin[k][ix] + zlin[k][iz];
    c[k] = enc[std::clamp(lin, 0, 65535)];
  }
}

}  // namespace klv::img
