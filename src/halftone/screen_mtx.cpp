// SPDX-License-Identifier: MIT
// Screen generators and the placement of generated screens.
#include "klv/halftone_screenmtx.h"

#include <algorithm>
#include <cstring>
#include <cmath>
#include <cstdlib>
#include <numeric>

#include "klv/halftone_seed.h"
#include "klv/log.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// The additive generator of the C library's rand() (31 words, taps 3 and
// 31, seeded by the minimal standard generator and run 310 steps in), kept
// per screen so that generating a screen neither reads nor disturbs the
// process-wide generator: a screen made for the same seed keeps the values
// it always had.
class ScreenRandom {
 public:
  explicit ScreenRandom(uint32_t seed) {
    int32_t word = int32_t(seed ? seed : 1);
    r_[0] = word;
    for (int i = 1; i < 31; ++i) {
      const int32_t hi = word / 127773, lo = word % 127773;
      word = 16807 * lo - 2836 * hi;
      if (word < 0) word += 2147483647;
      r_[i] = word;
    }
    for (int i = 0; i < 310; ++i) Next();
  }
  // 0 .. 2^31 - 1, as rand() gives.
  int Next() {
    r_[f_] = int32_t(uint32_t(r_[f_]) + uint32_t(r_[b_]));
    const int v = int(uint32_t(r_[f_]) >> 1);
    f_ = f_ == 30 ? 0 : f_ + 1;
    b_ = b_ == 30 ? 0 : b_ + 1;
    return v;
  }

 private:
  int32_t r_[31];
  int f_ = 3, b_ = 0;
};

// A seed from a screen's own parameters, so that the same screen comes out
// the same every time it is generated.
uint32_t screen_seed(double angle, double cell_size, int shape, int xs, int ys) {
  uint64_t a, c;
  std::memcpy(&a, &angle, sizeof a);
  std::memcpy(&c, &cell_size, sizeof c);
  uint32_t s = HTSeedMix(uint32_t(a) ^ uint32_t(a >> 32), uint32_t(c) ^ uint32_t(c >> 32));
  s = HTSeedMix(s, uint32_t(shape));
  return HTSeedMix(s, uint32_t(xs) << 16 ^ uint32_t(ys));
}

int64_t round_half_up(double v) {
  return int64_t(std::floor(v + 0.5));
}

// m * a + n * b = gcd(a, b) for a, b >= 0.
int64_t ext_gcd(int64_t a, int64_t b, int64_t& m, int64_t& n) {
  if (b == 0) {
    m = 1;
    n = 0;
    return a;
  }
  int64_t m1, n1;
  int64_t g = ext_gcd(b, a % b, m1, n1);
  m = n1;
  n = m1 - (a / b) * n1;
  return g;
}

double round_dot(double x, double y) {
  double ax = std::fabs(x), ay = std::fabs(y);
  if (ax + ay <= 1) return 1 - (x * x + y * y);
  return (ax - 1) * (ax - 1) + (ay - 1) * (ay - 1) - 1;
}

}  // namespace

CScreenMtx::~CScreenMtx() = default;

bool CScreenMtx::Setup(double angle, double cell_size, int shape, int xstretch, int ystretch) {
  double a = std::fmod(angle, 360.0);
  if (a < 0) a += 360.0;
  // Quadrant 0 is (-45, 45]; a square lattice turned by 90 degrees is the same
  // lattice, so only the stretch factors follow the quadrant.
  int q = int(std::ceil((a - 45.0) / 90.0)) & 3;
  folded_ = a - 90.0 * q;
  if (folded_ > 180) folded_ -= 360;
  if (q & 1) std::swap(xstretch, ystretch);
  xsign_ = (q == 0 || q == 3) ? 1 : -1;
  ysign_ = (q == 0 || q == 1) ? 1 : -1;
  shape_ = shape;
  xstretch_ = std::max(1, xstretch);
  ystretch_ = std::max(1, ystretch);
  double size = cell_size;
  if (shape == 1) size /= (std::sqrt(3.0) + 4) / 4;
  if (shape == 2) size /= 4 / (std::sqrt(3.0) + 4);
  const double rad = folded_ * kPi / 180.0;
  ax_ = round_half_up(size * std::cos(rad));
  ay_ = round_half_up(size * std::sin(rad));
  plain_ax_ = round_half_up(cell_size * std::cos(rad));
  plain_ay_ = round_half_up(cell_size * std::sin(rad));
  if (ax_ == 0 && ay_ == 0) {
    KLV_LOG(KLV_LOG_ERROR, "screen generator: cell size %g is below one pixel", cell_size);
    return false;
  }
  const int64_t d = ax_ * ax_ + ay_ * ay_;
  int64_t m, n;
  const int64_t g = ext_gcd(std::llabs(ay_), std::llabs(ax_), m, n);
  if (ay_ < 0) m = -m;
  if (ax_ < 0) n = -n;
  // The lattice holds (d / g, 0) and (x0, g): a brick tile of d / g x g.
  const int64_t w = d / g, h = g;
  const int64_t x0 = m * ax_ - n * ay_;
  const int64_t sh = ((-x0) % w + w) % w;
  if (w * xstretch_ > 65535 || h * ystretch_ > 65535 || w * h * xstretch_ * ystretch_ > (1 << 24)) {
    KLV_LOG(KLV_LOG_ERROR, "screen generator: a %lldx%lld cell is too large",
            static_cast<long long>(w), static_cast<long long>(h));
    return false;
  }
  width_ = uint32_t(w * xstretch_);
  height_ = uint32_t(h * ystretch_);
  shift_ = uint16_t(sh * xstretch_ % width_);
  return true;
}

double CScreenMtx::Spot(double x, double y) const {
  return round_dot(x, y);
}

double CScreenMtx::TieBreak(double, double, uint32_t index) const {
  return double((uint64_t(index) * 2654435761u) % 1000003u);
}

bool CScreenMtx::Build() {
  if (!width_ || !height_) return false;
  const size_t n = size_t(width_) * height_;
  const double d = double(ax_ * ax_ + ay_ * ay_);
  std::vector<double> key(n), tie(n);
  for (uint32_t y = 0; y < height_; ++y) {
    for (uint32_t x = 0; x < width_; ++x) {
      const double px = (x + 0.5) / xstretch_, py = (y + 0.5) / ystretch_;
      double u = (px * ax_ + py * ay_) / d, v = (-px * ay_ + py * ax_) / d;
      u = 2 * (u - std::floor(u)) - 1;
      v = 2 * (v - std::floor(v)) - 1;
      size_t i = size_t(y) * width_ + x;
      key[i] = -Spot(u, v);
      tie[i] = TieBreak(u, v, uint32_t(i));
    }
  }
  std::vector<uint32_t> order(n);
  std::iota(order.begin(), order.end(), 0u);
  std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
    if (key[a] != key[b]) return key[a] < key[b];
    if (tie[a] != tie[b]) return tie[a] < tie[b];
    return a < b;
  });
  rank_.assign(n, 0);
  for (size_t r = 0; r < n; ++r) rank_[order[r]] = uint32_t(r);
  return true;
}

namespace {

// The threshold of the pixel ranked r (0 first) of a cell of n pixels. A
// tone t of 0..top prints where t > threshold. The pixel should print from
// the tone (r + 1/2) / n of full on, so that a flat tint prints its share of
// the cell rounded to the nearest pixel: its threshold is that tone rounded
// up, less one. The engines reach a tone from an 8-bit sample j as
// floor(j * top / 255) (a 16-bit sample carries j * 257 and lands on the same
// tone), so the threshold is also kept between the tones of the last sample
// that leaves the pixel blank and the first that prints it: the 8-bit tints
// then round exactly, and the finer tones keep their even spread.
uint16_t rank_threshold(uint64_t r, uint64_t n, uint64_t top) {
  const uint64_t ideal = ((2 * r + 1) * top + 2 * n - 1) / (2 * n) - 1;
  // Fewer tones than 8-bit samples: several samples share a threshold.
  if (top < 255) return uint16_t(ideal);
  const uint64_t first = ((2 * r + 1) * 255 + 2 * n - 1) / (2 * n);  // 1..255
  const uint64_t lo = (first - 1) * top / 255, hi = first * top / 255 - 1;
  return uint16_t(std::clamp(ideal, lo, hi));
}

}  // namespace

bool CScreenMtx::WriteTable(CHTThreshTable<unsigned short>& table, uint32_t levels) const {
  if (rank_.empty() || levels < 2 || levels > 65536) return false;
  if (!table.Alloc(width_, uint16_t(height_), shift_, levels)) return false;
  const uint64_t n = rank_.size();
  for (uint32_t y = 0; y < height_; ++y)
    for (uint32_t x = 0; x < width_; ++x)
      table.rows[y][x] = rank_threshold(rank_[size_t(y) * width_ + x], n, levels - 1);
  return true;
}

// --- ordered dither ---------------------------------------------------------

bool COrdDitherMtx::Setup(double angle, double cell_size, int shape, int xs, int ys) {
  if (!CScreenMtx::Setup(angle, cell_size, shape, xs, ys)) return false;
  order_ = 1;
  while (order_ < cell_size && order_ < 256) order_ *= 2;
  width_ = height_ = order_;
  shift_ = 0;
  return true;
}

bool COrdDitherMtx::Build() {
  rank_.assign(size_t(order_) * order_, 0);
  for (uint32_t y = 0; y < order_; ++y) {
    for (uint32_t x = 0; x < order_; ++x) {
      uint32_t v = 0;
      for (uint32_t bit = order_ >> 1; bit; bit >>= 1) {
        uint32_t bx = (x & bit) ? 1 : 0, by = (y & bit) ? 1 : 0;
        v = (v << 2) | ((bx ^ by) << 1) | by;
      }
      // Reverse the digit order so that neighbours differ most.
      uint32_t r = 0, digits = 0;
      for (uint32_t k = order_; k > 1; k >>= 1) ++digits;
      for (uint32_t k = 0; k < digits; ++k) r = (r << 2) | ((v >> (2 * k)) & 3);
      rank_[size_t(y) * order_ + x] = r;
    }
  }
  return true;
}

// --- line screen ------------------------------------------------------------

double CLineScreenMtx::Spot(double, double y) const {
  return 1 - std::fabs(y);
}

// --- fuzzy dot ----------------------------------------------------------------

bool CFuzzyMtx::Setup(double angle, double cell_size, int shape, int xs, int ys) {
  if (!CScreenMtx::Setup(angle, cell_size, shape, xs, ys)) return false;
  ScreenRandom random(unsigned(int(100 * folded_)));
  noise_.resize(64);
  for (double& v : noise_) v = (random.Next() % 1000) / 1000.0 - 0.5;
  return true;
}

double CFuzzyMtx::Spot(double x, double y) const {
  double a = std::atan2(y, x) / (2 * kPi) + 0.5;  // 0..1 around the dot
  double rough = noise_[size_t(a * 63.999)];
  return round_dot(x, y) + 0.12 * rough * std::min(1.0, x * x + y * y);
}

// --- spot shapes --------------------------------------------------------------

bool CSpotScreenMtx::Setup(double angle, double cell_size, int shape, int xs, int ys) {
  if (!CScreenMtx::Setup(angle, cell_size, shape, xs, ys)) return false;
  ScreenRandom random(seeded_ ? seed_ : screen_seed(angle, cell_size, shape, xs, ys));
  for (auto& set : angles_)
    for (int& a : set) a = random.Next() % 360;
  return true;
}

double CSpotScreenMtx::Spot(double x, double y) const {
  switch (shape_) {
    case 0:
    case 2: {
      // Elliptical (chain) dot: joins along one axis first, then the other.
      double ax = std::fabs(x), ay = std::fabs(y);
      double e = 0.75 * ax * ax + 1.25 * ay * ay;
      if (0.75 * ax + 1.25 * ay <= 1) return 1 - e;
      return 0.75 * (ax - 1) * (ax - 1) + 1.25 * (ay - 1) * (ay - 1) - 1;
    }
    case 1:
      return 1 - std::max(std::fabs(x), std::fabs(y));
    default:
      return round_dot(x, y);
  }
}

double CSpotScreenMtx::TieBreak(double x, double y, uint32_t) const {
  double deg = std::atan2(y, x) * 180 / kPi + 360;
  return std::fmod(deg - angles_[0][0] + 360, 360.0) + angles_[1][0] / 1000.0;
}

// --- factory and stretch --------------------------------------------------------

std::unique_ptr<CScreenMtx> HTScreenMtxCreate(int type) {
  switch (type) {
    case 1:
      return std::make_unique<COrdDitherMtx>();
    case 2:
    case 4:
      return std::make_unique<CSpotScreenMtx>();
    case 3:
      return std::make_unique<CLineScreenMtx>();
    case 5:
      return std::make_unique<CFuzzyMtx>();
    default:
      return std::make_unique<CScreenMtx>();
  }
}

int HTStretchFactors(double xres, double yres, int& xstretch, int& ystretch) {
  xstretch = ystretch = 1;
  if (!(xres > 0) || !(yres > 0)) return 1;
  const double lo = std::min(xres, yres), r = std::max(xres, yres) / lo;
  int k = 11;
  for (int i = 1; i <= 10; ++i) {
    if (std::fabs(i * r - double(round_half_up(i * r))) < 0.1) {
      k = i;
      break;
    }
  }
  xstretch = std::max<int>(1, int(round_half_up(k * xres / lo)));
  ystretch = std::max<int>(1, int(round_half_up(k * yres / lo)));
  return k;
}

// --- placement of generated screens -----------------------------------------------

void CHTPlaceKlvScreen::Publish() {
  table_rows_.clear();
  h_.clear();
  s_.clear();
  w_.clear();
  l_.clear();
  for (auto& t : tables_) {
    table_rows_.push_back(t.rows);
    h_.push_back(t.height);
    s_.push_back(t.shift);
    w_.push_back(t.width);
    l_.push_back(t.levels);
  }
  SetScreens(uint16_t(tables_.size()), table_rows_.data(), h_.data(), s_.data(), w_.data(),
             l_.data());
}

void CHTPlaceKlvScreen::AddTable(CHTThreshTable<unsigned short>&& table) {
  tables_.push_back(std::move(table));
  Publish();
}

bool CHTPlaceKlvScreen::AddScreen(int type, double angle, double cell_size, int shape, double xres,
                                  double yres) {
  int xs, ys;
  int k = HTStretchFactors(xres, yres, xs, ys);
  auto gen = HTScreenMtxCreate(type);
  CHTThreshTable<unsigned short> table;
  // The generator's pixel is k pixels of the lower resolution (the stretch
  // factors bring it to device pixels), so the cell keeps its size in inches.
  if (!gen->Setup(angle, cell_size / k, shape, xs, ys) || !gen->Build() ||
      !gen->WriteTable(table, kLevels))
    return false;
  AddTable(std::move(table));
  return true;
}

bool CHTPlaceKlvScreen::GenerateFour(int type, double s, double xres, double yres) {
  const double r17 = 17.0 * kPi / 180.0;
  const double c = double(round_half_up(s / std::sqrt(2.0)));
  const double a = double(round_half_up(s * std::cos(r17)));
  const double b = double(round_half_up(s * std::sin(r17)));
  struct Spec {
    double angle, size;
  };
  const Spec specs[4] = {
      {90.0 + std::atan2(b, a) * 180 / kPi, std::sqrt(a * a + b * b)},
      {90.0 - std::atan2(a - c, b + c) * 180 / kPi,
       std::sqrt((a - c) * (a - c) + (b + c) * (b + c))},
      {90.0, double(round_half_up(s))},
      {45.0, c * std::sqrt(2.0)},
  };
  tables_.clear();
  for (const Spec& sp : specs)
    if (!AddScreen(type, sp.angle, sp.size, 0, xres, yres)) return false;
  return true;
}
