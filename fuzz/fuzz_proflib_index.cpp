// SPDX-License-Identifier: MIT
// Reads arbitrary bytes as a profile library index ("!ProfLib.Index"); when
// they parse, the index is walked with lookups and written out again, and
// what was written must parse as well.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "klv/kernel_layers.h"
#include "klv/kernel_stream.h"
#include "klv/log.h"
#include "klv/proflib.h"

namespace {

// The index as the writer writes it, through a temporary host file.
std::string write_back(const PL_INDEX* index) {
  char path[] = "/tmp/fuzz_proflib_XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) return {};
  close(fd);
  std::string text;
  if (PL_index_save(nullptr, path, index) == PL_OK) {
    if (FILE* f = std::fopen(path, "rb")) {
      char buf[4096];
      size_t n;
      while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
      std::fclose(f);
    }
  }
  std::remove(path);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = [] {
    ErrorLogSetThreshold(KLV_LOG_ERROR + 1);
    return true;
  }();
  (void)quiet;
  if (size > (1u << 20)) return 0;
  PL_INDEX* index = PL_index_parse(reinterpret_cast<const char*>(data), static_cast<int32_t>(size));
  if (!index) return 0;
  SSTRAL* list = nullptr;
  if (PL_iget_profile_list(index, "", "", "", -1, &list) == PL_OK) {
    for (int32_t i = 0; i < stral_count(list) && i < 64; ++i) {
      char table[PL_FILE_MAX];
      PL_iget_profile_table(index, stral_str(list, i, 0), stral_str(list, i, 1),
                            stral_str(list, i, 2), PI_map_type(stral_str(list, i, 3)),
                            stral_str(list, i, 4), table);
      PL_iget_named_profile(index, stral_str(list, i, 0), "", "", 2, "", table);
    }
    stral_free(list);
  }
  SSTRAL* medias = nullptr;
  if (PL_iget_media_list(index, &medias) == PL_OK) stral_free(medias);
  const std::string text = write_back(index);
  PL_index_free(index);
  if (!text.empty()) {
    PL_INDEX* again = PL_index_parse(text.data(), static_cast<int32_t>(text.size()));
    if (!again) std::abort();  // what the writer wrote must read back
    PL_index_free(again);
  }
  return 0;
}
