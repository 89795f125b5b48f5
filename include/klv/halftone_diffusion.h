// SPDX-License-Identifier: MIT
// Error diffusion: engines that compare each pixel's tone plus the weighted
// errors of its already-screened neighbours against a threshold, print a dot
// when it is exceeded and pass the difference on. Lines are scanned in
// serpentine order (the direction turns after every line) and a per-pixel
// noise from a precomputed table breaks up regular patterns.
//
// Four families, each with an 8-bit-input engine and a "16" engine that reads
// 16-bit samples shifted right by 4 through a 4096-entry tone curve:
//  - plain (CHTRipErrDif): 16-bit integer errors, weights 3/16 and 2/16;
//  - matrix-modulated (CHTRipErrDifMtx): the same errors, the threshold and the
//    error gain modulated by a threshold matrix in the highlights and shadows;
//  - screen-modulated (CHTRipErrDifScreen): the threshold taken from a screen
//    or a short computed pattern;
//  - variable-coefficient (CHTRipErrDifVarCoef): 16-bit integer errors with
//    tone-dependent weights (Ostromoukhov's published 256-level table, in
//    12-bit fixed point).
// Tones lie in 0..2047; each family has a placement that supplies the noise
// table and, for the modulated families, the thresholds.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "klv/halftone_rip.h"
#include "klv/halftone_thresh.h"

// The generator behind the noise start of each diffusion line: a 32-bit
// xorshift (shifts 13, 17, 5) that every engine owns, seeded once from its
// placement's seed for its separation when the engine is initialised. Each line draws from its own
// engine's generator, so the dots of a separation do not depend on how the
// separations' lines are interleaved or on which threads they run.
class HTLineRandom {
 public:
  void Seed(uint32_t seed) { state_ = seed ? seed : 0x2545F491u; }
  uint32_t Next() {
    uint32_t x = state_;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return state_ = x;
  }

 private:
  uint32_t state_ = 0x2545F491u;
};

// --- placements --------------------------------------------------------------

// The noise table shared by every engine of a diffusion placement: 4 x input
// width entries in 0 .. `noise_modulus` - 1, drawn from the placement's seed
// by PreInitProcess. The
// integer families subtract `noise_centre` when they read an entry; the
// variable-coefficient placement stores the entries already centred.
class KLV_API CHTPlaceErrDif : public CHTKlvPlacement {
 public:
  bool PreInitProcess(image_info* in, image_info* out) override;
  CHTRip* CreateRip(int sep, int color, bool extra, int curve_no, MLPROCCURVES* curves,
                    uint8_t* out_buf, unsigned long bytes_between_lines,
                    unsigned long out_lines) override;

  const int16_t* Noise() const { return noise_.empty() ? nullptr : noise_.data(); }
  size_t NoiseSize() const { return noise_.size(); }
  bool NoiseCentred() const { return centred_; }

  int noise_modulus = 257;
  int noise_centre = 128;

 protected:
  // The engine of the family for one-bit output (8-bit or 16-bit input).
  virtual CHTRip* NewSingleLevel(bool in16);
  // The multi-level engines of the family (variable-dot or not); null when
  // the family has none.
  virtual CHTRip* NewMultiLevel(bool in16, bool vardot);
  virtual bool PrepareFamily() { return true; }
  CHTRip* Finish(CHTRip* rip, int sep, int color, bool extra, int curve_no, MLPROCCURVES* curves,
                 uint8_t* out_buf, unsigned long stride, unsigned long lines);

  std::vector<int16_t> noise_;
  bool centred_ = false;
};

// Matrix-modulated diffusion: a 16-bit screen read from a screen file with
// levels 2047 (thresholds 0..2045).
class KLV_API CHTPlaceErrDifMtx : public CHTPlaceErrDif {
 public:
  // The matrix file (at most 63 characters are kept).
  void SetMatrixFile(const char* name);
  // Uses screens made elsewhere instead of the file (not owned).
  void SetMatrix(CHTThreshArray<unsigned short>* array) { external_ = array; }
  CHTThreshArray<unsigned short>* Matrix() const { return external_ ? external_ : array_.get(); }
  void BeginProcess() override;

 protected:
  CHTRip* NewSingleLevel(bool in16) override;
  CHTRip* NewMultiLevel(bool in16, bool vardot) override;
  bool PrepareFamily() override;

  std::string file_;
  std::unique_ptr<CHTThreshArray<unsigned short>> array_;
  CHTThreshArray<unsigned short>* external_ = nullptr;
};

// Screen-modulated diffusion: screens (not owned) or a one-row pattern of
// `pattern_type` 0..3 from amplitudes A and B around the middle of the range.
class KLV_API CHTPlaceErrDifScreen : public CHTPlaceErrDif {
 public:
  void SetScreens(CHTThreshArray<unsigned short>* array) { screens_ = array; }
  CHTThreshArray<unsigned short>* Screens() const { return screens_; }
  // The pattern an engine of `color` uses (reversed for one colour, chosen by
  // the input's number of process colours). False for an unknown type.
  bool Pattern(int color, std::vector<uint16_t>& out) const;

  int pattern_type = 0;
  int amp_a = 963;
  int amp_b = 578;
  int pattern_range = 2048;

 protected:
  CHTRip* NewSingleLevel(bool in16) override;
  CHTRip* NewMultiLevel(bool in16, bool vardot) override;

  CHTThreshArray<unsigned short>* screens_ = nullptr;
};

// Variable-coefficient diffusion: a centred noise table.
class KLV_API CHTPlaceErrDifVarCoef : public CHTPlaceErrDif {
 public:
  CHTPlaceErrDifVarCoef() { centred_ = true; }

 protected:
  CHTRip* NewSingleLevel(bool in16) override;
  CHTRip* NewMultiLevel(bool in16, bool vardot) override;
};

// --- engines -----------------------------------------------------------------

// What every diffusion engine shares: the tone line, the per-pixel dot line,
// the noise table and the serpentine direction.
class KLV_API CHTRipDiffusion : public CHTRipKlv {
 public:
  ~CHTRipDiffusion() override;
  bool Init(CHTPlacement* placement, bool threaded, int sep, int color, bool extra, int curve_no,
            MLPROCCURVES* curves, uint8_t* out_buf, unsigned long bytes_between_lines,
            unsigned long out_lines) override;
  void ProcessLine() override;

  bool GetDirection() const { return right_to_left_; }
  // Restarts the line noise generator (Init seeds it from the placement).
  void SetNoiseSeed(uint32_t seed) { random_.Seed(seed); }

 protected:
  // Allocates the family's error lines and tables (after the curve exists).
  virtual bool Prepare(CHTPlacement* placement) = 0;
  // Screens the tone line into dots_ (0 or 0xFF per output pixel), scanning
  // from the right when right_to_left_; `noise` holds the line's entries in
  // scan order.
  virtual void DiffuseLine(const int16_t* noise) = 0;
  // After the line is packed, before the direction turns.
  virtual void EndLine() {}
  virtual bool Input16() const { return false; }
  // A family whose tone-0 pixels print nothing and carry no error while the
  // error lines are zero may skip a line with no ink: it says so here, and
  // ErrorsClear tells whether its error lines are all zero now.
  virtual bool SkipsBlankLines() const { return false; }
  virtual bool ErrorsClear() const { return false; }

  bool line_paper_ = false;  // the current line has no ink
  const int16_t* noise_ = nullptr;
  size_t noise_size_ = 0;
  bool right_to_left_ = false;
  HTLineRandom random_;
  std::vector<uint16_t> tones_;
  std::vector<uint8_t> dots_;
};

// Plain error diffusion.
class KLV_API CHTRipErrDif : public CHTRipDiffusion {
 public:
  CHTRipErrDif() { exact_curve_ = false; }

 protected:
  bool Prepare(CHTPlacement* placement) override;
  void DiffuseLine(const int16_t* noise) override;
  void EndLine() override { err_a_.swap(err_b_); }
  // A tone of 0 has a noise limit of 0: with zero errors around it, its
  // running value is 0, it prints nothing and carries 0 on.
  bool SkipsBlankLines() const override { return true; }
  bool ErrorsClear() const override { return errors_clear_; }

  std::vector<int16_t> err_a_, err_b_;  // width + 4, pixel x at x + 2
  std::vector<int16_t> limit_;          // noise limit per tone
  bool errors_clear_ = true;            // err_a_ and err_b_ are all zero
};
class KLV_API CHTRipErrDif16 : public CHTRipErrDif {
 protected:
  bool Input16() const override { return true; }
};

// Matrix-modulated diffusion.
class KLV_API CHTRipErrDifMtx : public CHTRipErrDif {
 public:
  CHTRipErrDifMtx() { exact_curve_ = true; }
  const CHTThreshTable<unsigned short>& GetTable() const { return table_; }

 protected:
  bool SkipsBlankLines() const override { return false; }  // the matrix may print tone 0
  bool Prepare(CHTPlacement* placement) override;
  void DiffuseLine(const int16_t* noise) override;
  void EndLine() override;

  CHTThreshTable<unsigned short> table_;
  uint16_t row_ = 0, phase_ = 0;
};
class KLV_API CHTRipErrDifMtx16 : public CHTRipErrDifMtx {
 protected:
  bool Input16() const override { return true; }
};

// Screen-modulated diffusion.
class KLV_API CHTRipErrDifScreen : public CHTRipErrDif {
 public:
  const CHTThreshTable<unsigned short>& GetTable() const { return table_; }

 protected:
  bool SkipsBlankLines() const override { return false; }  // the screen may print tone 0
  bool Prepare(CHTPlacement* placement) override;
  void DiffuseLine(const int16_t* noise) override;
  void EndLine() override;

  CHTThreshTable<unsigned short> table_;
  uint16_t row_ = 0, phase_ = 0;
};
class KLV_API CHTRipErrDifScreen16 : public CHTRipErrDifScreen {
 protected:
  bool Input16() const override { return true; }
};

// Variable-coefficient diffusion.
class KLV_API CHTRipErrDifVarCoef : public CHTRipDiffusion {
 protected:
  bool Prepare(CHTPlacement* placement) override;
  void DiffuseLine(const int16_t* noise) override;
  void EndLine() override;

  std::vector<int16_t> err_a_, err_b_;  // width + 2, pixel x at x + 1; B is the next line
  uint32_t height_ = 0;
  uint32_t lines_done_ = 0;
};
class KLV_API CHTRipErrDifVarCoef16 : public CHTRipErrDifVarCoef {
 protected:
  bool Input16() const override { return true; }
};

// The variable-coefficient weights: 2048 rows of (ahead, behind-below, below),
// each row summing to 1 and row i equal to row 2047 - i.
struct HTVarCoefRow {
  float ahead, behind_below, below;
};
KLV_API const HTVarCoefRow* HTVarCoefTable();
// The same weights times 4096, rounded: what the variable-coefficient engines
// use (the error below is what the two weights leave).
struct HTVarCoefFixed {
  int16_t ahead, behind_below;
};
KLV_API const HTVarCoefFixed* HTVarCoefFixedTable();

// Noise limit for tone t (0..2047): the noise is clamped to -limit..limit so
// that near 0 and 2047 it cannot push the running value past the range.
inline int HTNoiseLimit(int t) {
  return t < 128 ? t : t > 1919 ? 2047 - t : 32767;
}
