// SPDX-License-Identifier: MIT
// The pixel-interleave filter: any readable stream as pixel-interleaved lines.
#include "img/filters/layout_band.h"
#include "img/filters/layout_c_api.h"
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

namespace kli = klv::img;

extern "C" {

KLV_API pxvfltr* pxvfltr_attach(IMG_file* source) {
  if (!source) return nullptr;
  if (source->mode != 'r' || source->info.photometric == KLV_PHOTO_PALETTE) {
    KLV_LOG(KLV_LOG_ERROR, "pixel-interleave filter: the source is %s",
            source->mode != 'r' ? "not opened for reading" : "a palette image");
    return nullptr;
  }
  return kli::make_layout_filter<pxvfltr, CPxvFltr>(source, "pixel-interleave filter");
}

KLV_API int32_t pxvfltr_read_line(pxvfltr* f, uint8_t* buffer, int32_t count) {
  return kli::read_layout_line(f, buffer, count);
}

KLV_API int32_t pxvfltr_seek_line(pxvfltr* f, int32_t line, int32_t plane, int32_t page,
                                  int32_t whence) {
  return kli::seek_layout_line(f, line, plane, page, whence);
}

KLV_API IMG_file* pxvfltr_to_img(pxvfltr* f) {
  return kli::layout_filter_to_img(f);
}

KLV_API void pxvfltr_close(pxvfltr* f) {
  kli::free_layout_filter(f);
}

}  // extern "C"
