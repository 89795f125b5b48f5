// SPDX-License-Identifier: MIT
// Screen generators: threshold matrices computed from a screen angle, a cell
// size in device pixels, a dot-shape selector and integer x and y stretch
// factors (for devices whose two resolutions differ). The cell is a square
// lattice cell turned by the angle, with integer edge vectors, so that the
// screen repeats exactly as a brick-offset table of one cell's area. Each
// position is given a value by the generator's dot-shape function and the
// positions are ranked by it: low ranks print first, so a growing tone grows
// the dot from its centre one pixel at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "klv/halftone_screen.h"

class KLV_API CScreenMtx {
 public:
  CScreenMtx() = default;
  virtual ~CScreenMtx();
  // Folds the angle, scales the cell by the dot-shape selector and computes the
  // cell's edge vectors. False for a cell smaller than one pixel or a table
  // larger than 65535 rows or columns.
  virtual bool Setup(double angle, double cell_size, int shape, int xstretch, int ystretch);
  // Evaluates and ranks every position of the tile.
  virtual bool Build();
  // The dot shape at cell coordinates x, y in -1..1 (cell centre 0, 0): a
  // larger value prints earlier. The default is a round dot that turns into a
  // checkerboard at 50% and into round holes beyond.
  virtual double Spot(double x, double y) const;
  // Writes the thresholds (0..levels - 2) into a 16-bit table, spread so that
  // a flat tint prints its share of the cell rounded to the nearest pixel.
  virtual bool WriteTable(CHTThreshTable<unsigned short>& table, uint32_t levels) const;
  virtual uint32_t Width() const { return width_; }
  virtual uint32_t Height() const { return height_; }

  uint16_t Shift() const { return shift_; }
  double FoldedAngle() const { return folded_; }
  // Rank of every tile position (0 prints first), row by row.
  const std::vector<uint32_t>& Ranks() const { return rank_; }

 protected:
  // A tie-breaking key for positions of equal spot value.
  virtual double TieBreak(double x, double y, uint32_t index) const;

  double folded_ = 0;
  int shape_ = 0;
  int xstretch_ = 1, ystretch_ = 1;
  int xsign_ = 1, ysign_ = 1;
  int64_t ax_ = 0, ay_ = 0;  // edge vector of the scaled cell (the other is (-ay, ax))
  int64_t plain_ax_ = 0, plain_ay_ = 0;
  uint32_t width_ = 0, height_ = 0;
  uint16_t shift_ = 0;
  std::vector<uint32_t> rank_;
};

// Ordered (dispersed-dot) dither: a recursive 2x2 matrix as large as the cell.
class KLV_API COrdDitherMtx : public CScreenMtx {
 public:
  bool Setup(double angle, double cell_size, int shape, int xstretch, int ystretch) override;
  bool Build() override;

 private:
  uint32_t order_ = 1;
};

// Lines along the screen angle that thicken with the tone.
class KLV_API CLineScreenMtx : public CScreenMtx {
 public:
  double Spot(double x, double y) const override;
};

// A round dot with a seeded random roughness at its edge.
class KLV_API CFuzzyMtx : public CScreenMtx {
 public:
  bool Setup(double angle, double cell_size, int shape, int xstretch, int ystretch) override;
  double Spot(double x, double y) const override;

 private:
  std::vector<double> noise_;
};

// Spot shapes chosen by the selector: 0 and 2 elliptical (chain dots), 1
// square, others round. Equal values are ordered around the dot from a random
// start angle (the generator is seeded from the clock unless SetSeed is used).
class KLV_API CSpotScreenMtx : public CScreenMtx {
 public:
  void SetSeed(unsigned seed) {
    seed_ = seed;
    seeded_ = true;
  }
  bool Setup(double angle, double cell_size, int shape, int xstretch, int ystretch) override;
  double Spot(double x, double y) const override;

 protected:
  double TieBreak(double x, double y, uint32_t index) const override;

 private:
  unsigned seed_ = 0;
  bool seeded_ = false;
  int angles_[2][64] = {};
};

// A generator by placement type: 1 ordered dither, 2 and 4 spot, 3 line,
// 5 fuzzy, otherwise the plain round-dot generator.
KLV_API std::unique_ptr<CScreenMtx> HTScreenMtxCreate(int type);

// Integer stretch factors for resolutions xres x yres: the first k in 1..10
// that brings k x larger / smaller within 0.1 of an integer (11 when none
// does); factors round(k x res / smaller), each at least 1. Returns k.
KLV_API int HTStretchFactors(double xres, double yres, int& xstretch, int& ystretch);

// A screen placement that owns 16-bit screens made by the generators.
class KLV_API CHTPlaceKlvScreen : public CHTPlaceScreen<unsigned short> {
 public:
  static constexpr uint32_t kLevels = 4096;
  // Four screens of one ruling at 17, 73 (the other 17-degree screen), 90 and
  // 45 degrees, for separations 0..3 (cyan, magenta, yellow, black).
  bool GenerateFour(int type, double cell_size, double xres, double yres);
  // One screen from one generator (the named, per-colour path).
  bool AddScreen(int type, double angle, double cell_size, int shape, double xres, double yres);
  // Takes a table made elsewhere.
  void AddTable(CHTThreshTable<unsigned short>&& table);

 private:
  void Publish();
  std::vector<CHTThreshTable<unsigned short>> tables_;
  std::vector<unsigned short**> table_rows_;
  std::vector<uint16_t> h_, s_;
  std::vector<uint32_t> w_, l_;
};
