// SPDX-License-Identifier: MIT
// Owners for the job settings and processing records of klv/job_settings.h
// and klv/proc_info.h, for C++ callers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "klv/job_settings.h"
#include "klv/proc_info.h"

namespace klv {

struct SettingsFree {
  void operator()(settings* s) const { settings_free(s); }
};
struct PresetsFree {
  void operator()(pset* p) const { free_psets(p); }
};
struct ProcInfoFree {
  void operator()(proc_info* r) const { proc_info_free(r); }
};

using SettingsPtr = std::unique_ptr<settings, SettingsFree>;
using PresetsPtr = std::unique_ptr<pset, PresetsFree>;
using ProcInfoPtr = std::unique_ptr<proc_info, ProcInfoFree>;

// A job's record (a job volume, folder or settings file); empty on failure.
inline SettingsPtr load_job_settings(const char* job) {
  return SettingsPtr(job_settings_load(job));
}

// Record number `index` of a processing record file; empty when missing.
inline ProcInfoPtr load_proc_info(const char* path, int32_t index = 0) {
  return ProcInfoPtr(proc_info_load(nullptr, path, index));
}

// The text a record is stored as (never enciphered); "" when memory is short.
inline std::string text_of(const settings& s) {
  std::unique_ptr<char, decltype(&settings_text_free)> t(settings_text(&s), settings_text_free);
  return t ? std::string(t.get()) : std::string();
}
inline std::string text_of(const proc_info& r) {
  std::unique_ptr<char, decltype(&proc_info_text_free)> t(proc_info_text(&r), proc_info_text_free);
  return t ? std::string(t.get()) : std::string();
}

}  // namespace klv
