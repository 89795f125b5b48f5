// SPDX-License-Identifier: MIT
#include "job/usage_names.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "klv/log.h"

namespace klv::usage {

std::string media_name(const char* name) {
  if (!name) return {};
  // What follows a tag is the media name; should it begin with '*' itself,
  // that is taken as a tag too, so that a stored name never begins with '*'
  // and reads back as the same media.
  while (name[0] == '*') {
    const char* second = std::strchr(name + 1, '*');
    name = second ? second + 1 : name + 1;
  }
  return name;
}

std::string quotable(const std::string& name) {
  if (name.find('"') == std::string::npos) return name;
  KLV_LOG(KLV_LOG_WARNING, "usage name \"%s\" holds a double quote; written with an apostrophe",
          name.c_str());
  std::string out = name;
  for (char& c : out)
    if (c == '"') c = '\'';
  return out;
}

std::string fixed15(double value) {
  // The largest double has 309 digits before the point.
  char buf[400];
  auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 15);
  if (r.ec != std::errc()) return "0.000000000000000";
  std::string out(buf, r.ptr);
  // A negative amount too small to show is written as zero: "-0.000..."
  // would read back as zero and then be written without its sign.
  if (out[0] == '-' && out.find_first_of("123456789") == std::string::npos) out.erase(0, 1);
  return out;
}

namespace {

template <typename T>
bool read_whole(const char* text, T* value) {
  if (!text || !*text) return false;
  const char* end = text + std::strlen(text);
  // from_chars takes no leading '+'; the writers never put one.
  auto r = std::from_chars(text, end, *value);
  return r.ec == std::errc() && r.ptr == end;
}

}  // namespace

bool read_amount(const char* text, double* value) {
  return read_whole(text, value) && std::isfinite(*value);
}

bool read_count(const char* text, uint64_t* value) {
  return read_whole(text, value);
}

bool read_number(const char* text, int32_t* value) {
  return read_whole(text, value);
}

}  // namespace klv::usage
