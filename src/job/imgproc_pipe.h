// SPDX-License-Identifier: MIT
// The output stage's line pipeline with a second thread: a reader thread
// reads the next chunks of lines while the caller's thread hands the
// converted chunk before them to the screening, and both convert the lines
// read (a few lines at a time, whoever is free first). Chunks are handed to
// the screening whole and in order, on the caller's thread, which alone
// talks to the job's callback.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "klv/color_convert_cxx.h"
#include "klv/img.h"

namespace klv::proc {

struct PipeLines {
  IMG_file* in = nullptr;   // read on the reader thread only
  IMG_file* out = nullptr;  // written on the caller's thread only
  // Null: the lines go out as read.
  const ColorConversion* conversion = nullptr;
  int width = 0, height = 0;
  // Lines per hand-over at most: fewer when a chunk of such long lines
  // would take more than a few megabytes (down to 8 lines).
  int chunk = 64;
  size_t in_bytes = 0, out_bytes = 0;
  // Asked on the caller's thread before each chunk: true stops the pipe.
  std::function<bool()> stop;
  // Told on the caller's thread after each chunk went out.
  std::function<void(int lines)> written;
};

// How the pipe ended, and the seconds each part took (summed over the
// threads, so that they may add to more than the time it ran).
struct PipeOutcome {
  enum Kind { kDone, kReadFailed, kWriteFailed, kStopped } kind = kDone;
  int line = 0;  // the first line of the chunk that failed
  double reading_s = 0, colour_s = 0, screening_s = 0;
};

// Runs the pipe; false (with `*why` left untouched) when the reader thread
// cannot start, in which case nothing was read.
bool pipe_lines(const PipeLines& p, PipeOutcome* why);

}  // namespace klv::proc
