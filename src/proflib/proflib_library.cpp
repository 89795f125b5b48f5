// SPDX-License-Identifier: MIT
// Finding and opening a printer's library, and running one operation on its
// index. The volume admits one writer at a time, so a library opened for
// writing here is the only writer until it is closed: each load, change and
// save of the index is one uninterrupted step even across processes.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "klv/kernel_path.h"
#include "klv/kernel_volume.h"
#include "klv/log.h"
#include "klv/prntinfo.h"
#include "proflib/proflib_ops.h"

namespace {

constexpr int32_t kDefaultAttempts = 1800;
constexpr int32_t kDefaultPauseMs = 100;
std::atomic<int32_t> g_attempts{kDefaultAttempts};
std::atomic<int32_t> g_pause_ms{kDefaultPauseMs};

// The library in the printer's folder: "<folder>\\INFO\\PRINTER.PrnLib", the
// INFO folder's name matched without regard to letter case (host file
// systems here tell "Info" from "INFO"). The upper-case form when none
// exists; empty when the folder is not known or in server mode.
std::string folder_library(const char* printer) {
  if (get_server_mode()) return {};
  std::vector<char> folder(KLV_PATH_MAX);
  if (!get_printer_path(printer, folder.data(), nullptr) || !folder[0]) return {};
  std::string first;
  for (const char* info : {"INFO", "Info", "info"}) {
    std::vector<char> path(KLV_PATH_MAX + 32);
    std::snprintf(path.data(), path.size(), "%s\\%s\\%s.%s", folder.data(), info, "PRINTER",
                  "PrnLib");
    if (first.empty()) first = path.data();
    if (Ofileexists(nullptr, path.data(), 0)) return path.data();
  }
  return first;
}

std::string find_library(const char* printer) {
  std::string path = folder_library(printer);
  if (!path.empty() && Ofileexists(nullptr, path.c_str(), 0)) return path;
  std::string name = std::string(printer) + ".PrnLib";
  std::vector<char> found(KLV_PATH_MAX);
  if (_findinpath_ex("Server", name.c_str(), found.data())) return found.data();
  return {};
}

void wait_retry() {
  std::this_thread::sleep_for(std::chrono::milliseconds(g_pause_ms.load()));
}

}  // namespace

namespace klv::proflib {

int32_t with_index(SOVolume* volume, bool changes, const std::function<int32_t(PL_INDEX*)>& op) {
  if (!volume) return PL_ERR_ARGUMENT;
  PL_INDEX* index = PL_index_load(volume, nullptr);
  if (!index) return PL_ERR_IO;
  int32_t status = PL_ERR_KEY;
  try {
    status = op(index);
    if (status == PL_OK && changes) status = PL_index_save(volume, nullptr, index);
  } catch (...) {
    status = PL_ERR_KEY;
  }
  PL_index_free(index);
  return status;
}

int32_t with_library(const char* printer, const std::function<int32_t(SOVolume*)>& op) {
  if (!printer || !*printer) return PL_ERR_ARGUMENT;
  SOVolume* volume = PL_open_library(printer, KLV_VOL_UPDATE);
  if (!volume) return PL_ERR_OPEN;
  int32_t status = PL_ERR_KEY;
  try {
    status = op(volume);
  } catch (...) {
    status = PL_ERR_KEY;
  }
  if (VClose(volume) != 0 && status == PL_OK) status = PL_ERR_IO;
  return status;
}

}  // namespace klv::proflib

KLV_API int32_t PL_find_library(const char* printer, char* path_out) {
  if (!printer || !*printer || !path_out) return PL_ERR_ARGUMENT;
  path_out[0] = '\0';
  for (int32_t attempt = 0; attempt < g_attempts.load(); ++attempt) {
    if (attempt) wait_retry();
    std::string path = find_library(printer);
    if (!path.empty()) {
      klv::proflib::copy_text(path_out, KLV_PATH_MAX, path);
      return PL_OK;
    }
  }
  return PL_ERR_OPEN;
}

KLV_API SOVolume* PL_open_library(const char* printer, int32_t mode) {
  if (!printer || !*printer) return nullptr;
  std::string path = find_library(printer);
  if (path.empty() && mode == KLV_VOL_CREATE) path = folder_library(printer);
  if (path.empty()) {
    std::vector<char> found(KLV_PATH_MAX);
    if (PL_find_library(printer, found.data()) != PL_OK) {
      KLV_LOG(KLV_LOG_ERROR, "printer \"%s\" has no profile library", printer);
      return nullptr;
    }
    path = found.data();
  }
  for (int32_t attempt = 0; attempt < g_attempts.load(); ++attempt) {
    if (attempt) wait_retry();
    if (SOVolume* volume = VOpen(nullptr, path.c_str(), mode)) return volume;
  }
  KLV_LOG(KLV_LOG_ERROR, "profile library \"%s\" cannot be opened", path.c_str());
  return nullptr;
}

KLV_API SOVolume* PL_open_library_briefly(const char* printer, int32_t mode, int32_t wait_ms) {
  if (!printer || !*printer) return nullptr;
  const std::string path = find_library(printer);
  if (path.empty()) return nullptr;
  const int32_t pause = std::max<int32_t>(1, g_pause_ms.load());
  for (int32_t waited = 0;; waited += pause) {
    if (SOVolume* volume = VOpen(nullptr, path.c_str(), mode)) return volume;
    if (waited >= wait_ms) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(pause));
  }
  KLV_LOG(KLV_LOG_WARNING, "profile library \"%s\" cannot be opened", path.c_str());
  return nullptr;
}

KLV_API int32_t PL_set_open_retries(int32_t attempts, int32_t pause_ms) {
  g_attempts = attempts > 0 ? attempts : kDefaultAttempts;
  g_pause_ms = pause_ms > 0 ? pause_ms : kDefaultPauseMs;
  if (attempts == 0 && pause_ms == 0) {
    g_attempts = kDefaultAttempts;
    g_pause_ms = kDefaultPauseMs;
  }
  return 1;
}
