// SPDX-License-Identifier: MIT
// The older printer description: the settings block "Printer_Info".
#include <sys/stat.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "klv/kernel_path_cxx.h"
#include "klv/kernel_util.h"
#include "klv/log.h"
#include "klv/prntinfo.h"
#include "printer/c_records.h"
#include "printer/nearest.h"
#include "printer/printer_lists.h"
#include "printer/text_util.h"

using klv::printer::copy_field;

namespace {

struct ParserCloser {
  void operator()(SFPARSE* fp) const { fp_close(fp); }
};
using ParserPtr = std::unique_ptr<SFPARSE, ParserCloser>;

constexpr int kTokenSize = 1024;

// Reads "{ key { value } ... }" calling on_key(key) for each key; keys it
// does not handle (on_key returns -1) are skipped with their values.
template <typename F>
bool read_keyed_block(SFPARSE* fp, F&& on_key) {
  if (fp_get_token(fp, nullptr, 0) != KLV_FP_OPEN) return false;
  char key[kTokenSize];
  for (;;) {
    int32_t kind = fp_get_token(fp, key, sizeof key);
    if (kind == KLV_FP_CLOSE) return true;
    if (kind != KLV_FP_WORD) return false;
    int r = on_key(key);
    if (r == 0) return false;
    if (r < 0 && fp_peek_token(fp, nullptr, 0) == KLV_FP_OPEN && !fp_skip_value(fp)) return false;
  }
}

bool read_cfg(SFPARSE* fp, dotres* res) {
  auto* cfg = static_cast<dotcfg*>(std::calloc(1, sizeof(dotcfg)));
  if (!cfg) return false;
  if (res->tail)
    res->tail->next = cfg;
  else
    res->head = cfg;
  res->tail = cfg;
  return read_keyed_block(fp, [&](const char* key) -> int {
    if (Ostricmp(key, "Name") == 0) return fp_get_string(fp, cfg->Name, sizeof cfg->Name);
    if (Ostricmp(key, "Data") == 0) {
      SSTRAL* data = fp_get_list(fp);
      if (!data) return 0;
      stral_free(cfg->Data);
      cfg->Data = data;
      return 1;
    }
    return -1;
  });
}

bool read_res(SFPARSE* fp, dotinfo* info) {
  auto* res = static_cast<dotres*>(std::calloc(1, sizeof(dotres)));
  if (!res) return false;
  if (info->tail)
    info->tail->next = res;
  else
    info->head = res;
  info->tail = res;
  return read_keyed_block(fp, [&](const char* key) -> int {
    if (Ostricmp(key, "Res") == 0) return fp_get_string(fp, res->Res, sizeof res->Res);
    if (Ostricmp(key, "CfgInfo") == 0) return read_cfg(fp, res) ? 1 : 0;
    return -1;
  });
}

int32_t read_dotinfo_field(SFPARSE* fp, const off_field*, void* record) {
  auto* r = static_cast<PRNTINFOEX*>(record);
  klv::printer::DotInfoPtr info(static_cast<dotinfo*>(std::calloc(1, sizeof(dotinfo))));
  if (!info) return 0;
  bool ok = read_keyed_block(fp, [&](const char* key) -> int {
    if (Ostricmp(key, "Units") == 0) return fp_get_string(fp, info->Units, sizeof info->Units);
    if (Ostricmp(key, "ResInfo") == 0) return read_res(fp, info.get()) ? 1 : 0;
    return -1;
  });
  if (!ok) {
    KLV_LOG(KLV_LOG_ERROR, "Printer_Info: DotInfo block cannot be read (line %d)", fp_line(fp));
    return 0;
  }
  prntinfo_free_dotinfo(r->DotInfo);
  r->DotInfo = info.release();
  return 1;
}

int32_t write_dotinfo_field(SFilemux* s, int32_t indent, const off_field*, const void* record) {
  const dotinfo* info = static_cast<const PRNTINFOEX*>(record)->DotInfo;
  if (!info) return 1;
  if (!off_put_open(s, indent, "DotInfo") || !off_put_string(s, indent + 1, "Units", info->Units))
    return 0;
  for (const dotres* r = info->head; r; r = r->next) {
    if (!off_put_open(s, indent + 1, "ResInfo") || !off_put_string(s, indent + 2, "Res", r->Res))
      return 0;
    for (const dotcfg* c = r->head; c; c = c->next) {
      if (!off_put_open(s, indent + 2, "CfgInfo") ||
          !off_put_string(s, indent + 3, "Name", c->Name) ||
          !off_put_stral(s, indent + 3, "Data", c->Data) || !off_put_close(s, indent + 2))
        return 0;
    }
    if (!off_put_close(s, indent + 1)) return 0;
  }
  return off_put_close(s, indent);
}

int32_t read_screens_field(SFPARSE* fp, const off_field*, void* record) {
  return get_screen_settings(fp, &static_cast<PRNTINFOEX*>(record)->ScreenSetup);
}

int32_t write_screens_field(SFilemux* s, int32_t indent, const off_field*, const void* record) {
  return put_screen_settings(s, "ScreenSetup", &static_cast<const PRNTINFOEX*>(record)->ScreenSetup,
                             indent);
}

// Keys in the order they are written (sorted without regard to case).
const off_field kInfoTable[] = {
    {"DefaultPageSize", OFF_STRING, 0, offsetof(PRNTINFOEX, DefaultPageSize),
     sizeof(PRNTINFOEX::DefaultPageSize), nullptr, nullptr},
    {"Device", OFF_STRING, 0, offsetof(PRNTINFOEX, Device), sizeof(PRNTINFOEX::Device), nullptr,
     nullptr},
    {"DotInfo", OFF_CUSTOM, 0, offsetof(PRNTINFOEX, DotInfo), 0, read_dotinfo_field,
     write_dotinfo_field},
    {"Media", OFF_STRAL, 0, offsetof(PRNTINFOEX, Media), 0, nullptr, nullptr},
    {"PageSizes", OFF_STRAL, 0, offsetof(PRNTINFOEX, PageSizes), 0, nullptr, nullptr},
    {"Patterns", OFF_STRAL, 0, offsetof(PRNTINFOEX, Patterns), 0, nullptr, nullptr},
    {"PPDFile", OFF_STRING, 0, offsetof(PRNTINFOEX, PPDFile), sizeof(PRNTINFOEX::PPDFile), nullptr,
     nullptr},
    {"ResList", OFF_STRAL, 0, offsetof(PRNTINFOEX, ResList), 0, nullptr, nullptr},
    {"ScreenSetup", OFF_CUSTOM, 0, offsetof(PRNTINFOEX, ScreenSetup), 0, read_screens_field,
     write_screens_field},
    {"Version", OFF_STRING, 0, offsetof(PRNTINFOEX, Version), sizeof(PRNTINFOEX::Version), nullptr,
     nullptr},
};
constexpr int32_t kInfoCount = int32_t(sizeof kInfoTable / sizeof kInfoTable[0]);

bool file_exists(const std::string& path) {
  struct stat st;
  return stat(klv::kernel::host_path(path.c_str()).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The path of a printer's legacy description; check_folder: use the printer
// folder's file only when it exists.
std::string legacy_path(const char* name, bool check_folder) {
  std::string base = klv::printer::base_printer_name(name);
  if (!get_server_mode()) {
    std::string folder = klv::printer::printer_folder(base, nullptr);
    if (!folder.empty()) {
      char buf[KLV_PATH_MAX];
      std::snprintf(buf, sizeof buf, "%s\\%s\\%s.%s", folder.c_str(), "INFO", "PRINTER", "INFO");
      if (!check_folder || file_exists(buf)) return buf;
    }
  }
  char found[KLV_PATH_MAX];
  if (_findinpath_ex("Server", (base + ".Printer").c_str(), found)) return found;
  return {};
}

}  // namespace

extern "C" {

KLV_API PRNTINFOEX* prntinfoex_new(void) {
  auto* r = static_cast<PRNTINFOEX*>(std::calloc(1, sizeof(PRNTINFOEX)));
  if (!r) return nullptr;
  r->ResList = _stral_new();
  r->Media = _stral_new();
  r->Patterns = _stral_new();
  r->PageSizes = _stral_new();
  if (!r->ResList || !r->Media || !r->Patterns || !r->PageSizes) {
    prntinfoex_free(r);
    return nullptr;
  }
  return r;
}

KLV_API void prntinfoex_free(PRNTINFOEX* r) {
  if (!r) return;
  stral_free(r->ResList);
  stral_free(r->Media);
  stral_free(r->Patterns);
  stral_free(r->PageSizes);
  free_screen_settings(r->ScreenSetup);
  prntinfo_free_dotinfo(r->DotInfo);
  std::free(r);
}

KLV_API PRNTINFOEX* prntinfoex_copy(const PRNTINFOEX* src) {
  if (!src) return nullptr;
  auto* r = static_cast<PRNTINFOEX*>(std::calloc(1, sizeof(PRNTINFOEX)));
  if (!r) return nullptr;
  std::memcpy(r->Device, src->Device, sizeof r->Device);
  std::memcpy(r->DefaultPageSize, src->DefaultPageSize, sizeof r->DefaultPageSize);
  std::memcpy(r->PPDFile, src->PPDFile, sizeof r->PPDFile);
  r->ResList = src->ResList ? _stral_copy(src->ResList) : _stral_new();
  r->Media = src->Media ? _stral_copy(src->Media) : _stral_new();
  r->Patterns = src->Patterns ? _stral_copy(src->Patterns) : _stral_new();
  r->PageSizes = src->PageSizes ? _stral_copy(src->PageSizes) : _stral_new();
  bool ok = r->ResList && r->Media && r->Patterns && r->PageSizes;
  if (ok && src->ScreenSetup) ok = (r->ScreenSetup = copy_screen_settings(src->ScreenSetup));
  if (ok && src->DotInfo) ok = (r->DotInfo = prntinfo_copy_dotinfo(src->DotInfo));
  if (!ok) {
    prntinfoex_free(r);
    return nullptr;
  }
  return r;
}

KLV_API PRNTINFOEX* prntinfoex_get(SFPARSE* fp) {
  if (!fp) return nullptr;
  try {
    if (!off_find_rec(fp, "Printer_Info") && !off_open_rec(fp, "Printer_Info")) return nullptr;
    PRNTINFOEX* r = prntinfoex_new();
    if (!r) return nullptr;
    if (!off_load_struct(fp, kInfoTable, kInfoCount, r)) {
      KLV_LOG(KLV_LOG_ERROR, "Printer_Info block cannot be read (line %d)", fp_line(fp));
      prntinfoex_free(r);
      return nullptr;
    }
    if (!r->DotInfo) r->DotInfo = static_cast<dotinfo*>(std::calloc(1, sizeof(dotinfo)));
    if (!r->DotInfo) {
      prntinfoex_free(r);
      return nullptr;
    }
    return r;
  } catch (...) {
    return nullptr;
  }
}

KLV_API int32_t prntinfoex_put(SFilemux* stream, const PRNTINFOEX* record) {
  if (!stream || !record) return 0;
  try {
    return off_write_struct(stream, kInfoTable, kInfoCount, record, "Printer_Info", 0);
  } catch (...) {
    return 0;
  }
}

KLV_API PRNTINFOEX* prntinfoex_load(SOVolume* volume, const char* path) {
  if (!path || !*path) return nullptr;
  ParserPtr fp(fp_open(volume, path, 0));
  if (!fp) return nullptr;
  return prntinfoex_get(fp.get());
}

KLV_API PRNTINFOEX* prntinfoex_find(const char* name) {
  if (!name || !*name) return nullptr;
  try {
    std::string path = legacy_path(name, true);
    return path.empty() ? nullptr : prntinfoex_load(nullptr, path.c_str());
  } catch (...) {
    return nullptr;
  }
}

KLV_API int32_t prntinfoex_find_path(const char* name, char* out) {
  if (!out) return 0;
  out[0] = '\0';
  if (!name || !*name) return 0;
  try {
    klv::printer::copy_out(out, KLV_PATH_MAX, legacy_path(name, false));
    return out[0] ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t prntinfoex_pagesize(const PRNTINFOEX* r, const char* page, double* width,
                                    double* height) {
  if (!r) return 0;
  const char* name = page && *page ? page : r->DefaultPageSize;
  int32_t i = stral_find(r->PageSizes, name, static_cast<const char*>(nullptr));
  if (i < 0 || stral_size(r->PageSizes, i) < 3) return 0;
  if (width) *width = klv::printer::dimension_inches(stral_str(r->PageSizes, i, 1));
  if (height) *height = klv::printer::dimension_inches(stral_str(r->PageSizes, i, 2));
  return 1;
}

KLV_API int32_t prntinfoex_paperpath(const PRNTINFOEX* r, const char* page, int32_t* is_sheet) {
  if (!r) return 0;
  const char* name = page && *page ? page : r->DefaultPageSize;
  int32_t i = stral_find(r->PageSizes, name, static_cast<const char*>(nullptr));
  if (i < 0 || stral_size(r->PageSizes, i) < 5) return 0;
  const char* path = stral_str(r->PageSizes, i, 4);
  if (!path) return 0;
  if (is_sheet) *is_sheet = klv::printer::iequals(path, "Roll") ? 0 : 1;
  return 1;
}

KLV_API const char* prntinfoex_nearest_pagesize(const PRNTINFOEX* r, double width, double height) {
  if (!r) return nullptr;
  try {
    int i = klv::printer::nearest_page_size(klv::printer::read_stral(r->PageSizes), width, height);
    return i < 0 ? nullptr : stral_str(r->PageSizes, i, 0);
  } catch (...) {
    return nullptr;
  }
}

KLV_API const char* prntinfoex_nearest_res(const PRNTINFOEX* r, const char* resolution) {
  if (!r || !r->ResList) return "";
  if (!resolution || stral_count(r->ResList) <= 0) return nullptr;
  try {
    int i = klv::printer::nearest_resolution(klv::printer::read_stral(r->ResList), resolution);
    return i < 0 ? nullptr : stral_str(r->ResList, i, 0);
  } catch (...) {
    return nullptr;
  }
}

KLV_API int32_t prntinfoex_create_dotinfo(PRNTINFOEX* r) {
  if (!r || r->DotInfo) return 0;
  r->DotInfo = static_cast<dotinfo*>(std::calloc(1, sizeof(dotinfo)));
  return r->DotInfo ? 1 : 0;
}

KLV_API dotcfg* prntinfoex_find_dotcfg(const PRNTINFOEX* r, const char* resolution,
                                       const char* config) {
  return r ? dotinfo_find_dotcfg(r->DotInfo, resolution, config) : nullptr;
}

}  // extern "C"
