// SPDX-License-Identifier: MIT
// The usage account in memory: finding and creating media, ink sets and
// inks, and adding a job's totals.
#include <cmath>
#include <new>

#include "job/usage_names.h"
#include "klv/kernel_util.h"
#include "klv/log.h"
#include "klv/usage_cxx.h"

CPrintInkSetUsage::~CPrintInkSetUsage() = default;

// Names are kept as the account file writes them (a '"' becomes an
// apostrophe), so that two names that are written alike are one entry and
// the account reads back as it was.
CPrintInkUsage* CPrintInkSetUsage::FindInk(const char* name, bool create) {
  if (!name) return nullptr;
  try {
    const std::string stored = klv::usage::quotable(name);
    for (const auto& ink : m_inks)
      if (ink->GetName() == stored) return ink.get();
    if (!create) return nullptr;
    m_inks.push_back(std::make_unique<CPrintInkUsage>(stored));
    return m_inks.back().get();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void CPrintInkSetUsage::AddInk(const char* name, uint64_t count) {
  if (CPrintInkUsage* ink = FindInk(name, true)) ink->Add(count);
}

CPrintUsage::CPrintUsage() = default;
CPrintUsage::~CPrintUsage() = default;

void CPrintUsage::Reset() {
  m_inksets.clear();
  m_medias.clear();
  m_path.clear();
}

CPrintMediaUsage* CPrintUsage::FindMedia(const char* name, bool create) {
  if (!name) return nullptr;
  try {
    const std::string media = klv::usage::quotable(klv::usage::media_name(name));
    for (const auto& m : m_medias)
      if (Ostricmp(m->GetName().c_str(), media.c_str()) == 0) return m.get();
    if (!create) return nullptr;
    m_medias.push_back(std::make_unique<CPrintMediaUsage>(media));
    return m_medias.back().get();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

CPrintInkSetUsage* CPrintUsage::FindInkSet(const char* name, int32_t number, bool create) {
  try {
    const std::string stored = klv::usage::quotable(name ? name : "");
    for (const auto& set : m_inksets)
      if ((name && Ostricmp(set->GetName().c_str(), stored.c_str()) == 0) ||
          set->GetNumber() == number)
        return set.get();
    if (!create) return nullptr;
    m_inksets.push_back(std::make_unique<CPrintInkSetUsage>(stored, number));
    return m_inksets.back().get();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void CPrintUsage::UseMedia(const char* name, double amount) {
  if (!std::isfinite(amount)) {
    KLV_LOG(KLV_LOG_ERROR, "usage of media \"%s\" is not a number; not added", name ? name : "");
    return;
  }
  if (CPrintMediaUsage* media = FindMedia(name, true)) media->Add(amount);
}

void CPrintUsage::UseInk(const char* ink_set, int32_t number, const usage_dot_table* counts) {
  if (!counts || !counts->entries) return;
  CPrintInkSetUsage* set = FindInkSet(ink_set, number, true);
  if (!set) return;
  const uint64_t divisor = counts->divisor ? counts->divisor : 1;
  for (const usage_ink_count* e = counts->entries; e->name && *e->name; ++e) {
    CPrintInkUsage* ink = set->FindInk(e->name, true);
    if (!ink) return;
    // (dots + divisor / 2) / divisor without overflow near 2^64.
    const uint64_t q = e->dots / divisor, r = e->dots % divisor;
    ink->Add(q + (r >= divisor - divisor / 2 ? 1 : 0));
    if (std::isfinite(e->millilitres)) ink->AddVolume(e->millilitres);
  }
}

void CPrintUsage::Add(const CPrintUsage& other) {
  for (const auto& m : other.m_medias) UseMedia(m->GetName().c_str(), m->GetAmount());
  for (const auto& s : other.m_inksets) {
    CPrintInkSetUsage* set = FindInkSet(s->GetName().c_str(), s->GetNumber(), true);
    if (!set) return;
    for (const auto& i : s->GetList()) {
      CPrintInkUsage* ink = set->FindInk(i->GetName().c_str(), true);
      if (!ink) return;
      ink->Add(i->GetCount());
      ink->AddVolume(i->GetMillilitres());
    }
  }
}
