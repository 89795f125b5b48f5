// SPDX-License-Identifier: MIT
// The kernel's number reader. The extent of the number is scanned here and
// the digits are converted with std::from_chars, which never looks at the
// locale, so "1.5" reads the same under any LC_NUMERIC.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>

#include "klv/kernel_util.h"

namespace {

inline bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}
inline bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// Rough power of ten of a scanned number (digits, point, exponent): positive
// for values of 1 and more, zero or negative below. Only its sign is used.
int64_t decimal_magnitude(const char* p, const char* end) {
  int64_t magnitude = 0;
  bool seen_nonzero = false;
  bool after_point = false;
  for (; p < end && *p != 'e' && *p != 'E'; ++p) {
    if (*p == '.') {
      after_point = true;
    } else if (!seen_nonzero) {
      if (*p != '0') seen_nonzero = true;
      if (after_point && !seen_nonzero) --magnitude;  // a zero after the point
      if (!after_point && seen_nonzero) ++magnitude;
    } else if (!after_point) {
      ++magnitude;
    }
  }
  if (p < end) {  // the exponent, clamped well inside int64
    ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    int64_t e = 0;
    for (; p < end; ++p) e = std::min<int64_t>(e * 10 + (*p - '0'), 1000000000);
    magnitude += negative ? -e : e;
  }
  return magnitude;
}

}  // namespace

extern "C" {

KLV_API double OatofEx(const char* text, const char** end) {
  if (end) *end = text;
  if (!text) return 0.0;
  const char* p = text;
  while (is_blank(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  const char* start = p;  // from_chars takes no sign of its own
  size_t digits = 0;
  while (is_digit(*p)) ++p, ++digits;
  if (*p == '.') {
    ++p;
    while (is_digit(*p)) ++p, ++digits;
  }
  if (digits == 0) return 0.0;
  if (*p == 'e' || *p == 'E') {
    const char* q = p + 1;
    if (*q == '+' || *q == '-') ++q;
    if (is_digit(*q)) {
      while (is_digit(*q)) ++q;
      p = q;
    }
  }
  double value = 0.0;
  auto [ptr, ec] = std::from_chars(start, p, value, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    // from_chars leaves the value alone; the decimal magnitude tells overflow
    // from underflow.
    value = decimal_magnitude(start, p) > 0 ? HUGE_VAL : 0.0;
  } else if (ec != std::errc() || ptr != p) {
    return 0.0;  // cannot happen for a scanned extent; stay safe
  }
  if (end) *end = p;
  return negative ? -value : value;
}

KLV_API int32_t OatoiEx(const char* text, const char** end) {
  if (end) *end = text;
  if (!text) return 0;
  const char* p = text;
  while (is_blank(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  if (!is_digit(*p)) return 0;
  int64_t value = 0;
  const int64_t limit = negative ? -int64_t{INT32_MIN} : INT32_MAX;
  for (; is_digit(*p); ++p) {
    if (value <= limit) value = value * 10 + (*p - '0');
  }
  if (value > limit) value = limit;
  if (end) *end = p;
  return static_cast<int32_t>(negative ? -value : value);
}

}  // extern "C"
