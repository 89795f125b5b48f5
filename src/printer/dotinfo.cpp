// SPDX-License-Identifier: MIT
// Drop size records: lookup, values, copies and updates.
#include <cstdlib>
#include <cstring>

#include "klv/kernel_util.h"
#include "klv/prntinfo.h"
#include "printer/c_records.h"

using klv::printer::copy_field;

namespace {

// The Data element of cfg named key, or null.
const char* const* drop_element(const dotcfg* cfg, const char* key, int32_t* count) {
  if (!cfg || !key) return nullptr;
  int32_t i = stral_find(cfg->Data, key, static_cast<const char*>(nullptr));
  if (i < 0) return nullptr;
  return stral_get(cfg->Data, i, count);
}

void free_res(dotres* r) {
  prntinfo_free_dotcfg(r->head);
  std::free(r);
}

}  // namespace

extern "C" {

KLV_API void prntinfo_free_dotcfg(dotcfg* cfg) {
  while (cfg) {
    dotcfg* next = cfg->next;
    stral_free(cfg->Data);
    std::free(cfg);
    cfg = next;
  }
}

KLV_API void prntinfo_free_dotinfo(dotinfo* info) {
  if (!info) return;
  for (dotres* r = info->head; r;) {
    dotres* next = r->next;
    free_res(r);
    r = next;
  }
  std::free(info);
}

KLV_API dotinfo* prntinfo_copy_dotinfo(const dotinfo* info) {
  if (!info) return nullptr;
  klv::printer::DotInfoPtr out(static_cast<dotinfo*>(std::calloc(1, sizeof(dotinfo))));
  if (!out) return nullptr;
  // Units are copied too: a copy without them would read back as a drop
  // table of unknown unit.
  std::memcpy(out->Units, info->Units, sizeof out->Units);
  out->Units[sizeof out->Units - 1] = '\0';
  for (const dotres* r = info->head; r; r = r->next) {
    auto* res = static_cast<dotres*>(std::calloc(1, sizeof(dotres)));
    if (!res) return nullptr;
    std::memcpy(res->Res, r->Res, sizeof res->Res);
    res->Res[sizeof res->Res - 1] = '\0';
    if (out->tail)
      out->tail->next = res;
    else
      out->head = res;
    out->tail = res;
    for (const dotcfg* c = r->head; c; c = c->next) {
      auto* cfg = static_cast<dotcfg*>(std::calloc(1, sizeof(dotcfg)));
      if (!cfg) return nullptr;
      std::memcpy(cfg->Name, c->Name, sizeof cfg->Name);
      cfg->Name[sizeof cfg->Name - 1] = '\0';
      if (res->tail)
        res->tail->next = cfg;
      else
        res->head = cfg;
      res->tail = cfg;
      cfg->Data = c->Data ? _stral_copy(c->Data) : _stral_new();
      if (!cfg->Data) return nullptr;
    }
  }
  return out.release();
}

KLV_API dotcfg* dotinfo_find_dotcfg(const dotinfo* info, const char* resolution,
                                    const char* config) {
  if (!info || !resolution || !config) return nullptr;
  for (const dotres* r = info->head; r; r = r->next) {
    if (std::strcmp(r->Res, resolution) != 0) continue;
    for (dotcfg* c = r->head; c; c = c->next)
      if (std::strcmp(c->Name, config) == 0) return c;
    return nullptr;
  }
  return nullptr;
}

KLV_API double dotinfo_get_drop_value(const dotcfg* cfg, const char* key) {
  int32_t count = 0;
  const char* const* e = drop_element(cfg, key, &count);
  if (!e || count < 2 || !e[1] || !*e[1]) return 1.0;
  return OatofEx(e[1], nullptr);
}

KLV_API double dotinfo_get_unit_value(const dotcfg* cfg, const char* key) {
  int32_t count = 0;
  const char* const* e = drop_element(cfg, key, &count);
  if (!e || count < 3 || !e[2] || !*e[2]) return 1.0;
  return std::atof(e[2]);
}

KLV_API double dotinfo_get_drop_volume(const dotcfg* cfg, const char* key) {
  int32_t count = 0;
  const char* const* e = drop_element(cfg, key, &count);
  if (!e || count < 4 || !e[3] || !*e[3]) return 0.0;
  return std::atof(e[3]);
}

KLV_API int32_t dotinfo_set_data(dotinfo* info, const char* resolution, const char* config,
                                 const char* units, const SSTRAL* data) {
  if (!info || !resolution || !config) return 0;
  SSTRAL* copy = data ? _stral_copy(data) : _stral_new();
  if (!copy) return 0;
  copy_field(info->Units, sizeof info->Units, units);
  if (dotcfg* cfg = dotinfo_find_dotcfg(info, resolution, config)) {
    stral_free(cfg->Data);
    cfg->Data = copy;
    return 1;
  }
  auto* cfg = static_cast<dotcfg*>(std::calloc(1, sizeof(dotcfg)));
  if (!cfg) {
    stral_free(copy);
    return 0;
  }
  copy_field(cfg->Name, sizeof cfg->Name, config);
  cfg->Data = copy;
  dotres* res = info->head;
  while (res && std::strcmp(res->Res, resolution) != 0) res = res->next;
  if (!res) {
    res = static_cast<dotres*>(std::calloc(1, sizeof(dotres)));
    if (!res) {
      prntinfo_free_dotcfg(cfg);
      return 0;
    }
    copy_field(res->Res, sizeof res->Res, resolution);
    if (info->tail)
      info->tail->next = res;
    else
      info->head = res;
    info->tail = res;
  }
  if (res->tail)
    res->tail->next = cfg;
  else
    res->head = cfg;
  res->tail = cfg;
  return 1;
}

}  // extern "C"
