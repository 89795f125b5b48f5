// SPDX-License-Identifier: MIT
// Fuzz target for the OCF description reader: arbitrary text read as an
// OCFImg block; a description that reads is written back and read again,
// and a stream is made over it, which describes the printed image without
// touching its (missing) source.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "klv/log.h"
#include "klv/ocfimg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = [] {
    ErrorLogSetThreshold(KLV_LOG_ERROR + 1);
    return true;
  }();
  (void)quiet;
  if (size > 65536) return 0;
  ocfi_info* r = parse_ocfi_info(reinterpret_cast<const char*>(data), int32_t(size));
  if (!r) return 0;
  const char* dir = std::getenv("TMPDIR");
  const std::string path =
      std::string(dir && *dir ? dir : "/tmp") + "/fuzz_ocf_read." + std::to_string(getpid());
  if (save_ocfi_info(nullptr, path.c_str(), r)) {
    // Fixed-point numbers may lose a value too small to show, so a written
    // file need not read back; it must not crash either way.
    free_ocfi_info(load_ocfi_info(nullptr, path.c_str()));
    std::remove(path.c_str());
  }
  // The source is never opened here: only the description is made.
  ocfimg* img = ocfimg_open_ex(nullptr, r, 0);
  if (img && !ocfimg_info(img)) std::abort();
  ocfimg_close(img);
  return 0;
}
