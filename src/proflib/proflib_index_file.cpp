// SPDX-License-Identifier: MIT
// Loading and saving the whole index member, and the library information
// record.
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

#include "klv/kernel_layers.h"
#include "klv/kernel_stream.h"
#include "klv/kernel_volume.h"
#include "klv/log.h"
#include "proflib/proflib_index.h"

using namespace klv::proflib;

namespace {

const char* index_path(const char* path) {
  return path && *path ? path : PL_INDEX_NAME;
}

// Reads the three sections; a section that is missing stays empty.
bool read_sections(SFPARSE* fp, PL_INDEX& index) {
  struct Section {
    const char* name;
    CProfLibIdx* list;
  } sections[] = {
      {"Profiles", &index.profiles}, {"Defaults", &index.defaults}, {"Models", &index.models}};
  for (const Section& s : sections) {
    if (!off_open_rec(fp, s.name)) continue;
    if (!s.list->Read(fp)) {
      KLV_LOG(KLV_LOG_ERROR, "profile library index: section %s is malformed near line %d", s.name,
              fp_line(fp));
      return false;
    }
  }
  return true;
}

PL_INDEX* parse(SFPARSE* fp) {
  if (!fp) return nullptr;
  auto* index = new (std::nothrow) PL_INDEX;
  bool ok = false;
  if (index) {
    try {
      ok = read_sections(fp, *index);
    } catch (...) {
      ok = false;
    }
  }
  fp_close(fp);
  if (!ok) {
    delete index;
    return nullptr;
  }
  return index;
}

const off_field kInfoFields[] = {
    {"DefaultProfile", OFF_STRING, 0, offsetof(PL_INFO, DefaultProfile), PL_FILE_MAX, nullptr,
     nullptr},
    {"Version", OFF_UINT32, 0, offsetof(PL_INFO, Version), 0, nullptr, nullptr},
};
constexpr const char* kInfoPath = ".\\!Information";

}  // namespace

KLV_API PL_INDEX* PL_index_new(void) {
  return new (std::nothrow) PL_INDEX;
}

KLV_API void PL_index_free(PL_INDEX* index) {
  delete index;
}

KLV_API PL_INDEX* PL_index_load(SOVolume* volume, const char* path) {
  const char* name = index_path(path);
  if (!Ofileexists(volume, name, 0)) return PL_index_new();
  SFPARSE* fp = fp_open(volume, name, 0);
  if (!fp) {
    KLV_LOG(KLV_LOG_ERROR, "profile library index \"%s\" cannot be read", name);
    return nullptr;
  }
  return parse(fp);
}

KLV_API PL_INDEX* PL_index_parse(const char* text, int32_t length) {
  if (!text || length < 0) return nullptr;
  SFilemux* stream = Omemopen(text, static_cast<size_t>(length));
  if (!stream) return nullptr;
  PL_INDEX* index = parse(fp_attach(stream));
  Oclose(stream);
  return index;
}

KLV_API int32_t PL_index_save(SOVolume* volume, const char* path, const PL_INDEX* index) {
  if (!volume && (!path || !*path)) return PL_ERR_ARGUMENT;
  if (!index) return PL_ERR_NO_INDEX;
  SFSAVE* save = fp_save_begin(volume, index_path(path));
  if (!save) return PL_ERR_IO;
  SFilemux* stream = fp_save_stream(save);
  bool ok = false;
  try {
    ok = index->profiles.Write(stream) && index->defaults.Write(stream) &&
         index->models.Write(stream);
  } catch (...) {
    ok = false;
  }
  if (!fp_save_end(save, ok ? 1 : 0) || !ok) {
    KLV_LOG(KLV_LOG_ERROR, "profile library index \"%s\" could not be written", index_path(path));
    return PL_ERR_IO;
  }
  return PL_OK;
}

KLV_API PL_INFO* PL_new_info(void) {
  auto* info = static_cast<PL_INFO*>(std::calloc(1, sizeof(PL_INFO)));
  if (info) std::snprintf(info->DefaultProfile, PL_FILE_MAX, "%s.%s", "DefaultCMYK", "ICC");
  return info;
}

KLV_API void PL_free_info(PL_INFO* info) {
  std::free(info);
}

KLV_API PL_INFO* PL_get_info(SOVolume* volume) {
  PL_INFO* info = PL_new_info();
  if (!info || !volume || !Ofileexists(volume, kInfoPath, 0)) return info;
  PL_INFO read = *info;
  SFPARSE* fp = fp_open(volume, kInfoPath, 0);
  bool ok = fp && off_open_rec(fp, "Lib_Info") && off_load_struct(fp, kInfoFields, 2, &read);
  if (fp) fp_close(fp);
  if (ok) *info = read;
  return info;
}

KLV_API int32_t PL_put_info(SOVolume* volume, const PL_INFO* info) {
  if (!volume || !info) return PL_ERR_ARGUMENT;
  return off_save_struct(volume, kInfoPath, kInfoFields, 2, info, "Lib_Info") ? PL_OK : PL_ERR_IO;
}
