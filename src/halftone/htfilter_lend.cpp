// SPDX-License-Identifier: MIT
// Filling the halftone filter's input in place: CHTFilter::LendInput and
// CommitInput over the ring's open chunk, and their C interface.
#include <algorithm>
#include <exception>

#include "htfilter_ring.h"
#include "klv/halftone_lend.h"
#include "klv/htplace_cxx.h"
#include "klv/log.h"

namespace {

CHTFilter* filter_of(void* handle) {
  return static_cast<CHTFilter*>(static_cast<CIMG_file*>(handle));
}

// The status operation of every halftone filter handle; HTPlace_LendLines
// knows a filter by it.
int32_t filter_status(IMG_file* img, int32_t what) {
  try {
    return filter_of(img->handle)->GetStatus(what);
  } catch (const std::exception& e) {
    KLV_LOG(KLV_LOG_ERROR, "halftone filter: status failed: %s", e.what());
  }
  return -1;
}

CHTFilter* as_filter(IMG_file* img) {
  return img && img->handle && img->status == filter_status ? filter_of(img->handle) : nullptr;
}

}  // namespace

IMG_file* CHTFilter::ToImg(char mode, int type) {
  IMG_file* img = CIMG_file::ToImg(mode, type);
  if (img) img->status = filter_status;
  return img;
}

int32_t CHTFilter::LendInput(uint8_t** lines, int32_t count) {
  if (!attached_ || failed_) return -1;
  const int32_t left = in_info_.height - m_line;
  if (!ring_ || count < 1 || left <= 0) return 0;
  if (ring_->Failed()) {
    failed_ = true;
    return -1;
  }
  const int32_t n = ring_->Lend(lines, std::min(count, left));
  if (n == 0) {
    // The ring lends room whenever it has not failed.
    failed_ = true;
    return -1;
  }
  return n;
}

int32_t CHTFilter::CommitInput(int32_t count) {
  if (!attached_ || failed_ || !ring_) {
    KLV_LOG(KLV_LOG_ERROR, "halftone filter: %d lines committed %s", count,
            failed_ ? "after a failure" : "but nothing was lent");
    return -1;
  }
  const int32_t lent = ring_->Lent();
  if (count < 0 || count > lent) {
    ring_->Commit(0);
    KLV_LOG(KLV_LOG_ERROR, "halftone filter: %d lines committed of %d lent", count, lent);
    return -1;
  }
  if (count == 0) return ring_->Commit(0);
  if (ring_->Commit(count) != count) {
    failed_ = true;
    KLV_LOG(KLV_LOG_ERROR, "halftone filter: %d lent lines not taken after a failure", count);
    return -1;
  }
  m_line += count;
  return count;
}

int32_t HTPlace_LendLines(IMG_file* filter, uint8_t** lines, int32_t count) {
  CHTFilter* f = as_filter(filter);
  if (!f || !lines) return 0;
  *lines = nullptr;
  try {
    return f->LendInput(lines, count);
  } catch (const std::exception& e) {
    KLV_LOG(KLV_LOG_ERROR, "HTPlace_LendLines: %s", e.what());
  }
  return -1;
}

int32_t HTPlace_CommitLines(IMG_file* filter, int32_t count) {
  CHTFilter* f = as_filter(filter);
  if (!f) {
    KLV_LOG(KLV_LOG_ERROR, "HTPlace_CommitLines: not a halftone filter");
    return -1;
  }
  try {
    return f->CommitInput(count);
  } catch (const std::exception& e) {
    KLV_LOG(KLV_LOG_ERROR, "HTPlace_CommitLines: %s", e.what());
  }
  return -1;
}
