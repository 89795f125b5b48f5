// SPDX-License-Identifier: MIT
#include "printer/c_records.h"

#include <cstdlib>
#include <cstring>

namespace klv::printer {

void copy_field(char* field, size_t size, const char* text) {
  if (!field || size == 0) return;
  size_t n = text ? std::strlen(text) : 0;
  if (n > size - 1) {
    n = size - 1;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  }
  if (n) std::memmove(field, text, n);
  field[n] = '\0';
}

SSTRAL* make_stral(const StringArrayList& list) {
  StralPtr out(_stral_new());
  if (!out) return nullptr;
  std::vector<const char*> ptrs;
  for (const StringArray& a : list) {
    ptrs.clear();
    for (const std::string& s : a) ptrs.push_back(s.c_str());
    if (stral_add(out.get(), ptrs.data(), int32_t(ptrs.size())) < 0) return nullptr;
  }
  return out.release();
}

StringArrayList read_stral(const SSTRAL* list) {
  StringArrayList out;
  for (int32_t i = 0, n = stral_count(list); i < n; ++i) {
    int32_t count = 0;
    const char* const* s = stral_get(list, i, &count);
    StringArray a;
    for (int32_t j = 0; j < count; ++j) a.emplace_back(s[j] ? s[j] : "");
    out.push_back(std::move(a));
  }
  return out;
}

_SCREENSETUP* make_screen_setups(const std::vector<RepScreenSetup>& setups) {
  ScreenSetupPtr head;
  _SCREENSETUP* tail = nullptr;
  for (const RepScreenSetup& s : setups) {
    _SCREENSETUP* node = new_screen_setup(s.name.c_str());
    if (!node) return nullptr;
    SSTRAL* entries = make_stral(s.entries);
    if (!entries) {
      free_screen_settings(node);
      return nullptr;
    }
    stral_free(node->entries);
    node->entries = entries;
    if (tail)
      tail->next = node;
    else
      head.reset(node);
    tail = node;
  }
  return head.release();
}

std::vector<RepScreenSetup> read_screen_setups(const _SCREENSETUP* list) {
  std::vector<RepScreenSetup> out;
  for (const _SCREENSETUP* s = list; s; s = s->next)
    out.push_back({s->name, read_stral(s->entries)});
  return out;
}

dotinfo* make_dotinfo(const RepDotInfo& info) {
  DotInfoPtr out(static_cast<dotinfo*>(std::calloc(1, sizeof(dotinfo))));
  if (!out) return nullptr;
  copy_field(out->Units, sizeof out->Units, info.units.c_str());
  for (const RepDotResolution& r : info.resolutions) {
    auto* res = static_cast<dotres*>(std::calloc(1, sizeof(dotres)));
    if (!res) return nullptr;
    copy_field(res->Res, sizeof res->Res, r.res.c_str());
    if (out->tail)
      out->tail->next = res;
    else
      out->head = res;
    out->tail = res;
    for (const RepDotConfig& c : r.configs) {
      auto* cfg = static_cast<dotcfg*>(std::calloc(1, sizeof(dotcfg)));
      if (!cfg) return nullptr;
      copy_field(cfg->Name, sizeof cfg->Name, c.name.c_str());
      if (res->tail)
        res->tail->next = cfg;
      else
        res->head = cfg;
      res->tail = cfg;
      cfg->Data = make_stral(c.data);
      if (!cfg->Data) return nullptr;
    }
  }
  return out.release();
}

RepDotInfo read_dotinfo(const dotinfo* info) {
  RepDotInfo out;
  if (!info) return out;
  out.units = info->Units;
  for (const dotres* r = info->head; r; r = r->next) {
    RepDotResolution res;
    res.res = r->Res;
    for (const dotcfg* c = r->head; c; c = c->next)
      res.configs.push_back({c->Name, read_stral(c->Data)});
    out.resolutions.push_back(std::move(res));
  }
  return out;
}

char** packed_char_list(const char* const* strings, int32_t count) {
  if (count < 0) count = 0;
  size_t bytes = sizeof(char*) * (size_t(count) + 1);
  for (int32_t i = 0; i < count; ++i) bytes += std::strlen(strings[i] ? strings[i] : "") + 1;
  auto** out = static_cast<char**>(std::malloc(bytes));
  if (!out) return nullptr;
  char* text = reinterpret_cast<char*>(out + count + 1);
  for (int32_t i = 0; i < count; ++i) {
    const char* s = strings[i] ? strings[i] : "";
    size_t n = std::strlen(s) + 1;
    std::memcpy(text, s, n);
    out[i] = text;
    text += n;
  }
  out[count] = nullptr;
  return out;
}

}  // namespace klv::printer
