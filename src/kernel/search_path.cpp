// SPDX-License-Identifier: MIT
// The program's search path (_findinpath) and path splitting (_splitvpath).
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "kernel/stream.h"
#include "klv/kernel_path.h"
#include "klv/kernel_path_cxx.h"
#include "klv/log.h"
#include "klv/platform.h"
#include "klv/kernel_util.h"

namespace klv::kernel {

namespace {

void split_list(const char* text, std::vector<std::string>& out) {
  if (!text) return;
  std::string_view rest(text);
  while (!rest.empty()) {
    size_t colon = rest.find(':');
    std::string_view folder = rest.substr(0, colon);
    if (!folder.empty()) out.emplace_back(folder);
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
}

std::vector<std::string> ordinary_folders() {
  std::vector<std::string> folders;
  split_list(std::getenv("KLV_PATH"), folders);
  for (std::string folder : {platform::ProgramFolder(), platform::DataFolder()}) {
    if (!folder.empty()) folders.push_back(std::move(folder));
  }
  return folders;
}

bool exists(const std::string& host) {
  struct stat info;
  return !host.empty() && ::stat(host.c_str(), &info) == 0;
}

bool is_absolute(const std::string& host) {
  return host.front() == '/' ||
         (host.size() >= 2 && host[1] == ':' &&
          ((host[0] >= 'A' && host[0] <= 'Z') || (host[0] >= 'a' && host[0] <= 'z')));
}

// Copies text into a KLV_PATH_MAX buffer; false (result "") when it does not fit.
bool put_result(const std::string& text, char* result) {
  if (text.size() >= KLV_PATH_MAX) {
    result[0] = '\0';
    return false;
  }
  std::memcpy(result, text.c_str(), text.size() + 1);
  return true;
}

int32_t find_in(const std::vector<std::string>& folders, const char* name, char* result) {
  const std::string host = host_path(name);
  if (exists(host)) {
    if (put_result(name, result)) return 1;
    KLV_LOG(KLV_LOG_ERROR, "path of %zu bytes does not fit the %d-byte result", std::strlen(name),
            KLV_PATH_MAX);
    return 0;
  }
  if (is_absolute(host)) return 0;
  for (const std::string& folder : folders) {
    std::string candidate = platform::JoinPath(folder, host);
    if (candidate.size() < KLV_PATH_MAX && exists(candidate)) {
      return put_result(candidate, result) ? 1 : 0;
    }
  }
  return 0;
}

// Copies [begin, end) into out (size bytes), cut so that the text fits and no
// UTF-8 character is split.
void put_part(const char* begin, const char* end, char* out, size_t size) {
  if (!out) return;
  size_t length = static_cast<size_t>(end - begin);
  if (length > size - 1) {
    length = size - 1;
    while (length > 0 && (static_cast<unsigned char>(begin[length]) & 0xC0) == 0x80) --length;
  }
  std::memcpy(out, begin, length);
  out[length] = '\0';
}

}  // namespace

std::vector<std::string> search_folders(const char* which) {
  if (!which || !*which) return ordinary_folders();
  if (Ostricmp(which, "Server") != 0) return {};
  std::vector<std::string> folders;
  split_list(std::getenv("KLV_SERVER_PATH"), folders);
  if (!folders.empty()) return folders;
  for (const std::string& folder : ordinary_folders()) {
    folders.push_back(platform::JoinPath(folder, "Server"));
  }
  return folders;
}

}  // namespace klv::kernel

extern "C" {

KLV_API int32_t _findinpath_ex(const char* which, const char* name, char* result) {
  if (!result) return 0;
  result[0] = '\0';
  if (!name || !*name) return 0;
  try {
    if (which && *which && Ostricmp(which, "Server") != 0) {
      KLV_LOG(KLV_LOG_ERROR, "unknown search path \"%s\"", which);
      return 0;
    }
    return klv::kernel::find_in(klv::kernel::search_folders(which), name, result);
  } catch (...) {
    result[0] = '\0';
    return 0;
  }
}

KLV_API int32_t _findinpath(const char* name, char* result) {
  return _findinpath_ex(nullptr, name, result);
}

KLV_API void _splitvpath(const char* path, char* drive, char* dir, char* fname, char* ext) {
  using klv::kernel::put_part;
  const char* p = path ? path : "";
  const char* end = p + std::strlen(p);
  const char* rest = p;
  if (((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z')) && p[1] == ':') rest = p + 2;
  put_part(p, rest, drive, KLV_SPLIT_DRIVE);

  const char* name = rest;
  for (const char* c = rest; c < end; ++c) {
    if (*c == '/' || *c == '\\') name = c + 1;
  }
  put_part(rest, name, dir, KLV_SPLIT_DIR);

  const char* dot = nullptr;
  for (const char* c = name; c < end; ++c) {
    if (*c == '.') dot = c;
  }
  // Nothing but dots before the last dot: a hidden file or "."/"..", no extension.
  if (dot) {
    bool only_dots = true;
    for (const char* c = name; c < dot; ++c) only_dots = only_dots && *c == '.';
    if (only_dots) dot = nullptr;
  }
  const char* name_end = dot ? dot : end;
  put_part(name, name_end, fname, KLV_SPLIT_FNAME);
  put_part(name_end, end, ext, KLV_SPLIT_EXT);
}

}  // extern "C"
