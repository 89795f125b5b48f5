// SPDX-License-Identifier: MIT
// The pixel-interleave filter: any readable stream as pixel-interleaved lines.
#include <new>

#include "img/filters/layout_band.h"
#include "img/filters/layout_img.h"
#include "klv/layoutfilter.h"
#include "klv/layoutfilter_cxx.h"
#include "klv/log.h"

using klv::img::LayoutBand;
using klv::img::LayoutTarget;

struct pxvfltr {
  CPxvFltr* obj;
};

CPxvFltr::CPxvFltr() = default;
CPxvFltr::~CPxvFltr() = default;

bool CPxvFltr::Attach(IMG_file* source) {
  m_band = std::make_unique<LayoutBand>(LayoutTarget::kPixel);
  if (m_band->Attach(source)) return true;
  m_band.reset();
  return false;
}

int32_t CPxvFltr::ReadLine(uint8_t* buffer, int32_t count) {
  return m_band ? m_band->Read(buffer, count) : 0;
}

int32_t CPxvFltr::SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence) {
  return m_band ? m_band->Seek(line, plane, page, whence) : -1;
}

const image_info* CPxvFltr::Info() const {
  return m_band ? &m_band->Out() : nullptr;
}

IMG_file* CPxvFltr::Source() const {
  return m_band ? m_band->Source() : nullptr;
}

uint32_t CPxvFltr::BandLines() const {
  return m_band ? m_band->Lines() : 0;
}

namespace {

int32_t close_op(void* h) {
  pxvfltr_close(static_cast<pxvfltr*>(h));
  return 0;
}
int32_t read_op(void* h, uint8_t* b, int32_t n) {
  return pxvfltr_read_line(static_cast<pxvfltr*>(h), b, n);
}
int32_t seek_op(void* h, int32_t l, int32_t p, int32_t g, int32_t w) {
  return pxvfltr_seek_line(static_cast<pxvfltr*>(h), l, p, g, w);
}

}  // namespace

extern "C" {

KLV_API pxvfltr* pxvfltr_attach(IMG_file* source) {
  if (!source) return nullptr;
  if (source->mode != 'r' || source->info.photometric == KLV_PHOTO_PALETTE) {
    KLV_LOG(KLV_LOG_ERROR, "pixel-interleave filter: the source is %s",
            source->mode != 'r' ? "not opened for reading" : "a palette image");
    return nullptr;
  }
  auto* rec = new (std::nothrow) pxvfltr{nullptr};
  if (rec) rec->obj = new (std::nothrow) CPxvFltr;
  if (!rec || !rec->obj) {
    delete rec;
    img_close(source);
    return nullptr;
  }
  try {
    if (rec->obj->Attach(source)) return rec;
  } catch (...) {
    KLV_LOG(KLV_LOG_ERROR, "pixel-interleave filter: out of memory");
  }
  pxvfltr_close(rec);
  return nullptr;
}

KLV_API int32_t pxvfltr_read_line(pxvfltr* f, uint8_t* buffer, int32_t count) {
  return f && f->obj ? f->obj->ReadLine(buffer, count) : -1;
}

KLV_API int32_t pxvfltr_seek_line(pxvfltr* f, int32_t line, int32_t plane, int32_t page,
                                  int32_t whence) {
  return f && f->obj ? f->obj->SeekLine(line, plane, page, whence) : -1;
}

KLV_API IMG_file* pxvfltr_to_img(pxvfltr* f) {
  if (!f || !f->obj || !f->obj->Info()) return nullptr;
  IMG_file* img = klv::img::layout_img(f, *f->obj->Source(), *f->obj->Info(),
                                       {close_op, read_op, nullptr, seek_op});
  if (!img) pxvfltr_close(f);
  return img;
}

KLV_API void pxvfltr_close(pxvfltr* f) {
  if (!f) return;
  delete f->obj;
  delete f;
}

}  // extern "C"
