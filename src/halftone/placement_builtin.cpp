// SPDX-License-Identifier: MIT
// The built-in 16-bit screens of the screened methods and the void-and-cluster
// ranking they are made with.
#include "halftone/placement_builtin.h"

#include <cmath>
#include <mutex>
#include <numeric>

#include "halftone/screen_file.h"
#include "klv/htplace.h"

namespace klv::halftone {
namespace {

// Energy between two positions of the repeating tile, by their difference
// reduced into the tile (dy 0..h-1, dx 0..w-1): a Gaussian summed over the
// nearby repeats.
std::vector<double> periodic_kernel(uint32_t w, uint32_t h, uint32_t shift) {
  const double two_s2 = 2.0 * 1.5 * 1.5;
  std::vector<double> k(size_t(w) * h);
  const int reach_y = int(12 / h) + 2, reach_x = int(12 / w) + 2;
  for (uint32_t dy = 0; dy < h; ++dy)
    for (uint32_t dx = 0; dx < w; ++dx) {
      double sum = 0;
      for (int ky = -reach_y; ky <= reach_y; ++ky)
        for (int kx = -reach_x - 1; kx <= reach_x + 1; ++kx) {
          const double x = double(dx) + kx * double(w) + ky * double(shift);
          const double y = double(dy) + ky * double(h);
          sum += std::exp(-(x * x + y * y) / two_s2);
        }
      k[size_t(dy) * w + dx] = sum;
    }
  return k;
}

class Field {
 public:
  Field(uint32_t w, uint32_t h, uint32_t shift)
      : w_(w),
        h_(h),
        shift_(shift),
        k_(periodic_kernel(w, h, shift)),
        e_(size_t(w) * h, 0.0),
        on_(size_t(w) * h, 0) {}

  void Toggle(uint32_t i) {
    const double sign = on_[i] ? -1.0 : 1.0;
    on_[i] ^= 1;
    const uint32_t px = i % w_, py = i / w_;
    for (uint32_t y = 0; y < h_; ++y) {
      int64_t ey = int64_t(y) - py, ex0 = -int64_t(px);
      if (ey < 0) {
        ey += h_;
        ex0 += shift_;  // the repeat one tile up is shifted left by `shift`
      }
      const double* krow = k_.data() + size_t(ey) * w_;
      double* erow = e_.data() + size_t(y) * w_;
      int64_t ex = ((ex0 % int64_t(w_)) + w_) % w_;
      for (uint32_t x = 0; x < w_; ++x) {
        erow[x] += sign * krow[ex];
        if (++ex == int64_t(w_)) ex = 0;
      }
    }
  }
  // The densest dot, or the emptiest gap.
  uint32_t Extreme(bool dots) const {
    uint32_t best = 0;
    bool found = false;
    for (uint32_t i = 0; i < e_.size(); ++i) {
      if (bool(on_[i]) != dots) continue;
      if (!found || (dots ? e_[i] > e_[best] : e_[i] < e_[best])) best = i, found = true;
    }
    return best;
  }
  bool On(uint32_t i) const { return on_[i] != 0; }

 private:
  uint32_t w_, h_, shift_;
  std::vector<double> k_, e_;
  std::vector<uint8_t> on_;
};

}  // namespace

std::vector<uint32_t> VoidAndClusterRanks(uint32_t w, uint32_t h, uint32_t shift, uint32_t seed) {
  const uint32_t n = w * h;
  std::vector<uint32_t> rank(n, 0);
  if (n == 0) return rank;
  shift %= w;
  Field f(w, h, shift);
  // A seeded sprinkle of a tenth of the positions, relaxed by moving the
  // densest dot into the emptiest gap until that changes nothing.
  uint32_t state = seed * 2654435761u + 12345u;
  const uint32_t start = std::max(1u, n / 10);
  for (uint32_t placed = 0; placed < start;) {
    state = state * 1664525u + 1013904223u;
    const uint32_t i = (state >> 8) % n;
    if (!f.On(i)) f.Toggle(i), ++placed;
  }
  for (uint32_t iter = 0; iter < 4 * n; ++iter) {
    const uint32_t dense = f.Extreme(true);
    f.Toggle(dense);
    const uint32_t gap = f.Extreme(false);
    if (gap == dense) break;
    f.Toggle(gap);
  }
  // Ranks below the start: remove the densest dot, from the top down.
  Field down = f;
  for (uint32_t r = start; r-- > 0;) {
    const uint32_t i = down.Extreme(true);
    rank[i] = r;
    down.Toggle(i);
  }
  // Ranks above: fill the emptiest gap.
  for (uint32_t r = start; r < n; ++r) {
    const uint32_t i = f.Extreme(false);
    rank[i] = r;
    f.Toggle(i);
  }
  return rank;
}

std::vector<uint16_t> RanksToThresholds(const std::vector<uint32_t>& ranks, uint32_t levels) {
  std::vector<uint16_t> t(ranks.size());
  const uint64_t n = ranks.size();
  for (size_t i = 0; i < ranks.size(); ++i)
    t[i] = uint16_t(uint64_t(ranks[i]) * (levels - 1) / (n ? n : 1));
  return t;
}

}  // namespace klv::halftone

namespace {
struct BuiltinScreen {
  int32_t width, height, shift;
  std::vector<uint16_t> values;
};
const BuiltinScreen* builtin_screens() {
  static BuiltinScreen screens[4] = {
      {78, 3, 15, {}}, {78, 3, 63, {}}, {15, 15, 0, {}}, {75, 3, 21, {}}};
  static std::once_flag once;
  std::call_once(once, [] {
    for (uint32_t i = 0; i < 4; ++i) {
      BuiltinScreen& s = screens[i];
      s.values = klv::halftone::RanksToThresholds(
          klv::halftone::VoidAndClusterRanks(uint32_t(s.width), uint32_t(s.height),
                                             uint32_t(s.shift), 17 + i),
          255);
    }
  });
  return screens;
}
}  // namespace

extern "C" const uint16_t* HTBuiltinScreen(int32_t i, int32_t* width, int32_t* height,
                                           int32_t* shift) {
  if (i < 0 || i > 3) return nullptr;
  try {
    const BuiltinScreen& s = builtin_screens()[i];
    if (width) *width = s.width;
    if (height) *height = s.height;
    if (shift) *shift = s.shift;
    return s.values.data();
  } catch (...) {
    return nullptr;
  }
}

namespace klv::halftone {

bool BuiltinScreenFile(int i, std::vector<uint8_t>& out) {
  int32_t w = 0, h = 0, shift = 0;
  const uint16_t* v = HTBuiltinScreen(i, &w, &h, &shift);
  if (!v) return false;
  // The engines move the row start right by `shift` at every repeat down; a
  // file tile has no offset, so it holds repeats until the offset is a whole
  // number of widths.
  const uint32_t uw = uint32_t(w), uh = uint32_t(h);
  const uint32_t repeats = shift ? uw / std::gcd(uw, uint32_t(shift)) : 1;
  std::vector<uint16_t> plane(size_t(uw) * uh * repeats);
  for (uint32_t q = 0; q < repeats; ++q)
    for (uint32_t r = 0; r < uh; ++r)
      for (uint32_t c = 0; c < uw; ++c)
        plane[(size_t(q) * uh + r) * uw + c] = v[size_t(r) * uw + (c + q * uint32_t(shift)) % uw];
  return WriteScreenFile(uw, uh * repeats, 254, {plane}, out);
}

bool VarDotScreenFile(std::vector<uint8_t>& out) {
  std::vector<std::vector<uint16_t>> planes;
  for (uint32_t p = 0; p < kVarDotPlanes; ++p) {
    const std::vector<uint32_t> ranks = VoidAndClusterRanks(kVarDotSize, kVarDotSize, 0, 101 + p);
    std::vector<uint16_t> plane(ranks.size());
    const uint64_t n = ranks.size();
    for (size_t k = 0; k < ranks.size(); ++k) plane[k] = uint16_t(uint64_t(ranks[k]) * 255 / n);
    planes.push_back(std::move(plane));
  }
  return WriteScreenFile(kVarDotSize, kVarDotSize, 255, planes, out);
}

}  // namespace klv::halftone
