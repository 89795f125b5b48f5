// SPDX-License-Identifier: MIT
// The lookup grid: folding (sampling the function at every node), the axis
// tables of 8-bit input, and the line workers, one per shape, chosen once.
#include "color/clut_grid.h"

#include <algorithm>
#include <cmath>
#include <new>

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

// The cell of an input value: from the 8-bit table or computed for 16 bits.
template <typename In>
inline Cell locate(const ClutGrid& g, uint32_t axis, In v) {
  if constexpr (sizeof(In) == 1)
    return g.Axis8(axis)[v];
  else
    return g.Locate16(axis, v);
}

// The tetrahedron of a cube that holds the point: the offsets of its three
// far corners from the lower corner and the four corner weights (summing to
// kOne). The path runs from the lower corner along the axes in the order of
// their weights, largest first.
struct Tetra {
  uint32_t o1, o2, o3;
  uint32_t w0, w1, w2, w3;
};

inline Tetra tetra(uint32_t rx, uint32_t ry, uint32_t rz, uint32_t sx, uint32_t sy, uint32_t sz) {
  const uint32_t o3 = sx + sy + sz;
  if (rx >= ry) {
    if (ry >= rz) return {sx, sx + sy, o3, kOne - rx, rx - ry, ry - rz, rz};
    if (rx >= rz) return {sx, sx + sz, o3, kOne - rx, rx - rz, rz - ry, ry};
    return {sz, sx + sz, o3, kOne - rz, rz - rx, rx - ry, ry};
  }
  if (rx >= rz) return {sy, sx + sy, o3, kOne - ry, ry - rx, rx - rz, rz};
  if (ry >= rz) return {sy, sy + sz, o3, kOne - ry, ry - rz, rz - rx, rx};
  return {sz, sy + sz, o3, kOne - rz, rz - ry, ry - rx, rx};
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
  for (uint32_t i = 0; i < count; ++i, in += 1, out += n) {
    const Cell x = locate(g, 0, in[0]);
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
  const uint32_t sx = g.Stride(0), sy = g.Stride(1), sz = g.Stride(2);
  for (uint32_t i = 0; i < count; ++i, in += 3, out += n) {
    const Cell x = locate(g, 0, in[0]), y = locate(g, 1, in[1]), z = locate(g, 2, in[2]);
    const uint16_t* p = table + x.offset + y.offset + z.offset;
    const Tetra t = tetra(x.weight, y.weight, z.weight, sx, sy, sz);
    for (uint32_t c = 0; c < n; ++c) out[c] = narrow<Out>(blend(p, t, c));
  }
}

// Four inputs: tetrahedral over the first three at the two nodes of the
// fourth around the value, then linear between them.
template <uint32_t N, typename In, typename Out>
void tetra4_line(const ClutGrid& g, const In* in, Out* out, uint32_t count) {
  const uint32_t n = N ? N : g.Outputs();
  const uint16_t* table = g.Table();
  const uint32_t sx = g.Stride(0), sy = g.Stride(1), sz = g.Stride(2), sk = g.Stride(3);
  for (uint32_t i = 0; i < count; ++i, in += 4, out += n) {
    const Cell x = locate(g, 0, in[0]), y = locate(g, 1, in[1]), z = locate(g, 2, in[2]);
    const Cell k = locate(g, 3, in[3]);
    const uint16_t* p = table + x.offset + y.offset + z.offset + k.offset;
    const Tetra t = tetra(x.weight, y.weight, z.weight, sx, sy, sz);
    const uint32_t wk = k.weight, wk0 = kOne - wk;
    for (uint32_t c = 0; c < n; ++c) {
      const uint32_t lo = blend(p, t, c), hi = blend(p + sk, t, c);
      out[c] = narrow<Out>((lo * wk0 + hi * wk + kHalf) >> kShift);
    }
  }
}

// The worker of a shape for one depth: specialised for 1, 3 and 4 outputs.
template <typename T>
using LineFn = void (*)(const ClutGrid&, const T*, T*, uint32_t);

template <typename T>
LineFn<T> pick(uint32_t inputs, uint32_t outputs) {
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

const char* worker_name(uint32_t inputs, uint32_t outputs) {
  static const char* const kNames[3][4] = {{"linear1x1", "linear1x3", "linear1x4", "linear1xN"},
                                           {"tetra3x1", "tetra3x3", "tetra3x4", "tetra3xN"},
                                           {"tetra4x1", "tetra4x3", "tetra4x4", "tetra4xN"}};
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
  if (!g->Sample(sample, error)) return nullptr;
  g->PickWorkers();
  return g;
}

// Walks the nodes in table order, handing the sampler a batch at a time.
bool ClutGrid::Sample(const Sampler& sample, std::string* error) {
  const size_t nodes = table_.size() / outputs_;
  std::vector<uint16_t> in(size_t(kBatch) * inputs_);
  uint32_t index[4] = {};
  for (size_t first = 0; first < nodes; first += kBatch) {
    const uint32_t count = static_cast<uint32_t>(std::min<size_t>(kBatch, nodes - first));
    for (uint32_t i = 0; i < count; ++i) {
      for (uint32_t a = 0; a < inputs_; ++a) in[size_t(i) * inputs_ + a] = nodes_[a][index[a]];
      for (uint32_t a = inputs_; a-- > 0;) {  // the next node: the last axis fastest
        if (++index[a] < points_) break;
        index[a] = 0;
      }
    }
    if (!sample(in.data(), table_.data() + first * outputs_, count)) {
      *error = "the colour function failed while the grid was sampled";
      return false;
    }
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

void ClutGrid::PickWorkers() {
  line8_ = pick<uint8_t>(inputs_, outputs_);
  line16_ = pick<uint16_t>(inputs_, outputs_);
  worker_ = worker_name(inputs_, outputs_);
}

}  // namespace klv::color
