// SPDX-License-Identifier: MIT
// The screen setup list: allocation, copy, lookup and removal.
#include <cstdlib>
#include <cstring>

#include "klv/kernel_stral.h"
#include "klv/kernel_util.h"
#include "klv/screen_setup.h"

namespace {

// Copies name into a field of `size` bytes without splitting a UTF-8
// character.
void copy_name(char* field, size_t size, const char* name) {
  size_t n = name ? std::strlen(name) : 0;
  if (n > size - 1) {
    n = size - 1;
    while (n > 0 && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80) --n;
  }
  if (n) std::memcpy(field, name, n);
  field[n] = '\0';
}

void free_node(_SCREENSETUP* node) {
  stral_free(node->entries);
  std::free(node);
}

}  // namespace

extern "C" {

KLV_API _SCREENSETUP* new_screen_setup(const char* name) {
  auto* node = static_cast<_SCREENSETUP*>(std::calloc(1, sizeof(_SCREENSETUP)));
  if (!node) return nullptr;
  node->entries = _stral_new();
  if (!node->entries) {
    std::free(node);
    return nullptr;
  }
  copy_name(node->name, sizeof node->name, name);
  return node;
}

KLV_API _SCREENSETUP* copy_screen_settings(const _SCREENSETUP* list) {
  _SCREENSETUP* head = nullptr;
  _SCREENSETUP** tail = &head;
  for (const _SCREENSETUP* s = list; s; s = s->next) {
    auto* node = static_cast<_SCREENSETUP*>(std::calloc(1, sizeof(_SCREENSETUP)));
    if (!node) {
      free_screen_settings(head);
      return nullptr;
    }
    std::memcpy(node->name, s->name, sizeof node->name);
    node->name[sizeof node->name - 1] = '\0';
    node->entries = s->entries ? _stral_copy(s->entries) : _stral_new();
    if (!node->entries) {
      std::free(node);
      free_screen_settings(head);
      return nullptr;
    }
    *tail = node;
    tail = &node->next;
  }
  return head;
}

KLV_API int32_t free_screen_settings(_SCREENSETUP* list) {
  while (list) {
    _SCREENSETUP* next = list->next;
    free_node(list);
    list = next;
  }
  return 0;
}

KLV_API _SCREENSETUP* find_screen_setup(_SCREENSETUP* list, const char* name) {
  if (!name) return nullptr;
  for (_SCREENSETUP* s = list; s; s = s->next)
    if (Ostricmp_mb(s->name, name) == 0) return s;
  return nullptr;
}

KLV_API int32_t delete_screen_setup(_SCREENSETUP** list, _SCREENSETUP* node) {
  if (!list || !*list || !node) return 0;
  for (_SCREENSETUP** link = list; *link; link = &(*link)->next) {
    if (*link == node) {
      *link = node->next;
      free_node(node);
      return 1;
    }
  }
  return 0;
}

}  // extern "C"
