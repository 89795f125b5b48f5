// SPDX-License-Identifier: MIT
// The request server's folder watch (inotify on local file systems).
#include <poll.h>
#include <sys/inotify.h>
#include <sys/statfs.h>
#include <unistd.h>

#include "job/request_names.h"
#include "job/request_server.h"
#include "klv/kernel_path_cxx.h"
#include "klv/platform.h"

namespace klv::request {
namespace {

// File systems whose changes made by other computers raise no inotify event.
bool is_remote(const std::string& folder) {
  struct statfs fs {};
  if (::statfs(folder.c_str(), &fs) != 0) return true;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x6969:      // NFS
    case 0x517B:      // SMB
    case 0xFF534D42:  // CIFS
    case 0xFE534D42:  // SMB2
    case 0x65735546:  // FUSE
    case 0x01021997:  // 9P
    case 0x47504653:  // GPFS
    case 0x00C36400:  // Ceph
      return true;
    default:
      return false;
  }
}

}  // namespace

FolderWatch::~FolderWatch() {
  if (fd_ >= 0) ::close(fd_);
}

bool FolderWatch::Open(const std::string& folder) {
  const std::string path = kernel::host_path(folder.c_str());
  if (is_remote(path)) return false;
  fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0) return false;
  if (::inotify_add_watch(fd_, path.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE | IN_CREATE) < 0) {
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  return true;
}

bool FolderWatch::Wait(int32_t ms) {
  if (fd_ < 0) {
    platform::Sleep(ms);
    return false;
  }
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, ms) <= 0) return false;
  alignas(inotify_event) char buf[4096];
  while (::read(fd_, buf, sizeof buf) > 0) {
  }
  return true;
}

}  // namespace klv::request
