// SPDX-License-Identifier: MIT
// Routes the library's log into a file of a scratch folder for the life of
// the object and reads back what was logged.
#pragma once

#include <string>

#include "support/env.h"
#include "support/files.h"

namespace klv::test {

class LogCapture {
 public:
  LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;
  ~LogCapture();

  // Everything logged so far.
  std::string Text() const;
  // Lines logged since the last call (every line at the first call).
  std::string Take();
  // The file the log goes to.
  const std::string& path() const { return path_; }

 private:
  ScratchFolder folder_{"logcapture"};
  std::string path_;
  ScopedEnv env_;
  size_t taken_ = 0;
};

}  // namespace klv::test
