// SPDX-License-Identifier: MIT
// Fuzz target for the job settings reader and the processing record reader:
// arbitrary bytes read as a `Settings` file (plain or "ESET" enciphered), a
// `Default_Config` block, a `Printer_Sets` file and `Proc_Info` blocks; a
// record that was read is written again.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "klv/job_settings.h"
#include "klv/proc_info.h"

namespace {

// One memory-backed file reused for every input, reached by its /proc path.
std::string memory_file(const uint8_t* data, size_t size) {
  static int fd = memfd_create("fuzz_job_settings", 0);
  if (fd < 0) return {};
  if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return {};
  return "/proc/self/fd/" + std::to_string(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string path = memory_file(data, size);
  if (path.empty()) return 0;
  settings* s = settings_new();
  if (get_settings(path.c_str(), s)) settings_text_free(settings_text(s));
  if (get_setconfig(path.c_str(), s)) settings_text_free(settings_text(s));
  settings_free(s);
  free_psets(load_psets(nullptr, path.c_str()));
  free_psets(load_printer_settings(nullptr, path.c_str()));
  int32_t n = count_prtinfo(nullptr, path.c_str());
  for (int32_t i = 0; i < n && i < 4; ++i) {
    proc_info* r = proc_info_load(nullptr, path.c_str(), i);
    if (r) proc_info_text_free(proc_info_text(r));
    proc_info_free(r);
  }
  return 0;
}
