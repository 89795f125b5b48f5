// SPDX-License-Identifier: MIT
// The node-type table of colour chains and the data records by type: making
// them (with their defaults), deep copies and freeing.
#include <cstdlib>
#include <cstring>

#include "ucc_internal.h"

namespace klv::ucc {

namespace {

// Types in ascending order. form: 0 adjustment file, 1 profile file.
constexpr TypeInfo kTypes[] = {
    {UCC_ICG3, "ICG3", Record::ProfList, 1, true},
    {UCC_ICG4, "ICG4", Record::ProfList, 1, true},
    {UCC_ICGN, "ICGN", Record::ProfList, 1, true},
    {UCC_ICI3, "ICI3", Record::ProfList, 1, true},
    {UCC_ICI4, "ICI4", Record::ProfList, 1, true},
    {UCC_ICIN, "ICIN", Record::ProfList, 1, true},
    {UCC_ICIO, "ICIO", Record::ProfList, 1, true},
    {UCC_SREP, "SREP", Record::Srep, 1, true},
    {UCC_NREP, "NREP", Record::Nrep, 1, true},
    {UCC_PDFF, "PDFF", Record::Pdff, 1, true},
    {UCC_DEST, nullptr, Record::Word1, -1, false},
    {UCC_NCLR, nullptr, Record::Word1, -1, false},
    {UCC_MKBF, "MKBF", Record::Mask, 1, true},
    {UCC_SKPM, "SKPM", Record::Skpm, 0, true},
    {UCC_T41, nullptr, Record::Words3, -1, false},
    {UCC_RGB0, "RGB0", Record::Rgb, 0, true},
    {UCC_HSV0, "HSV0", Record::Hsv, 0, true},
    {UCC_CREP, "CREP", Record::Crep, 0, true},
    {UCC_CRV0_SET, nullptr, Record::Curves, -1, false},
    {UCC_CRV1, "CRV1", Record::Curves, 0, true},
    {UCC_YMCD, "YMCD", Record::Words2, 0, true},
    {UCC_MKAF, "MKAF", Record::Mask, 1, true},
    {UCC_PCG3, "PCG3", Record::ProfList, 1, true},
    {UCC_PCG4, "PCG4", Record::ProfList, 1, true},
    {UCC_PCGN, "PCGN", Record::ProfList, 1, true},
    {UCC_PCI3, "PCI3", Record::ProfList, 1, true},
    {UCC_PCI4, "PCI4", Record::ProfList, 1, true},
    {UCC_PCIN, "PCIN", Record::ProfList, 1, true},
    {UCC_PCIO, "PCIO", Record::ProfList, 1, true},
    {UCC_OGM1, nullptr, Record::None, -1, false},
    {UCC_CTB0, "CTB0", Record::Calb, 1, true},
    {UCC_DNTB, nullptr, Record::Density, -1, false},
    {UCC_MCXF, "MCXF", Record::ProfList, 1, true},
    {UCC_MKNU, "MKNU", Record::Mask, 1, true},
    // Read only (after the end mark of the written tags).
    {UCC_HSVC, "HSVC", Record::Rgb, 0, false},
    {UCC_RGBC, "RGBC", Record::Hsv, 0, false},
    {UCC_YMCC, "YMCC", Record::Rgb, 0, false},
    {UCC_CRV0, "CRV0", Record::None, 0, false},
};

template <typename T>
T* alloc_zero(size_t n = 1) {
  return static_cast<T*>(std::calloc(n, sizeof(T)));
}

template <typename T>
bool dup_array(T*& out, const T* in, int64_t n) {
  out = nullptr;
  if (!in || n <= 0) return true;
  out = static_cast<T*>(std::malloc(sizeof(T) * static_cast<size_t>(n)));
  if (!out) return false;
  std::memcpy(out, in, sizeof(T) * static_cast<size_t>(n));
  return true;
}

void free_mask(ucc_mask* m) {
  std::free(m->x1);
  std::free(m->y1);
  std::free(m->x2);
  std::free(m->y2);
}

void free_crep_side(ucc_crep_side* s) {
  std::free(s->values);
  s->values = nullptr;
}

void free_curves(ucc_curves* c) {
  for (auto& curve : c->curves) {
    std::free(curve.points);
    curve.points = nullptr;
  }
}

void* make_curves() {
  auto* c = alloc_zero<ucc_curves>();
  if (!c) return nullptr;
  c->mode = 2;
  for (auto& curve : c->curves) {
    curve.points = alloc_zero<ucc_point>(2);
    if (!curve.points) {
      free_curves(c);
      std::free(c);
      return nullptr;
    }
    curve.count = 2;
    curve.points[1] = {255.0, 255.0};
    curve_identity(&curve);
  }
  return c;
}

void* make_density() {
  auto* d = alloc_zero<ucc_density>();
  if (!d) return nullptr;
  for (auto& t : d->tables)
    for (int i = 0; i < 256; ++i) t[i] = static_cast<uint8_t>(i);
  return d;
}

bool copy_mask(ucc_mask* out, const ucc_mask* in) {
  *out = *in;
  out->x1 = out->y1 = out->x2 = out->y2 = nullptr;
  return dup_array(out->x1, in->x1, in->n) && dup_array(out->y1, in->y1, in->n) &&
         dup_array(out->x2, in->x2, in->m) && dup_array(out->y2, in->y2, in->m);
}

bool copy_crep(ucc_crep* out, const ucc_crep* in) {
  out->count = 0;
  out->entries = nullptr;
  if (in->count <= 0 || !in->entries) return true;
  out->entries = alloc_zero<ucc_crep_entry>(static_cast<size_t>(in->count));
  if (!out->entries) return false;
  out->count = in->count;
  for (int32_t i = 0; i < in->count; ++i) {
    ucc_crep_entry& e = out->entries[i];
    e = in->entries[i];
    e.from.values = e.to.values = nullptr;
    if (!dup_array(e.from.values, in->entries[i].from.values, in->entries[i].from.v[2]) ||
        !dup_array(e.to.values, in->entries[i].to.values, in->entries[i].to.v[2]))
      return false;
  }
  return true;
}

bool copy_curves(ucc_curves* out, const ucc_curves* in) {
  *out = *in;
  for (auto& c : out->curves) c.points = nullptr;
  for (int i = 0; i < 12; ++i)
    if (!dup_array(out->curves[i].points, in->curves[i].points, in->curves[i].count)) return false;
  return true;
}

bool copy_calb(ucc_calb* out, const ucc_calb* in) {
  *out = *in;
  out->limit = nullptr;
  out->linear = nullptr;
  out->grey = nullptr;
  out->emulation = nullptr;
  if (in->limit) {
    out->limit = static_cast<SCTB*>(std::malloc(sizeof(SCTB)));
    if (!out->limit) return false;
    *out->limit = *in->limit;
  }
  if (in->linear) {
    out->linear = alloc_zero<LNTB>();
    if (!out->linear) return false;
    out->linear->tables = alloc_lntb(in->linear->count);
    if (in->linear->count && !out->linear->tables) return false;
    out->linear->count = in->linear->count;
    for (int c = 0; c < in->linear->count; ++c)
      std::memcpy(out->linear->tables[c], in->linear->tables[c], 2 * KLV_CALB_ENTRIES);
  }
  if (in->grey) {
    out->grey = alloc_gbtb(in->grey->count);
    if (!out->grey) return false;
    for (int c = 0; c < in->grey->count; ++c)
      std::memcpy(out->grey->tables[c], in->grey->tables[c], 2 * KLV_CALB_ENTRIES);
  }
  if (in->emulation) {
    out->emulation = cms_profnode_copy(in->emulation, nullptr, nullptr);
    if (!out->emulation) return false;
  }
  return true;
}

}  // namespace

void free_calb_tables(ucc_calb* c) {
  if (c->limit) free_sctb(c->limit);
  if (c->linear) free_linear_tbl(c->linear);
  if (c->grey) free_grey_tbl(c->grey, 1);
  if (c->emulation) cms_profnode_free(c->emulation, nullptr, nullptr);
  c->limit = nullptr;
  c->linear = nullptr;
  c->grey = nullptr;
  c->emulation = nullptr;
}

const TypeInfo* type_info(int32_t type) {
  for (const auto& t : kTypes)
    if (t.type == type) return &t;
  return nullptr;
}

const TypeInfo* type_by_tag(const char* tag, int form) {
  for (const auto& t : kTypes)
    if (t.tag && t.form == form && std::memcmp(t.tag, tag, 4) == 0) return &t;
  return nullptr;
}

bool is_proflist(int32_t type) {
  const TypeInfo* t = type_info(type);
  return t && t->record == Record::ProfList;
}

bool is_mask(int32_t type) {
  return type == UCC_MKBF || type == UCC_MKAF || type == UCC_MKNU;
}

size_t record_size(Record record) {
  switch (record) {
    case Record::None:
      return 0;
    case Record::ProfList:
      return sizeof(ucc_proflist);
    case Record::Srep:
      return sizeof(ucc_srep);
    case Record::Nrep:
      return sizeof(ucc_nrep);
    case Record::Pdff:
      return sizeof(ucc_pdff);
    case Record::Word1:
      return 4;
    case Record::Words2:
      return 8;
    case Record::Words3:
      return 12;
    case Record::Mask:
      return sizeof(ucc_mask);
    case Record::Skpm:
      return sizeof(ucc_skpm);
    case Record::Rgb:
      return sizeof(ucc_rgb_levels);
    case Record::Hsv:
      return sizeof(ucc_hsv);
    case Record::Crep:
      return sizeof(ucc_crep);
    case Record::Curves:
      return sizeof(ucc_curves);
    case Record::Calb:
      return sizeof(ucc_calb);
    case Record::Density:
      return sizeof(ucc_density);
  }
  return 0;
}

void* make_record(int32_t type) {
  const TypeInfo* t = type_info(type);
  if (!t) return nullptr;
  switch (t->record) {
    case Record::None:
      return nullptr;
    case Record::Curves:
      return make_curves();
    case Record::Density:
      return make_density();
    default:
      return std::calloc(1, record_size(t->record));
  }
}

void free_record(int32_t type, void* data) {
  const TypeInfo* t = type_info(type);
  if (!data) return;
  if (t) {
    switch (t->record) {
      case Record::ProfList:
        cms_profnode_free_list(&static_cast<ucc_proflist*>(data)->first, nullptr, nullptr);
        break;
      case Record::Nrep:
        std::free(static_cast<ucc_nrep*>(data)->entries);
        break;
      case Record::Mask:
        free_mask(static_cast<ucc_mask*>(data));
        break;
      case Record::Skpm:
        std::free(static_cast<ucc_skpm*>(data)->list1);
        std::free(static_cast<ucc_skpm*>(data)->list2);
        break;
      case Record::Crep: {
        auto* c = static_cast<ucc_crep*>(data);
        for (int32_t i = 0; c->entries && i < c->count; ++i) {
          free_crep_side(&c->entries[i].from);
          free_crep_side(&c->entries[i].to);
        }
        std::free(c->entries);
        break;
      }
      case Record::Curves:
        free_curves(static_cast<ucc_curves*>(data));
        break;
      case Record::Calb:
        free_calb_tables(static_cast<ucc_calb*>(data));
        break;
      default:
        break;
    }
  }
  std::free(data);
}

void* copy_record(int32_t type, const void* data, bool* failed) {
  *failed = false;
  const TypeInfo* t = type_info(type);
  if (!data || !t || t->record == Record::None) return nullptr;
  const size_t size = record_size(t->record);
  void* out = std::calloc(1, size);
  if (!out) {
    *failed = true;
    return nullptr;
  }
  bool ok = true;
  switch (t->record) {
    case Record::ProfList: {
      const cms_profnode* first = static_cast<const ucc_proflist*>(data)->first;
      auto* list = static_cast<ucc_proflist*>(out);
      if (first) {
        list->first = cms_profnode_copy_list(first, nullptr, nullptr);
        ok = list->first != nullptr;
      }
      break;
    }
    case Record::Nrep: {
      const auto* in = static_cast<const ucc_nrep*>(data);
      auto* o = static_cast<ucc_nrep*>(out);
      o->count = in->count;
      ok = dup_array(o->entries, in->entries, in->count);
      break;
    }
    case Record::Mask:
      ok = copy_mask(static_cast<ucc_mask*>(out), static_cast<const ucc_mask*>(data));
      break;
    case Record::Skpm: {
      const auto* in = static_cast<const ucc_skpm*>(data);
      auto* o = static_cast<ucc_skpm*>(out);
      *o = *in;
      o->list1 = o->list2 = nullptr;
      ok = dup_array(o->list1, in->list1, in->count1) && dup_array(o->list2, in->list2, in->count2);
      break;
    }
    case Record::Crep:
      ok = copy_crep(static_cast<ucc_crep*>(out), static_cast<const ucc_crep*>(data));
      break;
    case Record::Curves:
      ok = copy_curves(static_cast<ucc_curves*>(out), static_cast<const ucc_curves*>(data));
      break;
    case Record::Calb:
      ok = copy_calb(static_cast<ucc_calb*>(out), static_cast<const ucc_calb*>(data));
      break;
    default:
      std::memcpy(out, data, size);
      break;
  }
  if (!ok) {
    free_record(type, out);
    *failed = true;
    return nullptr;
  }
  return out;
}

void curve_identity(ucc_curve* curve) {
  for (int i = 0; i < 256; ++i) curve->table[i] = static_cast<int16_t>(i);
}

}  // namespace klv::ucc
