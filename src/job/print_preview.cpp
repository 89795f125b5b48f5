// SPDX-License-Identifier: MIT
// The preview of a job frame: what the caller writes goes, through a
// multiple-output stream, both into the frame's chain and, reduced by the
// line filter so that its longer side is 400 pixels, into the member
// ".\\Render.001" of the job volume.
#include <algorithm>
#include <cmath>

#include "klv/filter.h"
#include "klv/log.h"
#include "klv/outimg.h"
#include "klv/printobj_cxx.h"
#include "klv/streams.h"

namespace {

constexpr int32_t kPreviewSide = 400;

// The preview's description: the image's samples at 8 bits, its longer side
// 400 pixels (a smaller image keeps its size).
image_info preview_of(const image_info& image) {
  image_info p = image;
  const int32_t longer = std::max(image.width, image.height);
  if (longer > kPreviewSide) {
    const double scale = double(kPreviewSide) / longer;
    p.width = std::max(1, int32_t(std::lround(image.width * scale)));
    p.height = std::max(1, int32_t(std::lround(image.height * scale)));
    p.xres = image.xres * p.width / image.width;
    p.yres = image.yres * p.height / image.height;
  }
  p.bits_per_sample = 8;
  p.planar = KLV_PLANAR_PIXEL;
  p.compression = 0;
  p.cmap = nullptr;
  p.profile_word = nullptr;
  p.bytes_per_line = image_info_line_bytes(&p);
  return p;
}

}  // namespace

IMG_file* JobFrameStarter::Wrap(IMG_file* head) {
  if (!head || !m_volume) return head;
  const image_info& image = head->info;
  if ((image.planar != KLV_PLANAR_PIXEL && image.samples > 1) ||
      image.photometric == KLV_PHOTO_PALETTE) {
    KLV_LOG(KLV_LOG_INFO, "Job frame \"%s\": no preview of this layout", m_name.c_str());
    return head;
  }
  image_info member = preview_of(image);
  IMG_file* out = outimg_open_img(KLV_JOB_FRAME_PREVIEW, m_volume, "w", &member);
  if (!out) {
    KLV_LOG(KLV_LOG_ERROR, "Job frame \"%s\": the preview cannot be created", m_name.c_str());
    return head;
  }
  filter_info options{};
  options.stretch = 1;
  image_info caller = image;
  filter_rec* filter = filter_attach(out, &caller, &options);  // closes `out` when it refuses
  IMG_file* preview = filter ? filter_to_img(filter) : nullptr;
  IMG_file* both[] = {head, preview, nullptr};
  IMG_file* joined = preview ? mult_img_connect(both) : nullptr;
  if (!joined) {
    KLV_LOG(KLV_LOG_ERROR, "Job frame \"%s\": the preview cannot be joined", m_name.c_str());
    if (preview) img_close(preview);
    return head;
  }
  return joined;
}
