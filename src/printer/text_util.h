// SPDX-License-Identifier: MIT
// Small text helpers shared by the printer files.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include "klv/kernel_util.h"

namespace klv::printer {

// Equality without regard to ASCII letter case (the library's Ostrnicmp);
// other bytes (UTF-8 sequences) compare exactly, so a multi-byte character is
// never split.
inline bool iequals(std::string_view a, std::string_view b) {
  return a.size() == b.size() && Ostrnicmp(a.data(), b.data(), a.size()) == 0;
}

inline std::string_view sv(const char* s) {
  return s ? std::string_view(s) : std::string_view();
}

// Copies text into a caller buffer of size bytes (truncated, terminated).
// Returns out; does nothing when out is null or size is 0.
inline char* copy_out(char* out, size_t size, std::string_view text) {
  if (!out || size == 0) return out;
  size_t n = text.size() < size - 1 ? text.size() : size - 1;
  if (n) std::memcpy(out, text.data(), n);
  out[n] = '\0';
  return out;
}

}  // namespace klv::printer
