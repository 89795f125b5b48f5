// SPDX-License-Identifier: MIT
// The line-interleave filter: any readable stream as line-interleaved lines,
// or pixel-interleaved lines written into a line-interleaved stream.
#include <new>

#include "img/filters/layout_band.h"
#include "img/filters/layout_c_api.h"
#include "klv/layoutfilter.h"
#include "klv/layoutfilter_cxx.h"
#include "klv/log.h"

using klv::img::LayoutBand;
using klv::img::LayoutTarget;

struct lnvfltr {
  CLnvFltr* obj;
};

CLnvFltr::CLnvFltr() = default;
CLnvFltr::~CLnvFltr() = default;

bool CLnvFltr::Attach(IMG_file* source) {
  m_band = std::make_unique<LayoutBand>(LayoutTarget::kLines);
  if (m_band->Attach(source)) return true;
  m_band.reset();
  return false;
}

int32_t CLnvFltr::ReadLine(uint8_t* buffer, int32_t count) {
  return m_band ? m_band->Read(buffer, count) : 0;
}

int32_t CLnvFltr::WriteLine(uint8_t* buffer, int32_t count) {
  return m_band ? m_band->Write(buffer, count) : 0;
}

int32_t CLnvFltr::SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence) {
  return m_band ? m_band->Seek(line, plane, page, whence) : -1;
}

const image_info* CLnvFltr::Info() const {
  return m_band ? &m_band->Out() : nullptr;
}

IMG_file* CLnvFltr::Source() const {
  return m_band ? m_band->Source() : nullptr;
}

bool CLnvFltr::Writing() const {
  return m_band && m_band->Writing();
}

uint32_t CLnvFltr::BandLines() const {
  return m_band ? m_band->Lines() : 0;
}

int32_t CLnvFltr::Close() {
  return m_band ? m_band->Close() : 0;
}

namespace {

int32_t close_op(void* h) {
  auto* f = static_cast<lnvfltr*>(h);
  const int32_t status = f && f->obj ? f->obj->Close() : 0;
  lnvfltr_close(f);
  return status;
}
int32_t write_op(void* h, uint8_t* b, int32_t n) {
  return lnvfltr_write_line(static_cast<lnvfltr*>(h), b, n);
}

}  // namespace

namespace kli = klv::img;

extern "C" {

KLV_API lnvfltr* lnvfltr_attach(IMG_file* source) {
  if (!source) return nullptr;
  const bool readable = source->mode == 'r';
  const bool lines = (source->info.planar & 7) == KLV_PLANAR_LINES;
  if ((!readable && !lines) || source->info.photometric == KLV_PHOTO_PALETTE) {
    KLV_LOG(KLV_LOG_ERROR, "line-interleave filter: the source is %s",
            source->info.photometric == KLV_PHOTO_PALETTE ? "a palette image"
                                                          : "written but not line-interleaved");
    img_close(source);
    return nullptr;
  }
  return kli::make_layout_filter<lnvfltr, CLnvFltr>(source, "line-interleave filter");
}

KLV_API int32_t lnvfltr_read_line(lnvfltr* f, uint8_t* buffer, int32_t count) {
  return kli::read_layout_line(f, buffer, count);
}

KLV_API int32_t lnvfltr_write_line(lnvfltr* f, uint8_t* buffer, int32_t count) {
  return f && f->obj ? f->obj->WriteLine(buffer, count) : -1;
}

KLV_API int32_t lnvfltr_seek_line(lnvfltr* f, int32_t line, int32_t plane, int32_t page,
                                  int32_t whence) {
  return kli::seek_layout_line(f, line, plane, page, whence);
}

KLV_API IMG_file* lnvfltr_to_img(lnvfltr* f) {
  if (!f || !f->obj || !f->obj->Info()) return nullptr;
  const bool writing = f->obj->Writing();
  IMG_file* img =
      klv::img::layout_img(f, *f->obj->Source(), *f->obj->Info(),
                           {close_op, writing ? nullptr : kli::layout_read_op<lnvfltr>,
                            writing ? write_op : nullptr, kli::layout_seek_op<lnvfltr>});
  if (!img) lnvfltr_close(f);
  return img;
}

KLV_API void lnvfltr_close(lnvfltr* f) {
  kli::free_layout_filter(f);
}

}  // extern "C"
