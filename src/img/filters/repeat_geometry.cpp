// SPDX-License-Identifier: MIT
// Sizes, periods and steps of a step-and-repeat page.
#include "img/filters/repeat_geometry.h"

#include <algorithm>
#include <cmath>

namespace klv::img {
namespace {

constexpr double kMaxPixels = 2147483647.0;

bool fits(double v) {
  return std::isfinite(v) && v >= 1.0 && v <= kMaxPixels;
}

// round(v + 0.5) of the settings: v + 0.5 truncated towards minus infinity,
// so that a 0.5 inch gap at 100 pixels per inch is 50 pixels.
int32_t half_up(double v) {
  return static_cast<int32_t>(std::floor(v + 0.5));
}

// The pattern image stretched to the pattern's aspect ratio by enlarging
// its shorter side.
void stretch_to_aspect(const RepeatFilterInfo& s, double* w, double* h) {
  const double image_aspect = *w / *h;
  const double pattern_aspect = s.PatternWidth / s.PatternHeight;
  if (image_aspect > pattern_aspect)
    *h = std::round(*h * image_aspect / pattern_aspect);
  else if (image_aspect < pattern_aspect)
    *w = std::round(*w * pattern_aspect / image_aspect);
}

// The resolution cap shrinks the pixel sizes, never the sizes in inches, so
// that the page keeps its size and its resolution drops to the cap.
void cap_resolution(const RepeatFilterInfo& s, double* pw, double* ph, double* w, double* h) {
  const double d = std::max(s.XRes, s.YRes);
  if (!(d > 0)) return;
  const double sx = std::round(s.PageWidth * d) / *pw;
  const double sy = std::round(s.PageHeight * d) / *ph;
  const double f = std::min(sx, sy);
  if (!(f < 1.0) || !(f > 0)) return;
  *pw = std::max(1.0, std::round(*pw * f));
  *ph = std::max(1.0, std::round(*ph * f));
  *w = std::max(1.0, std::round(*w * f));
  *h = std::max(1.0, std::round(*h * f));
}

void periods(const RepeatFilterInfo& s, RepeatGeometry* g) {
  g->gap_x = half_up(s.GapHorizontal * g->xres);
  g->gap_y = half_up(s.GapVertical * g->yres);
  g->gap_x = std::max(g->gap_x, 1 - g->pattern_w);
  g->gap_y = std::max(g->gap_y, 1 - g->pattern_h);
  g->period_x = g->pattern_w + g->gap_x;
  g->period_y = g->pattern_h + g->gap_y;
  // An overlapped copy is cut where the next one starts; with the swap the
  // earlier copy lies on top, so the later one shows its far part only.
  g->skip_x = (s.SwapHOverlap && g->gap_x < 0) ? -g->gap_x : 0;
  g->skip_y = (s.SwapVOverlap && g->gap_y < 0) ? -g->gap_y : 0;
  g->step_vertical = s.StepVertical != 0;
  const double keep = 1.0 - s.StepAmount;
  const double step = g->step_vertical ? std::floor(double(g->period_y) * keep + 0.5)
                                       : std::floor(double(g->period_x) * keep + 0.5);
  const int64_t period = g->step_vertical ? g->period_y : g->period_x;
  const int64_t st = std::isfinite(step) ? int64_t(std::fmod(step, double(period))) : 0;
  g->step = static_cast<int32_t>(st < 0 ? st + period : st);
  g->col_offset = static_cast<int32_t>(repeat_wrap_offset(s.XOffset) * g->period_x);
  g->row_offset = static_cast<int32_t>(repeat_wrap_offset(s.YOffset) * g->period_y);
  g->flip_h = s.FlipHorizontal != 0;
  g->flip_v = s.FlipVertical != 0;
}

}  // namespace

double repeat_wrap_offset(double v) {
  if (!std::isfinite(v)) return 0;
  v = std::fmod(v, 1.0);  // |v| < 1 already, keeping its sign
  return v;
}

bool repeat_geometry(const RepeatFilterInfo& s, int32_t src_w, int32_t src_h, RepeatGeometry* g) {
  if (src_w < 1 || src_h < 1) return false;
  if (!(s.PageWidth > 0 && s.PageHeight > 0 && s.PatternWidth > 0 && s.PatternHeight > 0))
    return false;
  double w = src_w, h = src_h;
  stretch_to_aspect(s, &w, &h);
  double pw = std::round(w * s.PageWidth / s.PatternWidth);
  double ph = std::round(h * s.PageHeight / s.PatternHeight);
  if (!fits(w) || !fits(h) || !fits(pw) || !fits(ph)) return false;
  cap_resolution(s, &pw, &ph, &w, &h);
  *g = RepeatGeometry{};
  g->pattern_w = int32_t(w);
  g->pattern_h = int32_t(h);
  g->page_w = int32_t(pw);
  g->page_h = int32_t(ph);
  g->xres = pw / s.PageWidth;
  g->yres = ph / s.PageHeight;
  if (!std::isfinite(s.GapHorizontal * g->xres) || !std::isfinite(s.GapVertical * g->yres) ||
      std::fabs(s.GapHorizontal * g->xres) > kMaxPixels / 4 ||
      std::fabs(s.GapVertical * g->yres) > kMaxPixels / 4)
    return false;
  periods(s, g);
  return true;
}

}  // namespace klv::img
