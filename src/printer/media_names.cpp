// SPDX-License-Identifier: MIT
// Media name texts: configurations in brackets, special media "*special*media",
// and page dimension values.
#include <cstring>
#include <string>

#include "klv/prntinfo.h"
#include "printer/nearest.h"
#include "printer/resolution_name.h"

namespace {

void put(char* out, const std::string& text) {
  if (out) std::memcpy(out, text.c_str(), text.size() + 1);
}

}  // namespace

extern "C" {

KLV_API void prntinfo_split_media_config(const char* text, char* config, char* media) {
  std::string m, c;
  bool inside = false, group_text = false, after_group = false;
  for (const char* p = text ? text : ""; *p; ++p) {
    char ch = *p;
    if (inside) {
      if (ch == ']') {
        inside = false;
        after_group = true;
        continue;
      }
      if (!group_text && !c.empty()) c += ", ";
      group_text = true;
      c += ch;
      continue;
    }
    if (ch == '[') {
      inside = true;
      group_text = false;
      continue;
    }
    if (after_group && ch == ' ' && !m.empty() && m.back() == ' ') {
      after_group = false;
      continue;
    }
    after_group = false;
    m += ch;
  }
  if (after_group && !m.empty() && m.back() == ' ') m.pop_back();
  put(config, c);
  put(media, m);
}

KLV_API char* make_special_media(char* out, const char* special, const char* media) {
  if (!out) return out;
  std::string s = "*";
  if (special) s += special;
  s += '*';
  if (media) s += media;
  put(out, s);
  return out;
}

KLV_API void split_special_media(const char* name, char* special, char* media) {
  std::string n = name ? name : "";
  if (n.empty() || n[0] != '*') {
    put(special, "");
    put(media, n);
    return;
  }
  size_t second = n.find('*', 1);
  if (second == std::string::npos) {
    put(special, "");
    put(media, n.substr(1));
    return;
  }
  put(special, n.substr(1, second - 1));
  put(media, n.substr(second + 1));
}

KLV_API const char* get_special_media_resolution(const char* media, const char* resolution) {
  if (!media || media[0] != '*' || !resolution) return resolution;
  const char* at = std::strchr(resolution, '@');
  if (!at) return resolution;
  auto r = klv::printer::parse_resolution_name(resolution);
  if (r.x == r.print_x && r.y == r.print_y) return resolution;
  return at + 1;
}

KLV_API double prntinfo_dimension(const char* text) {
  try {
    return klv::printer::dimension_inches(text);
  } catch (...) {
    return 0;
  }
}

}  // extern "C"
