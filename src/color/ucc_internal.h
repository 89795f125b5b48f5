// SPDX-License-Identifier: MIT
// Shared pieces of the colour chain files: the type table, record
// making/copying/freeing by type, and the working-table helpers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "klv/ucc.h"
#include "klv/ucc_cxx.h"

namespace klv::ucc {

// What a type's data record is.
enum class Record {
  None,
  ProfList,
  Srep,
  Nrep,
  Pdff,
  Word1,
  Words2,
  Words3,
  Mask,
  Skpm,
  Rgb,
  Hsv,
  Crep,
  Curves,
  Calb,
  Density
};

struct TypeInfo {
  uint16_t type;
  const char* tag;  // null when the type has no tag
  Record record;
  int form;      // 0 "UCCI", 1 "UCCX", -1 never written
  bool written;  // written (before the end mark) or only read
};

const TypeInfo* type_info(int32_t type);
const TypeInfo* type_by_tag(const char* tag, int form);
size_t record_size(Record record);

// A zero-filled record of the type (with its defaults), null for none or on
// memory failure.
void* make_record(int32_t type);
void free_record(int32_t type, void* data);
// Frees the tables a calibration record holds and clears their pointers.
void free_calb_tables(ucc_calb* c);
// A deep copy; null on memory failure (sets *failed).
void* copy_record(int32_t type, const void* data, bool* failed);

bool is_proflist(int32_t type);
bool is_mask(int32_t type);

// Table helpers shared by the transforms.
void curve_identity(ucc_curve* curve);

}  // namespace klv::ucc

// The saturation and value curves of an HSV record from its percentages.
void ucc_hsv_curves(ucc_hsv* record);
// 16-bit CIELab (L 0..65535, a and b offset by 32768) to 16-bit sRGB, in place.
void ucc_lab16_to_rgb16(uint16_t* values);
