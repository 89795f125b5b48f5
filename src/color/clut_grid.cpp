// SPDX-License-Identifier: MIT
// The lookup grid: folding (sampling the function at every node), the axis
// tables of 8-bit input, and the line workers, one per shape, chosen once.
#include "color/clut_grid.h"

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <new>
#include <thread>
#include <vector>

namespace klv::color {
namespace {

using Cell = ClutGrid::Cell;
constexpr uint32_t kOne = ClutGrid::kOne;
constexpr uint32_t kShift = ClutGrid::kShift;
constexpr uint32_t kHalf = kOne / 2;
// Nodes handed to the sampler per call.
constexpr uint32_t kBatch = 4096;

// 16-bit to 8-bit, rounded (v / 257).
inline uint8_t to8(uint32_t v) {
  return static_cast<uint8_t>((v * 65281u + 8388608u) >> 24);
}

template <typename Out>
inline Out narrow(uint32_t v) {
  if constexpr (sizeof(Out) == 1)
    return to8(v);
  else
    return static_cast<Out>(v);
}

// Finds the cells of input values. Copies what it needs of the grid into
// locals before a line starts: stores through an 8-bit output pointer may
// alias anything, and would otherwise reload the grid's tables per pixel.
template <typename In>
struct Locator;

template <>
struct Locator<uint8_t> {
  explicit Locator(const ClutGrid& g) {
    for (uint32_t a = 0; a < g.Inputs(); ++a) axis[a] = g.Axis8(a);
  }
  Cell operator()(uint32_t a, uint8_t v) const { return axis[a][v]; }
  const Cell* axis[4] = {};
};

template <>
struct Locator<uint16_t> {
  explicit Locator(const ClutGrid& g) : g(g) {}
  Cell operator()(uint32_t a, uint16_t v) const { return g.Locate16(a, v); }
  const ClutGrid& g;
};

// The tetrahedron of a cube that holds the point: the offsets of its three
// far corners from the lower corner and the four corner weights (summing to
// kOne). The path runs from the lower corner along the axes in the order of
// their weights, largest first.
struct Tetra {
  uint32_t o1, o2, o3;
  uint32_t w0, w1, w2, w3;
};

// The tetrahedron without branches: the weights sorted with min and max,
// the far corners from a table indexed by how the weights compare (noisy
// pixels make the branches of a decision tree unpredictable).
struct Corners {
  uint32_t o1, o2;
};
using CornerTable = std::array<Corners, 8>;

inline CornerTable corner_table(uint32_t sx, uint32_t sy, uint32_t sz) {
  // Index: (rx >= ry) * 4 + (ry >= rz) * 2 + (rx >= rz); 6 and 1 cannot occur.
  return {{{sz, sz + sy},
           {sz, sz + sy},
           {sy, sy + sz},
           {sy, sy + sx},
           {sz, sz + sx},
           {sx, sx + sz},
           {sx, sx + sy},
           {sx, sx + sy}}};
}

inline Tetra tetra(uint32_t rx, uint32_t ry, uint32_t rz, const CornerTable& corners, uint32_t o3) {
  const uint32_t hi = std::max(rx, std::max(ry, rz)), lo = std::min(rx, std::min(ry, rz));
  const uint32_t mid = rx + ry + rz - hi - lo;
  const Corners& c = corners[(rx >= ry) * 4 + (ry >= rz) * 2 + (rx >= rz)];
  return {c.o1, c.o2, o3, kOne - hi, hi - mid, mid - lo, lo};
}

// One output of a tetrahedron, 16 bits.
inline uint32_t blend(const uint16_t* p, const Tetra& t, uint32_t c) {
  return (p[c] * t.w0 + p[t.o1 + c] * t.w1 + p[t.o2 + c] * t.w2 + p[t.o3 + c] * t.w3 + kHalf) >>
         kShift;
}

// One input: linear between two nodes. N outputs (0: the grid's count).
template <uint32_t N, typename In, typename Out>
void linear_line(const ClutGrid& g, const In* in, Out* out, uint32_t count) {
  const uint32_t n = N ? N : g.Outputs();
  const uint16_t* table = g.Table();
  const Locator<In> locate(g);
  for (uint32_t i = 0; i < count; ++i, in += 1, out += n) {
    const Cell x = locate(0, in[0]);
    const uint16_t* p = table + x.offset;
    const uint32_t w = x.weight, w0 = kOne - w;
    for (uint32_t c = 0; c < n; ++c)
      out[c] = narrow<Out>((p[c] * w0 + p[n + c] * w + kHalf) >> kShift);
  }
}

// Three inputs: tetrahedral.
template <uint32_t N, typename In, typename Out>
void tetra3_line(const ClutGrid& g, const In* in, Out* out, uint32_t count) {
  const uint32_t n = N ? N : g.Outputs();
  const uint16_t* table = g.Table();
  const CornerTable corners = corner_table(g.Stride(0), g.Stride(1), g.Stride(2));
  const uint32_t o3 = g.Stride(0) + g.Stride(1) + g.Stride(2);
  const Locator<In> locate(g);
  for (uint32_t i = 0; i < count; ++i, in += 3, out += n) {
    const Cell x = locate(0, in[0]), y = locate(1, in[1]), z = locate(2, in[2]);
    const uint16_t* p = table + x.offset + y.offset + z.offset;
    const Tetra t = tetra(x.weight, y.weight, z.weight, corners, o3);
    for (uint32_t c = 0; c < n; ++c) out[c] = narrow<Out>(blend(p, t, c));
  }
}

// Four inputs: tetrahedral over the first three at the two nodes of the
// fourth around the value, then linear between them.
template <uint32_t N, typename In, typename Out>
void tetra4_line(const ClutGrid& g, const In* in, Out* out, uint32_t count) {
  const uint32_t n = N ? N : g.Outputs();
  const uint16_t* table = g.Table();
  const CornerTable corners = corner_table(g.Stride(0), g.Stride(1), g.Stride(2));
  const uint32_t o3 = g.Stride(0) + g.Stride(1) + g.Stride(2), sk = g.Stride(3);
  const Locator<In> locate(g);
  for (uint32_t i = 0; i < count; ++i, in += 4, out += n) {
    const Cell x = locate(0, in[0]), y = locate(1, in[1]), z = locate(2, in[2]);
    const Cell k = locate(3, in[3]);
    const uint16_t* p = table + x.offset + y.offset + z.offset + k.offset;
    const Tetra t = tetra(x.weight, y.weight, z.weight, corners, o3);
    const uint32_t wk = k.weight, wk0 = kOne - wk;
    for (uint32_t c = 0; c < n; ++c) {
      const uint32_t lo = blend(p, t, c), hi = blend(p + sk, t, c);
      out[c] = narrow<Out>((lo * wk0 + hi * wk + kHalf) >> kShift);
    }
  }
}

// ---- SSE4.1 workers for four outputs ----------------------------------------
// The same integer arithmetic as the plain loops above, four outputs in one
// register: bit for bit the same results (tests/color/clut_grid_test.cpp).
// Chosen at fold time when the processor has SSE4.1.

// The corners go through pmaddwd in pairs, as signed 16-bit values: v -
// 32768 (the top bit flipped) times weights of at most kOne = 2^14, with
// 32768 x kOne added back, which is the plain sum exactly since the weights
// sum to kOne.
__attribute__((target("sse4.1"))) inline __m128i pair(const uint16_t* a, const uint16_t* b) {
  const __m128i va = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(a));
  const __m128i vb = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b));
  return _mm_xor_si128(_mm_unpacklo_epi16(va, vb), _mm_set1_epi16(int16_t(0x8000)));
}

__attribute__((target("sse4.1"))) inline __m128i weights(uint32_t w_a, uint32_t w_b) {
  return _mm_set1_epi32(int(w_a | (w_b << 16)));
}

constexpr int kBias = int(32768 * kOne + kHalf);

__attribute__((target("sse4.1"))) inline __m128i blend4(const uint16_t* p, const Tetra& t) {
  const __m128i a = _mm_madd_epi16(pair(p, p + t.o1), weights(t.w0, t.w1));
  const __m128i b = _mm_madd_epi16(pair(p + t.o2, p + t.o3), weights(t.w2, t.w3));
  return _mm_srli_epi32(_mm_add_epi32(_mm_add_epi32(a, b), _mm_set1_epi32(kBias)), kShift);
}

// Four 16-bit results (in 32-bit lanes) stored as 8 or 16 bits.
template <typename Out>
__attribute__((target("sse4.1"))) inline void store4(Out* out, __m128i v) {
  if constexpr (sizeof(Out) == 1) {
    v = _mm_srli_epi32(
        _mm_add_epi32(_mm_mullo_epi32(v, _mm_set1_epi32(65281)), _mm_set1_epi32(8388608)), 24);
    const int32_t bytes = _mm_cvtsi128_si32(_mm_packus_epi16(_mm_packus_epi32(v, v), v));
    std::memcpy(out, &bytes, 4);
  } else {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi32(v, v));
  }
}

template <typename In, typename Out>
__attribute__((target("sse4.1"))) void tetra3x4_sse(const ClutGrid& g, const In* in, Out* out,
                                                    uint32_t count) {
  const uint16_t* table = g.Table();
  const CornerTable corners = corner_table(g.Stride(0), g.Stride(1), g.Stride(2));
  const uint32_t o3 = g.Stride(0) + g.Stride(1) + g.Stride(2);
  const Locator<In> locate(g);
  for (uint32_t i = 0; i < count; ++i, in += 3, out += 4) {
    const Cell x = locate(0, in[0]), y = locate(1, in[1]), z = locate(2, in[2]);
    const Tetra t = tetra(x.weight, y.weight, z.weight, corners, o3);
    store4(out, blend4(table + x.offset + y.offset + z.offset, t));
  }
}

template <typename In, typename Out>
__attribute__((target("sse4.1"))) void tetra4x4_sse(const ClutGrid& g, const In* in, Out* out,
                                                    uint32_t count) {
  const uint16_t* table = g.Table();
  const CornerTable corners = corner_table(g.Stride(0), g.Stride(1), g.Stride(2));
  const uint32_t o3 = g.Stride(0) + g.Stride(1) + g.Stride(2), sk = g.Stride(3);
  const Locator<In> locate(g);
  for (uint32_t i = 0; i < count; ++i, in += 4, out += 4) {
    const Cell x = locate(0, in[0]), y = locate(1, in[1]), z = locate(2, in[2]);
    const Cell k = locate(3, in[3]);
    const uint16_t* p = table + x.offset + y.offset + z.offset + k.offset;
    const Tetra t = tetra(x.weight, y.weight, z.weight, corners, o3);
    const __m128i lo = blend4(p, t), hi = blend4(p + sk, t);
    // lo0 hi0 lo1 hi1 ... as signed pairs, against (kOne - wk, wk).
    const __m128i both =
        _mm_xor_si128(_mm_unpacklo_epi16(_mm_packus_epi32(lo, lo), _mm_packus_epi32(hi, hi)),
                      _mm_set1_epi16(int16_t(0x8000)));
    const __m128i v = _mm_madd_epi16(both, weights(kOne - k.weight, k.weight));
    store4(out, _mm_srli_epi32(_mm_add_epi32(v, _mm_set1_epi32(kBias)), kShift));
  }
}

// ---- AVX2: two pixels of three inputs, four 8-bit outputs, per step ----------
// blend4 and store4 on two pixels at once, one per 128-bit lane; the same
// arithmetic, so the same bytes. An odd last pixel goes through SSE4.1.

__attribute__((target("avx2"))) inline __m256i lanes(__m128i a, __m128i b) {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(a), b, 1);
}

__attribute__((target("avx2"))) inline __m256i blend4x2(const uint16_t* p, const Tetra& t,
                                                        const uint16_t* q, const Tetra& u) {
  // pair() gives the corners as signed pairs already.
  const __m256i a = _mm256_madd_epi16(lanes(pair(p, p + t.o1), pair(q, q + u.o1)),
                                      lanes(weights(t.w0, t.w1), weights(u.w0, u.w1)));
  const __m256i b = _mm256_madd_epi16(lanes(pair(p + t.o2, p + t.o3), pair(q + u.o2, q + u.o3)),
                                      lanes(weights(t.w2, t.w3), weights(u.w2, u.w3)));
  return _mm256_srli_epi32(_mm256_add_epi32(_mm256_add_epi32(a, b), _mm256_set1_epi32(kBias)),
                           kShift);
}

__attribute__((target("avx2"))) void tetra3x4_avx2(const ClutGrid& g, const uint8_t* in,
                                                   uint8_t* out, uint32_t count) {
  const uint16_t* table = g.Table();
  const CornerTable corners = corner_table(g.Stride(0), g.Stride(1), g.Stride(2));
  const uint32_t o3 = g.Stride(0) + g.Stride(1) + g.Stride(2);
  const Locator<uint8_t> locate(g);
  uint32_t i = 0;
  for (; i + 1 < count; i += 2, in += 6, out += 8) {
    const Cell x = locate(0, in[0]), y = locate(1, in[1]), z = locate(2, in[2]);
    const Cell x1 = locate(0, in[3]), y1 = locate(1, in[4]), z1 = locate(2, in[5]);
    const Tetra t = tetra(x.weight, y.weight, z.weight, corners, o3);
    const Tetra u = tetra(x1.weight, y1.weight, z1.weight, corners, o3);
    __m256i v = blend4x2(table + x.offset + y.offset + z.offset, t,
                         table + x1.offset + y1.offset + z1.offset, u);
    v = _mm256_srli_epi32(_mm256_add_epi32(_mm256_mullo_epi32(v, _mm256_set1_epi32(65281)),
                                           _mm256_set1_epi32(8388608)),
                          24);
    const __m256i bytes = _mm256_packus_epi16(_mm256_packus_epi32(v, v), v);
    const int32_t first = _mm_cvtsi128_si32(_mm256_castsi256_si128(bytes));
    const int32_t second = _mm_cvtsi128_si32(_mm256_extracti128_si256(bytes, 1));
    std::memcpy(out, &first, 4);
    std::memcpy(out + 4, &second, 4);
  }
  if (i < count) tetra3x4_sse<uint8_t, uint8_t>(g, in, out, 1);
}

bool have_avx2() {
  return __builtin_cpu_supports("avx2");
}

bool have_sse41() {
  return __builtin_cpu_supports("sse4.1");
}

// The worker of a shape for one depth: specialised for 1, 3 and 4 outputs.
template <typename T>
using LineFn = void (*)(const ClutGrid&, const T*, T*, uint32_t);

template <typename T>
LineFn<T> pick(uint32_t inputs, uint32_t outputs, bool vector) {
  if constexpr (sizeof(T) == 1)
    if (vector && outputs == 4 && inputs == 3 && have_avx2()) return tetra3x4_avx2;
  if (vector && outputs == 4 && inputs == 3) return tetra3x4_sse<T, T>;
  if (vector && outputs == 4 && inputs == 4) return tetra4x4_sse<T, T>;
  switch (inputs) {
    case 1:
      return outputs == 1   ? linear_line<1, T, T>
             : outputs == 3 ? linear_line<3, T, T>
             : outputs == 4 ? linear_line<4, T, T>
                            : linear_line<0, T, T>;
    case 3:
      return outputs == 1   ? tetra3_line<1, T, T>
             : outputs == 3 ? tetra3_line<3, T, T>
             : outputs == 4 ? tetra3_line<4, T, T>
                            : tetra3_line<0, T, T>;
    default:
      return outputs == 1   ? tetra4_line<1, T, T>
             : outputs == 3 ? tetra4_line<3, T, T>
             : outputs == 4 ? tetra4_line<4, T, T>
                            : tetra4_line<0, T, T>;
  }
}

const char* worker_name(uint32_t inputs, uint32_t outputs, bool vector) {
  static const char* const kNames[3][4] = {{"linear1x1", "linear1x3", "linear1x4", "linear1xN"},
                                           {"tetra3x1", "tetra3x3", "tetra3x4", "tetra3xN"},
                                           {"tetra4x1", "tetra4x3", "tetra4x4", "tetra4xN"}};
  if (vector && outputs == 4 && inputs == 3)
    return have_avx2() ? "tetra3x4-avx2" : "tetra3x4-sse4.1";
  if (vector && outputs == 4 && inputs == 4) return "tetra4x4-sse4.1";
  const int row = inputs == 1 ? 0 : inputs == 3 ? 1 : 2;
  const int col = outputs == 1 ? 0 : outputs == 3 ? 1 : outputs == 4 ? 2 : 3;
  return kNames[row][col];
}

}  // namespace

uint32_t ClutGrid::DefaultPoints(uint32_t inputs) {
  return inputs == 1 ? 256 : inputs == 3 ? 65 : 17;
}

std::unique_ptr<ClutGrid> ClutGrid::Fold(uint32_t inputs, uint32_t outputs, uint32_t points,
                                         const Sampler& sample, std::string* error,
                                         const Shape* shapes) {
  return Fold(
      inputs, outputs, points, 1,
      [&sample](uint32_t, const uint16_t* in, uint16_t* out, uint32_t count) {
        return sample(in, out, count);
      },
      error, shapes);
}

std::unique_ptr<ClutGrid> ClutGrid::Fold(uint32_t inputs, uint32_t outputs, uint32_t points,
                                         uint32_t lanes, const LaneSampler& sample,
                                         std::string* error, const Shape* shapes) {
  std::string ignored;
  if (!error) error = &ignored;
  if (inputs != 1 && inputs != 3 && inputs != 4) {
    *error = "a grid takes 1, 3 or 4 inputs, not " + std::to_string(inputs);
    return nullptr;
  }
  if (outputs < 1 || outputs > kMaxOutputs) {
    *error = "a grid gives 1 to " + std::to_string(kMaxOutputs) + " outputs, not " +
             std::to_string(outputs);
    return nullptr;
  }
  uint64_t nodes = 1;
  for (uint32_t i = 0; i < inputs; ++i) nodes *= points;
  if (points < 2 || points > 256 || nodes > (uint64_t{1} << 24)) {
    *error = "a grid of " + std::to_string(points) + " points per axis is out of range";
    return nullptr;
  }
  std::unique_ptr<ClutGrid> g(new (std::nothrow) ClutGrid);
  if (!g) {
    *error = "out of memory";
    return nullptr;
  }
  g->inputs_ = inputs;
  g->outputs_ = outputs;
  g->points_ = points;
  // The last input varies fastest; a node holds `outputs` values.
  uint32_t stride = outputs;
  for (uint32_t a = inputs; a-- > 0;) {
    g->stride_[a] = stride;
    stride *= points;
  }
  try {
    g->table_.assign(size_t(nodes) * outputs, 0);
    g->BuildAxes(shapes);
  } catch (const std::bad_alloc&) {
    *error = "out of memory for a grid of " + std::to_string(nodes) + " nodes";
    return nullptr;
  }
  if (!g->Sample(std::max(lanes, 1u), sample, error)) return nullptr;
  g->PickWorkers(true);
  return g;
}

namespace {

// The batches of a fold, handed out in table order to whichever lane asks.
struct Batches {
  size_t nodes = 0;
  std::atomic<size_t> next{0};
  std::atomic<bool> failed{false};
};

}  // namespace

// The input values of nodes first .. first + count - 1 (table order: the
// last axis fastest).
void ClutGrid::BatchInputs(size_t first, uint32_t count, uint16_t* in) const {
  uint32_t index[4] = {};
  size_t rest = first;
  for (uint32_t a = inputs_; a-- > 0;) {
    index[a] = static_cast<uint32_t>(rest % points_);
    rest /= points_;
  }
  for (uint32_t i = 0; i < count; ++i) {
    for (uint32_t a = 0; a < inputs_; ++a) in[size_t(i) * inputs_ + a] = nodes_[a][index[a]];
    for (uint32_t a = inputs_; a-- > 0;) {  // the next node
      if (++index[a] < points_) break;
      index[a] = 0;
    }
  }
}

// One lane: takes batches until none is left or a lane failed.
bool ClutGrid::SampleLane(uint32_t lane, const LaneSampler& sample, void* shared) {
  auto& batches = *static_cast<Batches*>(shared);
  std::vector<uint16_t> in;
  try {
    in.resize(size_t(kBatch) * inputs_);
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (;;) {
    if (batches.failed.load(std::memory_order_relaxed)) return true;
    const size_t first = batches.next.fetch_add(kBatch);
    if (first >= batches.nodes) return true;
    const auto count = static_cast<uint32_t>(std::min<size_t>(kBatch, batches.nodes - first));
    BatchInputs(first, count, in.data());
    if (!sample(lane, in.data(), table_.data() + first * outputs_, count)) return false;
  }
}

// Walks the nodes in batches, on the caller's thread and lanes - 1 more.
bool ClutGrid::Sample(uint32_t lanes, const LaneSampler& sample, std::string* error) {
  Batches batches;
  batches.nodes = table_.size() / outputs_;
  const size_t most = (batches.nodes + kBatch - 1) / kBatch;
  lanes = static_cast<uint32_t>(std::min<size_t>(lanes, std::max<size_t>(most, 1)));
  std::vector<std::thread> helpers;
  for (uint32_t lane = 1; lane < lanes; ++lane) {
    try {
      helpers.emplace_back([this, lane, &sample, &batches] {
        if (!SampleLane(lane, sample, &batches)) batches.failed = true;
      });
    } catch (const std::exception&) {
      break;  // the lanes running take its batches
    }
  }
  if (!SampleLane(0, sample, &batches)) batches.failed = true;
  for (std::thread& t : helpers) t.join();
  if (batches.failed) {
    *error = "the colour function failed while the grid was sampled";
    return false;
  }
  return true;
}

// Per axis: the input value of each node, the position of every 16th
// 16-bit value (the inverse of the shape) and the cell of each 8-bit value.
void ClutGrid::BuildAxes(const Shape* shapes) {
  const double last = points_ - 1;
  for (uint32_t a = 0; a < inputs_; ++a) {
    const Shape shape = shapes ? shapes[a] : Shape{};
    const double e = std::max(1.0, shape.exponent);
    // The shape g and its inverse, over 0..1.
    auto g = [&](double t) { return shape.towards_top ? 1 - std::pow(1 - t, e) : std::pow(t, e); };
    auto inverse = [&](double x) {
      return shape.towards_top ? 1 - std::pow(1 - x, 1 / e) : std::pow(x, 1 / e);
    };
    nodes_[a].resize(points_);
    for (uint32_t k = 0; k < points_; ++k)
      nodes_[a][k] = static_cast<uint16_t>(std::lround(g(k / last) * 65535));
    // Positions of the values themselves, so that a node value falls on its
    // node exactly.
    auto position = [&](uint32_t v) {
      const double u = inverse(v / 65535.0) * last;
      const auto k = static_cast<uint32_t>(std::min(u, last));
      if (nodes_[a][k] == v) return k << kShift;
      return static_cast<uint32_t>(std::lround(u * kOne));
    };
    position_[a].resize(4097);
    for (uint32_t i = 0; i < 4096; ++i) position_[a][i] = position(i * 16);
    position_[a][4096] = position(65535);
    axis8_[a].resize(256);
    for (uint32_t v = 0; v < 256; ++v) axis8_[a][v] = CellAt(a, position(v * 257));
  }
}

void ClutGrid::PickWorkers(bool vector) {
  vector = vector && have_sse41();
  line8_ = pick<uint8_t>(inputs_, outputs_, vector);
  line16_ = pick<uint16_t>(inputs_, outputs_, vector);
  worker_ = worker_name(inputs_, outputs_, vector);
}

}  // namespace klv::color
