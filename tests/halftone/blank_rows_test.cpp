// SPDX-License-Identifier: MIT
// Lines with no ink skip the per-pixel work in the threshold and plain
// diffusion engines; the dots must be those of the full path, also on the
// lines after a blank run (screen row and phase, diffusion error lines).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "klv/halftone_diffusion.h"
#include "klv/htplace.h"

namespace {

constexpr int kW = 133, kH = 60;

struct Case {
  const char* what;
  int method;      // placement method: 0 plain, 1 modulated diffusion, 4 built-in screens
  int in_bits;     // 8 or 16
  int seps;        // samples per pixel; the last separation is screened
  bool invert_in;  // inverted input: the largest sample is paper
  bool mirror;
  bool invert_out;
};

// Ink rows (noisy ramps, some pixels at paper) between blank rows: a blank
// run at the top, runs right after ink, a single blank row, and a run at the
// bottom.
bool blank_row(int y) {
  return y < 4 || (y >= 12 && y < 30) || y == 36 || y >= 50;
}

std::vector<uint8_t> make_page(const Case& c) {
  const int bytes = c.in_bits / 8;
  std::vector<uint8_t> p(size_t(kW) * kH * c.seps * bytes);
  const uint32_t top = c.in_bits == 16 ? 0xFFFF : 0xFF;
  const uint32_t paper = c.invert_in ? top : 0;
  std::mt19937 rng(3);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      for (int s = 0; s < c.seps; ++s) {
        uint32_t v = paper;
        if (!blank_row(y) && rng() % 5) {
          const uint32_t tone = uint32_t(x) * top / (kW - 1);
          v = c.invert_in ? top - tone : tone;
        }
        uint8_t* at = p.data() + ((size_t(y) * kW + x) * c.seps + s) * bytes;
        if (bytes == 2) {
          const uint16_t w = uint16_t(v);
          std::memcpy(at, &w, 2);
        } else {
          *at = uint8_t(v);
        }
      }
  return p;
}

// The separation's dot lines, fed in uneven groups, with blank skipping on
// or off.
std::vector<uint8_t> screen(const Case& c, const std::vector<uint8_t>& page, bool skip) {
  HTPLACE* h =
      HTPlaceAlloc(4, 720, 720, 0, 0, 0, uint32_t(c.method), nullptr, nullptr, nullptr, nullptr, 0);
  EXPECT_TRUE(h);
  if (!h) return {};
  auto* place = dynamic_cast<CHTKlvPlacement*>(reinterpret_cast<CHTPlacement*>(h));
  image_info in{}, out{};
  in.width = out.width = kW;
  in.height = out.height = kH;
  in.samples = out.samples = uint32_t(c.seps);
  in.bits_per_sample = uint32_t(c.in_bits);
  in.bytes_per_line = uint32_t(kW * c.seps * c.in_bits / 8);
  out.bits_per_sample = 1;
  out.planar = KLV_PLANAR_LINES;
  EXPECT_TRUE(place->PreInitProcess(&in, &out));
  place->invert_mask = c.invert_in ? 0xFFFF : 0;
  place->mirror = c.mirror;
  place->invert_output = c.invert_out;
  const int sep = c.seps - 1;
  std::unique_ptr<CHTRip> rip(place->CreateRip(sep, sep, false, 0, nullptr, nullptr, 0, kH));
  EXPECT_TRUE(rip);
  std::vector<uint8_t> dots;
  if (rip) {
    dynamic_cast<CHTRipKlv*>(rip.get())->SetBlankSkip(skip);
    const uint8_t* base = page.data() + size_t(sep) * (c.in_bits / 8);
    for (int y = 0, n = 1; y < kH; y += n, ++n) {
      n = std::min(n, kH - y);
      EXPECT_EQ(rip->StartProcessLine(const_cast<uint8_t*>(base) + size_t(y) * in.bytes_per_line,
                                      unsigned(n)),
                unsigned(n));
    }
    dots.assign(rip->GetOutBuf(), rip->GetOutBuf() + rip->GetBytesPerLine() * kH);
  }
  rip.reset();
  HTPlaceFree(h);
  return dots;
}

TEST(BlankRows, SkippingGivesTheBytesOfTheFullPath) {
  const Case cases[] = {
      {"screen, 8-bit", 4, 8, 1, false, false, false},
      {"screen, 8-bit interleaved, inverted input", 4, 8, 4, true, false, false},
      {"screen, 8-bit mirrored, inverted output", 4, 8, 1, false, true, true},
      {"screen, 16-bit", 4, 16, 1, false, false, false},
      {"screen, 16-bit interleaved, inverted input", 4, 16, 4, true, true, false},
      {"plain diffusion, 8-bit", 0, 8, 1, false, false, false},
      {"plain diffusion, 8-bit interleaved, inverted", 0, 8, 4, true, true, true},
      {"plain diffusion, 16-bit", 0, 16, 1, false, false, false},
      {"plain diffusion, 16-bit inverted input", 0, 16, 4, true, false, false},
      {"modulated diffusion (never skips)", 1, 8, 1, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<uint8_t> page = make_page(c);
    const std::vector<uint8_t> full = screen(c, page, false);
    ASSERT_EQ(full.size(), size_t((kW + 7) / 8) * kH);
    EXPECT_EQ(screen(c, page, true), full);
    // The blank rows at the top carry nothing: they are paper in the output.
    const uint8_t paper = c.invert_out ? 0xFF : 0x00;
    for (size_t i = 0; i < size_t((kW + 7) / 8) * 4; ++i) ASSERT_EQ(full[i], paper) << i;
  }
}

}  // namespace
