// SPDX-License-Identifier: MIT
// The engine core: tone curves (linear, linearization, level curves, ink
// restriction, invert mask, exact-curve floor), buffer bookkeeping and the
// worker hand-over.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "klv/halftone_rip.h"
#include "klv/inkrestrict.h"

namespace {

// An engine that copies each line's first input byte into its output line.
class CopyRip : public CHTRipKlv {
 public:
  explicit CopyRip(bool exact = true) { SetExactCurve(exact); }
  ~CopyRip() override { StopWorker(); }
  void ProcessLine() override {
    std::memset(out_ptr_, 0, out_bytes_per_line_);
    out_ptr_[0] = in_ptr_[0];
    ++lines;
    out_ptr_ += out_stride_;
    ++out_line_;
  }
  std::atomic<int> lines{0};
};

class TestPlacement : public CHTKlvPlacement {
 public:
  explicit TestPlacement(int bits = 8, int samples = 1) {
    in.width = out.width = 16;
    in.height = out.height = 10;
    in.samples = out.samples = uint32_t(samples);
    in.bits_per_sample = uint32_t(bits);
    in.bytes_per_line = uint32_t(16 * samples * bits / 8);
    out.bits_per_sample = 1;
    PreInitProcess(&in, &out);
  }
  CHTRip* CreateRip(int, int, bool, int, MLPROCCURVES*, uint8_t*, unsigned long,
                    unsigned long) override {
    return nullptr;
  }
  image_info in{}, out{};
};

TEST(RipCore, LinearCurveWithInvertMaskAnd16BitInput) {
  TestPlacement p16(16);
  p16.invert_mask = 0xFFFF;
  CopyRip rip;
  ASSERT_TRUE(rip.Init(&p16, false, 0, 0, false, 0, nullptr, nullptr, 0, 4));
  ASSERT_EQ(rip.GetCurveSize(), 4096u);
  EXPECT_EQ(rip.GetCurve()[0xFFFF >> 4], 0) << "0xFFFF inverted is index 0";
  EXPECT_EQ(rip.GetCurve()[0], 2047);
  EXPECT_EQ(rip.GetCurve()[100], (4095 - 100) * 2047 / 4095);

  TestPlacement p8;
  CopyRip loose(false);
  ASSERT_TRUE(loose.Init(&p8, false, 0, 0, false, 0, nullptr, nullptr, 0, 4));
  // 2048 / 150 = 13: curve values 0..12 become 0, 13 stays.
  for (int i = 0; i < 256; ++i) {
    int linear = i * 2047 / 255;
    EXPECT_EQ(loose.GetCurve()[i], linear < 13 ? 0 : linear) << i;
  }
  TestPlacement p12(12);
  CopyRip bad;
  EXPECT_FALSE(bad.Init(&p12, false, 0, 0, false, 0, nullptr, nullptr, 0, 4));
  EXPECT_FALSE(bad.Init(nullptr, false, 0, 0, false, 0, nullptr, nullptr, 0, 4));
}

TEST(RipCore, LinearizationTableBySeparationAndResampled) {
  TestPlacement p(16, 6);
  static uint16_t tables[3][256];
  for (int t = 0; t < 3; ++t)
    for (int i = 0; i < 256; ++i) tables[t][i] = uint16_t(t == 2 ? 65535 - i * 257 : i * 128);
  ASSERT_TRUE(p.SetLinearization(3, tables, nullptr));
  // Separation 5 with three tables takes table 2; extra channels take none.
  CopyRip rip;
  ASSERT_TRUE(rip.Init(&p, false, 5, 5, false, 0, nullptr, nullptr, 0, 1));
  EXPECT_EQ(rip.GetCurve()[0], 2047);
  EXPECT_EQ(rip.GetCurve()[4095], 0);
  // Index 2048 lies between table entries 127 and 128: interpolated, rounded.
  double pos = 2048 * 255.0 / 4095;
  double lin = 65535 - pos * 257;
  EXPECT_EQ(rip.GetCurve()[2048], uint16_t(uint32_t(std::lround(lin)) * 2047 / 65535));
  CopyRip extra;
  ASSERT_TRUE(extra.Init(&p, false, 5, 5, true, 0, nullptr, nullptr, 0, 1));
  EXPECT_EQ(extra.GetCurve()[4095], 2047);
  CopyRip first;
  ASSERT_TRUE(first.Init(&p, false, 1, 1, false, 0, nullptr, nullptr, 0, 1));
  EXPECT_EQ(first.GetCurve()[4095], 255 * 128 * 2047 / 65535);
}

TEST(RipCore, LevelCurvesAndInkRestrictionCurves) {
  MLPROCCOLORINFO color{};
  color.level_curves = 1;
  const uint8_t pts[][2] = {{0, 0}, {128, 255}, {0, 0}};
  std::memcpy(color.curve[0], pts, sizeof pts);
  MLProcCurvesRef curves = MLProcCurvesBuild(color, 8, 8);
  ASSERT_TRUE(curves);
  EXPECT_EQ(curves->count, 1);
  EXPECT_EQ(curves->size, 256u);
  const uint16_t* c = curves->curves[0];
  EXPECT_EQ(c[0], 0);
  EXPECT_EQ(c[64], 127);
  EXPECT_EQ(c[128], 255);
  EXPECT_EQ(c[255], 0) << "after the last point the curve falls to 0";
  EXPECT_EQ(c[192], 255 * 63 / 127);
  color.level_curves = 0;
  EXPECT_FALSE(MLProcCurvesBuild(color, 8, 8));

  TestPlacement p;
  CopyRip rip;
  ASSERT_TRUE(rip.Init(&p, false, 0, 0, false, 1, curves.get(), nullptr, 0, 1));
  EXPECT_EQ(rip.GetCurve()[64], 127 * 2047 / 255);
  EXPECT_EQ(rip.GetCurve()[255], 0);

  // An ink-restriction link in the colour record wins over everything else.
  auto ch = std::make_shared<kelv::inkrestrict::ChannelSeps>(0);
  auto half = std::make_shared<kelv::inkrestrict::SepCurve>("Cyan");
  half->addPoint(0, 0);
  half->addPoint(100, 50);
  ch->addSep(half);
  uint32_t link = kelv::inkrestrict::registerChannelLink(ch);
  auto rec = std::make_unique<MLPROCINFO>();
  std::memset(rec.get(), 0, sizeof(MLPROCINFO));
  rec->output_bits = 1;
  rec->color[0].inkrestrict_link = link;
  ASSERT_TRUE(p.SetLinearization(0, nullptr, rec.get()));
  CopyRip restricted;
  ASSERT_TRUE(restricted.Init(&p, false, 0, 0, false, 0, nullptr, nullptr, 0, 1));
  EXPECT_EQ(restricted.GetCurve()[255], 1024);  // 2047 x 50 / 100 + 0.5
  EXPECT_EQ(restricted.GetCurve()[128], uint16_t(2047 * (128 * 100 / 255) / 2.0 / 100 + 0.5));
  kelv::inkrestrict::releaseChannelLink(link);
}

TEST(RipCore, BufferTakesOnlyFreeLines) {
  TestPlacement p;
  std::vector<uint8_t> input(16 * 10);
  for (int i = 0; i < 10; ++i) input[i * 16] = uint8_t(i + 1);
  for (bool threaded : {false, true}) {
    CopyRip rip;
    ASSERT_TRUE(rip.Init(&p, threaded, 0, 0, false, 0, nullptr, nullptr, 0, 3));
    EXPECT_EQ(rip.IsThreaded(), threaded);
    EXPECT_EQ(rip.GetBytesPerLine(), 2u);
    EXPECT_EQ(rip.StartProcessLine(input.data(), 5), 3u);
    EXPECT_EQ(rip.CheckProcAvail(), threaded ? HTRIP_SIGNALED : HTRIP_NOTHREAD);
    EXPECT_TRUE(rip.IsBufFull());
    EXPECT_EQ(rip.StartProcessLine(input.data(), 5), 0u);
    EXPECT_EQ(rip.GetOutBuf()[2 * 2], 3);
    rip.SetOutLine(1);
    EXPECT_EQ(rip.GetLinesLeft(), 2u);
    EXPECT_EQ(rip.StartProcessLine(input.data() + 16 * 5, 5), 2u);
    rip.CheckProcAvail();
    EXPECT_EQ(rip.GetOutBuf()[1 * 2], 6);
    EXPECT_EQ(rip.GetOutBuf()[2 * 2], 7);
    EXPECT_EQ(rip.lines, 5);
  }
  // Caller's buffer with its own stride.
  std::vector<uint8_t> buf(3 * 8, 0xEE);
  CopyRip rip;
  ASSERT_TRUE(rip.Init(&p, false, 0, 0, false, 0, nullptr, buf.data(), 8, 3));
  EXPECT_EQ(rip.StartProcessLine(input.data(), 2), 2u);
  EXPECT_EQ(buf[8], 2);
  EXPECT_EQ(buf[16], 0xEE);
}

TEST(RipCore, QuitEndsTheHandOver) {
  TestPlacement p;
  CopyRip rip;
  ASSERT_TRUE(rip.Init(&p, true, 0, 0, false, 0, nullptr, nullptr, 0, 3));
  std::vector<uint8_t> input(16 * 3);
  rip.SetQuit(true);
  rip.SetProcAvail(false);
  EXPECT_EQ(rip.StartProcessLine(input.data(), 1), 0u);
  EXPECT_EQ(rip.CheckProcAvail(), HTRIP_QUIT);
}

}  // namespace
