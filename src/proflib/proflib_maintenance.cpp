// SPDX-License-Identifier: MIT
// Member names of a library's files, the swatch list, and the maintenance
// operations: defragment, convert, remove and copy the profiles of a media.
#include <strings.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "klv/kernel_volume.h"
#include "proflib/proflib_ops.h"

using namespace klv::proflib;

namespace {

// "<prefix>~<key>.<ext>"; false when a field is too long.
int32_t member_path(char* out, const char* prefix, const char* ext, const char* media,
                    const char* setting, const char* third, int32_t type, const char* name,
                    bool pattern) {
  if (!out) return 0;
  out[0] = '\0';
  Key key;
  if (!make_entry_key(key, media, setting, third, type, name, pattern)) return 0;
  std::string path = std::string(prefix) + "~" + join_fields(key) + "." + ext;
  if (path.size() >= PL_FILE_MAX) return 0;
  copy_text(out, PL_FILE_MAX, path);
  return 1;
}

bool ends_with(const std::string& text, const char* end) {
  size_t n = std::strlen(end);
  return text.size() >= n && strcasecmp(text.c_str() + text.size() - n, end) == 0;
}

// The members of a volume (not folders).
std::vector<std::string> members(SOVolume* volume, const char* pattern) {
  std::vector<std::string> names;
  SFindRec rec{};
  for (int more = VFindfirst(volume, pattern, &rec); more; more = VFindnext(&rec))
    if (!(rec.attributes & KLV_FA_DIR)) names.push_back(rec.name);
  return names;
}

// The share entries whose original is still in the list.
std::set<const t_pientry*> live_shares(const CProfilesIdx& list) {
  std::set<const t_pientry*> live;
  for (t_pientry* e = list.GetFirstEntry(); e; e = e->next) {
    const auto& d = static_cast<const ProfileData&>(*e->data);
    if (d.flags & PL_FLAG_SHARE) continue;
    for (const Key& s : d.shares) {
      Key k = {s[0], s[1], s[2], e->key[3], e->key[4]};
      for (t_pientry* x = list.FindEntry(k); x; x = x->next) {
        if (compare_exact(k, x->key) != 0) break;
        live.insert(x);
      }
    }
  }
  return live;
}

int32_t defragment(PL_INDEX* index) {
  for (CProfilesIdx* list : {&entries(index, false), &entries(index, true)}) {
    std::set<const t_pientry*> live = live_shares(*list);
    for (t_pientry* e = list->GetFirstEntry(); e;) {
      t_pientry* next = e->next;
      if ((static_cast<const ProfileData&>(*e->data).flags & PL_FLAG_SHARE) && !live.count(e))
        list->RemoveEntry(e);
      e = next;
    }
  }
  return PL_OK;
}

// Files named by any entry of the index.
std::set<std::string> referenced_files(const PL_INDEX* index) {
  std::set<std::string> files;
  for (const CProfilesIdx* list : {&entries(index, false), &entries(index, true)})
    for (t_pientry* e = list->GetFirstEntry(); e; e = e->next) {
      const auto& d = static_cast<const ProfileData&>(*e->data);
      if (!d.table.empty()) files.insert(d.table);
      if (!d.readings.empty()) files.insert(d.readings);
    }
  return files;
}

int32_t remove_media(SOVolume* volume, PL_INDEX* index, const char* media) {
  Key key;
  if (!make_default_key(key, media, "", "") || key[0].empty()) return PL_ERR_ARGUMENT;
  Key media_only = {key[0]};
  std::set<std::string> before = referenced_files(index);
  for (CProfLibIdx* list : std::initializer_list<CProfLibIdx*>{
           &entries(index, false), &entries(index, true), &index->defaults})
    while (t_pientry* e = list->FindEntry(media_only)) list->RemoveEntry(e);
  std::set<std::string> after = referenced_files(index);
  for (const std::string& f : before)
    if (!after.count(f) && Ofileexists(volume, f.c_str(), 0)) VRemove(volume, f.c_str());
  return PL_OK;
}

// Copies the profile entries and defaults of one media to another; the
// files are copied under the new entry's names.
int32_t copy_media(SOVolume* volume, PL_INDEX* index, const char* from, const char* to) {
  Key src, dst;
  if (!make_default_key(src, from, "", "") || !make_default_key(dst, to, "", "") ||
      src[0].empty() || dst[0].empty())
    return PL_ERR_ARGUMENT;
  CProfilesIdx& list = index->profiles;
  std::vector<t_pientry*> copies;
  for (t_pientry* e = list.FindEntry({src[0]}); e && compare_partial({src[0]}, e->key) == 0;
       e = e->next) {
    t_pientry* c = list.AllocEntry();
    c->key = e->key;
    c->key[0] = dst[0];
    c->data = e->data->Clone();
    copies.push_back(c);
  }
  for (t_pientry* c : copies) {
    auto& d = static_cast<ProfileData&>(*c->data);
    d.shares.clear();
    char name[PL_FILE_MAX];
    const int32_t type = PI_map_type(c->key[3].c_str());
    if (!d.table.empty() &&
        member_path(name, "T", "icc", c->key[0].c_str(), c->key[1].c_str(), c->key[2].c_str(), type,
                    c->key[4].c_str(), true) &&
        Ocopyfile(volume, d.table.c_str(), volume, name))
      d.table = name;
    if (!d.readings.empty() &&
        member_path(name, "R", "rdg", c->key[0].c_str(), c->key[1].c_str(), c->key[2].c_str(), type,
                    c->key[4].c_str(), true) &&
        Ocopyfile(volume, d.readings.c_str(), volume, name))
      d.readings = name;
    list.AddEntry(c);  // an entry already there is kept
  }
  std::vector<t_pientry*> defaults;
  for (t_pientry* e = index->defaults.FindEntry({src[0]});
       e && compare_partial({src[0]}, e->key) == 0; e = e->next) {
    t_pientry* c = index->defaults.AllocEntry();
    c->key = e->key;
    c->key[0] = dst[0];
    c->data = e->data->Clone();
    defaults.push_back(c);
  }
  for (t_pientry* c : defaults) index->defaults.AddEntry(c);
  return PL_OK;
}

}  // namespace

KLV_API int32_t PL_make_table_path(char* out, const char* media, const char* setting,
                                   const char* pattern, int32_t type, const char* name) {
  return member_path(out, "T", "icc", media, setting, pattern, type, name, true);
}
KLV_API int32_t PL_make_readings_path(char* out, const char* media, const char* setting,
                                      const char* pattern, int32_t type, const char* name) {
  return member_path(out, "R", "rdg", media, setting, pattern, type, name, true);
}
KLV_API int32_t PL_make_modeltable_path(char* out, const char* media, const char* setting,
                                        const char* third, int32_t type, const char* name) {
  return member_path(out, "M", "mdl", media, setting, third, type, name, false);
}
KLV_API int32_t PL_make_modelswatch_path(char* out, const char* media, const char* setting,
                                         const char* third, int32_t type, const char* name) {
  return member_path(out, "W", "swt", media, setting, third, type, name, false);
}
KLV_API int32_t PL_make_swatch_path(char* out, const char* media, const char* setting,
                                    const char* pattern, int32_t type, const char* name) {
  return member_path(out, "S", "swt", media, setting, pattern, type, name, true);
}

KLV_API int32_t PL_split_swatch_path(const char* path, char* media, char* setting, char* pattern,
                                     int32_t* type, char* name) {
  std::string text = path ? path : "";
  if (text.size() < 6 || text.compare(0, 2, "S~") != 0 || !ends_with(text, ".swt")) return 0;
  std::string key = text.substr(2, text.size() - 6);
  return PI_split_key(key.c_str(), media, setting, pattern, type, name);
}

KLV_API int32_t PL_vget_swatch_list(SOVolume* volume, const char* media, SSTRAL** out) {
  if (!out) return PL_ERR_ARGUMENT;
  *out = nullptr;
  if (!volume) return PL_ERR_ARGUMENT;
  SSTRAL* list = _stral_new();
  if (!list) return PL_ERR_KEY;
  for (const std::string& member : members(volume, ".\\S~*.swt")) {
    char m[PL_FIELD_MAX], s[PL_FIELD_MAX], p[PL_FIELD_MAX], n[PL_FIELD_MAX];
    int32_t type = -1;
    if (!PL_split_swatch_path(member.c_str(), m, s, p, &type, n)) continue;
    if (media && *media && strcasecmp(media, m) != 0) continue;
    std::string t = type_field(type);
    const char* row[6] = {member.c_str(), m, s, p, t.c_str(), n};
    stral_add(list, row, 6);
  }
  *out = list;
  return PL_OK;
}
KLV_API int32_t PL_get_swatch_list(const char* printer, const char* media, SSTRAL** out) {
  return with_library(printer, [&](SOVolume* v) { return PL_vget_swatch_list(v, media, out); });
}

KLV_API int32_t PL_vdefragment_library(SOVolume* volume) {
  return with_index(volume, true, defragment);
}

KLV_API int32_t PL_vconvert_library(SOVolume* volume) {
  // Reading converts old entries; writing stores them in the current form.
  return with_index(volume, true, [](PL_INDEX*) { return PL_OK; });
}

KLV_API int32_t PL_vremove_media_profiles(SOVolume* volume, const char* media) {
  return with_index(volume, true, [&](PL_INDEX* i) { return remove_media(volume, i, media); });
}
KLV_API int32_t PL_remove_media_profiles(const char* printer, const char* media) {
  return with_library(printer, [&](SOVolume* v) { return PL_vremove_media_profiles(v, media); });
}

KLV_API int32_t PL_vcopy_media_profiles(SOVolume* volume, const char* from, const char* to) {
  return with_index(volume, true, [&](PL_INDEX* i) { return copy_media(volume, i, from, to); });
}
KLV_API int32_t PL_copy_media_profiles(const char* printer, const char* from, const char* to) {
  return with_library(printer, [&](SOVolume* v) { return PL_vcopy_media_profiles(v, from, to); });
}
