// SPDX-License-Identifier: MIT
#include "printer/resolution_name.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace klv::printer {

namespace {

size_t find_x(std::string_view s) {
  for (size_t i = 0; i < s.size(); ++i)
    if (s[i] == 'x' || s[i] == 'X') return i;
  return std::string_view::npos;
}

// Number after the first "x" of s, or the number at its start.
double second_number(std::string_view s) {
  size_t x = find_x(s);
  return x == std::string_view::npos ? leading_number(s) : leading_number(s.substr(x + 1));
}

unsigned long round_half_up(double v) {
  if (!(v > 0)) return 0;
  if (v >= 4.0e18) return 0;
  return static_cast<unsigned long>(std::floor(v + 0.5));
}

}  // namespace

double leading_number(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (i < text.size() && text[i] == '+') ++i;
  double v = 0;
  auto r = std::from_chars(text.data() + i, text.data() + text.size(), v, std::chars_format::fixed);
  if (r.ec != std::errc() || !std::isfinite(v)) return 0;
  return v;
}

ResolutionName parse_resolution_name(std::string_view name) {
  ResolutionName r;
  r.x = leading_number(name);
  size_t at = name.find('@');
  size_t hash = name.find('#');
  std::string_view head = name.substr(0, at != std::string_view::npos ? at : hash);
  size_t x = find_x(head);
  if (x != std::string_view::npos) r.y = leading_number(head.substr(x + 1));
  if (r.y == 0) r.y = r.x;

  std::string_view printed = at != std::string_view::npos ? name.substr(at + 1) : name;
  size_t ph = printed.find('#');
  if (ph != std::string_view::npos) printed = printed.substr(ph + 1);
  if (at == std::string_view::npos && hash == std::string_view::npos) {
    r.printed_x = r.x;
  } else {
    r.printed_x = leading_number(printed);
  }
  r.printed_y = second_number(printed);

  if (at != std::string_view::npos) {
    std::string_view after = name.substr(at + 1);
    r.print_x = leading_number(after);
    size_t ax = find_x(after);
    r.print_y = ax == std::string_view::npos ? r.print_x : leading_number(after.substr(ax + 1));
  } else {
    r.print_x = r.x;
    r.print_y = r.y;
  }
  return r;
}

std::string rounded_resolution_text(std::string_view name) {
  ResolutionName r = parse_resolution_name(name);
  unsigned long X = round_half_up(r.x), Y = round_half_up(r.y);
  std::string_view tail = name;
  size_t hash = name.find('#');
  if (hash != std::string_view::npos) tail = name.substr(hash + 1);
  unsigned long P = X, Q = Y;
  size_t at = tail.find('@');
  if (at != std::string_view::npos) {
    std::string_view after = tail.substr(at + 1);
    P = round_half_up(leading_number(after));
    size_t ax = find_x(after);
    Q = ax == std::string_view::npos ? P : round_half_up(leading_number(after.substr(ax + 1)));
  }
  char buf[96];
  if (X == Y)
    std::snprintf(buf, sizeof buf, "%lu", X);
  else
    std::snprintf(buf, sizeof buf, "%lux%lu", X, Y);
  std::string out = buf;
  if (X != P || Y != Q) {
    if (P == Q)
      std::snprintf(buf, sizeof buf, "@%lu", P);
    else
      std::snprintf(buf, sizeof buf, "@%lux%lu", P, Q);
    out += buf;
  }
  size_t dash = name.find('-');
  if (dash != std::string_view::npos) out.append(name.substr(dash));
  return out;
}

}  // namespace klv::printer
