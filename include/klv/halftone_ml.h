// SPDX-License-Identifier: MIT
// Multi-level and variable-dot rendering for printers with several drop
// sizes: each output pixel is a drop code of 2, 4 or 8 bits.
//
// CHTRipML splits a separation's tone range into levels, each between a lower
// and an upper drop with a middle drop in between, as the printer driver's
// multi-level process record (MLPROCINFO) describes. It works in one of two
// modes:
//  - table mode: a per-value table gives, for every input value, the level's
//    codes, the coverage f of upper drops and the middle value m; a screen or
//    two coupled error diffusions then choose a code per pixel;
//  - curve mode (the colour record has level curves): one ordinary one-bit
//    engine per level curve screens the line and their dots are merged into a
//    code per pixel, the larger drop winning.
//
// Rules this library chooses where the process record leaves them open:
//  - Inside a level the position q (0 at the level start, bent by the
//    level's bend) is scaled to the whole range, F. With a middle drop that
//    differs from the lower and the upper drop, the first half of the level
//    fills the area with middle drops (total coverage b = 2F) and the second
//    half replaces them by upper drops (f = 2F - full); without one, f = b = F.
//    Larger drops thus enter only as the smaller ones fill.
//  - The lower code of level 0 is 0; that of each further level is the upper
//    code of the level before it.
//  - Screens use m = b directly (a pixel prints the middle drop when its
//    threshold lies between f and b); diffusions use the share of the area
//    left by upper drops, (b - f) x full / (full - f).
//  - Curve mode merges the level engines' output through a fixed table
//    (HTMLMergeTable): level engine s with value v (1 bit, or a 2-bit code of
//    a multi-level level engine) gives the natural code (2^bits - 1) x s + v,
//    the highest engine that printed wins, so larger drops enter only where
//    the smaller ones have filled; when there are more natural codes than
//    output codes they are scaled to the output range, rounding up.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "klv/halftone_diffusion.h"
#include "klv/halftone_rip.h"
#include "klv/halftone_screen.h"

// One per-value table entry (8 bytes).
struct HTMLEntry {
  uint8_t mid;       // middle drop code
  uint8_t upper;     // upper drop code
  uint16_t f;        // coverage of upper drops, 0..range - 1
  uint16_t m;        // middle value (threshold or diffused share)
  uint8_t lower;     // lower drop code
  uint8_t coverage;  // the tone as a fraction of 255
};
static_assert(sizeof(HTMLEntry) == 8);

class KLV_API CHTRipML : public CHTRip {
 public:
  CHTRipML();
  ~CHTRipML() override;
  bool Init(CHTPlacement* placement, bool threaded, int sep, int color, bool extra, int curve_no,
            MLPROCCURVES* curves, uint8_t* out_buf, unsigned long bytes_between_lines,
            unsigned long out_lines) override;
  void ProcessLine() override;

  // Curve mode: screens the line with every level engine and merges the dots
  // into codes_.
  virtual void ProcessCurves();
  // The middle value for upper coverage f, total coverage b and full range c.
  virtual uint16_t doCalcMidval(uint16_t f, uint16_t b, uint16_t c);
  // Adjusts the upper coverage of input value `index` (the variable-dot
  // engines record it and map it through the level's coverage curve).
  virtual uint16_t doCoverageAdjustment(const MLPROCCOLORINFO* rec, int level, int index,
                                        uint16_t value, uint16_t mid, uint16_t max);
  virtual uint16_t getCoverageLevel(const MLPROCCOLORINFO* rec, int level, uint16_t value,
                                    uint16_t max);

  bool IsCurveMode() const { return !subs_.empty(); }
  const std::vector<HTMLEntry>& GetTable() const { return table_; }
  size_t GetSubCount() const { return subs_.size(); }
  CHTRip* GetSub(size_t i) const { return subs_[i].get(); }
  uint32_t GetRange() const { return range_; }

 protected:
  // Table mode: before the table is built (a screen engine selects its
  // screen and sets the range), after it (error lines), and the line itself,
  // which fills codes_ with one code per output pixel.
  virtual bool PreTable(CHTPlacement*) { return true; }
  virtual bool PostTable(CHTPlacement*) { return true; }
  virtual void ProcessTableLine() = 0;
  virtual bool Input16() const { return false; }
  // Whether the line may be read straight from 8-bit samples (see
  // direct_indices_).
  virtual bool DirectIndices() const { return false; }
  // Whether level curves in the colour record select curve mode.
  virtual bool AllowCurveMode() const { return true; }
  // The colour record of table mode.
  virtual const MLPROCCOLORINFO* TableRecord(CHTKlvPlacement* p, MLPROCCOLORINFO* buf);
  bool BuildTable(CHTPlacement* placement, const MLPROCCOLORINFO* rec);
  bool BuildCurves(CHTKlvPlacement* p);
  // Reads the current input line into per-pixel table indices.
  void ReadIndices();

  bool exact_curve_ = true;
  bool midval_direct_ = false;  // doCalcMidval returns b (screens)
  bool mirror_ = false;
  bool invert_output_ = false;
  uint16_t invert_mask_ = 0;
  uint32_t range_ = 2048;
  uint8_t in_shift_ = 0;
  uint32_t size_ = 256;
  // 8-bit input read one sample a pixel, left to right: the samples are the
  // table indices and the index line is skipped.
  bool direct_indices_ = false;
  std::vector<std::unique_ptr<CHTRip>> subs_;
  MLProcCurvesRef level_curves_;
  std::vector<HTMLEntry> table_;
  std::vector<uint8_t> xlate_;  // curve mode: merged level output -> code
  uint8_t sub_bits_ = 1;        // bits each level engine gives a pixel
  std::vector<uint16_t> idx_;   // per-pixel table index of the current line
  std::vector<uint8_t> codes_;  // per-pixel code of the current line
};

// The curve-mode merge table for `subs` level engines (1..8) of `sub_bits`
// bits (1 or 2) each and `out_bits` output bits: indexed by the engines'
// values, engine s at bit s x sub_bits. Empty for other arguments.
KLV_API std::vector<uint8_t> HTMLMergeTable(int subs, int sub_bits, int out_bits);

// Table-mode threshold screening: code = upper when the threshold is below f,
// else middle when it is below m, else lower.
template <class T>
class KLV_API CHTRipMLScreen : public CHTRipML {
 public:
  CHTRipMLScreen() { midval_direct_ = true; }
  const CHTThreshTable<T>& GetScreenTable() const { return screen_; }

 protected:
  bool DirectIndices() const override { return true; }
  bool PreTable(CHTPlacement* placement) override;
  bool PostTable(CHTPlacement* placement) override;
  void ProcessTableLine() override;

  CHTThreshTable<T> screen_;
  uint16_t row_ = 0, phase_ = 0;
  // With 8-bit samples and 8-bit thresholds: the code of every (sample,
  // threshold) pair, at sample x 256 + threshold, so that a pixel is two
  // loads. Empty otherwise.
  std::vector<uint8_t> pair_codes_;
};
template <class T>
class KLV_API CHTRipMLScreen16 : public CHTRipMLScreen<T> {
 protected:
  bool Input16() const override { return true; }
};

// The families of multi-level diffusion: each brings the threshold
// modulation and error weights of the single-level engine of the same name.
enum class HTDiffusionFamily : uint8_t { Plain, Matrix, Screen, VarCoef };

// The per-value entry the integer diffusions read: the table entry's
// coverages with the noise limit of each, masks for the plain upper process
// (f != 0: it may print; f = 2047: a printed drop carries 1027), and the code
// for each outcome indexed by (upper drop) x 2 + (middle crossing): lower,
// middle, upper, upper (16 bytes).
struct HTMLFast {
  int16_t f, m, lim_f, lim_m;
  int16_t may_print, full;
  uint8_t code[4];
};
static_assert(sizeof(HTMLFast) == 16);

// The per-value entry the variable-coefficient diffusions read: both tones,
// the noise scale of each (min(128, t, 2047 - t)), the fixed-point weights
// of each tone, and the codes of the three drops.
struct HTMLVarCoef {
  int16_t f, m, f_scale, m_scale;
  HTVarCoefFixed f_w, m_w;
  uint8_t lower, mid, upper, unused;
};
static_assert(sizeof(HTMLVarCoef) == 20);

// The state of the two coupled diffusions of a multi-level engine: one on the
// coverage f of upper drops, one on the middle value m, each with its own
// pair of error lines and the same noise entry per pixel.
struct KLV_API HTMLDiffusion {
  HTDiffusionFamily family = HTDiffusionFamily::Plain;
  const int16_t* noise = nullptr;
  bool right_to_left = false;
  HTLineRandom random;
  // The error lines: width + 4 errors, pixel x at x + 2; for the
  // variable-coefficient family width + 2, pixel x at x + 1, B the next line.
  std::vector<int16_t> up_a, up_b, mid_a, mid_b;
  std::vector<HTMLFast> fast;  // the per-value table with noise limits
  // Unused (the variable-coefficient family diffuses 16-bit errors too).
  std::vector<float> fup_a, fup_b, fmid_a, fmid_b;
  // The variable-coefficient family's per-value table.
  std::vector<HTMLVarCoef> varcoef;
  uint32_t height = 0, lines_done = 0;
  // Matrix and screen families: the thresholds, current row and phase.
  CHTThreshTable<unsigned short> table;
  uint16_t row = 0, phase = 0;
  // What each pixel of the line chose (0 lower, 1 middle, 2 upper); filled
  // only when the variable-dot step needs it.
  std::vector<uint8_t> kinds;
};

// Table-mode error diffusion: two coupled diffusions on f (upper drops) and
// m (middle drops). An upper drop is chosen where the upper process prints
// (never where f is 0); otherwise the middle process chooses between the
// middle and the lower drop. Both pay for a crossing of their threshold.
// CHTRipMLErrDif uses the plain family's weights and threshold; the Mtx,
// Screen and VarCoef forms use those of their single-level families.
class KLV_API CHTRipMLErrDif : public CHTRipML {
 public:
  CHTRipMLErrDif() { exact_curve_ = false; }
  // Restarts the line noise generator (Init seeds it from the placement).
  void SetNoiseSeed(uint32_t seed) { ed_.random.Seed(seed); }
  const HTMLDiffusion& GetDiffusion() const { return ed_; }

 protected:
  CHTRipMLErrDif(HTDiffusionFamily family, bool exact) {
    ed_.family = family;
    exact_curve_ = exact;
  }
  bool DirectIndices() const override { return true; }
  bool PostTable(CHTPlacement* placement) override;
  void ProcessTableLine() override;

  HTMLDiffusion ed_;
};
class KLV_API CHTRipMLErrDif16 : public CHTRipMLErrDif {
 protected:
  bool Input16() const override { return true; }
};
class KLV_API CHTRipMLErrDifMtx : public CHTRipMLErrDif {
 public:
  CHTRipMLErrDifMtx() : CHTRipMLErrDif(HTDiffusionFamily::Matrix, true) {}
};
class KLV_API CHTRipMLErrDifMtx16 : public CHTRipMLErrDifMtx {
 protected:
  bool Input16() const override { return true; }
};
class KLV_API CHTRipMLErrDifScreen : public CHTRipMLErrDif {
 public:
  CHTRipMLErrDifScreen() : CHTRipMLErrDif(HTDiffusionFamily::Screen, false) {}
};
class KLV_API CHTRipMLErrDifScreen16 : public CHTRipMLErrDifScreen {
 protected:
  bool Input16() const override { return true; }
};
class KLV_API CHTRipMLErrDifVarCoef : public CHTRipMLErrDif {
 public:
  CHTRipMLErrDifVarCoef() : CHTRipMLErrDif(HTDiffusionFamily::VarCoef, true) {}
};
class KLV_API CHTRipMLErrDifVarCoef16 : public CHTRipMLErrDifVarCoef {
 protected:
  bool Input16() const override { return true; }
};

// The variable-dot offset step: each level of the colour record has k level
// curves (k = level curves / levels, usually 2), turned into 512-entry tables
// over the tone range reduced below 512. A pixel that printed a drop of a
// level with coverage c (upper coverage, middle value or the top, on the
// reduced range) compares a variable-dot threshold t (0..255) with the level's
// curves, which fall from the first to the last: the first curve j with
// t >= curve_j[c] selects code offset j, and t below all of them offset k.
// With two curves this is: t >= curve0 the first offset, t < curve1 the third,
// else the second. The offsets are the low bytes of the record's variable-dot
// values, moved above the record's code bits with the process record's bit 4
// flag (curve number 0 only).
struct KLV_API HTVarDotSteps {
  int per_level = 0;  // curves per level; 0 when no offsets are added
  int shift = 0;      // tone range >> shift fits 0..511
  uint16_t top = 0;   // the reduced top tone
  std::vector<uint16_t> curves;
  std::vector<int16_t> block;  // code -> first curve of the level it is the upper code of
  uint8_t offset[33] = {};

  // Shift and top for a tone range.
  void Reduce(uint32_t range);
  // The curve tables and offsets; false (and no offsets) when the record's
  // curve count is not a multiple of its levels.
  bool Build(const MLPROCCOLORINFO& rec, const MLPROCINFO* proc, int curve_no);
  bool Active() const { return per_level > 0; }
  // The offset for a pixel with drop `code`, reduced coverage c and threshold t.
  uint8_t Offset(uint8_t code, uint32_t c, uint32_t t) const {
    const int b = block[code];
    if (b < 0) return 0;
    if (c > 511) c = 511;
    const uint16_t* cv = curves.data() + size_t(b) * 512 + c;
    // Counts the leading curves the threshold stays below, without branches
    // (the thresholds are noise to a predictor).
    int j = 0, below = 1;
    for (int i = 0; i < per_level; ++i) {
      below &= int(t < cv[size_t(i) * 512]);
      j += below;
    }
    return offset[j];
  }
};

// The variable-dot screen ("VarDot.HTS") of a separation: phase 0 below the
// number of screens, else a phase drawn from the separation's seed. False when
// the placement holds none.
KLV_API bool HTVarDotScreenFor(CHTPlacement* placement, int sep,
                               CHTThreshTable<unsigned char>& out);

// Variable-dot rendering: the upper coverage goes through the level's coverage
// curve and the adjusted values are kept per input value.
class KLV_API CHTRipMLVD : public CHTRipML {
 public:
  uint16_t doCoverageAdjustment(const MLPROCCOLORINFO* rec, int level, int index, uint16_t value,
                                uint16_t mid, uint16_t max) override;
  uint16_t getCoverageLevel(const MLPROCCOLORINFO* rec, int level, uint16_t value,
                            uint16_t max) override;

  struct Adjusted {
    uint16_t value;  // the upper coverage before the coverage curve
    uint16_t mid;    // doCalcMidval of it
  };
  const std::vector<Adjusted>& GetAdjusted() const { return adjusted_; }

 protected:
  const MLPROCCOLORINFO* TableRecord(CHTKlvPlacement* p, MLPROCCOLORINFO* buf) override;
  bool AllowCurveMode() const override { return false; }

  std::vector<Adjusted> adjusted_;
  MLPROCCOLORINFO vd_rec_{};  // the record with its level curves, as given
};

// Variable-dot error diffusion: the coupled diffusions choose a base code and
// a coverage; with two curves per level, the variable-dot screen's threshold
// against the two 512-entry curves of the code's level adds one of the
// record's three code offsets. The Mtx, Screen and VarCoef forms choose the
// base code with their families' diffusions; the offset step is the same.
class KLV_API CHTRipMLVDErrDif : public CHTRipMLVD {
 public:
  CHTRipMLVDErrDif() { exact_curve_ = false; }
  void SetNoiseSeed(uint32_t seed) { ed_.random.Seed(seed); }
  const HTMLDiffusion& GetDiffusion() const { return ed_; }

 protected:
  CHTRipMLVDErrDif(HTDiffusionFamily family, bool exact) {
    ed_.family = family;
    exact_curve_ = exact;
  }
  bool DirectIndices() const override { return true; }
  bool PostTable(CHTPlacement* placement) override;
  void ProcessTableLine() override;

  HTMLDiffusion ed_;
  // Variable-dot screen and offset step (inactive without level curves).
  CHTThreshTable<unsigned char> vd_screen_;
  uint32_t vd_col_ = 0;
  uint16_t vd_row_ = 0;
  HTVarDotSteps steps_;
};
class KLV_API CHTRipMLVDErrDif16 : public CHTRipMLVDErrDif {
 protected:
  bool Input16() const override { return true; }
};
class KLV_API CHTRipMLVDErrDifMtx : public CHTRipMLVDErrDif {
 public:
  CHTRipMLVDErrDifMtx() : CHTRipMLVDErrDif(HTDiffusionFamily::Matrix, true) {}
};
class KLV_API CHTRipMLVDErrDifMtx16 : public CHTRipMLVDErrDifMtx {
 protected:
  bool Input16() const override { return true; }
};
class KLV_API CHTRipMLVDErrDifScreen : public CHTRipMLVDErrDif {
 public:
  CHTRipMLVDErrDifScreen() : CHTRipMLVDErrDif(HTDiffusionFamily::Screen, false) {}
};
class KLV_API CHTRipMLVDErrDifScreen16 : public CHTRipMLVDErrDifScreen {
 protected:
  bool Input16() const override { return true; }
};
class KLV_API CHTRipMLVDErrDifVarCoef : public CHTRipMLVDErrDif {
 public:
  CHTRipMLVDErrDifVarCoef() : CHTRipMLVDErrDif(HTDiffusionFamily::VarCoef, true) {}
};
class KLV_API CHTRipMLVDErrDifVarCoef16 : public CHTRipMLVDErrDifVarCoef {
 protected:
  bool Input16() const override { return true; }
};

// Variable-dot threshold screening. The base code is chosen as
// CHTRipMLScreen<T> does (the placement's screen against the upper coverage f
// and the middle value); a pixel with a drop then takes the variable-dot code
// offset of HTVarDotSteps, with the offset threshold read from the
// variable-dot screen ("VarDot.HTS") at the pixel's column, one row per line.
// Without level curves or variable-dot screens no offset is added.
template <class T>
class KLV_API CHTRipMLVDScreen : public CHTRipMLVD {
 public:
  CHTRipMLVDScreen() { midval_direct_ = true; }
  const CHTThreshTable<T>& GetScreenTable() const { return screen_; }
  bool HasOffsets() const { return steps_.Active(); }

 protected:
  bool DirectIndices() const override { return true; }
  bool PreTable(CHTPlacement* placement) override;
  bool PostTable(CHTPlacement* placement) override;
  void ProcessTableLine() override;
  // The offset screen: set up after the table, and one line of thresholds
  // (0..255) per output pixel.
  virtual bool SetupOffsetScreen(CHTPlacement* placement);
  virtual void OffsetThresholds(uint8_t* out);

  CHTThreshTable<T> screen_;
  uint16_t row_ = 0, phase_ = 0;
  CHTThreshTable<unsigned char> vd_screen_;
  uint16_t vd_row_ = 0;
  HTVarDotSteps steps_;
  std::vector<uint8_t> vd_line_;
};
template <class T>
class KLV_API CHTRipMLVDScreen16 : public CHTRipMLVDScreen<T> {
 protected:
  bool Input16() const override { return true; }
};

// The screen form of variable-dot screening: as CHTRipMLVDScreen<T>, but the
// offset threshold comes from a second screen of the placement itself (the
// next separation's screen, or the same screen moved by half its size when
// there is one), scaled to 0..255, so that the offsets follow the same kind
// of dot pattern as the base codes at another angle or phase. It needs level
// curves but no variable-dot screen file.
template <class T>
class KLV_API CHTRipMLVDSScreen : public CHTRipMLVDScreen<T> {
 protected:
  bool SetupOffsetScreen(CHTPlacement* placement) override;
  void OffsetThresholds(uint8_t* out) override;

  CHTThreshTable<T> second_;
  uint16_t second_row_ = 0, second_phase_ = 0;
};
template <class T>
class KLV_API CHTRipMLVDSScreen16 : public CHTRipMLVDSScreen<T> {
 protected:
  bool Input16() const override { return true; }
};

extern template class CHTRipMLScreen<unsigned char>;
extern template class CHTRipMLScreen<unsigned short>;
extern template class CHTRipMLScreen16<unsigned char>;
extern template class CHTRipMLScreen16<unsigned short>;
extern template class CHTRipMLVDScreen<unsigned char>;
extern template class CHTRipMLVDScreen<unsigned short>;
extern template class CHTRipMLVDScreen16<unsigned char>;
extern template class CHTRipMLVDScreen16<unsigned short>;
extern template class CHTRipMLVDSScreen<unsigned char>;
extern template class CHTRipMLVDSScreen<unsigned short>;
extern template class CHTRipMLVDSScreen16<unsigned char>;
extern template class CHTRipMLVDSScreen16<unsigned short>;

// A sample process record for tests and demo drivers: 2-bit output, three
// drop sizes (codes 1 small, 2 medium, 3 large) in every colour record. With
// `level_curves` the colour records carry one level curve per drop (curve
// mode); otherwise three levels of widths 85, 85, 85 (table mode).
KLV_API void MLProcSample(MLPROCINFO& rec, bool level_curves);
