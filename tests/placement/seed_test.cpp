// SPDX-License-Identifier: MIT
// Screening is reproducible: a page screened twice through the halftone
// filter gives the same bytes whatever the process-wide generator holds, and
// the placement's seed is what changes the dots.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/image.h"
#include "klv/halftone_ml.h"
#include "klv/halftone_screenmtx.h"
#include "klv/htplace.h"

namespace {

using klv::test::Sink;
using klv::test::SinkLog;

constexpr int kW = 150, kH = 40;

struct Case {
  const char* what;
  int method;
  bool multilevel;  // the sample three-drop process record, 2-bit output
  int seps;         // beyond 4 the screened methods reuse a screen at a drawn phase
};

image_info describe(int samples, int bits, int planar) {
  return klv::test::describe(kW, kH, uint32_t(samples), uint32_t(bits), 0, uint32_t(planar));
}

// Ramps across, a different slope per separation, so that every tone is met.
std::vector<uint8_t> page(int seps) {
  std::vector<uint8_t> p(size_t(kW) * kH * seps);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      for (int s = 0; s < seps; ++s)
        p[(size_t(y) * kW + x) * seps + s] = uint8_t((x * 255 / (kW - 1) + y * (s + 1)) % 256);
  return p;
}

// Every plane of the page screened by a new placement of the case's method;
// `seed` < 0 leaves the placement's default seed.
std::vector<uint8_t> screen(const Case& c, int64_t seed, bool threads) {
  HTPLACE* h =
      HTPlaceAlloc(4, 720, 720, 0, 0, 0, uint32_t(c.method), nullptr, nullptr, nullptr, nullptr, 0);
  EXPECT_TRUE(h);
  if (!h) return {};
  HTPlaceSetDetachDelete(h, 1);
  if (c.multilevel) {
    MLPROCINFO rec;
    MLProcSample(rec, false);
    rec.output_bits = 2;
    EXPECT_EQ(HTPlaceSetLinearization(h, 0, nullptr, &rec), 1);
  }
  if (seed >= 0) {
    EXPECT_EQ(HTPlaceSetSeed(h, uint32_t(seed)), 0);
  }
  if (threads) {
    for (int s = 0; s < 13; ++s) HTPlaceGetThreadFlagArray(h)[s] = 1;
  }
  SinkLog data;
  image_info out = describe(c.seps, c.multilevel ? 2 : 1, KLV_PLANAR_PLANES);
  IMG_file* out_img = (new Sink(out, &data))->ToImg('w', 0);
  image_info in = describe(c.seps, 8, KLV_PLANAR_PIXEL);
  IMG_file* f = HTPlace_AttachImg(h, out_img, &in, 9, 0);
  EXPECT_TRUE(f);
  if (!f) return {};
  std::vector<uint8_t> px = page(c.seps);
  for (int y = 0; y < kH; y += 7)
    EXPECT_EQ(img_write_line(f, px.data() + size_t(y) * in.bytes_per_line, std::min(7, kH - y)),
              std::min(7, kH - y));
  img_close(f);
  std::vector<uint8_t> all;
  for (const auto& plane : data.planes) all.insert(all.end(), plane.begin(), plane.end());
  return all;
}

const Case kCases[] = {
    {"plain diffusion", 0, false, 4},      {"modulated diffusion", 1, false, 6},
    {"multi-level diffusion", 0, true, 4}, {"multi-level screen", 4, true, 6},
    {"built-in screens", 4, false, 6},     {"generated spot screens", 6, false, 6},
};

TEST(Seed, APageScreenedTwiceGivesTheSameBytes) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    std::srand(1);
    const std::vector<uint8_t> first = screen(c, -1, false);
    ASSERT_FALSE(first.empty());
    // The process-wide generator plays no part.
    std::srand(977);
    for (int i = 0; i < 100; ++i) (void)std::rand();
    EXPECT_EQ(screen(c, -1, false), first);
    EXPECT_EQ(screen(c, -1, true), first) << "worker threads";
    EXPECT_EQ(screen(c, kHTDefaultSeed, false), first) << "the default seed, set explicitly";
  }
}

TEST(Seed, DifferentSeedsGiveDifferentDots) {
  // The screened methods draw only the phase of screens beyond the fourth.
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    const std::vector<uint8_t> a = screen(c, 1, false), b = screen(c, 2, false);
    ASSERT_EQ(a.size(), b.size());
    EXPECT_NE(a, b);
    EXPECT_EQ(screen(c, 2, false), b);
  }
  EXPECT_EQ(HTPlaceSetSeed(nullptr, 1), -1);
}

TEST(Seed, GeneratedSpotScreensSeedFromTheirParameters) {
  auto thresholds = [](double angle, double cell) {
    auto gen = HTScreenMtxCreate(4);
    EXPECT_TRUE(gen->Setup(angle, cell, 2, 1, 1) && gen->Build());
    return gen->Ranks();
  };
  std::srand(5);
  const auto a = thresholds(15, 12);
  std::srand(6);
  EXPECT_EQ(thresholds(15, 12), a);
}

}  // namespace
