// SPDX-License-Identifier: MIT
// The `Default_Config` block new jobs start from, printer presets (the
// `Settings` blocks of a `Printer_Sets` file) and the copies between a
// preset, a print mode and a job record.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "job/settings_fields.h"
#include "job/settings_io.h"
#include "kernel/settings_text_reader.h"
#include "klv/kernel_util.h"
#include "klv/log.h"

namespace klv::job {
namespace {

struct ParseCloser {
  void operator()(SFPARSE* fp) const { fp_close(fp); }
};
using ParsePtr = std::unique_ptr<SFPARSE, ParseCloser>;

ParsePtr open_text(SOVolume* volume, const char* path) {
  ParsePtr fp(fp_open(volume, path, 0));
  if (!fp) KLV_LOG(KLV_LOG_ERROR, "cannot open \"%s\"", path);
  return fp;
}

bool load_with(SFPARSE* fp, const std::vector<off_field>& table, settings* record) {
  return off_load_struct(fp, table.data(), static_cast<int32_t>(table.size()), record) != 0;
}

// Fills a preset from the block just entered. A preset without a vertical
// gap takes its horizontal one.
bool load_preset(SFPARSE* fp, pset* p) {
  p->set.CopyGapY = -1.0;
  if (!load_with(fp, preset_read_table(), &p->set)) return false;
  if (p->set.CopyGapY < 0) p->set.CopyGapY = p->set.CopyGap;
  return true;
}

pset* new_pset() {
  return static_cast<pset*>(std::calloc(1, sizeof(pset)));
}

void free_one(pset* p) {
  if (!p) return;
  settings_clear(&p->set);
  std::free(p);
}

pset* copy_one(const pset* p) {
  pset* out = new_pset();
  if (out && !settings_copy(&out->set, &p->set)) {
    std::free(out);
    return nullptr;
  }
  return out;
}

void preset_block(std::string& out, const settings& s, const std::string& indent) {
  out += indent + "Settings {\n";
  write_fields(out, s, preset_fields(), indent);
  out += indent + "}\n";
}

// Copies the preset's fields (and its loaded media) from one record to another.
void copy_preset_fields(settings& to, const settings& from) {
  for (const ViewField& v : preset_fields())
    std::memcpy(reinterpret_cast<char*>(&to) + v.field->offset,
                reinterpret_cast<const char*>(&from) + v.field->offset, v.field->size);
  if (&to == &from) return;
  stral_free(to.LoadedMedia);
  to.LoadedMedia = from.LoadedMedia ? _stral_copy(from.LoadedMedia) : nullptr;
}

}  // namespace
}  // namespace klv::job

using namespace klv::job;

extern "C" {

KLV_API int32_t get_setconfig(const char* path, settings* record) {
  if (!path || !record) return 0;
  try {
    ParsePtr fp = open_text(nullptr, path);
    if (!fp) return 0;
    if (!off_open_rec(fp.get(), "Default_Config")) {
      KLV_LOG(KLV_LOG_ERROR, "\"%s\" holds no Default_Config block", path);
      return 0;
    }
    settings_clear(record);
    return load_with(fp.get(), default_config_read_table(), record) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t put_setconfig(const char* path, const settings* record) {
  if (!path || !record) return 0;
  try {
    std::string text = "Default_Config {\n";
    write_fields(text, *record, default_config_fields(), "");
    text += "}\n";
    return save_bytes(nullptr, path, text);
  } catch (...) {
    return 0;
  }
}

KLV_API pset* load_psets(SOVolume* volume, const char* path) {
  if (!path) return nullptr;
  pset* head = nullptr;
  try {
    ParsePtr fp = open_text(volume, path);
    if (!fp) return nullptr;
    if (!off_open_rec(fp.get(), "Printer_Sets")) {
      KLV_LOG(KLV_LOG_ERROR, "\"%s\" holds no Printer_Sets block", path);
      return nullptr;
    }
    pset** tail = &head;
    while (off_find_rec(fp.get(), "Settings")) {
      pset* p = new_pset();
      if (!p || !load_preset(fp.get(), p)) {
        free_one(p);
        free_psets(head);
        return nullptr;
      }
      *tail = p;
      tail = &p->next;
    }
    if (!head) KLV_LOG(KLV_LOG_ERROR, "\"%s\" holds no printer preset", path);
    return head;
  } catch (...) {
    free_psets(head);
    return nullptr;
  }
}

KLV_API int32_t save_psets(SOVolume* volume, const char* path, const pset* list) {
  if (!path) return 0;
  try {
    std::string text = "Printer_Sets {\n";
    for (const pset* p = list; p; p = p->next) preset_block(text, p->set, " ");
    text += "}\n";
    return save_bytes(volume, path, text);
  } catch (...) {
    return 0;
  }
}

KLV_API pset* load_printer_settings(SOVolume* volume, const char* path) {
  if (!path) return nullptr;
  try {
    ParsePtr fp = open_text(volume, path);
    if (!fp) return nullptr;
    char word[16];
    if (fp_get_token(fp.get(), word, sizeof word) != KLV_FP_WORD ||
        Ostricmp(word, "Settings") != 0 || fp_get_token(fp.get(), nullptr, 0) != KLV_FP_OPEN) {
      KLV_LOG(KLV_LOG_ERROR, "\"%s\" does not begin with a Settings block", path);
      return nullptr;
    }
    pset* p = new_pset();
    if (!p || !load_preset(fp.get(), p)) {
      free_one(p);
      return nullptr;
    }
    return p;
  } catch (...) {
    return nullptr;
  }
}

KLV_API int32_t save_printer_settings(SOVolume* volume, const char* path, const pset* preset) {
  if (!path || !preset) return 0;
  try {
    std::string text;
    preset_block(text, preset->set, "");
    return save_bytes(volume, path, text);
  } catch (...) {
    return 0;
  }
}

KLV_API pset* find_pset(pset* list, int32_t placement) {
  for (pset* p = list; p; p = p->next)
    if (p->set.Placement == placement) return p;
  return nullptr;
}

KLV_API pset* add_pset(pset* list, const pset* preset) {
  if (!preset) return list;
  if (pset* same = find_pset(list, preset->set.Placement)) {
    // The copy replaces the record only; the preset keeps its place in the list.
    if (same != preset && !settings_copy(&same->set, &preset->set)) return nullptr;
    return list;
  }
  pset* copy = copy_one(preset);
  if (!copy) return nullptr;
  copy->next = list;
  return copy;
}

KLV_API pset* copy_psets(const pset* list) {
  pset* head = nullptr;
  pset** tail = &head;
  for (const pset* p = list; p; p = p->next) {
    pset* copy = copy_one(p);
    if (!copy) {
      free_psets(head);
      return nullptr;
    }
    *tail = copy;
    tail = &copy->next;
  }
  return head;
}

KLV_API void free_psets(pset* list) {
  while (list) {
    pset* next = list->next;
    free_one(list);
    list = next;
  }
}

KLV_API void pset_to_set(const pset* preset, settings* record) {
  if (preset && record) copy_preset_fields(*record, preset->set);
}

KLV_API void set_to_pset(const settings* record, pset* preset) {
  if (preset && record) copy_preset_fields(preset->set, *record);
}

KLV_API void printmode_to_set(settings* record, const CPrintMode* mode) {
  if (!record || !mode) return;
  auto copy = [](char* to, size_t size, const char* from) {
    klv::kernel::copy_cut(from ? from : "", to, static_cast<int32_t>(size));
  };
  copy(record->PrintMode, sizeof record->PrintMode, printmode_name(mode));
  copy(record->PrintRes, sizeof record->PrintRes, printmode_res(mode));
  copy(record->PatternOpt, sizeof record->PatternOpt, printmode_pattern_opt(mode));
  int32_t pattern = printmode_pattern(mode);
  record->PatternDif = static_cast<uint8_t>(pattern >= 0 && pattern <= 255 ? pattern : 0);
}

}  // extern "C"
