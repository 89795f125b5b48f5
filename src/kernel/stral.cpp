// SPDX-License-Identifier: MIT
// String lists: a vector of elements, each element one block of text holding
// its strings back to back plus an argv-like pointer array into that block.
// Moving an element (when the vector grows or an element is deleted) moves
// only the owning pointers, so the strings never change address.
#include <cstdarg>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "klv/kernel_stral.h"
#include "klv/kernel_util.h"

namespace {

struct Element {
  std::unique_ptr<char[]> text;
  std::vector<const char*> ptrs;  // count + 1 entries, the last null

  int32_t count() const { return static_cast<int32_t>(ptrs.size()) - 1; }
};

Element make_element(const char* const* strings, int32_t count) {
  size_t total = 0;
  for (int32_t i = 0; i < count; ++i) total += (strings[i] ? std::strlen(strings[i]) : 0) + 1;
  Element e;
  e.text.reset(new char[total > 0 ? total : 1]);
  e.ptrs.reserve(static_cast<size_t>(count) + 1);
  char* p = e.text.get();
  for (int32_t i = 0; i < count; ++i) {
    const char* s = strings[i] ? strings[i] : "";
    size_t n = std::strlen(s) + 1;
    std::memcpy(p, s, n);
    e.ptrs.push_back(p);
    p += n;
  }
  e.ptrs.push_back(nullptr);
  return e;
}

Element copy_element(const Element& from) {
  return make_element(from.ptrs.data(), from.count());
}

bool equal_nocase(const char* a, const char* b) {
  return Ostricmp(a, b) == 0;
}

}  // namespace

struct SSTRAL {
  std::vector<Element> elements;
};

namespace {

bool valid_index(const SSTRAL* list, int32_t index) {
  return list && index >= 0 && static_cast<size_t>(index) < list->elements.size();
}

int32_t find_in(const SSTRAL* list, const char* const* keys, int32_t count, bool nocase) {
  if (!list || count < 0 || (count > 0 && !keys)) return -1;
  for (size_t i = 0; i < list->elements.size(); ++i) {
    const Element& e = list->elements[i];
    if (e.count() < count) continue;
    bool match = true;
    for (int32_t k = 0; k < count && match; ++k) {
      const char* key = keys[k] ? keys[k] : "";
      if (std::strcmp(key, "?") == 0) continue;
      match = nocase ? equal_nocase(key, e.ptrs[k]) : std::strcmp(key, e.ptrs[k]) == 0;
    }
    if (match) return static_cast<int32_t>(i);
  }
  return -1;
}

// Collects the null-terminated variadic strings after `list`.
std::vector<const char*> collect(va_list args) {
  std::vector<const char*> out;
  for (const char* s = va_arg(args, const char*); s; s = va_arg(args, const char*))
    out.push_back(s);
  return out;
}

}  // namespace

extern "C" {

KLV_API SSTRAL* _stral_new(void) {
  return new (std::nothrow) SSTRAL;
}

KLV_API SSTRAL* _stral_copy(const SSTRAL* list) {
  if (!list) return nullptr;
  try {
    auto copy = std::make_unique<SSTRAL>();
    copy->elements.reserve(list->elements.size());
    for (const Element& e : list->elements) copy->elements.push_back(copy_element(e));
    return copy.release();
  } catch (...) {
    return nullptr;
  }
}

KLV_API void stral_free(SSTRAL* list) {
  delete list;
}

KLV_API int32_t stral_add(SSTRAL* list, const char* const* strings, int32_t count) {
  if (!list || count < 0 || (count > 0 && !strings)) return -1;
  if (list->elements.size() >= static_cast<size_t>(INT32_MAX)) return -1;
  try {
    list->elements.push_back(make_element(strings, count));
    return static_cast<int32_t>(list->elements.size() - 1);
  } catch (...) {
    return -1;
  }
}

KLV_API int32_t stral_addv(SSTRAL* list, ...) {
  if (!list) return -1;
  int32_t result = -1;
  va_list args;
  va_start(args, list);
  try {
    std::vector<const char*> strings = collect(args);
    result = stral_add(list, strings.data(), static_cast<int32_t>(strings.size()));
  } catch (...) {
  }
  va_end(args);
  return result;
}

KLV_API int32_t stral_del(SSTRAL* list, int32_t index) {
  if (!valid_index(list, index)) return 0;
  list->elements.erase(list->elements.begin() + index);
  return 1;
}

KLV_API void stral_clear(SSTRAL* list) {
  if (list) list->elements.clear();
}

KLV_API int32_t stral_count(const SSTRAL* list) {
  return list ? static_cast<int32_t>(list->elements.size()) : 0;
}

KLV_API int32_t stral_size(const SSTRAL* list, int32_t index) {
  return valid_index(list, index) ? list->elements[index].count() : -1;
}

KLV_API const char* const* stral_get(const SSTRAL* list, int32_t index, int32_t* count) {
  if (!valid_index(list, index)) {
    if (count) *count = 0;
    return nullptr;
  }
  const Element& e = list->elements[index];
  if (count) *count = e.count();
  return e.ptrs.data();
}

KLV_API const char* stral_str(const SSTRAL* list, int32_t index, int32_t column) {
  if (!valid_index(list, index)) return nullptr;
  const Element& e = list->elements[index];
  if (column < 0 || column >= e.count()) return nullptr;
  return e.ptrs[column];
}

KLV_API int32_t stral_find_array(const SSTRAL* list, const char* const* keys, int32_t count) {
  return find_in(list, keys, count, false);
}

KLV_API int32_t stral_ifind_array(const SSTRAL* list, const char* const* keys, int32_t count) {
  return find_in(list, keys, count, true);
}

KLV_API int32_t stral_find(const SSTRAL* list, ...) {
  if (!list) return -1;
  int32_t result = -1;
  va_list args;
  va_start(args, list);
  try {
    std::vector<const char*> keys = collect(args);
    result = find_in(list, keys.data(), static_cast<int32_t>(keys.size()), false);
  } catch (...) {
  }
  va_end(args);
  return result;
}

}  // extern "C"
