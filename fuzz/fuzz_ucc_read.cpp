// SPDX-License-Identifier: MIT
// Reads arbitrary bytes as a saved colour chain (either form), then saves
// what was read, reads that back, dumps it and frees it. Profile nodes need a
// running colour service and are dropped here; every other chunk body is read.
#include <cstddef>
#include <cstdint>

#include "klv/log.h"
#include "klv/ucc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const int quiet = ErrorLogSetThreshold(99);
  (void)quiet;
  t_ucc_node* chain = ucc_load_mem(data, size, nullptr);
  for (int form : {0, 1}) {
    void* saved = nullptr;
    size_t length = 0;
    if (ucc_save_mem(chain, form, &saved, &length)) {
      t_ucc_node* again = ucc_load_mem(saved, length, nullptr);
      free_ucc(again);
    }
    ucc_free_mem(saved);
  }
  char text[512];
  dump_ucc_ex(chain, text, sizeof text);
  free_ucc(chain);
  return 0;
}
