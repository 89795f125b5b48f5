// SPDX-License-Identifier: MIT
// Screen file loaders on arbitrary bytes: the threshold arrays (8-bit and
// 16-bit) and the C record loaders.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "klv/halftone.h"
#include "klv/halftone_thresh.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/fuzz_htscreen_" + std::to_string(getpid()) + ".hts";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  uint32_t count = size ? data[0] % 14 : 0;
  {
    CHTThreshArray<unsigned short> a;
    a.Load(path.c_str(), count, size > 1 ? data[1] * 16u : 0);
    CHTThreshArray<unsigned char> b;
    b.Load(path.c_str(), count, 0);
  }
  free_htscreen(load_lntb_htscreen(nullptr, 0, int32_t(count), 65535, 1, path.c_str()));
  free_htwscreen(load_lntb_htwscreen(nullptr, 0, int32_t(count), 65535, 0, path.c_str()));
  free_htwscreen(load_htwscreen(int32_t(count), 4095, path.c_str()));
  std::remove(path.c_str());
  return 0;
}
