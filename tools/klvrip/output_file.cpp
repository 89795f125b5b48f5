// SPDX-License-Identifier: MIT
// OutputFile: temporary beside the target, renamed when complete.
#include "output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "cli.h"

namespace klvrip {
namespace {

// The process's file-creation mask, read once (umask can only be read by
// setting it).
mode_t creation_mask() {
  static const mode_t mask = [] {
    const mode_t m = ::umask(022);
    ::umask(m);
    return m;
  }();
  return mask;
}

// A volume (output image) that failed to commit leaves its rollback journal
// beside it; it goes with the temporary.
std::string journal_of(const std::string& path) {
  return path + "-journal";
}

}  // namespace

OutputFile::OutputFile(std::string target) : target_(std::move(target)) {
  const size_t slash = target_.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : target_.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target_ : target_.substr(slash + 1);
  if (name.empty()) {
    error_ = "names a folder, not a file";
    return;
  }
  std::string pattern = folder + "." + name + ".tmpXXXXXX";
  std::vector<char> path(pattern.begin(), pattern.end());
  path.push_back('\0');
  const int fd = ::mkstemp(path.data());
  if (fd < 0) {
    error_ = std::strerror(errno);
    return;
  }
  // mkstemp makes the file private; the finished file gets the permissions
  // any new file of this process would get.
  ::fchmod(fd, 0666 & ~creation_mask());
  ::close(fd);
  temp_ = path.data();
  live_ = true;
  register_temporary(temp_);
  register_temporary(journal_of(temp_));
}

OutputFile::~OutputFile() {
  Discard();
}

void OutputFile::Discard() {
  if (!live_) return;
  live_ = false;
  ::unlink(temp_.c_str());
  ::unlink(journal_of(temp_).c_str());
  unregister_temporary(temp_);
  unregister_temporary(journal_of(temp_));
}

bool OutputFile::Commit() {
  if (!live_) return false;
  if (::rename(temp_.c_str(), target_.c_str()) != 0) {
    error_ = std::strerror(errno);
    Discard();
    return false;
  }
  live_ = false;
  unregister_temporary(temp_);
  unregister_temporary(journal_of(temp_));
  return true;
}

}  // namespace klvrip
