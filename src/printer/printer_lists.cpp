// SPDX-License-Identifier: MIT
// Server mode, the printer client list, the printer types list and the
// repository links of a printer folder.
#include "printer/printer_lists.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "klv/kernel_path_cxx.h"
#include "klv/kernel_path.h"
#include "klv/kernel_settings.h"
#include "klv/kernel_stream.h"
#include "klv/kernel_util.h"
#include "klv/log.h"
#include "klv/prntinfo.h"
#include "printer/c_records.h"
#include "printer/text_util.h"

namespace klv::printer {

namespace {

std::atomic<int32_t> g_server_mode{0};

constexpr const char* kClientFile = "Printer_Client.info";
constexpr const char* kTypesFile = "Printer_Types.info";

struct ParserCloser {
  void operator()(SFPARSE* fp) const { fp_close(fp); }
};
using ParserPtr = std::unique_ptr<SFPARSE, ParserCloser>;

const off_field kClientTable[] = {
    {"Printers", OFF_STRAL, 0, offsetof(PRNTCLNT, Printers), 0, nullptr, nullptr},
    {"UserId", OFF_STRING, 0, offsetof(PRNTCLNT, UserId), sizeof(PRNTCLNT::UserId), nullptr,
     nullptr},
};

bool is_absolute(const std::string& p) {
  if (p.empty()) return false;
  if (p[0] == '/' || p[0] == '\\') return true;
  return p.size() >= 2 && p[1] == ':' &&
         ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z'));
}

std::string found_client_list() {
  char path[KLV_PATH_MAX];
  if (!_findinpath(kClientFile, path)) return {};
  return path;
}

std::string folder_of(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

void copy_path(char* out, const std::string& text) {
  if (out) copy_out(out, KLV_PATH_MAX, text);
}

// Reads the top-level entries of a link file: each wanted key gets the first
// string of its value.
bool read_links(const char* folder, const char* const* keys, std::string* values, int n) {
  if (!folder || !*folder) return false;
  std::string path = with_separator(folder) + "Info\\Printer.RepLink";
  ParserPtr fp(fp_open(nullptr, path.c_str(), 0));
  if (!fp) return false;
  std::vector<char> token(1024);
  bool any = false;
  for (;;) {
    int32_t kind = fp_get_token(fp.get(), token.data(), int32_t(token.size()));
    if (kind != KLV_FP_WORD) break;
    int match = -1;
    for (int i = 0; i < n; ++i)
      if (Ostricmp(token.data(), keys[i]) == 0) match = i;
    if (match < 0) {
      if (fp_peek_token(fp.get(), nullptr, 0) == KLV_FP_OPEN && !fp_skip_value(fp.get())) break;
      continue;
    }
    int32_t count = 0;
    char** list = get_char_list(fp.get(), &count);
    if (!list) break;
    if (count > 0 && list[0] && values[match].empty()) {
      values[match] = resolve_data_relative(list[0]);
      any = true;
    }
    free_char_list(list);
  }
  return any;
}

// One "{ Name { } Device { } DLL_File { } ID { } }" group of the types list.
// Groups nested inside it (the enclosed form "Printer_Types { { .. } { .. } }")
// are read as elements of their own.
bool read_type_group(SFPARSE* fp, SSTRAL* list, int depth) {
  static const char* const kKeys[] = {"Name", "Device", "DLL_File", "ID"};
  std::string fields[4];
  bool has_field = false;
  std::vector<char> token(KLV_FP_MAX_TOKEN);
  for (;;) {
    int32_t kind = fp_get_token(fp, token.data(), int32_t(token.size()));
    if (kind == KLV_FP_CLOSE) break;
    if (kind == KLV_FP_OPEN) {
      if (depth > 0 || !read_type_group(fp, list, depth + 1)) return false;
      continue;
    }
    if (kind != KLV_FP_WORD) return false;
    int match = -1;
    for (int i = 0; i < 4; ++i)
      if (Ostricmp(token.data(), kKeys[i]) == 0) match = i;
    if (fp_peek_token(fp, nullptr, 0) != KLV_FP_OPEN) continue;  // a stray word
    if (match < 0) {
      if (!fp_skip_value(fp)) return false;
      continue;
    }
    if (!fp_get_string(fp, token.data(), int32_t(token.size()))) return false;
    fields[match] = token.data();
    has_field = true;
  }
  if (has_field) {
    const char* s[4] = {fields[0].c_str(), fields[1].c_str(), fields[2].c_str(), fields[3].c_str()};
    if (stral_add(list, s, 4) < 0) return false;
  }
  return true;
}

// Writes one value of the types list: quoted unless it already is.
int32_t put_type_value(SFilemux* s, const char* key, const char* value) {
  const char* v = value ? value : "";
  size_t n = std::strlen(v);
  if (n >= 2 && v[0] == '"' && v[n - 1] == '"') return Oprintf(s, "  %s { %s }\n", key, v);
  return Oprintf(s, "  %s { \"%s\" }\n", key, v);
}

// The list element of a printer's device (by first string, else by second).
char** find_device_element(const char* name, const SSTRAL* list) {
  PRNTINFO* info = prntinfo_find(name);
  if (!info) return nullptr;
  const char* device = info->device_name;
  int32_t i = stral_find(list, device, static_cast<const char*>(nullptr));
  if (i < 0) i = stral_find(list, "?", device, static_cast<const char*>(nullptr));
  char** out = nullptr;
  if (i >= 0) {
    int32_t count = 0;
    const char* const* e = stral_get(list, i, &count);
    out = packed_char_list(e, count);
  }
  prntinfo_free(info);
  return out;
}

}  // namespace

std::string with_separator(std::string folder) {
  if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') folder += '\\';
  return folder;
}

std::string data_folder() {
  std::string path = found_client_list();
  return path.empty() ? std::string() : folder_of(path);
}

std::string resolve_data_relative(const std::string& folder) {
  if (folder.empty() || is_absolute(folder)) return folder;
  std::string base = data_folder();
  if (base.empty()) return folder;
  return base + "/" + folder;
}

std::string base_printer_name(const char* name) {
  std::string n = name ? name : "";
  size_t open = n.find('(');
  return open == std::string::npos ? n : n.substr(0, open);
}

std::string printer_folder(const std::string& name, std::string* user) {
  if (user) user->clear();
  PRNTCLNT* client = prntclnt_load(nullptr, nullptr);
  if (!client) return {};
  std::string folder;
  int32_t i = stral_find(client->Printers, name.c_str(), static_cast<const char*>(nullptr));
  if (i >= 0 && stral_size(client->Printers, i) >= 2) {
    folder = resolve_data_relative(stral_str(client->Printers, i, 1));
    if (user && !folder.empty()) *user = client->UserId;
  }
  prntclnt_free(client);
  return folder;
}

}  // namespace klv::printer

using namespace klv::printer;

extern "C" {

KLV_API int32_t set_server_mode(int32_t mode) {
  return g_server_mode.exchange(mode);
}
KLV_API int32_t get_server_mode(void) {
  return g_server_mode.load();
}

KLV_API int32_t get_printer_path(const char* name, char* folder, char* user) {
  try {
    std::string u;
    std::string f = name ? printer_folder(name, &u) : std::string();
    copy_path(folder, f);
    if (user) copy_out(user, sizeof(PRNTCLNT::UserId), f.empty() ? std::string() : u);
    return f.empty() ? 0 : 1;
  } catch (...) {
    copy_path(folder, "");
    if (user) user[0] = '\0';
    return 0;
  }
}

KLV_API PRNTCLNT* prntclnt_new(void) {
  auto* r = static_cast<PRNTCLNT*>(std::calloc(1, sizeof(PRNTCLNT)));
  if (!r) return nullptr;
  r->Printers = _stral_new();
  if (!r->Printers) {
    std::free(r);
    return nullptr;
  }
  return r;
}

KLV_API void prntclnt_free(PRNTCLNT* record) {
  if (!record) return;
  stral_free(record->Printers);
  std::free(record);
}

KLV_API PRNTCLNT* prntclnt_load(SOVolume* volume, const char* path) {
  try {
    std::string file = path && *path ? std::string(path) : found_client_list();
    if (file.empty()) return nullptr;
    ParserPtr fp(fp_open(volume, file.c_str(), 0));
    if (!fp) return nullptr;
    PRNTCLNT* r = prntclnt_new();
    if (!r) return nullptr;
    if (!off_open_rec(fp.get(), "Printer_Client") ||
        !off_load_struct(fp.get(), kClientTable, 2, r)) {
      KLV_LOG(KLV_LOG_ERROR, "prntclnt_load(...): %s has no readable Printer_Client block",
              file.c_str());
      prntclnt_free(r);
      return nullptr;
    }
    if (!r->Printers) r->Printers = _stral_new();
    for (int32_t i = stral_count(r->Printers) - 1; i >= 0; --i) {
      const char* first = stral_str(r->Printers, i, 0);
      if (!first || !*first) {
        KLV_LOG(KLV_LOG_INFO, "prntclnt_load(...): Remove blank printer");
        stral_del(r->Printers, i);
      }
    }
    KLV_LOG(KLV_LOG_INFO, "prntclnt_load(...): Read %s", file.c_str());
    return r;
  } catch (...) {
    return nullptr;
  }
}

KLV_API int32_t prntclnt_save(SOVolume* volume, const char* path, const PRNTCLNT* record) {
  if (!record) return 0;
  try {
    std::string file = path && *path ? std::string(path) : found_client_list();
    if (file.empty()) {
      auto folders = klv::kernel::search_folders(nullptr);
      if (folders.empty()) return 0;
      file = folders.front() + "/" + kClientFile;
    }
    if (!off_save_struct(volume, file.c_str(), kClientTable, 2, record, "Printer_Client")) return 0;
    KLV_LOG(KLV_LOG_INFO, "prntclnt_save(...): Updated %s", file.c_str());
    return 1;
  } catch (...) {
    return 0;
  }
}

KLV_API char** prntclnts_find(const char* name) {
  if (!name) return nullptr;
  try {
    PRNTCLNT* client = prntclnt_load(nullptr, nullptr);
    if (!client) return nullptr;
    char** out = find_device_element(name, client->Printers);
    prntclnt_free(client);
    return out;
  } catch (...) {
    return nullptr;
  }
}

KLV_API SSTRAL* prntdevs_load(SOVolume* volume, const char* path) {
  try {
    std::string file;
    if (path && *path) {
      file = path;
    } else {
      char found[KLV_PATH_MAX];
      if (!_findinpath(kTypesFile, found)) return nullptr;
      file = found;
    }
    ParserPtr fp(fp_open(volume, file.c_str(), 0));
    if (!fp) return nullptr;
    StralPtr list(_stral_new());
    if (!list) return nullptr;
    std::vector<char> token(KLV_FP_MAX_TOKEN);
    // Find the word Printer_Types at the top level, then read the groups that
    // follow it.
    for (;;) {
      int32_t kind = fp_get_token(fp.get(), token.data(), int32_t(token.size()));
      if (kind == KLV_FP_END || kind == KLV_FP_ERROR || kind == KLV_FP_CLOSE)
        return list.release();  // no Printer_Types block: an empty list
      if (kind == KLV_FP_OPEN) {
        // An anonymous list at the top level: skip it.
        int depth = 1;
        while (depth > 0) {
          kind = fp_get_token(fp.get(), nullptr, 0);
          if (kind == KLV_FP_OPEN) ++depth;
          if (kind == KLV_FP_CLOSE) --depth;
          if (kind == KLV_FP_END || kind == KLV_FP_ERROR) return list.release();
        }
        continue;
      }
      if (Ostricmp(token.data(), "Printer_Types") == 0) break;
      if (fp_peek_token(fp.get(), nullptr, 0) == KLV_FP_OPEN && !fp_skip_value(fp.get()))
        return list.release();
    }
    while (fp_peek_token(fp.get(), nullptr, 0) == KLV_FP_OPEN) {
      fp_get_token(fp.get(), nullptr, 0);
      if (!read_type_group(fp.get(), list.get(), 0)) {
        KLV_LOG(KLV_LOG_ERROR, "prntdevs_load: %s: a printer type does not close (line %d)",
                file.c_str(), fp_line(fp.get()));
        break;
      }
    }
    return list.release();
  } catch (...) {
    return nullptr;
  }
}

KLV_API int32_t prntdevs_save(SOVolume* volume, const char* path, const SSTRAL* list) {
  try {
    std::string file;
    if (path && *path) {
      file = path;
    } else {
      char found[KLV_PATH_MAX];
      if (_findinpath(kTypesFile, found)) {
        file = found;
      } else {
        auto folders = klv::kernel::search_folders(nullptr);
        if (folders.empty()) return 0;
        file = folders.front() + "/" + kTypesFile;
      }
    }
    SFSAVE* save = fp_save_begin(volume, file.c_str());
    if (!save) return 0;
    SFilemux* s = fp_save_stream(save);
    bool ok = Oputs(s, ";\n; Printer_Types.info\n;\nPrinter_Types\n") >= 0;
    for (int32_t i = 0, n = stral_count(list); ok && i < n; ++i) {
      const char* f[4];
      for (int32_t j = 0; j < 4; ++j) f[j] = stral_str(list, i, j);
      ok = Oputs(s, " {\n") >= 0 && put_type_value(s, "Name", f[0]) >= 0 &&
           put_type_value(s, "Device", f[1]) >= 0 && put_type_value(s, "DLL_File", f[2]) >= 0 &&
           put_type_value(s, "ID", f[3]) >= 0 && Oputs(s, " }\n") >= 0;
    }
    return fp_save_end(save, ok ? 1 : 0) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

KLV_API char** prntdevs_find(const char* name) {
  if (!name) return nullptr;
  try {
    StralPtr list(prntdevs_load(nullptr, nullptr));
    if (!list) return nullptr;
    return find_device_element(name, list.get());
  } catch (...) {
    return nullptr;
  }
}

KLV_API int32_t get_repository_link(const char* folder, char* repository) {
  try {
    static const char* const kKeys[] = {"Printer_Repository"};
    std::string values[1];
    read_links(folder, kKeys, values, 1);
    copy_path(repository, values[0]);
    return values[0].empty() ? 0 : 1;
  } catch (...) {
    copy_path(repository, "");
    return 0;
  }
}

KLV_API int32_t get_common_links(const char* folder, char* repository, char* common, char* cfg,
                                 char* system) {
  try {
    static const char* const kKeys[] = {"Printer_Repository", "Printer_Common", "Printer_CFG",
                                        "Printer_System"};
    std::string v[4];
    read_links(folder, kKeys, v, 4);
    copy_path(repository, v[0]);
    copy_path(common, v[1]);
    copy_path(cfg, v[2]);
    copy_path(system, v[3]);
    return !v[0].empty() && !v[1].empty() && !v[2].empty() && !v[3].empty() ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

}  // extern "C"
