// SPDX-License-Identifier: MIT
// The file under a TIFF being written, kept behind a buffer of a few MB:
// libtiff appends each strip at the end of the file, so its many small
// writes reach the system as a few large ones (the page cache takes large
// writes at a fraction of the cost). A write anywhere else, a read or a
// flush first writes out what the buffer holds.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

namespace klvdrv {

// A block of memory for large buffers, in pages of 2 MB where the system
// gives them (a few page faults instead of hundreds), not zeroed.
struct FreeBlock {
  void operator()(uint8_t* p) const { std::free(p); }
};
using LargeBlockPtr = std::unique_ptr<uint8_t[], FreeBlock>;
LargeBlockPtr LargeBlock(size_t bytes);

class BufferedFile {
 public:
  ~BufferedFile() { Close(); }
  // Creates (or empties) `path` and opens a TIFF for writing over it; null
  // when the file cannot be created.
  TIFF* OpenTiff(const std::string& path);
  // Writes out the buffer; false when a write failed (now or before).
  bool Flush();
  // Flushes and closes; false when a write or the close failed.
  bool Close();

 private:
  static tmsize_t ReadProc(thandle_t handle, void* data, tmsize_t size);
  static tmsize_t WriteProc(thandle_t handle, void* data, tmsize_t size);
  static toff_t SeekProc(thandle_t handle, toff_t offset, int whence);
  static int CloseProc(thandle_t handle);
  static toff_t SizeProc(thandle_t handle);
  static int MapProc(thandle_t, void**, toff_t*) { return 0; }
  static void UnmapProc(thandle_t, void*, toff_t) {}
  tmsize_t Write(const uint8_t* data, size_t size);
  bool WriteAt(uint64_t offset, const uint8_t* data, size_t size);
  // Empties the file before its first write out.
  bool Empty();
  uint64_t End() const;

  static constexpr size_t kCapacity = size_t{4} << 20;
  int fd_ = -1;
  uint64_t pos_ = 0;        // where libtiff reads or writes next
  uint64_t start_ = 0;      // the file offset of buffer_'s first byte
  uint64_t file_size_ = 0;  // the bytes the file has been given
  LargeBlockPtr buffer_;
  size_t used_ = 0;
  bool failed_ = false;
  bool empty_first_ = false;
};

}  // namespace klvdrv
