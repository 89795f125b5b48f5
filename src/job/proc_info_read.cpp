// SPDX-License-Identifier: MIT
// Reading the processing record: finding the n-th `Proc_Info` block of a
// file and filling a record from it, with the level tables, separations,
// crop and dot counts in their own forms.
#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "job/proc_info_internal.h"
#include "job/settings_fields.h"
#include "kernel/settings_text_reader.h"
#include "klv/log.h"

namespace klv::job {
namespace {

proc_info& rec(void* record) {
  return *static_cast<proc_info*>(record);
}

bool fail(SFPARSE* fp, const char* key, const char* what) {
  KLV_LOG(KLV_LOG_ERROR, "processing record %s, line %d: %s: %s", fp->name().c_str(), fp->line(),
          key, what);
  return false;
}

// One table: `{ levels { v v ... } }`, the opening brace already read.
bool read_level_table(SFPARSE* fp, proc_level_table& t) {
  int64_t levels = 0;
  if (fp->next() != SFPARSE::kWord || !parse_int(fp->text(), levels, 0, 255))
    return fail(fp, "ProcLevelInfo", "a table does not begin with its level count");
  t.levels = static_cast<uint8_t>(levels);
  if (fp->next() != SFPARSE::kOpen) return fail(fp, "ProcLevelInfo", "expected '{' for values");
  size_t n = 0;
  for (SFPARSE::Tok tok = fp->next(); tok != SFPARSE::kClose; tok = fp->next()) {
    if (tok != SFPARSE::kWord) return fail(fp, "ProcLevelInfo", "a table's values do not close");
    if (n == 256) return fail(fp, "ProcLevelInfo", "more than 256 values in a table");
    const std::string& w = fp->text();
    unsigned long v = 0;
    char* end = nullptr;
    if (!w.empty() && w[0] != '-' && w[0] != '+') v = std::strtoul(w.c_str(), &end, 16);
    if (!end || *end || v > 0xFFFF) return fail(fp, "ProcLevelInfo", "a value is not hex 0-FFFF");
    t.values[n++] = static_cast<uint16_t>(v);
  }
  if (fp->next() != SFPARSE::kClose) return fail(fp, "ProcLevelInfo", "a table does not close");
  return true;
}

int32_t read_levels(SFPARSE* fp, const off_field* f, void* record) {
  if (fp->next() != SFPARSE::kOpen) return fail(fp, f->key, "expected '{'");
  proc_info& r = rec(record);
  for (int i = 0;; ++i) {
    SFPARSE::Tok tok = fp->next();
    if (tok == SFPARSE::kClose) return 1;
    if (tok != SFPARSE::kOpen) return fail(fp, f->key, "expected a table in braces");
    if (i == KLV_PROC_TABLES) return fail(fp, f->key, "more than 12 tables");
    r.ProcLevelInfo[i] = proc_level_table{};
    if (!read_level_table(fp, r.ProcLevelInfo[i])) return 0;
  }
}

int32_t read_separations(SFPARSE* fp, const off_field* f, void* record) {
  std::vector<std::string> words;
  if (!read_words(fp, f->key, words, 0, 4096)) return 0;
  if (words.size() > KLV_PROC_TABLES)
    KLV_LOG(KLV_LOG_WARNING, "processing record %s: %zu separations, the first 12 are kept",
            fp->name().c_str(), words.size());
  proc_info& r = rec(record);
  std::memset(r.Separations, 0, sizeof r.Separations);
  for (size_t i = 0; i < words.size() && i < KLV_PROC_TABLES; ++i)
    klv::kernel::copy_cut(words[i], r.Separations[i], KLV_PROC_SEP_NAME);
  return 1;
}

int32_t read_crop(SFPARSE* fp, const off_field* f, void* record) {
  std::vector<std::string> words;
  proc_info& r = rec(record);
  if (!read_words(fp, f->key, words, 4, 4)) return 0;
  for (int i = 0; i < 4; ++i)
    if (!parse_real(words[i], r.ProcCrop[i])) return 0;
  r.ProcCropSet = 1;
  return 1;
}

// `{ "name" count [real [count2]] }`, the opening brace already read.
bool read_dot_entry(SFPARSE* fp, proc_dot_count* d) {
  std::vector<std::string> w;
  for (SFPARSE::Tok tok = fp->next(); tok != SFPARSE::kClose; tok = fp->next()) {
    if (tok != SFPARSE::kWord || w.size() == 4) return fail(fp, "DotCount", "a malformed entry");
    w.push_back(fp->text());
  }
  if (w.size() < 2) return fail(fp, "DotCount", "an entry without its count");
  if (!d) return true;  // beyond the entries kept
  uint64_t counts[2] = {0, 0};
  for (size_t i : {size_t(1), size_t(3)}) {
    if (i >= w.size()) continue;
    const char* b = w[i].c_str();
    char* end = nullptr;
    if (*b >= '0' && *b <= '9') {
      errno = 0;
      counts[i / 2] = std::strtoull(b, &end, 10);
    }
    if (!end || *end || errno == ERANGE) return fail(fp, "DotCount", "a count is not a number");
  }
  double value = 0;
  if (w.size() >= 3 && !parse_real(w[2], value)) return false;
  klv::kernel::copy_cut(w[0], d->name, sizeof d->name);
  d->count = counts[0];
  d->value = value;
  d->count2 = counts[1];
  return true;
}

int32_t read_dot_counts(SFPARSE* fp, const off_field* f, void* record) {
  if (fp->next() != SFPARSE::kOpen) return fail(fp, f->key, "expected '{'");
  proc_info& r = rec(record);
  std::memset(r.DotCount, 0, sizeof r.DotCount);
  for (int i = 0;; ++i) {
    SFPARSE::Tok tok = fp->next();
    if (tok == SFPARSE::kClose) return 1;
    if (tok != SFPARSE::kOpen) return fail(fp, f->key, "expected an entry in braces");
    if (i == KLV_PROC_DOTCOUNTS)
      KLV_LOG(KLV_LOG_WARNING, "processing record %s: more than 30 dot counts, the rest ignored",
              fp->name().c_str());
    if (!read_dot_entry(fp, i < KLV_PROC_DOTCOUNTS ? &r.DotCount[i] : nullptr)) return 0;
  }
}

std::vector<off_field> make_table() {
  using p = proc_info;
  auto text = [](const char* key, size_t offset, size_t size) {
    return off_field{key, OFF_STRING, 0, offset, size, nullptr, nullptr};
  };
  auto plain = [](const char* key, int32_t kind, size_t offset) {
    return off_field{key, kind, 0, offset, 0, nullptr, nullptr};
  };
  auto custom = [](const char* key, off_read_fn read) {
    return off_field{key, OFF_CUSTOM, 0, 0, 0, read, nullptr};
  };
  std::vector<off_field> t = {
      plain("BitsPerSample", OFF_UINT8, offsetof(p, BitsPerSample)),
      text("ImageFile", offsetof(p, ImageFile), sizeof(p::ImageFile)),
      text("UccFile", offsetof(p, UccFile), sizeof(p::UccFile)),
      text("ProcessProfiles", offsetof(p, ProcessProfiles), sizeof(p::ProcessProfiles)),
      plain("ProcessOpts", OFF_UINT32, offsetof(p, ProcessOpts)),
      text("JobID", offsetof(p, JobID), sizeof(p::JobID)),
      text("InkConfig", offsetof(p, InkConfig), sizeof(p::InkConfig)),
      plain("PrintXMod", OFF_UINT8, offsetof(p, PrintXMod)),
      plain("PrintYMod", OFF_UINT8, offsetof(p, PrintYMod)),
      custom("ProcLevelInfo", read_levels),
      text("ProcessStartDate", offsetof(p, ProcessStartDate), sizeof(p::ProcessStartDate)),
      text("ProcessStartTime", offsetof(p, ProcessStartTime), sizeof(p::ProcessStartTime)),
      text("ProcessTotalTime", offsetof(p, ProcessTotalTime), sizeof(p::ProcessTotalTime)),
      text("PrinterCCT", offsetof(p, PrinterCCT), sizeof(p::PrinterCCT)),
      text("ScannerCCT", offsetof(p, ScannerCCT), sizeof(p::ScannerCCT)),
      custom("Separations", read_separations),
      text("PrintPattern", offsetof(p, PrintPattern), sizeof(p::PrintPattern)),
      custom("ProcCrop", read_crop),
      plain("DotCountNorm", OFF_INT32, offsetof(p, DotCountNorm)),
      custom("DotCount", read_dot_counts),
      plain("Process16Bit", OFF_UINT8, offsetof(p, Process16Bit)),
  };
  std::sort(t.begin(), t.end(),
            [](const off_field& a, const off_field& b) { return strcasecmp(a.key, b.key) < 0; });
  return t;
}

struct ParseCloser {
  void operator()(SFPARSE* fp) const { fp_close(fp); }
};
using ParsePtr = std::unique_ptr<SFPARSE, ParseCloser>;

// Enters block number `index`; false when there are fewer.
bool enter_block(SFPARSE* fp, int32_t index) {
  if (!off_open_rec(fp, "Proc_Info")) return false;
  for (int32_t i = 0; i < index; ++i)
    if (!fp_close_block(fp) || !off_find_rec(fp, "Proc_Info")) return false;
  return true;
}

}  // namespace
}  // namespace klv::job

using namespace klv::job;

extern "C" {

KLV_API int32_t get_prtinfo_at(SOVolume* volume, const char* path, int32_t index,
                               proc_info* record) {
  if (!path || !record || index < 0) return 0;
  try {
    ParsePtr fp(fp_open(volume, path, 0));
    if (!fp) {
      KLV_LOG(KLV_LOG_ERROR, "processing record: cannot open \"%s\"", path);
      return 0;
    }
    if (!enter_block(fp.get(), index)) {
      KLV_LOG(KLV_LOG_ERROR, "processing record: \"%s\" has no Proc_Info block number %d", path,
              index + 1);
      return 0;
    }
    std::memset(static_cast<void*>(record), 0, sizeof *record);
    record->BitsPerSample = 1;
    static const std::vector<off_field> table = make_table();
    return off_load_struct(fp.get(), table.data(), static_cast<int32_t>(table.size()), record);
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t get_prtinfo(SOVolume* volume, const char* path, proc_info* record) {
  return get_prtinfo_at(volume, path, 0, record);
}

KLV_API int32_t count_prtinfo(SOVolume* volume, const char* path) {
  if (!path) return -1;
  ParsePtr fp(fp_open(volume, path, 0));
  if (!fp) return -1;
  int32_t n = 0;
  if (off_open_rec(fp.get(), "Proc_Info"))
    for (n = 1; fp_close_block(fp.get()) && off_find_rec(fp.get(), "Proc_Info");) ++n;
  return n;
}

KLV_API proc_info* proc_info_new(void) {
  auto* r = static_cast<proc_info*>(std::calloc(1, sizeof(proc_info)));
  if (r) r->BitsPerSample = 1;
  return r;
}

KLV_API proc_info* proc_info_load(SOVolume* volume, const char* path, int32_t index) {
  proc_info* r = proc_info_new();
  if (r && !get_prtinfo_at(volume, path, index, r)) {
    std::free(r);
    return nullptr;
  }
  return r;
}

KLV_API void proc_info_free(proc_info* record) {
  std::free(record);
}

}  // extern "C"
