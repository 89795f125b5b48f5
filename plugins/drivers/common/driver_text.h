// SPDX-License-Identifier: MIT
// Small text helpers shared by the driver libraries that ship with the project.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "klv/printer_plugin.h"

namespace klvdrv {

// A job name usable as a file name: separators and control characters become
// '_', and an empty or dot-only name becomes "job".
inline std::string file_stem(const char* name) {
  std::string stem = name ? name : "";
  for (auto& c : stem)
    if (c == '/' || c == '\\' || c == ':' || static_cast<unsigned char>(c) < 32) c = '_';
  if (stem.empty() || stem == "." || stem == "..") stem = "job";
  return stem;
}

// Copies a driver's text into a caller's buffer of `size` bytes.
inline int32_t copy_text_out(const std::string& text, char* out, int32_t size) {
  if (!out || size <= 0) return SP_ERR_ARGUMENT;
  std::snprintf(out, static_cast<size_t>(size), "%s", text.c_str());
  return 0;
}

// Sets a driver's port from a caller's text; an empty port is refused.
inline int32_t set_port_text(std::string& port, const char* text) {
  if (!text || !*text) return SP_ERR_ARGUMENT;
  port = text;
  return 0;
}

}  // namespace klvdrv
