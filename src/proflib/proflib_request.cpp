// SPDX-License-Identifier: MIT
// The profile request command table: ProfOp scripts of server requests run
// profile-library operations by name (klv/proflib_request.h).
#include "klv/proflib_request.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "klv/kernel_stral.h"
#include "klv/kernel_volume.h"
#include "klv/log.h"
#include "klv/proflib.h"
#include "klv/request.h"

namespace {

// What the profile commands share during one request.
struct ProfHost {
  SOVolume* library = nullptr;
  PL_INDEX* index = nullptr;  // loaded by IndexLoad, until IndexFree
};

ProfHost* prof_host(INTERP* ip) {
  auto* host = static_cast<SRV_SCRIPT_HOST*>(interp_host(ip));
  return host ? static_cast<ProfHost*>(host->data) : nullptr;
}

// The flattened arguments of a command.
class Args {
 public:
  explicit Args(const INTERP_LIST* list) {
    const int32_t n = interp_flatten(list, nullptr, 0);
    tokens_.resize(static_cast<size_t>(n));
    interp_flatten(list, tokens_.data(), n);
  }
  size_t size() const { return tokens_.size(); }
  const char* str(size_t i) const { return i < tokens_.size() ? tokens_[i] : ""; }
  int32_t type(size_t i) const { return PI_map_type(str(i)); }
  uint32_t flags(size_t i) const {
    return static_cast<uint32_t>(std::strtoul(str(i), nullptr, 16));
  }

 private:
  std::vector<const char*> tokens_;
};

// A profile or model key: five fields from `at`.
struct Key {
  const char *media, *setting, *pattern;
  int32_t type;
  const char* name;
};

Key key_at(const Args& a, size_t at) {
  return {a.str(at), a.str(at + 1), a.str(at + 2), a.type(at + 3), a.str(at + 4)};
}

void copy_field(char* out, size_t size, const char* text) {
  std::snprintf(out, size, "%s", text);
}

// An entry from {media setting pattern type name owner flags table readings}.
bool fill_entry(PL_ENTRY* e, const Args& a) {
  if (a.size() < 5 || a.type(3) < 0) return false;
  const Key k = key_at(a, 0);
  PL_set_entry_key(e, k.media, k.setting, k.pattern, k.type, k.name);
  copy_field(e->owner, sizeof e->owner, a.str(5));
  e->flags = a.flags(6);
  copy_field(e->table, sizeof e->table, a.str(7));
  copy_field(e->readings, sizeof e->readings, a.str(8));
  return true;
}

// Runs `op` on the loaded index, or on the library's index loaded for this
// command and written back when `changes` and the operation succeeded.
int32_t with_index(INTERP* ip, bool changes, const std::function<int32_t(PL_INDEX*)>& op) {
  ProfHost* h = prof_host(ip);
  if (!h) return PL_ERR_ARGUMENT;
  if (h->index) return op(h->index);
  if (!h->library) return PL_ERR_OPEN;
  PL_INDEX* index = PL_index_load(h->library, nullptr);
  if (!index) return PL_ERR_IO;
  int32_t status = op(index);
  if (changes && status == PL_OK) status = PL_index_save(h->library, nullptr, index);
  PL_index_free(index);
  return status;
}

int32_t ok(int32_t status) {
  return status == PL_OK ? 1 : 0;
}

SOVolume* library(INTERP* ip) {
  ProfHost* h = prof_host(ip);
  return h ? h->library : nullptr;
}

std::string hex(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "%X", v);
  return text;
}

// Stores an entry's fields into s<first>, s<first+1>, ...
void store_entry(INTERP* ip, int32_t first, const PL_ENTRY& e) {
  const std::string type = hex(static_cast<uint32_t>(e.type)), flags = hex(e.flags);
  const char* fields[] = {e.media, e.setting,     e.pattern, type.c_str(), e.name,
                          e.owner, flags.c_str(), e.table,   e.readings};
  for (int32_t i = 0; i < 9; ++i) interp_set_str(ip, first + i, fields[i]);
}

// ---- profile entries ----

int32_t add_profile(const INTERP_LIST* l, int32_t update, INTERP* ip) {
  const Args a(l);
  PL_ENTRY* e = PL_new_profile_entry();
  int32_t status = PL_ERR_ARGUMENT;
  if (e && fill_entry(e, a))
    status = with_index(ip, true, [&](PL_INDEX* x) {
      return update ? PL_iupdate_profile_entry(x, e) : PL_iadd_profile_entry(x, e);
    });
  PL_free_profile_entry(e);
  return ok(status);
}

int32_t get_entry(const INTERP_LIST* l, int32_t model, INTERP* ip) {
  const Args a(l);
  const int32_t first = interp_str_index(a.str(0));
  if (first < 0) return 0;
  const Key k = key_at(a, 1);
  PL_ENTRY* e = model ? PL_new_model_entry() : PL_new_profile_entry();
  if (!e) return 0;
  const int32_t status = with_index(ip, false, [&](PL_INDEX* x) {
    return model ? PL_iget_model_entry(x, k.media, k.setting, k.pattern, k.type, k.name, e)
                 : PL_iget_profile_entry(x, k.media, k.setting, k.pattern, k.type, k.name, e);
  });
  if (status == PL_OK) store_entry(ip, first, *e);
  model ? PL_free_model_entry(e) : PL_free_profile_entry(e);
  return ok(status);
}

int32_t exist_entry(const INTERP_LIST* l, int32_t model, INTERP* ip) {
  const Key k = key_at(Args(l), 0);
  int32_t found = 0;
  with_index(ip, false, [&](PL_INDEX* x) {
    found = model ? PL_iexist_model_entry(x, k.media, k.setting, k.pattern, k.type, k.name)
                  : PL_iexist_profile_entry(x, k.media, k.setting, k.pattern, k.type, k.name);
    return PL_OK;
  });
  return found ? 1 : 0;
}

int32_t can_add_profile(const INTERP_LIST* l, int32_t, INTERP* ip) {
  const Args a(l);
  char key[PL_KEY_MAX];
  const Key k = key_at(a, 0);
  if (k.type < 0 || !PI_make_key(key, k.media, k.setting, k.pattern, k.type, k.name)) return 0;
  return exist_entry(l, 0, ip) ? 0 : 1;
}

int32_t remove_entry(const INTERP_LIST* l, int32_t model, INTERP* ip) {
  const Key k = key_at(Args(l), 0);
  return ok(with_index(ip, true, [&](PL_INDEX* x) {
    return model ? PL_iremove_model_entry(x, k.media, k.setting, k.pattern, k.type, k.name)
                 : PL_iremove_profile_entry(x, k.media, k.setting, k.pattern, k.type, k.name);
  }));
}

int32_t add_share(const INTERP_LIST* l, int32_t, INTERP* ip) {
  const Args a(l);
  const Key k = key_at(a, 0);
  return ok(with_index(ip, true, [&](PL_INDEX* x) {
    return PL_iadd_profile_share(x, k.media, k.setting, k.pattern, k.type, k.name, a.str(5),
                                 a.str(6), a.str(7), nullptr);
  }));
}

int32_t profile_count(const INTERP_LIST* l, int32_t, INTERP* ip) {
  const Args a(l);
  int32_t* count = interp_sget_val_ptr(ip, a.str(0));
  if (!count) return 0;
  SSTRAL* list = nullptr;
  const int32_t status = with_index(ip, false, [&](PL_INDEX* x) {
    return PL_iget_profile_list(x, a.str(1), a.str(2), a.str(3), a.type(4), &list);
  });
  *count = stral_count(list);
  const int32_t first = a.size() > 5 ? interp_str_index(a.str(5)) : -1;
  for (int32_t i = 0; first >= 0 && i < stral_count(list); ++i) {
    std::string key;
    for (int32_t c = 0; c < stral_size(list, i); ++c)
      key += (c ? "~" : "") + std::string(stral_str(list, i, c));
    interp_set_str(ip, first + i, key.c_str());
  }
  stral_free(list);
  return ok(status);
}

// ---- defaults ----

int32_t add_default(const INTERP_LIST* l, int32_t update, INTERP* ip) {
  const Args a(l);
  if (a.size() < 5 || (a.size() - 3) % 2 != 0) return 0;
  PL_DEFAULT_ENTRY* e = PL_new_default_entry();
  if (!e) return 0;
  const int32_t status = with_index(ip, true, [&](PL_INDEX* x) {
    if (update) {
      const int32_t got = PL_iget_default_entry(x, a.str(0), a.str(1), a.str(2), e);
      if (got != PL_OK) return got;
    } else {
      copy_field(e->media, sizeof e->media, a.str(0));
      copy_field(e->setting, sizeof e->setting, a.str(1));
      copy_field(e->pattern, sizeof e->pattern, a.str(2));
    }
    for (size_t i = 3; i + 1 < a.size(); i += 2) {
      if (a.type(i) < 0) return static_cast<int32_t>(PL_ERR_ARGUMENT);
      const int32_t s = PL_add_default_item(e, static_cast<uint32_t>(a.type(i)), a.str(i + 1));
      if (s != PL_OK) return s;
    }
    return update ? PL_iupdate_default_entry(x, e) : PL_iadd_default_entry(x, e);
  });
  PL_free_default_entry(e);
  return ok(status);
}

// ---- models ----

int32_t add_model(const INTERP_LIST* l, int32_t update, INTERP* ip) {
  const Args a(l);
  PL_ENTRY* e = PL_new_model_entry();
  int32_t status = PL_ERR_ARGUMENT;
  if (e && fill_entry(e, a))
    status = with_index(ip, true, [&](PL_INDEX* x) {
      return update ? PL_iupdate_model_entry(x, e) : PL_iadd_model_entry(x, e);
    });
  PL_free_model_entry(e);
  return ok(status);
}

// ---- files of the library ----

using PathMaker = int32_t (*)(char*, const char*, const char*, const char*, int32_t, const char*);

// arg: 0 table, 1 swatch, 2 model table, 3 model swatch.
PathMaker path_maker(int32_t kind) {
  switch (kind) {
    case 0:
      return PL_make_table_path;
    case 1:
      return PL_make_swatch_path;
    case 2:
      return PL_make_modeltable_path;
    default:
      return PL_make_modelswatch_path;
  }
}

int32_t remove_member(const INTERP_LIST* l, int32_t kind, INTERP* ip) {
  const Key k = key_at(Args(l), 0);
  char path[PL_FILE_MAX];
  SOVolume* v = library(ip);
  if (!v || !path_maker(kind)(path, k.media, k.setting, k.pattern, k.type, k.name)) return 0;
  return Ofileexists(v, path, 0) && VRemove(v, path) ? 1 : 0;
}

int32_t copy_member(const INTERP_LIST* l, int32_t kind, INTERP* ip) {
  const Args a(l);
  const Key k = key_at(a, 0);
  char from[PL_FILE_MAX], to[PL_FILE_MAX];
  SOVolume* v = library(ip);
  if (!v || !path_maker(kind)(from, k.media, k.setting, k.pattern, k.type, k.name) ||
      !path_maker(kind)(to, a.str(5), a.str(6), a.str(7), k.type, k.name))
    return 0;
  return Ofileexists(v, from, 0) && Ocopyfile(v, from, v, to) ? 1 : 0;
}

int32_t copy_file(const INTERP_LIST* l, int32_t, INTERP* ip) {
  const Args a(l);
  SOVolume* v = library(ip);
  if (!v || a.size() < 2 || !Ofileexists(v, a.str(0), 0)) return 0;
  return Ocopyfile(v, a.str(0), v, a.str(1)) ? 1 : 0;
}

int32_t remove_file(const INTERP_LIST* l, int32_t, INTERP* ip) {
  const Args a(l);
  SOVolume* v = library(ip);
  if (!v || a.size() < 1 || !Ofileexists(v, a.str(0), 0)) return 0;
  return VRemove(v, a.str(0)) ? 1 : 0;
}

int32_t copy_media(const INTERP_LIST* l, int32_t, INTERP* ip) {
  const Args a(l);
  SOVolume* v = library(ip);
  if (!v || a.size() < 2 || prof_host(ip)->index) return 0;
  return ok(PL_vcopy_media_profiles(v, a.str(0), a.str(1)));
}

int32_t remove_media(const INTERP_LIST* l, int32_t, INTERP* ip) {
  const Args a(l);
  SOVolume* v = library(ip);
  if (!v || a.size() < 1 || prof_host(ip)->index) return 0;
  return ok(PL_vremove_media_profiles(v, a.str(0)));
}

int32_t defragment(const INTERP_LIST*, int32_t, INTERP* ip) {
  SOVolume* v = library(ip);
  if (!v || prof_host(ip)->index) return 0;
  return ok(PL_vdefragment_library(v));
}

// ---- locks: arg bit 0 model, bit 1 the kind is given (Ex), bit 2 unlock ----

int32_t lock_entry(const INTERP_LIST* l, int32_t how, INTERP* ip) {
  const Args a(l);
  SOVolume* v = library(ip);
  const Key k = key_at(a, 0);
  const int32_t kind = (how & 2) ? std::atoi(a.str(5)) : PL_LOCK_EXCLUSIVE;
  if (!v || a.size() < ((how & 2) ? 6u : 5u)) return 0;
  if (how & 1)
    return ok((how & 4)
                  ? PL_vunlock_model_entry(v, k.media, k.setting, k.pattern, k.type, k.name, kind)
                  : PL_vlock_model_entry(v, k.media, k.setting, k.pattern, k.type, k.name, kind));
  return ok((how & 4)
                ? PL_vunlock_profile_entry(v, k.media, k.setting, k.pattern, k.type, k.name, kind)
                : PL_vlock_profile_entry(v, k.media, k.setting, k.pattern, k.type, k.name, kind));
}

int32_t lock_default(const INTERP_LIST* l, int32_t unlock, INTERP* ip) {
  const Args a(l);
  SOVolume* v = library(ip);
  if (!v || a.size() < 3) return 0;
  const int32_t kind = a.size() > 3 ? std::atoi(a.str(3)) : PL_LOCK_EXCLUSIVE;
  return ok(unlock ? PL_vunlock_default_entry(v, a.str(0), a.str(1), a.str(2), kind)
                   : PL_vlock_default_entry(v, a.str(0), a.str(1), a.str(2), kind));
}

// arg: 0 profiles, 1 models, 2 defaults.
int32_t unlock_all(const INTERP_LIST*, int32_t which, INTERP* ip) {
  SOVolume* v = library(ip);
  if (!v) return 0;
  return ok(which == 0   ? PL_vunlockall_profile_entry(v)
            : which == 1 ? PL_vunlockall_model_entry(v)
                         : PL_vunlockall_default_entry(v));
}

// ---- the index across commands ----

int32_t index_load(const INTERP_LIST*, int32_t, INTERP* ip) {
  ProfHost* h = prof_host(ip);
  if (!h || !h->library) return 0;
  PL_index_free(h->index);
  h->index = PL_index_load(h->library, nullptr);
  return h->index ? 1 : 0;
}

int32_t index_save(const INTERP_LIST*, int32_t, INTERP* ip) {
  ProfHost* h = prof_host(ip);
  return h && h->library && h->index ? ok(PL_index_save(h->library, nullptr, h->index)) : 0;
}

int32_t index_free(const INTERP_LIST*, int32_t, INTERP* ip) {
  ProfHost* h = prof_host(ip);
  if (!h) return 0;
  PL_index_free(h->index);
  h->index = nullptr;
  return 1;
}

int32_t nothing_held(const INTERP_LIST*, int32_t, INTERP*) {
  return 1;
}

int32_t refused(const INTERP_LIST*, int32_t which, INTERP*) {
  KLV_LOG(KLV_LOG_WARNING, "profile request: %s is not offered by this library",
          which ? "CopyVVMediaProfiles" : "SetProfileCount");
  return 0;
}

const INTERP_CMD kTable[] = {
    {"AddDefaultEntryEx", 0, add_default},
    {"AddModelEntryEx", 0, add_model},
    {"AddProfileEntryEx", 0, add_profile},
    {"AddProfileShareEx", 0, add_share},
    {"Answer", 0, srv_answer_func},
    {"CanAddProfile", 0, can_add_profile},
    {"CopyFile", 0, copy_file},
    {"CopyMediaProfiles", 0, copy_media},
    {"CopySwatch", 1, copy_member},
    {"CopyTable", 0, copy_member},
    {"CopyVVMediaProfiles", 1, refused},
    {"Defragment", 0, defragment},
    {"DimStr", 0, interp_dimstr_func},
    {"DimVal", 0, interp_dimval_func},
    {"ExistModelEntryEx", 1, exist_entry},
    {"ExistProfileEntryEx", 0, exist_entry},
    {"Fetch", 0, interp_fetch_func},
    {"FreeDefaultEntry", 0, nothing_held},
    {"FreeModelEntry", 0, nothing_held},
    {"FreeProfileEntry", 0, nothing_held},
    {"GetModelEntryEx", 1, get_entry},
    {"GetProfileCount", 0, profile_count},
    {"GetProfileEntryEx", 0, get_entry},
    {"IndexFree", 0, index_free},
    {"IndexLoad", 0, index_load},
    {"IndexSave", 0, index_save},
    {"LockDefault", 0, lock_default},
    {"LockModel", 1, lock_entry},
    {"LockModelEx", 3, lock_entry},
    {"LockProfile", 0, lock_entry},
    {"LockProfileEx", 2, lock_entry},
    {"Not", 0, interp_not_func},
    {"Or", 0, interp_or_func},
    {"RemoveFile", 0, remove_file},
    {"RemoveMediaProfiles", 0, remove_media},
    {"RemoveModelEntryEx", 1, remove_entry},
    {"RemoveModelSwatch", 3, remove_member},
    {"RemoveModelTable", 2, remove_member},
    {"RemoveProfileEntryEx", 0, remove_entry},
    {"RemoveSwatch", 1, remove_member},
    {"RemoveTable", 0, remove_member},
    {"SetProfileCount", 0, refused},
    {"Store", 0, interp_store_func},
    {"UnlockAllDefaults", 2, unlock_all},
    {"UnlockAllModels", 1, unlock_all},
    {"UnlockAllProfiles", 0, unlock_all},
    {"UnlockDefault", 1, lock_default},
    {"UnlockModel", 5, lock_entry},
    {"UnlockModelEx", 7, lock_entry},
    {"UnlockProfile", 4, lock_entry},
    {"UnlockProfileEx", 6, lock_entry},
    {"UpdateDefaultEntryEx", 1, add_default},
    {"UpdateModelEntryEx", 1, add_model},
    {"UpdateProfileEntryEx", 1, add_profile},
};
static_assert(std::size(kTable) == 54);

}  // namespace

extern "C" {

const INTERP_CMD* PL_request_table(int32_t* count) {
  if (count) *count = static_cast<int32_t>(std::size(kTable));
  return kTable;
}

int32_t PL_handle_request_ex(SFPARSE* request, SOVolume* answer, SOVolume* library,
                             const INTERP_LIMITS* limits, char* error, int32_t error_size) {
  ProfHost host;
  host.library = library;
  int32_t ran = 0;
  try {
    ran = srv_run_script(request, answer, kTable, static_cast<int32_t>(std::size(kTable)), &host,
                         limits, error, error_size);
  } catch (...) {
    if (error && error_size > 0) std::snprintf(error, error_size, "the request failed");
  }
  PL_index_free(host.index);  // an index loaded and never saved is dropped
  return ran;
}

int32_t PL_handle_request(SFPARSE* request, SOVolume* answer, SOVolume* library) {
  PL_handle_request_ex(request, answer, library, nullptr, nullptr, 0);
  return 1;
}

}  // extern "C"
