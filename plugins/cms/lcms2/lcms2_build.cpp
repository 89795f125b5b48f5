// SPDX-License-Identifier: MIT
// The build operations of the LittleCMS engine and its export
// "cms_build_api_funcs". What LittleCMS can do for real is served: swatches
// are CGATS measurement files (its IT8 reader and writer), tables are
// profiles (new, load, save, free). Building a profile from measurements,
// tweaking it, and the set-up and job dialogs have nothing behind them on
// this platform: those slots refuse with a log line saying so.
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include <unistd.h>

#include "klv/log.h"
#include "lcms2_engine.h"

namespace klvcms {
namespace {

struct Builder {
  cmsContext ctx = nullptr;
};

// The build operations have no end call, so the builders made by the export
// are freed when the library is unloaded.
struct Builders {
  std::mutex lock;
  std::vector<Builder*> made;
  ~Builders() {
    for (Builder* b : made) {
      cmsDeleteContext(b->ctx);
      delete b;
    }
  }
};
Builders g_builders;

cmsContext ctx_of(void* builder) {
  return static_cast<Builder*>(builder)->ctx;
}

int32_t refuse(cms_error_callback cb, void* cookie, const char* what) {
  KLV_LOG(KLV_LOG_ERROR, "LittleCMS engine: %s is not available on this platform", what);
  if (cb) cb("LittleCMS", CMS_ERR_REFUSED, 0.0, cookie);
  return 0;
}

int32_t refuse_io(cms_error_callback cb, void* cookie, const char* what, const char* path) {
  KLV_LOG(KLV_LOG_ERROR, "LittleCMS engine: cannot %s \"%s\"", what, path ? path : "");
  if (cb) cb(path ? path : "", CMS_ERR_REFUSED, 0.0, cookie);
  return 0;
}

// Profiles the user makes live in $XDG_DATA_HOME/klv/profiles (else ~/.local/share).
int32_t make_path(void*, const char* name, char* out, int32_t size, cms_error_callback cb,
                  void* cookie) {
  if (!name || !*name) return refuse_io(cb, cookie, "name a profile path for", name);
  std::string base;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg)
    base = xdg;
  else if (const char* home = std::getenv("HOME"); home && *home)
    base = std::string(home) + "/.local/share";
  else
    return refuse_io(cb, cookie, "find a home folder for", name);
  const std::string path = base + "/klv/profiles/" + name + ".icc";
  if (path.size() >= static_cast<size_t>(size)) return refuse_io(cb, cookie, "fit", path.c_str());
  std::snprintf(out, static_cast<size_t>(size), "%s", path.c_str());
  return 1;
}

void* swatch_new(void* builder, cms_error_callback cb, void* cookie) {
  cmsHANDLE it8 = cmsIT8Alloc(ctx_of(builder));
  if (!it8 && cb) cb("LittleCMS", CMS_ERR_MEMORY, 0.0, cookie);
  return it8;
}

int32_t swatch_free(void*, void* swatch, cms_error_callback, void*) {
  if (swatch) cmsIT8Free(swatch);
  return 1;
}

// Writes a file through LittleCMS under a temporary name beside `path` and
// renames it over `path` only when the whole file was written, so that a
// failed save never leaves a cut file or destroys the one that was there.
template <typename Write>
bool save_whole(const char* path, Write write) {
  const std::string temp = std::string(path) + ".tmp" + std::to_string(::getpid());
  if (write(temp.c_str()) && std::rename(temp.c_str(), path) == 0) return true;
  std::remove(temp.c_str());
  return false;
}

void* swatch_load(void* builder, const char* path, cms_error_callback cb, void* cookie) {
  cmsHANDLE it8 = path ? cmsIT8LoadFromFile(ctx_of(builder), path) : nullptr;
  if (!it8) refuse_io(cb, cookie, "read the CGATS file", path);
  return it8;
}

int32_t swatch_save(void*, void* swatch, const char* path, cms_error_callback cb, void* cookie) {
  if (!swatch || !path ||
      !save_whole(path, [&](const char* f) { return cmsIT8SaveToFile(swatch, f) != 0; }))
    return refuse_io(cb, cookie, "write the CGATS file", path);
  return 1;
}

int32_t swatch_makejob(void*, void*, const char*, cms_error_callback cb, void* cookie) {
  return refuse(cb, cookie, "making a swatch print job");
}
int32_t swatch_setup(void*, void*, cms_error_callback cb, void* cookie) {
  return refuse(cb, cookie, "the swatch set-up dialog");
}
int32_t swatch_createjob(void*, void*, const char*, cms_error_callback cb, void* cookie) {
  return refuse(cb, cookie, "creating a swatch job");
}

void* table_new(void* builder, cms_error_callback cb, void* cookie) {
  cmsHPROFILE p = cmsCreateProfilePlaceholder(ctx_of(builder));
  if (!p && cb) cb("LittleCMS", CMS_ERR_MEMORY, 0.0, cookie);
  return p;
}

int32_t table_free(void*, void* table, cms_error_callback, void*) {
  if (table) cmsCloseProfile(table);
  return 1;
}

void* table_load(void* builder, const char* path, cms_error_callback cb, void* cookie) {
  cmsHPROFILE p = path ? cmsOpenProfileFromFileTHR(ctx_of(builder), path, "r") : nullptr;
  if (!p) refuse_io(cb, cookie, "read the profile", path);
  return p;
}

int32_t table_save(void*, void* table, const char* path, cms_error_callback cb, void* cookie) {
  if (!table || !path ||
      !save_whole(path, [&](const char* f) { return cmsSaveProfileToFile(table, f) != 0; }))
    return refuse_io(cb, cookie, "write the profile", path);
  return 1;
}

int32_t table_setup(void*, void*, cms_error_callback cb, void* cookie) {
  return refuse(cb, cookie, "the table set-up dialog");
}
int32_t table_build(void*, void*, void*, cms_error_callback cb, void* cookie) {
  return refuse(cb, cookie, "building a profile from measurements");
}
int32_t table_tweak(void*, void*, cms_error_callback cb, void* cookie) {
  return refuse(cb, cookie, "tweaking a profile");
}
int32_t table_create(void*, void*, const char*, cms_error_callback cb, void* cookie) {
  return refuse(cb, cookie, "the table creation dialog");
}

}  // namespace
}  // namespace klvcms

extern "C" __attribute__((visibility("default"))) int32_t cms_build_api_funcs(
    cms_build_table* table, void** builder, const char*, cms_error_callback, void*) {
  using namespace klvcms;
  if (!table || !builder || table->size < sizeof(cms_build_table)) return 0;
  auto* b = new (std::nothrow) Builder;
  if (!b) return 0;
  b->ctx = cmsCreateContext(nullptr, b);
  if (!b->ctx) {
    delete b;
    return 0;
  }
  *table = cms_build_table{};
  table->size = sizeof(cms_build_table);
  table->version = CMS_API_VERSION;
  table->make_path = make_path;
  table->swatch_new = swatch_new;
  table->swatch_free = swatch_free;
  table->swatch_load = swatch_load;
  table->swatch_save = swatch_save;
  table->swatch_makejob = swatch_makejob;
  table->swatch_setup = swatch_setup;
  table->table_new = table_new;
  table->table_free = table_free;
  table->table_load = table_load;
  table->table_save = table_save;
  table->table_setup = table_setup;
  table->table_build = table_build;
  table->table_tweak = table_tweak;
  table->swatch_createjob = swatch_createjob;
  table->table_create = table_create;
  try {
    std::lock_guard<std::mutex> guard(g_builders.lock);
    g_builders.made.push_back(b);
  } catch (...) {
    cmsDeleteContext(b->ctx);
    delete b;
    return 0;
  }
  *builder = b;
  return 1;
}
