// SPDX-License-Identifier: MIT
// Helpers of the driver tests: the recording driver's controls, a scratch
// folder, a search path set for one test and the Logger's lines.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "klv/printer_driver.h"

namespace drivertest {

// The recording driver's exported controls, reached through a printer handle.
struct Recorder {
  void (*reset)();
  const char* (*log)();
  void (*clear_log)();
  void (*set_size)(uintptr_t);
  void (*drop)(int);
  SP_CAPABILITIES* (*caps)();
  void (*set_open)(int, int32_t);
  void (*set_prntinfo)(PRNTINFO*, int);
  void (*set_info_answer)(int, int32_t);
  void (*set_result)(int32_t);
  PrinterHandle* handle = nullptr;

  bool Load() {
    handle = OpenPrinterHandle(KLV_RECORDING_DRIVER);
    if (!handle) return false;
    auto sym = [&](const char* name) { return GetPrinterHandleProcAddress(handle, name); };
    reset = reinterpret_cast<void (*)()>(sym("rec_reset"));
    log = reinterpret_cast<const char* (*)()>(sym("rec_log"));
    clear_log = reinterpret_cast<void (*)()>(sym("rec_clear_log"));
    set_size = reinterpret_cast<void (*)(uintptr_t)>(sym("rec_set_size"));
    drop = reinterpret_cast<void (*)(int)>(sym("rec_drop"));
    caps = reinterpret_cast<SP_CAPABILITIES* (*)()>(sym("rec_caps"));
    set_open = reinterpret_cast<void (*)(int, int32_t)>(sym("rec_set_open"));
    set_prntinfo = reinterpret_cast<void (*)(PRNTINFO*, int)>(sym("rec_set_prntinfo"));
    set_info_answer = reinterpret_cast<void (*)(int, int32_t)>(sym("rec_set_info_answer"));
    set_result = reinterpret_cast<void (*)(int32_t)>(sym("rec_set_result"));
    return reset && log && clear_log && set_size && drop && caps && set_open && set_prntinfo &&
           set_info_answer && set_result;
  }
  ~Recorder() { FreePrinterHandle(handle); }
  bool Logged(const std::string& line) const {
    return (std::string("\n") + log()).find("\n" + line + "\n") != std::string::npos;
  }
};

// A fresh folder under the system's temporary folder, removed afterwards.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& tag) {
    path_ = std::filesystem::temp_directory_path() /
            ("klv_drivers_" + tag + "_" + std::to_string(::getpid()));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string str() const { return path_.string(); }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Sets an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (old) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (had_) {
      setenv(name_, old_.c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteFile(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

}  // namespace drivertest
