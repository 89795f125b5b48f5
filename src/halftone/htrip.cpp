// SPDX-License-Identifier: MIT
// CHTRip: a separation engine's output buffer, line bookkeeping and worker.
#include <algorithm>
#include <exception>
#include <new>
#include <vector>

#include "klv/halftone_rip.h"
#include "klv/log.h"

using klv::platform::Event;

CHTRip::CHTRip() = default;

CHTRip::~CHTRip() {
  StopWorker();
}

// The one way an engine's worker starts: the three manual-reset events, the
// thread, and a wait until the worker is ready for lines. Engines call it last
// in Init, once everything the worker screens with exists. When any part
// cannot be made, what was made goes again and the engine stays unthreaded.
bool CHTRip::StartWorker() {
  StopWorker();
  try {
    ev_proc_avail_ = std::make_unique<Event>(Event::Mode::kManualReset, false);
    ev_data_ready_ = std::make_unique<Event>(Event::Mode::kManualReset, false);
    ev_quit_ = std::make_unique<Event>(Event::Mode::kManualReset, false);
  } catch (const std::exception&) {
    KLV_LOG(KLV_LOG_WARNING, "halftone engine %u: no worker events; it runs unthreaded",
            unsigned(sep_));
    StopWorker();
    return false;
  }
  threaded_ = true;
  if (!worker_.Start([this] { ThreadProc(); })) {
    StopWorker();  // runs on the caller's thread instead
    return false;
  }
  ev_proc_avail_->Wait();
  return true;
}

// Ends the worker (quit, then join) and drops its events. Safe to call
// whether or not a worker runs; every engine class whose state the worker
// screens with calls it first in its destructor.
void CHTRip::StopWorker() {
  if (ev_quit_) ev_quit_->Set();
  worker_.Join();
  threaded_ = false;
  ev_proc_avail_.reset();
  ev_data_ready_.reset();
  ev_quit_.reset();
}

bool CHTRip::ReleaseWorker() {
  const bool had = threaded_;
  if (had) CheckProcAvail();  // a worker still screening finishes first
  StopWorker();
  return had;
}

bool CHTRip::Init(CHTPlacement* placement, bool threaded, int sep, int color, bool extra,
                  int curve_no, MLPROCCURVES* /*curves*/, uint8_t* out_buf,
                  unsigned long bytes_between_lines, unsigned long out_lines) {
  if (!placement) return false;
  sep_ = uint8_t(sep);
  color_ = uint8_t(color);
  extra_ = extra;
  curve_no_ = uint8_t(curve_no);
  in_ = placement->InImin();
  out_ = placement->OutImin();
  if (!in_ || !out_) {
    KLV_LOG(KLV_LOG_ERROR, "halftone engine: the placement has no image descriptions");
    return false;
  }
  out_bits_ = curve_no_ ? uint32_t(placement->GetSepOutputBits()) : out_->bits_per_sample;
  in_width_ = uint32_t(in_->width);
  out_width_ = uint32_t(out_->width);
  uint32_t bps = in_->bits_per_sample;
  uint32_t sample_bytes = (bps + 7) / 8;
  in_step_ = in_->planar ? sample_bytes : (in_->samples + in_->mask_samples) * bps / 8;
  in_bytes_per_line_ = in_->bytes_per_line;
  out_bytes_per_line_ = uint32_t((uint64_t(out_width_) * out_bits_ + 7) / 8);
  last_pixel_ = in_width_ && sample_bytes ? (in_width_ - 1) * in_step_ / sample_bytes : 0;
  if (!SetOutBuf(out_buf, bytes_between_lines, out_lines)) return false;
  SetOutLine(0);
  if (threaded) StartWorker();
  return true;
}

bool CHTRip::SetOutBuf(uint8_t* buf, unsigned long stride, unsigned long lines) {
  owned_out_.reset();
  if (buf) {
    out_base_ = buf;
    out_stride_ = stride;
  } else {
    uint64_t bytes = uint64_t(lines) * out_bytes_per_line_;
    owned_out_.reset(new (std::nothrow) uint8_t[bytes ? bytes : 1]());
    if (!owned_out_) {
      KLV_LOG(KLV_LOG_ERROR, "no memory for %lu output lines of %u bytes", lines,
              out_bytes_per_line_);
      out_base_ = nullptr;
      return false;
    }
    out_base_ = owned_out_.get();
    out_stride_ = out_bytes_per_line_;
  }
  out_lines_ = lines;
  SetOutLine(0);
  return true;
}

unsigned long CHTRip::StartProcessLine(uint8_t* lines, unsigned long n) {
  if (!threaded_) {
    unsigned long done = 0;
    in_ptr_ = lines;
    while (done < n && !IsBufFull()) {
      ProcessLine();
      in_ptr_ += in_bytes_per_line_;
      ++done;
    }
    return done;
  }
  Event* waits[2] = {ev_proc_avail_.get(), ev_quit_.get()};
  if (Event::WaitAny(waits) != 0) return 0;
  unsigned long take = std::min(n, GetLinesLeft());
  in_ptr_ = lines;
  lines_to_process_ = take;
  if (take > 0) {
    ev_proc_avail_->Reset();
    ev_data_ready_->Set();
  }
  return take;
}

long CHTRip::ThreadProc() {
  ev_proc_avail_->Set();
  Event* waits[2] = {ev_data_ready_.get(), ev_quit_.get()};
  while (Event::WaitAny(waits) == 0) {
    ev_data_ready_->Reset();
    for (unsigned long i = 0; i < lines_to_process_; ++i) {
      ProcessLine();
      in_ptr_ += in_bytes_per_line_;
    }
    ev_proc_avail_->Set();
  }
  return 0;
}

namespace {
HTRIPSTAT wait_pair(bool threaded, Event* ev, Event* quit) {
  if (!threaded) return HTRIP_NOTHREAD;
  Event* waits[2] = {ev, quit};
  return Event::WaitAny(waits) == 0 ? HTRIP_SIGNALED : HTRIP_QUIT;
}
void set_event(Event* ev, bool on) {
  if (!ev) return;
  if (on)
    ev->Set();
  else
    ev->Reset();
}
}  // namespace

HTRIPSTAT CHTRip::CheckProcAvail() {
  return wait_pair(threaded_, ev_proc_avail_.get(), ev_quit_.get());
}
HTRIPSTAT CHTRip::CheckDataReady() {
  return wait_pair(threaded_, ev_data_ready_.get(), ev_quit_.get());
}
void CHTRip::SetProcAvail(bool on) {
  set_event(ev_proc_avail_.get(), on);
}
void CHTRip::SetDataReady(bool on) {
  set_event(ev_data_ready_.get(), on);
}
void CHTRip::SetQuit(bool on) {
  set_event(ev_quit_.get(), on);
}
