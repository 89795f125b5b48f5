// SPDX-License-Identifier: MIT
// The output stage's line pipeline (imgproc_pipe.h). Three slots of one
// chunk each go round: the reader thread fills a free slot and opens it for
// converting; converters take a few of its lines at a time (a shared
// counter), so that both threads share the conversion however the reading
// and the screening happen to weigh; the caller's thread waits for the
// oldest slot to be converted (converting its lines meanwhile), hands it to
// the screening and frees it. The reader converts whenever no slot is free.
#include "imgproc_pipe.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace klv::proc {
namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

constexpr int kSlots = 3;
// Bytes a slot holds at most (its lines as read and as converted): wide
// pages go in smaller chunks, so that the pipeline's memory does not grow
// with the page.
constexpr size_t kSlotBytes = size_t{2} << 20;
// Lines a chunk keeps however long they are.
constexpr int kMinChunk = 8;
// Lines a converter takes at a time.
constexpr int kGroup = 4;

class Pipe {
 public:
  explicit Pipe(const PipeLines& p) : p_(p) {
    const size_t line = p.in_bytes + (p.conversion ? p.out_bytes : 0);
    chunk_ = int(std::clamp<size_t>(kSlotBytes / std::max<size_t>(line, 1), kMinChunk,
                                    size_t(std::max(p.chunk, kMinChunk))));
    for (Slot& s : slots_) {
      s.raw.resize(p.in_bytes * size_t(chunk_));
      if (p.conversion) s.converted.resize(p.out_bytes * size_t(chunk_));
    }
  }

  bool Run(PipeOutcome* why) {
    std::thread reader;
    try {
      reader = std::thread([this] { Read(); });
    } catch (const std::system_error&) {
      return false;
    }
    PipeOutcome out = Write();
    {
      std::lock_guard<std::mutex> lock(m_);
      stop_ = true;
    }
    cv_.notify_all();
    reader.join();
    out.reading_s = reading_s_;
    out.colour_s = colour_s_;
    *why = out;
    return true;
  }

 private:
  enum State { kFree, kReading, kConverting, kConverted, kWriting };
  struct Slot {
    std::vector<uint8_t> raw, converted;
    // Which chunk the slot holds and its lines; set before the slot opens.
    std::atomic<int> chunk{-1}, n{0};
    std::atomic<int> state{kFree};
    std::atomic<int> claimed{0}, done{0};
    uint8_t* Lines() { return converted.empty() ? raw.data() : converted.data(); }
  };

  Slot& SlotOf(int chunk) { return slots_[chunk % kSlots]; }

  // Whether some slot has lines nobody took yet (only `chunk`'s when >= 0).
  bool Claimable(int chunk) const {
    for (const Slot& s : slots_)
      if (s.state.load() == kConverting && (chunk < 0 || s.chunk == chunk) &&
          s.claimed.load() < s.n)
        return true;
    return false;
  }

  // Converts a few lines of the oldest slot open for converting (of
  // `chunk` alone when >= 0); false when there was nothing to take.
  bool ConvertSome(int chunk, double* seconds) {
    Slot* best = nullptr;
    for (Slot& s : slots_)
      if (s.state.load(std::memory_order_acquire) == kConverting &&
          (chunk < 0 || s.chunk == chunk) && s.claimed.load() < s.n &&
          (!best || s.chunk < best->chunk))
        best = &s;
    if (!best) return false;
    const int from = best->claimed.fetch_add(kGroup);
    if (from >= best->n) return true;  // another took the last ones: look again
    const int to = std::min(from + kGroup, best->n.load());
    const Clock::time_point at = Clock::now();
    for (int y = from; y < to; ++y)
      p_.conversion->Line8(best->raw.data() + size_t(y) * p_.in_bytes,
                           best->converted.data() + size_t(y) * p_.out_bytes, uint32_t(p_.width));
    *seconds += seconds_since(at);
    if (best->done.fetch_add(to - from) + (to - from) == best->n) {
      {
        std::lock_guard<std::mutex> lock(m_);
        best->state.store(kConverted, std::memory_order_release);
      }
      cv_.notify_all();
    }
    return true;
  }

  // The reader thread: every chunk of the page in turn into a free slot.
  void Read() {
    double reading = 0, colour = 0;
    for (int c = 0, line = 0; line < p_.height; ++c) {
      Slot& s = SlotOf(c);
      if (!WaitFree(s, &colour)) break;
      const int n = std::min(chunk_, p_.height - line);
      const Clock::time_point at = Clock::now();
      const bool ok = img_read_line(p_.in, s.raw.data(), n) == n;
      reading += seconds_since(at);
      {
        std::lock_guard<std::mutex> lock(m_);
        if (!ok) {
          read_failed_ = c;
        } else {
          s.chunk.store(c);
          s.n.store(n);
          s.claimed.store(0);
          s.done.store(0);
          s.state.store(p_.conversion ? kConverting : kConverted, std::memory_order_release);
        }
      }
      cv_.notify_all();
      if (!ok) break;
      line += n;
    }
    // The last chunks still want converting.
    while (!Stopped() && p_.conversion && ConvertSome(-1, &colour)) {
    }
    std::lock_guard<std::mutex> lock(m_);
    reading_s_ += reading;
    colour_s_ += colour;
  }

  bool Stopped() {
    std::lock_guard<std::mutex> lock(m_);
    return stop_;
  }

  // Waits until `s` is free, converting meanwhile; false when stopped.
  bool WaitFree(Slot& s, double* colour) {
    for (;;) {
      if (s.state.load(std::memory_order_acquire) == kFree) return !Stopped();
      if (p_.conversion && ConvertSome(-1, colour)) continue;
      std::unique_lock<std::mutex> lock(m_);
      cv_.wait(lock, [&] { return stop_ || s.state.load() == kFree || Claimable(-1); });
      if (stop_) return false;
    }
  }

  // Waits until chunk `c` is converted, converting its lines meanwhile;
  // false when the reader failed before it.
  bool WaitConverted(int c, double* colour) {
    Slot& s = SlotOf(c);
    for (;;) {
      if (s.chunk == c && s.state.load(std::memory_order_acquire) == kConverted) return true;
      if (p_.conversion && ConvertSome(c, colour)) continue;
      std::unique_lock<std::mutex> lock(m_);
      const auto failed = [&] { return read_failed_ >= 0 && read_failed_ <= c; };
      cv_.wait(lock, [&] {
        return failed() || (s.chunk == c && s.state.load() == kConverted) || Claimable(c);
      });
      if (failed()) return false;
    }
  }

  // The caller's thread: every chunk in order to the screening.
  PipeOutcome Write() {
    PipeOutcome out;
    double colour = 0;
    for (int c = 0, line = 0; line < p_.height; ++c) {
      out.line = line;
      if (p_.stop && p_.stop()) {
        out.kind = PipeOutcome::kStopped;
        break;
      }
      if (!WaitConverted(c, &colour)) {
        out.kind = PipeOutcome::kReadFailed;
        break;
      }
      Slot& s = SlotOf(c);
      s.state.store(kWriting);
      const Clock::time_point at = Clock::now();
      const bool ok = img_write_line(p_.out, s.Lines(), s.n) == s.n;
      out.screening_s += seconds_since(at);
      if (!ok) {
        out.kind = PipeOutcome::kWriteFailed;
        break;
      }
      const int n = s.n.load();
      {
        std::lock_guard<std::mutex> lock(m_);
        s.state.store(kFree, std::memory_order_release);
      }
      cv_.notify_all();
      line += n;
      if (p_.written) p_.written(n);
    }
    std::lock_guard<std::mutex> lock(m_);
    colour_s_ += colour;
    return out;
  }

  const PipeLines& p_;
  int chunk_ = 0;  // lines per slot
  Slot slots_[kSlots];
  std::mutex m_;
  std::condition_variable cv_;
  bool stop_ = false;
  int read_failed_ = -1;  // the chunk the reader could not read
  double reading_s_ = 0, colour_s_ = 0;
};

}  // namespace

bool pipe_lines(const PipeLines& p, PipeOutcome* why) {
  if (p.height <= 0) {
    *why = PipeOutcome{};
    return true;
  }
  Pipe pipe(p);
  return pipe.Run(why);
}

}  // namespace klv::proc
