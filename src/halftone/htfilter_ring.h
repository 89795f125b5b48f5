// SPDX-License-Identifier: MIT
// The hand-over of a halftone filter whose engines run on threads: a ring of
// chunk buffers that the caller fills and the separations' lanes screen in
// order, each at its own pace, with the finished chunks packed and written
// off the caller's thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "klv/halftone_rip.h"
#include "klv/platform.h"

namespace klv::halftone {

// Unmaps the ring's block of chunks.
struct ChunkBlockFree {
  size_t bytes = 0;
  void operator()(uint8_t* p) const;
};

// A ring of K chunks. Each chunk holds up to `chunk_lines` input lines and
// the dot lines of every separation side by side. The caller copies its lines
// into the open chunk (Write), or is lent room in it and reads or converts
// its lines straight there (Lend, then Commit); the chunk is published when
// it is full (or on Drain); publishing puts it in every lane's queue, a queue being the chunks
// from the lane's next one up to the last published. Each lane screens the
// chunks of its queue in order on a thread of its own, so a lane runs ahead
// of the others by up to K chunks and the caller waits only when all K are
// in use. An engine without a lane (not threaded, or its thread could not
// start) screens on the caller's thread when its chunk is published.
//
// Chunks finish in order (every engine screens them in order, so the chunk a
// last engine finishes is the oldest unfinished one). Whoever finishes a
// chunk takes the write token when no one holds it and writes every finished
// chunk in order through `write` (which packs the separations into the
// output's layout), then frees the chunks for the caller. So packing and
// writing run on a lane's thread, never two at once, always in page order.
//
// The chunks are one block of fresh zero pages, asked for as huge pages, so
// that making the ring costs the caller no page faults or zero-filling
// before the first line: a page is faulted in when a chunk first uses it,
// while the lanes screen.
//
// One mutex guards the counters; a chunk's lines are touched outside it by
// the caller only while the chunk is open, by an engine only between taking
// it from its queue and finishing it (its own separation's part of the dot
// lines), by the writer only once every engine has finished it.
class ChunkRing {
 public:
  // Packs and writes `lines` finished dot lines (every separation's part side
  // by side, `line_bytes` apart). False when the output refused them.
  using WriteFn = std::function<bool(const uint8_t* dots, unsigned long lines)>;

  struct Engine {
    CHTRip* rip = nullptr;
    unsigned long in_offset = 0;   // from an input line's start to this separation's samples
    unsigned long out_offset = 0;  // from a dot line's start to this separation's part
    bool lane = false;             // screen on a thread of its own
  };

  struct Setup {
    std::vector<Engine> engines;
    unsigned long in_line_bytes = 0;
    unsigned long dot_line_bytes = 0;
    unsigned long chunk_lines = 0;
    size_t chunks = 0;  // K, at least 2
    WriteFn write;
  };

  ChunkRing() = default;
  ChunkRing(const ChunkRing&) = delete;
  ChunkRing& operator=(const ChunkRing&) = delete;
  ~ChunkRing();

  // Makes the chunks and starts a lane for every engine that asks for one
  // (an engine whose thread cannot start screens on the caller's thread).
  // False, logged and with nothing started, when the chunks cannot be made.
  bool Start(Setup setup);
  // Copies up to `count` lines of `in_line_bytes` each into the ring,
  // publishing every chunk it fills. Returns the lines taken: all of them,
  // or fewer once screening or writing has failed.
  int32_t Write(const uint8_t* lines, int32_t count);
  // Lends room for up to `count` lines in the open chunk (opening one first,
  // which waits while every chunk is in use): *room points at the first,
  // the next ones follow `in_line_bytes` apart. Returns the lines lent (at
  // most what the chunk has left), 0 after a failure or for count < 1. The
  // lend ends with Commit; Write, Lend, Drain and Stop end it too, dropping
  // the lines it held.
  int32_t Lend(uint8_t** room, int32_t count);
  // Takes the first `count` lines of the room lent (0 to the lines lent),
  // publishing the chunk when it is full. Returns `count`, or 0 when nothing
  // was lent, `count` is out of range, or screening or writing has failed.
  int32_t Commit(int32_t count);
  // Lines lent and not yet committed.
  int32_t Lent() const { return lent_; }
  // Publishes the open chunk and waits until every published chunk is
  // written. False after a failure.
  bool Drain();
  // Drain, then ends and joins the lanes. The engines are idle afterwards and
  // belong to the caller's thread again.
  bool Stop();
  bool Failed();
  // Lanes running (for tests).
  size_t Lanes() const { return threads_.size(); }

 private:
  struct Chunk {
    uint8_t* in = nullptr;
    uint8_t* dots = nullptr;
    unsigned long lines = 0;
    size_t pending = 0;  // engines still to screen it
  };

  bool MakeChunks(size_t k);
  bool OpenChunk();
  void Publish();
  void LaneLoop(size_t engine);
  bool Screen(size_t engine, Chunk& chunk);
  void FinishLocked(uint64_t seq, std::unique_lock<std::mutex>& lock);
  void WriteFinishedLocked(std::unique_lock<std::mutex>& lock);
  void FailLocked();
  Chunk& At(uint64_t seq) { return chunks_[size_t(seq % chunks_.size())]; }

  Setup setup_;
  std::unique_ptr<uint8_t, ChunkBlockFree> block_;
  std::vector<Chunk> chunks_;
  std::vector<uint64_t> next_;  // per engine: the next chunk it screens
  std::vector<std::unique_ptr<klv::platform::Thread>> threads_;
  std::mutex mu_;
  std::condition_variable work_cv_;   // a chunk was published, or quit
  std::condition_variable space_cv_;  // a chunk was written, or a failure
  uint64_t published_ = 0;
  uint64_t finished_ = 0;  // chunks every engine has screened
  uint64_t written_ = 0;
  bool open_ = false;  // At(published_) is being filled by the caller
  int32_t lent_ = 0;   // lines of the open chunk lent to the caller (its thread only)
  bool writing_ = false;
  bool quit_ = false;
  bool failed_ = false;
};

}  // namespace klv::halftone
