// SPDX-License-Identifier: MIT
// The recording driver's controls, for the driver tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
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

}  // namespace drivertest
