// SPDX-License-Identifier: MIT
// Names of the server request protocol.
#include "job/request_names.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "klv/kernel_path_cxx.h"
#include "klv/kernel_volume.h"
#include "klv/platform.h"

namespace klv::request {

std::string with_separator(const std::string& folder) {
  if (folder.empty() || folder.back() == '/' || folder.back() == '\\') return folder;
  const bool backslash =
      folder.find('\\') != std::string::npos && folder.find('/') == std::string::npos;
  return folder + (backslash ? '\\' : '/');
}

std::string info_folder(const std::string& folder) {
  return folder + "Info";
}

std::string server_info_path(const std::string& folder) {
  return folder + "Info\\Server.Info";
}

std::string request_base(const std::string& client, uint32_t id) {
  std::string base = client;
  for (char& c : base)
    if (c == '/' || c == '\\' || c == ':' || static_cast<unsigned char>(c) <= ' ' || c == '*' ||
        c == '?')
      c = '_';
  char hex[16];
  std::snprintf(hex, sizeof hex, "%x", id);
  return base + hex;
}

std::string request_path(const std::string& folder, const std::string& base) {
  return folder + base + ".RQX";
}

std::string answer_path(const std::string& folder, const std::string& base) {
  return folder + "Info\\" + base + ".ANS";
}

std::string work_path(const std::string& folder, const std::string& base) {
  return folder + base + ".RQW";
}

std::string owner_tag() {
  char tag[48];
  std::snprintf(tag, sizeof tag, "%" PRId64 "-%016" PRIx64, platform::ProcessId(),
                platform::ProcessStamp());
  return tag;
}

bool owner_alive(const std::string& tag) {
  char* end = nullptr;
  const long long pid = std::strtoll(tag.c_str(), &end, 10);
  if (!end || *end != '-' || pid <= 0) return false;
  const uint64_t stamp = std::strtoull(end + 1, nullptr, 16);
  return stamp != 0 && platform::ProcessStampOf(pid) == stamp;
}

std::string taken_path(const std::string& folder, const std::string& base,
                       const std::string& owner) {
  return folder + base + "." + owner + ".RUN";
}

std::string split_taken(const std::string& name, std::string* owner) {
  if (name.size() < 5 || name.compare(name.size() - 4, 4, ".RUN") != 0) return {};
  const std::string stem = name.substr(0, name.size() - 4);
  const size_t dot = stem.rfind('.');
  if (dot == std::string::npos || dot == 0) return {};
  if (owner) *owner = stem.substr(dot + 1);
  return stem.substr(0, dot);
}

bool being_run(const std::string& folder, const std::string& base) {
  SFindRec rec{};
  bool live = false;
  if (!Ofindfirst(nullptr, (folder + base + ".*.RUN").c_str(), 0, &rec)) return false;
  do {
    std::string owner;
    if (split_taken(rec.name, &owner) == base && owner_alive(owner)) live = true;
  } while (!live && Ofindnext(&rec));
  Ofindclose(&rec);
  return live;
}

bool rename_no_replace(const std::string& from, const std::string& to) {
  const std::string a = kernel::host_path(from.c_str()), b = kernel::host_path(to.c_str());
  if (::syscall(SYS_renameat2, AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_NOREPLACE) == 0)
    return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // File systems without the flag: a hard link fails when the target exists.
  if (::link(a.c_str(), b.c_str()) != 0) return false;
  ::unlink(a.c_str());
  return true;
}

}  // namespace klv::request
