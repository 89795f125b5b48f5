// SPDX-License-Identifier: MIT
// The host file under a volume, held open by this process for as long as any
// volume object uses it, and the writer's lock on it.
//
// Every volume object of the process that opens the same file (same device
// and inode) shares one descriptor. That matters because SQLite keeps its
// locks as POSIX record locks, and closing any descriptor of a file drops all
// of the process's record locks on it: a reader that opened and closed the
// file on its own would silently release the lock of a writer in the same
// process.
//
// A writer also takes flock(LOCK_EX) on the shared descriptor from open to
// close. On Linux flock locks and record locks do not interact, so this does
// not disturb SQLite; it closes the moment at VFlush where SQLite's write
// transaction commits and the next one begins, in which another writer could
// otherwise take SQLite's lock. Within the process the same rule is kept by a
// flag on the shared entry, since flock does not refuse its own holder.
#pragma once

#include <memory>
#include <string>

namespace klv::kernel {

struct VolumeFileEntry;

class VolumeFile {
 public:
  VolumeFile(const VolumeFile&) = delete;
  VolumeFile& operator=(const VolumeFile&) = delete;
  // Gives up the writer's lock, and closes the descriptor when no other
  // volume object of the process uses the file. Close the SQLite connection
  // on the file first.
  ~VolumeFile();

  // Opens `file`, making an empty one when it is missing and `create` is
  // set. Null on failure with errno set.
  static std::unique_ptr<VolumeFile> open(const std::string& file, bool create);

  // The shared read-only descriptor (for looking at the header).
  int fd() const;
  // Takes the writer's lock at once or gives false (another volume object or
  // another process writes the file).
  bool lock_writer();

 private:
  explicit VolumeFile(VolumeFileEntry* entry) : entry_(entry) {}
  VolumeFileEntry* entry_;
  bool writer_ = false;
};

}  // namespace klv::kernel
