// SPDX-License-Identifier: MIT
// Threshold screening engines against a plain loop written from the rules.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "klv/halftone_screen.h"

namespace {

struct Case {
  int in_bits;
  int th_bits;
  int width;
  int seps;
  int screen_w, screen_h, shift;
  bool mirror;
  bool invert_out;
  bool invert_in;
  bool threaded;
};

template <class T>
struct Screens {
  std::vector<std::vector<T>> data;
  std::vector<std::vector<T*>> rows;
  std::vector<T**> row_ptrs;
  std::vector<uint16_t> heights, shifts;
  std::vector<uint32_t> widths, levels;
};

// The dots of one separation by the rules: tone = curve[sample], a dot where
// tone > threshold, thresholds walked from the row's phase, rows advancing per
// line with the brick shift at each repeat.
template <class T>
std::vector<uint8_t> reference(const Case& c, const std::vector<uint8_t>& input, int lines, int sep,
                               const std::vector<std::vector<T>>& table, int tw, int th,
                               uint32_t range) {
  const int bytes = c.in_bits / 8;
  const uint32_t size = c.in_bits == 8 ? 256 : 4096;
  const uint32_t mask = c.invert_in ? size - 1 : 0;
  const int out_bpl = (c.width + 7) / 8;
  std::vector<uint8_t> out(size_t(out_bpl) * lines, 0);
  int row = 0, phase = 0;
  for (int y = 0; y < lines; ++y) {
    uint8_t* o = out.data() + size_t(y) * out_bpl;
    for (int k = 0; k < c.width; ++k) {
      int px = c.mirror ? c.width - 1 - k : k;
      size_t at = (size_t(y) * c.width * c.seps + size_t(px) * c.seps + sep) * bytes;
      uint32_t sample = bytes == 1 ? input[at] : uint32_t(input[at] | input[at + 1] << 8);
      uint32_t idx = c.in_bits == 8 ? sample : sample >> 4;
      uint32_t tone = (idx ^ mask) * (range - 1) / (size - 1);
      uint32_t thr = table[row][(phase + k) % tw];
      if (tone > thr) o[k / 8] |= uint8_t(0x80 >> (k % 8));
    }
    if (c.invert_out)
      for (int i = 0; i < out_bpl; ++i) o[i] = uint8_t(~o[i]);
    if (++row == th) {
      row = 0;
      phase = (phase + c.shift) % tw;
    }
  }
  return out;
}

template <class T>
void run_case(const Case& c, unsigned seed, bool plain) {
  SCOPED_TRACE(testing::Message() << "in " << c.in_bits << " th " << c.th_bits << " width "
                                  << c.width << " seps " << c.seps << " screen " << c.screen_w
                                  << "x" << c.screen_h << "+" << c.shift << " mirror " << c.mirror
                                  << " invert " << c.invert_out << "/" << c.invert_in
                                  << " threaded " << c.threaded << " plain " << plain << " seed "
                                  << seed);
  std::mt19937 rng(seed);
  const int kScreens = 4;
  const uint32_t levels = sizeof(T) == 1 ? 256 : 1000 + rng() % 3000;
  Screens<T> s;
  s.data.resize(kScreens);
  s.rows.resize(kScreens);
  for (int i = 0; i < kScreens; ++i) {
    s.data[i].resize(size_t(c.screen_w) * c.screen_h);
    for (T& v : s.data[i]) v = T(rng() % (sizeof(T) == 1 ? 256 : levels));
    for (int r = 0; r < c.screen_h; ++r) s.rows[i].push_back(s.data[i].data() + r * c.screen_w);
    s.row_ptrs.push_back(s.rows[i].data());
    s.heights.push_back(uint16_t(c.screen_h));
    s.shifts.push_back(uint16_t(c.shift));
    s.widths.push_back(uint32_t(c.screen_w));
    s.levels.push_back(levels);
  }
  const int lines = 2 * c.screen_h + 5;
  const int bytes = c.in_bits / 8;
  std::vector<uint8_t> input(size_t(c.width) * c.seps * bytes * lines);
  for (auto& b : input) b = uint8_t(rng());

  image_info in{}, out{};
  in.width = out.width = c.width;
  in.height = out.height = lines;
  in.samples = out.samples = uint32_t(c.seps);
  in.bits_per_sample = uint32_t(c.in_bits);
  in.bytes_per_line = uint32_t(c.width * c.seps * bytes);
  out.bits_per_sample = 1;
  out.planar = KLV_PLANAR_LINES;

  CHTPlaceScreen<T> place;
  place.SetScreens(kScreens, s.row_ptrs.data(), s.heights.data(), s.shifts.data(), s.widths.data(),
                   s.levels.data());
  ASSERT_TRUE(place.PreInitProcess(&in, &out));
  place.mirror = c.mirror;
  place.invert_output = c.invert_out;
  place.invert_mask = c.invert_in ? 0xFFFF : 0;
  if (c.threaded) std::memset(place.GetThreadFlagArray(), 1, CHTKlvPlacement::kThreadFlags);

  place.SetSeed(seed * 7 + 1);
  std::vector<std::unique_ptr<CHTRip>> rips;
  for (int sep = 0; sep < c.seps; ++sep) {
    rips.emplace_back(place.CreateRip(sep, sep, false, 0, nullptr, nullptr, 0, lines));
    ASSERT_TRUE(rips.back());
    ASSERT_EQ(rips.back()->IsThreaded(), c.threaded);
    dynamic_cast<CHTRipScreen<T>*>(rips.back().get())->SetPlainLoop(plain);
  }
  // Separations beyond the screens take a phase drawn from their own seed.
  for (int sep = 0; sep < c.seps; ++sep) {
    int base = sep % kScreens;
    uint32_t cp = 0, rp = 0;
    if (sep >= kScreens)
      HTSeedPhase(place.SepSeed(sep), uint32_t(c.screen_w), uint32_t(c.screen_h), cp, rp);
    std::vector<std::vector<T>> table(c.screen_h, std::vector<T>(c.screen_w));
    for (int r = 0; r < c.screen_h; ++r)
      for (int k = 0; k < c.screen_w; ++k)
        table[r][k] = s.rows[base][(r + rp) % c.screen_h][(k + cp) % c.screen_w];

    // Feed the lines in uneven groups, as a filter would.
    CHTRip* rip = rips[sep].get();
    int done = 0, group = 1;
    while (done < lines) {
      int n = std::min(group++, lines - done);
      uint8_t* at = input.data() + size_t(done) * in.bytes_per_line + size_t(sep) * bytes;
      ASSERT_EQ(rip->StartProcessLine(at, n), unsigned(n));
      rip->CheckProcAvail();
      done += n;
    }
    ASSERT_TRUE(rip->IsBufFull());
    EXPECT_EQ(rip->StartProcessLine(input.data(), 1), 0u) << "a full buffer takes no lines";
    std::vector<uint8_t> want = reference(c, input, lines, sep, table, c.screen_w, c.screen_h,
                                          sizeof(T) == 1 ? 256 : levels);
    const size_t bpl = rip->GetBytesPerLine();
    ASSERT_EQ(bpl, size_t(c.width + 7) / 8);
    for (int y = 0; y < lines; ++y) {
      const uint8_t* got = rip->GetOutBuf() + y * rip->GetBytesBetweenLines();
      ASSERT_EQ(0, std::memcmp(got, want.data() + y * bpl, bpl))
          << "separation " << sep << " line " << y;
    }
  }
}

class ScreenEngineTest : public testing::TestWithParam<Case> {};

TEST_P(ScreenEngineTest, AgreesWithPlainLoop) {
  const Case& c = GetParam();
  for (unsigned seed = 1; seed <= 3; ++seed) {
    for (bool plain : {false, true}) {
      if (c.th_bits == 8)
        run_case<unsigned char>(c, seed, plain);
      else
        run_case<unsigned short>(c, seed, plain);
      if (HasFatalFailure()) return;
    }
  }
}

// in, th, width, seps, screen w x h + shift, mirror, invert-out, invert-in, threaded
INSTANTIATE_TEST_SUITE_P(Cases, ScreenEngineTest,
                         testing::Values(Case{8, 8, 333, 4, 16, 16, 0, false, false, false, false},
                                         Case{8, 8, 1, 1, 1, 1, 0, false, false, false, false},
                                         Case{8, 16, 100, 1, 9, 4, 2, false, false, false, false},
                                         Case{8, 16, 32, 4, 8, 8, 0, false, false, false, false},
                                         Case{8, 16, 100, 1, 9, 4, 2, false, false, true, false},
                                         Case{8, 8, 48, 4, 8, 8, 1, false, true, true, false},
                                         Case{8, 8, 7, 1, 5, 3, 2, true, true, false, false},
                                         Case{8, 8, 1001, 5, 78, 3, 15, false, false, true, false},
                                         Case{8, 16, 1001, 5, 78, 3, 63, true, false, false, false},
                                         Case{8, 16, 13, 6, 7, 5, 3, false, true, true, false},
                                         Case{16, 8, 257, 5, 15, 15, 0, true, true, false, false},
                                         Case{16, 16, 500, 6, 75, 3, 21, false, false, true, false},
                                         Case{16, 16, 99, 1, 9, 2, 4, true, true, true, false},
                                         Case{8, 8, 1000, 6, 32, 17, 5, true, false, false, true},
                                         Case{16, 16, 77, 5, 20, 20, 7, false, true, true, true}));

}  // namespace
