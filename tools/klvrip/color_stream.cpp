// SPDX-License-Identifier: MIT
// The converting stream of klvrip convert and screen.
#include "color_stream.h"

#include <algorithm>
#include <new>
#include <vector>

#include "klv/cimg_file.h"

namespace klvrip {
namespace {

// Lines taken from below per read at most.
constexpr int32_t kChunk = 64;

class ColorStream : public CIMG_file {
 public:
  ColorStream(IMG_file* below, std::unique_ptr<klv::ColorConversion> conversion,
              const image_info& out)
      : below_(below), conv_(std::move(conversion)) {
    m_info = out;
    m_info.cmap = nullptr;
    m_info.profile_word = nullptr;
    buffer_.resize(size_t(below->info.bytes_per_line) * kChunk);
  }
  ~ColorStream() override { img_close(below_); }

  int32_t ReadLine(unsigned char* buffer, int32_t count) override {
    int32_t done = 0;
    const uint32_t width = uint32_t(m_info.width);
    while (done < count) {
      const int32_t n = std::min(kChunk, count - done);
      const int32_t got = img_read_line(below_, buffer_.data(), n);
      if (got <= 0) break;
      uint8_t* out = buffer + size_t(done) * m_info.bytes_per_line;
      if (m_info.bits_per_sample == 16)
        conv_->Line16(reinterpret_cast<const uint16_t*>(buffer_.data()),
                      reinterpret_cast<uint16_t*>(out), width * uint32_t(got));
      else
        conv_->Line8(buffer_.data(), out, width * uint32_t(got));
      done += got;
      if (got < n) break;
    }
    m_line += done;
    return done;
  }
  int32_t GetStatus(int32_t what) override { return img_status(below_, what); }
  int32_t Close() override {
    IMG_file* b = below_;
    below_ = nullptr;
    return img_close_status(b);
  }

 private:
  IMG_file* below_;
  std::unique_ptr<klv::ColorConversion> conv_;
  std::vector<uint8_t> buffer_;
};

}  // namespace

IMG_file* color_stream_open(IMG_file* below, std::unique_ptr<klv::ColorConversion> conversion,
                            const image_info& out) {
  if (!below || !conversion) {
    img_close(below);
    return nullptr;
  }
  ColorStream* s = new (std::nothrow) ColorStream(below, std::move(conversion), out);
  if (!s) {
    img_close(below);
    return nullptr;
  }
  return s->ToImg('r', 0);
}

}  // namespace klvrip
