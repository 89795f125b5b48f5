// SPDX-License-Identifier: MIT
// Threshold tables and the screen-file loader of threshold arrays.
#include <cstdlib>
#include <new>

#include "halftone/screen_file.h"
#include "klv/halftone_seed.h"
#include "klv/halftone_thresh.h"
#include "klv/log.h"

template <class T>
CHTThreshTable<T>::CHTThreshTable(CHTThreshTable&& o) noexcept {
  *this = std::move(o);
}

template <class T>
CHTThreshTable<T>& CHTThreshTable<T>::operator=(CHTThreshTable&& o) noexcept {
  if (this != &o) {
    storage_ = std::move(o.storage_);
    row_ptrs_ = std::move(o.row_ptrs_);
    rows = o.rows;
    height = o.height;
    shift = o.shift;
    width = o.width;
    levels = o.levels;
    owns_rows = o.owns_rows;
    o.rows = nullptr;
    o.height = 0;
    o.width = 0;
    o.owns_rows = false;
  }
  return *this;
}

template <class T>
CHTThreshTable<T>::~CHTThreshTable() = default;

template <class T>
bool CHTThreshTable<T>::Alloc(uint32_t w, uint16_t h, uint16_t sh, uint32_t lv) {
  Free();
  if (w == 0 || h == 0) return false;
  try {
    storage_.assign(size_t(w) * h, T(0));
    row_ptrs_.resize(h);
  } catch (const std::bad_alloc&) {
    Free();
    KLV_LOG(KLV_LOG_ERROR, "no memory for a %ux%u threshold table", w, unsigned(h));
    return false;
  }
  for (uint32_t r = 0; r < h; ++r) row_ptrs_[r] = storage_.data() + size_t(r) * w;
  rows = row_ptrs_.data();
  width = w;
  height = h;
  shift = sh;
  levels = lv;
  owns_rows = true;
  return true;
}

template <class T>
bool CHTThreshTable<T>::CopyPhase(T* const* src, uint32_t w, uint16_t h, uint16_t sh, uint32_t lv,
                                  uint32_t col_phase, uint32_t row_phase) {
  if (!src || !Alloc(w, h, sh, lv)) return false;
  col_phase %= w;
  row_phase %= h;
  for (uint32_t r = 0; r < h; ++r) {
    const T* s = src[(r + row_phase) % h];
    T* d = rows[r];
    for (uint32_t c = 0; c < w; ++c) d[c] = s[(c + col_phase) % w];
  }
  return true;
}

template <class T>
void CHTThreshTable<T>::Attach(T** src, uint32_t w, uint16_t h, uint16_t sh, uint32_t lv) {
  Free();
  rows = src;
  width = w;
  height = h;
  shift = sh;
  levels = lv;
  owns_rows = false;
}

template <class T>
void CHTThreshTable<T>::Free() {
  storage_.clear();
  storage_.shrink_to_fit();
  row_ptrs_.clear();
  row_ptrs_.shrink_to_fit();
  rows = nullptr;
  width = 0;
  height = 0;
  shift = 0;
  levels = 0;
  owns_rows = false;
}

template <class T>
bool CHTThreshArray<T>::Create(uint32_t n, uint32_t lv) {
  tables.reset();
  count = 0;
  levels = lv;
  if (n == 0) return true;
  tables.reset(new (std::nothrow) CHTThreshTable<T>[n]);
  if (!tables) return false;
  count = n;
  return true;
}

template <class T>
bool CHTThreshArray<T>::Load(const char* name, uint32_t n, uint32_t lv) {
  using klv::halftone::phased_index;
  Create(0, 0);
  klv::halftone::ScreenFileReader file;
  if (!file.Open(name)) return false;
  const uint32_t w = file.width(), h = file.height(), m = file.max_value();
  if (n == 0) n = file.planes();
  if (lv == 1) {
    KLV_LOG(KLV_LOG_ERROR, "screen file %s: one tone level asked", file.path().c_str());
    return false;
  }
  uint64_t top;  // L: the highest tone level
  if (sizeof(T) == 1)
    top = lv ? lv - 1 : 255;
  else
    top = lv ? lv - 1 : m;
  if (!Create(n, uint32_t(top + 1))) {
    KLV_LOG(KLV_LOG_ERROR, "no memory for %u threshold tables", n);
    return false;
  }
  std::vector<uint16_t> values;
  int64_t remembered = file.PlaneOffset(0);
  for (uint32_t i = 0; i < n; ++i) {
    // A screen beyond the file's planes reuses the remembered plane (the first,
    // or screen 3's) at a phase drawn from a fixed seed per screen, so that it never lines up
    // with the others and loads the same every time.
    bool reuse = i >= file.planes();
    if (i == 3 && !reuse) remembered = file.Tell();
    uint32_t cp = 0, rp = 0;
    if (reuse) {
      if (!file.Seek(remembered)) {
        Create(0, 0);
        return false;
      }
      HTSeedPhase(HTSeedMix(kHTDefaultSeed, i), w, h, cp, rp);
    }
    if (!file.ReadPlane(values) || !tables[i].Alloc(w, uint16_t(h), 0, uint32_t(top + 1))) {
      Create(0, 0);
      return false;
    }
    T* base = tables[i].rows[0];
    for (uint32_t r = 0; r < h; ++r) {
      for (uint32_t c = 0; c < w; ++c) {
        uint64_t v = values[size_t(r) * w + c];
        uint64_t t = (v * top + m / 2) / m;
        if (sizeof(T) == 1) t %= 256;
        if (t >= top) t = top - 1;  // the top level is never a threshold
        base[phased_index(r, c, w, h, cp, rp)] = T(t);
      }
    }
  }
  return true;
}

template class CHTThreshTable<unsigned char>;
template class CHTThreshTable<unsigned short>;
template class CHTThreshArray<unsigned char>;
template class CHTThreshArray<unsigned short>;

int HTThreshFree(CHTThreshArray<unsigned char>* array) {
  delete array;
  return 0;
}

int HTThreshFree(CHTThreshArray<unsigned short>* array) {
  delete array;
  return 0;
}
