// SPDX-License-Identifier: MIT
// The threaded write stage as a C++ stream class. The C interface is in
// klv/threadfilter.h; the ring and its worker stay inside the library.
#ifndef KLV_THREADFILTER_CXX_H
#define KLV_THREADFILTER_CXX_H

#include <memory>

#include "klv/cimg_file.h"
#include "klv/threadfilter.h"

class CSyncBuffer;

// The stage as an image stream object.
class KLV_API CImgThreadFilter : public CIMG_file {
 public:
  CImgThreadFilter();
  ~CImgThreadFilter() override;

  int32_t WriteLine(unsigned char* buffer, int32_t count) override;
  int32_t GetStatus(int32_t what) override;
  // Writes what the ring holds, ends the worker and closes the output; 0 when
  // the output kept every line, -1 when a write or its close failed.
  int32_t Close() override;
  image_cmap* GetCmap() override;
  image_profile* GetProfile() override;
  // Puts the stage in front of `output`. On success the stage owns it; on
  // failure (false) the caller still does.
  virtual bool Attach(IMG_file* output, uint32_t buffer_bytes);

 private:
  std::unique_ptr<CSyncBuffer> buffer_;
};

#endif
