// SPDX-License-Identifier: MIT
#include "buffered_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace klvdrv {

LargeBlockPtr LargeBlock(size_t bytes) {
  constexpr size_t kHuge = size_t{2} << 20;
  const size_t size = (bytes + kHuge - 1) / kHuge * kHuge;
  LargeBlockPtr block(static_cast<uint8_t*>(std::aligned_alloc(kHuge, size)));
#ifdef MADV_HUGEPAGE
  if (block) madvise(block.get(), size, MADV_HUGEPAGE);
#endif
  return block;
}

TIFF* BufferedFile::OpenTiff(const std::string& path) {
  Close();
  // An older file of that name is emptied by the first write out (freeing
  // its pages can take a while: not on the caller's time when a worker
  // writes the pages).
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd_ < 0) return nullptr;
  pos_ = start_ = file_size_ = 0;
  used_ = 0;
  failed_ = false;
  empty_first_ = true;
  TIFF* tif = TIFFClientOpen(path.c_str(), "w", this, &ReadProc, &WriteProc, &SeekProc, &CloseProc,
                             &SizeProc, &MapProc, &UnmapProc);
  if (!tif) {
    Close();
    std::remove(path.c_str());
  }
  return tif;
}

bool BufferedFile::Empty() {
  if (!empty_first_) return true;
  empty_first_ = false;
  return ::ftruncate(fd_, 0) == 0;
}

bool BufferedFile::WriteAt(uint64_t offset, const uint8_t* data, size_t size) {
  if (!Empty()) return false;
  while (size > 0) {
    const ssize_t n = ::pwrite(fd_, data, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
    file_size_ = std::max(file_size_, offset);
  }
  return true;
}

bool BufferedFile::Flush() {
  if (fd_ < 0) return !failed_;
  if (!failed_ && !Empty()) failed_ = true;
  if (used_ > 0 && !failed_ && !WriteAt(start_, buffer_.get(), used_)) failed_ = true;
  used_ = 0;
  return !failed_;
}

bool BufferedFile::Close() {
  if (fd_ < 0) return !failed_;
  bool ok = Flush();
  if (::close(fd_) != 0) ok = false;
  fd_ = -1;
  return ok;
}

uint64_t BufferedFile::End() const {
  return std::max(file_size_, start_ + used_);
}

tmsize_t BufferedFile::Write(const uint8_t* data, size_t size) {
  if (failed_) return -1;
  // Only bytes that follow the buffer's join it.
  if (used_ > 0 && pos_ != start_ + used_ && !Flush()) return -1;
  // The buffer is made at the first write (by the thread that writes) and
  // kept for the next file.
  if (!buffer_) buffer_ = LargeBlock(kCapacity);
  if (!buffer_) {
    failed_ = true;
    return -1;
  }
  if (used_ + size > kCapacity && !Flush()) return -1;
  if (size >= kCapacity) {
    if (!WriteAt(pos_, data, size)) {
      failed_ = true;
      return -1;
    }
  } else {
    if (used_ == 0) start_ = pos_;
    std::memcpy(buffer_.get() + used_, data, size);
    used_ += size;
  }
  pos_ += size;
  return static_cast<tmsize_t>(size);
}

tmsize_t BufferedFile::ReadProc(thandle_t handle, void* data, tmsize_t size) {
  auto* f = static_cast<BufferedFile*>(handle);
  if (size < 0 || !f->Flush()) return -1;
  const ssize_t n = ::pread(f->fd_, data, static_cast<size_t>(size), static_cast<off_t>(f->pos_));
  if (n > 0) f->pos_ += static_cast<uint64_t>(n);
  return n;
}

tmsize_t BufferedFile::WriteProc(thandle_t handle, void* data, tmsize_t size) {
  if (size < 0) return -1;
  return static_cast<BufferedFile*>(handle)->Write(static_cast<const uint8_t*>(data),
                                                   static_cast<size_t>(size));
}

toff_t BufferedFile::SeekProc(thandle_t handle, toff_t offset, int whence) {
  auto* f = static_cast<BufferedFile*>(handle);
  switch (whence) {
    case SEEK_SET:
      f->pos_ = offset;
      break;
    case SEEK_CUR:
      f->pos_ += offset;
      break;
    case SEEK_END:
      f->pos_ = f->End() + offset;
      break;
    default:
      return static_cast<toff_t>(-1);
  }
  return f->pos_;
}

// The file is closed by Close (libtiff does not look at what this returns).
int BufferedFile::CloseProc(thandle_t) {
  return 0;
}

toff_t BufferedFile::SizeProc(thandle_t handle) {
  return static_cast<BufferedFile*>(handle)->End();
}

}  // namespace klvdrv
