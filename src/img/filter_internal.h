// SPDX-License-Identifier: MIT
// The line filter's record and the pieces its files share. The record is the
// plan fixed at attach time (descriptions, working parameters, replication
// and conversion tables, the quantiser) and the state of a run (line buffers,
// transform scratch, the read position).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "klv/filter.h"
#include "klv/img.h"

namespace klv::img {

// Working description of one side of the filter.
struct FilterSide {
  uint32_t bits = 8;
  uint32_t colors = 0;   // samples - spot_samples
  uint32_t samples = 0;  // colour and spot samples
  uint32_t spots = 0;
  uint32_t total = 0;  // samples + mask_samples
  uint32_t photo = 1;
  uint32_t hifi = 0;
  uint32_t masks = 0;
};

// Replication counts (one per input pixel or line) for n_in inputs onto n_out.
std::vector<uint16_t> count_table(uint32_t n_in, uint32_t n_out);

// One axis after cropping: the first input used and the counts from there on.
struct AxisMap {
  int32_t first = 0;
  std::vector<uint16_t> counts;
  bool scaled = false;   // some count differs from 1
  bool enlarge = false;  // some count exceeds 1
  // Reductions: the input index kept for each output, and the most inputs that
  // one output gathers (a kept input and the dropped ones before it).
  std::vector<uint32_t> keep;
  uint32_t max_group = 1;
};

// Maps n_in inputs onto n_full outputs and keeps the outputs [lo, lo + n_out).
// False when no input remains.
bool build_axis(uint32_t n_in, uint32_t n_full, int64_t lo, uint32_t n_out, AxisMap* map);

// Output size and crop window for reading or writing (see filter_size.cpp).
struct SizePlan {
  int32_t out_w = 0, out_h = 0;
  int32_t full_w = 0, full_h = 0;
  int32_t crop_w = 0, crop_h = 0;  // the crop in input pixels
  crop_rect window{};
};
bool plan_size(uint32_t iw, uint32_t ih, crop_info* crop, int32_t ow, int32_t oh, bool reading,
               bool stretch, SizePlan* plan);

// Palette lookup of RGB lines with random dither.
struct Quantizer {
  uint32_t n = 8;
  int32_t amp = 9;
  std::array<uint16_t, 256> qr{}, qg{}, qb{};  // q*N*N, q*N, q
  std::array<uint8_t, 256> q{};
  struct Cell {
    uint8_t index, r, g, b;
  };
  std::vector<Cell> cube;
  std::array<Cell, 256> gray{};
  std::array<int8_t, 2048> offsets{};
  std::array<int16_t, 256> limit{};
  uint32_t bits = 8;
  // The dither's own generator (xorshift), reset to a fixed seed by build, so
  // that a page converted twice gives the same indices.
  mutable uint32_t random = 0x2545F491u;
  bool build(const image_cmap* map, uint32_t cube_size, uint32_t dither, uint32_t out_bits);
  void line(const uint8_t* rgb, uint8_t* out, int32_t width) const;
};

// CIELab to RGB. The exact form works on L 0..100 and a, b -128..127 and gives
// encoded sRGB in 0..1; the tables give the same per pixel by lookups only.
void lab_to_rgb_exact(double L, double a, double b, double rgb[3]);
struct LabTables {
  uint32_t max = 255;                                    // largest sample value (255 or 65535)
  int32_t scale = 8192;                                  // table units per unit of f
  std::vector<int32_t> fy, fa, fb;                       // per sample value, in table units
  int32_t fx_lo = 0, fz_lo = 0;                          // table index 0 of the X and Z tables
  std::array<std::vector<int32_t>, 3> xlin, ylin, zlin;  // linear R, G, B shares * 65536
  std::vector<uint16_t> enc;  // linear 0..65535 to an encoded sample of `max`
  void build(uint32_t bits);
  // c[0..2]: L, a, b samples in; R, G, B samples out.
  void convert(uint32_t* c) const;
};

using ConvertFn = void (*)(const struct ::filter_rec& f, const uint8_t* in, uint8_t* out,
                           int32_t n);

struct FilterPlan;
// Picks the converter for the plan's working parameters and builds its tables.
bool setup_conversion(FilterPlan& plan);
// Turns the spot colour definitions into 8-bit light values of the output's
// colour samples; false (logged) for a definition that cannot be used.
bool convert_spot_colors(FilterPlan& plan);
const char* converter_name(const FilterPlan& plan);

}  // namespace klv::img

namespace klv::img {

// What attach decides once: the two descriptions, the working parameters, the
// conversion chosen with its tables, and the geometry. Nothing here changes
// while lines are made, so the stages of attach fill it in order and the line
// code only reads it.
struct FilterPlan {
  image_info in{}, out{};  // owned copies; their cmaps are owned
  filter_info opt{};
  std::vector<filter_spot_color> spots;

  FilterSide wi, wo;
  int depth_mode = 0;
  uint32_t raw_bits = 8;   // bits of the data as it enters (before expansion)
  uint32_t raw_total = 0;  // samples per entering pixel
  bool pass_palette = false, expand_palette = false, quantize = false, lowbit = false;
  bool convert = false;   // pixels are converted
  bool copy_raw = false;  // window bytes copied as they are
  bool lab = false;
  uint32_t work_bits = 8;  // bits of one working sample before packing (<=8 or 16)
  uint32_t dom_in = 8;     // bits of the unpacked input values
  uint32_t dom = 8;        // bits the generic converter works in
  std::array<uint8_t, 256 * 4> pal{};
  uint32_t pal_channels = 0;
  std::array<uint8_t, 256> lowmap{};

  // Geometry.
  SizePlan size;
  AxisMap hx, vy;
  int32_t win_pixels = 0;        // input pixels of the horizontal window
  uint32_t work_line_bytes = 0;  // bytes of one working output line

  // Conversion tables.
  ConvertFn conv = nullptr;
  const char* conv_name = "";
  std::array<uint16_t, 256> gr{}, gg{}, gb{};     // gray weights of light values
  std::array<uint16_t, 256> lgr{}, lgg{}, lgb{};  // the same for raw input (inversion folded in)
  std::array<uint8_t, 256> in_lut{}, out_lut{};   // light form of input, final output map
  std::vector<uint8_t> mul;                       // mul[w * 256 + v] = v * (w + a) / b
  uint32_t soft_a = 0, soft_b = 255;
  uint32_t invert_mask = 0;  // the invert option on working samples
  Quantizer quant;
  LabTables labt;
  void* xstate = nullptr;  // transform state
};

// The state of one run over a plan: the line buffers and transform scratch
// sized from the plan when the run starts, and the read position, which a
// seek resets.
struct FilterRun {
  // Buffers.
  std::vector<uint8_t> raw;       // one source line
  std::vector<uint8_t> unpacked;  // one byte (or uint16_t) per sample
  std::vector<uint8_t> picked;    // horizontally selected input pixels
  std::vector<uint8_t> conv_buf;  // converted pixels
  std::vector<uint8_t> work;      // working output line
  std::vector<uint8_t> held, next_held;
  std::vector<uint32_t> sums;
  std::vector<uint16_t> sums16;    // 8-bit averages of at most 257 lines
  std::vector<uint8_t> xin, xout;  // transform scratch
  std::vector<uint8_t> dbuf[2];
  int dbuf_turn = 0;
  mutable bool xform_failed = false;  // the transform refused a line

  // Position.
  int32_t cur_line = 0, cur_page = 0;
  int32_t vi = 0;        // next index into vy.counts
  int32_t rep_left = 0;  // repeats left of the held line (enlargement)
  int32_t rep_total = 0;
  int32_t src_next = -1;  // source line the stream stands at, -1 unknown
  uint32_t sum_lines = 0;
};

}  // namespace klv::img

// The line filter: the stream below, the plan fixed at attach and the state of
// the current run.
struct filter_rec : klv::img::FilterPlan, klv::img::FilterRun {
  IMG_file* src = nullptr;
  char mode = 'r';
  bool detached = false;

  ~filter_rec();
};
