// SPDX-License-Identifier: MIT
// ChunkRing: the halftone filter's ring of chunks, the separations' lanes and
// the in-order writing of finished chunks.
#include "htfilter_ring.h"

#include <sys/mman.h>

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

namespace {
constexpr uint64_t kHugePage = uint64_t{2} << 20;
constexpr uint64_t round_up(uint64_t n, uint64_t to) {
  return (n + to - 1) / to * to;
}
}  // namespace

void ChunkBlockFree::operator()(uint8_t* p) const {
  if (p) ::munmap(p, bytes);
}

// One block for every chunk: fresh anonymous pages are zero and cost
// nothing until touched, so no chunk is filled or faulted in here. The
// block starts on a huge-page boundary and asks for huge pages (a hint: a
// kernel that gives none faults small pages in as they are first used).
bool ChunkRing::MakeChunks(size_t k) {
  const uint64_t in_bytes = round_up(uint64_t(setup_.chunk_lines) * setup_.in_line_bytes, 64);
  const uint64_t dot_bytes = round_up(uint64_t(setup_.chunk_lines) * setup_.dot_line_bytes, 64);
  const uint64_t bytes = round_up((in_bytes + dot_bytes) * k, kHugePage);
  void* p = bytes < (uint64_t{1} << 40)
                ? ::mmap(nullptr, size_t(bytes + kHugePage), PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                : MAP_FAILED;
  if (p == MAP_FAILED) return false;
  const uintptr_t at = reinterpret_cast<uintptr_t>(p);
  const uintptr_t start = uintptr_t(round_up(at, kHugePage));
  if (start > at) ::munmap(p, start - at);
  if (const uintptr_t end = at + bytes + kHugePage; end > start + bytes)
    ::munmap(reinterpret_cast<void*>(start + bytes), end - (start + bytes));
  auto* base = reinterpret_cast<uint8_t*>(start);
  ::madvise(base, size_t(bytes), MADV_HUGEPAGE);
  block_ = std::unique_ptr<uint8_t, ChunkBlockFree>(base, ChunkBlockFree{size_t(bytes)});
  try {
    chunks_.resize(k);
    next_.assign(setup_.engines.size(), 0);
  } catch (const std::bad_alloc&) {
    chunks_.clear();
    block_.reset();
    return false;
  }
  for (size_t i = 0; i < k; ++i) {
    chunks_[i].in = base + i * (in_bytes + dot_bytes);
    chunks_[i].dots = chunks_[i].in + in_bytes;
  }
  return true;
}

bool ChunkRing::Start(Setup setup) {
  setup_ = std::move(setup);
  const size_t k = std::max<size_t>(2, setup_.chunks);
  if (!MakeChunks(k)) {
    KLV_LOG(KLV_LOG_ERROR, "halftone filter: no memory for %zu chunks of %lu lines", k,
            setup_.chunk_lines);
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
  const size_t bpl = setup_.in_line_bytes;
  int32_t taken = 0;
  while (taken < count) {
    uint8_t* room = nullptr;
    const int32_t n = Lend(&room, count - taken);
    if (n == 0) break;
    std::memcpy(room, lines + size_t(taken) * bpl, size_t(n) * bpl);
    if (Commit(n) != n) break;
    taken += n;
  }
  return taken;
}

int32_t ChunkRing::Lend(uint8_t** room, int32_t count) {
  lent_ = 0;
  if (chunks_.empty() || count < 1) return 0;
  if (!open_ && !OpenChunk()) return 0;
  // published_ changes only on this thread: the open chunk is ours.
  Chunk& c = At(published_);
  *room = c.in + size_t(c.lines) * setup_.in_line_bytes;
  lent_ = int32_t(std::min(static_cast<unsigned long>(count), setup_.chunk_lines - c.lines));
  return lent_;
}

int32_t ChunkRing::Commit(int32_t count) {
  const int32_t lent = lent_;
  lent_ = 0;
  if (count < 1 || count > lent || Failed()) return 0;
  Chunk& c = At(published_);
  c.lines += unsigned(count);
  if (c.lines == setup_.chunk_lines) Publish();
  return count;
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
    if (!eng.rip->SetOutBuf(c.dots + eng.out_offset, setup_.dot_line_bytes, c.lines)) return false;
    if (eng.rip->StartProcessLine(c.in + eng.in_offset, c.lines) == c.lines) return true;
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
    const bool ok = setup_.write(c.dots, c.lines);
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
  lent_ = 0;  // lines lent and not committed are dropped
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
