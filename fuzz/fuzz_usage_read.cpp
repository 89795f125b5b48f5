// SPDX-License-Identifier: MIT
// Fuzz target for the usage account reader: the input is loaded as a
// PrintUse.Info file; an account that loads is written back and read again,
// and must give the same text.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "klv/usage_cxx.h"

namespace {

std::string memory_file(const uint8_t* data, size_t size) {
  static int fd = memfd_create("fuzz_usage_read", 0);
  if (fd < 0) return {};
  if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return {};
  return "/proc/self/fd/" + std::to_string(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  setenv("KLV_LOG", "/dev/null", 0);
  const std::string path = memory_file(data, size);
  if (path.empty()) return 0;
  CPrintUsage usage;
  if (!usage.Load(path.c_str())) return 0;
  const std::string text = usage.Text();
  const std::string again = memory_file(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  CPrintUsage back;
  if (!back.Load(again.c_str()) || back.Text() != text) std::abort();
  return 0;
}
