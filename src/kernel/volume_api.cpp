// SPDX-License-Identifier: MIT
// The V* functions of the C interface and the volume side of finding files.
// No exception leaves these functions.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "kernel/volume.h"
#include "kernel/volume_find.h"
#include "klv/log.h"
#include "klv/kernel_util.h"

namespace klv::kernel {

bool wildcard_match(const char* p, const char* s) {
  // Greedy match with one remembered '*': linear in practice, never recursive.
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*s) {
    if (*p == '*') {
      star = p++;
      resume = s;
    } else if (*p == '?' || (*p && Ostrnicmp(p, s, 1) == 0)) {
      ++p;
      ++s;
    } else if (star) {
      p = star + 1;
      s = ++resume;
    } else {
      return false;
    }
  }
  while (*p == '*') ++p;
  return *p == '\0';
}

int32_t find_next(SFindRec* record) {
  auto* search = static_cast<FindSearch*>(record->search);
  if (!search) return 0;
  if (search->next >= search->entries.size()) {
    delete search;
    record->search = nullptr;
    return 0;
  }
  const FindEntry& e = search->entries[search->next++];
  std::snprintf(record->name, sizeof record->name, "%s", e.name.c_str());
  record->attributes = e.attributes;
  record->time_write = static_cast<uint32_t>(e.mtime);
  record->size_low = static_cast<uint32_t>(e.size);
  record->size_high = static_cast<uint32_t>(static_cast<uint64_t>(e.size) >> 32);
  record->file_id = static_cast<uint32_t>(e.id);
  return 1;
}

int32_t find_start(std::vector<FindEntry> entries, SFindRec* record) {
  record->search = nullptr;
  if (entries.empty()) return 0;
  record->search = new FindSearch{std::move(entries), 0};
  return find_next(record);
}

void find_close(SFindRec* record) {
  delete static_cast<FindSearch*>(record->search);
  record->search = nullptr;
}

bool volume_find_entries(SOVolume* volume, const char* pattern, std::vector<FindEntry>* out) {
  std::string pat = member_name(pattern);
  size_t slash = pat.rfind('/');
  std::string dir = slash == std::string::npos ? "" : pat.substr(0, slash);
  std::string last = slash == std::string::npos ? pat : pat.substr(slash + 1);
  const char* last_pattern = last.empty() ? "*" : last.c_str();
  std::vector<MemberInfo> all;
  std::lock_guard<std::recursive_mutex> lock(volume->mutex());
  if (!volume->list(&all)) return false;
  for (const MemberInfo& m : all) {
    size_t ms = m.name.rfind('/');
    std::string mdir = ms == std::string::npos ? "" : m.name.substr(0, ms);
    std::string base = ms == std::string::npos ? m.name : m.name.substr(ms + 1);
    if (Ostricmp(mdir.c_str(), dir.c_str()) != 0) continue;
    if (!wildcard_match(last_pattern, base.c_str())) continue;
    FindEntry e;
    e.name = base;
    e.attributes = m.is_dir ? KLV_FA_DIR : KLV_FA_NORMAL;
    e.mtime = m.mtime;
    e.size = m.is_dir ? 0 : m.size;
    e.id = static_cast<uint64_t>(m.id);
    out->push_back(std::move(e));
  }
  return true;
}

}  // namespace klv::kernel

extern "C" {

KLV_API SOVolume* VOpen(SOVolume* parent, const char* path, int32_t mode) {
  try {
    return SOVolume::open(parent, path, mode);
  } catch (const std::bad_alloc&) {
    KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": out of memory", path ? path : "");
  } catch (...) {
    KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": unexpected failure", path ? path : "");
  }
  return nullptr;
}

KLV_API int32_t VClose(SOVolume* volume) {
  if (KLV_IS_HOST_VOLUME(volume)) return -1;
  bool ok = false;
  try {
    ok = volume->close();
  } catch (...) {
    ok = false;
  }
  delete volume;
  return ok ? 0 : -1;
}

KLV_API int32_t VFlush(SOVolume* volume) {
  if (KLV_IS_HOST_VOLUME(volume)) return 0;
  try {
    return volume->flush() ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t VRemove(SOVolume* volume, const char* name) {
  if (!name || !*name) return 0;
  if (KLV_IS_HOST_VOLUME(volume)) {
    std::string p = klv::kernel::host_path(name);
    if (::unlink(p.c_str()) != 0 && ::rmdir(p.c_str()) != 0) {
      if (errno != ENOENT)
        KLV_LOG(KLV_LOG_WARNING, "cannot remove \"%s\": %s", p.c_str(), std::strerror(errno));
      return 0;
    }
    return 1;
  }
  try {
    std::lock_guard<std::recursive_mutex> lock(volume->mutex());
    return volume->remove(klv::kernel::member_name(name)) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t VRename(SOVolume* volume, const char* from, const char* to) {
  if (!from || !*from || !to || !*to) return 0;
  if (KLV_IS_HOST_VOLUME(volume)) {
    std::string a = klv::kernel::host_path(from), b = klv::kernel::host_path(to);
    if (std::rename(a.c_str(), b.c_str()) != 0) {
      KLV_LOG(KLV_LOG_WARNING, "cannot rename \"%s\" to \"%s\": %s", a.c_str(), b.c_str(),
              std::strerror(errno));
      return 0;
    }
    return 1;
  }
  try {
    std::lock_guard<std::recursive_mutex> lock(volume->mutex());
    return volume->rename(klv::kernel::member_name(from), klv::kernel::member_name(to)) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

KLV_API const char* VGetFName(SOVolume* volume) {
  if (KLV_IS_HOST_VOLUME(volume)) return nullptr;
  return volume->display_name().c_str();
}

KLV_API int32_t VMakeVDir(SOVolume* volume, const char* name) {
  if (!name || !*name) return 0;
  if (KLV_IS_HOST_VOLUME(volume)) {
    std::string p = klv::kernel::host_path(name);
    struct stat st;
    if (::mkdir(p.c_str(), 0777) == 0 || (stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)))
      return 1;
    KLV_LOG(KLV_LOG_WARNING, "cannot make folder \"%s\": %s", p.c_str(), std::strerror(errno));
    return 0;
  }
  try {
    std::lock_guard<std::recursive_mutex> lock(volume->mutex());
    std::string member = klv::kernel::member_name(name);
    if (member.empty()) return 0;
    return volume->make_dir(member) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t VFindfirst(SOVolume* volume, const char* pattern, SFindRec* record) {
  return Ofindfirst(volume, pattern, KLV_FA_DIR | KLV_FA_HIDDEN | KLV_FA_READONLY, record);
}

KLV_API int32_t VFindnext(SFindRec* record) {
  return Ofindnext(record);
}

KLV_API int32_t VCheck(SOVolume* volume, VCheckReport report, void* context) {
  if (KLV_IS_HOST_VOLUME(volume)) return -1;
  try {
    return volume->check(report, context);
  } catch (...) {
    KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": the check failed unexpectedly",
            volume->display_name().c_str());
    return -1;
  }
}

KLV_API int32_t VIsVolume(SOVolume* parent, const char* path) {
  if (!path || !*path) return 0;
  SFilemux* f = Ovfopen(parent, path, "rb");
  if (!f) return 0;
  char head[16] = {};
  bool yes = Oread(f, head, sizeof head) == sizeof head &&
             std::memcmp(head, "SQLite format 3", sizeof head) == 0;
  Oclose(f);
  return yes ? 1 : 0;
}

}  // extern "C"
