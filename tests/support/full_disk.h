// SPDX-License-Identifier: MIT
// A folder on a full disk, for tests of what writers do when their writes
// fail: a small tmpfs when the test may mount one, and always a file-size
// limit (RLIMIT_FSIZE with SIGXFSZ ignored, so that a write past the limit
// fails with EFBIG) applied in a child process. Tests run every kind
// full_disk_kinds() gives, so the limit kind runs even where mounting is
// not allowed.
#pragma once

#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace klv::test {

enum class FullDisk { kTmpfs, kFileSizeLimit };

inline const char* full_disk_name(FullDisk kind) {
  return kind == FullDisk::kTmpfs ? "tmpfs" : "file-size limit";
}

// A fresh folder where writing more than `bytes` in all fails.
class FullFolder {
 public:
  FullFolder(FullDisk kind, size_t bytes) : kind_(kind), bytes_(bytes) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/klvfull.XXXXXX";
    if (!::mkdtemp(pattern.data())) return;
    path_ = pattern;
    if (kind == FullDisk::kTmpfs) {
      const std::string options = "size=" + std::to_string(bytes);
      mounted_ = ::mount("tmpfs", path_.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
  }
  ~FullFolder() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
    if (!path_.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(path_, ec);
    }
  }
  FullFolder(const FullFolder&) = delete;
  FullFolder& operator=(const FullFolder&) = delete;

  // False when the folder could not be made (or the tmpfs not mounted).
  bool Ready() const { return !path_.empty() && (kind_ != FullDisk::kTmpfs || mounted_); }
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

  // Runs `body` in a child process with the disk full (for the limit kind,
  // RLIMIT_FSIZE is set there); the child's exit status, or -1 when it did
  // not exit normally.
  int RunChild(const std::function<int()>& body) const {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
      if (kind_ == FullDisk::kFileSizeLimit) {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit {
          bytes_, bytes_
        };
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(120);
      }
      const int code = body();
      std::fflush(nullptr);
      ::_exit(code);
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // Names in the folder (hidden ones too).
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(path_, ec))
      names.push_back(e.path().filename().string());
    return names;
  }

 private:
  FullDisk kind_;
  size_t bytes_;
  std::string path_;
  bool mounted_ = false;
};

// The kinds a test runs: the file-size limit always, a tmpfs too when this
// process may mount one (it says so on stdout when it may not).
inline std::vector<FullDisk> full_disk_kinds() {
  static const bool can_mount = [] {
    FullFolder probe(FullDisk::kTmpfs, 64 * 1024);
    if (!probe.Ready())
      std::printf("note: no tmpfs can be mounted here; the full disk is a file-size limit\n");
    return probe.Ready();
  }();
  if (can_mount) return {FullDisk::kTmpfs, FullDisk::kFileSizeLimit};
  return {FullDisk::kFileSizeLimit};
}

}  // namespace klv::test
