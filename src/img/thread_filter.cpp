// SPDX-License-Identifier: MIT
// CImgThreadFilter: the threaded write stage as an image stream object.
#include <new>

#include "klv/log.h"
#include "klv/threadfilter.h"
#include "img/sync_buffer.h"
#include "klv/threadfilter_cxx.h"

CImgThreadFilter::CImgThreadFilter() = default;
CImgThreadFilter::~CImgThreadFilter() = default;

bool CImgThreadFilter::Attach(IMG_file* output, uint32_t buffer_bytes) {
  buffer_.reset();
  if (!output) return false;
  if (output->mode != 'w' || (output->info.planar & KLV_PLANAR_TILED) ||
      output->info.planar == KLV_PLANAR_PLANES) {
    KLV_LOG(KLV_LOG_ERROR,
            "write stage: the output must be open for writing and pixel- or line-interleaved "
            "(mode '%c', layout %u)",
            output->mode ? output->mode : '?', output->info.planar);
    return false;
  }
  const uint32_t line_bytes = output->info.bytes_per_line;
  const uint32_t capacity = line_bytes ? buffer_bytes / line_bytes : 0;
  if (uint64_t{capacity} * line_bytes < 1) {
    KLV_LOG(KLV_LOG_ERROR, "write stage: %u bytes do not hold one line of %u bytes", buffer_bytes,
            line_bytes);
    return false;
  }
  m_info = output->info;
  m_line = 0;
  m_plane = 0;
  try {
    buffer_ = std::make_unique<CSyncBuffer>(output, capacity, line_bytes);
  } catch (const std::bad_alloc&) {
    KLV_LOG(KLV_LOG_ERROR, "write stage: no memory for a ring of %u lines", capacity);
    return false;
  }
  if (!buffer_->Start()) {
    buffer_->ReleaseOutput();  // the caller keeps the output on failure
    buffer_.reset();
    return false;
  }
  return true;
}

int32_t CImgThreadFilter::WriteLine(unsigned char* buffer, int32_t count) {
  if (!buffer_) return 0;
  int32_t accepted = buffer_->Write(buffer, count);
  m_line += accepted;
  return accepted;
}

int32_t CImgThreadFilter::GetStatus(int32_t what) {
  return buffer_ ? buffer_->GetStatus(what) : -1;
}

image_cmap* CImgThreadFilter::GetCmap() {
  return buffer_ ? buffer_->GetCmap() : nullptr;
}

int32_t CImgThreadFilter::Close() {
  return buffer_ ? buffer_->Finish() : 0;
}

image_profile* CImgThreadFilter::GetProfile() {
  return buffer_ ? buffer_->GetProfile() : nullptr;
}

extern "C" KLV_API IMG_file* threadfilter_attach(IMG_file* output, uint32_t buffer_bytes) {
  if (!output) return nullptr;
  CImgThreadFilter* filter = new (std::nothrow) CImgThreadFilter;
  if (!filter) {
    img_close(output);
    return nullptr;
  }
  try {
    if (!filter->Attach(output, buffer_bytes)) {
      delete filter;
      img_close(output);
      return nullptr;
    }
  } catch (...) {
    delete filter;
    img_close(output);
    return nullptr;
  }
  // ToImg deletes the filter (which closes the output) when it fails.
  return filter->ToImg('w', 0);
}
