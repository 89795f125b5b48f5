// SPDX-License-Identifier: MIT
// Inside the request server: the folder watch and the run of one request.
#pragma once

#include <cstdint>
#include <string>

#include "klv/request_cxx.h"

namespace klv::request {

// Wakes the server when something is written into its folder: inotify where
// the folder is on a local file system; elsewhere (network file systems,
// where other computers' changes raise no events) it only sleeps.
class FolderWatch {
 public:
  FolderWatch() = default;
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;
  ~FolderWatch();
  // Starts watching; false when events cannot be had (the server then polls).
  bool Open(const std::string& folder);
  // Waits up to `ms` for a change; true when one came.
  bool Wait(int32_t ms);
  bool watching() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// Takes the request `name` (a ".RQX" file name in `folder`), runs it and
// answers it. False when another server took it first.
bool take_and_run(const std::string& folder, const std::string& name, const Handler& handler);

// Puts back the requests that servers now dead were running and removes the
// answers they left half-written.
void recover_dead_work(const std::string& folder);

}  // namespace klv::request
