// SPDX-License-Identifier: MIT
// Fuzz target for the settings text reader: tokens, block moves, lists,
// values and a field table, over arbitrary bytes handed to the reader
// through an in-memory file.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "klv/kernel_settings.h"
#include "klv/kernel_stream.h"

namespace {

struct Rec {
  int32_t i;
  uint8_t b;
  double d;
  char s[8];
  SSTRAL* list;
};

const off_field kTable[] = {
    {"Byte", OFF_UINT8, 0, offsetof(Rec, b), 0, nullptr, nullptr},
    {"Double", OFF_DOUBLE, 0, offsetof(Rec, d), 0, nullptr, nullptr},
    {"Int", OFF_INT32, 0, offsetof(Rec, i), 0, nullptr, nullptr},
    {"List", OFF_STRAL, 0, offsetof(Rec, list), 0, nullptr, nullptr},
    {"Text", OFF_STRING, 0, offsetof(Rec, s), sizeof(Rec::s), nullptr, nullptr},
};

// One memory-backed file reused for every input, reached by its /proc path.
std::string memory_file(const uint8_t* data, size_t size) {
  static int fd = memfd_create("fuzz_settings_text", 0);
  if (fd < 0) return {};
  if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return {};
  return "/proc/self/fd/" + std::to_string(fd);
}

void walk_tokens(SFPARSE* fp) {
  char buf[64];
  for (int n = 0; n < 100000; ++n) {
    int32_t t = fp_get_token(fp, buf, sizeof buf);
    if (t == KLV_FP_END || t == KLV_FP_ERROR) break;
  }
}

void walk_values(SFPARSE* fp) {
  char buf[32];
  for (int n = 0; n < 10000; ++n) {
    int32_t t = fp_peek_token(fp, buf, sizeof buf);
    if (t == KLV_FP_END || t == KLV_FP_ERROR) break;
    if (t == KLV_FP_OPEN) {
      switch (n % 4) {
        case 0:
          stral_free(fp_get_list(fp));
          break;
        case 1: {
          char** list = get_char_list(fp, nullptr);
          free_char_list(list);
          break;
        }
        case 2: {
          double d;
          if (!fp_get_double(fp, &d)) fp_skip_value(fp);
          break;
        }
        default:
          if (!fp_get_string(fp, buf, sizeof buf)) fp_skip_value(fp);
          break;
      }
    } else if (t == KLV_FP_CLOSE) {
      fp_get_token(fp, nullptr, 0);
    } else if (!fp_open_block(fp, buf)) {
      fp_get_token(fp, nullptr, 0);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string path = memory_file(data, size);
  if (path.empty()) return 0;
  SFPARSE* fp = fp_open(nullptr, path.c_str(), 0);
  if (!fp) return 0;
  walk_tokens(fp);
  if (off_open_rec(fp, "Rec")) {
    Rec r{};
    off_load_struct(fp, kTable, static_cast<int32_t>(std::size(kTable)), &r);
    stral_free(r.list);
  }
  if (off_open_rec(fp, "Rec")) fp_close_block(fp);
  if (off_open_rec(fp, "Data")) walk_values(fp);
  fp_close(fp);
  return 0;
}
