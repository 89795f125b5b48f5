// SPDX-License-Identifier: MIT
// The search behind SFindRec::search, shared by the host and volume finds: the
// matching entries are collected at the first call and handed out one by one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "klv/kernel_volume.h"

namespace klv::kernel {

struct FindEntry {
  std::string name;
  uint32_t attributes = 0;
  int64_t mtime = 0;
  int64_t size = 0;
  uint64_t id = 0;
};

struct FindSearch {
  std::vector<FindEntry> entries;
  size_t next = 0;
};

// '*' any run of characters, '?' one character; ASCII letters match either case.
bool wildcard_match(const char* pattern, const char* name);

// Hands out the next entry into the record; at the end frees the search,
// clears record->search and gives 0.
int32_t find_next(SFindRec* record);
// Starts a search over entries; 0 (and nothing kept) when there are none.
int32_t find_start(std::vector<FindEntry> entries, SFindRec* record);
void find_close(SFindRec* record);

// Member entries of a volume whose folder matches the pattern's folder and
// whose last name part matches the pattern's last part.
bool volume_find_entries(SOVolume* volume, const char* pattern, std::vector<FindEntry>* out);

}  // namespace klv::kernel
