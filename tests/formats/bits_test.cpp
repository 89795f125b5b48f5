// SPDX-License-Identifier: MIT
// Packed-sample routines at every sample width, against plain bit-by-bit
// loops: the shared bit helpers, and the contiguous-image filter that
// interleaves planar TIFF samples (widths that do not divide 8 cross byte
// boundaries).
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "img/filter_bits.h"
#include "klv/imgmux.h"
#include "klv/streams.h"
#include "klv/tiff.h"
#include "support/files.h"

namespace {

// The reference: bit k of a row is bit 7 - k % 8 of byte k / 8.
uint32_t ref_get(const std::vector<uint8_t>& row, uint64_t first, unsigned bits) {
  uint32_t v = 0;
  for (unsigned k = 0; k < bits; ++k) {
    const uint64_t b = first + k;
    v = (v << 1) | ((row[b / 8] >> (7 - b % 8)) & 1u);
  }
  return v;
}
void ref_put(std::vector<uint8_t>& row, uint64_t first, unsigned bits, uint32_t v) {
  for (unsigned k = 0; k < bits; ++k) {
    const uint64_t b = first + k;
    const uint8_t m = static_cast<uint8_t>(0x80u >> (b % 8));
    if ((v >> (bits - 1 - k)) & 1u)
      row[b / 8] |= m;
    else
      row[b / 8] &= static_cast<uint8_t>(~m);
  }
}

std::vector<uint8_t> random_bytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

TEST(FilterBits, EveryWidthAgainstBitLoop) {
  constexpr uint32_t kSamples = 41;  // not a multiple of 8: the row ends part-way into a byte
  for (unsigned bits = 1; bits <= 16; ++bits) {
    SCOPED_TRACE("bits " + std::to_string(bits));
    const size_t bytes = (size_t{kSamples} * bits + 7) / 8;
    const std::vector<uint8_t> row = random_bytes(bytes, bits);
    std::mt19937 rng(100 + bits);
    std::vector<uint8_t> put = random_bytes(bytes, 200 + bits), want = put;
    for (uint32_t i = 0; i < kSamples; ++i) {
      const uint32_t v = rng() & ((1u << bits) - 1);
      klv::img::put_sample(put.data(), i, bits, v);
      if (bits == 16) {
        const uint16_t s = static_cast<uint16_t>(v);
        std::memcpy(want.data() + 2 * i, &s, 2);
        uint16_t got;
        std::memcpy(&got, row.data() + 2 * i, 2);
        ASSERT_EQ(klv::img::get_sample(row.data(), i, bits), got) << i;
      } else {
        ref_put(want, uint64_t{i} * bits, bits, v);
        ASSERT_EQ(klv::img::get_sample(row.data(), i, bits), ref_get(row, uint64_t{i} * bits, bits))
            << i;
      }
    }
    EXPECT_EQ(put, want);
    // copy_bits from every source phase to every destination phase.
    for (unsigned from = 0; from < 8; ++from)
      for (unsigned to = 0; to < 8; ++to) {
        const uint64_t n = uint64_t{kSamples} * bits - 8;
        std::vector<uint8_t> dst = random_bytes(bytes + 1, 300 + from * 8 + to), ref = dst;
        klv::img::copy_bits(dst.data(), to, row.data(), from, n);
        for (uint64_t k = 0; k < n; ++k) ref_put(ref, to + k, 1, ref_get(row, from + k, 1));
        ASSERT_EQ(dst, ref) << "from bit " << from << " to bit " << to;
      }
  }
}

// A planar RGB TIFF of `bits` per sample read through the contiguous-image
// filter gives the samples of each plane interleaved pixel by pixel.
TEST(ContiguousImage, InterleavesPlanarSamplesOfEveryWidth) {
  constexpr int32_t kWidth = 13, kHeight = 3;
  constexpr uint32_t kPlanes = 3;
  klv::test::ScratchFolder dir;
  for (unsigned bits : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 16u}) {
    SCOPED_TRACE("bits " + std::to_string(bits));
    const std::string path = dir.path("p" + std::to_string(bits) + ".tif");
    image_info w;
    init_image_info(&w);
    w.width = kWidth;
    w.height = kHeight;
    w.bits_per_sample = bits;
    w.samples = kPlanes;
    w.photometric = KLV_PHOTO_MINBLACK;
    w.planar = KLV_PLANAR_PLANES;
    w.bytes_per_line = image_info_line_bytes(&w);
    const size_t plane_row = (size_t{bits} * kWidth + 7) / 8;
    // Rows of plane 0, then plane 1, then plane 2; padding bits are zero.
    std::vector<uint8_t> planes(plane_row * kHeight * kPlanes, 0);
    std::mt19937 rng(bits);
    for (size_t r = 0; r < size_t{kHeight} * kPlanes; ++r)
      for (int32_t x = 0; x < kWidth; ++x) {
        const uint32_t v = rng() & ((1u << bits) - 1);
        std::vector<uint8_t> row(planes.begin() + r * plane_row,
                                 planes.begin() + (r + 1) * plane_row);
        if (bits == 16) {
          const uint16_t s = static_cast<uint16_t>(v);
          std::memcpy(row.data() + 2 * x, &s, 2);
        } else {
          ref_put(row, uint64_t(x) * bits, bits, v);
        }
        std::copy(row.begin(), row.end(), planes.begin() + r * plane_row);
      }
    void* out = tif_open(nullptr, path.c_str(), "w", &w);
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(tif_write_line(out, planes.data(), kHeight * kPlanes), kHeight * kPlanes);
    tif_close(out);

    image_info r;
    init_image_info(&r);
    IMG_file* src = img_mux_open(path.c_str(), nullptr, "r", &r, KLV_TYPE_TIFF);
    ASSERT_NE(src, nullptr);
    ASSERT_EQ(r.planar, uint32_t{KLV_PLANAR_PLANES});
    IMG_file* img = contimg_to_img(contimg_attach(src, nullptr, 0));
    ASSERT_NE(img, nullptr);
    ASSERT_EQ(img->info.planar, uint32_t{KLV_PLANAR_PIXEL});
    const size_t line_bytes = (size_t{bits} * kWidth * kPlanes + 7) / 8;
    ASSERT_EQ(img->info.bytes_per_line, line_bytes);
    for (int32_t y = 0; y < kHeight; ++y) {
      std::vector<uint8_t> got(line_bytes, 0xEE), want(line_bytes, 0);
      ASSERT_EQ(img_read_line(img, got.data(), 1), 1);
      for (uint32_t p = 0; p < kPlanes; ++p) {
        const std::vector<uint8_t> row(planes.begin() + (p * kHeight + y) * plane_row,
                                       planes.begin() + (p * kHeight + y + 1) * plane_row);
        for (int32_t x = 0; x < kWidth; ++x) {
          const uint64_t at = (uint64_t(x) * kPlanes + p) * bits;
          if (bits == 16)
            std::memcpy(want.data() + at / 8, row.data() + 2 * x, 2);
          else
            ref_put(want, at, bits, ref_get(row, uint64_t(x) * bits, bits));
        }
      }
      EXPECT_EQ(got, want) << "line " << y;
    }
    img_close(img);
  }
}

}  // namespace
