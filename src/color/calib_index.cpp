// SPDX-License-Identifier: MIT
// The calibration volume of a printer: its index record "Calb.Info",
// calibration names and the halftone pattern table, the search for a
// calibration file with the index record's alias and substitution rules, and
// the ink model query.
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "color/calib_internal.h"
#include "klv/calib.h"
#include "klv/kernel_path.h"
#include "klv/kernel_util.h"
#include "klv/log.h"
#include "klv/printmode.h"
#include "klv/prntinfo.h"

namespace klv::calib {

void copy_text(char* out, size_t size, std::string_view text) {
  if (!out || size == 0) return;
  size_t n = text.size() < size - 1 ? text.size() : size - 1;
  if (n < text.size())  // never cut inside a multi-byte character
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  if (n) std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

namespace {

constexpr const char* kInfoMember = "Calb.Info";
constexpr const char* kInfoBlock = "Calb_Info";
constexpr int kOpenAttempts = 50;
constexpr auto kOpenPause = std::chrono::milliseconds(100);
// Bounds of the rule search: each recursion adds one new key string, so the
// search ends anyway; these keep a hostile index record from taking the stack
// or the time of the caller.
constexpr size_t kMaxDepth = 32;
constexpr size_t kMaxVisited = 256;

// Sorted by key without regard to letter case.
const off_field kInfoTable[] = {
    {"Aliases", OFF_STRAL, 0, offsetof(Calb_Info, Aliases), 0, nullptr, nullptr},
    {"DefaultInkModel", OFF_STRING, 0, offsetof(Calb_Info, DefaultInkModel),
     sizeof(Calb_Info::DefaultInkModel), nullptr, nullptr},
    {"DefaultMedia", OFF_STRING, 0, offsetof(Calb_Info, DefaultMedia),
     sizeof(Calb_Info::DefaultMedia), nullptr, nullptr},
    {"InkModels", OFF_STRAL, 0, offsetof(Calb_Info, InkModels), 0, nullptr, nullptr},
    {"Subs", OFF_STRAL, 0, offsetof(Calb_Info, Subs), 0, nullptr, nullptr},
    {"Swatch", OFF_STRING, 0, offsetof(Calb_Info, Swatch), sizeof(Calb_Info::Swatch), nullptr,
     nullptr},
};
constexpr int32_t kInfoFields = int32_t(sizeof kInfoTable / sizeof kInfoTable[0]);

struct InfoFree {
  void operator()(Calb_Info* r) const { calbinfo_free(r); }
};
using InfoPtr = std::unique_ptr<Calb_Info, InfoFree>;

// The path of the index record: the given one, else "Calb.Info" in a volume.
std::string info_path(SOVolume* volume, const char* path) {
  if (path && *path) return path;
  return KLV_IS_HOST_VOLUME(volume) ? std::string() : std::string(kInfoMember);
}

std::string without_tildes(const char* text) {
  std::string out;
  for (const char* p = text; *p; ++p)
    if (*p != '~') out += *p;  // '~' never occurs inside a multi-byte character
  return out;
}

std::string calb_name(const char* base, const char* media, const char* third, const char* pattern) {
  std::string out;
  for (const char* key : {base, media, third})
    if (key) out += without_tildes(key) + "~";
  if (pattern && *pattern) out += std::to_string(get_pattern_num(pattern));
  if (!out.empty() && out.back() == '~') out.pop_back();
  return out;
}

// The three keys a rule works on; a key may be absent (null in a request).
struct Keys {
  const char* media;
  const char* third;
  const char* pattern;
};

// One side of a rule, split into its fields.
struct RuleSide {
  std::string media, third, pattern;
};

RuleSide split_side(const char* name) {
  char media[KLV_CALB_NAME_MAX], third[KLV_CALB_NAME_MAX], pattern[KLV_CALB_NAME_MAX];
  split_calb_path(name, nullptr, media, third, pattern);
  return {media, third, pattern};
}

struct Rule {
  RuleSide from, to;
};

std::vector<Rule> read_rules(const SSTRAL* list) {
  std::vector<Rule> rules;
  for (int32_t i = 0; i < stral_count(list); ++i) {
    if (stral_size(list, i) < 2) continue;
    rules.push_back({split_side(stral_str(list, i, 0)), split_side(stral_str(list, i, 1))});
  }
  return rules;
}

bool same(const char* a, const char* b) {
  return Ostricmp_mb(a ? a : "", b ? b : "") == 0;
}

// A rule matches when one of its "from" fields is set and every set one
// equals the request (a request field that is absent is compared with the
// rule's "to" field).
bool rule_matches(const Rule& r, const Keys& req) {
  const std::string* from[3] = {&r.from.media, &r.from.third, &r.from.pattern};
  const std::string* to[3] = {&r.to.media, &r.to.third, &r.to.pattern};
  const char* want[3] = {req.media, req.third, req.pattern};
  bool any = false;
  for (int f = 0; f < 3; ++f) {
    if (from[f]->empty()) continue;
    any = true;
    if (!same(from[f]->c_str(), want[f] ? want[f] : to[f]->c_str())) return false;
  }
  return any;
}

Keys substitute(const Rule& r, const Keys& req) {
  return {r.to.media.empty() ? req.media : r.to.media.c_str(),
          r.to.third.empty() ? req.third : r.to.third.c_str(),
          r.to.pattern.empty() ? req.pattern : r.to.pattern.c_str()};
}

std::string key_string(const Keys& k) {
  return calb_name(nullptr, k.media, k.third, k.pattern);
}

// The search over one index record in one volume.
class Search {
 public:
  Search(SOVolume* volume, const Calb_Info* info)
      : volume_(volume),
        info_(info),
        aliases_(read_rules(info->Aliases)),
        subs_(read_rules(info->Subs)) {}

  std::string run(const char* base, const Keys& req) {
    visited_.push_back(key_string(req));
    std::string found = search(base ? base : "", req, 0);
    if (found.empty() && cycle_)
      KLV_LOG(KLV_LOG_WARNING,
              "find_calb_vfile: the alias and substitution rules of \"%s\" lead back to "
              "keys already searched; no calibration file found for \"%s\"",
              VGetFName(volume_), key_string(req).c_str());
    return found;
  }

 private:
  bool visited(const std::string& key) {
    for (const auto& v : visited_)
      if (same(v.c_str(), key.c_str())) return true;
    return false;
  }

  std::string try_name(const std::string& base, const Keys& k) {
    std::string name = calb_name(base.c_str(), k.media, k.third, k.pattern);
    return Ofileexists(volume_, name.c_str(), 0) ? name : std::string();
  }

  // Steps 1 and 2 for one base: the keys as asked, then each matching alias.
  std::string try_base(const std::string& base, const Keys& req) {
    std::string found = try_name(base, req);
    for (const Rule& r : aliases_) {
      if (!found.empty()) break;
      if (!rule_matches(r, req)) continue;
      Keys k = substitute(r, req);
      if (!visited(key_string(k))) found = try_name(base, k);
    }
    return found;
  }

  // Follows each matching rule of a list into a search with its keys.
  std::string follow(const std::vector<Rule>& rules, const std::string& base, const Keys& req,
                     size_t depth) {
    for (const Rule& r : rules) {
      if (!rule_matches(r, req)) continue;
      Keys k = substitute(r, req);
      std::string found = descend(base, k, depth);
      if (!found.empty()) return found;
    }
    return {};
  }

  std::string descend(const std::string& base, const Keys& k, size_t depth) {
    std::string key = key_string(k);
    if (visited(key)) {
      cycle_ = true;
      return {};
    }
    if (depth + 1 > kMaxDepth || visited_.size() >= kMaxVisited) {
      if (!limit_logged_)
        KLV_LOG(KLV_LOG_WARNING, "find_calb_vfile: rules of \"%s\" go deeper than %zu steps",
                VGetFName(volume_), kMaxDepth);
      limit_logged_ = true;
      return {};
    }
    visited_.push_back(key);
    return search(base, k, depth + 1);
  }

  std::string search(const std::string& base, const Keys& req, size_t depth) {
    std::string found = try_base(base + "1", req);
    if (found.empty()) found = try_base(base + "0", req);
    if (found.empty()) found = follow(subs_, base, req, depth);
    if (found.empty()) found = follow(aliases_, base, req, depth);
    if (found.empty() && !same(req.media, info_->DefaultMedia))
      found = descend(base, {info_->DefaultMedia, req.third, req.pattern}, depth);
    return found;
  }

  SOVolume* volume_;
  const Calb_Info* info_;
  std::vector<Rule> aliases_, subs_;
  std::vector<std::string> visited_;
  bool cycle_ = false;
  bool limit_logged_ = false;
};

std::string printer_volume_path(const char* printer) {
  if (!get_server_mode()) {
    std::vector<char> folder(KLV_PATH_MAX);
    if (get_printer_path(printer, folder.data(), nullptr) && folder[0]) {
      std::string path = std::string(folder.data()) + "\\Info\\PRINTER.Calibrate";
      if (Ofileexists(nullptr, path.c_str(), 0)) return path;
    }
  }
  std::vector<char> found(KLV_PATH_MAX);
  std::string name = std::string(printer) + ".Calibrate";
  if (_findinpath_ex("Server", name.c_str(), found.data())) return found.data();
  return {};
}

}  // namespace
}  // namespace klv::calib

using namespace klv::calib;

// ---- Index record -----------------------------------------------------------

KLV_API Calb_Info* calbinfo_new(void) {
  auto* r = static_cast<Calb_Info*>(std::calloc(1, sizeof(Calb_Info)));
  if (!r) return nullptr;
  r->Aliases = _stral_new();
  r->Subs = _stral_new();
  r->InkModels = _stral_new();
  if (!r->Aliases || !r->Subs || !r->InkModels) return calbinfo_free(r);
  return r;
}

KLV_API Calb_Info* calbinfo_free(Calb_Info* record) {
  if (!record) return nullptr;
  stral_free(record->Aliases);
  stral_free(record->Subs);
  stral_free(record->InkModels);
  std::free(record);
  return nullptr;
}

KLV_API Calb_Info* calbinfo_load(SOVolume* volume, const char* path) {
  try {
    std::string file = info_path(volume, path);
    if (file.empty()) {
      KLV_LOG(KLV_LOG_ERROR, "calbinfo_load: a host file needs a path");
      return nullptr;
    }
    if (!Ofileexists(volume, file.c_str(), 0)) {
      KLV_LOG(KLV_LOG_ERROR, "calbinfo_load: no index record \"%s\"", file.c_str());
      return nullptr;
    }
    ParserPtr fp(fp_open(volume, file.c_str(), 0));
    if (!fp) return nullptr;
    InfoPtr r(calbinfo_new());
    if (!r) return nullptr;
    if (!off_open_rec(fp.get(), kInfoBlock) ||
        !off_load_struct(fp.get(), kInfoTable, kInfoFields, r.get())) {
      KLV_LOG(KLV_LOG_ERROR, "calbinfo_load: \"%s\" has no readable %s block", file.c_str(),
              kInfoBlock);
      return nullptr;
    }
    for (SSTRAL** list : {&r->Aliases, &r->Subs, &r->InkModels})
      if (!*list && !(*list = _stral_new())) return nullptr;
    return r.release();
  } catch (...) {
    return nullptr;
  }
}

KLV_API int32_t calbinfo_save(SOVolume* volume, const char* path, const Calb_Info* record) {
  if (!record) return 0;
  try {
    std::string file = info_path(volume, path);
    if (file.empty()) {
      KLV_LOG(KLV_LOG_ERROR, "calbinfo_save: a host file needs a path");
      return 0;
    }
    return off_save_struct(volume, file.c_str(), kInfoTable, kInfoFields, record, kInfoBlock);
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t get_inkmodel(SOVolume* volume, const char* name, char* out) {
  if (!out) return 0;
  out[0] = '\0';
  try {
    InfoPtr info(calbinfo_load(volume, nullptr));
    if (!info) return 0;
    const SSTRAL* models = info->InkModels;
    for (int32_t i = 0; name && i < stral_count(models); ++i) {
      if (stral_size(models, i) >= 2 && same(stral_str(models, i, 0), name)) {
        copy_text(out, KLV_CALB_INKMODEL_MAX, stral_str(models, i, 1));
        return 1;
      }
    }
    copy_text(out, KLV_CALB_INKMODEL_MAX, info->DefaultInkModel);
    return 1;
  } catch (...) {
    out[0] = '\0';
    return 0;
  }
}

// ---- Names and patterns ------------------------------------------------------

KLV_API int32_t make_calb_path(char* out, const char* base, const char* media, const char* third,
                               const char* pattern) {
  if (!out) return 0;
  try {
    copy_text(out, KLV_CALB_NAME_MAX, calb_name(base, media, third, pattern));
  } catch (...) {
    out[0] = '\0';
  }
  return 1;
}

KLV_API int32_t split_calb_path(const char* name, char* base, char* media, char* third,
                                char* pattern) {
  std::string_view rest = name ? name : "";
  for (char* out : {base, media, third}) {
    size_t tilde = rest.find('~');
    std::string_view field = rest.substr(0, tilde);
    copy_text(out, KLV_CALB_NAME_MAX, field);
    rest = tilde == std::string_view::npos ? std::string_view() : rest.substr(tilde + 1);
  }
  if (!pattern) return 1;
  // The rest is the pattern number, optionally "-option".
  std::string text(rest);
  const char* end = text.c_str();
  int32_t number = OatoiEx(text.c_str(), &end);
  if (end == text.c_str()) {  // no number: the name has no pattern
    pattern[0] = '\0';
    return 1;
  }
  size_t dash = text.find('-', size_t(end - text.c_str()));
  std::string option = dash == std::string::npos ? std::string() : text.substr(dash + 1);
  get_pattern_str(pattern, KLV_CALB_NAME_MAX, number, option.c_str());
  return 1;
}

// ---- Volume and search ----------------------------------------------------------

KLV_API SOVolume* open_calb_volume(const char* printer, int32_t mode, char* path_out) {
  if (path_out) path_out[0] = '\0';
  if (!printer || !*printer) return nullptr;
  try {
    std::string path = printer_volume_path(printer);
    if (path_out) copy_text(path_out, KLV_PATH_MAX, path);
    if (path.empty() || !Ofileexists(nullptr, path.c_str(), 0)) {
      KLV_LOG(KLV_LOG_INFO, "open_calb_volume: printer \"%s\" has no calibration volume", printer);
      return nullptr;
    }
    if (!VIsVolume(nullptr, path.c_str())) {
      KLV_LOG(KLV_LOG_ERROR, "open_calb_volume: \"%s\" is not a volume", path.c_str());
      return nullptr;
    }
    SOVolume* volume = nullptr;
    for (int attempt = 0; attempt < kOpenAttempts && !volume; ++attempt) {
      if (attempt) std::this_thread::sleep_for(kOpenPause);
      volume = VOpen(nullptr, path.c_str(), mode);
    }
    if (!volume) KLV_LOG(KLV_LOG_ERROR, "open_calb_volume: cannot open \"%s\"", path.c_str());
    return volume;
  } catch (...) {
    return nullptr;
  }
}

KLV_API int32_t find_calb_vfile(SOVolume* volume, const char* base, const char* media,
                                const char* third, const char* pattern, char* out) {
  if (out) out[0] = '\0';
  if (!volume || KLV_IS_HOST_VOLUME(volume) || !out) return 0;
  try {
    InfoPtr info(calbinfo_load(volume, nullptr));
    if (!info) return 0;
    Search search(volume, info.get());
    std::string found = search.run(base, {media, third, pattern});
    if (found.empty() || found.size() >= KLV_CALB_NAME_MAX) return 0;
    copy_text(out, KLV_CALB_NAME_MAX, found);
    return 1;
  } catch (...) {
    out[0] = '\0';
    return 0;
  }
}

KLV_API int32_t find_calb_file(const char* printer, const char* base, const char* media,
                               const char* third, const char* pattern, char* out) {
  if (out) out[0] = '\0';
  if (!out) return 0;
  try {
    std::vector<char> path(KLV_PATH_MAX);
    SOVolume* volume = open_calb_volume(printer, KLV_VOL_READ, path.data());
    if (!volume) return 0;
    char member[KLV_CALB_NAME_MAX];
    int32_t ok = find_calb_vfile(volume, base, media, third, pattern, member);
    VClose(volume);
    if (!ok) return 0;
    std::string full = std::string(path.data()) + "\\\\" + member;
    if (full.size() >= KLV_PATH_MAX) return 0;
    copy_text(out, KLV_PATH_MAX, full);
    return 1;
  } catch (...) {
    out[0] = '\0';
    return 0;
  }
}
