// SPDX-License-Identifier: MIT
// The print-file list of a job: its entries (the page files in page order)
// and the settings text file "printfiles { ... }" at the job's Printpath,
// written under a temporary name and renamed only once it is whole.
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "imgproc_internal.h"
#include "klv/log.h"

namespace klv::proc {
namespace {

namespace fs = std::filesystem;

// An entry the list's quoted text can hold.
bool quotable(const std::string& text) {
  return text.find_first_of("\"\r\n") == std::string::npos;
}

bool write_list(const std::string& path, const SSTRAL* entries) {
  const std::string temp = path + ".part";
  std::FILE* f = std::fopen(temp.c_str(), "wt");
  if (!f) return false;
  bool ok = std::fputs("printfiles {\n", f) >= 0;
  for (int32_t i = 0; ok && i < stral_count(entries); ++i)
    ok = std::fprintf(f, " \"%s\"\n", stral_str(entries, i, 0)) > 0;
  ok = ok && std::fputs("}\n", f) >= 0;
  ok = std::fclose(f) == 0 && ok;
  std::error_code ec;
  if (ok) fs::rename(temp, path, ec);
  if (!ok || ec) {
    fs::remove(temp, ec);
    return false;
  }
  return true;
}

}  // namespace
}  // namespace klv::proc

using namespace klv::proc;

SSTRAL* get_prt_stral(SOVolume* /*volume*/, const settings* record, int32_t tiled,
                      double /*x_scale*/, double /*y_scale*/) {
  if (!record || tiled) return nullptr;
  if (print_base_of(*record).empty()) return nullptr;
  SSTRAL* list = _stral_new();
  if (!list) return nullptr;
  for (int page = 1; page <= 999; ++page) {
    const std::string name = page_name_of(*record, 'B', page);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(name, ec)) break;
    const char* one = name.c_str();
    if (!quotable(name) || stral_add(list, &one, 1) < 0) {
      ErrorLogf(KLV_LOG_ERROR, kTag, 0, "print file \"%s\" cannot be listed", one);
      stral_free(list);
      return nullptr;
    }
  }
  if (stral_count(list) == 0) {
    stral_free(list);
    return nullptr;
  }
  return list;
}

int32_t proc_make_prt_file(SOVolume* volume, const settings* record, int32_t tiled) {
  if (!record) return 0;
  const std::string path = list_path_of(*record);
  SSTRAL* entries = get_prt_stral(volume, record, tiled, 1.0, 1.0);
  if (!entries) {
    ErrorLogf(KLV_LOG_ERROR, kTag, 0, "no print files to list for \"%s\"", path.c_str());
    return 0;
  }
  const bool ok = !path.empty() && write_list(path, entries);
  stral_free(entries);
  if (!ok)
    ErrorLogf(KLV_LOG_ERROR, kTag, 0, "cannot write the print-file list \"%s\"", path.c_str());
  return ok ? 1 : 0;
}
