// SPDX-License-Identifier: MIT
// A colour lookup grid: a pure pixel function sampled once at the nodes of a
// regular grid over its input (1, 3 or 4 channels of 0..65535), then
// evaluated for whole lines of 8- or 16-bit pixels by interpolation in
// integer arithmetic: linear for one input, tetrahedral for three, and for
// four tetrahedral over the first three (the colour axes) and linear along
// the fourth (black). The worker for the grid's shape and the line depth is
// chosen when the grid is folded; a line costs one call through it, with no
// allocation and no virtual call per pixel.
//
// Node k of an axis with n points stands for the input value
// round(g(k / (n - 1)) x 65535), where g is the axis's shape: the identity
// (evenly spaced nodes), t^e (nodes packed towards 0) or 1 - (1 - t)^e
// (packed towards the top). Packing the nodes where the function bends most
// (dark colours, where profiles clip and separate black) buys accuracy that
// evenly spaced nodes would need a grid eight times the size for; locating a
// value costs the same either way (a table per axis). An 8-bit input value
// v stands for v x 257. Node values are 16-bit; 8-bit results are the 16-bit
// result rounded to 8 bits (v / 257).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace klv::color {

class ClutGrid {
 public:
  // Converts `count` pixels: `in` holds count x inputs 16-bit values, `out`
  // receives count x outputs. False stops the folding.
  using Sampler = std::function<bool(const uint16_t* in, uint16_t* out, uint32_t count)>;
  // The same for a fold over several threads: `lane` (0 .. lanes - 1) says
  // which thread calls, so that each can use scratch of its own. Lanes call
  // at the same time, each with batches of nodes of its own.
  using LaneSampler =
      std::function<bool(uint32_t lane, const uint16_t* in, uint16_t* out, uint32_t count)>;

  static constexpr uint32_t kMaxOutputs = 16;

  // Where an axis packs its nodes: exponent e >= 1 (1: evenly), towards 0 or
  // towards the top of the range.
  struct Shape {
    double exponent = 1;
    bool towards_top = false;
  };

  // The points per axis used when the caller has no preference: 256 for one
  // input (every 8-bit value is a node), 65 for three, 17 for four.
  static uint32_t DefaultPoints(uint32_t inputs);

  // Samples `sample` at every node. Inputs 1, 3 or 4; outputs 1 to
  // kMaxOutputs; points 2 to 256 per axis (at most 2^24 nodes). Null with
  // `error` set when the shape is not supported or the sampler fails.
  // `shapes`, when given, holds one shape per input.
  static std::unique_ptr<ClutGrid> Fold(uint32_t inputs, uint32_t outputs, uint32_t points,
                                        const Sampler& sample, std::string* error,
                                        const Shape* shapes = nullptr);
  // The same, the nodes' batches shared out among `lanes` threads (the
  // caller's among them). The table is the same whatever the lanes, since
  // every node is sampled on its own; a lane that cannot be started leaves
  // its batches to the others.
  static std::unique_ptr<ClutGrid> Fold(uint32_t inputs, uint32_t outputs, uint32_t points,
                                        uint32_t lanes, const LaneSampler& sample,
                                        std::string* error, const Shape* shapes = nullptr);

  // Converts `count` pixels of interleaved samples. `in` and `out` may not
  // overlap.
  void Line8(const uint8_t* in, uint8_t* out, uint32_t count) const {
    line8_(*this, in, out, count);
  }
  void Line16(const uint16_t* in, uint16_t* out, uint32_t count) const {
    line16_(*this, in, out, count);
  }

  uint32_t Inputs() const { return inputs_; }
  uint32_t Outputs() const { return outputs_; }
  uint32_t Points() const { return points_; }
  // The name of the worker chosen for 8-bit lines ("tetra3x4",
  // "tetra3x4-sse4.1", "tetra3x4-avx2" and so on), for tests that check
  // which one was picked.
  const char* Worker() const { return worker_; }
  // Switches to the plain loops (no vector instructions), for the tests
  // that compare the two.
  void UsePlainLoops() { PickWorkers(false); }

  // Where an input value falls on an axis: the offset of the lower node (in
  // table entries) and the weight of the upper one (0..kOne).
  struct Cell {
    uint32_t offset;
    uint32_t weight;
  };
  static constexpr uint32_t kShift = 14;
  static constexpr uint32_t kOne = 1u << kShift;

 private:
  using Line8Fn = void (*)(const ClutGrid&, const uint8_t*, uint8_t*, uint32_t);
  using Line16Fn = void (*)(const ClutGrid&, const uint16_t*, uint16_t*, uint32_t);

  ClutGrid() = default;
  bool Sample(uint32_t lanes, const LaneSampler& sample, std::string* error);
  bool SampleLane(uint32_t lane, const LaneSampler& sample, void* batches);
  void BatchInputs(size_t first, uint32_t count, uint16_t* in) const;
  void BuildAxes(const Shape* shapes);
  Cell CellAt(uint32_t axis, uint32_t position) const {
    uint32_t k = position >> kShift, w = position & (kOne - 1);
    if (k >= points_ - 1) k = points_ - 2, w = kOne;
    return {k * stride_[axis], w};
  }
  void PickWorkers(bool vector);

 public:
  // For the workers (clut_grid.cpp): the node table and the axes.
  // The cell of a 16-bit value: the axis's position table (grid units with
  // kShift fraction bits, every 16th value) interpolated.
  Cell Locate16(uint32_t axis, uint32_t value) const {
    const uint32_t* p = position_[axis].data() + (value >> 4);
    const uint32_t pos = value == 65535 ? p[1] : p[0] + (((p[1] - p[0]) * (value & 15) + 8) >> 4);
    return CellAt(axis, pos);
  }
  const Cell* Axis8(uint32_t axis) const { return axis8_[axis].data(); }
  const uint16_t* Table() const { return table_.data(); }
  uint32_t Stride(uint32_t axis) const { return stride_[axis]; }

 private:
  uint32_t inputs_ = 0, outputs_ = 0, points_ = 0;
  uint32_t stride_[4] = {};
  std::vector<uint16_t> table_;
  std::vector<Cell> axis8_[4];
  std::vector<uint32_t> position_[4];  // 4097 entries: values 0, 16, ..., 65520, 65535
  std::vector<uint16_t> nodes_[4];     // the input value of each node
  Line8Fn line8_ = nullptr;
  Line16Fn line16_ = nullptr;
  const char* worker_ = "";
};

}  // namespace klv::color
