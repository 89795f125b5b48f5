// SPDX-License-Identifier: MIT
// The print mode value and the pattern table.
#include "klv/printmode.h"

#include <string>

#include "printer/resolution_name.h"
#include "printer/text_util.h"
#include "klv/printmode_cxx.h"

using klv::printer::copy_out;
using klv::printer::sv;

namespace {

const char* const kPatternNames[KLV_DOT_PATTERN_COUNT] = {
    "FDRP Diffusion", "FDRP Line", "FDRP Plus",    "Ordered Dither", "Screen",
    "Stochastic",     "Halftone",  "Contone",      "Line Screen",    "Smooth Screen",
    "Custom",         "OEM",       "FDRP Enhanced"};

std::string pattern_text(int32_t pattern, std::string_view option) {
  if (pattern < 0 || pattern >= KLV_DOT_PATTERN_COUNT) return "Stochastic";
  std::string out = kPatternNames[pattern];
  if (!option.empty()) {
    out += '(';
    out.append(option);
    out += ')';
  }
  return out;
}

int32_t pattern_number(std::string_view text) {
  std::string_view name = text.substr(0, text.find('('));
  for (int32_t i = 0; i < KLV_DOT_PATTERN_COUNT; ++i)
    if (klv::printer::iequals(name, kPatternNames[i])) return i;
  return DP_STOCHASTIC;
}

std::string pattern_option(std::string_view text) {
  size_t open = text.find('(');
  if (open == std::string_view::npos) return {};
  std::string_view opt = text.substr(open + 1);
  if (!opt.empty() && opt.back() == ')') opt.remove_suffix(1);
  return std::string(opt);
}

std::string mode_name(std::string_view pattern_txt, const char* resolution) {
  std::string out = klv::printer::rounded_resolution_text(sv(resolution));
  out += " dpi, ";
  out.append(pattern_txt);
  return out;
}

}  // namespace

CPrintMode::CPrintMode() {
  Set(static_cast<const char*>(nullptr));
}

CPrintMode::CPrintMode(int32_t pattern, const char* option, const char* resolution,
                       const char* name) {
  Set(pattern, option, resolution, name);
}

CPrintMode::CPrintMode(const char* pattern_text, const char* resolution, const char* name) {
  Set(pattern_text, resolution, name);
}

CPrintMode::CPrintMode(const char* name) {
  Set(name);
}

CPrintMode::~CPrintMode() = default;

void CPrintMode::Set(int32_t pattern, const char* option, const char* resolution,
                     const char* name) {
  m_pattern = pattern;
  m_option = option ? option : "";
  m_res = resolution ? resolution : "";
  if (name && *name)
    m_name = name;
  else
    m_name = MakeName(pattern, option, resolution);
}

void CPrintMode::Set(const char* pattern_text, const char* resolution, const char* name) {
  Set(pattern_number(sv(pattern_text)), pattern_option(sv(pattern_text)).c_str(), resolution, name);
}

void CPrintMode::Set(const char* name) {
  std::string pattern, option, res;
  if (name && SplitName(name, &pattern, &option, &res)) {
    m_name = name;
    m_pattern = pattern_number(pattern);
    m_option = option;
    m_res = res;
    return;
  }
  m_name = name ? name : "Unknown dpi, Stochastic";
  m_pattern = DP_STOCHASTIC;
  m_option.clear();
  m_res = "Unknown";
}

char* CPrintMode::MakeName(char* out, size_t size, int32_t pattern, const char* option,
                           const char* resolution) {
  return copy_out(out, size, MakeName(pattern, option, resolution));
}

char* CPrintMode::MakeName(char* out, size_t size, const char* pattern_txt,
                           const char* resolution) {
  return copy_out(out, size, mode_name(sv(pattern_txt), resolution));
}

std::string CPrintMode::MakeName(int32_t pattern, const char* option, const char* resolution) {
  return mode_name(pattern_text(pattern, sv(option)), resolution);
}

bool CPrintMode::SplitName(const char* name, std::string* pattern_txt, std::string* option,
                           std::string* resolution) {
  if (!name || !*name) return false;
  std::string_view n(name);
  size_t at = n.find(" dpi, ", 1);
  if (at == std::string_view::npos) return false;
  std::string_view pat = n.substr(at + 6);
  if (resolution) *resolution = std::string(n.substr(0, at));
  if (pattern_txt) *pattern_txt = std::string(pat);
  if (option) *option = pattern_option(pat);
  return true;
}

std::string CPrintMode::GetPatternName() const {
  return pattern_text(m_pattern, m_option);
}

char* CPrintMode::GetPatternName(char* out, size_t size) const {
  return copy_out(out, size, GetPatternName());
}

std::string CPrintMode::GetDisplayRes() const {
  return klv::printer::rounded_resolution_text(m_res);
}

char* CPrintMode::GetDisplayRes(char* out, size_t size) const {
  return copy_out(out, size, GetDisplayRes());
}

double CPrintMode::GetProcessXRes() const {
  return klv::printer::parse_resolution_name(m_res).x;
}
double CPrintMode::GetProcessYRes() const {
  return klv::printer::parse_resolution_name(m_res).y;
}
double CPrintMode::GetPrintXRes() const {
  return klv::printer::parse_resolution_name(m_res).print_x;
}
double CPrintMode::GetPrintYRes() const {
  return klv::printer::parse_resolution_name(m_res).print_y;
}
double CPrintMode::GetPrintedXRes() const {
  return klv::printer::parse_resolution_name(m_res).printed_x;
}
double CPrintMode::GetPrintedYRes() const {
  return klv::printer::parse_resolution_name(m_res).printed_y;
}

extern "C" {

KLV_API const char* printmode_name(const CPrintMode* mode) {
  return mode ? mode->GetModeName() : "";
}

KLV_API const char* printmode_res(const CPrintMode* mode) {
  return mode ? mode->GetPrintRes() : "";
}

KLV_API int32_t printmode_pattern(const CPrintMode* mode) {
  return mode ? mode->GetDotPattern() : 0;
}

KLV_API const char* printmode_pattern_opt(const CPrintMode* mode) {
  return mode ? mode->GetPatternOpt() : "";
}

KLV_API char* get_printmode_name(char* out, int32_t size, int32_t pattern, const char* option,
                                 const char* resolution) {
  if (!out || size <= 0) return out;
  try {
    return CPrintMode::MakeName(out, size_t(size), pattern, option, resolution);
  } catch (...) {
    out[0] = '\0';
    return out;
  }
}

KLV_API char* get_pattern_str(char* out, int32_t size, int32_t pattern, const char* option) {
  if (!out || size <= 0) return out;
  try {
    return copy_out(out, size_t(size), pattern_text(pattern, sv(option)));
  } catch (...) {
    out[0] = '\0';
    return out;
  }
}

KLV_API int32_t get_pattern_num(const char* text) {
  return pattern_number(sv(text));
}

KLV_API char* get_pattern_opt(char* out, int32_t size, const char* text) {
  if (!out || size <= 0) return out;
  try {
    return copy_out(out, size_t(size), pattern_option(sv(text)));
  } catch (...) {
    out[0] = '\0';
    return out;
  }
}

KLV_API const char* get_pattern_name(int32_t pattern) {
  return pattern >= 0 && pattern < KLV_DOT_PATTERN_COUNT ? kPatternNames[pattern] : nullptr;
}

KLV_API char* get_rounded_res_string(char* out, int32_t size, const char* resolution) {
  if (!out || size <= 0) return out;
  try {
    return copy_out(out, size_t(size), klv::printer::rounded_resolution_text(sv(resolution)));
  } catch (...) {
    out[0] = '\0';
    return out;
  }
}

}  // extern "C"
