// SPDX-License-Identifier: MIT
// The C side shared by the channel layout filters: each exported handle is a
// one-word record holding the filter object; these templates make, forward
// to and free it, so the three filters' C functions are one-line calls.
#pragma once

#include <new>

#include "img/filters/layout_img.h"
#include "klv/log.h"

namespace klv::img {

template <class Rec>
void free_layout_filter(Rec* f) {
  if (!f) return;
  delete f->obj;
  delete f;
}

// Makes the record and attaches the object to `source` (the object owns it
// from then on). Out of memory before the object exists closes the source, as
// a refused attach does.
template <class Rec, class Obj>
Rec* make_layout_filter(IMG_file* source, const char* what) {
  auto* rec = new (std::nothrow) Rec{nullptr};
  if (rec) rec->obj = new (std::nothrow) Obj;
  if (!rec || !rec->obj) {
    delete rec;
    img_close(source);
    return nullptr;
  }
  try {
    if (rec->obj->Attach(source)) return rec;
  } catch (...) {
    KLV_LOG(KLV_LOG_ERROR, "%s: out of memory", what);
  }
  free_layout_filter(rec);
  return nullptr;
}

template <class Rec>
int32_t read_layout_line(Rec* f, uint8_t* buffer, int32_t count) {
  return f && f->obj ? f->obj->ReadLine(buffer, count) : -1;
}

template <class Rec>
int32_t seek_layout_line(Rec* f, int32_t line, int32_t plane, int32_t page, int32_t whence) {
  return f && f->obj ? f->obj->SeekLine(line, plane, page, whence) : -1;
}

// Stream operations over a record, for the handle `*_to_img` makes.
template <class Rec>
int32_t layout_close_op(void* h) {
  free_layout_filter(static_cast<Rec*>(h));
  return 0;
}
template <class Rec>
int32_t layout_read_op(void* h, uint8_t* b, int32_t n) {
  return read_layout_line(static_cast<Rec*>(h), b, n);
}
template <class Rec>
int32_t layout_seek_op(void* h, int32_t l, int32_t p, int32_t g, int32_t w) {
  return seek_layout_line(static_cast<Rec*>(h), l, p, g, w);
}

// The stream handle of a reading filter; the filter is freed when memory for
// the handle is short.
template <class Rec>
IMG_file* layout_filter_to_img(Rec* f) {
  if (!f || !f->obj || !f->obj->Info()) return nullptr;
  IMG_file* img =
      layout_img(f, *f->obj->Source(), *f->obj->Info(),
                 {layout_close_op<Rec>, layout_read_op<Rec>, nullptr, layout_seek_op<Rec>});
  if (!img) free_layout_filter(f);
  return img;
}

}  // namespace klv::img
