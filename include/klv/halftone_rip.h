// SPDX-License-Identifier: MIT
// The halftone engine core: a separation's engine (CHTRip), the single-level
// engine base with its tone curve (CHTRipKlv), the level curves built from a
// multi-level process record (MLPROCCURVES) and the placement interface that
// creates and configures engines (CHTPlacement, CHTKlvPlacement).
//
// An engine turns one channel of continuous-tone lines into dot lines in an
// output line buffer. It may run on its own worker thread; the caller and the
// worker hand the engine back and forth through two manual-reset events
// (process-available, data-ready) and a quit event.
#pragma once

#include <cstdint>
#include <memory>

#include "klv/export.h"
#include "klv/halftone_mlproc.h"
#include "klv/halftone_seed.h"
#include "klv/halftone_thresh.h"
#include "klv/img.h"
#include "klv/platform.h"

class CHTRip;
template <class T>
class CHTThreshArray;

// Tone curves of one colour's levels, built from the level break points of a
// colour record: count curves of size entries, values 0..max_output.
struct MLPROCCURVES {
  int32_t count = 0;
  uint32_t size = 0;
  uint16_t max_output = 0;
  uint16_t** curves = nullptr;
};
using MLProcCurvesRef = std::shared_ptr<MLPROCCURVES>;

// Builds the level curves of `color` for input_bits-bit indices (2^input_bits
// entries) and output values 0..2^output_bits - 1. Null when the record has no
// level curves or the bit counts are outside 1..16.
KLV_API MLProcCurvesRef MLProcCurvesBuild(const MLPROCCOLORINFO& color, int input_bits,
                                          int output_bits);

// What CheckProcAvail / CheckDataReady report.
enum HTRIPSTAT : int32_t {
  HTRIP_NOTHREAD = 0,  // the engine is not threaded: nothing to wait for
  HTRIP_SIGNALED = 1,  // the awaited event was signalled
  HTRIP_QUIT = -1      // quit was signalled or the wait failed
};

// A halftoning set-up: the factory of per-separation engines. Only the slots
// the engines use are given behaviour here; the placements of the methods
// override the rest.
class KLV_API CHTPlacement {
 public:
  CHTPlacement() = default;
  CHTPlacement(const CHTPlacement&) = delete;
  CHTPlacement& operator=(const CHTPlacement&) = delete;
  virtual ~CHTPlacement();
  virtual bool Supports16BitSource() { return false; }
  virtual bool PreInitProcess(image_info* in, image_info* out);
  virtual int32_t NumExtraLines() { return 0; }
  virtual CHTRip* CreateRip(int sep, int color, bool extra, int curve_no, MLPROCCURVES* curves,
                            uint8_t* out_buf, unsigned long bytes_between_lines,
                            unsigned long out_lines) = 0;
  virtual void BeginProcess() {}
  virtual bool DoesProcess() { return false; }
  virtual unsigned long StartProcessLine(uint8_t* /*lines*/, unsigned long /*n*/) { return 0; }
  virtual void EndProcess() {}
  virtual bool SetLinearization(int /*count*/, uint16_t (* /*tables*/)[256],
                                const MLPROCINFO* /*record*/) {
    return false;
  }
  virtual uint8_t* GetThreadFlagArray() { return nullptr; }
  virtual bool IsThreaded() { return false; }
  virtual void Detach();
  virtual int GetDupFactorX() { return 1; }
  virtual int GetDupFactorY() { return 1; }
  virtual int GetSepOutputBits() { return 1; }
  virtual void SetSpecialMedia(bool /*on*/) {}

  image_info* InImin() const { return in_; }
  image_info* OutImin() const { return out_; }
  bool detach_delete = false;

  // The seed every random choice of this placement and its engines is drawn
  // from (diffusion noise and line starts, the phase of reused screens).
  // kHTDefaultSeed until set, so that a page screened twice gives the same
  // dots; set it before the filter is attached.
  void SetSeed(uint32_t seed) { seed_ = seed; }
  uint32_t Seed() const { return seed_; }
  // Separation sep's own seed, mixed from the placement's.
  uint32_t SepSeed(int sep) const { return HTSeedMix(seed_, uint32_t(sep)); }

 protected:
  image_info* in_ = nullptr;
  image_info* out_ = nullptr;
  uint32_t seed_ = kHTDefaultSeed;
};

// The placement of this library's own engines: the fields every engine reads
// at Init (mirror, invert mask, invert-output, process record, linearization
// tables, thread flags).
class KLV_API CHTKlvPlacement : public CHTPlacement {
 public:
  enum { kThreadFlags = 13 };
  ~CHTKlvPlacement() override;
  bool Supports16BitSource() override { return true; }
  bool PreInitProcess(image_info* in, image_info* out) override;
  bool SetLinearization(int count, uint16_t (*tables)[256], const MLPROCINFO* record) override;
  uint8_t* GetThreadFlagArray() override { return thread_flags; }
  bool IsThreaded() override;
  int GetSepOutputBits() override;
  void BeginProcess() override;
  virtual bool IsSepThreaded(int sep) { return thread_flags[sep % kThreadFlags] != 0; }
  // The colour record for a colour, or null without a process record.
  virtual const MLPROCCOLORINFO* GetColorInfo(int color, int curve_no, MLPROCCOLORINFO* buf);

  const MLPROCINFO* ProcInfo() const { return proc_info_.get(); }
  int NumLinTables() const { return lin_count_; }
  const uint16_t* LinTable(int i) const { return lin_tables_[i]; }
  // The variable-dot thresholds ("VarDot.HTS") loaded with a variable-dot
  // process record, or null.
  CHTThreshArray<unsigned char>* VarDotScreens() const { return vardot_.get(); }

  bool mirror = false;
  bool special_media = false;
  uint16_t invert_mask = 0;
  bool invert_output = false;
  uint8_t thread_flags[kThreadFlags] = {};

 protected:
  std::unique_ptr<MLPROCINFO> proc_info_;
  uint8_t lin_count_ = 0;
  uint16_t (*lin_tables_)[256] = nullptr;
  std::unique_ptr<CHTThreshArray<unsigned char>> vardot_;
};

// One separation's engine: buffers, line bookkeeping and the optional worker.
class KLV_API CHTRip {
 public:
  CHTRip();
  // Engines own buffers and a worker: they are neither copied nor assigned.
  CHTRip(const CHTRip&) = delete;
  CHTRip& operator=(const CHTRip&) = delete;
  virtual ~CHTRip();
  virtual bool Init(CHTPlacement* placement, bool threaded, int sep, int color, bool extra,
                    int curve_no, MLPROCCURVES* curves, uint8_t* out_buf,
                    unsigned long bytes_between_lines, unsigned long out_lines);
  // Screens the line at the current input pointer into the current output line
  // and advances the output line.
  virtual void ProcessLine() = 0;
  virtual void EndProcess() {}
  virtual long ThreadProc();

  bool SetOutBuf(uint8_t* buf, unsigned long bytes_between_lines, unsigned long lines);
  // Hands n consecutive input lines to the engine; returns how many it took.
  unsigned long StartProcessLine(uint8_t* lines, unsigned long n);

  uint8_t* GetOutBuf() const { return out_base_; }
  unsigned long GetOutLine() const { return out_line_; }
  unsigned long GetNumOutLine() const { return out_lines_; }
  unsigned long GetBytesPerLine() const { return out_bytes_per_line_; }
  unsigned long GetBytesBetweenLines() const { return out_stride_; }
  unsigned long GetLinesLeft() const { return out_lines_ - out_line_; }
  bool IsBufNotEmpty() const { return out_line_ != 0; }
  bool IsBufFull() const { return out_line_ >= out_lines_; }
  void ResetOutBuf() { SetOutLine(0); }
  void SetOutLine(unsigned long n) {
    out_line_ = n;
    out_ptr_ = out_base_ + n * out_stride_;
  }

  bool IsThreaded() const { return threaded_; }
  // Ends the engine's own worker so that its owner can run the engine on a
  // thread of the owner's (the halftone filter's per-separation lanes); the
  // engine then screens on whichever thread calls StartProcessLine. True
  // when there was a worker. Call it only while the worker is idle.
  bool ReleaseWorker();
  klv::platform::Event* GetProcAvailEvent() const { return ev_proc_avail_.get(); }
  HTRIPSTAT CheckProcAvail();
  HTRIPSTAT CheckDataReady();
  void SetProcAvail(bool on);
  void SetDataReady(bool on);
  void SetQuit(bool on);

  int GetSep() const { return sep_; }
  int GetOutBits() const { return out_bits_; }

 protected:
  // Starts the worker: the three events, the thread, and a wait until it is
  // ready. Called last in Init, once all the worker screens with exists.
  // False (the engine then runs unthreaded, with nothing of the worker left)
  // when an event or the thread cannot be made.
  bool StartWorker();
  // Quits and joins the worker and drops its events; does nothing without
  // one. Each engine family's base class calls it first thing in its
  // destructor (CHTRip's destructor too); the owner waits for
  // process-available before destroying an engine, so the worker is idle
  // while the engine's parts go.
  void StopWorker();

  uint8_t sep_ = 0;
  uint8_t color_ = 0;
  bool extra_ = false;
  uint8_t curve_no_ = 0;
  bool threaded_ = false;
  std::unique_ptr<klv::platform::Event> ev_proc_avail_, ev_data_ready_, ev_quit_;
  klv::platform::Thread worker_{"htrip"};
  image_info* in_ = nullptr;
  image_info* out_ = nullptr;
  uint32_t out_bits_ = 0;
  uint32_t in_width_ = 0;
  uint32_t out_width_ = 0;
  const uint8_t* in_ptr_ = nullptr;
  unsigned long lines_to_process_ = 0;
  uint32_t in_step_ = 0;  // bytes from one pixel's sample to the next
  std::unique_ptr<uint8_t[]> owned_out_;
  uint8_t* out_base_ = nullptr;
  uint8_t* out_ptr_ = nullptr;
  unsigned long out_lines_ = 0;
  unsigned long out_line_ = 0;
  uint32_t in_bytes_per_line_ = 0;
  uint32_t out_bytes_per_line_ = 0;
  unsigned long out_stride_ = 0;
  uint32_t last_pixel_ = 0;  // (width - 1) x step / bytes per sample, in samples
};

// The single-level engine base: owns the tone curve that maps an input sample
// (8-bit, or 16-bit shifted right by 4) to the engine's tone range.
class KLV_API CHTRipKlv : public CHTRip {
 public:
  ~CHTRipKlv() override { StopWorker(); }
  bool Init(CHTPlacement* placement, bool threaded, int sep, int color, bool extra, int curve_no,
            MLPROCCURVES* curves, uint8_t* out_buf, unsigned long bytes_between_lines,
            unsigned long out_lines) override;

  const uint16_t* GetCurve() const { return curve_.get(); }
  uint32_t GetCurveSize() const { return curve_size_; }
  uint32_t GetRange() const { return range_; }
  void SetExactCurve(bool on) { exact_curve_ = on; }
  // Lets the engines that can skip a line with no ink do so (the default);
  // off, every line takes the full per-pixel path (tests compare the two).
  void SetBlankSkip(bool on) { blank_skip_ = on; }

 protected:
  bool BuildCurve(CHTKlvPlacement* klv, MLPROCCURVES* curves);
  // Finds the paper sample: the raw sample value (0, else the largest) whose
  // tone is 0, if either has.
  void FindPaper();
  // True when blank skipping is on and every sample of the current input line
  // is the paper sample, so that the line's tones are all 0.
  bool LineIsPaper() const;

  bool exact_curve_ = true;
  bool mirror_ = false;
  bool invert_output_ = false;
  uint16_t invert_mask_ = 0;
  std::unique_ptr<uint16_t[]> curve_;
  uint32_t curve_size_ = 0;
  uint8_t in_shift_ = 0;
  uint32_t range_ = 2048;
  bool blank_skip_ = true;
  bool has_paper_ = false;
  uint16_t paper_ = 0;
};
