// SPDX-License-Identifier: MIT
// Fuzz target for the printer description readers over settings text: the
// Printer_Info block (with DotInfo and ScreenSetup), the printer types list,
// the client list and a repository link, all read from the same bytes.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "klv/kernel_settings.h"
#include "klv/prntinfo.h"

namespace {

std::string memory_file(const uint8_t* data, size_t size) {
  static int fd = memfd_create("fuzz_printer_files", 0);
  if (fd < 0) return {};
  if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return {};
  return "/proc/self/fd/" + std::to_string(fd);
}

// A folder whose Info/Printer.RepLink is the input.
std::string link_folder(const uint8_t* data, size_t size) {
  static std::string folder = [] {
    std::string f =
        std::filesystem::temp_directory_path() / ("fuzz_printer_files_" + std::to_string(getpid()));
    std::filesystem::create_directories(f + "/Info");
    return f;
  }();
  FILE* f = std::fopen((folder + "/Info/Printer.RepLink").c_str(), "wb");
  if (!f) return {};
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  setenv("KLV_LOG", "/dev/null", 0);
  const std::string path = memory_file(data, size);
  if (path.empty()) return 0;

  if (PRNTINFOEX* info = prntinfoex_load(nullptr, path.c_str())) {
    prntinfoex_nearest_res(info, "720x720");
    prntinfoex_nearest_pagesize(info, 8.5, 11);
    PRNTINFOEX* copy = prntinfoex_copy(info);
    prntinfoex_free(copy);
    prntinfoex_free(info);
  }
  if (SSTRAL* types = prntdevs_load(nullptr, path.c_str())) stral_free(types);
  if (PRNTCLNT* client = prntclnt_load(nullptr, path.c_str())) prntclnt_free(client);
  if (SFPARSE* fp = fp_open(nullptr, path.c_str(), 0)) {
    _SCREENSETUP* list = nullptr;
    get_screen_settings(fp, &list);
    free_screen_settings(list);
    fp_close(fp);
  }
  const std::string folder = link_folder(data, size);
  if (!folder.empty()) {
    static char out[4][KLV_PATH_MAX];
    get_common_links(folder.c_str(), out[0], out[1], out[2], out[3]);
  }
  return 0;
}
