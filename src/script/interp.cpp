// SPDX-License-Identifier: MIT
// The interpreter object: creation, limits, faults and command lookup.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <new>

#include "klv/kernel_util.h"
#include "klv/log.h"
#include "script/interp_internal.h"

namespace {

constexpr INTERP_LIMITS kDefaultLimits = {
    1000000,   // steps
    64,        // depth
    65536,     // numeric variables
    4096,      // string variables
    65536,     // bytes per string buffer
    16 << 20,  // bytes of all string buffers
    16 << 20,  // bytes of the tokens of one block
};

bool name_less(const INTERP_CMD& a, const INTERP_CMD& b) {
  return Ostricmp(a.name ? a.name : "", b.name ? b.name : "") < 0;
}

}  // namespace

namespace klv::script {

bool fault(INTERP* ip, int32_t line, const char* format, ...) {
  if (ip->faulted) return false;
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  ip->faulted = true;
  ip->fault_line = line;
  ip->fault = "line " + std::to_string(line) + ": " + text;
  KLV_LOG(KLV_LOG_ERROR, "script stopped at %s", ip->fault.c_str());
  return false;
}

bool step(INTERP* ip, int32_t line) {
  if (ip->faulted) return false;
  if (++ip->steps > ip->limits.max_steps)
    return fault(ip, line, "the script ran more than %lld steps",
                 static_cast<long long>(ip->limits.max_steps));
  return true;
}

const INTERP_CMD* find_command(const INTERP* ip, const char* name) {
  if (!name) return nullptr;
  size_t lo = 0, hi = ip->table.size();
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    const int32_t c = Ostricmp(name, ip->table[mid].name);
    if (c == 0) return &ip->table[mid];
    if (c < 0)
      hi = mid;
    else
      lo = mid + 1;
  }
  return nullptr;
}

}  // namespace klv::script

extern "C" {

INTERP* interp_attach(SFPARSE* fp, const INTERP_CMD* table, int32_t count, void* host) {
  if (count < 0 || (count > 0 && !table)) return nullptr;
  try {
    auto* ip = new INTERP;
    ip->fp = fp;
    ip->host = host;
    ip->limits = kDefaultLimits;
    for (int32_t i = 0; i < count; ++i)
      if (table[i].name) ip->table.push_back(table[i]);
    std::stable_sort(ip->table.begin(), ip->table.end(), name_less);
    return ip;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

int32_t interp_free(INTERP* ip) {
  delete ip;
  return 0;
}

void* interp_host(const INTERP* ip) {
  return ip ? ip->host : nullptr;
}

int32_t interp_set_limits(INTERP* ip, const INTERP_LIMITS* limits) {
  if (!ip || !limits) return 0;
  INTERP_LIMITS& l = ip->limits;
  if (limits->max_steps > 0) l.max_steps = limits->max_steps;
  if (limits->max_depth > 0) l.max_depth = limits->max_depth;
  if (limits->max_numbers > 0) l.max_numbers = limits->max_numbers;
  if (limits->max_strings > 0) l.max_strings = limits->max_strings;
  if (limits->max_string_length > 0) l.max_string_length = limits->max_string_length;
  if (limits->max_string_bytes > 0) l.max_string_bytes = limits->max_string_bytes;
  if (limits->max_script_bytes > 0) l.max_script_bytes = limits->max_script_bytes;
  return 1;
}

int32_t interp_get_limits(const INTERP* ip, INTERP_LIMITS* limits) {
  if (!ip || !limits) return 0;
  *limits = ip->limits;
  return 1;
}

int64_t interp_steps(const INTERP* ip) {
  return ip ? ip->steps : 0;
}

const char* interp_error(const INTERP* ip) {
  return ip ? ip->fault.c_str() : "";
}

int32_t interp_error_line(const INTERP* ip) {
  return ip ? ip->fault_line : 0;
}

}  // extern "C"
