// SPDX-License-Identifier: MIT
// Loads arbitrary bytes as a profile file through the shared cache.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "klv/img.h"
#include "klv/kernel_memres.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::string path = [] {
    char tmpl[] = "/tmp/klv-fuzz-profile-XXXXXX";
    int fd = mkstemp(tmpl);
    if (fd >= 0) close(fd);
    return std::string(tmpl);
  }();
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  image_profile* p = load_image_profile(nullptr, path.c_str());
  if (p) {
    if (p->size != size) std::abort();
    checkin_image_profile(p);
  }
  Memres_Flush();
  return 0;
}
