// SPDX-License-Identifier: MIT
#include "page_writer.h"

#include <sched.h>

#include <algorithm>
#include <cstring>
#include <system_error>

namespace klvdrv {

bool SeveralCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) return CPU_COUNT(&set) > 1;
  return std::thread::hardware_concurrency() > 1;
}

PageWriter::~PageWriter() {
  Close();
}

void PageWriter::SetPlain(bool plain) {
  tiff_.SetPlain(plain);
  preview_.SetPlain(plain);
  counter_.SetPlain(plain);
}

bool PageWriter::Open(const std::string& path) {
  StopPage();
  return tiff_.Open(path);
}

bool PageWriter::Close() {
  StopPage();
  return tiff_.Close();
}

bool PageWriter::StartPage(const PrintShape& shape, const std::vector<Separation>& separations,
                           const std::string& page_name, uint16_t page) {
  StopPage();
  if (!tiff_.StartPage(shape, separations, page_name, page)) return false;
  shape_ = shape;
  separations_ = separations;
  row_ = 0;
  tiff_failed_ = tiff_ended_ = false;
  // Without a thread to spare the page is written here.
  if (threaded_ && StartWorkers()) return true;
  StartPreview();
  mode_ = Mode::kHere;
  return true;
}

// (On the preview worker: the caller goes on meanwhile.)
void PageWriter::StartPreview() {
  counter_.SetShape(shape_.bits, shape_.width);
  preview_.Start(shape_, separations_);
  png_begun_ = preview_.BeginPng(&png_);
}

bool PageWriter::StartWorkers() {
  const size_t line = shape_.LineBytes();
  band_lines_ = static_cast<uint32_t>(std::clamp<size_t>(kBandBytes / line, 1, kBandLines));
  const size_t band_bytes = line * band_lines_;
  if (!ReserveRing(band_bytes * kBands)) return false;
  for (uint32_t i = 0; i < kBands; ++i) bands_[i] = {ring_.get() + i * band_bytes, 0, 0};
  produced_ = 0;
  consumed_.fill(0);
  ending_ = stop_ = preview_done_ = false;
  png_ready_ = 0;
  filling_ = nullptr;
  mode_ = Mode::kThreaded;
  try {
    threads_[kTiff] = std::thread(&PageWriter::Run, this, kTiff);
    threads_[kPreview] = std::thread(&PageWriter::Run, this, kPreview);
    threads_[kPng] = std::thread(&PageWriter::RunPng, this);
  } catch (const std::system_error&) {
    JoinWorkers(false);  // the ones that started
    return false;
  }
  return true;
}

// The ring is kept from page to page: its lines are not zeroed first.
bool PageWriter::ReserveRing(size_t bytes) {
  if (bytes <= ring_bytes_) return true;
  ring_ = LargeBlock(bytes);
  ring_bytes_ = ring_ ? bytes : 0;
  return ring_ != nullptr;
}

bool PageWriter::WriteTiff(const uint8_t* lines, uint32_t first, uint32_t count) {
  const size_t line = shape_.LineBytes();
  for (uint32_t i = 0; i < count; ++i)
    if (!tiff_.WriteLine(first + i, lines + i * line)) return false;
  return true;
}

void PageWriter::CountPreview(const uint8_t* lines, uint32_t first, uint32_t count) {
  const size_t line = shape_.LineBytes(), plane = shape_.PlaneBytes();
  for (uint32_t i = 0; i < count; ++i, lines += line) {
    preview_.AddLine(first + i, lines);
    for (uint32_t c = 0; c < shape_.channels; ++c) dots_[c] += counter_.Count(lines + c * plane);
  }
}

// A worker takes the bands in order. The TIFF worker that failed goes on
// taking them (and drops them), so that the caller never waits on it; the
// preview worker tells the PNG worker which preview rows are done.
void PageWriter::Run(Worker worker) {
  uint64_t next = 0;
  bool failed = false;
  if (worker == kPreview) StartPreview();
  for (;;) {
    const Band* band = nullptr;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      work_.wait(lock, [&] { return stop_ || next < produced_ || ending_; });
      if (stop_) return;
      if (next == produced_) break;  // ending, every band taken
      band = &bands_[next % kBands];
    }
    uint32_t rows_done = 0;
    if (worker == kPreview) {
      CountPreview(band->data, band->first, band->lines);
      rows_done = preview_.RowsDone();
    } else if (!failed && !WriteTiff(band->data, band->first, band->lines)) {
      failed = true;
      std::lock_guard<std::mutex> lock(mutex_);
      tiff_failed_ = true;
    }
    bool rows = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      consumed_[worker] = ++next;
      if (rows_done > png_ready_) {
        png_ready_ = rows_done;
        rows = true;
      }
    }
    room_.notify_all();
    if (rows) png_rows_.notify_one();
  }
  if (worker == kTiff) {
    // The page's end (its blank rows, its directory) is written here too.
    const bool ended = !failed && tiff_.EndPage();
    std::lock_guard<std::mutex> lock(mutex_);
    tiff_ended_ = ended;
    return;
  }
  preview_.Flush();  // every row done
  {
    std::lock_guard<std::mutex> lock(mutex_);
    preview_done_ = true;
  }
  png_rows_.notify_one();
}

// The PNG worker encodes the preview rows as they are done, and ends the
// PNG once the preview worker has counted the last line.
void PageWriter::RunPng() {
  uint32_t done = 0;
  for (;;) {
    uint32_t ready = 0;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      png_rows_.wait(lock, [&] { return stop_ || png_ready_ > done || preview_done_; });
      if (stop_) return;
      if (preview_done_) break;
      ready = png_ready_;
    }
    preview_.EncodeRows(ready);
    done = ready;
  }
  png_ok_ = preview_.FinishPng() && png_begun_;
}

bool PageWriter::TiffFailed() {
  std::lock_guard<std::mutex> lock(mutex_);
  return tiff_failed_;
}

bool PageWriter::WaitForRoom() {
  std::unique_lock<std::mutex> lock(mutex_);
  room_.wait(lock, [&] {
    const uint64_t slowest = std::min(consumed_[kTiff], consumed_[kPreview]);
    return stop_ || produced_ - slowest < kBands;
  });
  return !stop_;
}

void PageWriter::Publish() {
  if (!filling_ || filling_->lines == 0) return;
  filling_ = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++produced_;
  }
  work_.notify_all();
}

bool PageWriter::AddLines(const uint8_t* lines, uint32_t count) {
  const size_t line = shape_.LineBytes();
  if (mode_ == Mode::kHere) {
    if (!WriteTiff(lines, row_, count)) {
      mode_ = Mode::kNone;
      return false;
    }
    CountPreview(lines, row_, count);
    row_ += count;
    return true;
  }
  if (mode_ != Mode::kThreaded || TiffFailed()) return false;
  while (count > 0) {
    if (!filling_) {
      if (!WaitForRoom()) return false;
      filling_ = &bands_[produced_ % kBands];  // only this thread changes produced_
      filling_->first = row_;
      filling_->lines = 0;
    }
    const uint32_t take = std::min(count, band_lines_ - filling_->lines);
    std::memcpy(filling_->data + filling_->lines * line, lines, take * line);
    filling_->lines += take;
    row_ += take;
    lines += take * line;
    count -= take;
    if (filling_->lines == band_lines_) Publish();
  }
  return true;
}

void PageWriter::Drain() {
  if (mode_ != Mode::kThreaded) return;
  Publish();
  std::unique_lock<std::mutex> lock(mutex_);
  room_.wait(lock, [&] {
    return stop_ || (consumed_[kTiff] == produced_ && consumed_[kPreview] == produced_);
  });
}

void PageWriter::JoinWorkers(bool finish) {
  if (mode_ != Mode::kThreaded) return;
  if (finish) Publish();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    (finish ? ending_ : stop_) = true;
  }
  work_.notify_all();
  room_.notify_all();
  png_rows_.notify_all();
  for (std::thread& t : threads_)
    if (t.joinable()) t.join();
  mode_ = Mode::kNone;
  filling_ = nullptr;
}

PageWriter::End PageWriter::EndPage(const std::string& png) {
  if (mode_ == Mode::kThreaded) {
    JoinWorkers(true);
  } else if (mode_ == Mode::kHere) {
    mode_ = Mode::kNone;
    tiff_ended_ = tiff_.EndPage();
    png_ok_ = preview_.EndPng() && png_begun_;
  } else {
    return End::kTiffFailed;  // no page, or one that failed or was stopped
  }
  if (tiff_failed_ || !tiff_ended_) return End::kTiffFailed;
  return png_ok_ && WriteFile(png, png_) ? End::kDone : End::kPngFailed;
}

void PageWriter::StopPage() {
  JoinWorkers(false);
  mode_ = Mode::kNone;
}

const uint64_t* PageWriter::Dots() {
  Drain();
  return dots_.data();
}

void PageWriter::ResetDots() {
  Drain();
  dots_.fill(0);
}

}  // namespace klvdrv
