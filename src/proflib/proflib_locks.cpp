// SPDX-License-Identifier: MIT
// Entry locks kept in lock members of the library volume. The member is a
// 32-bit record count, the 32-bit record size (552) and the records sorted by
// key without regard to letter case. A record holds the key, the user name,
// the owner (a 64-bit process stamp and the 64-bit process id), and this
// owner's exclusive and shared counts.
//
// The owner's stamp is the boot's identity (high 32 bits) and the process's
// start time in clock ticks since boot (low 32 bits): both stay the same for
// the life of the process, and a process id reused later, or after a reboot,
// does not match them. Records whose owner is no longer running are dropped
// whenever a lock member is read, so a process that died holding a lock does
// not keep others out.
#include <pwd.h>
#include <signal.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "klv/kernel_stream.h"
#include "klv/kernel_volume.h"
#include "klv/log.h"
#include "proflib/proflib_ops.h"

using namespace klv::proflib;

namespace {

#pragma pack(push, 1)
struct LockRecord {
  char key[260];
  char user[260];
  uint32_t owner[4];  // stamp low, stamp high, pid low, pid high
  uint8_t reserved0[4];
  uint8_t exclusive;
  uint8_t shared;
  uint8_t reserved1[10];
};
#pragma pack(pop)
static_assert(sizeof(LockRecord) == PL_LOCK_RECORD_SIZE);

constexpr uint32_t kMaxRecords = 1u << 20;

uint32_t boot_hash() {
  std::ifstream in("/proc/sys/kernel/random/boot_id");
  std::string id;
  std::getline(in, id);
  uint32_t h = 2166136261u;  // FNV-1a
  for (unsigned char c : id) h = (h ^ c) * 16777619u;
  return h;
}

// The start time of a process in clock ticks since boot; 0 when unknown.
// A process that has ended but not yet been reaped (state Z or X) counts as
// gone: `ended` is set.
uint64_t start_ticks(int64_t pid, bool* ended = nullptr) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t paren = text.rfind(')');
  if (paren == std::string::npos) return 0;
  std::istringstream fields(text.substr(paren + 2));
  std::string field;
  if (ended && paren + 2 < text.size()) ended[0] = text[paren + 2] == 'Z' || text[paren + 2] == 'X';
  // Field 22 of the stat line; fields[0] here is field 3 (the state).
  for (int i = 3; i <= 22 && fields >> field; ++i)
    if (i == 22) return std::strtoull(field.c_str(), nullptr, 10);
  return 0;
}

struct Owner {
  uint64_t stamp = 0;
  uint64_t pid = 0;
};

Owner self_owner() {
  Owner o;
  o.pid = static_cast<uint64_t>(getpid());
  o.stamp = (static_cast<uint64_t>(boot_hash()) << 32) | (start_ticks(getpid()) & 0xffffffffu);
  return o;
}

Owner record_owner(const LockRecord& r) {
  return {static_cast<uint64_t>(r.owner[0]) | (static_cast<uint64_t>(r.owner[1]) << 32),
          static_cast<uint64_t>(r.owner[2]) | (static_cast<uint64_t>(r.owner[3]) << 32)};
}

bool same(const Owner& a, const Owner& b) {
  return a.stamp == b.stamp && a.pid == b.pid;
}

// Whether the owner of a record is still running.
bool alive(const Owner& o, uint32_t boot) {
  if (static_cast<uint32_t>(o.stamp >> 32) != boot) return false;  // another boot
  if (o.pid == 0 || o.pid > 0x7fffffff) return false;
  const auto pid = static_cast<pid_t>(o.pid);
  if (kill(pid, 0) != 0 && errno == ESRCH) return false;
  bool ended = false;
  uint64_t ticks = start_ticks(static_cast<int64_t>(o.pid), &ended);
  if (ended) return false;
  return ticks == 0 || (ticks & 0xffffffffu) == (o.stamp & 0xffffffffu);
}

std::string user_name() {
  if (const char* u = std::getenv("USER"); u && *u) return u;
  if (passwd* p = getpwuid(getuid()); p && p->pw_name) return p->pw_name;
  return "UNKNOWN";
}

// Reads the lock member (none: no records); drops the records of owners that
// are gone. PL_OK or PL_ERR_IO.
int32_t read_records(SOVolume* volume, const char* member, std::vector<LockRecord>& out) {
  out.clear();
  if (!Ofileexists(volume, member, 0)) return PL_OK;
  SFilemux* f = Ovfopen(volume, member, "rb");
  if (!f) return PL_ERR_LOCKED;
  uint32_t head[2] = {};
  int32_t status = PL_OK;
  if (Oread(f, head, sizeof head) != sizeof head || head[1] != sizeof(LockRecord) ||
      head[0] > kMaxRecords) {
    status = PL_ERR_IO;
  } else {
    out.resize(head[0]);
    size_t bytes = sizeof(LockRecord) * out.size();
    if (bytes && Oread(f, out.data(), bytes) != bytes) status = PL_ERR_IO;
  }
  Oclose(f);
  if (status != PL_OK) {
    KLV_LOG(KLV_LOG_ERROR, "lock member \"%s\" is damaged", member);
    out.clear();
    return status;
  }
  const uint32_t boot = boot_hash();
  const Owner me = self_owner();
  std::erase_if(out, [&](const LockRecord& r) {
    Owner o = record_owner(r);
    if (same(o, me) || alive(o, boot)) return false;
    KLV_LOG(KLV_LOG_INFO, "lock \"%.260s\" of process %llu, which has ended, is cleared", r.key,
            static_cast<unsigned long long>(o.pid));
    return true;
  });
  return PL_OK;
}

int32_t write_records(SOVolume* volume, const char* member, std::vector<LockRecord>& records) {
  std::stable_sort(records.begin(), records.end(), [](const LockRecord& a, const LockRecord& b) {
    return strncasecmp(a.key, b.key, sizeof a.key) < 0;
  });
  SFilemux* f = Ovfopen(volume, member, "wb");
  if (!f) return PL_ERR_LOCKED;
  uint32_t head[2] = {static_cast<uint32_t>(records.size()), sizeof(LockRecord)};
  size_t bytes = sizeof(LockRecord) * records.size();
  bool ok = Owrite(f, head, sizeof head) == sizeof head &&
            (!bytes || Owrite(f, records.data(), bytes) == bytes);
  ok = Oclose(f) == 0 && ok;
  return ok ? PL_OK : PL_ERR_IO;
}

int32_t lock(SOVolume* volume, const char* member, const std::string& key, int32_t kind) {
  if (!volume || (kind != PL_LOCK_EXCLUSIVE && kind != PL_LOCK_SHARED)) return PL_ERR_ARGUMENT;
  if (key.size() >= sizeof(LockRecord::key)) return PL_ERR_KEY;
  std::vector<LockRecord> records;
  if (int32_t s = read_records(volume, member, records)) return s;
  const Owner me = self_owner();
  LockRecord* mine = nullptr;
  bool other_any = false, other_exclusive = false;
  for (LockRecord& r : records) {
    if (strcasecmp(r.key, key.c_str()) != 0) continue;
    if (same(record_owner(r), me)) {
      mine = &r;
    } else {
      other_any = true;
      other_exclusive = other_exclusive || r.exclusive;
    }
  }
  if (kind == PL_LOCK_EXCLUSIVE ? other_any : (other_exclusive && !mine)) return PL_ERR_LOCKED;
  if (!mine) {
    LockRecord r{};
    copy_text(r.key, sizeof r.key, key);
    copy_text(r.user, sizeof r.user, user_name());
    r.owner[0] = static_cast<uint32_t>(me.stamp);
    r.owner[1] = static_cast<uint32_t>(me.stamp >> 32);
    r.owner[2] = static_cast<uint32_t>(me.pid);
    r.owner[3] = static_cast<uint32_t>(me.pid >> 32);
    records.push_back(r);
    mine = &records.back();
  }
  uint8_t& count = kind == PL_LOCK_EXCLUSIVE ? mine->exclusive : mine->shared;
  if (count == 255) return PL_ERR_KEY;
  ++count;
  return write_records(volume, member, records);
}

int32_t unlock(SOVolume* volume, const char* member, const std::string& key, int32_t kind) {
  if (!volume || (kind != PL_LOCK_EXCLUSIVE && kind != PL_LOCK_SHARED)) return PL_ERR_ARGUMENT;
  std::vector<LockRecord> records;
  if (int32_t s = read_records(volume, member, records)) return s;
  const Owner me = self_owner();
  for (size_t i = 0; i < records.size(); ++i) {
    LockRecord& r = records[i];
    if (strcasecmp(r.key, key.c_str()) != 0 || !same(record_owner(r), me)) continue;
    uint8_t& count = kind == PL_LOCK_EXCLUSIVE ? r.exclusive : r.shared;
    if (count == 0) return PL_ERR_NOT_FOUND;
    --count;
    if (!r.exclusive && !r.shared) records.erase(records.begin() + static_cast<ptrdiff_t>(i));
    return write_records(volume, member, records);
  }
  return PL_ERR_NOT_FOUND;
}

// Model locks share the profile lock member; their keys carry this prefix,
// which no profile key has (a profile key's third field is a pattern number).
constexpr char kModelPrefix[] = "~~Model~";

bool model_key(const LockRecord& r) {
  return std::strncmp(r.key, kModelPrefix, sizeof kModelPrefix - 1) == 0;
}

// Drops this owner's records (of models, of profiles, or of any kind: -1).
int32_t unlock_all(SOVolume* volume, const char* member, int models) {
  if (!volume) return PL_ERR_ARGUMENT;
  std::vector<LockRecord> records;
  if (int32_t s = read_records(volume, member, records)) return s;
  const Owner me = self_owner();
  std::erase_if(records, [&](const LockRecord& r) {
    return same(record_owner(r), me) && (models < 0 || model_key(r) == (models == 1));
  });
  return write_records(volume, member, records);
}

// The lock key of an entry: its key fields joined by "~" (so that different
// keys never give the same lock key).
bool entry_lock_key(std::string& out, const char* media, const char* setting, const char* third,
                    int32_t type, const char* name, bool pattern) {
  Key key;
  if (!make_entry_key(key, media, setting, third, type, name, pattern)) return false;
  out = join_fields(key);
  return true;
}

int32_t entry_lock(SOVolume* v, const char* m, const char* s, const char* t, int32_t type,
                   const char* n, int32_t kind, bool pattern, bool take) {
  std::string key;
  if (!entry_lock_key(key, m, s, t, type, n, pattern)) return PL_ERR_KEY;
  if (!pattern) key = kModelPrefix + key;
  return take ? lock(v, PL_PROFILE_LOCK_NAME, key, kind)
              : unlock(v, PL_PROFILE_LOCK_NAME, key, kind);
}

int32_t default_lock(SOVolume* v, const char* m, const char* s, const char* p, int32_t kind,
                     bool take) {
  Key key;
  if (!make_default_key(key, m, s, p)) return PL_ERR_KEY;
  return take ? lock(v, PL_DEFAULT_LOCK_NAME, join_fields(key), kind)
              : unlock(v, PL_DEFAULT_LOCK_NAME, join_fields(key), kind);
}

}  // namespace

KLV_API int32_t PL_vlock_profile_entry(SOVolume* volume, const char* media, const char* setting,
                                       const char* pattern, int32_t type, const char* name,
                                       int32_t kind) {
  return entry_lock(volume, media, setting, pattern, type, name, kind, true, true);
}
KLV_API int32_t PL_lock_profile_entry(const char* printer, const char* media, const char* setting,
                                      const char* pattern, int32_t type, const char* name,
                                      int32_t kind) {
  return with_library(printer, [&](SOVolume* v) {
    return PL_vlock_profile_entry(v, media, setting, pattern, type, name, kind);
  });
}
KLV_API int32_t PL_vunlock_profile_entry(SOVolume* volume, const char* media, const char* setting,
                                         const char* pattern, int32_t type, const char* name,
                                         int32_t kind) {
  return entry_lock(volume, media, setting, pattern, type, name, kind, true, false);
}
KLV_API int32_t PL_unlock_profile_entry(const char* printer, const char* media, const char* setting,
                                        const char* pattern, int32_t type, const char* name,
                                        int32_t kind) {
  return with_library(printer, [&](SOVolume* v) {
    return PL_vunlock_profile_entry(v, media, setting, pattern, type, name, kind);
  });
}
KLV_API int32_t PL_vunlockall_profile_entry(SOVolume* volume) {
  return unlock_all(volume, PL_PROFILE_LOCK_NAME, 0);
}
KLV_API int32_t PL_unlockall_profile_entry(const char* printer) {
  return with_library(printer, [&](SOVolume* v) { return PL_vunlockall_profile_entry(v); });
}

KLV_API int32_t PL_vlock_model_entry(SOVolume* volume, const char* media, const char* setting,
                                     const char* third, int32_t type, const char* name,
                                     int32_t kind) {
  return entry_lock(volume, media, setting, third, type, name, kind, false, true);
}
KLV_API int32_t PL_lock_model_entry(const char* printer, const char* media, const char* setting,
                                    const char* third, int32_t type, const char* name,
                                    int32_t kind) {
  return with_library(printer, [&](SOVolume* v) {
    return PL_vlock_model_entry(v, media, setting, third, type, name, kind);
  });
}
KLV_API int32_t PL_vunlock_model_entry(SOVolume* volume, const char* media, const char* setting,
                                       const char* third, int32_t type, const char* name,
                                       int32_t kind) {
  return entry_lock(volume, media, setting, third, type, name, kind, false, false);
}
KLV_API int32_t PL_unlock_model_entry(const char* printer, const char* media, const char* setting,
                                      const char* third, int32_t type, const char* name,
                                      int32_t kind) {
  return with_library(printer, [&](SOVolume* v) {
    return PL_vunlock_model_entry(v, media, setting, third, type, name, kind);
  });
}
KLV_API int32_t PL_vunlockall_model_entry(SOVolume* volume) {
  return unlock_all(volume, PL_PROFILE_LOCK_NAME, 1);
}
KLV_API int32_t PL_unlockall_model_entry(const char* printer) {
  return with_library(printer, [&](SOVolume* v) { return PL_vunlockall_model_entry(v); });
}

KLV_API int32_t PL_vlock_default_entry(SOVolume* volume, const char* media, const char* setting,
                                       const char* pattern, int32_t kind) {
  return default_lock(volume, media, setting, pattern, kind, true);
}
KLV_API int32_t PL_lock_default_entry(const char* printer, const char* media, const char* setting,
                                      const char* pattern, int32_t kind) {
  return with_library(printer, [&](SOVolume* v) {
    return PL_vlock_default_entry(v, media, setting, pattern, kind);
  });
}
KLV_API int32_t PL_vunlock_default_entry(SOVolume* volume, const char* media, const char* setting,
                                         const char* pattern, int32_t kind) {
  return default_lock(volume, media, setting, pattern, kind, false);
}
KLV_API int32_t PL_unlock_default_entry(const char* printer, const char* media, const char* setting,
                                        const char* pattern, int32_t kind) {
  return with_library(printer, [&](SOVolume* v) {
    return PL_vunlock_default_entry(v, media, setting, pattern, kind);
  });
}
KLV_API int32_t PL_vunlockall_default_entry(SOVolume* volume) {
  return unlock_all(volume, PL_DEFAULT_LOCK_NAME, -1);
}
KLV_API int32_t PL_unlockall_default_entry(const char* printer) {
  return with_library(printer, [&](SOVolume* v) { return PL_vunlockall_default_entry(v); });
}
