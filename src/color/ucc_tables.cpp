// SPDX-License-Identifier: MIT
// Tables of the colour chain records: the natural cubic spline of a curve
// (slope form) and its evaluation, the expansion of 256-entry tables into
// 4,096-entry working tables, and the rebuilding of RGB level, HSV,
// replacement and curve tables from their parameters.
#include <algorithm>
#include <cmath>
#include <vector>

#include "klv/log.h"
#include "ucc_internal.h"

namespace {

uint16_t clamp16(double v) {
  if (v <= 0) return 0;
  if (v >= 65535) return 65535;
  return static_cast<uint16_t>(v);
}

template <typename T>
void interp_lut(uint16_t* out, int32_t n, const T* in, int32_t m, int32_t high) {
  if (!out || !in || n < 1 || m < 1 || high <= 0) return;
  const float scale = 65535.0f / static_cast<float>(high);
  if (m == 1 || n == 1) {
    std::fill(out, out + n, clamp16(static_cast<double>(in[m - 1]) * scale + 0.5));
    return;
  }
  for (int32_t i = 0; i < n - 1; ++i) {
    const float t = static_cast<float>(i) / static_cast<float>(n - 1);
    const float x = t * static_cast<float>(m - 1);
    int32_t k = static_cast<int32_t>(x);
    if (k > m - 2) k = m - 2;
    const float f = x - static_cast<float>(k);
    const float v =
        (f * static_cast<float>(in[k + 1]) + (1 - f) * static_cast<float>(in[k])) * scale;
    out[i] = clamp16(static_cast<double>(v) + 0.5);
  }
  out[n - 1] = clamp16(static_cast<double>(in[m - 1]) * scale + 0.5);
}

int8_t sector_value(const int8_t* sectors, int degree) {
  const int s = degree / 60, next = (s + 1) % 6;
  const double f = (degree % 60) / 60.0;
  return static_cast<int8_t>(std::lround(sectors[s] * (1 - f) + sectors[next] * f));
}

}  // namespace

KLV_API void InterpLut8(uint16_t* out, int32_t n, const uint8_t* in, int32_t m, int32_t,
                        int32_t high) {
  interp_lut(out, n, in, m, high);
}

KLV_API void InterpLut16(uint16_t* out, int32_t n, const uint16_t* in, int32_t m, int32_t,
                         int32_t high) {
  interp_lut(out, n, in, m, high);
}

KLV_API void InterpLutSigned16(uint16_t* out, int32_t n, const int16_t* in, int32_t m, int32_t,
                               int32_t high) {
  interp_lut(out, n, in, m, high);
}

KLV_API int32_t spline(const ucc_point* p, int32_t n, double* m) {
  if (!p || !m || n < 2) return 0;
  for (int32_t i = 0; i + 1 < n; ++i)
    if (!(p[i + 1].x > p[i].x)) {
      KLV_LOG(KLV_LOG_ERROR, "curve: x does not increase at point %d (%g then %g)", i + 1, p[i].x,
              p[i + 1].x);
      return 0;
    }
  // Tridiagonal system a m(i-1) + b m(i) + c m(i+1) = d, solved by elimination.
  std::vector<double> a(n), b(n), c(n), d(n);
  auto h = [&](int32_t i) { return p[i + 1].x - p[i].x; };
  auto s = [&](int32_t i) { return (p[i + 1].y - p[i].y) / h(i); };
  b[0] = 1, c[0] = 0.5, d[0] = 1.5 * s(0);
  for (int32_t i = 1; i + 1 < n; ++i) {
    a[i] = h(i), b[i] = 2 * (h(i - 1) + h(i)), c[i] = h(i - 1);
    d[i] = 3 * (h(i) * s(i - 1) + h(i - 1) * s(i));
  }
  a[n - 1] = 2, b[n - 1] = 4, d[n - 1] = 6 * s(n - 2);
  for (int32_t i = 1; i < n; ++i) {
    const double w = a[i] / b[i - 1];
    b[i] -= w * c[i - 1];
    d[i] -= w * d[i - 1];
  }
  m[n - 1] = d[n - 1] / b[n - 1];
  for (int32_t i = n - 2; i >= 0; --i) m[i] = (d[i] - c[i] * m[i + 1]) / b[i];
  return 1;
}

KLV_API int32_t splint(const ucc_point* p, int32_t n, const double* m, double x, double* y) {
  if (!p || !m || !y || n < 2) return 0;
  x = std::clamp(x, p[0].x, p[n - 1].x);
  int32_t k = 0;
  while (k + 2 < n && x > p[k + 1].x) ++k;
  const double h = p[k + 1].x - p[k].x;
  if (!(h > 0)) return 0;
  const double t = (x - p[k].x) / h, t2 = t * t, t3 = t2 * t;
  *y = (2 * t3 - 3 * t2 + 1) * p[k].y + (t3 - 2 * t2 + t) * h * m[k] +
       (-2 * t3 + 3 * t2) * p[k + 1].y + (t3 - t2) * h * m[k + 1];
  return 1;
}

KLV_API int32_t ucc_calc_curve(ucc_curve* curve) {
  if (!curve || curve->count < 2 || !curve->points) return 0;
  std::vector<double> slopes(static_cast<size_t>(curve->count));
  if (!spline(curve->points, curve->count, slopes.data())) return 0;
  for (int i = 0; i < 256; ++i) {
    double y = 0;
    splint(curve->points, curve->count, slopes.data(), i, &y);
    curve->table[i] = static_cast<int16_t>(std::clamp(std::lround(y), -32768L, 32767L));
  }
  return 1;
}

KLV_API int32_t ucc_calc_rgb(ucc_rgb_levels* r) {
  if (!r) return 0;
  for (int c = 0; c < 4; ++c) {
    int b, w;
    if (c < 3) {
      b = r->enable[0] ? r->black[c] : 0;
      w = r->enable[1] ? 255 - r->white_inv[c] : 255;
    } else {
      b = r->enable[2] ? r->k_black : 0;
      w = r->enable[2] ? 255 - r->k_white_inv : 255;
    }
    for (int i = 0; i < 256; ++i) {
      int v;
      if (i < b)
        v = 0;
      else if (i >= w)
        v = 255;
      else
        v = 255 * (i - b) / (w - b);
      r->tables[c][i] = static_cast<uint8_t>(v);
    }
  }
  return 1;
}

// The saturation and value curves of an HSV record from its two percentages.
void ucc_hsv_curves(ucc_hsv* r) {
  const double gain[2] = {(100.0 + r->saturation) / 100.0, (100.0 + r->value) / 100.0};
  for (int k = 0; k < 2; ++k)
    for (int i = 0; i < 256; ++i)
      r->curves[k][i] = clamp16(i * 257.0 * std::max(0.0, gain[k]) + 0.5);
}

KLV_API int32_t ucc_calc_hsv(ucc_hsv* r) {
  if (!r) return 0;
  for (int h = 0; h < 360; ++h) {
    r->hue_tables[0][h] = static_cast<int16_t>(r->hue + sector_value(r->sector_hue, h));
    r->hue_tables[1][h] = static_cast<int16_t>(
        std::clamp(sector_value(r->sector_saturation, h) * 65535 / 100 / 2, -32768, 32767));
    r->hue_tables[2][h] = 0;
  }
  ucc_hsv_curves(r);
  return 1;
}

KLV_API int32_t ucc_calc_crep(ucc_crep* r) {
  if (!r) return 0;
  for (int32_t i = 0; r->entries && i < r->count; ++i)
    for (ucc_crep_side* s : {&r->entries[i].from, &r->entries[i].to})
      if (!s->values || s->v[2] < 0) s->v[2] = 0;
  return 1;
}
