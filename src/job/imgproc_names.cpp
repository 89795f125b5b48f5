// SPDX-License-Identifier: MIT
// The print-file names of a job, the removal of a job's print files and the
// rounding of progress to tenths of a percent.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "imgproc_internal.h"
#include "klv/log.h"

namespace klv::proc {

namespace fs = std::filesystem;

std::string list_path_of(const settings& s) {
  std::string path = s.Printpath;
  if (path.empty()) return path;
  std::error_code ec;
  if (fs::is_directory(path, ec)) {
    fs::path folder = fs::path(path).lexically_normal();
    if (!folder.has_filename()) folder = folder.parent_path();
    const std::string name = folder.filename().string();
    return (folder / (name.empty() ? std::string("print") : name)).string() + "." +
           KLV_PROC_LIST_EXT;
  }
  return path;
}

std::string print_base_of(const settings& s) {
  const std::string list = list_path_of(s);
  if (list.empty()) return list;
  const fs::path p(list);
  return (p.parent_path() / p.stem()).string();
}

std::string page_name_of(const settings& s, char kind, int page) {
  char tail[16];
  std::snprintf(tail, sizeof tail, ".%c%03d", kind, page);
  return print_base_of(s) + tail;
}

bool copy_out(const std::string& text, char* out, int32_t size) {
  if (!out || size <= 0) return false;
  if (text.size() >= size_t(size)) {
    out[0] = 0;
    return false;
  }
  std::memcpy(out, text.c_str(), text.size() + 1);
  return true;
}

namespace {

// Whether `ext` (without the dot) is a print-file extension to remove: a
// letter of B, C (R when render files go too) and one or more digits, or one
// of the page lists.
bool removable_ext(const std::string& ext, bool render_too) {
  if (ext.size() < 2) return false;
  const char letter = char(std::toupper(static_cast<unsigned char>(ext[0])));
  const bool letter_ok = letter == 'B' || letter == 'C' || (render_too && letter == 'R');
  if (!letter_ok) return false;
  bool digits = true;
  for (size_t i = 1; i < ext.size(); ++i)
    if (!std::isdigit(static_cast<unsigned char>(ext[i]))) digits = false;
  if (digits) return true;
  std::string upper = ext;
  for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
  return upper == "BPGS" || upper == "CPGS" || (render_too && upper == "RPGS");
}

// Removes the files of `folder` whose name is `stem` + "." + an extension
// `wanted` accepts; the count removed.
template <typename Wanted>
int remove_matching(const fs::path& folder, const std::string& stem, Wanted wanted) {
  int removed = 0;
  std::error_code ec;
  fs::directory_iterator it(folder.empty() ? fs::path(".") : folder, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() <= stem.size() + 1 || name.compare(0, stem.size(), stem) != 0 ||
        name[stem.size()] != '.')
      continue;
    if (!wanted(name.substr(stem.size() + 1))) continue;
    std::error_code rm;
    if (fs::remove(it->path(), rm)) ++removed;
  }
  return removed;
}

}  // namespace

}  // namespace klv::proc

using namespace klv::proc;

int32_t get_output_name(const settings* record, char* out, int32_t size) {
  if (!record) return copy_out("", out, size) && false;
  const std::string base = print_base_of(*record);
  if (base.empty()) return copy_out("", out, size) && false;
  return copy_out(base + ".C001", out, size) ? 1 : 0;
}

int32_t imgproc_list_path(const settings* record, char* out, int32_t size) {
  const std::string path = record ? list_path_of(*record) : std::string();
  return !path.empty() && copy_out(path, out, size) ? 1 : 0;
}

int32_t imgproc_page_name(const settings* record, char kind, int32_t page, char* out,
                          int32_t size) {
  if (!record || page < 1 || page > 999 || print_base_of(*record).empty())
    return copy_out("", out, size) && false;
  return copy_out(page_name_of(*record, kind, page), out, size) ? 1 : 0;
}

int32_t imgproc_remove_print_files(const settings* record, int32_t render_too) {
  if (!record) return 0;
  const std::string list = list_path_of(*record);
  if (list.empty()) return 0;
  int removed = 0;
  std::error_code ec;
  if (fs::remove(list, ec)) ++removed;
  const fs::path base(print_base_of(*record));
  removed +=
      remove_matching(base.parent_path(), base.filename().string(),
                      [&](const std::string& ext) { return removable_ext(ext, render_too); });
  // Render output beside the image: "<image stem>.pr?" (host files only; a
  // member of a volume is named ".\\...").
  const std::string image = record->Imagepath;
  if (!image.empty() && image.rfind(".\\", 0) != 0) {
    const fs::path ip(image);
    removed += remove_matching(ip.parent_path(), ip.stem().string(), [](const std::string& ext) {
      return ext.size() == 3 && std::tolower(static_cast<unsigned char>(ext[0])) == 'p' &&
             std::tolower(static_cast<unsigned char>(ext[1])) == 'r';
    });
  }
  if (removed)
    ErrorLogf(KLV_LOG_INFO, kTag, 0, "removed %d print file%s of \"%s\"", removed,
              removed == 1 ? "" : "s", list.c_str());
  return removed;
}

int32_t imgproc_tenths(int64_t done, int64_t total) {
  if (total <= 0 || done <= 0) return 0;
  if (done >= total) return 1000;
  // done * 1000 / total, half up, without overflow for image line counts.
  return int32_t((done * 2000 + total) / (2 * total));
}
