// SPDX-License-Identifier: MIT
// Host file helpers: existence, copying, removing, renaming and finding files,
// on the host file system or inside a volume. No exception leaves these
// functions.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "kernel/volume.h"
#include "kernel/volume_find.h"
#include "klv/kernel_stream.h"
#include "klv/log.h"

namespace klv::kernel {
namespace {

struct StreamCloser {
  void operator()(SFilemux* s) const { Oclose(s); }
};
using StreamPtr = std::unique_ptr<SFilemux, StreamCloser>;

// Host entries of one folder whose names match the last part of the pattern.
// Folders are listed only when asked for with KLV_FA_DIR and names starting
// with '.' only with KLV_FA_HIDDEN.
bool host_find_entries(const char* pattern, uint32_t attributes, std::vector<FindEntry>* out) {
  std::string pat = host_path(pattern);
  size_t slash = pat.rfind('/');
  std::string dir = slash == std::string::npos ? "." : pat.substr(0, slash);
  if (dir.empty()) dir = "/";
  std::string last = slash == std::string::npos ? pat : pat.substr(slash + 1);
  const char* last_pattern = last.empty() ? "*" : last.c_str();
  DIR* d = opendir(dir.c_str());
  if (!d) return false;
  while (dirent* ent = readdir(d)) {
    const char* name = ent->d_name;
    if (!std::strcmp(name, ".") || !std::strcmp(name, "..")) continue;
    if (!wildcard_match(last_pattern, name)) continue;
    struct stat st;
    std::string full = dir + "/" + name;
    if (stat(full.c_str(), &st) != 0) continue;
    FindEntry e;
    e.name = name;
    if (S_ISDIR(st.st_mode)) e.attributes |= KLV_FA_DIR;
    if (name[0] == '.') e.attributes |= KLV_FA_HIDDEN;
    if ((st.st_mode & 0222) == 0) e.attributes |= KLV_FA_READONLY;
    if ((e.attributes & KLV_FA_DIR) && !(attributes & KLV_FA_DIR)) continue;
    if ((e.attributes & KLV_FA_HIDDEN) && !(attributes & KLV_FA_HIDDEN)) continue;
    e.mtime = st.st_mtime;
    e.size = S_ISDIR(st.st_mode) ? 0 : st.st_size;
    e.id = st.st_ino;
    out->push_back(std::move(e));
  }
  closedir(d);
  return true;
}

bool find_entries(SOVolume* volume, const char* pattern, uint32_t attributes,
                  std::vector<FindEntry>* out) {
  if (KLV_IS_HOST_VOLUME(volume)) return host_find_entries(pattern, attributes, out);
  if (!volume_find_entries(volume, pattern, out)) return false;
  if (!(attributes & KLV_FA_DIR)) {
    std::erase_if(*out, [](const FindEntry& e) { return (e.attributes & KLV_FA_DIR) != 0; });
  }
  return true;
}

bool copy_stream(SFilemux* from, SFilemux* to) {
  constexpr size_t kBlock = 1 << 20;
  std::unique_ptr<uint8_t[]> buf(new uint8_t[kBlock]);
  for (;;) {
    size_t n = Oread(from, buf.get(), kBlock);
    if (n > 0 && Owrite(to, buf.get(), n) != n) return false;
    if (n < kBlock) return Otelli64(from) >= Ofileleni64(from);  // short only at the end
  }
}

// Copies into a temporary name beside the target, then renames it over the
// target, so that a failed copy never leaves a half-written file where a good
// one stood.
bool copy_file(SOVolume* src_volume, const char* src, SOVolume* dst_volume, const char* dst) {
  StreamPtr in(Ovfopen(src_volume, src, "rb"));
  if (!in) {
    KLV_LOG(KLV_LOG_ERROR, "copy: cannot open \"%s\"", src);
    return false;
  }
  std::string temp;
  if (KLV_IS_HOST_VOLUME(dst_volume)) {
    temp = host_path(dst) + ".klvcopy-XXXXXX";
    int fd = mkstemp(temp.data());
    if (fd < 0) {
      KLV_LOG(KLV_LOG_ERROR, "copy: cannot create a file beside \"%s\": %s", dst,
              std::strerror(errno));
      return false;
    }
    ::close(fd);
  } else {
    temp = member_name(dst) + ".klvcopy";
  }
  StreamPtr out(Ovfopen(dst_volume, temp.c_str(), "wb"));
  bool ok = out && copy_stream(in.get(), out.get());
  ok = (Oclose(out.release()) == 0) && ok;
  in.reset();
  if (ok) ok = VRename(dst_volume, temp.c_str(), dst) == 1;
  if (!ok) {
    KLV_LOG(KLV_LOG_ERROR, "copy: cannot copy \"%s\" to \"%s\"", src, dst);
    VRemove(dst_volume, temp.c_str());
  }
  return ok;
}

}  // namespace
}  // namespace klv::kernel

using namespace klv::kernel;

extern "C" {

KLV_API int32_t Ofileexists(SOVolume* volume, const char* path, uint32_t attributes) {
  if (!path || !*path) return 0;
  try {
    if (KLV_IS_HOST_VOLUME(volume)) {
      struct stat st;
      if (stat(host_path(path).c_str(), &st) != 0) return 0;
      if (S_ISDIR(st.st_mode)) return (attributes & KLV_FA_DIR) ? 1 : 0;
      return 1;
    }
    std::lock_guard<std::recursive_mutex> lock(volume->mutex());
    MemberInfo info;
    if (!volume->find(member_name(path), &info)) return 0;
    if (info.is_dir) return (attributes & KLV_FA_DIR) ? 1 : 0;
    return 1;
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t Ocopyfile(SOVolume* src_volume, const char* src, SOVolume* dst_volume,
                          const char* dst) {
  if (!src || !*src || !dst || !*dst) return 0;
  try {
    return copy_file(src_volume, src, dst_volume, dst) ? 1 : 0;
  } catch (...) {
    KLV_LOG(KLV_LOG_ERROR, "copy: unexpected failure copying \"%s\"", src);
    return 0;
  }
}

KLV_API int32_t Oremove(SOVolume* volume, const char* path) {
  return VRemove(volume, path);
}

KLV_API int32_t Orename(SOVolume* volume, const char* from, const char* to) {
  return VRename(volume, from, to);
}

KLV_API int32_t Ofindfirst(SOVolume* volume, const char* pattern, uint32_t attributes,
                           SFindRec* record) {
  if (!record) return 0;
  record->search = nullptr;
  if (!pattern || !*pattern) return 0;
  try {
    std::vector<FindEntry> entries;
    if (!find_entries(volume, pattern, attributes, &entries)) return 0;
    return find_start(std::move(entries), record);
  } catch (...) {
    find_close(record);
    return 0;
  }
}

KLV_API int32_t Ofindnext(SFindRec* record) {
  if (!record) return 0;
  return find_next(record);
}

KLV_API void Ofindclose(SFindRec* record) {
  if (record) find_close(record);
}

KLV_API int32_t Oremovefiles(SOVolume* volume, const char* pattern) {
  if (!pattern || !*pattern) return -1;
  try {
    std::vector<FindEntry> entries;
    if (!find_entries(volume, pattern, 0, &entries)) return -1;
    std::string pat = KLV_IS_HOST_VOLUME(volume) ? host_path(pattern) : member_name(pattern);
    size_t slash = pat.rfind('/');
    std::string dir = slash == std::string::npos ? "" : pat.substr(0, slash + 1);
    int32_t removed = 0;
    bool failed = false;
    for (const FindEntry& e : entries) {
      if (VRemove(volume, (dir + e.name).c_str()) == 1)
        ++removed;
      else
        failed = true;
    }
    return failed ? -1 : removed;
  } catch (...) {
    return -1;
  }
}

}  // extern "C"
