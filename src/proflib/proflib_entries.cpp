// SPDX-License-Identifier: MIT
// Public entry objects and their default items.
#include <cstdlib>
#include <cstring>

#include "proflib/proflib_index.h"

using namespace klv::proflib;

namespace {

PL_ENTRY* new_entry() {
  auto* e = static_cast<PL_ENTRY*>(std::calloc(1, sizeof(PL_ENTRY)));
  if (e) e->type = -1;
  return e;
}

void free_entry(PL_ENTRY* e) {
  if (!e) return;
  stral_free(e->shares);
  std::free(e);
}

}  // namespace

KLV_API PL_ENTRY* PL_new_profile_entry(void) {
  return new_entry();
}
KLV_API void PL_free_profile_entry(PL_ENTRY* entry) {
  free_entry(entry);
}
KLV_API PL_ENTRY* PL_new_model_entry(void) {
  return new_entry();
}
KLV_API void PL_free_model_entry(PL_ENTRY* entry) {
  free_entry(entry);
}

KLV_API PL_DEFAULT_ENTRY* PL_new_default_entry(void) {
  return static_cast<PL_DEFAULT_ENTRY*>(std::calloc(1, sizeof(PL_DEFAULT_ENTRY)));
}

KLV_API void PL_free_default_entry(PL_DEFAULT_ENTRY* entry) {
  if (!entry) return;
  std::free(entry->items);
  std::free(entry);
}

KLV_API int32_t PL_set_entry_key(PL_ENTRY* entry, const char* media, const char* setting,
                                 const char* pattern, int32_t type, const char* name) {
  if (!entry) return 0;
  copy_text(entry->media, PL_FIELD_MAX, media ? media : "");
  copy_text(entry->setting, PL_FIELD_MAX, setting ? setting : "");
  copy_text(entry->pattern, PL_FIELD_MAX, pattern ? pattern : "");
  entry->type = type;
  copy_text(entry->name, PL_FIELD_MAX, name ? name : "");
  return 1;
}

KLV_API int32_t PL_find_default_item(const PL_DEFAULT_ENTRY* entry, uint32_t type) {
  if (!entry) return -1;
  for (int32_t i = 0; i < entry->count; ++i)
    if (entry->items[i].type == type) return i;
  return -1;
}

KLV_API int32_t PL_add_default_item(PL_DEFAULT_ENTRY* entry, uint32_t type, const char* name) {
  if (!entry || !name) return PL_ERR_ARGUMENT;
  if (PL_find_default_item(entry, type) >= 0) return PL_update_default_item_type(entry, type, name);
  if (entry->count >= entry->capacity) {
    int32_t capacity = entry->capacity ? entry->capacity * 2 : 4;
    auto* items = static_cast<PL_DEFAULT_ITEM*>(
        std::realloc(entry->items, sizeof(PL_DEFAULT_ITEM) * static_cast<size_t>(capacity)));
    if (!items) return PL_ERR_KEY;
    entry->items = items;
    entry->capacity = capacity;
  }
  PL_DEFAULT_ITEM& item = entry->items[entry->count++];
  item.type = type;
  copy_text(item.name, PL_FIELD_MAX, name);
  return PL_OK;
}

KLV_API int32_t PL_remove_default_item(PL_DEFAULT_ENTRY* entry, int32_t position) {
  if (!entry || position < 0 || position >= entry->count) return PL_ERR_ARGUMENT;
  std::memmove(entry->items + position, entry->items + position + 1,
               sizeof(PL_DEFAULT_ITEM) * static_cast<size_t>(entry->count - position - 1));
  --entry->count;
  return PL_OK;
}

KLV_API int32_t PL_remove_default_item_type(PL_DEFAULT_ENTRY* entry, uint32_t type) {
  int32_t i = PL_find_default_item(entry, type);
  return i < 0 ? PL_ERR_NOT_FOUND : PL_remove_default_item(entry, i);
}

KLV_API int32_t PL_update_default_item_type(PL_DEFAULT_ENTRY* entry, uint32_t type,
                                            const char* name) {
  int32_t i = PL_find_default_item(entry, type);
  if (i < 0 || !name) return PL_ERR_NOT_FOUND;
  copy_text(entry->items[i].name, PL_FIELD_MAX, name);
  return PL_OK;
}
