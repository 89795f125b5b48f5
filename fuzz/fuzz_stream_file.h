// SPDX-License-Identifier: MIT
// Shared driver of the fuzz targets whose readers open a file by name: the
// input is written to a file under TMPDIR, opened with the reader's opener,
// read to its end (bounded), sought to the last, the first and a middle line
// and read again, and closed.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "klv/img.h"

namespace fuzz {

struct StreamOps {
  const char* name;
  void* (*open)(const char* path, SOVolume* volume, const char* mode, image_info* info);
  int32_t (*read_line)(void* rec, uint8_t* buffer, int32_t count);
  int32_t (*seek_line)(void* rec, int32_t line, int32_t plane, int32_t page, int32_t whence);
  int32_t (*close)(void* rec);
  void (*extras)(void* rec);  // colour map, profile; may be null
};

inline int run_stream(const StreamOps& ops, const uint8_t* data, size_t size) {
  // A few hundred executions a second: an input may state at most 2^18
  // pixels, so no input costs more than decoding that many.
  static const bool limited = setenv("MaxImagePixels", "262144", 1) == 0;
  (void)limited;
  if (size > (1 << 20)) return 0;
  const char* dir = std::getenv("TMPDIR");
  const std::string path =
      std::string(dir && *dir ? dir : "/tmp") + "/" + ops.name + "." + std::to_string(getpid());
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  image_info info;
  init_image_info(&info);
  if (void* rec = ops.open(path.c_str(), nullptr, "rb", &info)) {
    if (info.bytes_per_line > 0 && info.bytes_per_line < (1u << 24) && info.height > 0) {
      std::vector<uint8_t> line(info.bytes_per_line);
      for (int32_t y = 0; y < info.height && y < 4096; ++y)
        if (ops.read_line(rec, line.data(), 1) != 1) break;
      for (int32_t to : {info.height - 1, 0, info.height / 2})
        if (ops.seek_line(rec, to, 0, 0, 0) >= 0) ops.read_line(rec, line.data(), 1);
    }
    if (ops.extras) ops.extras(rec);
    ops.close(rec);
  }
  std::remove(path.c_str());
  return 0;
}

}  // namespace fuzz
