// SPDX-License-Identifier: MIT
// The bit-field routines of the channel layout filters: the worked examples,
// and the fast row movers against the plain ones for every shape.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "img/filters/bitfield.h"
#include "klv/layoutfilter.h"
#include "support/image.h"

namespace {

using klv::test::pattern_bytes;

TEST(BitField, CopyBitsExamples) {
  struct Case {
    std::vector<uint8_t> src;
    uint32_t count, dst_bit, src_bit;
    int32_t invert;
    uint32_t src_skip, replicate, bits;
    std::vector<uint8_t> want;
  };
  const Case cases[] = {
      {{0xF0}, 8, 0, 0, 1, 0, 0, 1, {0x0F}},  // inverted 1-bit samples
      {{0xA0}, 4, 0, 0, 0, 0, 1, 1, {0xCC}},  // 1 0 1 0 each doubled
      {{0x12, 0x34}, 4, 0, 0, 0, 0, 1, 4, {0x11, 0x22, 0x33, 0x44}},
      {{0xAB, 0xCD}, 2, 4, 0, 0, 4, 0, 4, {0x0A, 0xC0}},  // every other nibble, shifted
      {{0xFF}, 3, 1, 0, 0, 0, 0, 2, {0x7E}},              // three 2-bit fields from bit 1
      {{0x81, 0x7E}, 2, 0, 0, 0, 0, 0, 8, {0x81, 0x7E}},  // whole bytes
      {{0x81}, 1, 4, 0, 1, 0, 0, 8, {0x07, 0xE0}},        // an inverted byte across two
      {{0xFF}, 8, 0, 0, 0, 0, 0, 9, {0x00}},              // other widths do nothing
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> dst(c.want.size(), 0);
    KelvCopyBits(dst.data(), c.src.data(), c.count, c.dst_bit, c.src_bit, c.invert, c.src_skip,
                 c.replicate, c.bits);
    EXPECT_EQ(dst, c.want) << "bits " << c.bits << " replicate " << c.replicate;
  }
}

TEST(BitField, MakeContigAndCopySkipBits) {
  // Three 2-bit planes, four pixels: (0 1 2 3), (3 2 1 0), (1 1 1 1).
  const uint8_t r[] = {0x1B}, g[] = {0xE4}, b[] = {0x55};
  const uint8_t* planes[] = {r, g, b};
  std::vector<uint8_t> dst(3, 0);
  MakeContig(dst.data(), planes, 3, 4, 0, 0, 0, 0, 2);
  // pixels (0 3 1) (1 2 1) (2 1 1) (3 0 1)
  EXPECT_EQ(dst, (std::vector<uint8_t>{0x35, 0x99, 0x71}));
  std::fill(dst.begin(), dst.end(), 0);
  MakeContig(dst.data(), planes, 3, 1, 0, 2, 1, 1, 2);       // pixel 1, inverted, doubled
  EXPECT_EQ(dst, (std::vector<uint8_t>{0xA5, 0xA0, 0x00}));  // (2 1 2) each twice

  // Groups of (skip 1, copy 2, skip 1, copy 1), the source skipping 1.
  const std::vector<uint8_t> src = {1, 2, 3, 9, 4, 5, 6, 9};
  std::vector<uint8_t> out(10, 0);
  CopySkipBits(out.data(), src.data(), 2, 2, 1, 1, 1, 1, 8);
  EXPECT_EQ(out, (std::vector<uint8_t>{0, 1, 2, 0, 3, 0, 4, 5, 0, 6}));
  std::vector<uint8_t> words(8, 0);
  const uint16_t w[] = {0x1234, 0x5678};
  CopySkipBits(words.data(), reinterpret_cast<const uint8_t*>(w), 1, 1, 1, 0, 1, 1, 16);
  uint16_t got[4];
  std::memcpy(got, words.data(), 8);
  EXPECT_EQ(got[1], 0x1234);
  EXPECT_EQ(got[3], 0x5678);
  std::vector<uint8_t> nibbles(2, 0);
  const uint8_t n[] = {0xAB, 0xCD};
  CopySkipBits(nibbles.data(), n, 2, 1, 0, 1, 1, 0, 4);  // skip one, copy one; source skips one
  EXPECT_EQ(nibbles, (std::vector<uint8_t>{0x0A, 0x0C}));
}

// Fast movers against the plain ones, bit for bit, for every width and
// plane count at widths that leave every remainder of the fast blocks.
TEST(BitField, FastMoversEqualPlainOnes) {
  for (uint32_t bits : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 16u}) {
    for (uint32_t planes : {1u, 2u, 3u, 4u, 5u}) {
      for (uint32_t width : {1u, 7u, 8u, 15u, 16u, 17u, 33u, 64u, 100u}) {
        SCOPED_TRACE(testing::Message()
                     << "bits " << bits << " planes " << planes << " width " << width);
        const uint32_t row = (width * bits + 7) / 8 + 1;  // rows a byte apart more than needed
        const size_t pxv = (size_t(planes) * bits * width + 7) / 8;
        const std::vector<uint8_t> src = pattern_bytes(pxv, bits * 100 + planes);
        std::vector<uint8_t> fast(size_t(row) * planes, 0), plain(fast.size(), 0);
        PxvToLnv(fast.data(), src.data(), planes, row, width, bits);
        klv::img::pxv_to_lnv_plain(plain.data(), src.data(), planes, row, width, bits);
        ASSERT_EQ(fast, plain) << klv::img::pxv_to_lnv_name(planes, bits);
        // And back: only the samples, so padding bits of src do not count.
        std::vector<uint8_t> back(pxv, 0), back_plain(pxv, 0);
        LnvToPxv(back.data(), plain.data(), planes, row, width, bits);
        klv::img::lnv_to_pxv_plain(back_plain.data(), plain.data(), planes, row, width, bits);
        ASSERT_EQ(back, back_plain) << klv::img::lnv_to_pxv_name(planes, bits);
        std::vector<uint8_t> again(plain.size(), 0);
        PxvToLnv(again.data(), back.data(), planes, row, width, bits);
        ASSERT_EQ(again, plain);
      }
    }
  }
}

TEST(BitField, PickedMovers) {
  // Four 8-bit planes: 256-bit registers where the processor has them.
  EXPECT_EQ(std::string(klv::img::pxv_to_lnv_name(4, 8)).rfind("bytes4", 0), 0u);
  EXPECT_STREQ(klv::img::pxv_to_lnv_name(3, 8), "bytes3");
  EXPECT_STREQ(klv::img::pxv_to_lnv_name(4, 1), "bits1x4");
  EXPECT_STREQ(klv::img::pxv_to_lnv_name(2, 16), "words");
  EXPECT_STREQ(klv::img::lnv_to_pxv_name(3, 4), "fields");
  EXPECT_STREQ(klv::img::lnv_to_pxv_name(1, 3), "copy");
  EXPECT_STREQ(klv::img::lnv_to_pxv_name(3, 12), "none");
}

}  // namespace
