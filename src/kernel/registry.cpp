// SPDX-License-Identifier: MIT
// Per-user settings kept in a settings text file in place of a registry.
// Every call reads the file afresh (values are read rarely); setters rewrite
// it whole through fp_save_begin/fp_save_end.
#include "klv/registry.h"

#include <pwd.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "kernel/settings_text_reader.h"
#include "kernel/stream.h"
#include "klv/kernel_stream.h"
#include "klv/log.h"

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

const char* env(const char* name) {
  const char* v = std::getenv(name);
  return (v && *v) ? v : nullptr;
}

std::string registry_file() {
  if (const char* p = env("KLV_REGISTRY")) return p;
  if (const char* x = env("XDG_CONFIG_HOME")) return std::string(x) + "/klv/Registry.info";
  const char* home = env("HOME");
  if (!home) {
    const passwd* pw = getpwuid(getuid());
    home = (pw && pw->pw_dir && *pw->pw_dir) ? pw->pw_dir : nullptr;
  }
  return home ? std::string(home) + "/.config/klv/Registry.info" : std::string();
}

// Reads every entry of the Registry block. A missing file, or a file without
// the block, gives no entries and true; a file that cannot be read or parsed
// gives false.
bool read_entries(const std::string& path, Entries& out) {
  out.clear();
  std::error_code ec;
  if (!std::filesystem::exists(klv::kernel::host_path(path.c_str()), ec)) return true;
  SFPARSE* fp = fp_open(nullptr, path.c_str(), 0);
  if (!fp) return false;
  bool ok = false;
  if (!off_open_rec(fp, "Registry")) {
    ok = fp->peek() == SFPARSE::kEnd;
  } else {
    for (;;) {
      SFPARSE::Tok t = fp->peek();
      if (t == SFPARSE::kClose) {
        ok = true;
        break;
      }
      if (t == SFPARSE::kOpen) {
        if (!fp->skip_value()) break;
        continue;
      }
      if (t != SFPARSE::kWord) {
        if (t == SFPARSE::kEnd) fp->fail("Registry block not closed");
        break;
      }
      fp->next();
      std::string key = fp->text();
      if (fp->peek() != SFPARSE::kOpen) continue;  // a stray word
      std::string value;
      if (!fp->value_text(value, key.c_str())) break;
      out.emplace_back(std::move(key), std::move(value));
    }
  }
  fp_close(fp);
  if (!ok) KLV_LOG(KLV_LOG_ERROR, "registry file \"%s\" cannot be read", path.c_str());
  return ok;
}

// The value of `name`: the environment first, then the file.
bool lookup(const char* name, std::string& value) {
  if (const char* v = std::getenv(name)) {
    value = v;
    return true;
  }
  std::string path = registry_file();
  if (path.empty()) return false;
  Entries entries;
  if (!read_entries(path, entries)) return false;
  for (const auto& [key, v] : entries) {
    if (klv::kernel::compare_nocase(key.c_str(), name) == 0) {
      value = v;
      return true;
    }
  }
  return false;
}

bool parse_int(const std::string& text, int32_t& out) {
  const char* b = text.data();
  const char* e = b + text.size();
  int base = 10;
  bool negative = false;
  if (b != e && (*b == '-' || *b == '+')) negative = *b++ == '-';
  if (e - b > 2 && b[0] == '0' && (b[1] == 'x' || b[1] == 'X')) {
    b += 2;
    base = 16;
  }
  int64_t v = 0;
  auto r = std::from_chars(b, e, v, base);
  if (b == e || r.ec != std::errc() || r.ptr != e || *b == '-' || *b == '+') return false;
  if (negative) v = -v;
  // Hexadecimal words up to 0xFFFFFFFF keep their bits, as registry words do.
  if (base == 16 && !negative && v <= 0xFFFFFFFFLL)
    v = static_cast<int32_t>(static_cast<uint32_t>(v));
  if (v < INT32_MIN || v > INT32_MAX) return false;
  out = static_cast<int32_t>(v);
  return true;
}

std::mutex g_write_mutex;

bool set_value(const char* name, const std::string& value) {
  std::lock_guard<std::mutex> lock(g_write_mutex);
  std::string path = registry_file();
  if (path.empty()) {
    KLV_LOG(KLV_LOG_ERROR, "registry: no home folder to keep settings in");
    return false;
  }
  Entries entries;
  if (!read_entries(path, entries)) return false;  // never overwrite what cannot be read
  bool replaced = false;
  for (auto& [key, v] : entries) {
    if (klv::kernel::compare_nocase(key.c_str(), name) == 0) {
      key = name;
      v = value;
      replaced = true;
      break;
    }
  }
  if (!replaced) entries.emplace_back(name, value);

  std::filesystem::path host(klv::kernel::host_path(path.c_str()));
  std::error_code ec;
  if (host.has_parent_path()) std::filesystem::create_directories(host.parent_path(), ec);
  SFSAVE* save = fp_save_begin(nullptr, path.c_str());
  if (!save) return false;
  SFilemux* s = fp_save_stream(save);
  bool ok = off_put_open(s, 0, "Registry") != 0;
  for (const auto& [key, v] : entries) ok = ok && off_put_string(s, 1, key.c_str(), v.c_str());
  ok = ok && off_put_close(s, 0);
  return fp_save_end(save, ok ? 1 : 0) == 1;
}

}  // namespace

extern "C" {

KLV_API int32_t klv_registry_path(char* buf, int32_t size) {
  try {
    std::string path = registry_file();
    if (path.empty() || !buf || size < 1 || path.size() >= static_cast<size_t>(size)) return -1;
    std::memcpy(buf, path.c_str(), path.size() + 1);
    return static_cast<int32_t>(path.size());
  } catch (...) {
    return -1;
  }
}

KLV_API int32_t klv_registry_get_int(const char* name, int32_t fallback) {
  if (!name || !*name) return fallback;
  try {
    std::string text;
    if (!lookup(name, text)) return fallback;
    int32_t v = 0;
    if (parse_int(text, v)) return v;
    KLV_LOG(KLV_LOG_WARNING, "registry value %s \"%s\" is not an integer; using %d", name,
            text.c_str(), fallback);
  } catch (...) {
  }
  return fallback;
}

KLV_API int32_t klv_registry_get_string(const char* name, char* buf, int32_t size) {
  if (buf && size > 0) buf[0] = '\0';
  if (!name || !*name) return 0;
  try {
    std::string text;
    if (!lookup(name, text)) return 0;
    klv::kernel::copy_cut(text, buf, size);
    return 1;
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t klv_registry_set_int(const char* name, int32_t value) {
  if (!name || !*name) return 0;
  try {
    return set_value(name, std::to_string(value)) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t klv_registry_set_string(const char* name, const char* value) {
  if (!name || !*name) return 0;
  try {
    return set_value(name, value ? value : "") ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

}  // extern "C"
