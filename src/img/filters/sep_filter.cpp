// SPDX-License-Identifier: MIT
// The separation filter: any readable stream as planes, one plane row a line.
#include "img/filters/layout_band.h"
#include "img/filters/layout_c_api.h"
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

namespace kli = klv::img;

extern "C" {

KLV_API sepfltr* sepfltr_attach(IMG_file* source) {
  if (!source) return nullptr;
  if (source->mode != 'r' || source->info.photometric == KLV_PHOTO_PALETTE) {
    KLV_LOG(KLV_LOG_ERROR, "separation filter: the source is %s",
            source->mode != 'r' ? "not opened for reading" : "a palette image");
    return nullptr;
  }
  return kli::make_layout_filter<sepfltr, CSepFltr>(source, "separation filter");
}

KLV_API int32_t sepfltr_read_line(sepfltr* f, uint8_t* buffer, int32_t count) {
  return kli::read_layout_line(f, buffer, count);
}

KLV_API int32_t sepfltr_seek_line(sepfltr* f, int32_t line, int32_t plane, int32_t page,
                                  int32_t whence) {
  return kli::seek_layout_line(f, line, plane, page, whence);
}

KLV_API IMG_file* sepfltr_to_img(sepfltr* f) {
  return kli::layout_filter_to_img(f);
}

KLV_API void sepfltr_close(sepfltr* f) {
  kli::free_layout_filter(f);
}

}  // extern "C"
