// SPDX-License-Identifier: MIT
// The colour-management service inside the library: the registry of types
// and their engine records, engine library loading and the lookups every
// exported CMS function starts with.
//
// The state is process-wide: made by cms_initialize, freed by cms_terminate,
// read-only in between except for the build tables, which are loaded on
// first use under the state's lock.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "klv/cms.h"
#include "klv/platform.h"

struct CmsEngine {
  std::string name, apply_dll, build_dll;  // each at most 80 characters
  klv::platform::DynamicLibrary apply_lib, build_lib;
  cms_apply_table apply{};
  cms_build_table build{};
  bool apply_loaded = false;
  bool build_loaded = false;
  bool build_tried = false;
  void* value = nullptr;    // per-engine value, released at termination (slot 6)
  void* handle = nullptr;   // passed first to every apply operation
  void* builder = nullptr;  // passed first to every build operation
};

struct CmsType {
  int32_t id = 0;
  std::string name;
  std::vector<std::unique_ptr<CmsEngine>> engines;  // the first is the default
};

struct cms_info {
  std::vector<std::unique_ptr<CmsType>> types;  // registration order
  std::string info_folder;                      // where CMSTypes.Info was found
  std::mutex build_lock;
};

namespace klv::cms {

// The running service, null when not running.
cms_info* state();

// Reports a fault to the caller's callback (when given).
void report(cms_error_callback cb, void* cookie, const char* name, int32_t code);

// The engine serving a type: the record named `engine` when it matches
// exactly, else the default; the default when the chosen one has no apply
// table; null (reported) when there is no service, no type, or no loaded
// engine. `who` names the node or type in reports.
CmsEngine* find_engine(int32_t type, const char* engine, const char* who, cms_error_callback cb,
                       void* cookie);

// The engine for a build operation, with its build table loaded. Null
// (reported) when there is none or the build library cannot serve.
CmsEngine* find_builder(int32_t type, const char* engine, cms_error_callback cb, void* cookie);

// Finds an engine library file: the name as given and, for ".dll", with
// ".so" in its place; along the program's search path, in the folder of
// CMSTypes.Info and in the installed engines folder. "" when none.
std::string locate_library(const std::string& library, const std::string& info_folder);

// The built-in display name of type ids 0..20, "" for others.
std::string builtin_type_name(int32_t id);

}  // namespace klv::cms
