// SPDX-License-Identifier: MIT
// Profile and model entry operations on a loaded index.
#include <strings.h>

#include "proflib/proflib_ops.h"

namespace klv::proflib {
namespace {

// Fills a list entry from a public entry; false when a key cannot be made.
bool from_public(const CProfilesIdx& list, const PL_ENTRY* in, t_pientry* e) {
  if (!list.MakeKey(e->key, in->media, in->setting, in->pattern, in->type, in->name)) return false;
  auto& d = static_cast<ProfileData&>(*e->data);
  d.owner = in->owner;
  d.flags = in->flags;
  d.table = in->table;
  d.readings = in->readings;
  d.shares.clear();
  for (int32_t i = 0; i < stral_count(in->shares); ++i) {
    Key k;
    if (!list.MakeShareKey(k, stral_str(in->shares, i, 0), stral_str(in->shares, i, 1),
                           stral_str(in->shares, i, 2)))
      return false;
    d.shares.push_back(std::move(k));
  }
  return true;
}

std::string third_text(const CProfilesIdx& list, const std::string& field) {
  return list.models() ? field : pattern_text(field);
}

void to_public(const CProfilesIdx& list, const t_pientry* e, PL_ENTRY* out) {
  const auto& d = static_cast<const ProfileData&>(*e->data);
  PL_set_entry_key(out, e->key[0].c_str(), e->key[1].c_str(), third_text(list, e->key[2]).c_str(),
                   PI_map_type(e->key[3].c_str()), e->key[4].c_str());
  copy_text(out->owner, PL_FIELD_MAX, d.owner);
  out->flags = d.flags;
  copy_text(out->table, PL_FILE_MAX, d.table);
  copy_text(out->readings, PL_FILE_MAX, d.readings);
  stral_free(out->shares);
  out->shares = _stral_new();
  for (const Key& k : d.shares) {
    std::string third = third_text(list, k[2]);
    const char* s[3] = {k[0].c_str(), k[1].c_str(), third.c_str()};
    stral_add(out->shares, s, 3);
  }
}

// Makes the share entries of a profile entry that are missing (a model's
// references name other models and make no entries).
void add_shares(CProfilesIdx& list, const t_pientry* e) {
  const auto& d = static_cast<const ProfileData&>(*e->data);
  if (list.models() || (d.flags & PL_FLAG_SHARE)) return;
  for (const Key& share : d.shares) {
    Key key = {share[0], share[1], share[2], e->key[3], e->key[4]};
    t_pientry* s = list.AllocEntry();
    s->key = key;
    auto& sd = static_cast<ProfileData&>(*s->data);
    sd.owner = d.owner;
    sd.flags = PL_FLAG_SHARE;
    sd.table = d.table;
    sd.readings = d.readings;
    list.AddEntry(s);  // an entry already there is kept
  }
}

t_pientry* find_exact(const CProfilesIdx& list, const Key& key) {
  for (t_pientry* e = list.FindEntry(key); e; e = list.GetNextEntry(e)) {
    int c = compare_exact(key, e->key);
    if (c == 0) return e;
    if (c < 0) break;
  }
  return nullptr;
}

}  // namespace

int32_t add_entry(CProfilesIdx& list, const PL_ENTRY* entry) {
  if (!entry) return PL_ERR_ARGUMENT;
  t_pientry* e = list.AllocEntry();
  if (!from_public(list, entry, e)) {
    list.FreeEntry(e);
    return PL_ERR_KEY;
  }
  if (list.AddEntry(e) < 0) return PL_ERR_EXISTS;
  add_shares(list, e);
  return PL_OK;
}

int32_t update_entry(CProfilesIdx& list, const PL_ENTRY* entry) {
  if (!entry) return PL_ERR_ARGUMENT;
  t_pientry scratch;
  scratch.data = std::make_unique<ProfileData>();
  if (!from_public(list, entry, &scratch)) return PL_ERR_KEY;
  t_pientry* e = find_exact(list, scratch.key);
  if (!e) return PL_ERR_NOT_FOUND;
  e->data = std::move(scratch.data);
  add_shares(list, e);
  return PL_OK;
}

int32_t get_entry(const CProfilesIdx& list, const char* media, const char* setting,
                  const char* third, int32_t type, const char* name, PL_ENTRY* out) {
  Key key;
  if (!list.MakeKey(key, media, setting, third, type, name)) return PL_ERR_KEY;
  t_pientry* e = list.FindEntry(key);
  if (!e) return PL_ERR_NOT_FOUND;
  if (out) to_public(list, e, out);
  return PL_OK;
}

int32_t remove_entry(CProfilesIdx& list, const char* media, const char* setting, const char* third,
                     int32_t type, const char* name) {
  Key key;
  if (!list.MakeKey(key, media, setting, third, type, name)) return PL_ERR_KEY;
  t_pientry* e = list.FindEntry(key);
  if (!e) return PL_ERR_NOT_FOUND;
  const_cast<CProfilesIdx&>(list).RemoveEntry(e);
  return PL_OK;
}

int32_t exist_entry(const CProfilesIdx& list, const char* media, const char* setting,
                    const char* third, int32_t type, const char* name) {
  Key key;
  return list.MakeKey(key, media, setting, third, type, name) && list.FindEntry(key) ? 1 : 0;
}

int32_t list_entries(const CProfilesIdx& list, const char* media, const char* setting,
                     const char* third, int32_t type, SSTRAL** out) {
  if (!out) return PL_ERR_ARGUMENT;
  *out = nullptr;
  Key key;
  if (!list.MakeKey(key, media, setting, third, type, "")) return PL_ERR_KEY;
  SSTRAL* result = _stral_new();
  if (!result) return PL_ERR_KEY;
  for (t_pientry* e = list.FindFrom(key, list.GetFirstEntry()); e;
       e = list.FindFrom(key, e->next)) {
    std::string t = third_text(list, e->key[2]);
    const char* s[5] = {e->key[0].c_str(), e->key[1].c_str(), t.c_str(), e->key[3].c_str(),
                        e->key[4].c_str()};
    stral_add(result, s, 5);
  }
  *out = result;
  return PL_OK;
}

int32_t entry_table(const CProfilesIdx& list, const char* media, const char* setting,
                    const char* third, int32_t type, const char* name, char* out) {
  if (!out) return PL_ERR_ARGUMENT;
  out[0] = '\0';
  Key key;
  if (!list.MakeKey(key, media, setting, third, type, name)) return PL_ERR_KEY;
  t_pientry* e = list.FindEntry(key);
  if (!e) return PL_ERR_NOT_FOUND;
  copy_text(out, PL_FILE_MAX, static_cast<const ProfileData&>(*e->data).table);
  return PL_OK;
}

CProfilesIdx& entries(PL_INDEX* index, bool models) {
  return models ? static_cast<CProfilesIdx&>(index->models) : index->profiles;
}
const CProfilesIdx& entries(const PL_INDEX* index, bool models) {
  return models ? static_cast<const CProfilesIdx&>(index->models) : index->profiles;
}

}  // namespace klv::proflib
