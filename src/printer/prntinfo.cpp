// SPDX-License-Identifier: MIT
// The PRNTINFO record: building it over a printer's repository, its lists,
// page sizes, resolutions, modes and drop sizes.
#include "klv/prntinfo.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "klv/kernel_path_cxx.h"
#include "klv/log.h"
#include "printer/c_records.h"
#include "printer/nearest.h"
#include "printer/print_info_plus.h"
#include "printer/printer_lists.h"
#include "printer/text_util.h"
#include "klv/printmode_cxx.h"

using klv::printer::copy_field;
using klv::printer::copy_out;

namespace {

bool valid(const PRNTINFO* r) {
  return r && r->object;
}

// A media name beginning with "*" reduced to the text after its second "*".
std::string plain_media(const char* media) {
  std::string m = media ? media : "";
  if (!m.empty() && m[0] == '*') {
    size_t second = m.find('*', 1);
    m = second == std::string::npos ? std::string() : m.substr(second + 1);
  }
  return m;
}

PRNTINFO* build_record(std::unique_ptr<PrintInfoPlus> object) {
  auto* r = static_cast<PRNTINFO*>(std::calloc(1, sizeof(PRNTINFO)));
  if (!r) return nullptr;
  PrintInfoPlus* o = object.release();
  r->object = o;
  const auto& repo = o->repository();
  klv::RepPrinter empty;
  const klv::RepPrinter& p = repo ? repo->printer() : empty;
  copy_field(r->device_name, sizeof r->device_name, p.device_name.c_str());
  r->medias = o->mediaList(false);
  copy_field(r->default_page_size, sizeof r->default_page_size, p.default_page_size.c_str());
  copy_field(r->default_media, sizeof r->default_media, p.default_media.c_str());
  copy_field(r->ppd_file, sizeof r->ppd_file, p.ppd_file.c_str());
  copy_field(r->tcp_additional_port, sizeof r->tcp_additional_port, p.tcp_additional_port.c_str());
  copy_field(r->tcp_default_port, sizeof r->tcp_default_port, p.tcp_default_port.c_str());
  r->screen_setup = o->screenSetups();
  r->dot_info = o->dotInfo();
  r->reserved = 0;
  return r;
}

PRNTINFO* open_record(const std::string& folder) {
  auto object = std::make_unique<PrintInfoPlus>();
  if (!object->open(folder)) return nullptr;
  return build_record(std::move(object));
}

// The page-size element named page (or the default page size; with
// fall_back, the first element when there is no default).
int32_t find_page(const SSTRAL* pages, const char* page, const char* default_page, bool fall_back) {
  if (page && *page) return stral_find(pages, page, static_cast<const char*>(nullptr));
  if (default_page && *default_page) {
    int32_t i = stral_find(pages, default_page, static_cast<const char*>(nullptr));
    if (i >= 0 || !fall_back) return i;
  }
  return fall_back && stral_count(pages) > 0 ? 0 : -1;
}

int32_t page_size_of(const SSTRAL* pages, int32_t i, double* width, double* height) {
  if (i < 0 || stral_size(pages, i) < 3) return 0;
  double w = klv::printer::dimension_inches(stral_str(pages, i, 1));
  double h = klv::printer::dimension_inches(stral_str(pages, i, 2));
  if (width) *width = w;
  if (height) *height = h;
  return 1;
}

int32_t paper_path_of(const SSTRAL* pages, int32_t i, int32_t* is_sheet) {
  if (i < 0 || stral_size(pages, i) < 5) return 0;
  const char* path = stral_str(pages, i, 4);
  if (!path) return 0;
  if (is_sheet) *is_sheet = klv::printer::iequals(path, "Roll") ? 0 : 1;
  return 1;
}

const char* nearest_page(const SSTRAL* pages, double width, double height) {
  int i = klv::printer::nearest_page_size(klv::printer::read_stral(pages), width, height);
  return i < 0 ? nullptr : stral_str(pages, i, 0);
}

const char* nearest_res(const SSTRAL* list, const char* resolution) {
  if (!resolution || stral_count(list) <= 0) return nullptr;
  int i = klv::printer::nearest_resolution(klv::printer::read_stral(list), resolution);
  return i < 0 ? nullptr : stral_str(list, i, 0);
}

const CPrintMode* nearest_in(PRNTINFO* record, const char* media, const CPrintMode& wanted) {
  if (!valid(record) || !media) return nullptr;
  const auto* modes = record->object->modes(plain_media(media));
  if (!modes) return nullptr;
  int i = klv::printer::nearest_mode(*modes, wanted);
  return i < 0 ? nullptr : &(*modes)[size_t(i)];
}

}  // namespace

extern "C" {

// ---- Paths -------------------------------------------------------------------

KLV_API int32_t prntinfo_find_repository(const char* name, char* out) {
  if (!out) return 0;
  try {
    std::string path = name ? PrintInfoPlus::findRepositoryPath(name) : std::string();
    copy_out(out, KLV_PATH_MAX, path);
    return out[0] ? 1 : 0;
  } catch (...) {
    out[0] = '\0';
    return 0;
  }
}

KLV_API int32_t prntinfo_repository_file(const char* folder, char* out) {
  if (!out) return 0;
  out[0] = '\0';
  if (!folder) return 0;
  try {
    copy_out(out, KLV_PATH_MAX, std::string(folder) + klv::PrinterRepository::kSettingsName);
    return out[0] ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t prntinfo_find_repository_file(const char* name, char* out) {
  if (!out) return 0;
  char folder[KLV_PATH_MAX];
  if (!prntinfo_find_repository(name, folder)) {
    out[0] = '\0';
    return 0;
  }
  return prntinfo_repository_file(folder, out);
}

KLV_API int32_t prntinfo_find_default_file(const char* folder, char* out, const char* file,
                                           const char* subfolder) {
  if (!folder || !out) return 0;
  try {
    std::string path = klv::printer::with_separator(folder) + "Defaults";
    if (subfolder && *subfolder) path += std::string("\\") + subfolder;
    if (file && *file) path += std::string("\\") + file;
    std::error_code ec;
    bool exists = std::filesystem::exists(klv::kernel::host_path(path.c_str()), ec);
    copy_out(out, KLV_PATH_MAX, exists ? path : std::string());
    return out[0] ? 1 : 0;
  } catch (...) {
    out[0] = '\0';
    return 0;
  }
}

// ---- Building and freeing -------------------------------------------------------------

KLV_API PRNTINFO* prntinfo_new(void) {
  try {
    return build_record(std::make_unique<PrintInfoPlus>());
  } catch (...) {
    return nullptr;
  }
}

KLV_API PRNTINFO* prntinfo_find(const char* name) {
  if (!name || !*name) return nullptr;
  try {
    std::string folder = PrintInfoPlus::findRepositoryPath(name);
    if (folder.empty()) folder = name;
    return open_record(folder);
  } catch (...) {
    return nullptr;
  }
}

KLV_API PRNTINFO* prntinfo_load_info(const char* folder) {
  if (!folder || !*folder) return nullptr;
  try {
    return open_record(folder);
  } catch (...) {
    return nullptr;
  }
}

KLV_API PRNTINFO* prntinfo_copy(const PRNTINFO* record) {
  if (!valid(record)) return nullptr;
  try {
    return build_record(std::make_unique<PrintInfoPlus>(*record->object));
  } catch (...) {
    return nullptr;
  }
}

KLV_API void prntinfo_free(PRNTINFO* record) {
  if (!record) return;
  PrintInfoPlus* o = record->object;
  if (o) {
    if (record->dot_info && !o->owns(record->dot_info)) prntinfo_free_dotinfo(record->dot_info);
    if (record->screen_setup && !o->owns(record->screen_setup))
      free_screen_settings(record->screen_setup);
  }
  delete o;
  std::free(record);
}

// ---- Repository ----------------------------------------------------------------------------

KLV_API void* prntinfo_get_repository(const PRNTINFO* record) {
  return valid(record) ? record->object->repository().get() : nullptr;
}

KLV_API int32_t prntinfo_get_repository_path(const PRNTINFO* record, char* out) {
  if (!out) return 0;
  out[0] = '\0';
  if (!valid(record) || !record->object->repository()) return 0;
  copy_out(out, KLV_PATH_MAX, record->object->repository()->folder());
  return out[0] ? 1 : 0;
}

KLV_API int32_t prntinfo_reset(PRNTINFO* record) {
  if (!valid(record)) return 0;
  try {
    record->medias = record->object->mediaList(true);
    return record->medias ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t prntinfo_reset_repository(PrintInfoPlus* object, const char* name) {
  if (!object || !object->repository() || !name) return 0;
  try {
    object->repository()->rename(name);
    return 1;
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t prntinfo_set_active(PRNTINFO* record, int32_t active) {
  if (!valid(record) || !record->object->repository()) return 0;
  record->object->repository()->set_active(active != 0);
  return 1;
}

KLV_API int32_t prntinfo_remove_media(PRNTINFO* record, const char* media) {
  if (!valid(record) || !record->object->repository() || !media) return 0;
  try {
    return record->object->repository()->remove_media(media) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t prntinfo_save_info(PRNTINFO* record, const char* folder) {
  if (!valid(record) || !record->object->repository()) return 0;
  try {
    klv::PrinterRepository& repo = *record->object->repository();
    klv::RepPrinter& p = repo.printer();
    p.default_media = record->default_media;
    p.default_page_size = record->default_page_size;
    p.has_dot_info = record->dot_info != nullptr;
    p.dot_info = klv::printer::read_dotinfo(record->dot_info);
    if (SSTRAL* pages = record->object->pageSizes(std::string()))
      p.page_sizes = klv::printer::read_stral(pages);
    p.screen_setups = klv::printer::read_screen_setups(record->screen_setup);
    bool ok;
    if (folder && *folder &&
        klv::printer::with_separator(folder) != klv::printer::with_separator(repo.folder()) &&
        klv::kernel::host_path(klv::printer::with_separator(folder).c_str()) !=
            klv::kernel::host_path(repo.folder().c_str()))
      ok = repo.save_as(folder);
    else
      ok = repo.save();
    return ok ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

// ---- Lists ------------------------------------------------------------------------------------

KLV_API SSTRAL* prntinfo_dev_resolutions(PRNTINFO* record) {
  if (!valid(record)) return nullptr;
  try {
    return record->object->devResolutions();
  } catch (...) {
    return nullptr;
  }
}

KLV_API SSTRAL* prntinfo_default_resolutions(PRNTINFO* record) {
  if (!valid(record)) return nullptr;
  try {
    return record->object->defaultResolutions();
  } catch (...) {
    return nullptr;
  }
}

KLV_API SSTRAL* prntinfo_media_resolutions(PRNTINFO* record, const char* media) {
  if (!valid(record) || !media) return nullptr;
  try {
    return record->object->mediaResolutions(media);
  } catch (...) {
    return nullptr;
  }
}

KLV_API SSTRAL* prntinfo_page_sizes(PRNTINFO* record, const char* media) {
  if (!valid(record)) return nullptr;
  try {
    return record->object->pageSizes(media ? media : "");
  } catch (...) {
    return nullptr;
  }
}

KLV_API SSTRAL* prntinfo_mode_names(PRNTINFO* record, const char* media) {
  if (!valid(record) || !media) return nullptr;
  try {
    return record->object->modeNames(media);
  } catch (...) {
    return nullptr;
  }
}

KLV_API SSTRAL* prntinfo_all_mode_names(PRNTINFO* record) {
  if (!valid(record)) return nullptr;
  try {
    return record->object->allModeNames();
  } catch (...) {
    return nullptr;
  }
}

// ---- Page sizes and resolutions -------------------------------------------------------------

KLV_API int32_t prntinfo_page_size(PRNTINFO* record, const char* media, const char* page,
                                   double* width, double* height) {
  if (!valid(record)) return 0;
  try {
    SSTRAL* pages = record->object->pageSizes(plain_media(media));
    return page_size_of(pages, find_page(pages, page, record->default_page_size, true), width,
                        height);
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t prntinfo_paper_path(PRNTINFO* record, const char* media, const char* page,
                                    int32_t* is_sheet) {
  if (!valid(record)) return 0;
  try {
    SSTRAL* pages = record->object->pageSizes(media ? media : "");
    return paper_path_of(pages, find_page(pages, page, record->default_page_size, false), is_sheet);
  } catch (...) {
    return 0;
  }
}

KLV_API const char* prntinfo_nearest_page_size(PRNTINFO* record, const char* media, double width,
                                               double height) {
  if (!valid(record)) return nullptr;
  try {
    return nearest_page(record->object->pageSizes(media ? media : ""), width, height);
  } catch (...) {
    return nullptr;
  }
}

KLV_API const char* prntinfo_nearest_media_res(PRNTINFO* record, const char* media,
                                               const char* resolution) {
  if (!valid(record) || !media) return "";
  try {
    SSTRAL* list = record->object->mediaResolutions(media);
    if (!list) return "";
    return nearest_res(list, resolution);
  } catch (...) {
    return nullptr;
  }
}

// ---- Modes
// ---------------------------------------------------------------------------------------

KLV_API const CPrintMode* prntinfo_mode(PRNTINFO* record, const char* media, const char* mode) {
  if (!valid(record) || !media || !mode) return nullptr;
  try {
    const auto* modes = record->object->modes(media);
    if (!modes) return nullptr;
    for (const CPrintMode& m : *modes)
      if (std::strcmp(m.GetModeName(), mode) == 0) return &m;
    return nullptr;
  } catch (...) {
    return nullptr;
  }
}

KLV_API const CPrintMode* prntinfo_default_mode(PRNTINFO* record, const char* media) {
  if (!valid(record) || !media || !record->object->repository()) return nullptr;
  try {
    const klv::RepMedia* m = record->object->repository()->find_media(media);
    if (!m || m->default_mode.empty()) return nullptr;
    return prntinfo_mode(record, media, m->default_mode.c_str());
  } catch (...) {
    return nullptr;
  }
}

KLV_API const CPrintMode* prntinfo_nearest_printmode(PRNTINFO* record, const char* media,
                                                     const CPrintMode* wanted) {
  if (!wanted) return nullptr;
  try {
    return nearest_in(record, media, *wanted);
  } catch (...) {
    return nullptr;
  }
}

KLV_API const CPrintMode* prntinfo_nearest_mode(PRNTINFO* record, const char* media,
                                                const char* mode, const char* resolution,
                                                int32_t pattern, const char* option) {
  try {
    return nearest_in(record, media, CPrintMode(pattern, option, resolution, mode));
  } catch (...) {
    return nullptr;
  }
}

KLV_API const CPrintMode* prntinfo_nearest_mode_ex(PRNTINFO* record, const char* media,
                                                   const char* mode, const char* resolution,
                                                   const char* pattern_text) {
  try {
    return nearest_in(record, media, CPrintMode(pattern_text, resolution, mode));
  } catch (...) {
    return nullptr;
  }
}

KLV_API _SCREENSETUP* prntinfo_mode_screensetup(PRNTINFO* record, const char* media,
                                                const CPrintMode* mode) {
  if (!valid(record) || !media || !mode) return nullptr;
  try {
    return record->object->modeScreenSetups(plain_media(media), mode->GetModeName());
  } catch (...) {
    return nullptr;
  }
}

// ---- Drop sizes
// ------------------------------------------------------------------------------------

KLV_API int32_t prntinfo_create_dotinfo(PRNTINFO* record) {
  if (!valid(record) || record->dot_info) return 0;
  try {
    record->dot_info = record->object->newDotInfo();
    return record->dot_info ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

KLV_API dotcfg* prntinfo_find_dotcfg(PRNTINFO* record, const char* resolution, const char* config) {
  if (!valid(record)) return nullptr;
  return dotinfo_find_dotcfg(record->dot_info, resolution, config);
}

}  // extern "C"
