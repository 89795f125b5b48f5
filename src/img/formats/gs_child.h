// SPDX-License-Identifier: MIT
// One run of the PostScript/PDF interpreter ("gs", from the Debian package
// "ghostscript") as a child process: started without a shell in a private
// temporary folder that is its working folder and TMPDIR, its standard
// output a pipe the caller reads, its messages kept in a file of that folder.
// The run has a deadline; reads wait at most until it. Stopping (or
// destroying the object) kills the child and reaps it, and the folder is
// removed with everything in it, so neither outlives the object.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace klv::img {

class GsChild {
 public:
  using Clock = std::chrono::steady_clock;

  GsChild() = default;
  GsChild(const GsChild&) = delete;
  GsChild& operator=(const GsChild&) = delete;
  ~GsChild() { stop(); }

  // The interpreter program: $KLV_GS when set (tests point it elsewhere),
  // else "gs" found on PATH; empty when there is none.
  static std::string program();

  // Makes the private folder now (it is made by start otherwise), so that
  // arguments can name files in it.
  bool prepare(std::string* error);
  // Starts the interpreter with `args` (the program name is added before
  // them) and the deadline `time_limit` from now. False with `error` set
  // when the program is missing or cannot be started.
  bool start(const std::vector<std::string>& args, std::chrono::milliseconds time_limit,
             std::string* error);
  // Reads what the child has written, up to `n` bytes, waiting for it until
  // the deadline: the count read, 0 at the end of the output, or -1 when the
  // deadline passed (the child is then killed) or reading failed.
  ptrdiff_t read(uint8_t* buffer, size_t n);
  // Sets the deadline the time limit from now (the child made progress).
  void restart_clock();
  // Whether `n` bytes (or the end of the output) can be read without waiting;
  // a passed deadline counts as ready (the read then fails).
  bool readable();
  static constexpr int kRunning = -2;
  // The child's exit status once it ended (reaping it), kRunning while it
  // runs, -1 when it was killed or did not start. Does not wait.
  int poll_exit();
  // Waits (until the deadline) for the child to end and returns its exit
  // status, -1 when it was killed or did not end in time.
  int finish();
  // Kills the child when it runs, reaps it, closes the pipe and removes the
  // private folder.
  void stop();

  bool timed_out() const { return timed_out_; }
  pid_t pid() const { return pid_; }
  const std::string& folder() const { return folder_; }
  // The last lines the child wrote to its message file (for error reports).
  std::string messages_tail(size_t max_bytes = 400) const;

 private:
  bool make_folder(std::string* error);
  int wait_ms() const;

  pid_t pid_ = 0;
  int exit_status_ = -1;
  int out_fd_ = -1;
  std::string folder_;
  std::chrono::milliseconds limit_{0};
  Clock::time_point deadline_{};
  bool timed_out_ = false;
};

}  // namespace klv::img
