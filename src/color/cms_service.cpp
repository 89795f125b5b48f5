// SPDX-License-Identifier: MIT
// The colour-management service: reading "CMSTypes.Info", registering the
// types and their engines, loading engine libraries, start and end of the
// service and of threads, and the type queries.
//
// "CMSTypes.Info" is a settings text file:
//
//   CMS_Types {
//     CMMS {
//       Type { 1 3 15 }              ; the type ids this engine serves
//       Name { "ICC" }               ; the type's name (ids above 20)
//       CMM { LittleCMS }            ; the engine's name
//       ApplyDLL { klvcms_lcms2.dll }
//       BuildDLL { klvcms_lcms2.dll }
//     }
//   }
//
// A type may be named by several records; its first engine is its default.
#include <dlfcn.h>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "color/cms_service.h"
#include "klv/kernel_path.h"
#include "klv/kernel_settings.h"
#include "klv/kernel_util.h"
#include "klv/log.h"

namespace {

std::unique_ptr<cms_info> g_state;
std::mutex g_service_lock;  // start and end of the service

constexpr size_t kNameLimit = CMS_NAME_SIZE - 1;
constexpr int32_t kMaxTypeId = 1 << 20;

std::string lower(std::string text) {
  for (auto& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::string cut(std::string text) {
  if (text.size() > kNameLimit) text.resize(kNameLimit);
  return text;
}

bool file_exists(const std::string& path) {
  char found[KLV_PATH_MAX];
  return _findinpath(path.c_str(), found) && std::string(found) == path;
}

// The folder engines are installed in: klv/cms beside the folder of libklv.
std::string engines_folder() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&cms_initialize), &info) || !info.dli_fname) return {};
  std::string self = info.dli_fname;
  const size_t slash = self.rfind('/');
  if (slash == std::string::npos) return {};
  return self.substr(0, slash) + "/klv/cms";
}

// ---------------------------------------------------------------------------
// Engine libraries

bool load_apply(CmsEngine& engine, const std::string& info_folder, const char* who,
                cms_error_callback cb, void* cookie) {
  const std::string path = klv::cms::locate_library(engine.apply_dll, info_folder);
  if (path.empty() || !engine.apply_lib.Open(path)) {
    KLV_LOG(KLV_LOG_ERROR, "Failed to load %s dll with error code %d (%s)",
            path.empty() ? engine.apply_dll.c_str() : path.c_str(), path.empty() ? ENOENT : -1,
            path.empty() ? "not found" : engine.apply_lib.ErrorText().c_str());
    klv::cms::report(cb, cookie, who, CMS_ERR_LOAD);
    return false;
  }
  auto fill = engine.apply_lib.SymbolAs<cms_apply_api_funcs_fn>("cms_apply_api_funcs");
  cms_apply_table table{};
  table.size = sizeof table;
  bool ok = false;
  if (!fill) {
    KLV_LOG(KLV_LOG_ERROR, "engine library %s has no cms_apply_api_funcs", path.c_str());
  } else if (!fill(&table, &engine.handle, &engine.value, engine.name.c_str(), cb, cookie)) {
    KLV_LOG(KLV_LOG_ERROR, "engine %s refused to start", engine.name.c_str());
  } else if (table.size != sizeof table || table.version != CMS_API_VERSION) {
    KLV_LOG(KLV_LOG_ERROR,
            "engine library %s has an apply table of %u bytes, version %u (%zu, %d "
            "expected)",
            path.c_str(), table.size, table.version, sizeof table, CMS_API_VERSION);
  } else {
    ok = true;
  }
  if (!ok) {
    engine.apply_lib.Close();
    engine.handle = engine.value = nullptr;
    klv::cms::report(cb, cookie, who, CMS_ERR_REFUSED);
    return false;
  }
  engine.apply = table;
  engine.apply_loaded = true;
  KLV_LOG(KLV_LOG_INFO, "colour engine %s loaded from %s", engine.name.c_str(), path.c_str());
  return true;
}

bool load_build(CmsEngine& engine, const std::string& info_folder, cms_error_callback cb,
                void* cookie) {
  engine.build_tried = true;
  klv::platform::DynamicLibrary* lib = &engine.apply_lib;
  if (lower(engine.build_dll) != lower(engine.apply_dll)) {
    const std::string path = klv::cms::locate_library(engine.build_dll, info_folder);
    if (path.empty() || !engine.build_lib.Open(path)) {
      KLV_LOG(KLV_LOG_ERROR, "Failed to load %s dll with error code %d (%s)",
              path.empty() ? engine.build_dll.c_str() : path.c_str(), path.empty() ? ENOENT : -1,
              path.empty() ? "not found" : engine.build_lib.ErrorText().c_str());
      klv::cms::report(cb, cookie, engine.name.c_str(), CMS_ERR_LOAD);
      return false;
    }
    lib = &engine.build_lib;
  }
  auto fill = lib->SymbolAs<cms_build_api_funcs_fn>("cms_build_api_funcs");
  cms_build_table table{};
  table.size = sizeof table;
  if (!fill || !fill(&table, &engine.builder, engine.name.c_str(), cb, cookie) ||
      table.size != sizeof table || table.version != CMS_API_VERSION) {
    KLV_LOG(KLV_LOG_ERROR, "engine %s gives no usable build operations (%s)", engine.name.c_str(),
            engine.build_dll.c_str());
    if (lib == &engine.build_lib) engine.build_lib.Close();
    engine.builder = nullptr;
    klv::cms::report(cb, cookie, engine.name.c_str(), CMS_ERR_REFUSED);
    return false;
  }
  engine.build = table;
  engine.build_loaded = true;
  return true;
}

// ---------------------------------------------------------------------------
// CMSTypes.Info

struct Record {
  std::vector<int32_t> ids;
  std::string name, cmm, apply, build;
};

// Reads the entries of one CMMS block up to its closing brace.
bool read_record(SFPARSE* fp, Record& record) {
  char key[256];
  for (;;) {
    const int32_t kind = fp_get_token(fp, key, sizeof key);
    if (kind == KLV_FP_CLOSE) return true;
    if (kind != KLV_FP_WORD) return false;
    char value[1024] = "";
    if (Ostricmp(key, "Type") == 0 || Ostricmp(key, "Types") == 0) {
      int32_t count = 0;
      char** list = get_char_list(fp, &count);
      if (!list) return false;
      for (int32_t i = 0; i < count; ++i) {
        const char* end = nullptr;
        const int32_t id = OatoiEx(list[i], &end);
        if (end && *end == '\0' && id >= 0 && id <= kMaxTypeId)
          record.ids.push_back(id);
        else
          KLV_LOG(KLV_LOG_ERROR, "CMSTypes.Info: \"%s\" is not a type id", list[i]);
      }
      free_char_list(list);
    } else if (Ostricmp(key, "Name") == 0 || Ostricmp(key, "CMM") == 0 ||
               Ostricmp(key, "ApplyDLL") == 0 || Ostricmp(key, "BuildDLL") == 0) {
      if (!fp_get_string(fp, value, sizeof value)) return false;
      std::string& field = Ostricmp(key, "Name") == 0       ? record.name
                           : Ostricmp(key, "CMM") == 0      ? record.cmm
                           : Ostricmp(key, "ApplyDLL") == 0 ? record.apply
                                                            : record.build;
      field = cut(value);
    } else if (!fp_skip_value(fp)) {
      return false;
    }
  }
}

CmsType& type_for(cms_info& state, int32_t id, const std::string& name) {
  for (auto& t : state.types)
    if (t->id == id) return *t;
  auto type = std::make_unique<CmsType>();
  type->id = id;
  const std::string builtin = klv::cms::builtin_type_name(id);
  type->name = !builtin.empty() ? builtin : !name.empty() ? name : "Type " + std::to_string(id);
  state.types.push_back(std::move(type));
  return *state.types.back();
}

void register_record(cms_info& state, const Record& record, cms_error_callback cb, void* cookie) {
  if (record.ids.empty() || record.cmm.empty() || record.apply.empty()) {
    KLV_LOG(KLV_LOG_ERROR, "CMSTypes.Info: a CMMS record lacks its Type, CMM or ApplyDLL");
    return;
  }
  for (int32_t id : record.ids) {
    CmsType& type = type_for(state, id, record.name);
    auto engine = std::make_unique<CmsEngine>();
    engine->name = record.cmm;
    engine->apply_dll = record.apply;
    engine->build_dll = record.build.empty() ? record.apply : record.build;
    load_apply(*engine, state.info_folder, type.name.c_str(), cb, cookie);
    type.engines.push_back(std::move(engine));
  }
}

// Reads the registry; false when the block cannot be read.
bool read_types(cms_info& state, const char* path, cms_error_callback cb, void* cookie) {
  SFPARSE* fp = fp_open(nullptr, path, 0);
  if (!fp) return false;
  bool ok = off_open_rec(fp, "CMS_Types") == 1;
  while (ok) {
    char token[256];
    const int32_t kind = fp_get_token(fp, token, sizeof token);
    if (kind == KLV_FP_CLOSE) break;
    if (kind != KLV_FP_WORD) {
      ok = false;
      break;
    }
    if (Ostricmp(token, "CMMS") != 0) {
      if (!fp_skip_value(fp)) ok = false;
      continue;
    }
    Record record;
    if (fp_get_token(fp, token, sizeof token) != KLV_FP_OPEN || !read_record(fp, record)) {
      KLV_LOG(KLV_LOG_ERROR, "CMSTypes.Info line %d: a CMMS record is broken", fp_line(fp));
      ok = false;
      break;
    }
    register_record(state, record, cb, cookie);
  }
  fp_close(fp);
  return ok;
}

void unload_all(cms_info& state) {
  for (auto& type : state.types)
    for (auto& engine : type->engines) {
      engine->build_lib.Close();
      engine->apply_lib.Close();
      engine->apply_loaded = engine->build_loaded = false;
    }
  state.types.clear();
}

// Ends every loaded engine; false when one refuses (the rest stay as they are).
bool terminate_engines(cms_info& state, cms_error_callback cb, void* cookie) {
  for (auto& type : state.types)
    for (auto& engine : type->engines) {
      if (!engine->apply_loaded) continue;
      if (engine->value && engine->apply.release_value)
        engine->apply.release_value(engine->handle, engine->value, cb, cookie);
      engine->value = nullptr;
      if (engine->apply.terminate && !engine->apply.terminate(engine->handle, cb, cookie)) {
        KLV_LOG(KLV_LOG_ERROR, "colour engine %s refused to terminate", engine->name.c_str());
        return false;
      }
      engine->build_lib.Close();
      engine->apply_lib.Close();
      engine->apply_loaded = engine->build_loaded = false;
    }
  return true;
}

}  // namespace

namespace klv::cms {

cms_info* state() {
  return g_state.get();
}

void report(cms_error_callback cb, void* cookie, const char* name, int32_t code) {
  if (cb) cb(name ? name : "", code, 0.0, cookie);
}

std::string builtin_type_name(int32_t id) {
  // Display names of the built-in types (message numbers 138, 132 .. 36).
  static constexpr const char* kNames[] = {
      "None",         "ICC Profile",    "GCR Table",     "Device Link",     "Named Colors",
      "Ink Limits",   "Linearization",  "Abstract",      "Proofing",        "Spot Colors",
      "Gray Balance", "Output Profile", "Input Profile", "Display Profile", "None",
      "Emulation",    "Color Table",    "Color Space",   "Calibration",     "Density",
      "Measurement",
  };
  if (id < 0 || id >= static_cast<int32_t>(std::size(kNames))) return {};
  return kNames[id];
}

std::string locate_library(const std::string& library, const std::string& info_folder) {
  if (library.empty()) return {};
  std::vector<std::string> names{library};
  const std::string low = lower(library);
  if (low.size() > 4 && low.compare(low.size() - 4, 4, ".dll") == 0)
    names.push_back(library.substr(0, library.size() - 4) + ".so");
  for (const auto& name : names) {
    char found[KLV_PATH_MAX];
    if (_findinpath(name.c_str(), found)) {
      std::string path = found;
      if (path.find('/') == std::string::npos) path = "./" + path;
      return path;
    }
    std::string base = name;
    if (const size_t slash = base.find_last_of("/\\"); slash != std::string::npos)
      base = base.substr(slash + 1);
    for (const auto& folder : {info_folder, engines_folder()}) {
      if (folder.empty()) continue;
      const std::string path = klv::platform::JoinPath(folder, base);
      if (file_exists(path)) return path;
    }
  }
  return {};
}

CmsEngine* find_engine(int32_t type, const char* engine, const char* who, cms_error_callback cb,
                       void* cookie) {
  cms_info* s = state();
  if (!s) {
    report(cb, cookie, who, CMS_ERR_NOT_RUNNING);
    return nullptr;
  }
  CmsType* found = nullptr;
  for (auto& t : s->types)
    if (t->id == type) found = t.get();
  if (!found) {
    report(cb, cookie, who, CMS_ERR_NOT_REGISTERED);
    return nullptr;
  }
  if (found->engines.empty()) {
    report(cb, cookie, who, CMS_ERR_REFUSED);
    return nullptr;
  }
  CmsEngine* chosen = found->engines.front().get();
  if (engine && *engine)
    for (auto& e : found->engines)
      if (e->name == engine) {
        chosen = e.get();
        break;
      }
  if (!chosen->apply_loaded) chosen = found->engines.front().get();
  if (!chosen->apply_loaded) {
    report(cb, cookie, who, CMS_ERR_REFUSED);
    return nullptr;
  }
  return chosen;
}

CmsEngine* find_builder(int32_t type, const char* engine, cms_error_callback cb, void* cookie) {
  CmsEngine* e = find_engine(type, engine, builtin_type_name(type).c_str(), cb, cookie);
  if (!e) return nullptr;
  std::lock_guard<std::mutex> guard(state()->build_lock);
  if (!e->build_loaded && !e->build_tried) {
    // The first try reports its own failure; later calls only refuse.
    return load_build(*e, state()->info_folder, cb, cookie) ? e : nullptr;
  }
  if (!e->build_loaded) {
    report(cb, cookie, e->name.c_str(), CMS_ERR_REFUSED);
    return nullptr;
  }
  return e;
}

}  // namespace klv::cms

// ---------------------------------------------------------------------------
// Exported functions

extern "C" {

KLV_API int32_t cms_initialize(cms_error_callback callback, void* cookie) {
  try {
    std::lock_guard<std::mutex> guard(g_service_lock);
    if (g_state) return 1;
    // The Server search path first; the ordinary one holds the installed default.
    char path[KLV_PATH_MAX];
    if (!_findinpath_ex("Server", "CMSTypes.Info", path) && !_findinpath("CMSTypes.Info", path))
      return 0;
    auto state = std::make_unique<cms_info>();
    char drive[KLV_SPLIT_DRIVE], dir[KLV_SPLIT_DIR];
    _splitvpath(path, drive, dir, nullptr, nullptr);
    state->info_folder = std::string(drive) + dir;
    if (!read_types(*state, path, callback, cookie)) {
      // No window to show here: the message goes to the log.
      KLV_LOG(KLV_LOG_ERROR,
              "Error: Could not load CMSTypes.Info. KELV Color Management System terminating. "
              "(%s)",
              path);
      terminate_engines(*state, callback, cookie);
      unload_all(*state);
      return 0;
    }
    g_state = std::move(state);
    return 1;
  } catch (...) {
    klv::cms::report(callback, cookie, "CMSTypes.Info", CMS_ERR_MEMORY);
    return 0;
  }
}

KLV_API int32_t cms_terminate(cms_error_callback callback, void* cookie) {
  try {
    std::lock_guard<std::mutex> guard(g_service_lock);
    if (!g_state) return 1;
    if (!terminate_engines(*g_state, callback, cookie)) return 0;
    unload_all(*g_state);
    g_state.reset();
    return 1;
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t cms_init_thread(cms_error_callback callback, void* cookie) {
  cms_info* s = klv::cms::state();
  if (!s) return 0;
  std::vector<CmsEngine*> begun;
  for (auto& type : s->types)
    for (auto& engine : type->engines) {
      if (!engine->apply_loaded || !engine->apply.begin_thread) continue;
      if (!engine->apply.begin_thread(engine->handle, callback, cookie)) {
        for (CmsEngine* e : begun)
          if (e->apply.end_thread) e->apply.end_thread(e->handle, callback, cookie);
        return 0;
      }
      begun.push_back(engine.get());
    }
  return 1;
}

KLV_API int32_t cms_term_thread(cms_error_callback callback, void* cookie) {
  cms_info* s = klv::cms::state();
  if (!s) return 0;
  int32_t result = 1;
  for (auto& type : s->types)
    for (auto& engine : type->engines)
      if (engine->apply_loaded && engine->apply.end_thread &&
          !engine->apply.end_thread(engine->handle, callback, cookie))
        result = 0;
  return result;
}

KLV_API const cms_info* cms_get_info(void) {
  return klv::cms::state();
}

KLV_API int32_t cms_type_id_from_name(const char* name) {
  cms_info* s = klv::cms::state();
  if (!s || !name) return -1;
  for (auto& t : s->types)
    if (Ostricmp(t->name.c_str(), name) == 0) return t->id;
  return -1;
}

KLV_API int32_t cms_type_name_from_id(int32_t id, char* out) {
  if (!out) return 0;
  out[0] = '\0';
  cms_info* s = klv::cms::state();
  if (!s) return 0;
  for (auto& t : s->types)
    if (t->id == id) {
      std::strncpy(out, t->name.c_str(), kNameLimit);
      out[kNameLimit] = '\0';
      return 1;
    }
  return 0;
}

KLV_API int32_t cms_type_get_info(int32_t id, const char* engine) {
  return klv::cms::find_engine(id, engine, nullptr, nullptr, nullptr) ? 1 : 0;
}

KLV_API int32_t cms_type_count(void) {
  cms_info* s = klv::cms::state();
  return s ? static_cast<int32_t>(s->types.size()) : 0;
}

KLV_API int32_t cms_type_id_at(int32_t index) {
  cms_info* s = klv::cms::state();
  if (!s || index < 0 || index >= static_cast<int32_t>(s->types.size())) return -1;
  return s->types[static_cast<size_t>(index)]->id;
}

}  // extern "C"
