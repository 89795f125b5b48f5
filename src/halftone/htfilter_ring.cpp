// SPDX-License-Identifier: MIT
// ChunkRing: the halftone filter's ring of chunks, the separations' lanes and
// the in-order writing of finished chunks.
#include "htfilter_ring.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "klv/log.h"

namespace klv::halftone {

ChunkRing::~ChunkRing() {
  Stop();
}

bool ChunkRing::Start(Setup setup) {
  setup_ = std::move(setup);
  const size_t k = std::max<size_t>(2, setup_.chunks);
  try {
    chunks_.resize(k);
    for (Chunk& c : chunks_) {
      c.in.assign(setup_.chunk_lines * setup_.in_line_bytes, 0);
      c.dots.assign(setup_.chunk_lines * setup_.dot_line_bytes, 0);
    }
    next_.assign(setup_.engines.size(), 0);
  } catch (const std::bad_alloc&) {
    KLV_LOG(KLV_LOG_ERROR, "halftone filter: no memory for %zu chunks of %lu lines", k,
            setup_.chunk_lines);
    chunks_.clear();
    return false;
  }
  for (size_t e = 0; e < setup_.engines.size(); ++e) {
    Engine& eng = setup_.engines[e];
    if (!eng.lane) continue;
    // The engine's own worker ends: from now on the lane screens with it.
    eng.rip->ReleaseWorker();
    auto thread = std::make_unique<klv::platform::Thread>("htlane" + std::to_string(e));
    if (!thread->Start([this, e] { LaneLoop(e); })) {
      KLV_LOG(KLV_LOG_WARNING,
              "halftone filter: separation %zu screens on the caller's thread (no lane)", e);
      eng.lane = false;
      continue;
    }
    threads_.push_back(std::move(thread));
  }
  return true;
}

bool ChunkRing::Failed() {
  std::lock_guard<std::mutex> lock(mu_);
  return failed_;
}

// Waits for a free chunk (one the writer has written) and opens it.
bool ChunkRing::OpenChunk() {
  std::unique_lock<std::mutex> lock(mu_);
  space_cv_.wait(lock, [&] { return failed_ || published_ - written_ < chunks_.size(); });
  if (failed_) return false;
  At(published_).lines = 0;
  open_ = true;
  return true;
}

int32_t ChunkRing::Write(const uint8_t* lines, int32_t count) {
  if (chunks_.empty()) return 0;
  const unsigned long bpl = setup_.in_line_bytes;
  int32_t taken = 0;
  while (taken < count) {
    if (!open_ && !OpenChunk()) break;
    // published_ changes only on this thread: the open chunk is ours.
    Chunk& c = At(published_);
    const unsigned long n =
        std::min(static_cast<unsigned long>(count - taken), setup_.chunk_lines - c.lines);
    std::memcpy(c.in.data() + c.lines * bpl, lines + size_t(taken) * bpl, n * bpl);
    c.lines += n;
    taken += int32_t(n);
    if (c.lines == setup_.chunk_lines) Publish();
  }
  return taken;
}

// Puts the open chunk in every queue, then screens it for the engines that
// have no lane.
void ChunkRing::Publish() {
  const uint64_t seq = published_;
  Chunk& c = At(seq);
  {
    std::lock_guard<std::mutex> lock(mu_);
    open_ = false;
    c.pending = setup_.engines.size();
    ++published_;
  }
  work_cv_.notify_all();
  for (size_t e = 0; e < setup_.engines.size(); ++e) {
    if (setup_.engines[e].lane) continue;
    const bool ok = Screen(e, c);
    std::unique_lock<std::mutex> lock(mu_);
    ++next_[e];
    if (!ok) {
      FailLocked();
      return;
    }
    FinishLocked(seq, lock);
  }
}

// Screens one chunk with one engine into its part of the chunk's dot lines.
bool ChunkRing::Screen(size_t e, Chunk& c) {
  const Engine& eng = setup_.engines[e];
  try {
    if (!eng.rip->SetOutBuf(c.dots.data() + eng.out_offset, setup_.dot_line_bytes, c.lines))
      return false;
    if (eng.rip->StartProcessLine(c.in.data() + eng.in_offset, c.lines) == c.lines) return true;
    KLV_LOG(KLV_LOG_ERROR, "halftone filter: the engine of separation %zu took too few lines", e);
  } catch (const std::exception& ex) {
    KLV_LOG(KLV_LOG_ERROR, "halftone filter: the engine of separation %zu failed: %s", e,
            ex.what());
  }
  return false;
}

void ChunkRing::LaneLoop(size_t e) {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    work_cv_.wait(lock, [&] { return quit_ || failed_ || next_[e] < published_; });
    if (failed_ || next_[e] >= published_) return;  // a failure, or quit with the queue empty
    const uint64_t seq = next_[e];
    Chunk& c = At(seq);
    lock.unlock();
    const bool ok = Screen(e, c);
    lock.lock();
    ++next_[e];
    if (!ok) {
      FailLocked();
      return;
    }
    FinishLocked(seq, lock);
  }
}

// One engine has screened chunk seq; the last one makes it finished and
// writes what is finished unless another thread is writing already.
void ChunkRing::FinishLocked(uint64_t seq, std::unique_lock<std::mutex>& lock) {
  if (--At(seq).pending != 0) return;
  finished_ = seq + 1;  // chunks finish in order
  WriteFinishedLocked(lock);
}

void ChunkRing::WriteFinishedLocked(std::unique_lock<std::mutex>& lock) {
  if (writing_) return;  // the writing thread sees finished_ move and goes on
  writing_ = true;
  while (written_ < finished_ && !failed_) {
    Chunk& c = At(written_);
    lock.unlock();
    const bool ok = setup_.write(c.dots.data(), c.lines);
    lock.lock();
    if (!ok) {
      KLV_LOG(KLV_LOG_ERROR, "halftone filter: the output image refused dot lines");
      FailLocked();
      break;
    }
    ++written_;
    space_cv_.notify_all();
  }
  writing_ = false;
  space_cv_.notify_all();
}

void ChunkRing::FailLocked() {
  failed_ = true;
  work_cv_.notify_all();
  space_cv_.notify_all();
}

bool ChunkRing::Drain() {
  if (chunks_.empty()) return true;
  if (open_) {
    if (At(published_).lines > 0) {
      Publish();
    } else {
      std::lock_guard<std::mutex> lock(mu_);
      open_ = false;
    }
  }
  std::unique_lock<std::mutex> lock(mu_);
  space_cv_.wait(lock, [&] { return failed_ || (written_ == published_ && !writing_); });
  return !failed_;
}

bool ChunkRing::Stop() {
  const bool ok = Drain();
  {
    std::lock_guard<std::mutex> lock(mu_);
    quit_ = true;
  }
  work_cv_.notify_all();
  for (auto& t : threads_) t->Join();
  threads_.clear();
  return ok;
}

}  // namespace klv::halftone
