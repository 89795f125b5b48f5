// SPDX-License-Identifier: MIT
// The verification report of a profile library: appended to a text file, one
// finding a line, and the number of errors returned.
#include <strings.h>

#include <cstdarg>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "klv/calib.h"
#include "klv/kernel_volume.h"
#include "proflib/proflib_ops.h"

using namespace klv::proflib;

namespace {

// Members the library keeps for itself; they are in no index entry.
bool own_member(const std::string& name) {
  static const char* const kOwn[] = {PL_INDEX_NAME, PL_PROFILE_LOCK_NAME, PL_DEFAULT_LOCK_NAME,
                                     "!Information"};
  for (const char* own : kOwn)
    if (strcasecmp(name.c_str(), own) == 0) return true;
  return false;
}

class Report {
 public:
  explicit Report(std::FILE* f) : f_(f) {}
  void line(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    va_list args;
    va_start(args, format);
    std::vfprintf(f_, format, args);
    va_end(args);
    std::fputc('\n', f_);
  }
  void error(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    va_list args;
    va_start(args, format);
    std::vfprintf(f_, format, args);
    va_end(args);
    std::fputc('\n', f_);
    ++errors_;
  }
  int32_t errors() const { return errors_; }

 private:
  std::FILE* f_;
  int32_t errors_ = 0;
};

std::vector<std::string> all_members(SOVolume* volume) {
  std::vector<std::string> names;
  SFindRec rec{};
  for (int more = VFindfirst(volume, ".\\*", &rec); more; more = VFindnext(&rec))
    if (!(rec.attributes & KLV_FA_DIR)) names.push_back(rec.name);
  return names;
}

void check_medias(Report& r, const PL_INDEX* index, const SSTRAL* valid) {
  if (!valid) return;
  SSTRAL* medias = nullptr;
  PL_iget_media_list(index, &medias);
  for (int32_t i = 0; i < stral_count(medias); ++i) {
    const char* m = stral_str(medias, i, 0);
    if (stral_ifind_array(valid, &m, 1) < 0)
      r.error(
          "ERROR - Profiles for the media %s were found, but the media is not in the "
          ".Printer file",
          m);
  }
  stral_free(medias);
}

void check_referenced(Report& r, SOVolume* volume, const PL_INDEX* index) {
  r.line("Checking for files referenced in the index that are not in the volume.");
  for (const CProfilesIdx* list : {&entries(index, false), &entries(index, true)})
    for (t_pientry* e = list->GetFirstEntry(); e; e = e->next) {
      const auto& d = static_cast<const ProfileData&>(*e->data);
      if (!d.table.empty() && !Ofileexists(volume, d.table.c_str(), 0))
        r.error("ERROR - table file %s not found.", d.table.c_str());
      if (!d.readings.empty() && !Ofileexists(volume, d.readings.c_str(), 0))
        r.error("ERROR - readings file %s not found.", d.readings.c_str());
    }
}

void check_unreferenced(Report& r, const std::vector<std::string>& names, const PL_INDEX* index) {
  r.line("Checking for files in the volume that are not in the index.");
  std::set<std::string> files;
  for (const CProfilesIdx* list : {&entries(index, false), &entries(index, true)})
    for (t_pientry* e = list->GetFirstEntry(); e; e = e->next) {
      const auto& d = static_cast<const ProfileData&>(*e->data);
      files.insert(d.table);
      files.insert(d.readings);
    }
  for (const std::string& name : names) {
    bool swatch = PL_split_swatch_path(name.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    bool linear = strncasecmp(name.c_str(), "Linear", 6) == 0;
    if (!own_member(name) && !swatch && !linear && !files.count(name))
      r.error("ERROR - file %s not found in index.", name.c_str());
  }
}

bool has_model(const PL_INDEX* index, const std::string& media, const std::string& setting) {
  return PL_iexist_model_entry(index, media.c_str(), setting.c_str(), "", -1, "") != 0;
}

void check_swatches(Report& r, const std::vector<std::string>& names, const PL_INDEX* index) {
  for (const std::string& name : names) {
    char media[PL_FIELD_MAX], setting[PL_FIELD_MAX];
    if (!PL_split_swatch_path(name.c_str(), media, setting, nullptr, nullptr, nullptr)) continue;
    if (!media[0])
      r.error("ERROR - Swatch file %s does not reference a media model.", name.c_str());
    else if (!has_model(index, media, setting))
      r.error("ERROR - The media model referenced by %s could not be found.  Looking for %s.",
              name.c_str(), (std::string(media) + "~" + setting).c_str());
  }
}

void check_linearizations(Report& r, const std::vector<std::string>& names, const PL_INDEX* index) {
  r.line("Checking for linearizations without media models.");
  for (const std::string& name : names) {
    if (strncasecmp(name.c_str(), "Linear", 6) != 0) continue;
    char base[KLV_CALB_NAME_MAX], media[KLV_CALB_NAME_MAX], third[KLV_CALB_NAME_MAX];
    split_calb_path(name.c_str(), base, media, third, nullptr);
    if (!has_model(index, media, ""))
      r.error("ERROR - The media model referenced by %s could not be found.  Looking for %s.",
              name.c_str(), media);
  }
}

}  // namespace

KLV_API int32_t PL_verify_library(const char* library, const char* report,
                                  const SSTRAL* valid_medias, int32_t is_model_file,
                                  const char* printer, const char* model_file) {
  if (!library || !report) return -1;
  std::FILE* f = std::fopen(report, "a");
  if (!f) return -1;
  Report r(f);
  r.line("Checking the .Prnlib file for printer %s", printer ? printer : "");
  SOVolume* volume = VOpen(nullptr, library, KLV_VOL_READ);
  if (!volume) {
    r.line("Failed to open the volume at path %s", library);
    std::fclose(f);
    return -1;
  }
  int32_t result = -1;
  if (PL_INDEX* index = PL_index_load(volume, nullptr)) {
    if (is_model_file) r.line("Checking the OML file %s", model_file ? model_file : "");
    check_medias(r, index, valid_medias);
    const std::vector<std::string> names = all_members(volume);
    check_referenced(r, volume, index);
    check_unreferenced(r, names, index);
    check_swatches(r, names, index);
    check_linearizations(r, names, index);
    PL_index_free(index);
    result = r.errors();
  } else {
    r.error("ERROR - the index %s cannot be read.", PL_INDEX_NAME);
  }
  VClose(volume);
  r.line("Finished verifying %s", library);
  std::fclose(f);
  return result;
}
