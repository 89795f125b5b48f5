// SPDX-License-Identifier: MIT
// Threshold tables: one screen's rows of thresholds (CHTThreshTable<T>, T an
// 8-bit or 16-bit unsigned) and a set of screens loaded from a screen file
// (CHTThreshArray<T>). A table repeats over the page; `shift` moves it to the
// right each time it repeats downwards (brick offset).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "klv/export.h"

template <class T>
class KLV_API CHTThreshTable {
 public:
  CHTThreshTable() = default;
  CHTThreshTable(CHTThreshTable&& other) noexcept;
  CHTThreshTable& operator=(CHTThreshTable&& other) noexcept;
  CHTThreshTable(const CHTThreshTable&) = delete;
  CHTThreshTable& operator=(const CHTThreshTable&) = delete;
  virtual ~CHTThreshTable();

  // Zero-filled owned rows. False when a size is 0 or memory runs out.
  bool Alloc(uint32_t width, uint16_t height, uint16_t shift, uint32_t levels);
  // Owned copy whose row r is source row (r + row_phase) mod height rotated
  // left by col_phase mod width.
  bool CopyPhase(T* const* src_rows, uint32_t width, uint16_t height, uint16_t shift,
                 uint32_t levels, uint32_t col_phase, uint32_t row_phase);
  // Uses the caller's rows without owning them.
  void Attach(T** src_rows, uint32_t width, uint16_t height, uint16_t shift, uint32_t levels);
  void Free();

  T** rows = nullptr;
  uint16_t height = 0;
  uint16_t shift = 0;
  uint32_t width = 0;
  uint32_t levels = 0;
  bool owns_rows = false;

 private:
  std::vector<T> storage_;
  std::vector<T*> row_ptrs_;
};

template <class T>
class KLV_API CHTThreshArray {
 public:
  CHTThreshArray() = default;
  CHTThreshArray(const CHTThreshArray&) = delete;
  CHTThreshArray& operator=(const CHTThreshArray&) = delete;
  virtual ~CHTThreshArray() = default;

  // Replaces any previous tables with count empty ones.
  bool Create(uint32_t count, uint32_t levels);
  // Fills the array from a screen file found on the search path. count 0 takes
  // every plane of the file; levels 0 takes the file's maximum value + 1 (16-bit)
  // or 256 (8-bit). Screens beyond the file's planes reuse a plane at a phase
  // drawn from a fixed seed per screen. False (logged) on any fault; the array
  // is then empty.
  bool Load(const char* name, uint32_t count, uint32_t levels);

  uint32_t count = 0;
  std::unique_ptr<CHTThreshTable<T>[]> tables;
  uint32_t levels = 0;
};

extern template class CHTThreshTable<unsigned char>;
extern template class CHTThreshTable<unsigned short>;
extern template class CHTThreshArray<unsigned char>;
extern template class CHTThreshArray<unsigned short>;

// Destroys an array through its virtual destructor; null is accepted. Returns 0.
KLV_API int HTThreshFree(CHTThreshArray<unsigned char>* array);
KLV_API int HTThreshFree(CHTThreshArray<unsigned short>* array);
