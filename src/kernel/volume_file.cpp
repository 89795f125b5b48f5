// SPDX-License-Identifier: MIT
// Shared descriptors of volume files and the writer's lock (see volume_file.h).
#include "kernel/volume_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace klv::kernel {

// One host file open in this process.
struct VolumeFileEntry {
  std::pair<dev_t, ino_t> key;
  // The first descriptor is the one used; more appear only when a file was
  // replaced under its name while being opened, and are kept until the end
  // for the reason given in the header.
  std::vector<int> fds;
  int users = 0;
  bool writer = false;
};

namespace {

using Table = std::map<std::pair<dev_t, ino_t>, VolumeFileEntry*>;

// Guards the table and every entry in it.
std::mutex& table_mutex() {
  static std::mutex m;
  return m;
}

// Never destroyed, so that a volume left open at exit can still be closed.
Table& table() {
  static Table* t = new Table;
  return *t;
}

}  // namespace

std::unique_ptr<VolumeFile> VolumeFile::open(const std::string& file, bool create) {
  std::lock_guard<std::mutex> lock(table_mutex());
  auto& entries = table();
  // A file this process has open already is found by name first, so that no
  // second descriptor is opened (and later closed) for it.
  struct stat st;
  if (::stat(file.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      errno = EISDIR;
      return nullptr;
    }
    auto it = entries.find({st.st_dev, st.st_ino});
    if (it != entries.end()) {
      ++it->second->users;
      return std::unique_ptr<VolumeFile>(new VolumeFile(it->second));
    }
  }
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | (create ? O_CREAT : 0), 0666);
  if (fd < 0) return nullptr;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    int saved = S_ISDIR(st.st_mode) ? EISDIR : errno;
    ::close(fd);
    errno = saved;
    return nullptr;
  }
  VolumeFileEntry*& slot = entries[{st.st_dev, st.st_ino}];
  if (!slot) {
    slot = new VolumeFileEntry;
    slot->key = {st.st_dev, st.st_ino};
  }
  slot->fds.push_back(fd);
  ++slot->users;
  return std::unique_ptr<VolumeFile>(new VolumeFile(slot));
}

VolumeFile::~VolumeFile() {
  std::lock_guard<std::mutex> lock(table_mutex());
  if (writer_) {
    ::flock(entry_->fds.front(), LOCK_UN);
    entry_->writer = false;
  }
  if (--entry_->users > 0) return;
  for (int fd : entry_->fds) ::close(fd);
  table().erase(entry_->key);
  delete entry_;
}

int VolumeFile::fd() const {
  return entry_->fds.front();
}

bool VolumeFile::lock_writer() {
  std::lock_guard<std::mutex> lock(table_mutex());
  if (writer_) return true;
  if (entry_->writer) return false;
  if (::flock(entry_->fds.front(), LOCK_EX | LOCK_NB) != 0) return false;
  entry_->writer = writer_ = true;
  return true;
}

}  // namespace klv::kernel
