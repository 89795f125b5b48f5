// SPDX-License-Identifier: MIT
// The stream object behind an SFilemux handle. Host files, volume members,
// memory blocks and layers (compression, enciphering) derive from it; the O*
// functions in stream.cpp dispatch to it.
#pragma once

#include <cstdint>
#include <string>

#include "klv/kernel_path_cxx.h"
#include "klv/kernel_stream.h"

// Open mode decoded from a C mode string.
namespace klv::kernel {

struct OpenMode {
  bool read = false;
  bool write = false;
  bool create = false;    // create when missing
  bool truncate = false;  // empty an existing file
  bool append = false;    // every write goes to the end
  bool valid = false;
  // Parses "rb", "wb", "w+", "wt", "at", "rbp", "wbp", "w+tn", "r+b", ...
  static OpenMode parse(const char* mode);
};

}  // namespace klv::kernel

// The handle type of the C interface is the base class itself.
struct SFilemux {
  SFilemux() = default;
  SFilemux(const SFilemux&) = delete;
  SFilemux& operator=(const SFilemux&) = delete;
  virtual ~SFilemux() = default;

  // Bytes moved; fewer than asked at the end or on failure.
  virtual size_t read(void* buffer, size_t count) = 0;
  virtual size_t write(const void* buffer, size_t count) = 0;
  // origin 0/1/2 as SEEK_SET/SEEK_CUR/SEEK_END; false when the position is invalid.
  virtual bool seek(int64_t offset, int origin) = 0;
  virtual int64_t tell() = 0;
  virtual int64_t length() = 0;
  virtual bool flush() { return true; }
  // Finishes the stream (flushes, commits); false when data was lost. Called
  // once by Oclose before the object is deleted.
  virtual bool finish() { return flush(); }
  // One byte, or -1 at the end. Streams with their own buffer override this.
  virtual int getc() {
    unsigned char c;
    if (read(&c, 1) != 1) return -1;
    return c;
  }
  virtual SOVolume* volume() const { return nullptr; }
  // The whole stream as read-only memory, mapped once and kept until the
  // stream is closed: lets readers of uncompressed data hand it on without a
  // copy. Null (and *length untouched) when the stream cannot be mapped: not
  // a host file, opened for writing, or empty.
  virtual const uint8_t* map_all(int64_t* /*length*/) { return nullptr; }
  // Bytes [offset, offset + length) of the mapping are done with for now: the
  // memory they hold is given back and read again from the file when touched.
  virtual void release_map(int64_t /*offset*/, int64_t /*length*/) {}

  bool at_eof = false;  // a read came back short
};
