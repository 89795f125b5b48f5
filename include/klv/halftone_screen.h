// SPDX-License-Identifier: MIT
// Threshold screening: the screen placement that holds a job's screens and the
// engines that screen a line against a threshold table (8-bit or 16-bit input,
// 8-bit or 16-bit thresholds). A pixel prints when its curve-mapped tone is
// greater than the threshold at its position.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "klv/halftone_rip.h"
#include "klv/halftone_thresh.h"

// The placement of threshold screens: a threshold array (not owned) or five
// parallel per-screen arrays that the caller owns.
template <class T>
class KLV_API CHTPlaceScreen : public CHTKlvPlacement {
 public:
  void SetScreens(CHTThreshArray<T>* array);
  void SetScreens(uint16_t count, T*** rows, const uint16_t* heights, const uint16_t* shifts,
                  const uint32_t* widths, const uint32_t* levels);
  uint16_t GetNumScreens() const { return count_; }
  // A view of screen i (not owned); false when there is none.
  bool GetScreen(int i, T**& rows, uint32_t& width, uint16_t& height, uint16_t& shift,
                 uint32_t& levels) const;

  bool PreInitProcess(image_info* in, image_info* out) override;
  CHTRip* CreateRip(int sep, int color, bool extra, int curve_no, MLPROCCURVES* curves,
                    uint8_t* out_buf, unsigned long bytes_between_lines,
                    unsigned long out_lines) override;

  bool vardot_screen = false;  // the variable-dot engines use the screen form

 protected:
  uint16_t count_ = 0;
  CHTThreshArray<T>* array_ = nullptr;
  std::vector<T**> rows_;
  std::vector<uint16_t> heights_, shifts_;
  std::vector<uint32_t> widths_, levels_;
};

// A screen placement that owns its threshold array and drops it once every
// engine has copied its table (BeginProcess).
template <class T>
class KLV_API CHTPlaceScreenEx : public CHTPlaceScreen<T> {
 public:
  void Own(std::unique_ptr<CHTThreshArray<T>> array) {
    owned_ = std::move(array);
    this->SetScreens(owned_.get());
  }
  void BeginProcess() override {
    CHTPlaceScreen<T>::BeginProcess();
    this->SetScreens(static_cast<CHTThreshArray<T>*>(nullptr));
    owned_.reset();
  }

 private:
  std::unique_ptr<CHTThreshArray<T>> owned_;
};

// Screens one separation against a private, phase-rotated copy of its screen.
// 8-bit input; CHTRipScreen16 reads 16-bit input shifted right by 4.
template <class T>
class KLV_API CHTRipScreen : public CHTRipKlv {
 public:
  ~CHTRipScreen() override;
  bool Init(CHTPlacement* placement, bool threaded, int sep, int color, bool extra, int curve_no,
            MLPROCCURVES* curves, uint8_t* out_buf, unsigned long bytes_between_lines,
            unsigned long out_lines) override;
  void ProcessLine() override;

  const CHTThreshTable<T>& GetTable() const { return table_; }
  uint16_t GetRow() const { return row_; }
  uint16_t GetPhase() const { return phase_; }
  // Selects the plain per-pixel loop instead of the vectorised one (both give
  // the same dots; tests compare them).
  void SetPlainLoop(bool on) { plain_ = on; }

 protected:
  virtual uint32_t InputBits() const { return 8; }
  bool SelectScreen(CHTPlacement* placement, int sep, int curve_no);
  bool PrepareRows();
  bool FoldCurve();
  template <class In>
  void ScreenLine();
  void ScreenFolded(const uint8_t* in, uint32_t step);
  template <class In>
  void LookUpAndScreen(const In* in, uint32_t step);
  template <class V>
  void CompareRow(const V* values, const V* thresholds);

  CHTThreshTable<T> table_;
  uint16_t row_ = 0;
  uint16_t phase_ = 0;
  bool plain_ = false;
  // Each threshold row repeated to `period_` (a multiple of the width of at
  // least 16) plus 16 more, with the sign bit flipped so that a signed compare
  // orders unsigned values; the tone line and curve carry the same flip.
  std::vector<T> ext_;
  uint32_t ext_stride_ = 0;
  uint32_t period_ = 0;
  std::vector<T> tones_;
  std::vector<T> biased_curve_;
  // 8-bit input with a monotone tone curve: the curve is folded into the
  // thresholds, so that a line is screened by comparing its samples (inverted
  // for a falling curve) straight against them. folded_ holds, per threshold, the highest sample
  // that stays white (-1 when every sample prints), in ext_'s layout; values_
  // is the line's samples widened to 16 bits.
  bool fold_ = false;
  uint8_t fold_flip_ = 0;  // 0xFF: the curve falls, and the samples are inverted
  std::vector<uint16_t> folded_;
  std::vector<uint16_t> values_;
};

template <class T>
class KLV_API CHTRipScreen16 : public CHTRipScreen<T> {
 public:
  void ProcessLine() override;

 protected:
  uint32_t InputBits() const override { return 16; }
};

extern template class CHTPlaceScreen<unsigned char>;
extern template class CHTPlaceScreen<unsigned short>;
extern template class CHTRipScreen<unsigned char>;
extern template class CHTRipScreen<unsigned short>;
extern template class CHTRipScreen16<unsigned char>;
extern template class CHTRipScreen16<unsigned short>;
