// SPDX-License-Identifier: MIT
#include "printer/nearest.h"

#include <cmath>
#include <cstring>

#include "klv/kernel_util.h"
#include "klv/log.h"
#include "printer/resolution_name.h"
#include "printer/text_util.h"
#include "klv/printmode_cxx.h"

namespace klv::printer {

namespace {

constexpr double kPageTolerance = 0.0001;

}  // namespace

double dimension_inches(const char* text) {
  if (!text) return 0;
  double value = OatofEx(text, nullptr);
  // Message numbers of the unit names, tried in this order, and the divisor
  // that turns a value in that unit into inches.
  static const struct {
    int32_t id;
    double divisor;
  } kUnits[] = {{39, 25.4}, {38, 2.54}, {40, 0.254}, {31, 0.0254}, {219, 0.0254}};
  for (const auto& unit : kUnits) {
    const char* name = klv_message(unit.id);
    if (name && *name && std::strstr(text, name)) return value / unit.divisor;
  }
  return value;
}

int nearest_page_size(const StrList& pages, double width, double height) {
  int best = -1;
  double best_score = 0;
  for (size_t i = 0; i < pages.size(); ++i) {
    const StrArray& p = pages[i];
    if (p.size() < 3) continue;
    double pw = dimension_inches(p[1].c_str());
    double ph = dimension_inches(p[2].c_str());
    if (!(width <= pw + kPageTolerance && height <= ph + kPageTolerance)) continue;
    double score = std::fabs(width - pw) + std::fabs(height - ph);
    if (best < 0 || score < best_score) {
      best = int(i);
      best_score = score;
    }
  }
  if (best >= 0) return best;
  for (size_t i = 0; i < pages.size(); ++i) {
    const StrArray& p = pages[i];
    if (p.size() < 3) continue;
    if (dimension_inches(p[1].c_str()) * dimension_inches(p[2].c_str()) > 0) return int(i);
  }
  return -1;
}

int nearest_resolution(const StrList& resolutions, std::string_view wanted) {
  const bool hash = wanted.find('#') != std::string_view::npos;
  const bool dash = wanted.find('-') != std::string_view::npos;
  const ResolutionName w = parse_resolution_name(wanted);
  auto score = [&](const std::string& name) {
    ResolutionName r = parse_resolution_name(name);
    double s = std::fabs(r.y - w.y) + std::fabs(r.x - w.x);
    if (!hash) s += std::fabs(r.printed_x - w.printed_x) + std::fabs(r.printed_y - w.printed_y);
    return s;
  };
  int best = -1;
  double best_score = 0;
  for (size_t i = 0; i < resolutions.size(); ++i) {
    if (resolutions[i].empty()) continue;
    const std::string& name = resolutions[i][0];
    double s = score(name);
    bool take = best < 0 || s < best_score;
    if (!take && s == best_score && (hash || dash) && iequals(name, wanted)) take = true;
    if (take) {
      best = int(i);
      best_score = s;
    }
  }
  return best;
}

int nearest_mode(const std::vector<CPrintMode>& modes, const CPrintMode& wanted) {
  if (modes.empty()) return -1;
  std::string_view wanted_name = wanted.GetModeName();
  if (!wanted_name.empty())
    for (size_t i = 0; i < modes.size(); ++i)
      if (iequals(modes[i].GetModeName(), wanted_name)) return int(i);

  const std::string wanted_pattern = wanted.GetPatternName();
  std::string_view wanted_res = wanted.GetPrintRes();
  for (size_t i = 0; i < modes.size(); ++i)
    if (iequals(modes[i].GetPrintRes(), wanted_res) &&
        iequals(modes[i].GetPatternName(), wanted_pattern))
      return int(i);

  const bool hash = wanted_res.find('#') != std::string_view::npos;
  const bool dash = wanted_res.find('-') != std::string_view::npos;
  const ResolutionName w = parse_resolution_name(wanted_res);
  auto score = [&](const CPrintMode& m) {
    ResolutionName r = parse_resolution_name(m.GetPrintRes());
    double s = std::fabs(r.x - w.x) + std::fabs(r.y - w.y);
    if (hash) s += std::fabs(r.printed_x - w.printed_x) + std::fabs(r.printed_y - w.printed_y);
    return s;
  };
  int best = 0;
  double best_score = score(modes[0]);
  for (size_t i = 1; i < modes.size(); ++i) {
    double s = score(modes[i]);
    bool take = s < best_score;
    if (!take && s == best_score) {
      if (iequals(modes[i].GetPatternName(), wanted_pattern))
        take = true;
      else if ((!hash || dash) && iequals(modes[i].GetPrintRes(), wanted_res))
        take = true;
    }
    if (take) {
      best = int(i);
      best_score = s;
    }
  }
  return best;
}

}  // namespace klv::printer
