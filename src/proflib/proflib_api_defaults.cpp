// SPDX-License-Identifier: MIT
// The exported default entry operations and the named profile lookup.
#include "proflib/proflib_ops.h"

using namespace klv::proflib;

namespace {

bool from_public(const PL_DEFAULT_ENTRY* in, t_pientry* e) {
  if (!make_default_key(e->key, in->media, in->setting, in->pattern)) return false;
  auto& d = static_cast<DefaultData&>(*e->data);
  d.items.clear();
  for (int32_t i = 0; i < in->count; ++i) {
    std::string name;
    if (!clean_field(in->items[i].name, name)) return false;
    CDefaultsIdx::AddItem(d, in->items[i].type, in->items[i].name);
  }
  return true;
}

int32_t to_public(const t_pientry* e, PL_DEFAULT_ENTRY* out) {
  copy_text(out->media, PL_FIELD_MAX, e->key[0]);
  copy_text(out->setting, PL_FIELD_MAX, e->key[1]);
  copy_text(out->pattern, PL_FIELD_MAX, pattern_text(e->key[2]));
  out->count = 0;
  for (const auto& [type, name] : static_cast<const DefaultData&>(*e->data).items)
    if (int32_t s = PL_add_default_item(out, type, name.c_str())) return s;
  return PL_OK;
}

t_pientry* find(const PL_INDEX* index, const char* media, const char* setting,
                const char* pattern) {
  Key key;
  if (!index->defaults.MakeKey(key, media, setting, pattern)) return nullptr;
  return index->defaults.FindEntry(key);
}

}  // namespace

KLV_API int32_t PL_iadd_default_entry(PL_INDEX* index, const PL_DEFAULT_ENTRY* entry) {
  if (!index) return PL_ERR_NO_INDEX;
  if (!entry) return PL_ERR_ARGUMENT;
  t_pientry* e = index->defaults.AllocEntry();
  if (!from_public(entry, e)) {
    index->defaults.FreeEntry(e);
    return PL_ERR_KEY;
  }
  return index->defaults.AddEntry(e) < 0 ? PL_ERR_EXISTS : PL_OK;
}
KLV_API int32_t PL_vadd_default_entry(SOVolume* volume, const PL_DEFAULT_ENTRY* entry) {
  return with_index(volume, true, [&](PL_INDEX* i) { return PL_iadd_default_entry(i, entry); });
}
KLV_API int32_t PL_add_default_entry(const char* printer, const PL_DEFAULT_ENTRY* entry) {
  return with_library(printer, [&](SOVolume* v) { return PL_vadd_default_entry(v, entry); });
}

KLV_API int32_t PL_iupdate_default_entry(PL_INDEX* index, const PL_DEFAULT_ENTRY* entry) {
  if (!index) return PL_ERR_NO_INDEX;
  if (!entry) return PL_ERR_ARGUMENT;
  t_pientry scratch;
  scratch.data = std::make_unique<DefaultData>();
  if (!from_public(entry, &scratch)) return PL_ERR_KEY;
  for (t_pientry* e = index->defaults.FindEntry(scratch.key); e; e = e->next) {
    int c = compare_exact(scratch.key, e->key);
    if (c < 0) break;
    if (c == 0) {
      e->data = std::move(scratch.data);
      return PL_OK;
    }
  }
  return PL_ERR_NOT_FOUND;
}
KLV_API int32_t PL_vupdate_default_entry(SOVolume* volume, const PL_DEFAULT_ENTRY* entry) {
  return with_index(volume, true, [&](PL_INDEX* i) { return PL_iupdate_default_entry(i, entry); });
}
KLV_API int32_t PL_update_default_entry(const char* printer, const PL_DEFAULT_ENTRY* entry) {
  return with_library(printer, [&](SOVolume* v) { return PL_vupdate_default_entry(v, entry); });
}

KLV_API int32_t PL_iget_default_entry(const PL_INDEX* index, const char* media, const char* setting,
                                      const char* pattern, PL_DEFAULT_ENTRY* out) {
  if (!index) return PL_ERR_NO_INDEX;
  t_pientry* e = find(index, media, setting, pattern);
  if (!e) return PL_ERR_NOT_FOUND;
  return out ? to_public(e, out) : PL_OK;
}
KLV_API int32_t PL_vget_default_entry(SOVolume* volume, const char* media, const char* setting,
                                      const char* pattern, PL_DEFAULT_ENTRY* out) {
  return with_index(volume, false, [&](PL_INDEX* i) {
    return PL_iget_default_entry(i, media, setting, pattern, out);
  });
}
KLV_API int32_t PL_get_default_entry(const char* printer, const char* media, const char* setting,
                                     const char* pattern, PL_DEFAULT_ENTRY* out) {
  return with_library(
      printer, [&](SOVolume* v) { return PL_vget_default_entry(v, media, setting, pattern, out); });
}

KLV_API int32_t PL_iremove_default_entry(PL_INDEX* index, const char* media, const char* setting,
                                         const char* pattern) {
  if (!index) return PL_ERR_NO_INDEX;
  t_pientry* e = find(index, media, setting, pattern);
  if (!e) return PL_ERR_NOT_FOUND;
  index->defaults.RemoveEntry(e);
  return PL_OK;
}
KLV_API int32_t PL_vremove_default_entry(SOVolume* volume, const char* media, const char* setting,
                                         const char* pattern) {
  return with_index(volume, true, [&](PL_INDEX* i) {
    return PL_iremove_default_entry(i, media, setting, pattern);
  });
}
KLV_API int32_t PL_remove_default_entry(const char* printer, const char* media, const char* setting,
                                        const char* pattern) {
  return with_library(
      printer, [&](SOVolume* v) { return PL_vremove_default_entry(v, media, setting, pattern); });
}

KLV_API int32_t PL_iexist_default_entry(const PL_INDEX* index, const char* media,
                                        const char* setting, const char* pattern) {
  return index && find(index, media, setting, pattern) ? 1 : 0;
}
KLV_API int32_t PL_vexist_default_entry(SOVolume* volume, const char* media, const char* setting,
                                        const char* pattern) {
  int32_t found = 0;
  with_index(volume, false, [&](PL_INDEX* i) {
    found = PL_iexist_default_entry(i, media, setting, pattern);
    return PL_OK;
  });
  return found;
}
KLV_API int32_t PL_exist_default_entry(const char* printer, const char* media, const char* setting,
                                       const char* pattern) {
  int32_t found = 0;
  with_library(printer, [&](SOVolume* v) {
    found = PL_vexist_default_entry(v, media, setting, pattern);
    return PL_OK;
  });
  return found;
}

KLV_API int32_t PL_iget_default_profile(const PL_INDEX* index, const char* media,
                                        const char* setting, const char* pattern, uint32_t type,
                                        char* name_out) {
  if (!name_out) return PL_ERR_ARGUMENT;
  name_out[0] = '\0';
  if (!index) return PL_ERR_NO_INDEX;
  t_pientry* e = find(index, media, setting, pattern);
  if (!e) return PL_ERR_NOT_FOUND;
  const auto& d = static_cast<const DefaultData&>(*e->data);
  int32_t i = CDefaultsIdx::FindItem(d, type);
  if (i < 0) return PL_ERR_NOT_FOUND;
  copy_text(name_out, PL_FIELD_MAX, d.items[static_cast<size_t>(i)].second);
  return PL_OK;
}

KLV_API int32_t PL_iget_named_profile(const PL_INDEX* index, const char* media, const char* setting,
                                      const char* pattern, uint32_t type, const char* name,
                                      char* out) {
  if (!out) return PL_ERR_ARGUMENT;
  out[0] = '\0';
  if (!index) return PL_ERR_NO_INDEX;
  const auto t = static_cast<int32_t>(type & 0x7fffffffu);
  char fallback[PL_FIELD_MAX] = {};
  PL_iget_default_profile(index, media, setting, pattern, type, fallback);
  const char* wanted = name && *name ? name : fallback;
  if (*wanted) PL_iget_profile_table(index, media, setting, pattern, t, wanted, out);
  if (!out[0] && *fallback && wanted != fallback)
    PL_iget_profile_table(index, media, setting, pattern, t, fallback, out);
  return out[0] ? PL_OK : PL_ERR_NOT_FOUND;
}
KLV_API int32_t PL_vget_named_profile(SOVolume* volume, const char* media, const char* setting,
                                      const char* pattern, uint32_t type, const char* name,
                                      char* out) {
  return with_index(volume, false, [&](PL_INDEX* i) {
    return PL_iget_named_profile(i, media, setting, pattern, type, name, out);
  });
}
KLV_API int32_t PL_get_named_profile(const char* printer, const char* media, const char* setting,
                                     const char* pattern, uint32_t type, const char* name,
                                     char* out) {
  return with_library(printer, [&](SOVolume* v) {
    return PL_vget_named_profile(v, media, setting, pattern, type, name, out);
  });
}
