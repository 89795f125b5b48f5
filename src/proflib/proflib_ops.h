// SPDX-License-Identifier: MIT
// Operations on a loaded index shared by the profile and model forms, and the
// layering that runs one of them on a volume or a printer's library.
#pragma once

#include <functional>

#include "proflib/proflib_index.h"

namespace klv::proflib {

// The entry list an operation works on.
CProfilesIdx& entries(PL_INDEX* index, bool models);
const CProfilesIdx& entries(const PL_INDEX* index, bool models);

int32_t add_entry(CProfilesIdx& list, const PL_ENTRY* entry);
int32_t update_entry(CProfilesIdx& list, const PL_ENTRY* entry);
int32_t get_entry(const CProfilesIdx& list, const char* media, const char* setting,
                  const char* third, int32_t type, const char* name, PL_ENTRY* out);
int32_t remove_entry(CProfilesIdx& list, const char* media, const char* setting, const char* third,
                     int32_t type, const char* name);
int32_t exist_entry(const CProfilesIdx& list, const char* media, const char* setting,
                    const char* third, int32_t type, const char* name);
int32_t list_entries(const CProfilesIdx& list, const char* media, const char* setting,
                     const char* third, int32_t type, SSTRAL** out);
int32_t entry_table(const CProfilesIdx& list, const char* media, const char* setting,
                    const char* third, int32_t type, const char* name, char* out);

// Loads the index of the volume, runs `op` on it and saves the index when
// `op` succeeded and `changes` is set. The status of op, or of the load/save.
int32_t with_index(SOVolume* volume, bool changes, const std::function<int32_t(PL_INDEX*)>& op);
// Opens the printer's library, runs `op` on the volume and closes it.
int32_t with_library(const char* printer, const std::function<int32_t(SOVolume*)>& op);

}  // namespace klv::proflib
