// SPDX-License-Identifier: MIT
// A host file behind an SFilemux, on a POSIX descriptor with one buffer of its
// own. Small reads and writes (headers, Ogetc, settings text) go through the
// buffer; large ones (image rows, strips, whole blocks) move straight between
// the caller's memory and the file, so that bulk data is copied only by the
// kernel. Seeks inside the bytes already read are served from the buffer.
#include "kernel/host_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "klv/log.h"

namespace klv::kernel {
namespace {

constexpr size_t kBufferSize = size_t{64} << 10;
// Reads and writes of at least this many bytes bypass the buffer.
constexpr size_t kDirect = size_t{16} << 10;

class HostFile final : public SFilemux {
 public:
  HostFile(int fd, bool append, bool writable) : fd_(fd), append_(append), writable_(writable) {}
  ~HostFile() override {
    unmap();
    if (fd_ >= 0) {
      flush_writes();
      ::close(fd_);
    }
  }

  // Files opened for reading only are mapped shared and read-only, so the
  // pages are the page cache's own. The length is taken at mapping time;
  // callers check every range against it, so a lying header cannot reach
  // past the mapping.
  const uint8_t* map_all(int64_t* length) override {
    if (map_) {
      *length = map_len_;
      return map_;
    }
    if (writable_ || fd_ < 0 || map_failed_) return nullptr;
    struct stat st;
    if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) {
      map_failed_ = true;
      return nullptr;
    }
    void* p = ::mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_SHARED, fd_, 0);
    if (p == MAP_FAILED) {
      map_failed_ = true;
      return nullptr;
    }
    map_ = static_cast<const uint8_t*>(p);
    map_len_ = st.st_size;
    *length = map_len_;
    return map_;
  }

  size_t read(void* buffer, size_t count) override {
    if (!leave_writing()) return 0;
    auto* out = static_cast<uint8_t*>(buffer);
    size_t done = take_buffered(out, count);
    if (done == count) return done;
    if (count - done >= kDirect) {
      rpos_ = rend_ = 0;  // the buffer no longer ends at the descriptor's position
      const size_t n = read_fd(out + done, count - done);
      return done + n;
    }
    while (done < count) {
      if (!fill()) break;
      done += take_buffered(out + done, count - done);
    }
    return done;
  }

  size_t write(const void* buffer, size_t count) override {
    if (error_ || !leave_reading()) return 0;
    const auto* in = static_cast<const uint8_t*>(buffer);
    if (wlen_ + count <= kBufferSize && count < kDirect) {
      if (!buf_ && !(buf_ = alloc_buffer())) return 0;
      std::memcpy(buf_.get() + wlen_, in, count);
      wlen_ += count;
      return count;
    }
    if (!flush_writes()) return 0;
    if (count >= kDirect) return write_fd(in, count);
    if (!buf_ && !(buf_ = alloc_buffer())) return 0;
    std::memcpy(buf_.get(), in, count);
    wlen_ = count;
    return count;
  }

  bool seek(int64_t offset, int origin) override {
    int64_t target = 0;
    switch (origin) {
      case SEEK_SET:
        target = offset;
        break;
      case SEEK_CUR:
        target = tell() + offset;
        break;
      case SEEK_END: {
        const int64_t len = length();
        if (len < 0) return false;
        target = len + offset;
        break;
      }
      default:
        return false;
    }
    if (target < 0) return false;
    // A seek that lands inside the bytes already read only moves in the buffer.
    const int64_t buffered_start = fd_pos_ - static_cast<int64_t>(rend_);
    if (rend_ > 0 && target >= buffered_start && target <= fd_pos_) {
      rpos_ = static_cast<size_t>(target - buffered_start);
      return true;
    }
    if (!flush_writes()) return false;
    rpos_ = rend_ = 0;
    if (::lseek(fd_, target, SEEK_SET) < 0) return false;
    fd_pos_ = target;
    return true;
  }

  int64_t tell() override {
    return fd_pos_ - static_cast<int64_t>(rend_ - rpos_) + static_cast<int64_t>(wlen_);
  }

  int64_t length() override {
    if (!flush_writes()) return -1;
    struct stat st;
    if (fstat(fd_, &st) != 0) return -1;
    return st.st_size;
  }

  void release_map(int64_t offset, int64_t length) override {
    if (!map_ || offset < 0 || length <= 0 || offset >= map_len_) return;
    const int64_t page = ::sysconf(_SC_PAGESIZE);
    const int64_t first = (offset + page - 1) / page * page;
    const int64_t end = std::min(offset + length, map_len_) / page * page;
    if (end > first)
      ::madvise(const_cast<uint8_t*>(map_) + first, size_t(end - first), MADV_DONTNEED);
  }

  bool flush() override { return flush_writes() && !error_; }

  bool finish() override {
    unmap();
    bool ok = flush_writes() && !error_;
    ok = (::close(fd_) == 0) && ok;
    fd_ = -1;
    return ok;
  }

  int getc() override {
    if (rpos_ < rend_) return buf_[rpos_++];
    if (!leave_writing() || !fill()) return -1;
    return buf_[rpos_++];
  }

 private:
  void unmap() {
    if (map_) ::munmap(const_cast<uint8_t*>(map_), size_t(map_len_));
    map_ = nullptr;
    map_len_ = 0;
  }

  static std::unique_ptr<uint8_t[]> alloc_buffer() {
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[kBufferSize]);
  }

  size_t take_buffered(uint8_t* out, size_t count) {
    const size_t n = std::min(count, rend_ - rpos_);
    if (n) {
      std::memcpy(out, buf_.get() + rpos_, n);
      rpos_ += n;
    }
    return n;
  }

  // Refills the read buffer at the descriptor's position; false at the end.
  bool fill() {
    if (!buf_ && !(buf_ = alloc_buffer())) return false;
    rpos_ = rend_ = 0;
    rend_ = read_fd(buf_.get(), kBufferSize);
    return rend_ > 0;
  }

  size_t read_fd(uint8_t* out, size_t count) {
    size_t done = 0;
    while (done < count) {
      const ssize_t n = ::read(fd_, out + done, count - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    fd_pos_ += static_cast<int64_t>(done);
    return done;
  }

  size_t write_fd(const uint8_t* in, size_t count) {
    size_t done = 0;
    while (done < count) {
      const ssize_t n = ::write(fd_, in + done, count - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        error_ = true;
        break;
      }
      done += static_cast<size_t>(n);
    }
    // Appending writes land at the end, wherever the position was.
    if (append_) {
      const off_t at = ::lseek(fd_, 0, SEEK_CUR);
      if (at >= 0) fd_pos_ = at;
    } else {
      fd_pos_ += static_cast<int64_t>(done);
    }
    return done;
  }

  bool flush_writes() {
    if (wlen_ == 0) return true;
    const size_t n = wlen_;
    wlen_ = 0;
    return write_fd(buf_.get(), n) == n;
  }

  // Before reading: pending writes go to the file.
  bool leave_writing() { return flush_writes(); }

  // Before writing: read-ahead is dropped and the descriptor put back at the
  // logical position.
  bool leave_reading() {
    if (rend_ == 0) return true;
    const int64_t pos = tell();
    rpos_ = rend_ = 0;
    if (::lseek(fd_, pos, SEEK_SET) < 0) return false;
    fd_pos_ = pos;
    return true;
  }

  int fd_;
  bool append_;
  bool writable_;
  bool map_failed_ = false;
  const uint8_t* map_ = nullptr;
  int64_t map_len_ = 0;
  bool error_ = false;  // a write failed; finish() reports it
  int64_t fd_pos_ = 0;  // the descriptor's position
  std::unique_ptr<uint8_t[]> buf_;
  size_t rpos_ = 0, rend_ = 0;  // unread bytes buf_[rpos_, rend_) end at fd_pos_
  size_t wlen_ = 0;             // pending bytes buf_[0, wlen_) go at fd_pos_
};

}  // namespace

SFilemux* open_host_file(const char* path, const OpenMode& mode) {
  std::string host = host_path(path);
  int flags = O_CLOEXEC;
  const char* cmode = nullptr;
  if (mode.append) {
    cmode = mode.read ? "a+b" : "ab";
    flags |= (mode.read ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND;
  } else if (mode.truncate) {
    cmode = mode.read ? "w+b" : "wb";
    flags |= (mode.read ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC;
  } else {
    cmode = mode.write ? "r+b" : "rb";
    flags |= mode.write ? O_RDWR : O_RDONLY;
  }
  int fd = ::open(host.c_str(), flags, 0666);
  if (fd < 0) {
    // A missing file opened for reading is an ordinary answer, not worth a warning.
    if (!(errno == ENOENT && !mode.write))
      KLV_LOG(KLV_LOG_WARNING, "cannot open \"%s\" (%s): %s", host.c_str(), cmode,
              std::strerror(errno));
    return nullptr;
  }
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    KLV_LOG(KLV_LOG_WARNING, "cannot open \"%s\": it is a folder", host.c_str());
    return nullptr;
  }
  auto* file =
      new (std::nothrow) HostFile(fd, mode.append, mode.write || mode.append || mode.truncate);
  // Like C's append modes: the position starts at the end.
  if (file && mode.append) file->seek(0, SEEK_END);
  if (!file) ::close(fd);
  return file;
}

}  // namespace klv::kernel
