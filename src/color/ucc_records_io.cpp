// SPDX-License-Identifier: MIT
// Chunk bodies of the saved chain forms, one writer and one reader per
// record kind. Every count read is checked against the bytes left in the
// chunk before anything is allocated.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "klv/log.h"
#include "ucc_bytes.h"
#include "ucc_io.h"

namespace klv::ucc {

namespace {

constexpr uint32_t kVersion = 500;

// ---- Adjustment records ------------------------------------------------------

void write_rgb(ByteWriter& w, const ucc_rgb_levels* r) {
  w.raw(r->enable, 3);
  w.raw(r->black, 3);
  w.raw(r->white_inv, 3);
  w.u8(r->k_black);
  w.u8(r->k_white_inv);
}

bool read_rgb(ByteReader& in, ucc_rgb_levels* r) {
  in.take(r->enable, 3), in.take(r->black, 3), in.take(r->white_inv, 3);
  r->k_black = static_cast<uint8_t>(in.u8());
  r->k_white_inv = static_cast<uint8_t>(in.u8());
  return in.ok() && ucc_calc_rgb(r);
}

void write_hsv(ByteWriter& w, const ucc_hsv* r) {
  w.u16(static_cast<uint16_t>(r->hue));
  w.u16(static_cast<uint16_t>(r->value));
  w.u16(static_cast<uint16_t>(r->saturation));
  w.raw(r->sector_hue, 6);
  w.raw(r->sector_saturation, 6);
  for (const auto& t : r->hue_tables)
    for (int16_t v : t) w.u16(static_cast<uint16_t>(v));
}

bool read_hsv(ByteReader& in, ucc_hsv* r) {
  r->hue = static_cast<int16_t>(in.u16());
  r->value = static_cast<int16_t>(in.u16());
  r->saturation = static_cast<int16_t>(in.u16());
  in.take(r->sector_hue, 6), in.take(r->sector_saturation, 6);
  for (auto& t : r->hue_tables)
    for (int16_t& v : t) v = static_cast<int16_t>(in.u16());
  if (!in.ok()) return false;
  ucc_hsv_curves(r);
  return true;
}

void write_crep_side(ByteWriter& w, const ucc_crep_side& s) {
  w.u8(s.kind);
  const int32_t n = s.values ? std::max(0, s.v[2]) : 0;
  for (int k = 0; k < 4; ++k) w.i32(k == 2 ? n : s.v[k]);
  for (int32_t i = 0; i < n; ++i) w.i32(s.values[i]);
  w.raw(s.name, 32);
  w.raw(s.a, 12);
  w.raw(s.b, 12);
}

bool read_crep_side(ByteReader& in, ucc_crep_side& s) {
  s.kind = static_cast<uint8_t>(in.u8());
  for (int32_t& v : s.v) v = in.i32();
  if (!in.ok() || s.v[2] < 0 || static_cast<size_t>(s.v[2]) > in.left() / 4) return false;
  if (s.v[2] > 0) {
    s.values = static_cast<int32_t*>(std::calloc(static_cast<size_t>(s.v[2]), 4));
    if (!s.values) return false;
    for (int32_t i = 0; i < s.v[2]; ++i) s.values[i] = in.i32();
  }
  in.take(s.name, 32), in.take(s.a, 12), in.take(s.b, 12);
  s.name[31] = '\0';
  return in.ok();
}

void write_crep(ByteWriter& w, const ucc_crep* r) {
  w.u32(kVersion);
  w.i32(-1);
  const size_t count_at = w.bytes.size();
  w.u32(0);
  uint32_t n = 0;
  for (int32_t i = 0; r->entries && i < r->count; ++i, ++n) {
    write_crep_side(w, r->entries[i].from);
    write_crep_side(w, r->entries[i].to);
    w.u16(r->entries[i].enabled);
  }
  w.patch(count_at, n);
}

// Smallest saved entry: two sides without values and the 16-bit value.
constexpr size_t kCrepEntryMin = 2 * (1 + 16 + 56) + 2;

bool read_crep(ByteReader& in, ucc_crep* r) {
  if (in.u32() != kVersion) return false;
  in.u32();
  const uint32_t count = in.u32();
  if (!in.ok() || count > in.left() / kCrepEntryMin) return false;
  if (!count) return true;
  r->entries = static_cast<ucc_crep_entry*>(std::calloc(count, sizeof(ucc_crep_entry)));
  if (!r->entries) return false;
  r->count = static_cast<int32_t>(count);
  for (uint32_t i = 0; i < count; ++i) {
    ucc_crep_entry& e = r->entries[i];
    if (!read_crep_side(in, e.from) || !read_crep_side(in, e.to)) return false;
    e.enabled = static_cast<uint16_t>(in.u16());
  }
  return in.ok() && ucc_calc_crep(r);
}

void write_curves(ByteWriter& w, const ucc_curves* r) {
  w.u8(r->used);
  w.raw(r->reserved, 2);
  for (const ucc_curve& c : r->curves) {
    for (int16_t v : c.table) w.u16(static_cast<uint16_t>(v));
    const int32_t n = c.points ? std::clamp(c.count, 0, 65535) : 0;
    w.u16(static_cast<uint32_t>(n));
    for (int32_t i = 0; i < n; ++i) w.f64(c.points[i].x), w.f64(c.points[i].y);
  }
  w.u8(r->mode);
  w.raw(r->extra, 16);
}

constexpr size_t kCurveTail = 17;  // mode byte and 16 bytes

bool read_curves(ByteReader& in, ucc_curves* r) {
  r->used = static_cast<uint8_t>(in.u8());
  in.take(r->reserved, 2);
  for (ucc_curve& c : r->curves) {
    std::free(c.points);
    c.points = nullptr;
    c.count = 0;
  }
  for (int k = 0; k < 12 && in.ok() && in.left() > kCurveTail; ++k) {
    ucc_curve& c = r->curves[k];
    for (int16_t& v : c.table) v = static_cast<int16_t>(in.u16());
    const uint32_t n = in.u16();
    if (!in.ok() || n > in.left() / 16) return false;
    if (n) {
      c.points = static_cast<ucc_point*>(std::calloc(n, sizeof(ucc_point)));
      if (!c.points) return false;
      c.count = static_cast<int32_t>(n);
      for (uint32_t i = 0; i < n; ++i) c.points[i].x = in.f64(), c.points[i].y = in.f64();
    }
  }
  r->mode = static_cast<uint8_t>(in.u8());
  in.take(r->extra, 16);
  return in.ok();
}

void write_list(ByteWriter& w, const int32_t* list, int32_t n) {
  w.i32(list ? std::max(0, n) : 0);
  for (int32_t i = 0; list && i < n; ++i) w.i32(list[i]);
}

bool read_list(ByteReader& in, int32_t*& list, int32_t& n) {
  const uint32_t count = in.u32();
  if (!in.ok() || count > in.left() / 4) return false;
  n = static_cast<int32_t>(count);
  if (!count) return true;
  list = static_cast<int32_t*>(std::calloc(count, 4));
  if (!list) return false;
  for (uint32_t i = 0; i < count; ++i) list[i] = in.i32();
  return in.ok();
}

void write_skpm(ByteWriter& w, const ucc_skpm* r) {
  write_list(w, r->list1, r->count1);
  write_list(w, r->list2, r->count2);
  w.i32(r->mode);
  for (int32_t v : r->levels) w.i32(v);
  for (int32_t i = 0; i < std::clamp(r->value_count, 0, 36); ++i) w.f64(r->values[i]);
}

bool read_skpm(ByteReader& in, ucc_skpm* r) {
  if (!read_list(in, r->list1, r->count1) || !read_list(in, r->list2, r->count2)) return false;
  r->mode = in.i32();
  for (int32_t& v : r->levels) v = in.i32();
  r->value_count = static_cast<int32_t>(std::min<size_t>(36, in.left() / 8));
  for (int32_t i = 0; i < r->value_count; ++i) r->values[i] = in.f64();
  return in.ok();
}

// ---- Profile, mask, replacement and calibration records ------------------------

void write_profnode(ByteWriter& w, const cms_profnode* n) {
  w.u32(kVersion);
  w.u8(static_cast<uint32_t>(n->type));
  w.i32(n->value);
  w.u32(n->in_format), w.u32(n->out_format), w.u32(n->format3);
  w.str(n->engine), w.str(n->path1), w.str(n->path2), w.str(n->path3), w.str(n->path4);
  const int32_t argc = n->argv ? std::max(0, n->argc) : 0;
  w.i32(argc);
  for (int32_t i = 0; i < argc; ++i) w.str(n->argv[i]);
  const int32_t extra = n->extra ? std::max(0, n->extra_size) : 0;
  w.i32(extra);
  if (extra) w.raw(n->extra, static_cast<size_t>(extra));
}

void write_proflist(ByteWriter& w, const ucc_proflist* r) {
  for (const cms_profnode* n = r->first; n; n = n->next) write_profnode(w, n);
}

// Reads one saved profile node; null (with `in` still good) when the colour
// service cannot make it, so that the rest of the list is still read.
bool read_profnode(ByteReader& in, cms_profnode** out) {
  *out = nullptr;
  if (in.u32() != kVersion) return false;
  const int32_t kind = static_cast<int32_t>(in.u8());
  const int32_t value = in.i32();
  const uint32_t fin = in.u32(), fout = in.u32(), f3 = in.u32();
  std::string s[5];
  for (auto& t : s) in.str(&t);
  const uint32_t argc = in.u32();
  if (!in.ok() || argc > in.left() / 4) return false;
  std::vector<std::string> args(argc);
  for (auto& a : args) in.str(&a);
  const uint32_t extra = in.u32();
  if (!in.ok() || extra > in.left()) return false;
  std::vector<uint8_t> bytes(extra);
  in.take(bytes.data(), extra);
  if (!in.ok()) return false;
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  *out = cms_profnode_new(kind, s[0].c_str(), value, s[1].c_str(), s[2].c_str(), s[3].c_str(),
                          s[4].c_str(), static_cast<int32_t>(argc), argv.data(),
                          static_cast<int32_t>(extra), extra ? bytes.data() : nullptr, fin, fout,
                          nullptr, nullptr);
  if (*out)
    (*out)->format3 = f3;
  else
    KLV_LOG(KLV_LOG_ERROR, "colour chain: the profile node for \"%s\" could not be made (kind %d)",
            s[1].c_str(), kind);
  return true;
}

bool read_proflist(ByteReader& in, ucc_proflist* r) {
  cms_profnode** tail = &r->first;
  while (in.left() > 0) {
    cms_profnode* n = nullptr;
    if (!read_profnode(in, &n)) return false;
    if (n) {
      *tail = n;
      tail = &n->next;
    }
  }
  return true;
}

void write_srep(ByteWriter& w, const ucc_srep* r) {
  w.raw(r->name, UCC_NAME_SIZE);
  for (const ucc_spot_entry& e : r->spots) {
    w.raw(e.rgb, 3);
    w.u8(e.enabled);
    w.raw(e.name, 60);
    w.raw(e.values, 48);
    w.u8(e.found);
    w.raw(e.reserved, 12);
  }
}

bool read_srep(ByteReader& in, ucc_srep* r) {
  in.take(r->name, UCC_NAME_SIZE);
  r->name[UCC_NAME_SIZE - 1] = '\0';
  for (ucc_spot_entry& e : r->spots) {
    in.take(e.rgb, 3);
    e.enabled = static_cast<uint8_t>(in.u8());
    in.take(e.name, 60);
    e.name[59] = '\0';
    in.take(e.values, 48);
    e.found = static_cast<uint8_t>(in.u8());
    in.take(e.reserved, 12);
  }
  return in.ok();
}

constexpr size_t kNrepEntry = 81 + 4 + 24;

void write_nrep(ByteWriter& w, const ucc_nrep* r) {
  const size_t at = w.bytes.size();
  w.u32(0);
  uint32_t n = 0;
  for (int32_t i = 0; r->entries && i < r->count; ++i, ++n) {
    w.raw(r->entries[i].name, 81);
    w.raw(r->entries[i].bytes, 4);
    w.raw(r->entries[i].data, 24);
  }
  w.patch(at, n);
}

bool read_nrep(ByteReader& in, ucc_nrep* r) {
  const uint32_t n = in.u32();
  if (!in.ok() || n > in.left() / kNrepEntry) return false;
  if (!n) return true;
  r->entries = static_cast<ucc_nrep_entry*>(std::calloc(n, sizeof(ucc_nrep_entry)));
  if (!r->entries) return false;
  r->count = static_cast<int32_t>(n);
  for (uint32_t i = 0; i < n; ++i) {
    in.take(r->entries[i].name, 81);
    r->entries[i].name[80] = '\0';
    in.take(r->entries[i].bytes, 4);
    in.take(r->entries[i].data, 24);
  }
  return in.ok();
}

void write_mask(ByteWriter& w, const ucc_mask* r) {
  w.u32(kVersion);
  w.u8(r->mode);
  const int32_t n = r->x1 && r->y1 ? std::max(0, r->n) : 0;
  const int32_t m = r->x2 && r->y2 ? std::max(0, r->m) : 0;
  w.i32(r->a1), w.i32(r->a2), w.i32(n);
  for (int32_t i = 0; i < n; ++i) w.i32(r->x1[i]);
  for (int32_t i = 0; i < n; ++i) w.i32(r->y1[i]);
  w.i32(r->b1), w.i32(r->b2), w.i32(m);
  for (int32_t i = 0; i < m; ++i) w.i32(r->x2[i]);
  for (int32_t i = 0; i < m; ++i) w.i32(r->y2[i]);
}

bool read_pair(ByteReader& in, int32_t n, int32_t*& x, int32_t*& y) {
  if (n < 0 || static_cast<size_t>(n) > in.left() / 8) return false;
  if (!n) return true;
  x = static_cast<int32_t*>(std::calloc(static_cast<size_t>(n), 4));
  y = static_cast<int32_t*>(std::calloc(static_cast<size_t>(n), 4));
  if (!x || !y) return false;
  for (int32_t i = 0; i < n; ++i) x[i] = in.i32();
  for (int32_t i = 0; i < n; ++i) y[i] = in.i32();
  return in.ok();
}

bool read_mask(ByteReader& in, ucc_mask* r) {
  if (in.u32() != kVersion) return false;
  r->mode = static_cast<uint8_t>(in.u8());
  r->a1 = in.i32(), r->a2 = in.i32(), r->n = in.i32();
  if (!in.ok() || !read_pair(in, r->n, r->x1, r->y1)) return false;
  r->b1 = in.i32(), r->b2 = in.i32(), r->m = in.i32();
  return in.ok() && read_pair(in, r->m, r->x2, r->y2);
}

void write_calb(ByteWriter& w, const ucc_calb* r) {
  w.str(r->limit_name), w.str(r->linear_name), w.str(r->grey_name), w.str(r->calb_vpath);
  w.str(r->limit_fname), w.str(r->linear_fname), w.str(r->grey_fname);
  w.u32(r->enable), w.u32(r->limit_switch);
  if (r->emulation_name[0] || r->emulation_fname[0] || r->limit)
    w.str(r->emulation_name), w.str(r->emulation_fname);
  if (r->ignore_channels) w.u32(r->ignore_channels);
}

// The tail after the two masks is told apart by its length: four bytes are
// ignore_channels alone; more are the emulation strings, then possibly it.
bool read_calb(ByteReader& in, ucc_calb* r) {
  in.str(r->limit_name, UCC_NAME_SIZE), in.str(r->linear_name, UCC_NAME_SIZE);
  in.str(r->grey_name, UCC_NAME_SIZE), in.str(r->calb_vpath, UCC_NAME_SIZE);
  in.str(r->limit_fname, UCC_NAME_SIZE), in.str(r->linear_fname, UCC_NAME_SIZE);
  in.str(r->grey_fname, UCC_NAME_SIZE);
  r->enable = in.u32(), r->limit_switch = in.u32();
  if (!in.ok()) return false;
  if (in.left() == 4) {
    r->ignore_channels = in.u32();
    return in.ok();
  }
  if (in.left() >= 8) {
    in.str(r->emulation_name, UCC_NAME_SIZE), in.str(r->emulation_fname, UCC_NAME_SIZE);
    if (in.left() >= 4) r->ignore_channels = in.u32();
  }
  return in.ok();
}

}  // namespace

void write_record(ByteWriter& w, const TypeInfo& t, const void* data) {
  if (!data) return;
  switch (t.record) {
    case Record::Rgb:
      write_rgb(w, static_cast<const ucc_rgb_levels*>(data));
      break;
    case Record::Hsv:
      write_hsv(w, static_cast<const ucc_hsv*>(data));
      break;
    case Record::Crep:
      write_crep(w, static_cast<const ucc_crep*>(data));
      break;
    case Record::Curves:
      write_curves(w, static_cast<const ucc_curves*>(data));
      break;
    case Record::Skpm:
      write_skpm(w, static_cast<const ucc_skpm*>(data));
      break;
    case Record::ProfList:
      write_proflist(w, static_cast<const ucc_proflist*>(data));
      break;
    case Record::Srep:
      write_srep(w, static_cast<const ucc_srep*>(data));
      break;
    case Record::Nrep:
      write_nrep(w, static_cast<const ucc_nrep*>(data));
      break;
    case Record::Pdff:
      w.raw(data, 2);
      break;
    case Record::Mask:
      write_mask(w, static_cast<const ucc_mask*>(data));
      break;
    case Record::Calb:
      write_calb(w, static_cast<const ucc_calb*>(data));
      break;
    default:
      break;  // YMCD and the others: an empty body
  }
}

bool read_record(ByteReader& in, const TypeInfo& t, void* data) {
  if (!data) return true;
  switch (t.record) {
    case Record::Rgb:
      return read_rgb(in, static_cast<ucc_rgb_levels*>(data));
    case Record::Hsv:
      return read_hsv(in, static_cast<ucc_hsv*>(data));
    case Record::Crep:
      return read_crep(in, static_cast<ucc_crep*>(data));
    case Record::Curves:
      return read_curves(in, static_cast<ucc_curves*>(data));
    case Record::Skpm:
      return read_skpm(in, static_cast<ucc_skpm*>(data));
    case Record::ProfList:
      return read_proflist(in, static_cast<ucc_proflist*>(data));
    case Record::Srep:
      return read_srep(in, static_cast<ucc_srep*>(data));
    case Record::Nrep:
      return read_nrep(in, static_cast<ucc_nrep*>(data));
    case Record::Pdff:
      return in.take(data, 2);
    case Record::Mask:
      return read_mask(in, static_cast<ucc_mask*>(data));
    case Record::Calb:
      return read_calb(in, static_cast<ucc_calb*>(data));
    default:
      return true;
  }
}

}  // namespace klv::ucc
