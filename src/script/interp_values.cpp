// SPDX-License-Identifier: MIT
// Variables: naming them by tokens, reading values, and the built-in
// commands DimVal, DimStr, Store, Fetch, Or and Not.
#include <algorithm>
#include <cstdio>
#include <new>
#include <string>

#include "klv/kernel_util.h"
#include "script/interp_internal.h"

namespace {

using klv::script::fault;
using klv::script::flatten;

// The number after a one-letter prefix (when `prefix` is set, one of its two
// letters must lead), or -1 when the rest is not all digits.
int32_t index_after(const char* token, const char* prefix) {
  if (!token) return -1;
  if (prefix) {
    if (*token != prefix[0] && *token != prefix[1]) return -1;
    ++token;
  } else if (*token == 'v' || *token == 'V') {
    ++token;
  }
  if (!*token) return -1;
  int64_t n = 0;
  for (; *token; ++token) {
    if (*token < '0' || *token > '9') return -1;
    n = n * 10 + (*token - '0');
    if (n > INT32_MAX) return -1;
  }
  return static_cast<int32_t>(n);
}

// Cuts text to at most `bytes` bytes without splitting a UTF-8 character.
size_t cut_length(const char* text, size_t length, size_t bytes) {
  if (length <= bytes) return length;
  size_t n = bytes;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return n;
}

int32_t grow_numbers(INTERP* ip, int32_t n, int32_t line) {
  if (n <= static_cast<int32_t>(ip->numbers.size())) return 1;
  if (n > ip->limits.max_numbers)
    return fault(ip, line, "DimVal asks for %d numeric variables (at most %d)", n,
                 ip->limits.max_numbers);
  try {
    ip->numbers.resize(static_cast<size_t>(n), 0);
    return 1;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

// Checks a DimStr request against the limits; false (with a fault) beyond them.
bool strings_fit(INTERP* ip, int64_t count, int64_t length, int32_t line) {
  const INTERP_LIMITS& l = ip->limits;
  if (count > l.max_strings)
    return fault(ip, line, "DimStr asks for %lld string variables (at most %d)",
                 static_cast<long long>(count), l.max_strings);
  if (length > l.max_string_length)
    return fault(ip, line, "DimStr asks for strings of %lld bytes (at most %d)",
                 static_cast<long long>(length), l.max_string_length);
  if (count * length > l.max_string_bytes)
    return fault(ip, line, "DimStr asks for %lld bytes of strings (at most %lld)",
                 static_cast<long long>(count * length),
                 static_cast<long long>(l.max_string_bytes));
  return true;
}

int32_t list_line(const INTERP_LIST* args) {
  return args ? args->line : 0;
}

int32_t store_string(INTERP* ip, int32_t n, const char* src) {
  if (n >= static_cast<int32_t>(ip->strings.size()) || ip->str_length <= 0) return 0;
  if (src[0] == '\\') {
    const int32_t m = index_after(src + 1, "vV");
    if (m >= 0 && m < static_cast<int32_t>(ip->numbers.size())) {
      char text[16];
      std::snprintf(text, sizeof text, "%d", ip->numbers[m]);
      interp_set_str(ip, n, text);
    }
    return 1;
  }
  interp_set_str(ip, n, src);
  return 1;
}

}  // namespace

extern "C" {

int32_t interp_getindex(const char* token) {
  return index_after(token, nullptr);
}

int32_t interp_str_index(const char* token) {
  return index_after(token, "sS");
}

int32_t interp_sget_num(const INTERP* ip, const char* token) {
  if (!ip || !token) return 0;
  const int32_t s = index_after(token, "sS");
  if (s >= 0)
    return s < static_cast<int32_t>(ip->strings.size()) ? OatoiEx(ip->strings[s].c_str(), nullptr)
                                                        : 0;
  const int32_t v = index_after(token, "vV");
  if (v >= 0) return v < static_cast<int32_t>(ip->numbers.size()) ? ip->numbers[v] : 0;
  return OatoiEx(token, nullptr);
}

int32_t* interp_sget_val_ptr(INTERP* ip, const char* token) {
  if (!ip) return nullptr;
  const int32_t n = interp_getindex(token);
  return n >= 0 && n < static_cast<int32_t>(ip->numbers.size()) ? &ip->numbers[n] : nullptr;
}

int32_t interp_eget_num(const INTERP* ip, const INTERP_ELEM* elem) {
  return elem && elem->token ? interp_sget_num(ip, elem->token) : 0;
}

int32_t* interp_eget_val_ptr(INTERP* ip, const INTERP_ELEM* elem) {
  return elem && elem->token ? interp_sget_val_ptr(ip, elem->token) : nullptr;
}

int32_t interp_str_count(const INTERP* ip) {
  return ip ? static_cast<int32_t>(ip->strings.size()) : 0;
}

int32_t interp_str_length(const INTERP* ip) {
  return ip ? ip->str_length : 0;
}

int32_t interp_val_count(const INTERP* ip) {
  return ip ? static_cast<int32_t>(ip->numbers.size()) : 0;
}

const char* interp_get_str(const INTERP* ip, int32_t n) {
  if (!ip || n < 0 || n >= static_cast<int32_t>(ip->strings.size())) return nullptr;
  return ip->strings[n].c_str();
}

int32_t interp_set_str(INTERP* ip, int32_t n, const char* text) {
  if (!ip || !text || n < 0 || n >= static_cast<int32_t>(ip->strings.size()) || ip->str_length < 1)
    return 0;
  const size_t length = std::char_traits<char>::length(text);
  try {
    ip->strings[n].assign(text, cut_length(text, length, static_cast<size_t>(ip->str_length - 1)));
    return 1;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

int32_t interp_dimval_func(const INTERP_LIST* args, int32_t, INTERP* ip) {
  if (!ip) return 0;
  const auto a = flatten(args);
  if (a.empty()) return 0;
  return grow_numbers(ip, interp_sget_num(ip, a[0]), list_line(args));
}

int32_t interp_dimstr_func(const INTERP_LIST* args, int32_t, INTERP* ip) {
  if (!ip) return 0;
  const auto a = flatten(args);
  if (a.size() < 2) return 0;
  const int32_t count = interp_sget_num(ip, a[0]);
  const int32_t length = std::max(interp_sget_num(ip, a[1]), ip->str_length);
  if (length < 1) return 1;
  const int64_t total = std::max<int64_t>(count, static_cast<int64_t>(ip->strings.size()));
  if (!strings_fit(ip, total, length, list_line(args))) return 0;
  ip->str_length = length;
  try {
    if (count > static_cast<int32_t>(ip->strings.size()))
      ip->strings.resize(static_cast<size_t>(count));
    for (auto& s : ip->strings) s.reserve(static_cast<size_t>(length));
  } catch (const std::bad_alloc&) {
    return 0;
  }
  return 1;
}

int32_t interp_store_func(const INTERP_LIST* args, int32_t, INTERP* ip) {
  if (!ip) return 0;
  const auto a = flatten(args);
  if (a.size() < 2) return 0;
  const int32_t s = interp_str_index(a[0]);
  if (s >= 0) return store_string(ip, s, a[1]);
  int32_t* v = interp_sget_val_ptr(ip, a[0]);
  if (!v) return 0;
  *v = interp_sget_num(ip, a[1]);
  return 1;
}

int32_t interp_fetch_func(const INTERP_LIST* args, int32_t, INTERP* ip) {
  if (!ip) return -1;
  const auto a = flatten(args);
  if (a.empty()) return -1;
  const int32_t s = interp_str_index(a[0]);
  if (s >= 0)
    return s < static_cast<int32_t>(ip->strings.size()) ? OatoiEx(ip->strings[s].c_str(), nullptr)
                                                        : -1;
  const int32_t* v = interp_sget_val_ptr(ip, a[0]);
  return v ? *v : -1;
}

int32_t interp_or_func(const INTERP_LIST* args, int32_t, INTERP* ip) {
  if (!ip || !args) return 0;
  for (int32_t i = 0; i < args->count && !ip->faulted; ++i)
    if (args->elems[i].list && interp_list(ip, args->elems[i].list, 1)) return 1;
  return 0;
}

int32_t interp_not_func(const INTERP_LIST* args, int32_t, INTERP* ip) {
  if (!ip) return 0;
  const int32_t holds = interp_list(ip, args, 1);
  return !holds && !ip->faulted;
}

}  // extern "C"
