// SPDX-License-Identifier: MIT
// Test helper: routes the library's log into a file for the life of the
// object and reads back what was logged.
#pragma once

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

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
class ScopedEnvVar {
 public:
  ScopedEnvVar(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ScopedEnvVar(const ScopedEnvVar&) = delete;
  ScopedEnvVar& operator=(const ScopedEnvVar&) = delete;
  ~ScopedEnvVar() {
    if (had_) {
      setenv(name_.c_str(), old_.c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }

 private:
  std::string name_, old_;
  bool had_ = false;
};

}  // namespace klv::test
