// SPDX-License-Identifier: MIT
// Variable-coefficient error diffusion: errors spread to the pixel ahead and
// to two pixels of the next line with weights that depend on the tone, from
// Ostromoukhov's published 256-level coefficient table. The errors are 16-bit
// integers and the weights 12-bit fixed point (the float table rounded), so
// that a line runs at the speed of a plain diffusion loop.
#include <algorithm>
#include <cmath>
#include <new>

#include "halftone/diffusion_kernel.h"
#include "klv/halftone_diffusion.h"
#include "klv/log.h"

using namespace klv::halftone;

namespace {

// The first 128 levels of the published 256-level table (the table is
// symmetric: level k equals level 255 - k), as integer weights for the pixel
// ahead, the pixel behind on the next line and the pixel below, and their
// sum. Reproduced from the coefficient table published with the method
// ("A Simple and Efficient Error-Diffusion Algorithm", 2001).
constexpr int kLevels[128][4] = {
    {13, 0, 5, 18},       {13, 0, 5, 18},       {21, 0, 10, 31},      {7, 0, 4, 11},
    {8, 0, 5, 13},        {47, 3, 28, 78},      {23, 3, 13, 39},      {15, 3, 8, 26},
    {22, 6, 11, 39},      {43, 15, 20, 78},     {7, 3, 3, 13},        {501, 224, 211, 936},
    {249, 116, 103, 468}, {165, 80, 67, 312},   {123, 62, 49, 234},   {489, 256, 191, 936},
    {81, 44, 31, 156},    {483, 272, 181, 936}, {60, 35, 22, 117},    {53, 32, 19, 104},
    {237, 148, 83, 468},  {471, 304, 161, 936}, {3, 2, 1, 6},         {459, 304, 161, 924},
    {38, 25, 14, 77},     {453, 296, 175, 924}, {225, 146, 91, 462},  {149, 96, 63, 308},
    {111, 71, 49, 231},   {63, 40, 29, 132},    {73, 46, 35, 154},    {435, 272, 217, 924},
    {108, 67, 56, 231},   {13, 8, 7, 28},       {213, 130, 119, 462}, {423, 256, 245, 924},
    {5, 3, 3, 11},        {281, 173, 162, 616}, {141, 89, 78, 308},   {283, 183, 150, 616},
    {71, 47, 36, 154},    {285, 193, 138, 616}, {13, 9, 6, 28},       {41, 29, 18, 88},
    {36, 26, 15, 77},     {289, 213, 114, 616}, {145, 109, 54, 308},  {291, 223, 102, 616},
    {73, 57, 24, 154},    {293, 233, 90, 616},  {21, 17, 6, 44},      {295, 243, 78, 616},
    {37, 31, 9, 77},      {27, 23, 6, 56},      {149, 129, 30, 308},  {299, 263, 54, 616},
    {75, 67, 12, 154},    {43, 39, 6, 88},      {151, 139, 18, 308},  {303, 283, 30, 616},
    {38, 36, 3, 77},      {305, 293, 18, 616},  {153, 149, 6, 308},   {307, 303, 6, 616},
    {1, 1, 0, 2},         {101, 105, 2, 208},   {49, 53, 2, 104},     {95, 107, 6, 208},
    {23, 27, 2, 52},      {89, 109, 10, 208},   {43, 55, 6, 104},     {83, 111, 14, 208},
    {5, 7, 1, 13},        {172, 181, 37, 390},  {97, 76, 22, 195},    {72, 41, 17, 130},
    {119, 47, 29, 195},   {4, 1, 1, 6},         {4, 1, 1, 6},         {4, 1, 1, 6},
    {4, 1, 1, 6},         {4, 1, 1, 6},         {4, 1, 1, 6},         {4, 1, 1, 6},
    {4, 1, 1, 6},         {4, 1, 1, 6},         {65, 18, 17, 100},    {95, 29, 26, 150},
    {185, 62, 53, 300},   {30, 11, 9, 50},      {35, 14, 11, 60},     {85, 37, 28, 150},
    {55, 26, 19, 100},    {80, 41, 29, 150},    {155, 86, 59, 300},   {5, 3, 2, 10},
    {5, 3, 2, 10},        {5, 3, 2, 10},        {5, 3, 2, 10},        {5, 3, 2, 10},
    {5, 3, 2, 10},        {5, 3, 2, 10},        {5, 3, 2, 10},        {5, 3, 2, 10},
    {5, 3, 2, 10},        {5, 3, 2, 10},        {5, 3, 2, 10},        {5, 3, 2, 10},
    {305, 176, 119, 600}, {155, 86, 59, 300},   {105, 56, 39, 200},   {80, 41, 29, 150},
    {65, 32, 23, 120},    {55, 26, 19, 100},    {335, 152, 113, 600}, {85, 37, 28, 150},
    {115, 48, 37, 200},   {35, 14, 11, 60},     {355, 136, 109, 600}, {30, 11, 9, 50},
    {365, 128, 107, 600}, {185, 62, 53, 300},   {25, 8, 7, 40},       {95, 29, 26, 150},
    {385, 112, 103, 600}, {65, 18, 17, 100},    {395, 104, 101, 600}, {4, 1, 1, 6},
};

struct Table {
  HTVarCoefRow rows[2048];
  Table() {
    auto level = [](int k) {
      const int* l = kLevels[k < 128 ? k : 255 - k];
      return HTVarCoefRow{float(l[0]) / float(l[3]), float(l[1]) / float(l[3]),
                          float(l[2]) / float(l[3])};
    };
    // Row 8k holds level k; the seven rows between interpolate linearly.
    for (int i = 0; i < 1024; ++i) {
      const int k = i / 8, j = i % 8;
      const HTVarCoefRow lo = level(k), hi = level(k + 1);
      const float f = float(j) / 8.0f;
      rows[i] = {lo.ahead + (hi.ahead - lo.ahead) * f,
                 lo.behind_below + (hi.behind_below - lo.behind_below) * f,
                 lo.below + (hi.below - lo.below) * f};
    }
    // The middle rows hold the middle level as it stands.
    for (int i = 1016; i < 1024; ++i) rows[i] = level(127);
    for (int i = 1024; i < 2048; ++i) rows[i] = rows[2047 - i];
  }
};

// The weights in 12-bit fixed point: the float rows times 4096, rounded.
struct FixedTable {
  HTVarCoefFixed rows[2048];
  explicit FixedTable(const HTVarCoefRow* f) {
    for (int i = 0; i < 2048; ++i)
      rows[i] = {int16_t(std::lround(f[i].ahead * 4096.0f)),
                 int16_t(std::lround(f[i].behind_below * 4096.0f))};
  }
};

// One line; Dir is +1 (left to right) or -1. `a` holds what the line before
// passed down to this line; the error passed ahead is carried in a register
// rather than stored and read back, so the chain from one pixel to the next
// is an add, a multiply and a shift, with the dot as a mask. The noise is
// scaled down within 128 of either end of the tones.
template <int Dir>
void varcoef_row(const uint16_t* tones, int n, const int16_t* a, int16_t* b, const int16_t* noise,
                 const HTVarCoefFixed* table, uint8_t* dots) {
  int carry = 0;  // the error passed to the pixel ahead
  int below = 0;  // the share the pixel before left for the pixel below it
  int x = Dir > 0 ? 0 : n - 1;
  for (int k = 0; k < n; ++k, x += Dir) {
    const int t = tones[x];
    const int scale = std::min(128, std::min(t, 2047 - t));
    const int base = a[x + 1] + t + noise[k] * scale / 128;
    const HTVarCoefFixed w = table[t];
    const int u = base + carry;
    const int on = -int(u > 1027);
    const int v = u - (2047 & on);
    const int c0 = (u * w.ahead - ((2047 * w.ahead) & on)) >> 12;
    const int c1 = (v * w.behind_below) >> 12;
    carry = c0;
    // Each entry of the next line takes the shares of the two pixels above
    // it (the one before's share below, this one's behind below) in one
    // store, with no read back.
    b[x + 1 - Dir] = int16_t(below + c1);
    below = v - c0 - c1;
    dots[x] = uint8_t(on & -int(t != 0));
  }
  if (n > 0) b[x - Dir + 1] = int16_t(below);
}

}  // namespace

const HTVarCoefRow* HTVarCoefTable() {
  static const Table table;
  return table.rows;
}

const HTVarCoefFixed* HTVarCoefFixedTable() {
  static const FixedTable table(HTVarCoefTable());
  return table.rows;
}

bool CHTRipErrDifVarCoef::Prepare(CHTPlacement*) {
  try {
    err_a_.assign(size_t(in_width_) + 2, 0);
    err_b_.assign(size_t(in_width_) + 2, 0);
  } catch (const std::bad_alloc&) {
    KLV_LOG(KLV_LOG_ERROR, "diffusion engine: no memory for error lines");
    return false;
  }
  if (range_ != 2048) return false;
  height_ = uint32_t(in_->height);
  lines_done_ = 0;
  HTVarCoefFixedTable();
  return true;
}

void CHTRipErrDifVarCoef::DiffuseLine(const int16_t* noise) {
  const HTVarCoefFixed* table = HTVarCoefFixedTable();
  if (right_to_left_)
    varcoef_row<-1>(tones_.data(), int(in_width_), err_a_.data(), err_b_.data(), noise, table,
                    dots_.data());
  else
    varcoef_row<1>(tones_.data(), int(in_width_), err_a_.data(), err_b_.data(), noise, table,
                   dots_.data());
}

void CHTRipErrDifVarCoef::EndLine() {
  err_a_.swap(err_b_);
  // The new next line starts empty; after the last image line nothing follows.
  if (++lines_done_ < height_ || height_ == 0) std::fill(err_b_.begin(), err_b_.end(), int16_t(0));
}
