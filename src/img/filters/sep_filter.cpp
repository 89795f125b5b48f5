// SPDX-License-Identifier: MIT
// The separation filter: any readable stream as planes, one plane row a line.
#include <new>

#include "img/filters/layout_band.h"
#include "img/filters/layout_img.h"
#include "klv/layoutfilter.h"
#include "klv/layoutfilter_cxx.h"
#include "klv/log.h"

using klv::img::LayoutBand;
using klv::img::LayoutTarget;

struct sepfltr {
  CSepFltr* obj;
};

CSepFltr::CSepFltr() = default;
CSepFltr::~CSepFltr() = default;

bool CSepFltr::Attach(IMG_file* source) {
  m_band = std::make_unique<LayoutBand>(LayoutTarget::kPlanes);
  if (m_band->Attach(source)) return true;
  m_band.reset();
  return false;
}

int32_t CSepFltr::ReadLine(uint8_t* buffer, int32_t count) {
  return m_band ? m_band->Read(buffer, count) : 0;
}

int32_t CSepFltr::SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence) {
  return m_band ? m_band->SeekPlanes(line, plane, page, whence) : -1;
}

const image_info* CSepFltr::Info() const {
  return m_band ? &m_band->Out() : nullptr;
}

IMG_file* CSepFltr::Source() const {
  return m_band ? m_band->Source() : nullptr;
}

uint32_t CSepFltr::BandLines() const {
  return m_band ? m_band->Lines() : 0;
}

namespace {

int32_t close_op(void* h) {
  sepfltr_close(static_cast<sepfltr*>(h));
  return 0;
}
int32_t read_op(void* h, uint8_t* b, int32_t n) {
  return sepfltr_read_line(static_cast<sepfltr*>(h), b, n);
}
int32_t seek_op(void* h, int32_t l, int32_t p, int32_t g, int32_t w) {
  return sepfltr_seek_line(static_cast<sepfltr*>(h), l, p, g, w);
}

}  // namespace

extern "C" {

KLV_API sepfltr* sepfltr_attach(IMG_file* source) {
  if (!source) return nullptr;
  if (source->mode != 'r' || source->info.photometric == KLV_PHOTO_PALETTE) {
    KLV_LOG(KLV_LOG_ERROR, "separation filter: the source is %s",
            source->mode != 'r' ? "not opened for reading" : "a palette image");
    return nullptr;
  }
  auto* rec = new (std::nothrow) sepfltr{nullptr};
  if (rec) rec->obj = new (std::nothrow) CSepFltr;
  if (!rec || !rec->obj) {
    delete rec;
    img_close(source);
    return nullptr;
  }
  try {
    if (rec->obj->Attach(source)) return rec;
  } catch (...) {
    KLV_LOG(KLV_LOG_ERROR, "separation filter: out of memory");
  }
  sepfltr_close(rec);
  return nullptr;
}

KLV_API int32_t sepfltr_read_line(sepfltr* f, uint8_t* buffer, int32_t count) {
  return f && f->obj ? f->obj->ReadLine(buffer, count) : -1;
}

KLV_API int32_t sepfltr_seek_line(sepfltr* f, int32_t line, int32_t plane, int32_t page,
                                  int32_t whence) {
  return f && f->obj ? f->obj->SeekLine(line, plane, page, whence) : -1;
}

KLV_API IMG_file* sepfltr_to_img(sepfltr* f) {
  if (!f || !f->obj || !f->obj->Info()) return nullptr;
  IMG_file* img = klv::img::layout_img(f, *f->obj->Source(), *f->obj->Info(),
                                       {close_op, read_op, nullptr, seek_op});
  if (!img) sepfltr_close(f);
  return img;
}

KLV_API void sepfltr_close(sepfltr* f) {
  if (!f) return;
  delete f->obj;
  delete f;
}

}  // extern "C"
