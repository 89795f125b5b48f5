// SPDX-License-Identifier: MIT
// Test helper: routes the library's log into a file for the life of the
// object and reads back what was logged.
#pragma once

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "../platform/test_env.h"

namespace klv::test {

class LogCapture {
 public:
  // A new file each time: the logger keeps its file open while KLV_LOG names it.
  LogCapture()
      : path_(std::string(KLV_BINARY_DIR) + "/placement_log" + std::to_string(++serial_) + ".txt") {
    std::remove(path_.c_str());
    const char* old = std::getenv("KLV_LOG");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("KLV_LOG", path_.c_str(), 1);
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;
  ~LogCapture() {
    if (had_) {
      setenv("KLV_LOG", old_.c_str(), 1);
    } else {
      unsetenv("KLV_LOG");
    }
  }
  std::string Text() const {
    std::ifstream f(path_);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }

 private:
  static inline int serial_ = 0;
  std::string path_, old_;
  bool had_ = false;
};

// Sets (value) or removes (null) an environment variable for the life of the object.
using ScopedEnvVar = klv::platform::ScopedEnv;

}  // namespace klv::test
