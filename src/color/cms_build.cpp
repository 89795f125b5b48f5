// SPDX-License-Identifier: MIT
// The profiling operations (swatches and tables): each finds the engine of a
// type, loads its build operations on first use and passes through.
#include "color/cms_service.h"
#include "klv/log.h"

namespace {

using klv::cms::find_builder;
using klv::cms::report;

// Calls a build slot; `fallback` is the result when there is no engine or slot.
template <typename Result, typename Slot, typename... Args>
Result build(int32_t type, const char* engine, cms_error_callback cb, void* cookie, Result fallback,
             Slot cms_build_table::*slot, Args... args) {
  try {
    CmsEngine* e = find_builder(type, engine, cb, cookie);
    if (!e) return fallback;
    auto fn = e->build.*slot;
    if (!fn) {
      KLV_LOG(KLV_LOG_ERROR, "colour engine %s does not offer this profiling operation",
              e->name.c_str());
      report(cb, cookie, e->name.c_str(), CMS_ERR_REFUSED);
      return fallback;
    }
    return fn(e->builder, args..., cb, cookie);
  } catch (...) {
    report(cb, cookie, engine, CMS_ERR_MEMORY);
    return fallback;
  }
}

}  // namespace

extern "C" {

KLV_API int32_t cms_profile_make_path(int32_t type, const char* engine, const char* name, char* out,
                                      int32_t size, cms_error_callback cb, void* cookie) {
  if (!out || size <= 0) return 0;
  out[0] = '\0';
  return build<int32_t>(type, engine, cb, cookie, 0, &cms_build_table::make_path, name, out, size);
}

KLV_API void* cms_profile_swatch_new(int32_t type, const char* engine, cms_error_callback cb,
                                     void* cookie) {
  return build<void*>(type, engine, cb, cookie, nullptr, &cms_build_table::swatch_new);
}

KLV_API int32_t cms_profile_swatch_free(int32_t type, const char* engine, void* swatch,
                                        cms_error_callback cb, void* cookie) {
  return build<int32_t>(type, engine, cb, cookie, 0, &cms_build_table::swatch_free, swatch);
}

KLV_API void* cms_profile_swatch_load(int32_t type, const char* engine, const char* path,
                                      cms_error_callback cb, void* cookie) {
  return build<void*>(type, engine, cb, cookie, nullptr, &cms_build_table::swatch_load, path);
}

KLV_API int32_t cms_profile_swatch_save(int32_t type, const char* engine, void* swatch,
                                        const char* path, cms_error_callback cb, void* cookie) {
  return build<int32_t>(type, engine, cb, cookie, 0, &cms_build_table::swatch_save, swatch, path);
}

KLV_API int32_t cms_profile_swatch_makejob(int32_t type, const char* engine, void* swatch,
                                           const char* path, cms_error_callback cb, void* cookie) {
  return build<int32_t>(type, engine, cb, cookie, 0, &cms_build_table::swatch_makejob, swatch,
                        path);
}

KLV_API int32_t cms_profile_swatch_createjob(int32_t type, const char* engine, void* swatch,
                                             const char* path, cms_error_callback cb,
                                             void* cookie) {
  return build<int32_t>(type, engine, cb, cookie, 0, &cms_build_table::swatch_createjob, swatch,
                        path);
}

KLV_API int32_t cms_profile_swatch_setup(int32_t type, const char* engine, void* swatch,
                                         cms_error_callback cb, void* cookie) {
  return build<int32_t>(type, engine, cb, cookie, 0, &cms_build_table::swatch_setup, swatch);
}

KLV_API void* cms_profile_table_new(int32_t type, const char* engine, cms_error_callback cb,
                                    void* cookie) {
  return build<void*>(type, engine, cb, cookie, nullptr, &cms_build_table::table_new);
}

KLV_API int32_t cms_profile_table_free(int32_t type, const char* engine, void* table,
                                       cms_error_callback cb, void* cookie) {
  return build<int32_t>(type, engine, cb, cookie, 0, &cms_build_table::table_free, table);
}

KLV_API void* cms_profile_table_load(int32_t type, const char* engine, const char* path,
                                     cms_error_callback cb, void* cookie) {
  return build<void*>(type, engine, cb, cookie, nullptr, &cms_build_table::table_load, path);
}

KLV_API int32_t cms_profile_table_save(int32_t type, const char* engine, void* table,
                                       const char* path, cms_error_callback cb, void* cookie) {
  return build<int32_t>(type, engine, cb, cookie, 0, &cms_build_table::table_save, table, path);
}

KLV_API int32_t cms_profile_table_setup(int32_t type, const char* engine, void* table,
                                        cms_error_callback cb, void* cookie) {
  return build<int32_t>(type, engine, cb, cookie, 0, &cms_build_table::table_setup, table);
}

KLV_API int32_t cms_profile_table_build(int32_t type, const char* engine, void* table, void* swatch,
                                        cms_error_callback cb, void* cookie) {
  return build<int32_t>(type, engine, cb, cookie, 0, &cms_build_table::table_build, table, swatch);
}

KLV_API int32_t cms_profile_table_create(int32_t type, const char* engine, void* table,
                                         const char* path, cms_error_callback cb, void* cookie) {
  return build<int32_t>(type, engine, cb, cookie, 0, &cms_build_table::table_create, table, path);
}

KLV_API int32_t cms_profile_table_tweak(int32_t type, const char* engine, void* table,
                                        cms_error_callback cb, void* cookie) {
  return build<int32_t>(type, engine, cb, cookie, 0, &cms_build_table::table_tweak, table);
}

}  // extern "C"
