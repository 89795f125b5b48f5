// SPDX-License-Identifier: MIT
// The pixel repeat of a frame: each sample of line-interleaved dot lines
// repeated across and each line repeated down. A byte of input holds 8 / bits
// samples, each repeated xrep times: exactly xrep bytes of output, so a
// byte table built at open turns every input byte into its output bytes.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "klv/cimg_file.h"
#include "klv/log.h"
#include "print_chain.h"

namespace klv::printing {
namespace {

class RepeatImg : public ChainStage {
 public:
  RepeatImg(IMG_file* below, const image_info& in, int32_t xrep, int32_t yrep)
      : ChainStage(below), xrep_(size_t(xrep)), yrep_(yrep) {
    m_info = in;
    const uint32_t bits = in.bits_per_sample;
    in_plane_ = (size_t(bits) * size_t(in.width) + 7) / 8;
    out_plane_ = (size_t(bits) * size_t(in.width) * xrep_ + 7) / 8;
    planes_ = in.samples;
    const size_t used = (size_t(bits) * size_t(in.width)) % 8;
    tail_mask_ = used ? uint8_t(0xFF << (8 - used)) : 0xFF;
    BuildTable(bits);
    line_.assign(out_plane_ * planes_ + xrep_, 0);
  }

  int32_t WriteLine(unsigned char* buffer, int32_t count) override {
    if (!below_ || !buffer) return 0;
    int32_t done = 0;
    for (; done < count && m_line < m_info.height; ++done) {
      Expand(buffer + size_t(done) * in_plane_ * planes_);
      for (int32_t k = 0; k < yrep_; ++k)
        if (img_write_line(below_, line_.data(), 1) != 1) return done;
      ++m_line;
    }
    return done;
  }

 private:
  void BuildTable(uint32_t bits) {
    table_.assign(256 * xrep_, 0);
    const uint32_t per_byte = 8 / bits, mask = (1u << bits) - 1;
    for (uint32_t byte = 0; byte < 256; ++byte) {
      uint8_t* out = &table_[byte * xrep_];
      size_t bit = 0;
      for (uint32_t i = 0; i < per_byte; ++i) {
        const uint32_t v = (byte >> (8 - bits * (i + 1))) & mask;
        for (size_t r = 0; r < xrep_; ++r, bit += bits)
          out[bit / 8] |= uint8_t(v << (8 - bits - bit % 8));
      }
    }
  }
  template <size_t kRep>
  void ExpandBytes(const uint8_t* src, uint8_t* dst) const {
    for (size_t i = 0; i + 1 < in_plane_; ++i)
      std::memcpy(dst + i * kRep, &table_[src[i] * kRep], kRep);
  }
  // One input line into line_: every plane's bytes through the table.
  void Expand(const uint8_t* in) {
    for (size_t p = 0; p < planes_; ++p) {
      const uint8_t* src = in + p * in_plane_;
      uint8_t* dst = line_.data() + p * out_plane_;
      switch (xrep_) {  // copies of a size known here are moves, not calls
        case 2:
          ExpandBytes<2>(src, dst);
          break;
        case 4:
          ExpandBytes<4>(src, dst);
          break;
        default:
          for (size_t i = 0; i + 1 < in_plane_; ++i)
            std::memcpy(dst + i * xrep_, &table_[src[i] * xrep_], xrep_);
      }
      // The last byte: its unused bits are dropped, and only the bytes of
      // the output plane are kept (the next plane starts after them).
      const uint8_t* last = &table_[(src[in_plane_ - 1] & tail_mask_) * xrep_];
      const size_t at = (in_plane_ - 1) * xrep_;
      std::memcpy(dst + at, last, std::min(xrep_, out_plane_ - at));
    }
  }

  size_t xrep_;
  int32_t yrep_;
  size_t in_plane_ = 0, out_plane_ = 0, planes_ = 0;
  uint8_t tail_mask_ = 0xFF;
  std::vector<uint8_t> table_;  // [byte * xrep_ + k]
  std::vector<uint8_t> line_;
};

}  // namespace

IMG_file* repeat_stage_open(IMG_file* below, const image_info& in, int32_t xrep, int32_t yrep) {
  const uint32_t bits = in.bits_per_sample;
  if (!below) return nullptr;
  if (xrep < 1 || yrep < 1 || xrep > 64 || yrep > 64 || in.width < 1 || in.samples < 1 ||
      (bits != 1 && bits != 2 && bits != 4 && bits != 8) || in.planar != KLV_PLANAR_LINES) {
    KLV_LOG(KLV_LOG_ERROR, "Pixel repeat %dx%d of %u-bit lines cannot be made", xrep, yrep, bits);
    img_close(below);
    return nullptr;
  }
  RepeatImg* stage = new (std::nothrow) RepeatImg(below, in, xrep, yrep);
  if (!stage) {
    img_close(below);
    return nullptr;
  }
  return stage->ToImg('w', kRepeatType);
}

}  // namespace klv::printing
