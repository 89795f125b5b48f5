// SPDX-License-Identifier: MIT
// Profile library keys: fields joined by "~", their comparison (exact for
// keeping the lists sorted, partial for lookups), and the PI_ key functions.
#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "klv/printmode.h"
#include "proflib/proflib_index.h"

namespace klv::proflib {

void copy_text(char* out, size_t size, const std::string& text) {
  if (!out || !size) return;
  size_t n = text.size() < size - 1 ? text.size() : size - 1;
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

bool split_fields(const std::string& text, Key& out) {
  out.clear();
  size_t begin = 0;
  for (;;) {
    size_t tilde = text.find('~', begin);
    std::string field = text.substr(begin, tilde == std::string::npos ? tilde : tilde - begin);
    if (field.size() > kFieldMax) return false;
    out.push_back(std::move(field));
    if (tilde == std::string::npos) return true;
    begin = tilde + 1;
  }
}

std::string join_fields(const Key& key) {
  std::string text;
  for (size_t i = 0; i < key.size(); ++i) {
    if (i) text += '~';
    text += key[i];
  }
  return text;
}

bool clean_field(const char* in, std::string& out) {
  out.clear();
  for (const char* p = in ? in : ""; *p; ++p)
    if (*p != '~') out += *p;
  return out.size() <= kFieldMax;
}

std::string pattern_field(const char* pattern) {
  if (!pattern || !*pattern) return {};
  std::string text;
  if (!clean_field(pattern, text)) return std::string(kFieldMax + 1, 'x');
  // A pattern given as its number ("3", "3-85") is kept as it stands.
  if (std::isdigit(static_cast<unsigned char>(text[0]))) return text;
  char option[PL_FIELD_MAX] = {};
  get_pattern_opt(option, sizeof option, text.c_str());
  std::string field = std::to_string(get_pattern_num(text.c_str()));
  if (option[0]) field += std::string("-") + option;
  return field;
}

std::string pattern_text(const std::string& field) {
  if (field.empty() || !std::isdigit(static_cast<unsigned char>(field[0]))) return field;
  size_t dash = field.find('-');
  int32_t number = std::atoi(field.substr(0, dash).c_str());
  std::string option = dash == std::string::npos ? std::string() : field.substr(dash + 1);
  char out[PL_FIELD_MAX + 8] = {};
  get_pattern_str(out, sizeof out, number, option.c_str());
  return out;
}

std::string type_field(int64_t type) {
  if (type < 0) return {};
  char text[16];
  std::snprintf(text, sizeof text, "%lX", static_cast<unsigned long>(type & 0xffffffffu));
  return text;
}

int compare_partial(const Key& a, const Key& b) {
  for (size_t i = 0; i < a.size(); ++i) {
    if (i >= b.size()) return 1;
    if (a[i].empty()) continue;
    int c = strcasecmp(a[i].c_str(), b[i].c_str());
    if (c) return c;
  }
  return 0;
}

int compare_exact(const Key& a, const Key& b) {
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    int c = strcasecmp(a[i].c_str(), b[i].c_str());
    if (c) return c;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

bool make_entry_key(Key& out, const char* media, const char* setting, const char* third,
                    int32_t type, const char* name, bool pattern) {
  out.assign(5, std::string());
  if (!clean_field(media, out[0]) || !clean_field(setting, out[1])) return false;
  if (pattern) {
    out[2] = pattern_field(third);
    if (out[2].size() > kFieldMax) return false;
  } else if (!clean_field(third, out[2])) {
    return false;
  }
  out[3] = type_field(type);
  return clean_field(name, out[4]);
}

bool make_default_key(Key& out, const char* media, const char* setting, const char* pattern) {
  out.assign(3, std::string());
  if (!clean_field(media, out[0]) || !clean_field(setting, out[1])) return false;
  out[2] = pattern_field(pattern);
  return out[2].size() <= kFieldMax;
}

}  // namespace klv::proflib

using namespace klv::proflib;

namespace {

int32_t write_key(char* out, const Key& key) {
  if (!out) return 0;
  std::string text = join_fields(key);
  if (text.size() >= PL_KEY_MAX) {
    out[0] = '\0';
    return 0;
  }
  copy_text(out, PL_KEY_MAX, text);
  return 1;
}

void put_field(char* out, const Key& key, size_t i) {
  if (out) copy_text(out, PL_FIELD_MAX, i < key.size() ? key[i] : std::string());
}

int32_t split_five(const char* key, char* a, char* b, char* c, int32_t* type, char* name,
                   bool pattern) {
  Key k;
  if (!key || !split_fields(key, k) || k.size() > 5) return 0;
  put_field(a, k, 0);
  put_field(b, k, 1);
  if (c) copy_text(c, PL_FIELD_MAX, pattern && k.size() > 2 ? pattern_text(k[2]) : "");
  if (c && !pattern) put_field(c, k, 2);
  if (type) *type = k.size() > 3 ? PI_map_type(k[3].c_str()) : -1;
  put_field(name, k, 4);
  return 1;
}

}  // namespace

KLV_API int32_t PI_make_key(char* out, const char* media, const char* setting, const char* pattern,
                            int32_t type, const char* name) {
  Key key;
  if (!make_entry_key(key, media, setting, pattern, type, name, true)) {
    if (out) out[0] = '\0';
    return 0;
  }
  return write_key(out, key);
}

KLV_API int32_t PI_make_model_key(char* out, const char* media, const char* setting,
                                  const char* third, int32_t type, const char* name) {
  Key key;
  if (!make_entry_key(key, media, setting, third, type, name, false)) {
    if (out) out[0] = '\0';
    return 0;
  }
  return write_key(out, key);
}

KLV_API int32_t PI_make_reference_key(char* out, const char* a, const char* b, const char* c,
                                      const char* d) {
  Key key(4);
  const char* in[4] = {a, b, c, d};
  for (int i = 0; i < 4; ++i)
    if (!clean_field(in[i], key[i])) {
      if (out) out[0] = '\0';
      return 0;
    }
  while (key.size() > 1 && key.back().empty() && !d) key.pop_back();
  return write_key(out, key);
}

KLV_API int32_t PI_split_key(const char* key, char* media, char* setting, char* pattern,
                             int32_t* type, char* name) {
  return split_five(key, media, setting, pattern, type, name, true);
}

KLV_API int32_t PI_split_model_key(const char* key, char* media, char* setting, char* third,
                                   int32_t* type, char* name) {
  return split_five(key, media, setting, third, type, name, false);
}

KLV_API int32_t PI_split_reference_key(const char* key, char* a, char* b, char* c, char* d) {
  Key k;
  if (!key || !split_fields(key, k) || k.size() > 4) return 0;
  put_field(a, k, 0);
  put_field(b, k, 1);
  put_field(c, k, 2);
  put_field(d, k, 3);
  return 1;
}

KLV_API int32_t PI_compare_keys(const char* a, const char* b) {
  Key ka, kb;
  split_fields(a ? a : "", ka);
  split_fields(b ? b : "", kb);
  int c = compare_partial(ka, kb);
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

KLV_API int32_t PI_map_type(const char* text) {
  if (!text) return -1;
  while (*text == ' ') ++text;
  if (!std::isxdigit(static_cast<unsigned char>(*text))) return -1;
  char* end = nullptr;
  unsigned long v = std::strtoul(text, &end, 16);
  if (*end || v > 0x7fffffffUL) return -1;
  return static_cast<int32_t>(v);
}
