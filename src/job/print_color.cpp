// SPDX-License-Identifier: MIT
// The colour stage of a frame: 8-bit pixel-interleaved lines converted
// through a colour conversion (the image's profile to the printer's inks,
// with the printer's calibration) and written into the stream below, a
// band of lines a call.
#include <algorithm>
#include <new>
#include <vector>

#include "klv/cimg_file.h"
#include "klv/log.h"
#include "print_chain.h"

namespace klv::printing {
namespace {

constexpr int32_t kBand = 64;

class ColorImg : public ChainStage {
 public:
  ColorImg(IMG_file* below, std::unique_ptr<ColorConversion> conversion, const image_info& in)
      : ChainStage(below), conversion_(std::move(conversion)) {
    m_info = in;
    out_bytes_ = below->info.bytes_per_line;
    out_.assign(size_t(out_bytes_) * kBand, 0);
  }

  int32_t WriteLine(unsigned char* buffer, int32_t count) override {
    if (!below_ || !buffer) return 0;
    int32_t done = 0;
    while (done < count) {
      const int32_t n = std::min(kBand, count - done);
      for (int32_t y = 0; y < n; ++y)
        conversion_->Line8(buffer + size_t(done + y) * m_info.bytes_per_line,
                           out_.data() + size_t(y) * out_bytes_, uint32_t(m_info.width));
      const int32_t written = img_write_line(below_, out_.data(), n);
      done += std::max(0, written);
      m_line += std::max(0, written);
      if (written != n) break;
    }
    return done;
  }

 private:
  std::unique_ptr<ColorConversion> conversion_;
  uint32_t out_bytes_ = 0;
  std::vector<uint8_t> out_;
};

}  // namespace

IMG_file* color_stage_open(IMG_file* below, std::unique_ptr<ColorConversion> conversion,
                           const image_info& in) {
  if (!below) return nullptr;
  if (!conversion || in.bits_per_sample != 8 || in.planar != KLV_PLANAR_PIXEL ||
      in.samples != conversion->InputChannels() ||
      below->info.samples != conversion->OutputChannels() || below->info.bits_per_sample != 8 ||
      below->info.width != in.width) {
    KLV_LOG(KLV_LOG_ERROR, "The colour conversion of the frame does not fit its lines");
    img_close(below);
    return nullptr;
  }
  ColorImg* stage = new (std::nothrow) ColorImg(below, std::move(conversion), in);
  if (!stage) {
    img_close(below);
    return nullptr;
  }
  return stage->ToImg('w', kColorType);
}

}  // namespace klv::printing
