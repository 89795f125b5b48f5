// SPDX-License-Identifier: MIT
// The sorted entry list shared by the three index sections.
#include <strings.h>

#include <algorithm>
#include <cstdlib>

#include "proflib/proflib_index.h"

namespace klv::proflib {

CProfLibIdx::~CProfLibIdx() {
  // Subclasses own nothing beyond the entries; freeing needs no virtual call.
  t_pientry* e = first_;
  while (e) {
    t_pientry* next = e->next;
    delete e;
    e = next;
  }
}

void CProfLibIdx::FreeEntry(t_pientry* entry) {
  delete entry;
}

void CProfLibIdx::BuildIndex() const {
  if (array_.size() == count_) return;
  array_.clear();
  array_.reserve(count_);
  for (t_pientry* e = first_; e; e = e->next) array_.push_back(e);
}

int32_t CProfLibIdx::AddEntry(t_pientry* entry) {
  BuildIndex();
  // The first entry not below the new one.
  auto it = std::lower_bound(array_.begin(), array_.end(), entry, [](t_pientry* a, t_pientry* b) {
    return compare_exact(a->key, b->key) < 0;
  });
  if (it != array_.end() && compare_exact((*it)->key, entry->key) == 0) {
    FreeEntry(entry);
    return -1;
  }
  const auto position = static_cast<int32_t>(it - array_.begin());
  t_pientry* before = it == array_.end() ? nullptr : *it;
  entry->next = before;
  entry->prev = before ? before->prev : last_;
  if (entry->prev)
    entry->prev->next = entry;
  else
    first_ = entry;
  if (before)
    before->prev = entry;
  else
    last_ = entry;
  ++count_;
  ResetIndex();
  return position;
}

void CProfLibIdx::RemoveEntry(t_pientry* entry) {
  if (!entry) return;
  if (entry->prev)
    entry->prev->next = entry->next;
  else
    first_ = entry->next;
  if (entry->next)
    entry->next->prev = entry->prev;
  else
    last_ = entry->prev;
  --count_;
  FreeEntry(entry);
  ResetIndex();
}

t_pientry* CProfLibIdx::FindFrom(const Key& key, t_pientry* from) const {
  for (t_pientry* e = from; e; e = e->next)
    if (compare_partial(key, e->key) == 0) return e;
  return nullptr;
}

t_pientry* CProfLibIdx::FindEntry(const Key& key) const {
  // A key with an empty field before a filled one matches entries that are
  // not next to each other in key order: those are found by walking the list.
  bool gap = false, empty = false;
  for (const std::string& f : key) {
    if (f.empty())
      empty = true;
    else if (empty)
      gap = true;
  }
  if (gap) return FindFrom(key, first_);
  BuildIndex();
  // Matching entries lie together; find the first of them.
  auto it = std::partition_point(array_.begin(), array_.end(),
                                 [&](t_pientry* e) { return compare_partial(key, e->key) > 0; });
  if (it == array_.end() || compare_partial(key, (*it)->key) != 0) return nullptr;
  return *it;
}

void CProfLibIdx::Empty() {
  while (first_) RemoveEntry(first_);
}

bool CProfLibIdx::ReadVersion(SFPARSE* fp, uint32_t& version) {
  version = 0;
  char word[64];
  if (fp_peek_token(fp, word, sizeof word) != KLV_FP_WORD || strcasecmp(word, "Version") != 0)
    return true;
  fp_get_token(fp, word, sizeof word);
  if (fp_get_token(fp, nullptr, 0) != KLV_FP_OPEN) return false;
  if (fp_get_token(fp, word, sizeof word) != KLV_FP_WORD) return false;
  char* end = nullptr;
  unsigned long v = std::strtoul(word, &end, 16);
  if (end == word || *end || v > 0xffffffffUL) return false;
  version = static_cast<uint32_t>(v);
  return fp_get_token(fp, nullptr, 0) == KLV_FP_CLOSE;
}

}  // namespace klv::proflib
