// SPDX-License-Identifier: MIT
// The dots of a job frame, counted through the printer driver's ink counter
// with the progress told to the print object's status callback.
#include "klv/log.h"
#include "klv/outimg.h"
#include "klv/printobj_cxx.h"

void JobFrameDotCallback::Progress(int32_t done, int32_t total) {
  if (!m_owner || total <= 0) return;
  const int32_t permille = int32_t(int64_t(done) * 1000 / total);
  if (permille == m_last) return;
  m_last = permille;
  m_owner->Progress(double(done) / total);
}

int32_t CPrintObj::CountJobFrame(SOVolume* volume, const char* name, _SP_DOT_COUNT* counts) {
  if (!m_object || !m_info) return m_status = 4;
  if (!volume || !name || !counts) return m_status = 2;
  image_info info;
  init_image_info(&info);
  IMG_file* frame = outimg_open_img(name, volume, "r", &info);
  if (!frame) {
    KLV_LOG(KLV_LOG_ERROR, "Job frame \"%s\" cannot be read", name);
    return m_status = 2;
  }
  JobFrameDotCallback progress(this);
  CInkCountHT counter(m_object, m_info, nullptr);
  const bool counted = counter.CountImage(frame, name, "", 0, &progress);
  img_close(frame);
  if (!counted || !counter.GetInkCount(counts)) {
    KLV_LOG(KLV_LOG_ERROR, "The dots of job frame \"%s\" cannot be counted", name);
    return m_status = 20;
  }
  return m_status = 0;
}
