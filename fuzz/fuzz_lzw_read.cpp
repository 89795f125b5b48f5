// SPDX-License-Identifier: MIT
// Decodes arbitrary bytes as a compressed run through a memory stream, in
// pieces whose sizes come from the first input byte, then once more after a
// rewind and restart.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "klv/kernel_layers.h"
#include "klv/kernel_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t piece = size_t{1} << (data[0] % 17);  // 1 byte to 64 KiB
  SFilemux* mem = Omemopen(data + 1, size - 1);
  if (!mem) return 0;
  SLZW* lzw = LZWAttach(mem, 'r', 0);
  if (lzw) {
    std::vector<unsigned char> out(piece);
    size_t total = 0;
    // A run may expand a lot; stop well before the fuzzer's memory limit.
    while (total < (size_t{64} << 20)) {
      size_t n = LZWRead(lzw, out.data(), piece);
      total += n;
      if (n < piece) break;
    }
    if (Oseek(mem, 0, SEEK_SET) == 0 && LZWRestart(lzw) == 0) LZWRead(lzw, out.data(), piece);
    LZWDetach(lzw);
  }
  Oclose(mem);
  return 0;
}
