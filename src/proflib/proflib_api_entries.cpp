// SPDX-License-Identifier: MIT
// The exported profile and model operations in their three layers: on an
// index (PL_i), on a library volume (PL_v) and on a printer name (PL_).
#include "proflib/proflib_ops.h"

using namespace klv::proflib;

namespace {
constexpr bool kModels = true;
}

// ---- Profiles ------------------------------------------------------------------

KLV_API int32_t PL_iadd_profile_entry(PL_INDEX* index, const PL_ENTRY* entry) {
  return index ? add_entry(index->profiles, entry) : PL_ERR_NO_INDEX;
}
KLV_API int32_t PL_vadd_profile_entry(SOVolume* volume, const PL_ENTRY* entry) {
  return with_index(volume, true, [&](PL_INDEX* i) { return PL_iadd_profile_entry(i, entry); });
}
KLV_API int32_t PL_add_profile_entry(const char* printer, const PL_ENTRY* entry) {
  return with_library(printer, [&](SOVolume* v) { return PL_vadd_profile_entry(v, entry); });
}

KLV_API int32_t PL_iupdate_profile_entry(PL_INDEX* index, const PL_ENTRY* entry) {
  return index ? update_entry(index->profiles, entry) : PL_ERR_NO_INDEX;
}
KLV_API int32_t PL_vupdate_profile_entry(SOVolume* volume, const PL_ENTRY* entry) {
  return with_index(volume, true, [&](PL_INDEX* i) { return PL_iupdate_profile_entry(i, entry); });
}
KLV_API int32_t PL_update_profile_entry(const char* printer, const PL_ENTRY* entry) {
  return with_library(printer, [&](SOVolume* v) { return PL_vupdate_profile_entry(v, entry); });
}

KLV_API int32_t PL_iget_profile_entry(const PL_INDEX* index, const char* media, const char* setting,
                                      const char* pattern, int32_t type, const char* name,
                                      PL_ENTRY* out) {
  return index ? get_entry(index->profiles, media, setting, pattern, type, name, out)
               : PL_ERR_NO_INDEX;
}
KLV_API int32_t PL_vget_profile_entry(SOVolume* volume, const char* media, const char* setting,
                                      const char* pattern, int32_t type, const char* name,
                                      PL_ENTRY* out) {
  return with_index(volume, false, [&](PL_INDEX* i) {
    return PL_iget_profile_entry(i, media, setting, pattern, type, name, out);
  });
}
KLV_API int32_t PL_get_profile_entry(const char* printer, const char* media, const char* setting,
                                     const char* pattern, int32_t type, const char* name,
                                     PL_ENTRY* out) {
  return with_library(printer, [&](SOVolume* v) {
    return PL_vget_profile_entry(v, media, setting, pattern, type, name, out);
  });
}

KLV_API int32_t PL_iremove_profile_entry(PL_INDEX* index, const char* media, const char* setting,
                                         const char* pattern, int32_t type, const char* name) {
  return index ? remove_entry(index->profiles, media, setting, pattern, type, name)
               : PL_ERR_NO_INDEX;
}
KLV_API int32_t PL_vremove_profile_entry(SOVolume* volume, const char* media, const char* setting,
                                         const char* pattern, int32_t type, const char* name) {
  return with_index(volume, true, [&](PL_INDEX* i) {
    return PL_iremove_profile_entry(i, media, setting, pattern, type, name);
  });
}
KLV_API int32_t PL_remove_profile_entry(const char* printer, const char* media, const char* setting,
                                        const char* pattern, int32_t type, const char* name) {
  return with_library(printer, [&](SOVolume* v) {
    return PL_vremove_profile_entry(v, media, setting, pattern, type, name);
  });
}

KLV_API int32_t PL_iexist_profile_entry(const PL_INDEX* index, const char* media,
                                        const char* setting, const char* pattern, int32_t type,
                                        const char* name) {
  return index ? exist_entry(index->profiles, media, setting, pattern, type, name) : 0;
}
KLV_API int32_t PL_vexist_profile_entry(SOVolume* volume, const char* media, const char* setting,
                                        const char* pattern, int32_t type, const char* name) {
  int32_t found = 0;
  with_index(volume, false, [&](PL_INDEX* i) {
    found = PL_iexist_profile_entry(i, media, setting, pattern, type, name);
    return PL_OK;
  });
  return found;
}
KLV_API int32_t PL_exist_profile_entry(const char* printer, const char* media, const char* setting,
                                       const char* pattern, int32_t type, const char* name) {
  int32_t found = 0;
  with_library(printer, [&](SOVolume* v) {
    found = PL_vexist_profile_entry(v, media, setting, pattern, type, name);
    return PL_OK;
  });
  return found;
}

KLV_API int32_t PL_iget_profile_list(const PL_INDEX* index, const char* media, const char* setting,
                                     const char* pattern, int32_t type, SSTRAL** out) {
  return index ? list_entries(index->profiles, media, setting, pattern, type, out)
               : PL_ERR_NO_INDEX;
}
KLV_API int32_t PL_vget_profile_list(SOVolume* volume, const char* media, const char* setting,
                                     const char* pattern, int32_t type, SSTRAL** out) {
  return with_index(volume, false, [&](PL_INDEX* i) {
    return PL_iget_profile_list(i, media, setting, pattern, type, out);
  });
}
KLV_API int32_t PL_get_profile_list(const char* printer, const char* media, const char* setting,
                                    const char* pattern, int32_t type, SSTRAL** out) {
  return with_library(printer, [&](SOVolume* v) {
    return PL_vget_profile_list(v, media, setting, pattern, type, out);
  });
}

KLV_API int32_t PL_iget_profile_table(const PL_INDEX* index, const char* media, const char* setting,
                                      const char* pattern, int32_t type, const char* name,
                                      char* out) {
  return index ? entry_table(index->profiles, media, setting, pattern, type, name, out)
               : PL_ERR_NO_INDEX;
}
KLV_API int32_t PL_vget_profile_table(SOVolume* volume, const char* media, const char* setting,
                                      const char* pattern, int32_t type, const char* name,
                                      char* out) {
  return with_index(volume, false, [&](PL_INDEX* i) {
    return PL_iget_profile_table(i, media, setting, pattern, type, name, out);
  });
}
KLV_API int32_t PL_get_profile_table(const char* printer, const char* media, const char* setting,
                                     const char* pattern, int32_t type, const char* name,
                                     char* out) {
  return with_library(printer, [&](SOVolume* v) {
    return PL_vget_profile_table(v, media, setting, pattern, type, name, out);
  });
}

KLV_API int32_t PL_iadd_profile_share(PL_INDEX* index, const char* media, const char* setting,
                                      const char* pattern, int32_t type, const char* name,
                                      const char* share_media, const char* share_setting,
                                      const char* share_pattern, PL_ENTRY* out) {
  if (!index) return PL_ERR_NO_INDEX;
  PL_ENTRY* entry = PL_new_profile_entry();
  if (!entry) return PL_ERR_KEY;
  int32_t status = get_entry(index->profiles, media, setting, pattern, type, name, entry);
  if (status == PL_OK && (entry->flags & PL_FLAG_SHARE)) status = PL_ERR_ARGUMENT;
  if (status == PL_OK) {
    const char* s[3] = {share_media ? share_media : "", share_setting ? share_setting : "",
                        share_pattern ? share_pattern : ""};
    stral_add(entry->shares, s, 3);
    status = update_entry(index->profiles, entry);
  }
  if (status == PL_OK)
    status = get_entry(index->profiles, share_media, share_setting, share_pattern, entry->type,
                       entry->name, out);
  PL_free_profile_entry(entry);
  return status;
}
KLV_API int32_t PL_vadd_profile_share(SOVolume* volume, const char* media, const char* setting,
                                      const char* pattern, int32_t type, const char* name,
                                      const char* share_media, const char* share_setting,
                                      const char* share_pattern, PL_ENTRY* out) {
  return with_index(volume, true, [&](PL_INDEX* i) {
    return PL_iadd_profile_share(i, media, setting, pattern, type, name, share_media, share_setting,
                                 share_pattern, out);
  });
}
KLV_API int32_t PL_add_profile_share(const char* printer, const char* media, const char* setting,
                                     const char* pattern, int32_t type, const char* name,
                                     const char* share_media, const char* share_setting,
                                     const char* share_pattern, PL_ENTRY* out) {
  return with_library(printer, [&](SOVolume* v) {
    return PL_vadd_profile_share(v, media, setting, pattern, type, name, share_media, share_setting,
                                 share_pattern, out);
  });
}

// ---- Models ------------------------------------------------------------------------

KLV_API int32_t PL_iadd_model_entry(PL_INDEX* index, const PL_ENTRY* entry) {
  return index ? add_entry(entries(index, kModels), entry) : PL_ERR_NO_INDEX;
}
KLV_API int32_t PL_vadd_model_entry(SOVolume* volume, const PL_ENTRY* entry) {
  return with_index(volume, true, [&](PL_INDEX* i) { return PL_iadd_model_entry(i, entry); });
}
KLV_API int32_t PL_add_model_entry(const char* printer, const PL_ENTRY* entry) {
  return with_library(printer, [&](SOVolume* v) { return PL_vadd_model_entry(v, entry); });
}

KLV_API int32_t PL_iupdate_model_entry(PL_INDEX* index, const PL_ENTRY* entry) {
  return index ? update_entry(entries(index, kModels), entry) : PL_ERR_NO_INDEX;
}
KLV_API int32_t PL_vupdate_model_entry(SOVolume* volume, const PL_ENTRY* entry) {
  return with_index(volume, true, [&](PL_INDEX* i) { return PL_iupdate_model_entry(i, entry); });
}
KLV_API int32_t PL_update_model_entry(const char* printer, const PL_ENTRY* entry) {
  return with_library(printer, [&](SOVolume* v) { return PL_vupdate_model_entry(v, entry); });
}

KLV_API int32_t PL_iget_model_entry(const PL_INDEX* index, const char* media, const char* setting,
                                    const char* third, int32_t type, const char* name,
                                    PL_ENTRY* out) {
  return index ? get_entry(entries(index, kModels), media, setting, third, type, name, out)
               : PL_ERR_NO_INDEX;
}
KLV_API int32_t PL_vget_model_entry(SOVolume* volume, const char* media, const char* setting,
                                    const char* third, int32_t type, const char* name,
                                    PL_ENTRY* out) {
  return with_index(volume, false, [&](PL_INDEX* i) {
    return PL_iget_model_entry(i, media, setting, third, type, name, out);
  });
}
KLV_API int32_t PL_get_model_entry(const char* printer, const char* media, const char* setting,
                                   const char* third, int32_t type, const char* name,
                                   PL_ENTRY* out) {
  return with_library(printer, [&](SOVolume* v) {
    return PL_vget_model_entry(v, media, setting, third, type, name, out);
  });
}

KLV_API int32_t PL_iremove_model_entry(PL_INDEX* index, const char* media, const char* setting,
                                       const char* third, int32_t type, const char* name) {
  return index ? remove_entry(entries(index, kModels), media, setting, third, type, name)
               : PL_ERR_NO_INDEX;
}
KLV_API int32_t PL_vremove_model_entry(SOVolume* volume, const char* media, const char* setting,
                                       const char* third, int32_t type, const char* name) {
  return with_index(volume, true, [&](PL_INDEX* i) {
    return PL_iremove_model_entry(i, media, setting, third, type, name);
  });
}
KLV_API int32_t PL_remove_model_entry(const char* printer, const char* media, const char* setting,
                                      const char* third, int32_t type, const char* name) {
  return with_library(printer, [&](SOVolume* v) {
    return PL_vremove_model_entry(v, media, setting, third, type, name);
  });
}

KLV_API int32_t PL_iexist_model_entry(const PL_INDEX* index, const char* media, const char* setting,
                                      const char* third, int32_t type, const char* name) {
  return index ? exist_entry(entries(index, kModels), media, setting, third, type, name) : 0;
}
KLV_API int32_t PL_vexist_model_entry(SOVolume* volume, const char* media, const char* setting,
                                      const char* third, int32_t type, const char* name) {
  int32_t found = 0;
  with_index(volume, false, [&](PL_INDEX* i) {
    found = PL_iexist_model_entry(i, media, setting, third, type, name);
    return PL_OK;
  });
  return found;
}
KLV_API int32_t PL_exist_model_entry(const char* printer, const char* media, const char* setting,
                                     const char* third, int32_t type, const char* name) {
  int32_t found = 0;
  with_library(printer, [&](SOVolume* v) {
    found = PL_vexist_model_entry(v, media, setting, third, type, name);
    return PL_OK;
  });
  return found;
}

KLV_API int32_t PL_iget_model_list(const PL_INDEX* index, const char* media, const char* setting,
                                   const char* third, int32_t type, SSTRAL** out) {
  return index ? list_entries(entries(index, kModels), media, setting, third, type, out)
               : PL_ERR_NO_INDEX;
}
KLV_API int32_t PL_vget_model_list(SOVolume* volume, const char* media, const char* setting,
                                   const char* third, int32_t type, SSTRAL** out) {
  return with_index(volume, false, [&](PL_INDEX* i) {
    return PL_iget_model_list(i, media, setting, third, type, out);
  });
}
KLV_API int32_t PL_get_model_list(const char* printer, const char* media, const char* setting,
                                  const char* third, int32_t type, SSTRAL** out) {
  return with_library(printer, [&](SOVolume* v) {
    return PL_vget_model_list(v, media, setting, third, type, out);
  });
}

KLV_API int32_t PL_iget_model_table(const PL_INDEX* index, const char* media, const char* setting,
                                    const char* third, int32_t type, const char* name, char* out) {
  return index ? entry_table(entries(index, kModels), media, setting, third, type, name, out)
               : PL_ERR_NO_INDEX;
}
KLV_API int32_t PL_vget_model_table(SOVolume* volume, const char* media, const char* setting,
                                    const char* third, int32_t type, const char* name, char* out) {
  return with_index(volume, false, [&](PL_INDEX* i) {
    return PL_iget_model_table(i, media, setting, third, type, name, out);
  });
}
KLV_API int32_t PL_get_model_table(const char* printer, const char* media, const char* setting,
                                   const char* third, int32_t type, const char* name, char* out) {
  return with_library(printer, [&](SOVolume* v) {
    return PL_vget_model_table(v, media, setting, third, type, name, out);
  });
}

// ---- Medias ------------------------------------------------------------------------

KLV_API int32_t PL_iget_media_list(const PL_INDEX* index, SSTRAL** out) {
  if (!out) return PL_ERR_ARGUMENT;
  *out = nullptr;
  if (!index) return PL_ERR_NO_INDEX;
  SSTRAL* list = _stral_new();
  if (!list) return PL_ERR_KEY;
  for (t_pientry* e = index->profiles.GetFirstEntry(); e; e = e->next) {
    const char* media = e->key[0].c_str();
    if (stral_ifind_array(list, &media, 1) < 0) stral_add(list, &media, 1);
  }
  *out = list;
  return PL_OK;
}
KLV_API int32_t PL_vget_media_list(SOVolume* volume, SSTRAL** out) {
  return with_index(volume, false, [&](PL_INDEX* i) { return PL_iget_media_list(i, out); });
}
KLV_API int32_t PL_get_media_list(const char* printer, SSTRAL** out) {
  return with_library(printer, [&](SOVolume* v) { return PL_vget_media_list(v, out); });
}
